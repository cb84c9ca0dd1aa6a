// The snapshot document and its publication: render the whole record, write it beside
// telemetry.json, then rename it over the old document so a reader only ever finds a
// complete one.
#ifndef QAV_OUTPUT_SNAPSHOT_H
#define QAV_OUTPUT_SNAPSHOT_H

#include "output/json_out.h"
#include "state/telemetry_state.h"

// Writes the document for `state` as one line ended by a line feed.
void render_snapshot(JsonOut* out, const TelemetryState* state, uint32_t pid, uint64_t tick);

// Renders g_state into tempPath and moves it over finalPath. Returns true only when the new
// document was published. A document that could not be written whole (no file, a full disk,
// a failed close) is never moved over the previous one. One attempt: the frame-end writes use
// this, and the next paced write, at most a second later, publishes whatever this one missed.
bool write_snapshot();

// The same, for a document a reader must not miss: a pause, a start, the load and the
// closing document, after which no frame end may come for a long time, or ever. On Windows
// a reader that has telemetry.json open for its read makes the rename fail, whatever
// sharing it asked for; the finished temporary file is then moved again after a short wait,
// a few times within about REPLACE_BUDGET_MS, then left as it is.
bool write_snapshot_retrying();

enum {
    REPLACE_TRIES = 6,      // renames at most, the first included
    REPLACE_WAIT_MS = 3,    // between two renames: longer than one read of a small file
    REPLACE_BUDGET_MS = 20, // no new try once this much time has passed since the first
};

#endif
