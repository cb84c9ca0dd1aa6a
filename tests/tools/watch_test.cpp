// hostsim --watch's verdicts: what a person asking "is the plug-in working?" is told about a
// live host, a stuck one, one that closed and one that died, and about a telemetry.json that
// holds no document at all.
#include "tools/hostsim/hostsim.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

nlohmann::ordered_json base_document()
{
    std::ifstream cases(QAV_DOCUMENT_CASES);
    return nlohmann::ordered_json::parse(cases)["base"];
}

// A forked child, killed and reaped however the test ends: a failed assertion returns at
// once, and a child left behind would hold ctest until its timeout.
struct Child {
    pid_t pid;
    ~Child()
    {
        if (pid <= 0) return;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
};

TEST(Watch, VerdictTellsLiveStaleClosedAndGoneHosts)
{
    nlohmann::ordered_json base = base_document();
    // Times are offsets from `t`, which is later than this process's start.
    const int64_t t = (int64_t)os_tick_ms();
    const uint32_t me = (uint32_t)getpid(), nobody = 0x7FFFFFFF;
    Child younger = {fork()}; // takes a pid after the documents below were "written"
    if (younger.pid == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(younger.pid, 0);
    struct Doc {
        uint32_t pid;
        int64_t written;
        const char* last_event;
        uint32_t event_seq;
        bool running_with_job;
    };
    const Doc none = {0, 0, nullptr, 0, false};
    struct Row {
        Doc before, last; // `before` is read first unless its pid is 0
        int64_t now;
        const char* verdict;
    } rows[] = {
        {none, {me, 0, "", 0, true}, 900, "live"},
        {none, {me, 0, "", 0, true}, 30500, "stale 30 s"},
        {none, {me, 60000, "", 0, true}, 0, "host gone without a closing document"}, // before this boot
        // A writer whose clock reads a little ahead of the watch's: within the readers' slack.
        {none, {me, 100, "", 0, true}, 0, "live"},
        {none, {me, 101, "", 0, true}, 0, "host gone without a closing document"},
        {none, {nobody, 0, "job.delivered", 1, true}, 0, "host gone without a closing document"},
        {{nobody, 0, "toll.paid", 4, true}, {nobody, 10, "game.closed", 4, false}, 30500, "closed"},
        {none, {nobody, 0, "game.closed", 4, false}, 30500, "closed"},
        // The host's own gameplay event of that name: eventSeq rose, or the truck drives on.
        {{me, 0, "toll.paid", 4, true}, {me, 10, "game.closed", 5, false}, 900, "live"},
        {none, {me, 0, "game.closed", 4, true}, 900, "live"},
        // ...and a pause after it, which names it still.
        {{me, 0, "game.closed", 5, true}, {me, 10, "game.closed", 5, false}, 900, "live"},
        // A closing document that also wrote a waiting event: its writer is gone.
        {{nobody, 0, "toll.paid", 4, true}, {nobody, 10, "game.closed", 5, false}, 900, "closed"},
        {none, {(uint32_t)younger.pid, -1000, "", 0, true}, 0, "host gone without a closing document"},
    };
    for (const Row& r : rows) {
        WatchState state;
        for (const Doc& d : {r.before, r.last}) {
            if (d.pid == 0) continue;
            base["pid"] = d.pid;
            base["written"] = (uint64_t)(t + d.written);
            base["lastEvent"] = d.last_event;
            base["eventSeq"] = d.event_seq;
            base["paused"] = !d.running_with_job;
            if (!d.running_with_job) base["job"] = nullptr;
            DocumentView view;
            ASSERT_EQ(document_problem(base.dump() + "\n", &view), "");
            watch_take(&state, view);
        }
        EXPECT_EQ(watch_verdict(state, "", (uint64_t)(t + r.now)), r.verdict)
            << "pid " << r.last.pid << ", " << r.last.last_event << " #" << r.last.event_seq;
        base = base_document();
    }
    EXPECT_EQ(watch_verdict(WatchState{}, "", (uint64_t)t), "no file yet");
}

TEST(Watch, TellsWhatAFileThatHoldsNoDocumentIs)
{
    std::string dir = testing::TempDir() + "watch_test_" + std::to_string(getpid());
    std::string path = dir + "/telemetry.json";
    std::string valid = base_document().dump() + "\n";
    const struct {
        const char* make; // what to put at the path
        std::string bytes;
        const char* verdict;
    } rows[] = {
        {"dir", "", "telemetry.json is a directory"},
        {"fifo", "", "telemetry.json is a FIFO"}, // an open that waited would hang here
        {"file", std::string(9000, ' ') + "\n", "telemetry.json is over 8 KiB, longer than any document"},
        {"file", valid.substr(0, 100), "telemetry.json is cut short: it does not end with a line feed"},
        {"file", "hello\n", "telemetry.json is not JSON"},
        {"file", "{\"plugin\":\"other\"}\n", "telemetry.json is JSON, but not a QAV document"},
        {"file", valid, ""},
    };
    for (const auto& r : rows) {
        ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
        std::string make = r.make;
        int made = make == "dir" ? mkdir(path.c_str(), 0700) : make == "fifo" ? mkfifo(path.c_str(), 0600) : 0;
        ASSERT_EQ(made, 0);
        if (make == "file") std::ofstream(path, std::ios::binary) << r.bytes;
        DocumentWatch watch;
        watch.path = path;
        watch_document(&watch, false);
        EXPECT_EQ(not_a_document(watch), r.verdict) << r.make << " " << r.bytes.substr(0, 20);
    }
    EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}

} // namespace
