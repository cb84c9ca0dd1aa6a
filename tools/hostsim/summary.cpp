// What hostsim reports: how it prints numbers, what its exit statuses mean, which call caused
// each document, and the summary that ends a drive with the run's verdict.
#include "tools/hostsim/hostsim.h"

#include "support/figures.h"

#include <algorithm>

const ExitMeaning EXIT_MEANINGS[5] = {
    {EXIT_OK, "good: a drive read only valid documents of its own plug-in and saw the closing "
              "one (after a crash: none was due); a watch ended on 'live' or 'closed'; a replay "
              "published its documents (or was stopped by Ctrl+C, SIGTERM or SIGHUP); --check found no "
              "mistake"},
    {EXIT_USAGE, "a bad command line, scenario or recording, a folder to watch that is not one, "
                 "or a file that --record or --to must not replace: nothing was loaded or written"},
    {EXIT_LOAD, "the plug-in could not be loaded or refused to initialize, a replay could not "
                "write, or a recording could not be written whole"},
    {EXIT_DOCUMENTS, "a drive read none of its own documents, an unreadable or invalid one, "
                     "another program's, or missed the closing one; a watch ended on any other "
                     "verdict than 'live' or 'closed'"},
    {EXIT_INTERRUPTED, "a second Ctrl+C (or SIGTERM, SIGHUP) ended hostsim at once, as a crash"},
};

std::string number(double v, int decimals)
{
    char text[64];
    if (decimals < 0) {
        std::snprintf(text, sizeof text, "%.15g", v);
    } else {
        std::snprintf(text, sizeof text, "%.*f", decimals, v);
    }
    return text;
}

std::string escaped(const std::string& s)
{
    std::string out;
    for (unsigned char c : s) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += c < 0x20 || c == 0x7F ? std::string(hex) : std::string(1, (char)c);
    }
    return out;
}

namespace {

// In the order a revision's causes are joined.
const struct {
    Cause cause;
    const char* name;
} CAUSE_NAMES[] = {
    {CAUSE_LOAD, "load"},       {CAUSE_FIRST_FRAME, "first frame"}, {CAUSE_PACED, "paced"},
    {CAUSE_FOLLOW_UP, "follow-up"}, {CAUSE_CLOSING, "closing"},     {CAUSE_PAUSED, "paused"},
    {CAUSE_STARTED, "started"}, {CAUSE_EVENT, "event"},             {CAUSE_JOB, "job"},
    {CAUSE_NO_JOB, "no job"},   {CAUSE_FIRST, "first"},             {CAUSE_INVALID, "invalid"},
    {CAUSE_LEFT_OVER, "left over"}, {CAUSE_OTHER_WRITER, "other writer"},
};

bool same_job(const DocumentView& a, const DocumentView& b)
{
    return a.hasJob == b.hasJob && a.cargo == b.cargo && a.sourceCity == b.sourceCity &&
           a.destinationCity == b.destinationCity;
}

} // namespace

const char* cause_name(Cause cause)
{
    for (const auto& row : CAUSE_NAMES) {
        if (row.cause == cause) return row.name;
    }
    return "?";
}

std::string cause_text(Causes causes)
{
    std::string text;
    for (const auto& row : CAUSE_NAMES) {
        if ((causes & row.cause) != 0) text += (text.empty() ? "" : "+") + std::string(row.name);
    }
    return text;
}

void explain(Session* session, const Revision* previous, Revision* r, bool* awaiting_frame)
{
    const Session& s = *session;
    const DocumentView& b = r->view;
    r->call = -1;
    r->since_us = 0;
    r->causes = 0;
    if (previous == nullptr && b.written <= s.loaded_tick) {
        r->causes = CAUSE_LOAD;
        r->closing = false;
        return;
    }
    // Had the load document been missed, this one is told against what the load wrote.
    DocumentView loaded;
    loaded.paused = true;
    const DocumentView& a = previous != nullptr ? previous->view : loaded;
    auto add = [&](bool changed, Cause cause) {
        if (changed) r->causes |= cause;
    };
    auto time_from = [&](Call call, uint64_t at_us) {
        if (r->call >= 0 && at_us >= r->since_us) return;
        r->call = (int)call;
        r->since_us = at_us;
    };
    // By content, whatever else it carries: a gameplay event still waiting is written with it.
    // A watch (no load of ours) cannot know when the host shut down.
    bool shut = s.load_tick == 0 || (s.shutdown_tick != 0 && b.written >= s.shutdown_tick);
    r->closing = shut && closing_shape(b);
    bool event = a.eventSeq != b.eventSeq;
    bool job = !r->closing && !same_job(a, b);
    bool pause = !r->closing && a.paused != b.paused;
    add(r->closing, CAUSE_CLOSING);
    add(pause, b.paused ? CAUSE_PAUSED : CAUSE_STARTED);
    add(event, CAUSE_EVENT);
    add(job, b.hasJob ? CAUSE_JOB : CAUSE_NO_JOB);
    // A change is timed from its first call that no earlier document showed.
    for (Call c : {Call::event, Call::job}) {
        uint64_t& at = session->unpublished_us[(int)c];
        if ((c == Call::event ? event : job) && at != 0) time_from(c, at);
        if (c == Call::event ? event : job) at = 0;
    }
    // The immediate writes are timed from the call that made them.
    if (pause) {
        r->call = -1;
        time_from(b.paused ? Call::pause : Call::start, s.last_call_us[b.paused ? (int)Call::pause : (int)Call::start]);
    }
    if (r->closing) {
        r->call = -1;
        time_from(Call::shutdown, s.last_call_us[(int)Call::shutdown]);
    }
    bool frame_write = !r->closing && !pause;
    if (r->causes == 0) {
        r->causes = previous != nullptr && previous->causes == CAUSE_LOAD && s.first_frame_tick != 0 &&
                            b.written <= s.first_frame_tick
                        ? CAUSE_FIRST_FRAME
                    : *awaiting_frame ? CAUSE_FOLLOW_UP
                                      : CAUSE_PACED;
    }
    if (frame_write) {
        *awaiting_frame = false;
    } else if (event || job) {
        *awaiting_frame = true;
    }
}

namespace {

struct Range {
    size_t n = 0;
    double min = 0, median = 0, max = 0;
};

Range range_of(const std::vector<double>& v)
{
    Range r;
    if (v.empty()) return r;
    r.n = v.size();
    r.min = *std::min_element(v.begin(), v.end());
    r.median = median_of(v);
    r.max = *std::max_element(v.begin(), v.end());
    return r;
}

std::string seconds(const Range& r)
{
    if (r.n == 0) return "none";
    return std::to_string(r.n) + ", min " + number(r.min, 3) + " s, median " +
           number(r.median, 3) + " s, max " + number(r.max, 3) + " s";
}

} // namespace

std::vector<std::string> run_verdict(const Reader& reader, const PlayResult& play,
                                     const std::string& folder_problem)
{
    std::vector<std::string> wrong;
    const std::vector<Revision>& seen = reader.revisions;
    if (seen.empty()) {
        std::string why =
            !folder_problem.empty()       ? folder_problem
            : !play.write_problem.empty() ? "the plug-in could not write telemetry.json.tmp: " +
                                                play.write_problem
            : reader.left_over > 0        ? "telemetry.json still holds one from before this run's load"
                                          : "the file never appeared at " + reader.watch.path;
        wrong.push_back("no document of this run was read: " + why);
    }
    bool closed = !seen.empty() && seen.back().closing;
    if (!seen.empty() && closed == play.crashed) {
        wrong.push_back(play.crashed ? "a closing document after a crash"
                                     : "the closing document was not seen");
    }
    if (!seen.empty() && play.write_failures > 0) {
        wrong.push_back(std::to_string(play.write_failures) + " of the plug-in's writes failed: " +
                        play.write_problem);
    }
    for (const auto& other : reader.others) {
        wrong.push_back("another program, pid " + std::to_string(other.first) + ", wrote " +
                        std::to_string(other.second) + " document" +
                        (other.second == 1 ? "" : "s") +
                        " into this folder: this run cannot vouch for its plug-in");
    }
    if (reader.failed > 0) wrong.push_back(std::to_string(reader.failed) + " reads failed");
    if (reader.invalid > 0) wrong.push_back(std::to_string(reader.invalid) + " invalid documents");
    return wrong;
}

std::vector<std::string> late_documents(const std::vector<Revision>& seen)
{
    std::vector<std::string> late;
    for (size_t i = 0; i < seen.size(); i++) {
        const Revision& r = seen[i];
        bool at_once = r.call == (int)Call::start || r.call == (int)Call::pause ||
                       r.call == (int)Call::shutdown;
        if (at_once && r.delay > 0.25) {
            late.push_back("rev " + std::to_string(i + 1) + " (" + cause_text(r.causes) + ") " +
                           number(r.delay, 3) + " s after the host's call");
        }
    }
    return late;
}

bool summarize(const Reader& reader, const PlayResult& play, const std::string& folder_problem)
{
    size_t counts[DRIVE_CAUSES] = {};
    std::vector<double> intervals, paced, quick, immediate;
    for (size_t i = 0; i < reader.revisions.size(); i++) {
        const Revision& r = reader.revisions[i];
        for (int c = 0; c < DRIVE_CAUSES; c++) counts[c] += (r.causes >> c) & 1; // each of a set
        if (i > 0) intervals.push_back((double)(r.at_us - reader.revisions[i - 1].at_us) / 1e6);
        if (r.causes == CAUSE_PACED) paced.push_back(r.delay);
        if (r.call == (int)Call::job || r.call == (int)Call::event) quick.push_back(r.delay);
        if (r.call == (int)Call::start || r.call == (int)Call::pause) immediate.push_back(r.delay);
    }
    std::string by_cause;
    for (int c = 0; c < DRIVE_CAUSES; c++) {
        if (counts[c] == 0) continue;
        by_cause += std::string(by_cause.empty() ? "" : ", ") + std::to_string(counts[c]) + " " +
                    cause_name((Cause)(1u << c));
    }
    bool closed = !reader.revisions.empty() && reader.revisions.back().closing;

    std::vector<uint32_t> cost = play.frame_us;
    std::sort(cost.begin(), cost.end());
    auto at = [&](double q) { return cost.empty() ? 0u : cost[(size_t)(q * (double)(cost.size() - 1))]; };

    std::printf("\nsummary\n");
    std::printf("  revisions seen:        %zu%s\n", reader.revisions.size(),
                by_cause.empty() ? "" : (" (" + by_cause + ")").c_str());
    if (reader.left_over > 0) {
        std::printf("  left over:             %llu document%s from before this run's load, not counted\n",
                    (unsigned long long)reader.left_over, reader.left_over == 1 ? "" : "s");
    }
    std::printf("  between revisions:     %s\n", seconds(range_of(intervals)).c_str());
    std::printf("  paced (once a second): %s\n", seconds(range_of(paced)).c_str());
    std::printf("  after a job or event:  %s\n", seconds(range_of(quick)).c_str());
    std::printf("  after pause or start:  %s\n", seconds(range_of(immediate)).c_str());
    std::printf("  closing document:      %s\n",
                play.crashed ? (closed ? "SEEN after a crash" : "none expected: the host crashed")
                : closed     ? "seen"
                             : "NOT SEEN");
    // A late one is named but does not fail the run: the plug-in had written it at the call,
    // unless a reader held the file, and a loaded machine delays the reader as much.
    for (const std::string& l : late_documents(reader.revisions)) std::printf("  late (over 0.250 s):   %s\n", l.c_str());
    if (play.interrupted != nullptr) {
        std::printf("  stopped:               by %s, with a shutdown\n", play.interrupted);
    }
    std::printf("  writes not replaced:   %llu%s\n", (unsigned long long)play.replace_failures,
                play.replace_failures == 0 ? "" : " (telemetry.json.tmp stayed behind whole: the "
                                                  "rename over telemetry.json failed)");
    if (play.write_failures > 0) {
        std::printf("  writes failed:         %llu (telemetry.json.tmp stayed behind cut short: %s)\n",
                    (unsigned long long)play.write_failures, play.write_problem.c_str());
    }
    std::printf("  reader:                %llu checks, %llu reads, %llu sharing violations and "
                "%llu missing-file retries, %llu unreadable, %llu invalid documents\n",
                (unsigned long long)reader.watch.checks, (unsigned long long)reader.watch.reads,
                (unsigned long long)reader.sharing,
                (unsigned long long)reader.missing, (unsigned long long)reader.failed,
                (unsigned long long)reader.invalid);
    std::printf("  frames:                %llu in %.2f s (%llu late by half a frame, %llu skipped)\n",
                (unsigned long long)play.frames, play.seconds, (unsigned long long)play.late_frames,
                (unsigned long long)play.dropped_frames);
    std::printf("  inside the plug-in:    per frame median %u us, 99th percentile %u us, max %u us\n",
                at(0.5), at(0.99), at(1.0));
    for (const std::string& p : reader.problems) std::printf("  problem: %s\n", p.c_str());
    std::vector<std::string> wrong = run_verdict(reader, play, folder_problem);
    for (const std::string& w : wrong) std::printf("  wrong:                 %s\n", w.c_str());
    std::printf("  result:                %s\n", wrong.empty() ? "OK" : "FAILED");
    return wrong.empty();
}
