// The byte-level rules of the document: how host text is kept, how it is escaped, how
// numbers are printed.
#include "tests/unit/fixture.h"

#include <cmath>
#include <limits>

struct TextCase {
    const char* name;
    std::string src;
    size_t cap;
    std::string kept;
};

TEST(TextStore, KeepsWhatFitsAndNeverSplitsACharacter)
{
    const std::string e_acute = "\xC3\xA9";        // 2 bytes
    const std::string euro = "\xE2\x82\xAC";       // 3 bytes
    const std::string emoji = "\xF0\x9F\x9A\x9A";  // 4 bytes
    const TextCase cases[] = {
        {"short", "abc", 16, "abc"},
        {"exactly cap-1", std::string(15, 'a'), 16, std::string(15, 'a')},
        {"one too many", std::string(20, 'a'), 16, std::string(15, 'a')},
        {"200 bytes into cargo", std::string(200, 'c'), 128, std::string(127, 'c')},
        {"200 bytes into an id", std::string(200, 'i'), 64, std::string(63, 'i')},
        {"2-byte char cut after lead", std::string(14, 'a') + e_acute, 16, std::string(14, 'a')},
        {"2-byte char fits", std::string(13, 'a') + e_acute + "z", 16,
         std::string(13, 'a') + e_acute},
        {"3-byte char cut in middle", std::string(13, 'a') + euro, 16, std::string(13, 'a')},
        {"4-byte char cut after 3", std::string(12, 'a') + emoji, 16, std::string(12, 'a')},
        {"4-byte char cut after 1", std::string(14, 'a') + emoji, 16, std::string(14, 'a')},
        {"4-byte char fits exactly", std::string(11, 'a') + emoji + "b", 16,
         std::string(11, 'a') + emoji},
        // Not UTF-8 at all: stray continuation bytes are cut by bytes; the writer repairs them.
        {"stray continuations", std::string(20, '\x80'), 16, std::string(15, '\x80')},
        {"empty", "", 16, ""},
    };
    for (const TextCase& c : cases) {
        char field[128];
        std::memset(field, 'X', sizeof field);
        text_store(field, c.cap, c.src.c_str());
        EXPECT_EQ(std::string(field), c.kept) << c.name;
    }
    char field[8] = "old";
    text_store(field, sizeof field, nullptr);
    EXPECT_STREQ(field, "") << "a null source empties the field";
}

static std::string json_string(const std::string& s)
{
    return render_to_string([&](JsonOut* out) { write_json_string(out, s.c_str()); });
}

TEST(JsonString, EscapesExactlyWhatJsonNeeds)
{
    const struct {
        std::string in, out;
    } cases[] = {
        {"plain", "\"plain\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\cities", "\"C:\\\\cities\""},
        {"a/b", "\"a/b\""},
        {"\x01", "\"\\u0001\""},
        {"tab\there", "\"tab\\u0009here\""},
        {"line\nfeed\r", "\"line\\u000afeed\\u000d\""},
        {"\x1f\x7f", "\"\\u001f\x7f\""},
        {"M\xC3\xBCnchen \xC5\x81\xC3\xB3\xC4\x91", "\"M\xC3\xBCnchen \xC5\x81\xC3\xB3\xC4\x91\""},
        {"\xE2\x82\xAC \xF0\x9F\x9A\x9A", "\"\xE2\x82\xAC \xF0\x9F\x9A\x9A\""},
        {"", "\"\""},
        // Bytes that are not UTF-8 become U+FFFD, one per byte, the rest kept.
        {"a\xFF" "b", "\"a\xEF\xBF\xBD" "b\""},
        {"\xC3", "\"\xEF\xBF\xBD\""},                                // truncated at the end
        {"\xC3(", "\"\xEF\xBF\xBD(\""},                              // lead without continuation
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                // overlong '/'
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""}, // surrogate
        {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""}, // > U+10FFFF
        {"\xE2\x82", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    for (const auto& c : cases) EXPECT_EQ(json_string(c.in), c.out) << c.in;
}

TEST(JsonString, LongTextCrossesTheStagingBuffer)
{
    std::string in, expected = "\"";
    for (int i = 0; i < 1000; i++) {
        in += "\"a\x02";
        expected += "\\\"a\\u0002";
    }
    expected += "\"";
    EXPECT_EQ(json_string(in), expected);
}

TEST(JsonNumbers, FixedPointIsCorrectlyRoundedAndLocaleFree)
{
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        int decimals;
        const char* out;
    } cases[] = {
        {0.0, 2, "0.00"},
        {0.125, 2, "0.12"},  // exact tie: to even
        {0.375, 2, "0.38"},  // exact tie: to even
        {2.675, 2, "2.67"},  // just below the tie in binary
        {1.005, 2, "1.00"},
        {-12345.678, 2, "-12345.68"},
        {-0.0, 2, "-0.00"},
        {-0.001, 2, "-0.00"},
        {1e15, 2, "1000000000000000.00"},
        {0.05, 1, "0.1"},
        {0.25, 1, "0.2"},
        {(double)19.3f, 1, "19.3"},
        {(double)22.5f, 2, "22.50"},
        {inf, 2, "null"},
        {-inf, 2, "null"},
        {std::nan(""), 1, "null"},
    };
    for (const auto& c : cases) {
        std::string s = render_to_string([&](JsonOut* out) { json_fixed(out, c.value, c.decimals); });
        EXPECT_EQ(s, c.out) << c.value;
    }
    std::string huge = render_to_string([](JsonOut* out) { json_fixed(out, 1.7976931348623157e308, 2); });
    EXPECT_EQ(huge.size(), 309u + 3u);
    EXPECT_EQ(huge.substr(0, 6), "179769");
    EXPECT_EQ(render_to_string([](JsonOut* out) { json_u64(out, UINT64_MAX); }),
              "18446744073709551615");
}

// Every way a string can meet the end of the staging buffer: the same mixed text written
// after 0 to 600 bytes of padding, so each kind of byte lands on every position near a flush.
TEST(JsonString, EscapesAreWholeAtEveryBufferPosition)
{
    const struct {
        const char* in;
        const char* out;
    } pieces[] = {
        {"plain", "plain"}, {"\"", "\\\""}, {"\\", "\\\\"}, {"\x01", "\\u0001"},
        {"\x1f", "\\u001f"}, {"\xC3\xBC", "\xC3\xBC"}, {"\xF0\x9F\x9A\x9A", "\xF0\x9F\x9A\x9A"},
        {"\xFF", "\xEF\xBF\xBD"}, {"\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    std::string in, expected = "\"";
    for (int round = 0; round < 12; round++) {
        for (const auto& p : pieces) {
            in += p.in;
            expected += p.out;
        }
    }
    expected += "\"";
    for (size_t pad = 0; pad <= 600; pad++) {
        std::string padding(pad, 'p');
        std::string doc = render_to_string([&](JsonOut* out) {
            json_bytes(out, padding.data(), padding.size());
            write_json_string(out, in.c_str());
        });
        ASSERT_EQ(doc, padding + expected) << "after " << pad << " bytes";
    }
}
