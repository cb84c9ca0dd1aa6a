// What the simulator's reader makes of one telemetry.json: whether it is a complete, valid
// document (the same rules as docs/telemetry.schema.json, plus the single line feed at the
// end), and the few values it prints.
#ifndef QAV_TOOLS_HOSTSIM_DOCUMENT_H
#define QAV_TOOLS_HOSTSIM_DOCUMENT_H

#include <cstdint>
#include <string>

struct DocumentView {
    uint32_t pid = 0;
    uint64_t written = 0;      // the writer's tick, ms
    bool paused = false;
    uint32_t gameTime = 0;     // as the host delivered it
    double x = 0, y = 0, z = 0; // NaN where the document has null
    double speed = 0;          // m/s, NaN for null
    bool hasJob = false;
    std::string cargo, sourceCity, destinationCity;
    std::string lastEvent;
    uint32_t eventSeq = 0;
};

// True when `bytes` is a valid document; otherwise `why` says what is wrong with it.
bool check_document(const std::string& bytes, DocumentView* view, std::string* why);

#endif
