// The drive's reader: support/reader.h's read-on-change, from a thread of its own while the
// host plays. Every new document is held to the document check, the strict shape of the
// plug-in's own 1.0.0 documents (not the readers' 1.x rule, which accepts added members):
// a drive checks that our plug-in writes exactly what we publish, which is another job than
// judging a host. Each is told apart from the previous one, printed and recorded.
#include "tools/hostsim/hostsim.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

namespace {

const unsigned POLL_MS = 5;
const size_t PROBLEMS_KEPT = 5;

// A document's null coordinate or speed is NaN in its view.
std::string fixed(double v, int decimals) { return std::isnan(v) ? "null" : number(v, decimals); }

} // namespace

std::string describe(const Revision& r)
{
    const DocumentView& v = r.view;
    std::string text = cause_text(r.causes);
    text.resize(std::max<size_t>(text.size(), 12), ' ');
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

namespace {

// A document of another process's: counted against its pid, and named once.
void other_writer(Reader* reader, uint32_t pid)
{
    for (auto& other : reader->others) {
        if (other.first == pid) {
            other.second++;
            return;
        }
    }
    reader->others.push_back({pid, 1});
    say_locked(reader->session, "reader",
               "a document from pid " + std::to_string(pid) + ", not this host's: another program "
               "writes into this folder");
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
    } else if (seen == WatchResult::not_file) {
        reader->failed++;
        problem(reader, not_a_document(reader->watch));
    } else if (seen == WatchResult::changed) {
        Revision r;
        r.at_us = now;
        r.causes = CAUSE_INVALID;
        std::string why = bytes.size() > DOCUMENT_READ_LIMIT ? "larger than any document"
                                                             : document_problem(bytes, &r.view);
        if (!why.empty()) {
            reader->invalid++;
            problem(reader, "invalid document: " + why);
        } else if (r.view.written < reader->session->load_tick) {
            // Written before our load, by whatever pid: an earlier session's.
            reader->left_over++;
            r.causes = CAUSE_LEFT_OVER;
            say_locked(reader->session, "reader",
                       "left over from before this run's load: " + describe(r));
        } else if (r.view.pid != reader->session->host_pid) {
            // Our own host is this process: any other pid is another program's plug-in.
            other_writer(reader, r.view.pid);
            r.causes = CAUSE_OTHER_WRITER;
        } else {
            const Revision* previous = reader->revisions.empty() ? nullptr : &reader->revisions.back();
            explain(reader->session, previous, &r, &reader->awaiting_frame);
            r.delay = 0;
            if (r.call >= 0) {
                r.delay = (double)((int64_t)now - (int64_t)r.since_us) / 1e6;
            } else if (previous != nullptr) {
                r.delay = (double)(int64_t)(r.view.written - previous->view.written) / 1000;
            }
            reader->revisions.push_back(r);
            say_locked(reader->session, ("rev " + std::to_string(reader->revisions.size())).c_str(),
                       describe(r));
        }
        if (reader->record != nullptr) {
            record_document(reader->record, (double)(now - reader->session->start_us) / 1e6, cause_text(r.causes), bytes);
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
