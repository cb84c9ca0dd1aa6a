// What the drive's reader says of a telemetry.json that holds no document at all. Whether a
// host is live, stale, closed or gone is the C reader's to say (its tables in readers/tests);
// the watch built on it is run whole in hostsim_run.sh.
#include "tools/hostsim/hostsim.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

nlohmann::ordered_json base_document()
{
    std::ifstream cases(QAV_DOCUMENT_CASES);
    return nlohmann::ordered_json::parse(cases)["base"];
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
