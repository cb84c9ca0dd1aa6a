// hostsim's scenario parser: what hand-written scenarios mean, and that every mistake is
// refused with the number of the line it is on, all of a file's mistakes in one go.
#include "tools/hostsim/hostsim.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Scenario parse_ok(const std::string& text)
{
    Scenario s;
    std::vector<ScenarioError> e;
    EXPECT_TRUE(parse_scenario(text, &s, &e)) << "line " << e[0].line << ": " << e[0].message;
    return s;
}

TEST(Scenario, BuiltInDriveHasEveryCallAndEndsWithShutdown)
{
    Scenario s = parse_ok(DEFAULT_SCENARIO);
    EXPECT_EQ(s.interface_version, (uint32_t)HOST_VERSION_1_01);
    EXPECT_NEAR(s.length(), 10.0, 1.0);
    bool seen[(int)Call::shutdown + 1] = {};
    for (const ScenarioLine& l : s.lines) seen[(int)l.call] = true;
    for (bool b : seen) EXPECT_TRUE(b);
    EXPECT_EQ(s.lines.back().call, Call::shutdown);
}

TEST(Scenario, TimesCommentsAndLayout)
{
    // A byte-order mark, CRLF line ends, tabs, blank and comment lines, relative times.
    Scenario s = parse_ok("\xEF\xBB\xBF# a drive\r\n\r\n1\tstart   # go\r\n+0.5 drive 80\n"
                          "  +0 heading -90.5\n2 position 1 -2 3.25\n2.0 shutdown\n");
    ASSERT_EQ(s.lines.size(), 5u);
    const double at[] = {1, 1.5, 1.5, 2, 2};
    const int line[] = {3, 4, 5, 6, 7};
    for (size_t i = 0; i < 5; i++) {
        EXPECT_DOUBLE_EQ(s.lines[i].at, at[i]) << i;
        EXPECT_EQ(s.lines[i].line, line[i]) << i;
    }
    EXPECT_EQ(s.lines[1].value[0], 80);
    EXPECT_EQ(s.lines[2].value[0], -90.5);
    EXPECT_EQ(s.lines[3].value[2], 3.25);
    EXPECT_EQ(parse_ok("0 shutdown").lines.size(), 1u) << "no final line feed needed";
    Scenario frozen = parse_ok("1 freeze 2.5\n1.5 start\n4 crash\n");
    EXPECT_EQ(frozen.lines[0].value[0], 2.5);
    EXPECT_EQ(frozen.lines[1].at, 1.5) << "a line inside a freeze keeps its time";
    EXPECT_EQ(frozen.lines.back().call, Call::crash) << "a crash ends a scenario too";
}

TEST(Scenario, LoadSetsWhatTheHostTellsThePlugin)
{
    struct Row {
        const char* line;
        uint32_t interface_version;
        const char* game;
        uint32_t game_version;
    } rows[] = {
        {"0 load", HOST_VERSION_1_01, "haulsim", 0x00010012},
        {"0 load interface=1.00", HOST_VERSION_1_00, "haulsim", 0x00010012},
        {"0 load interface=0x00010002 game=\"my game\" version=2.5", 0x00010002, "my game",
         0x00020005},
        {"0 load game= version=65535.0", HOST_VERSION_1_01, "", 0xFFFF0000},
    };
    for (const Row& r : rows) {
        Scenario s = parse_ok(std::string(r.line) + "\n1 shutdown\n");
        EXPECT_EQ(s.interface_version, r.interface_version) << r.line;
        EXPECT_EQ(s.game, r.game) << r.line;
        EXPECT_EQ(s.game_version, r.game_version) << r.line;
        EXPECT_EQ(s.lines.size(), 1u) << "load is not played as a line";
    }
}

TEST(Scenario, JobAttributesAreTypedAsTheHostTypesThem)
{
    Scenario s = parse_ok(
        "0 job cargo=\"Wood \\\"pine\\\" \\\\ \\x41\\xff\\n\" source.city=Aldmoor cargo=again "
        "income=18446744073709551615 cargo.mass=nan delivery.time=4294967295 "
        "planned_distance.km=0 destination.city=\"\"\n"
        "1 job\n2 event \"toll # paid\"\n3 shutdown\n");
    const std::vector<JobAttribute>& a = s.lines[0].attributes;
    ASSERT_EQ(a.size(), 8u);
    EXPECT_EQ(a[0].type, (uint32_t)HOST_TYPE_STRING);
    EXPECT_EQ(a[0].text, "Wood \"pine\" \\ A\xff\n");
    EXPECT_EQ(a[2].text, "again") << "a repeated attribute is passed on twice, in order";
    EXPECT_EQ(a[3].type, (uint32_t)HOST_TYPE_U64);
    EXPECT_EQ(a[3].integer, UINT64_MAX);
    EXPECT_EQ(a[4].type, (uint32_t)HOST_TYPE_FLOAT);
    EXPECT_TRUE(std::isnan(a[4].number));
    EXPECT_EQ(a[5].type, (uint32_t)HOST_TYPE_U32);
    EXPECT_EQ(a[5].integer, UINT32_MAX);
    EXPECT_EQ(a[7].text, "");
    EXPECT_TRUE(s.lines[1].attributes.empty()) << "a job without attributes: no job";
    EXPECT_EQ(s.lines[2].id, "toll # paid");
}

TEST(Scenario, MistakesNameTheirLine)
{
    struct Row {
        std::string text;
        int line;
        const char* message; // a part of the message
    } rows[] = {
        {"", 1, "does not end with a 'shutdown'"},
        {"# nothing\n\n", 2, "does not end with a 'shutdown'"},
        {"0 start\n1 pause\n", 2, "does not end with a 'shutdown'"},
        {"0 start\n\n1 pasue\n2 shutdown\n", 3, "unknown command 'pasue'"},
        {"soon start\n1 shutdown", 1, "starts with its time"},
        {"-1 start\n1 shutdown", 1, "starts with its time"},
        {"nan start\n1 shutdown", 1, "starts with its time"},
        {"1e9 start\n1 shutdown", 1, "from 0 to 86400"},
        {"86000 start\n+500 shutdown", 2, "at most a day, 86400 s"},
        {"1.5s start\n2 shutdown", 1, "starts with its time"},
        {"2 start\n1 pause\n3 shutdown", 2, "before the previous line"},
        {"0 start\n1\n2 shutdown", 2, "not followed by a command"},
        {"0 start now\n1 shutdown", 1, "'start' takes no arguments"},
        {"0 drive\n1 shutdown", 1, "'drive' takes one number"},
        {"0 drive fast\n1 shutdown", 1, "'fast' is not a number"},
        {"0 drive 300\n1 shutdown", 1, "'300' is not a number from -50 to 250"},
        {"0 drive nan\n1 shutdown", 1, "'nan' is not a number"},
        {"0 heading 1 2\n1 shutdown", 1, "'heading' takes one number"},
        {"0 position 1 2\n1 shutdown", 1, "'position' takes three numbers"},
        {"0 position 1 2 1e999\n1 shutdown", 1, "'1e999' is not a number (nan, inf"},
        {"0 speed\n1 shutdown", 1, "'speed' takes one number: the speed in m/s"},
        {"0 speed 1 2\n1 shutdown", 1, "'speed' takes one number"},
        {"0 speed fast\n1 shutdown", 1, "'fast' is not a number"},
        // Control bytes of the file's own are shown escaped, never sent to the console raw.
        {"0 strat\x1b[2J\n1 shutdown", 1, "unknown command 'strat\\x1B[2J'"},
        {"0 job cargo\x7f=\"\x01\"\n1 shutdown", 1, "unknown job attribute 'cargo\\x7F'"},
        {"0 drive \"\\x0d5\"\n1 shutdown", 1, "'\\x0D5' is not a number"},
        {"\x01 start\n1 shutdown", 1, "not '\\x01'"},
        // UTF-16, as some editors save "Unicode": both byte orders, with or without a mark.
        {std::string("\xFF\xFE" "0\0 \0s\0", 8), 1, "UTF-16 (some editors' \"Unicode\"): save it as UTF-8"},
        {std::string("\xFE\xFF\0" "0", 4), 1, "save it as UTF-8"},
        {std::string("0\0 \0s\0h\0", 8), 1, "save it as UTF-8"},
        {std::string("\0" "0\0 \0s\0h", 8), 1, "save it as UTF-8"},
        {"0 freeze -1\n1 shutdown", 1, "'freeze' takes one number: how long"},
        {"0 crash now", 1, "'crash' takes no arguments"},
        {"0 crash\n1 start\n2 pause", 2, "follow the crash on line 1"},
        {"0 event\n1 shutdown", 1, "'event' takes one identifier"},
        {"0 event a b\n1 shutdown", 1, "'event' takes one identifier"},
        {"0 job cargo\n1 shutdown", 1, "'cargo' has no value"},
        {"0 job weight=5\n1 shutdown", 1, "unknown job attribute 'weight'"},
        {"0 job income=-1\n1 shutdown", 1, "'income' needs a whole number"},
        {"0 job income=18446744073709551616\n1 shutdown", 1, "'income' needs a whole number"},
        {"0 job delivery.time=4294967296\n1 shutdown", 1, "from 0 to 4294967295"},
        {"0 job cargo.mass=heavy\n1 shutdown", 1, "'cargo.mass' needs a number"},
        {"0 job cargo=\"open\n1 shutdown", 1, "not closed"},
        {"0 event \"a\\qb\"\n1 shutdown", 1, "unknown escape"},
        {"0 event \"a\\x4\"\n1 shutdown", 1, "unknown escape"},
        {"0 event \"a\\x00b\"\n1 shutdown", 1, "NUL"},
        {std::string("0 event a\0b\n1 shutdown", 22), 1, "NUL byte"},
        {"0 shutdown\n\n1 start", 3, "follow the shutdown on line 1"},
        {"0 shutdown\n0 shutdown", 2, "follow the shutdown on line 1"},
        {"0 start\n0 load\n1 shutdown", 2, "'load' must be the first call"},
        {"1 load\n2 shutdown", 1, "'load' must be the first call"},
        {"0 load interface=2.0\n1 shutdown", 1, "interface must be"},
        {"0 load interface=0x1g\n1 shutdown", 1, "interface must be"},
        {"0 load version=1\n1 shutdown", 1, "version must be MAJOR.MINOR"},
        {"0 load version=70000.1\n1 shutdown", 1, "version must be MAJOR.MINOR"},
        {"0 load color=red\n1 shutdown", 1, "'load' takes"},
        {"# one\r\n# two\r\n0 strat\r\n1 shutdown\r\n", 3, "unknown command 'strat'"},
        {"\xEF\xBB\xBF" "0 strat\n1 shutdown", 1, "unknown command 'strat'"},
    };
    for (const Row& r : rows) {
        Scenario s;
        std::vector<ScenarioError> e;
        EXPECT_FALSE(parse_scenario(r.text, &s, &e)) << r.text;
        ASSERT_EQ(e.size(), 1u) << r.text << "\n" << e.back().message;
        EXPECT_EQ(e[0].line, r.line) << r.text << "\n" << e[0].message;
        EXPECT_NE(e[0].message.find(r.message), std::string::npos) << r.text << "\n" << e[0].message;
        for (unsigned char c : e[0].message) EXPECT_TRUE(c >= 0x20 && c != 0x7F) << e[0].message;
    }
}

TEST(Scenario, PositionAndSpeedTakeAnyDouble)
{
    // The largest and the null values of a document come from these.
    Scenario s = parse_ok("0 position -1.7976931348623157e308 4.9e-324 nan\n0 position inf -inf -nan\n"
                          "0 speed -3.4028234663852886e38\n0 speed -inf\n0 speed nan\n1 shutdown\n");
    ASSERT_EQ(s.lines.size(), 6u);
    EXPECT_EQ(s.lines[0].value[0], -1.7976931348623157e308);
    EXPECT_EQ(s.lines[0].value[1], 4.9e-324);
    EXPECT_TRUE(std::isnan(s.lines[0].value[2]));
    EXPECT_EQ(s.lines[1].value[0], HUGE_VAL);
    EXPECT_EQ(s.lines[1].value[1], -HUGE_VAL);
    EXPECT_TRUE(std::isnan(s.lines[1].value[2]));
    EXPECT_EQ(s.lines[2].call, Call::speed);
    EXPECT_EQ(s.lines[2].value[0], -3.4028234663852886e38);
    EXPECT_EQ(s.lines[3].value[0], -HUGE_VAL);
    EXPECT_TRUE(std::isnan(s.lines[4].value[0]));
}

TEST(Scenario, ListsEveryMistakeAtOnce)
{
    Scenario s;
    std::vector<ScenarioError> e;
    // A mistake does not hide the next one, nor shift the time the lines after it are
    // measured from.
    EXPECT_FALSE(parse_scenario("0 strat\n1 drive 999\n+1 pause\n1.5 start\n3 job weight=5\n"
                                "4 freeze\n", &s, &e));
    const int lines[] = {1, 2, 4, 5, 6, 6};
    const char* messages[] = {"'strat'", "from -50 to 250", "comes before", "'weight'",
                              "'freeze' takes", "does not end"};
    ASSERT_EQ(e.size(), 6u);
    for (size_t i = 0; i < 6; i++) {
        EXPECT_EQ(e[i].line, lines[i]) << i << ": " << e[i].message;
        EXPECT_NE(e[i].message.find(messages[i]), std::string::npos) << i << ": " << e[i].message;
    }
    std::string many;
    for (int i = 0; i < 30; i++) many += "0 strat\n";
    EXPECT_FALSE(parse_scenario(many + "1 shutdown\n", &s, &e));
    EXPECT_EQ(e.size(), (size_t)SCENARIO_ERRORS_KEPT);
    EXPECT_EQ(e.back().line, SCENARIO_ERRORS_KEPT);
}

TEST(Scenario, DamagedFilesNeverCrashTheParser)
{
    // Bytes of the built-in drive overwritten, dropped or repeated, under the sanitizers:
    // every outcome is a scenario or an error naming a line that exists.
    const std::string original = DEFAULT_SCENARIO;
    const char bytes[] = {'"', '\\', '=', '#', '+', '\n', '\r', '\0', ' ', 'x', '9', '.', '\xFF'};
    std::mt19937 random(5);
    for (int round = 0; round < 3000; round++) {
        std::string text = original;
        for (int edits = 1 + round % 4; edits > 0 && !text.empty(); edits--) {
            size_t at = random() % text.size();
            switch (random() % 3) {
            case 0: text[at] = bytes[random() % sizeof bytes]; break;
            case 1: text.erase(at, 1 + random() % 8); break;
            default: text.insert(at, text.substr(at, random() % 16)); break;
            }
        }
        Scenario s;
        std::vector<ScenarioError> errors;
        int lines = 1;
        for (char c : text) lines += c == '\n';
        if (parse_scenario(text, &s, &errors)) {
            ASSERT_FALSE(s.lines.empty());
            EXPECT_TRUE(s.lines.back().call == Call::shutdown || s.lines.back().call == Call::crash);
        }
        for (const ScenarioError& e : errors) {
            EXPECT_GE(e.line, 1) << text;
            EXPECT_LE(e.line, lines) << text;
            EXPECT_FALSE(e.message.empty()) << text;
        }
    }
}

TEST(Recording, ReadBackOrRefusedNamingTheLine)
{
    const std::string doc = "{\"at\":1.5,\"cause\":\"load\",\"document\":\"{}\\n\"}";
    std::vector<Recorded> out;
    RecordingError e;
    ASSERT_TRUE(parse_recording(doc + "\r\n" + doc + "\n\n \r\n", &out, &e)) << e.message;
    ASSERT_EQ(out.size(), 2u) << "blank lines at the end are no documents";
    EXPECT_EQ(out[1].at, 1.5);
    EXPECT_EQ(out[1].document, "{}\n");
    struct Row {
        std::string text;
        int line;
        const char* message;
    } rows[] = {
        {"", 1, "the recording is empty"},
        {"\n\n", 2, "the recording is empty"},
        {doc + "\n{\"at\":1e19,\"document\":\"\"}", 2, "'at' is 1e+19 s; a recording's times run from 0"},
        {doc + "\n{\"at\":1e300,\"document\":\"\"}", 2, "'at' is 1e+300 s"},
        {"{\"at\":-1,\"document\":\"\"}", 1, "'at' is -1 s"},
        {doc + "\n{\"at\":1,\"document\":\"\"}", 2, "'at' 1 comes before the previous line's 1.5"},
        {doc + "\n\n[1]\n", 3, "not a recording line"},
        {"{\"at\":1,\"document\":\"\"", 1, "not a recording line"},
        {"{\"at\":\"1\",\"document\":\"\"}", 1, "'at' must be a number"},
        {"{\"at\":1,\"document\":{}}", 1, "'document' must be a string"},
    };
    for (const Row& r : rows) {
        EXPECT_FALSE(parse_recording(r.text, &out, &e)) << r.text;
        EXPECT_EQ(e.line, r.line) << r.text << "\n" << e.message;
        EXPECT_NE(e.message.find(r.message), std::string::npos) << r.text << "\n" << e.message;
    }
}

TEST(Recording, RestampChangesOnlyPidAndWritten)
{
    const std::string tail = ",\"game\":\"\\\"pid\\\":1,\",\"job\":{\"pid\":3},\"eventSeq\":0}\n";
    EXPECT_EQ(restamp("{\"plugin\":\"QAV\",\"pid\":21696,\"written\":1668746" + tail, 7, 18446744073709551615u),
              "{\"plugin\":\"QAV\",\"pid\":7,\"written\":18446744073709551615" + tail);
    EXPECT_EQ(restamp("{\"pid\":null,\"written\": 5}", 7, 9), "{\"pid\":null,\"written\": 9}");
}

// A session's documents restamped as this process's: a reader tells the sessions apart only
// by the load document that begins each.
TEST(Recording, RestampKeepsSessionsApartOrRefuses)
{
    std::ifstream cases(QAV_DOCUMENT_CASES);
    const nlohmann::ordered_json base = nlohmann::ordered_json::parse(cases)["base"];
    // pid, written, and whether the document is a load document; pid 0 for one that is not a
    // QAV document at all.
    struct Doc {
        uint32_t pid;
        uint64_t written;
        bool load;
    };
    struct Row {
        const char* name;
        std::vector<Doc> docs;
        const char* refusal; // the start of the message; null when it is kept apart
    } rows[] = {
        {"one session", {{1, 10, true}, {1, 20, false}, {1, 30, false}}, nullptr},
        {"a new host after a crash, from its load", {{1, 10, true}, {1, 20, false}, {2, 30, true}, {2, 40, false}}, nullptr},
        {"the same pid again after a reboot, from its load", {{1, 90, false}, {1, 10, true}}, nullptr},
        {"an invalid document between two of one session", {{1, 10, true}, {0, 0, false}, {1, 20, false}}, nullptr},
        {"a new host whose load was missed", {{1, 10, true}, {1, 20, false}, {2, 30, false}},
         "document 3 begins another session (pid 2 after pid 1) without its load document"},
        {"written goes back without a load", {{1, 90, false}, {1, 10, false}},
         "document 2 begins another session (pid 1 after pid 1)"},
        {"two hosts' documents alternating", {{1, 10, true}, {2, 15, true}, {1, 20, false}},
         "document 3 begins another session (pid 1 after pid 2)"},
    };
    for (const Row& row : rows) {
        std::vector<Recorded> docs;
        for (const Doc& d : row.docs) {
            nlohmann::ordered_json doc = base;
            doc["pid"] = d.pid;
            doc["written"] = d.written;
            doc["paused"] = d.load;
            if (d.load) {
                doc["gameTime"] = 0;
                doc["job"] = nullptr;
                doc["lastEvent"] = "";
                doc["eventSeq"] = 0;
            }
            docs.push_back({0, "", d.pid == 0 ? "not QAV\n" : doc.dump() + "\n"});
            ASSERT_EQ(d.pid == 0 || document_problem(docs.back().document).empty(), true) << row.name;
        }
        std::string refusal = restamp_problem(docs);
        if (row.refusal == nullptr) {
            EXPECT_EQ(refusal, "") << row.name;
        } else {
            EXPECT_EQ(refusal.rfind(row.refusal, 0), 0u) << row.name << ": " << refusal;
        }
    }
}

// Whatever is at the temporary name a recording would take, it is neither opened nor
// disturbed: the recording takes another name of its own and still replaces FILE when whole.
TEST(Recording, TakesATemporaryNameOfItsOwn)
{
    alarm(20); // an open that waited on a FIFO fails the test rather than hanging it
    const std::string dir = testing::TempDir() + "recording_test_" + std::to_string(getpid());
    const std::string file = dir + "/drive.jsonl", victim = dir + "/victim";
    const std::string own = file + "." + std::to_string(getpid()) + ".tmp";
    const struct {
        const char* name;
        int (*make)(const char* path, const char* victim); // what is put at the name first
    } rows[] = {
        {"nothing", [](const char*, const char*) { return 0; }},
        {"a FIFO", [](const char* p, const char*) { return mkfifo(p, 0600); }},
        {"a link to another file", [](const char* p, const char* v) { return symlink(v, p); }},
        {"a folder", [](const char* p, const char*) { return mkdir(p, 0700); }},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
        std::ofstream(victim) << "not a recording";
        // At this run's name, and at the one every run shared before.
        ASSERT_EQ(row.make(own.c_str(), victim.c_str()), 0) << row.name;
        ASSERT_EQ(row.make((file + ".tmp").c_str(), victim.c_str()), 0) << row.name;
        struct stat before, after;
        ASSERT_EQ(lstat(own.c_str(), &before) == 0, std::string(row.name) != "nothing");
        std::string error;
        Recording* r = recording_open(file, {}, &error);
        ASSERT_NE(r, nullptr) << row.name << ": " << error;
        record_document(r, 1, "load", "{}\n");
        EXPECT_EQ(recording_close(r, true), "") << row.name;
        EXPECT_EQ(read_document(file), "{\"at\":1.000,\"cause\":\"load\",\"document\":\"{}\\n\"}\n") << row.name;
        EXPECT_EQ(read_document(victim), "not a recording") << row.name;
        if (std::string(row.name) != "nothing") {
            ASSERT_EQ(lstat(own.c_str(), &after), 0) << row.name;
            EXPECT_EQ(after.st_ino, before.st_ino) << row.name;
        }
    }
    // Two runs into one FILE: each its own temporary file, and each, when it ends, leaves
    // FILE holding its whole recording and says so.
    std::string error;
    Recording* first = recording_open(file, {}, &error);
    Recording* second = recording_open(file, {}, &error);
    ASSERT_TRUE(first != nullptr && second != nullptr) << error;
    record_document(first, 1, "load", "first\n");
    record_document(second, 2, "load", "second\n");
    record_document(first, 3, "paced", "first\n");
    EXPECT_EQ(recording_close(first, true), "");
    EXPECT_NE(read_document(file).find("\"at\":3.000"), std::string::npos);
    EXPECT_EQ(recording_close(second, true), "");
    EXPECT_EQ(read_document(file), "{\"at\":2.000,\"cause\":\"load\",\"document\":\"second\\n\"}\n");
    alarm(0);
    EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}

} // namespace
