// hostsim --watch's verdict on the last document it read: what a person asking "is the
// plug-in working?" is told about a live host, a stuck one and one that died.
#include "tools/hostsim/hostsim.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <unistd.h>

namespace {

TEST(Watch, VerdictTellsLiveStaleAndGoneHosts)
{
    std::ifstream cases(QAV_DOCUMENT_CASES);
    nlohmann::ordered_json base = nlohmann::ordered_json::parse(cases)["base"];
    const uint64_t now = os_tick_ms();
    const uint32_t me = (uint32_t)getpid(), nobody = 0x7FFFFFFF;
    struct Row {
        uint32_t pid;
        uint64_t written;
        const char* last_event;
        const char* verdict;
    } rows[] = {
        {me, now - 900, "", "live"},
        {me, now - 30500, "", "stale 30 s"},
        {me, now + 60000, "", "host gone without a closing document"}, // before this boot
        {nobody, now, "job.delivered", "host gone without a closing document"},
        {nobody, now - 30500, "game.closed", "closed"},
    };
    for (const Row& r : rows) {
        base["pid"] = r.pid;
        base["written"] = r.written;
        base["lastEvent"] = r.last_event;
        std::string document = base.dump() + "\n";
        EXPECT_EQ(watch_verdict(&document, now), r.verdict) << document;
    }
    EXPECT_EQ(watch_verdict(nullptr, now), "no file yet");
}

} // namespace
