// The document check: it must agree with docs/telemetry.schema.json on every shared case
// (the same table is run through a JSON Schema validator), and refuse what only bytes can
// show: a second line, a missing line feed, bytes that are not UTF-8.
#include "support/document.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <sstream>

namespace {

using Json = nlohmann::ordered_json;

Json load_cases()
{
    std::ifstream in(QAV_DOCUMENT_CASES);
    std::stringstream text;
    text << in.rdbuf();
    return Json::parse(text.str());
}

std::string bytes_of(const Json& doc) { return doc.dump() + "\n"; }

// The same changes as check_documents.py makes.
Json mutate(const Json& base, const Json& c)
{
    Json doc = base;
    if (c.contains("set")) {
        for (auto it = c["set"].begin(); it != c["set"].end(); ++it) doc[it.key()] = it.value();
    }
    if (c.contains("remove")) {
        for (const Json& key : c["remove"]) doc.erase(key.get<std::string>());
    }
    if (doc["job"].is_object()) {
        if (c.contains("setJob")) {
            for (auto it = c["setJob"].begin(); it != c["setJob"].end(); ++it) {
                doc["job"][it.key()] = it.value();
            }
        }
        if (c.contains("removeJob")) {
            for (const Json& key : c["removeJob"]) doc["job"].erase(key.get<std::string>());
        }
    }
    return doc;
}

TEST(Document, AgreesWithTheSchemaOnEveryCase)
{
    Json table = load_cases();
    ASSERT_GT(table["cases"].size(), 10u);
    for (const Json& c : table["cases"]) {
        DocumentView view;
        std::string why = document_problem(bytes_of(mutate(table["base"], c)), &view);
        EXPECT_EQ(why.empty(), c["valid"].get<bool>()) << c["name"] << ": " << why;
    }
}

TEST(Document, RefusesWhatOnlyTheBytesShow)
{
    std::string good = bytes_of(load_cases()["base"]);
    std::string body = good.substr(0, good.size() - 1);
    Json moved = load_cases()["base"];
    moved.erase("plugin");
    moved["plugin"] = "QAV"; // now the last member
    std::string bad_utf8 = good;
    bad_utf8.replace(bad_utf8.find("steel_coils"), 5, "st\xFF\xFEl");
    struct Row {
        const char* name;
        std::string bytes;
    } rows[] = {
        {"empty", ""},
        {"no line feed", body},
        {"CRLF", body + "\r\n"},
        {"two documents", good + good},
        {"a blank line after", good + "\n"},
        {"half a document", good.substr(0, good.size() / 2) + "\n"},
        {"members out of order", bytes_of(moved)},
        {"not UTF-8", bad_utf8},
        {"an array", "[1]\n"},
    };
    ASSERT_EQ(document_problem(good), "");
    DocumentView view;
    for (const Row& r : rows) EXPECT_NE(document_problem(r.bytes, &view), "") << r.name;
}

TEST(Document, ViewCarriesWhatTheReaderPrints)
{
    Json table = load_cases();
    Json doc = table["base"];
    doc["speed"] = nullptr;
    doc["paused"] = true;
    doc["eventSeq"] = 7;
    doc["lastEvent"] = "toll.paid";
    DocumentView view;
    ASSERT_EQ(document_problem(bytes_of(doc), &view), "");
    EXPECT_TRUE(view.paused);
    EXPECT_TRUE(std::isnan(view.speed));
    EXPECT_EQ(view.eventSeq, 7u);
    EXPECT_EQ(view.lastEvent, "toll.paid");
    EXPECT_TRUE(view.hasJob);
    EXPECT_EQ(view.cargo, "Steel \"coils\"");
    EXPECT_EQ(view.sourceCity, "Z\xC3\xBCrich");
    EXPECT_EQ(view.written, 123456789u);
    doc["job"] = nullptr;
    ASSERT_EQ(document_problem(bytes_of(doc), &view), "");
    EXPECT_FALSE(view.hasJob);
    EXPECT_EQ(view.cargo, "");
}

} // namespace
