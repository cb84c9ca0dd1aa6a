// The one judge of a telemetry.json, for hostsim, every test program and the fuzzer: strict
// JSON (valid UTF-8, no NaN, nothing after the document), one line ended by a single line
// feed, every member in its place with the type and the limits docs/telemetry.schema.json
// gives. It also hands out the values a reader shows.
#ifndef QAV_SUPPORT_DOCUMENT_H
#define QAV_SUPPORT_DOCUMENT_H

#include <cstdint>
#include <string>

struct DocumentView {
    uint32_t pid = 0;
    uint64_t written = 0;       // the writer's tick, ms
    bool paused = false;
    uint32_t gameTime = 0;      // as the host delivered it
    double x = 0, y = 0, z = 0; // NaN where the document has null
    double speed = 0;           // m/s, NaN for null
    bool hasJob = false;
    std::string cargo, sourceCity, destinationCity; // empty without a job
    std::string lastEvent;
    uint32_t eventSeq = 0;
};

// "" when `bytes` is one valid document, and then `view` (when given) holds its values;
// otherwise what is wrong with it.
std::string document_problem(const std::string& bytes, DocumentView* view = nullptr);

// The `written` member of a valid document, 0 for anything else.
uint64_t document_written(const std::string& bytes);

#endif
