// The parts of the simulator: the player, which is the host (it loads the plug-in and makes
// the scenario's calls 60 times a second); the reader, which watches telemetry.json from a
// thread of its own the way a companion application would; the watch, which follows a real
// host's file with the C reader; and the replay, which publishes a recording's documents again.
#ifndef QAV_TOOLS_HOSTSIM_HOSTSIM_H
#define QAV_TOOLS_HOSTSIM_HOSTSIM_H

#include "support/document.h"
#include "support/host_model.h"
#include "support/os.h"
#include "support/reader.h"
#include "tools/hostsim/scenario.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// How every mode ends; the usage text lists them from EXIT_MEANINGS.
enum ExitStatus { EXIT_OK = 0, EXIT_USAGE = 1, EXIT_LOAD = 2, EXIT_DOCUMENTS = 3, EXIT_INTERRUPTED = 130 };
struct ExitMeaning {
    ExitStatus status;
    const char* meaning;
};
extern const ExitMeaning EXIT_MEANINGS[5];

// `v` with `decimals` digits after the point, or in its shortest exact form when `decimals`
// is negative: the one way hostsim prints a number.
std::string number(double v, int decimals = -1);

// Text as a console can show it: host text and scenario lines may hold control bytes on
// purpose, and each is written \xHH.
std::string escaped(const std::string& s);

// Writes `bytes` whole into `file` and closes it: "" when both worked, else why not, in the
// system's words. A full disk may show only at the close, when the buffer goes out.
std::string write_and_close(std::FILE* file, const std::string& bytes);

// Ctrl+C presses (and SIGTERM, SIGHUP...) so far; the first ends a drive, a watch or a replay
// in good order, the second at once. `g_interrupted_by` names the first.
extern std::atomic<int> g_interrupts;
extern std::atomic<const char*> g_interrupted_by;

// What the player and the reader share; every member below `start_us` is guarded by os_lock.
// The ticks are the writer's clock (os_tick_ms), so they compare with a document's `written`.
struct Session {
    uint64_t start_us = 0;                   // when the simulator began, before the load
    uint32_t host_pid = 0;                   // our own process: the host whose plug-in is judged
    uint64_t last_call_us[CALL_KINDS] = {};  // when the player last made each kind of call
    uint64_t unpublished_us[CALL_KINDS] = {}; // the first job or event call no document has
                                              // shown yet, 0 when none waits
    uint64_t load_tick = 0;        // just before scs_telemetry_init; 0 in a watch
    uint64_t loaded_tick = 0;      // just after it: the load document was written in between
    uint64_t first_frame_tick = 0; // just after the first frame end, 0 before
    uint64_t shutdown_tick = 0;    // just before the shutdown, 0 before
};

// Prints one line "   12.345  SOURCE  TEXT" with the time since start; takes the lock.
void say(const Session* session, const char* source, const std::string& text);
// The same, for callers that already hold the lock.
void say_locked(const Session* session, const char* source, const std::string& text);

// Why a document was written, as the reader tells it; one document may have several causes
// (a pause that also published a waiting event), so a revision holds a set of them. The first
// ten are a drive's; the rest stand alone.
enum Cause : uint32_t {
    CAUSE_LOAD = 1u << 0,         // written inside scs_telemetry_init
    CAUSE_FIRST_FRAME = 1u << 1,  // the first frame end's write
    CAUSE_PACED = 1u << 2,        // the once-a-second write
    CAUSE_FOLLOW_UP = 1u << 3,    // the frame-end write after a pause or start that published
    CAUSE_STARTED = 1u << 4,
    CAUSE_PAUSED = 1u << 5,
    CAUSE_JOB = 1u << 6,
    CAUSE_NO_JOB = 1u << 7,
    CAUSE_EVENT = 1u << 8,
    CAUSE_CLOSING = 1u << 9,
    CAUSE_FIRST = 1u << 10,        // a watch's first document of a session
    CAUSE_INVALID = 1u << 11,      // refused by the document check
    CAUSE_LEFT_OVER = 1u << 12,    // written before this run's load
    CAUSE_OTHER_WRITER = 1u << 13, // another process's
};
enum { DRIVE_CAUSES = 10 }; // the bits a drive's summary counts, from CAUSE_LOAD up
typedef uint32_t Causes;

// A set of causes as the table and a recording show it: "closing+event", "paused+no job".
std::string cause_text(Causes causes);
// The name of one cause.
const char* cause_name(Cause cause);

struct Revision {
    uint64_t at_us;     // when the reader first saw it
    Causes causes;      // why it was written
    int call;           // the Call whose delay is shown, or -1 for the frame-end writes and load
    uint64_t since_us;  // when that call was made
    bool closing;       // the plug-in's closing document, told by its content
    double delay;       // seconds from that call to the revision; for a frame-end write, from
                        // the previous document by its `written`; 0 for the first
    DocumentView view;
};

// Whether a document looks like the plug-in's closing one: game.closed, paused, no job. The
// shape alone; whether it is the closing one depends on what came before and after it.
bool closing_shape(const DocumentView& v);
// Whether it is the plug-in's first document after a load: paused, game time 0, no job, no
// event yet.
bool load_shape(const DocumentView& v);

// Why one of this run's documents was written, told from what changed since `previous` (null
// for the first) and from when the player made its calls; fills causes, call and closing.
// `awaiting_frame` carries over between documents: a pause or start wrote a job or event
// change, so the plug-in writes once more at a frame end about 250 ms later.
void explain(Session* session, const Revision* previous, Revision* r, bool* awaiting_frame);

// A recording being written (--record), kept in a temporary file beside its own until it is
// whole; recording.cpp alone knows the format.
struct Recording;
// A file a recording must never replace, and what it is, as a refusal names it.
struct KeptFile {
    std::string path;
    const char* what;
};
// Refuses `path` when it is one of `keep`, a folder, or an existing file that is not a
// recording (an empty one is fine), saying why in `error`; else starts the recording.
Recording* recording_open(const std::string& path, const std::vector<KeptFile>& keep,
                          std::string* error);
// One line: when the reader saw the document, why it was written, its bytes exactly.
void record_document(Recording* recording, double seconds, const std::string& cause,
                     const std::string& bytes);
// Ends the recording. With `keep` it replaces its file, and the answer is "" or why the
// recording is incomplete (the file is then left as it was); without, it is discarded.
std::string recording_close(Recording* recording, bool keep);

// One line of a recording as read back.
struct Recorded {
    double at;            // seconds, as recorded
    std::string cause;
    std::string document; // the bytes to publish
};
struct RecordingError {
    int line = 0; // from 1
    std::string message;
};
// Parses a recording's text; blank lines are skipped. False with the first wrong line.
bool parse_recording(const std::string& text, std::vector<Recorded>* out, RecordingError* error);
// The same from a file, saying on stderr what is wrong.
bool read_recording(const std::string& path, std::vector<Recorded>* out);
// The document with its `pid` and `written` set to these; every other byte kept.
std::string restamp(const std::string& document, uint32_t pid, uint64_t tick);
// Why a recording cannot be restamped, or "": restamped, every document is this process's,
// so a reader tells a new session only by its load document. A recording whose later sessions
// each begin with theirs keeps them apart; one where a session begins without it (a watch that
// came in late) or where two hosts' documents alternate would run them into one.
std::string restamp_problem(const std::vector<Recorded>& docs);
// Whether two paths name one file: by identity where either exists, else by folder and name.
bool same_file(const std::string& a, const std::string& b);

struct Reader {
    Recording* record = nullptr; // every revision, one JSON line each
    Session* session = nullptr;
    std::atomic<bool> stop{false};
    bool busy = false;     // read at every poll, changed or not, as a careless reader does

    // Touched by the reader thread while it runs, by the player only before and after.
    DocumentWatch watch; // telemetry.json, and the looks and reads it took
    std::vector<Revision> revisions;
    std::vector<std::string> problems; // the first few unreadable or invalid documents
    uint64_t sharing = 0, missing = 0, failed = 0, invalid = 0;
    bool awaiting_frame = false;       // see explain()
    uint64_t left_over = 0;            // documents from before this run's load
    std::vector<std::pair<uint32_t, uint64_t>> others; // another writer's pid, its documents
};

// Looks whether the file changed and if so reads it, well-behaved; prints and keeps a new
// revision. `force` reads even when the file looks unchanged.
void reader_poll(Reader* reader, bool force = false);
// The reader thread's loop: a read every few milliseconds until `stop`.
void reader_run(void* reader);

struct PlayResult {
    int init_result = 0;
    bool crashed = false;     // the scenario ended in a crash: no closing document is due
    const char* interrupted = nullptr; // what ended the drive early, with a shutdown: "Ctrl+C",
                                       // "SIGTERM"...; null when the scenario ran to its end
    std::vector<uint32_t> frame_us; // time spent inside the plug-in, per frame
    uint64_t frames = 0, late_frames = 0, dropped_frames = 0;
    uint64_t replace_failures = 0; // calls after which telemetry.json.tmp stayed behind whole:
                                   // the rename over telemetry.json failed
    uint64_t write_failures = 0;   // calls after which it stayed behind cut short: the write
                                   // failed
    std::string write_problem;     // why the first write failed, in the system's words
    double seconds = 0;       // from load to shutdown, wall clock
};

// Initializes the loaded plug-in, plays the scenario in real time with the reader running
// beside it, then shuts the plug-in down and unloads it, or after a crash leaves it be.
bool play(const Scenario& scenario, HostPlugin* library, const std::string& plugin,
          Session* session, Reader* reader, PlayResult* result, std::string* error);

struct ReplayOptions {
    std::string recording;
    std::string to;        // the folder to publish into; the data folder when not given
    bool to_given = false; // so that --to "" is refused, not taken for the data folder
    bool restamp = false;  // each document's pid and written made this process's and now
    double speed = 1;      // how many times as fast as recorded
};
// Publishes the documents of a recording at their recorded gaps, each through
// telemetry.json.tmp and a rename as the plug-in does. Returns the exit status.
int replay(const ReplayOptions& options);

// What was wrong with a drive, one line each; none for a good run. `folder_problem` tells why
// the data folder could not take a document ("" when it could), for a run that read none.
std::vector<std::string> run_verdict(const Reader& reader, const PlayResult& play,
                                     const std::string& folder_problem);
// The pause, start and closing documents the reader saw more than 250 ms after the host's
// call, each named with its delay.
std::vector<std::string> late_documents(const std::vector<Revision>& seen);
// Prints the summary of a drive and its verdict; returns whether it was good.
bool summarize(const Reader& reader, const PlayResult& play, const std::string& folder_problem);

// Follows the folder DIR's telemetry.json (the data folder when DIR is ""), printing each
// verdict as it changes, until the host closes or is gone (with `follow`, through session after
// session) or Ctrl+C; with `once`, reads it once. It judges the host by the C reader's rule,
// the one every reader follows, and prints its verdict in the readers' words. Prints the last
// verdict and returns the exit status.
int watch(Reader* reader, const std::string& dir, bool follow, bool once);

// A revision as the table shows it: its causes, delay and main values.
std::string describe(const Revision& r);

// What the file is when the drive's reader's last look found no document in it
// ("telemetry.json is a directory"), or "" when it held one or nothing was there.
std::string not_a_document(const DocumentWatch& watch);

#endif
