// What a drive's reader makes of the documents it reads, and when the run is good: each
// document is told by its content and the player's call times, never by a label's first word.
#include "tools/hostsim/hostsim.h"

#include <gtest/gtest.h>

namespace {

// A document as explain() sees it: written at `tick`, with the given state.
Revision doc(uint64_t tick, bool paused, uint32_t seq, const char* event = "", bool job = false)
{
    Revision r = {};
    r.view.pid = 7;
    r.view.written = tick;
    r.view.paused = paused;
    r.view.eventSeq = seq;
    r.view.lastEvent = event;
    r.view.hasJob = job;
    r.view.cargo = job ? "Gravel" : "";
    return r;
}

TEST(Verdict, EachDocumentIsToldByItsContentAndTheCalls)
{
    // Load at tick 1000-1001, first frame at 1017, calls at microseconds 5e6.., shutdown at 9000.
    struct Row {
        const char* name;
        std::vector<Revision> docs;
        const char* cause;    // of the last document
        bool closing;
        int call;             // the call its delay is timed from
    } rows[] = {
        {"the load document", {doc(1001, true, 0)}, "load", false, -1},
        {"the first frame's", {doc(1001, true, 0), doc(1017, true, 0)}, "first frame", false, -1},
        {"a paced write", {doc(1001, true, 0), doc(1017, true, 0), doc(2017, true, 0)}, "paced", false, -1},
        {"a closing document carrying a pending event",
         {doc(1001, true, 0), doc(1500, false, 0), doc(9001, true, 1, "game.closed")},
         "closing+event", true, (int)Call::shutdown},
        {"a gameplay event named game.closed before the shutdown",
         {doc(1001, true, 0), doc(1500, false, 0), doc(2000, false, 1, "game.closed")},
         "event", false, (int)Call::event},
        {"a pause that wrote a waiting event, then its follow-up",
         {doc(1001, true, 0), doc(1500, false, 0), doc(1600, true, 1, "x"), doc(1850, true, 1, "x")},
         "follow-up", false, -1},
        {"a job and an event in one document: timed from the job, the earlier",
         {doc(1001, true, 0), doc(1500, false, 0), doc(1750, false, 1, "x", true)},
         "event+job", false, (int)Call::job},
    };
    for (const Row& row : rows) {
        Session s;
        s.load_tick = 1000;
        s.loaded_tick = 1001;
        s.first_frame_tick = 1017;
        s.shutdown_tick = 9000;
        s.last_call_us[(int)Call::shutdown] = 9000000;
        s.unpublished_us[(int)Call::job] = 5000000;
        s.unpublished_us[(int)Call::event] = 5100000;
        bool awaiting = false;
        std::vector<Revision> seen;
        for (Revision r : row.docs) {
            explain(&s, seen.empty() ? nullptr : &seen.back(), &r, &awaiting);
            seen.push_back(r);
        }
        EXPECT_EQ(cause_text(seen.back().causes), row.cause) << row.name;
        EXPECT_EQ(seen.back().closing, row.closing) << row.name;
        EXPECT_EQ(seen.back().call, row.call) << row.name;
    }
}

TEST(Verdict, LateImmediateDocumentsAreNamed)
{
    std::vector<Revision> seen = {doc(1001, true, 0), doc(1500, false, 0), doc(1600, false, 0)};
    seen[1].causes = CAUSE_STARTED;
    seen[1].call = (int)Call::start;
    seen[1].delay = 1.04;
    seen[2].causes = CAUSE_JOB;
    seen[2].call = (int)Call::job; // a quarter second is the job's own allowance, not late
    seen[2].delay = 0.26;
    std::vector<std::string> late = late_documents(seen);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0], "rev 2 (started) 1.040 s after the host's call");
}

TEST(Verdict, ARunIsGoodOnlyWhenItSawItsOwnPluginClose)
{
    struct Row {
        const char* name;
        void (*change)(Reader*, PlayResult*);
        const char* folder_problem;
        const char* wrong; // the first thing said wrong; null for a good run
    } rows[] = {
        {"a good run", [](Reader*, PlayResult*) {}, "", nullptr},
        {"a crash in which nothing was read", [](Reader* r, PlayResult* p) {
             r->revisions.clear();
             p->crashed = true;
         }, "", "no document of this run was read: the file never appeared at /d/QAV/telemetry.json"},
        {"a folder that could not take the file", [](Reader* r, PlayResult*) { r->revisions.clear(); },
         "the folder /d/QAV is missing", "no document of this run was read: the folder /d/QAV is missing"},
        {"only a document from before the load", [](Reader* r, PlayResult*) {
             r->revisions.clear();
             r->left_over = 1;
         }, "", "no document of this run was read: telemetry.json still holds one from before this run's load"},
        {"another host on the same folder", [](Reader* r, PlayResult*) { r->others = {{4242, 3}}; },
         "", "another program, pid 4242, wrote 3 documents into this folder: this run cannot vouch for its plug-in"},
        {"no closing document", [](Reader* r, PlayResult*) { r->revisions.back().closing = false; },
         "", "the closing document was not seen"},
    };
    for (const Row& row : rows) {
        Reader reader;
        reader.watch.path = "/d/QAV/telemetry.json";
        reader.revisions = {doc(1001, true, 0), doc(9001, true, 0, "game.closed")};
        reader.revisions.back().closing = true;
        PlayResult play;
        row.change(&reader, &play);
        std::vector<std::string> wrong = run_verdict(reader, play, row.folder_problem);
        if (row.wrong == nullptr) {
            EXPECT_TRUE(wrong.empty()) << row.name << ": " << wrong.front();
        } else {
            ASSERT_FALSE(wrong.empty()) << row.name;
            EXPECT_EQ(wrong.front(), row.wrong) << row.name;
        }
    }
}

} // namespace
