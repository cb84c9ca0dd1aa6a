// How a companion application should read telemetry.json, and what hostsim's reader and the
// tests do: look at the file's stamp (last-write time, size, identity) every few milliseconds,
// which opens nothing; only when it changed, open the file with every sharing mode, read it
// whole and close it at once. A sharing violation or a missing file is simply tried again at
// the next look. Every open is a moment in which the plug-in's rename over the file may fail
// on Windows, so a reader that opens only on a change costs the plug-in nothing while the
// document stays the same.
#ifndef QAV_SUPPORT_READER_H
#define QAV_SUPPORT_READER_H

#include "support/os.h"

#include <cstdint>
#include <string>

// The largest document is 6852 bytes; a reader reads into 8 KiB, and anything longer is not
// a document.
enum { DOCUMENT_READ_LIMIT = 8 * 1024 };

enum class WatchResult {
    unchanged, // the stamp is the same: nothing was opened
    missing,   // no file (yet, or between a delete and a rename): look again
    sharing,   // the file is held without sharing it: look again
    failed,    // the read failed
    not_file,  // a directory, a FIFO or a device is at the path: nothing was read
    same,      // read, but the bytes are those already seen
    changed,   // a new document is in `bytes` (it may still be invalid: check it)
};

struct DocumentWatch {
    std::string path;      // telemetry.json
    FileStamp stamp{};     // of the document last read
    bool seen = false;     // a document was read
    std::string bytes;     // the document last read
    uint64_t checks = 0;   // looks at the stamp
    uint64_t reads = 0;    // opens tried
    WatchResult last = WatchResult::missing; // what the last look found
};

// One look at the file. `force` reads it even when its stamp has not changed.
WatchResult watch_document(DocumentWatch* watch, bool force);

// The whole file, for tests that compare bytes: "<missing>" when it cannot be read.
std::string read_document(const std::string& path);

#endif
