// Renders through the document writer into memory, for tests and benchmarks that take the
// bytes without going through a file (native builds only: it uses POSIX open_memstream).
#ifndef QAV_SUPPORT_RENDER_H
#define QAV_SUPPORT_RENDER_H

#include "output/json_out.h"
#include "output/snapshot.h"

#include <cstdio>
#include <cstdlib>
#include <string>

// Renders what `write` produces through a JsonOut into a string.
template <typename F> std::string render_to_string(F write)
{
    char* data = nullptr;
    size_t size = 0;
    std::FILE* f = open_memstream(&data, &size);
    JsonOut out;
    json_begin(&out, f);
    write(&out);
    json_end(&out);
    std::fclose(f);
    std::string s(data, size);
    std::free(data);
    return s;
}

// The document `state` gives, as a write by process `pid` at tick `tick` renders it.
inline std::string snapshot_text(const TelemetryState& state, uint32_t pid, uint64_t tick)
{
    return render_to_string([&](JsonOut* out) { render_snapshot(out, &state, pid, tick); });
}

#endif
