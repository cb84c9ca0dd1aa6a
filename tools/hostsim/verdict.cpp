// The watch's judgement of telemetry.json and of the process that wrote it: the one place
// where hostsim decides whether a writer is alive, by the rule docs/telemetry.md gives every
// reader as a recipe.
#include "tools/hostsim/hostsim.h"

#include <nlohmann/json.hpp>

namespace {

// How much later than its session's first document a writer may seem to have started: the
// tick steps by up to 16 ms on Windows, the wall clock it is set against as much again, and
// Linux gives start times in 10 ms steps. No host loads the plug-in, dies and has its pid
// taken by another process within a tenth of a second.
const uint64_t START_TOLERANCE_MS = 100;

enum Writer { RUNS, RUNS_UNCHECKED, YOUNGER, GONE };

// Whether the process that wrote a session whose first document read was written at `since`
// still runs. A process that started later only took over its pid, as Wine readily does.
Writer judge_writer(uint32_t pid, uint64_t since)
{
    if (!os_process_alive(pid)) return GONE;
    uint64_t started = 0;
    if (!os_process_started_ms(pid, &started)) return RUNS_UNCHECKED; // the pid alone must do
    return started <= since + START_TOLERANCE_MS ? RUNS : YOUNGER;
}

} // namespace

bool load_shape(const DocumentView& v)
{
    return v.paused && v.gameTime == 0 && !v.hasJob && v.lastEvent.empty() && v.eventSeq == 0;
}

bool closing_shape(const DocumentView& v)
{
    return v.lastEvent == "game.closed" && v.paused && !v.hasJob;
}

bool watch_take(WatchState* s, const DocumentView& v)
{
    const DocumentView& p = s->last;
    bool fresh = !s->seen || v.pid != p.pid || v.written < p.written || (load_shape(v) && !load_shape(p));
    // The closing document is paused, has no job, names game.closed and keeps eventSeq; a
    // gameplay event the host itself calls game.closed raises eventSeq, and the documents after
    // it go on naming it. Met first, only its shape can tell.
    bool closing = closing_shape(v) && (fresh || (v.eventSeq == p.eventSeq && p.lastEvent != "game.closed"));
    if (fresh) s->since = v.written;
    s->seen = true;
    s->last = v;
    s->closed = closing;
    return fresh;
}

std::string writer_text(const WatchState& s)
{
    std::string pid = "pid " + std::to_string(s.last.pid);
    switch (judge_writer(s.last.pid, s.since)) {
    case RUNS: return pid + " runs";
    case RUNS_UNCHECKED: return pid + " runs (its start time cannot be read)";
    case YOUNGER: return pid + " is another process's, started after this session began";
    case GONE: break;
    }
    return pid + " gone";
}

std::string not_a_document(const DocumentWatch& w)
{
    const std::string& b = w.bytes;
    std::string what;
    if (w.last == WatchResult::not_file) {
        what = w.stamp.kind == FileKind::directory ? "a directory"
               : w.stamp.kind == FileKind::fifo    ? "a FIFO"
                                                   : "not a regular file";
    } else if (w.last == WatchResult::failed) {
        what = "unreadable";
    } else if (w.last != WatchResult::changed && w.last != WatchResult::same) {
        return "";
    } else if (b.size() > DOCUMENT_READ_LIMIT) {
        what = "over 8 KiB, longer than any document";
    } else if (b.empty()) {
        what = "empty";
    } else if (b.back() != '\n') {
        what = "cut short: it does not end with a line feed";
    } else if (!nlohmann::json::accept(b)) {
        what = "not JSON";
    } else {
        nlohmann::json doc = nlohmann::json::parse(b);
        if (!doc.is_object() || !doc.contains("plugin") || doc["plugin"] != "QAV") {
            what = "JSON, but not a QAV document";
        } else {
            std::string why = document_problem(b);
            if (why.empty()) return "";
            what = "an invalid QAV document: " + why;
        }
    }
    return "telemetry.json is " + what;
}

int64_t document_age_ms(uint64_t written, uint64_t now)
{
    if (written <= now) return (int64_t)(now - written);
    return written - now <= CLOCK_SLACK_MS ? 0 : -1;
}

std::string watch_verdict(const WatchState& s, const std::string& problem, uint64_t now_tick)
{
    if (!problem.empty()) return problem;
    if (!s.seen) return "no file yet";
    if (s.closed) return "closed";
    // A tick from the future was taken before this machine last started: that host is gone,
    // whatever now runs under its pid.
    int64_t age = document_age_ms(s.last.written, now_tick);
    Writer writer = age < 0 ? GONE : judge_writer(s.last.pid, s.since);
    bool gone = writer == GONE || writer == YOUNGER;
    // A gameplay event still waiting at the shutdown is written into the closing document and
    // raises its eventSeq: once its writer is gone, a document of that shape was the last word.
    if (gone && closing_shape(s.last)) return "closed";
    if (gone) return "host gone without a closing document";
    if (age < STALE_AFTER_MS) return "live";
    return "stale " + std::to_string(age / 1000) + " s";
}
