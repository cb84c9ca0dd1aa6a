// The judge of hostsim's recorded runs: a good run passes and each way a run goes wrong is
// named; the end-to-end drives are only as strict as this.
#include "tests/tools/recorded_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace {

using Json = nlohmann::ordered_json;
using Documents = std::vector<Json>;

// Load, start, a job at a paced write, closing: P-0,R-0,RJ0,P-0.
std::string record_of(void (*change)(Documents*), size_t cut)
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
    for (const Json& doc : d) bytes += doc.dump() + "\n";
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
    };
    for (const Row& row : rows) {
        std::string bytes = record_of(row.change, row.cut);
        size_t count = 0;
        std::string all;
        for (const std::string& p : recorded_run_problems(bytes, {"P-0", "R-0", "RJ0", "P-0"}, &count)) {
            all += p + "; ";
        }
        if (row.expected == nullptr) {
            EXPECT_EQ(all + std::to_string(count), "4") << row.name; // no problems, 4 documents
        } else {
            EXPECT_NE(all.find(row.expected), std::string::npos) << row.name << ": " << all;
        }
    }
}

} // namespace
