// The parts of the simulator that run together: the player, which is the host (it loads the
// plug-in and makes the scenario's calls 60 times a second), and the reader, which watches
// telemetry.json from a thread of its own the way a companion application would.
#ifndef QAV_TOOLS_HOSTSIM_HOSTSIM_H
#define QAV_TOOLS_HOSTSIM_HOSTSIM_H

#include "support/document.h"
#include "support/os.h"
#include "support/reader.h"
#include "tools/hostsim/scenario.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum { CALL_KINDS = (int)Call::shutdown + 1 };

// What the player and the reader share; every member below `start_us` is guarded by os_lock.
struct Session {
    uint64_t start_us = 0;                   // when the simulator began, before the load
    uint64_t last_call_us[CALL_KINDS] = {};  // when the player last made each kind of call
};

// Prints one line "   12.345  SOURCE  TEXT" with the time since start; takes the lock.
void say(const Session* session, const char* source, const std::string& text);
// The same, for callers that already hold the lock.
void say_locked(const Session* session, const char* source, const std::string& text);

struct Revision {
    uint64_t at_us;     // when the reader first saw it
    std::string cause;  // "load", "paced", "started", "paused", "job", "no job", "event", "closing"
    int call;           // the Call that caused it, or -1 for load and paced revisions
    double delay;       // seconds from that call to the revision; from the previous revision
                        // for a paced one; 0 for the first
    DocumentView view;
};

struct Reader {
    std::FILE* record = nullptr; // every revision's bytes, one document a line
    Session* session = nullptr;
    std::atomic<bool> stop{false};
    bool busy = false; // read at every poll, changed or not, as a careless reader does

    // Touched by the reader thread while it runs, by the player only before and after.
    DocumentWatch watch; // telemetry.json, and the looks and reads it took
    std::vector<Revision> revisions;
    std::vector<std::string> problems; // the first few unreadable or invalid documents
    uint64_t sharing = 0, missing = 0, failed = 0, invalid = 0;
};

// Looks whether the file changed and if so reads it, well-behaved; prints and keeps a new
// revision. `force` reads even when the file looks unchanged.
void reader_poll(Reader* reader, bool force = false);
// The reader thread's loop: a read every few milliseconds until `stop`.
void reader_run(void* reader);

struct PlayResult {
    int init_result = 0;
    std::vector<uint32_t> frame_us; // time spent inside the plug-in, per frame
    uint64_t frames = 0, late_frames = 0, dropped_frames = 0;
    uint64_t replace_failures = 0; // calls after which telemetry.json.tmp stayed behind
    double seconds = 0;       // from load to shutdown, wall clock
};

// Loads the plug-in, plays the scenario in real time with the reader running beside it,
// shuts the plug-in down and unloads it.
bool play(const Scenario& scenario, const std::string& plugin, Session* session, Reader* reader,
          PlayResult* result, std::string* error);

#endif
