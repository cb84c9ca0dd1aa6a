// The reader: what a companion application should do with telemetry.json (support/reader.h),
// done from a thread of its own while the host plays. Every few milliseconds it looks at the
// file's stamp, which opens nothing; only when it changed does it open the file with every
// sharing mode, read it whole and close it at once. A sharing violation or a missing file is
// simply tried again at the next poll. Every new document is judged by the document check,
// told apart from the previous one, printed and recorded.
#include "tools/hostsim/hostsim.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

namespace {

const unsigned POLL_MS = 5;
const size_t PROBLEMS_KEPT = 5;

// A document's null coordinate or speed is NaN in its view.
std::string fixed(double v, int decimals) { return std::isnan(v) ? "null" : number(v, decimals); }

bool same_job(const DocumentView& a, const DocumentView& b)
{
    return a.hasJob == b.hasJob && a.cargo == b.cargo && a.sourceCity == b.sourceCity &&
           a.destinationCity == b.destinationCity;
}

// Why a revision was written, told from what changed since the previous one. Changes that
// came together (a delivery's event and its job cleared) were written together.
void explain(const Revision* previous, Revision* r, bool watching)
{
    r->call = -1;
    if (previous == nullptr) {
        r->cause = watching ? "first" : "load"; // a watch may begin in the middle of a drive
        return;
    }
    const DocumentView& a = previous->view;
    const DocumentView& b = r->view;
    r->cause.clear();
    auto add = [&](bool changed, const char* cause, Call call) {
        if (!changed) return;
        if (r->call < 0) r->call = (int)call;
        r->cause += std::string(r->cause.empty() ? "" : "+") + cause;
    };
    bool closing = b.lastEvent == "game.closed" && a.lastEvent != "game.closed";
    add(closing, "closing", Call::shutdown);
    add(!closing && a.paused != b.paused, b.paused ? "paused" : "started",
        b.paused ? Call::pause : Call::start);
    add(a.eventSeq != b.eventSeq, "event", Call::event);
    add(!closing && !same_job(a, b), b.hasJob ? "job" : "no job", Call::job);
    if (r->cause.empty()) r->cause = "paced";
}

// In a watch: how old the document is by this machine's tick, and whether its writer runs.
std::string writer_of(const DocumentView& v)
{
    uint64_t now = os_tick_ms();
    std::string age = v.written > now ? "from before this machine started"
                                      : "age " + fixed((double)(now - v.written) / 1000, 1) + " s";
    return "  " + age + ", pid " + std::to_string(v.pid) +
           (os_process_alive(v.pid) ? " runs" : " gone");
}

// One line of a recording: when the reader saw the document, why it was written, and its
// bytes exactly, as a JSON string.
void record(std::FILE* file, double seconds, const std::string& cause, const std::string& bytes)
{
    using Json = nlohmann::json;
    std::string document = Json(bytes).dump(-1, ' ', false, Json::error_handler_t::replace);
    std::fprintf(file, "{\"at\":%.3f,\"cause\":%s,\"document\":%s}\n", seconds,
                 Json(cause).dump().c_str(), document.c_str());
    std::fflush(file);
}

std::string describe(const Revision& r)
{
    const DocumentView& v = r.view;
    std::string text = r.cause;
    text.resize(std::max<size_t>(text.size(), 8), ' ');
    char delay[32];
    std::snprintf(delay, sizeof delay, r.call >= 0 ? "%+7.3f s " : "%7.3f s ", r.delay);
    text += delay;
    text += v.paused ? "paused " : "running";
    text += "  time " + std::to_string(v.gameTime) + "  x " + fixed(v.x, 0) + " z " +
            fixed(v.z, 0) + "  " + fixed(v.speed, 1) + " m/s  ";
    text += v.hasJob ? "job " + v.cargo + " (" + v.sourceCity + " -> " + v.destinationCity + ")"
                     : "no job";
    text += "  event " + (v.lastEvent.empty() ? std::string("-") : v.lastEvent) + " #" +
            std::to_string(v.eventSeq);
    return text;
}

void problem(Reader* reader, const std::string& what)
{
    if (reader->problems.size() < PROBLEMS_KEPT) reader->problems.push_back(what);
    say_locked(reader->session, "reader", what);
}

} // namespace

void reader_poll(Reader* reader, bool force)
{
    WatchResult seen = watch_document(&reader->watch, force);
    uint64_t now = os_micros();
    const std::string& bytes = reader->watch.bytes;
    os_lock();
    if (seen == WatchResult::sharing) {
        reader->sharing++;
    } else if (seen == WatchResult::missing) {
        reader->missing++;
    } else if (seen == WatchResult::failed) {
        reader->failed++;
        problem(reader, "unreadable: the read failed");
    } else if (seen == WatchResult::changed) {
        Revision r;
        r.at_us = now;
        r.cause = "invalid";
        std::string why = bytes.size() > DOCUMENT_READ_LIMIT ? "larger than any document"
                                                             : document_problem(bytes, &r.view);
        if (!why.empty()) {
            reader->invalid++;
            problem(reader, "invalid document: " + why);
        } else {
            const Revision* previous = reader->revisions.empty() ? nullptr : &reader->revisions.back();
            explain(previous, &r, reader->watching);
            if (reader->watching) r.call = -1; // no call of ours to time it from
            r.delay = 0;
            if (r.call >= 0) {
                r.delay = (double)((int64_t)now - (int64_t)reader->session->last_call_us[r.call]) / 1e6;
            } else if (previous != nullptr) {
                r.delay = (double)(now - previous->at_us) / 1e6;
            }
            reader->revisions.push_back(r);
            say_locked(reader->session, ("rev " + std::to_string(reader->revisions.size())).c_str(),
                       describe(r) + (reader->watching ? writer_of(r.view) : ""));
        }
        if (reader->record != nullptr) {
            record(reader->record, (double)(now - reader->session->start_us) / 1e6, r.cause, bytes);
        }
    }
    os_unlock();
}

void reader_run(void* arg)
{
    Reader* reader = (Reader*)arg;
    while (!reader->stop) {
        reader_poll(reader, reader->busy);
        os_sleep_ms(POLL_MS);
    }
}
