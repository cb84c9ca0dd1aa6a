// The judges of hostsim's recorded runs and of replays: a good run passes and each way a run
// goes wrong is named; the end-to-end drives are only as strict as this.
#include "tests/tools/recorded_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace {

using Json = nlohmann::ordered_json;
using Documents = std::vector<Json>;

// Load, start, a job at a paced write, closing: P-0,R-0,RJ0,P-0, read `step` seconds apart.
std::string record_of(void (*change)(Documents*), size_t cut, double step = 0.3)
{
    std::ifstream cases(QAV_DOCUMENT_CASES);
    Documents d(4, Json::parse(cases)["base"]);
    d[0]["paused"] = d[3]["paused"] = true;
    d[0]["gameTime"] = 0;
    d[0]["job"] = d[1]["job"] = d[3]["job"] = nullptr;
    d[3]["lastEvent"] = "game.closed";
    const int written[4] = {1000, 1010, 1300, 1310};
    for (int i = 0; i < 4; i++) d[i]["written"] = written[i];
    change(&d);
    std::string bytes;
    const char* causes[] = {"load", "started", "paced", "closing"};
    for (size_t i = 0; i < d.size(); i++) {
        Json line = {{"at", step * (double)i}, {"cause", causes[i]}, {"document", d[i].dump() + "\n"}};
        bytes += line.dump() + "\n";
    }
    return bytes.substr(0, bytes.size() - cut);
}

TEST(RecordedRun, NamesWhatWentWrong)
{
    struct Row {
        const char* name;
        void (*change)(Documents*);
        size_t cut;           // bytes taken off the record's end
        const char* expected; // in the problems; null for a good run
    } rows[] = {
        {"a good run", [](Documents*) {}, 0, nullptr},
        {"an invalid document", [](Documents* d) { (*d)[2]["speed"] = "fast"; }, 0, "document 3: "},
        {"a cut-off record", [](Documents*) {}, 1, "line feed"},
        {"another state", [](Documents* d) { (*d)[2]["eventSeq"] = 1; }, 0, "states P-0,R-0,RJ1,P-0"},
        {"no load document", [](Documents* d) { (*d)[0]["gameTime"] = 480; }, 0, "written at load"},
        {"no closing document", [](Documents* d) { (*d)[3]["lastEvent"] = ""; }, 0, "closing"},
        {"two processes", [](Documents* d) { (*d)[3]["pid"] = 1; }, 0, "more than one process"},
        {"'written' back", [](Documents* d) { (*d)[2]["written"] = 1005; }, 0, "went back"},
        {"unpaced writes", [](Documents* d) { (*d)[2]["written"] = 1249; }, 0, "239 ms apart"},
        {"a paced write in a freeze", [](Documents*) {}, 0, "while the host sent no frames"},
        {"closed after a crash", [](Documents*) {}, 0, "a closing document after a crash"},
    };
    for (const Row& row : rows) {
        std::string bytes = record_of(row.change, row.cut);
        size_t count = 0;
        std::string all;
        RunExpectation expected;
        expected.states = {"P-0", "R-0", "RJ0", "P-0"};
        expected.quiet_from = std::string(row.name) == "a paced write in a freeze" ? 0.5 : 0;
        expected.quiet_to = expected.quiet_from + 0.2;
        expected.crash = std::string(row.name) == "closed after a crash";
        for (const std::string& p : recorded_run_problems(bytes, expected, &count)) {
            all += p + "; ";
        }
        if (row.expected == nullptr) {
            EXPECT_EQ(all + std::to_string(count), "4") << row.name; // no problems, 4 documents
        } else {
            EXPECT_NE(all.find(row.expected), std::string::npos) << row.name << ": " << all;
        }
    }
}

TEST(RecordedRun, ReplayMustRepeatBytesAndGaps)
{
    const std::string recorded = record_of([](Documents*) {}, 0);
    struct Row {
        const char* name;
        std::string seen;
        const char* expected; // in the problems; null for a faithful replay
    } rows[] = {
        {"faithful", record_of([](Documents*) {}, 0), nullptr},
        {"a byte changed", record_of([](Documents* d) { (*d)[1]["speed"] = 1; }, 0), "document 2 differs"},
        {"a document lost", record_of([](Documents* d) { d->pop_back(); }, 0), "3 documents seen of 4"},
        {"all at once", record_of([](Documents*) {}, 0, 0.0), "off its recorded time"},
    };
    for (const Row& row : rows) {
        std::string all;
        for (const std::string& p : replay_problems(recorded, row.seen, 0.1)) all += p + "; ";
        if (row.expected == nullptr) {
            EXPECT_EQ(all, "") << row.name;
        } else {
            EXPECT_NE(all.find(row.expected), std::string::npos) << row.name << ": " << all;
        }
    }
}

} // namespace
