// The straightforward way a plug-in author might publish the same document, kept only as the
// yardstick QAV's writer is measured against: build a std::string with a string stream, write
// it with a file stream, and rename it with std::filesystem.
#ifndef QAV_BENCH_NAIVE_WRITER_H
#define QAV_BENCH_NAIVE_WRITER_H

#include "state/telemetry_state.h"

#include <string>

std::string naive_render(const TelemetryState& state, uint32_t pid, uint64_t tick);

// Writes `doc` to `temp` and renames it over `final`; false when either step failed.
bool naive_publish(const std::string& doc, const std::string& temp, const std::string& final);

#endif
