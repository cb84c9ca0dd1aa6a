// --watch: no plug-in and no player. The C reader follows the folder a real host's plug-in
// writes to, and decides what every reader decides: which documents it accepts (any 1.x, added
// members ignored), where a session begins, and whether the host is live, stale, closed or
// gone, also in a Wine prefix. hostsim shows each document and each change of that verdict.
#include "tools/hostsim/hostsim.h"

#include "qav_reader.h"

namespace {

std::string text_of(const qav_document& d, qav_text t) { return std::string(qav_str(&d, t), t.length); }

// The document as the table shows it.
DocumentView view_of(const qav_document& d)
{
    DocumentView v;
    v.pid = d.pid;
    v.written = d.written;
    v.paused = d.paused != 0;
    v.gameTime = d.game_time;
    v.x = d.position.x;
    v.y = d.position.y;
    v.z = d.position.z;
    v.speed = d.speed;
    v.hasJob = d.has_job != 0;
    v.cargo = text_of(d, d.job.cargo);
    v.sourceCity = text_of(d, d.job.source_city);
    v.destinationCity = text_of(d, d.job.destination_city);
    v.lastEvent = text_of(d, d.last_event_text);
    v.eventSeq = d.event_seq;
    return v;
}

std::string verdict_of(qav_status s)
{
    char out[128];
    return qav_status_text(s, out, sizeof out);
}

// "stale 3 s" and "stale 4 s" are one verdict, printed once.
bool same_verdict(qav_status a, qav_status b)
{
    return a.kind == b.kind && a.writer_checked == b.writer_checked && a.shared == b.shared;
}

double seconds_since_start(const Reader* reader)
{
    return (double)(os_micros() - reader->session->start_us) / 1e6;
}

// A new document: shown with why it was written, as far as its content tells, and its age.
void take(Reader* reader, const qav_reader& q, qav_status status)
{
    Revision r = {};
    r.at_us = os_micros();
    r.view = view_of(q.doc);
    // A watch may begin in the middle of a session, sees sessions follow one another, and
    // makes no calls to time from: a session's first document read is "first". Two hosts
    // sharing the folder are each told apart from their own previous document.
    const Revision* previous = nullptr;
    for (size_t i = reader->revisions.size(); i > 0 && !q.new_session; i--) {
        if (reader->revisions[i - 1].view.pid == q.doc.pid) {
            previous = &reader->revisions[i - 1];
            break;
        }
    }
    explain(reader->session, previous, &r, &reader->awaiting_frame);
    r.call = -1;
    if (previous == nullptr) r.causes = CAUSE_FIRST;
    r.delay = previous == nullptr ? 0 : (double)(int64_t)(r.view.written - previous->view.written) / 1000;
    reader->revisions.push_back(r);
    std::string age = status.age_ms < 0 ? "from before this machine started"
                                        : "age " + number((double)status.age_ms / 1000, 1) + " s";
    say(reader->session, ("rev " + std::to_string(reader->revisions.size())).c_str(),
        describe(r) + "  " + age + ", pid " + std::to_string(q.doc.pid));
    if (reader->record != nullptr) {
        record_document(reader->record, seconds_since_start(reader), cause_text(r.causes),
                        std::string(q.bytes, q.size));
    }
}

// A refused document: the reader's reason, and the bytes in the recording for whoever reads it.
void refused(Reader* reader, const qav_reader& q)
{
    reader->invalid++;
    say(reader->session, "reader", std::string("refused: ") + q.problem);
    std::string bytes;
    if (reader->record != nullptr &&
        os_read_file(q.path, QAV_MAX_DOCUMENT + 1, &bytes, true) == ReadResult::ok) {
        record_document(reader->record, seconds_since_start(reader), cause_text(CAUSE_INVALID), bytes);
    }
}

// What is at the path when the reader skips it as if it were missing: it opens only a regular
// file, and a folder or a FIFO there is worth a word. Looked at every ODD_LOOK_MS, not at every
// poll: the reader's own look is the one that must be quick.
const uint64_t ODD_LOOK_MS = 200;
std::string unreadable_kind(const std::string& path)
{
    switch (os_file_stamp(path).kind) {
    case FileKind::directory: return "a directory";
    case FileKind::fifo: return "a FIFO";
    case FileKind::other: return "not a regular file";
    case FileKind::missing:
    case FileKind::regular: break;
    }
    return "";
}

} // namespace

int watch(Reader* reader, const std::string& dir, bool follow, bool once)
{
    static qav_reader q; // about 17 KiB
    qav_reader_init(&q, dir.c_str());
    if (q.path[0] == '\0') {
        std::fprintf(stderr, "hostsim: %s\n", q.problem);
        return EXIT_USAGE;
    }
    const char* wine = q.wine ? " (in a Wine prefix: its pids are not this system's, its age tells)" : "";
    if (once) {
        std::printf("hostsim: one look at %s%s\n\n", q.path, wine);
    } else {
        std::printf("hostsim: watching %s%s %s\n\n", q.path, wine,
                    follow ? "until Ctrl+C, session after session" : "until the host closes or is gone, or Ctrl+C");
    }
    std::printf("    time  source    what\n");
    qav_status shown = q.status;
    bool said = false;
    std::string odd;
    uint64_t looked_at = 0;
    for (;;) {
        // A look every 5 ms, as the drive's reader looks, so that the load document, which
        // the next one replaces 10 ms later, is not missed; the reader still looks at the
        // writer's process only once a second.
        int got = once ? qav_poll(&q) : qav_wait(&q, 0);
        qav_status status = once ? qav_get_status(&q) : q.status;
        if (got == QAV_NEW) take(reader, q, status);
        if (got == QAV_REFUSED) refused(reader, q);
        if (once || os_tick_ms() - looked_at >= ODD_LOOK_MS) {
            looked_at = os_tick_ms();
            std::string kind = unreadable_kind(q.path);
            if (!kind.empty() && kind != odd) {
                say(reader->session, "reader", "telemetry.json is " + kind + ": no document can be read from it");
            }
            odd = kind;
        }
        if (!said || !same_verdict(status, shown)) {
            say(reader->session, "watch", verdict_of(status));
            shown = status;
            said = true;
        }
        // The status's kind ends the watch, never the words it is shown in.
        bool ended = status.kind == QAV_CLOSED || status.kind == QAV_GONE;
        if (once || g_interrupts > 0 || (!follow && ended)) break;
        if (got == QAV_SAME) os_sleep_ms(5);
    }
    qav_status last = once ? shown : qav_get_status(&q);
    std::printf("\nverdict: %s\n", verdict_of(last).c_str());
    return last.kind == QAV_LIVE || last.kind == QAV_CLOSED ? EXIT_OK : EXIT_DOCUMENTS;
}
