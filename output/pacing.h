// When the snapshot is written while the game runs. The host's frame-end event is the only
// clock: about once a second while only continuous values change, within a quarter of a
// second of a job or gameplay change, and at once on pause and start.
#ifndef QAV_OUTPUT_PACING_H
#define QAV_OUTPUT_PACING_H

#include "host/scs_host.h"

enum {
    PACING_FAST_MS = 250,  // after a job or gameplay change
    PACING_SLOW_MS = 1000, // while only game time, position and speed move
};

void QAV_HOSTAPI on_frame_end(uint32_t event, const void* info, void* context);
void QAV_HOSTAPI on_pause_change(uint32_t event, const void* info, void* context);

#endif
