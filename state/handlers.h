// The callbacks that fill the record from the host: three channels that only store, and the
// job and gameplay events, which also mark the record as changed so the pacing publishes
// them quickly. None of them writes a snapshot.
#ifndef QAV_STATE_HANDLERS_H
#define QAV_STATE_HANDLERS_H

#include "host/scs_host.h"

void QAV_HOSTAPI on_game_time(const char* name, uint32_t index, const HostValue* value,
                              void* context);
void QAV_HOSTAPI on_truck_placement(const char* name, uint32_t index, const HostValue* value,
                                    void* context);
void QAV_HOSTAPI on_truck_speed(const char* name, uint32_t index, const HostValue* value,
                                void* context);

void QAV_HOSTAPI on_configuration(uint32_t event, const void* info, void* context);
void QAV_HOSTAPI on_gameplay_event(uint32_t event, const void* info, void* context);

#endif
