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
// a failed close) is never moved over the previous one.
bool write_snapshot();

#endif
