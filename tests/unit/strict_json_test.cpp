// Every document the writer can produce, judged by the document check: invalid UTF-8,
// control bytes, texts at their capacity, non-finite and extreme numbers. Valid UTF-8 must
// come back from a strict parser exactly as the host gave it.
#include "support/document.h"
#include "tests/unit/fixture.h"

#include <nlohmann/json.hpp>

#include <cfloat>
#include <random>

namespace {

TelemetryState full_record()
{
    TelemetryState s;
    std::memset(&s, 0, sizeof s);
    s.hasJob = 1;
    return s;
}

std::string render(const TelemetryState& s, uint64_t written = UINT64_MAX)
{
    return snapshot_text(s, UINT32_MAX, written);
}

// Text as the host might send it: UTF-8 of every length with control bytes, quotes and
// backslashes; every other text also has bytes that break a sequence.
std::string host_text(std::mt19937& rng)
{
    static const char* const pieces[] = {
        "a", "\"", "\\", "/", "\x01", "\x1f", "\x7f", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x9A\x9A",
        "\xEF\xBF\xBD",
        // broken: cut sequences, stray continuations, overlong forms, surrogates, too large
        "\xC3", "\xE2\x82", "\xF0\x9F\x9A", "\x80", "\xBF", "\xC0\xAF", "\xED\xA0\x80",
        "\xF4\x90\x80\x80", "\xFE", "\xFF", "\xE0\x80\x80"};
    const size_t valid = 11, all = sizeof pieces / sizeof pieces[0];
    const size_t choices = rng() % 2 ? valid : all;
    std::string s;
    size_t n = rng() % 60;
    for (size_t i = 0; i < n; i++) s += pieces[rng() % choices];
    return s;
}

std::string text_field(const TelemetryState& s, const VocabularyRow& row)
{
    return (const char*)&s + row.offset;
}

bool valid_utf8(const std::string& text)
{
    try {
        (void)nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

} // namespace

TEST(StrictJson, TheJudgeRefusesWhatJsonForbids)
{
    const std::string good = render(full_record());
    ASSERT_EQ(document_problem(good), "") << good;
    auto with = [&](const char* from, const char* to) {
        std::string doc = good;
        size_t at = doc.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return doc.replace(at, std::strlen(from), to);
    };
    const std::string bad[] = {
        "",
        good.substr(0, good.size() - 1),                 // no line feed: cut short
        good.substr(0, good.size() / 2),                 // half a document
        with("\"speed\":0.00", "\"speed\":NaN"),
        with("\"lastEvent\":\"\"", "\"lastEvent\":\"\xFF\""),
        with("\"lastEvent\":\"\"", "\"lastEvent\":\"\x01\""),
        with("}\n", "}\r\n"),
        with("}\n", "}{}\n"),
        with("\"eventSeq\":0", "\"eventSeq\":-1"),
        with("\"paused\":false", "\"paused\":\"false\""),
        with("\"gameVersion\":\"0.0\"", "\"gameVersion\":\"00.0\""), // the schema's pattern
    };
    for (const std::string& doc : bad) EXPECT_NE(document_problem(doc), "") << doc;
}

TEST(StrictJson, ExtremeNumbersStayValid)
{
    const double doubles[] = {0.0, -0.0, 0.005, -0.005, 1e300, -DBL_MAX, DBL_MAX, DBL_MIN,
                              4.9e-324, std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity()};
    const float floats[] = {0.0f, -0.0f, FLT_MAX, -FLT_MAX, FLT_MIN, 1e-45f,
                            std::numeric_limits<float>::quiet_NaN(),
                            -std::numeric_limits<float>::infinity()};
    TelemetryState s = full_record();
    s.gameVersion = UINT32_MAX;
    s.gameTime = UINT32_MAX;
    s.income = UINT64_MAX;
    s.deliveryTime = UINT32_MAX;
    s.plannedKm = UINT32_MAX;
    s.eventSeq = UINT32_MAX;
    for (double d : doubles) {
        for (float f : floats) {
            s.position = {d, -d, d};
            s.speed = f;
            s.cargoMass = f;
            std::string doc = render(s);
            EXPECT_EQ(document_problem(doc), "") << doc;
        }
    }
}

TEST(StrictJson, HostTextOfEveryKindStaysValidAndValidUtf8RoundTrips)
{
    std::mt19937 rng(20261208);
    int documents = 0, round_trips = 0;
    for (int i = 0; i < 3000; i++) {
        TelemetryState s = full_record();
        s.hasJob = i % 5 != 0;
        TEXT_STORE(s.game, host_text(rng).c_str());
        TEXT_STORE(s.lastEvent, host_text(rng).c_str());
        for (const VocabularyRow& row : JOB_ATTRIBUTES) {
            if (row.type != HOST_TYPE_STRING) continue;
            text_store((char*)&s + row.offset, row.size, host_text(rng).c_str());
        }
        std::string doc = render(s, (uint64_t)i);
        ASSERT_EQ(document_problem(doc), "") << doc;
        documents++;

        // Valid UTF-8 passes through untouched: the parser gives back the stored bytes.
        nlohmann::json root = nlohmann::json::parse(doc);
        auto same = [&](const std::string& stored, const nlohmann::json& value) {
            if (!valid_utf8(stored)) return;
            EXPECT_EQ(value.get<std::string>(), stored);
            round_trips++;
        };
        same(s.game, root["game"]);
        same(s.lastEvent, root["lastEvent"]);
        if (!s.hasJob) continue;
        for (const VocabularyRow& row : JOB_ATTRIBUTES) {
            if (row.type == HOST_TYPE_STRING) same(text_field(s, row), root["job"][row.key]);
        }
    }
    EXPECT_GT(round_trips, documents) << "the generator must also make valid UTF-8";
}
