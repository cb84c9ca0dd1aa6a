#include "output/json_out.h"

#include <charconv>
#include <cmath>
#include <cstring>

void json_begin(JsonOut* out, std::FILE* file)
{
    out->file = file;
    out->used = 0;
    out->failed = false;
}

static void json_flush(JsonOut* out)
{
    if (out->used != 0 && std::fwrite(out->buf, 1, out->used, out->file) != out->used) {
        out->failed = true;
    }
    out->used = 0;
}

void json_bytes(JsonOut* out, const char* bytes, size_t n)
{
    while (n > 0) {
        if (out->used == sizeof out->buf) json_flush(out);
        size_t room = sizeof out->buf - out->used;
        size_t take = n < room ? n : room;
        std::memcpy(out->buf + out->used, bytes, take);
        out->used += take;
        bytes += take;
        n -= take;
    }
}

// Length of the valid UTF-8 sequence starting at `s` (lead byte >= 0x80), or 0 when the
// bytes there do not form one: no overlong forms, no surrogates, nothing above U+10FFFF.
static size_t utf8_sequence_length(const unsigned char* s)
{
    unsigned char c = s[0];
    unsigned char lo = 0x80, hi = 0xBF;
    size_t len;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (s[1] < lo || s[1] > hi) return 0; // also stops at the terminator
    for (size_t i = 2; i < len; i++) {
        if ((s[i] & 0xC0) != 0x80) return 0;
    }
    return len;
}

void write_json_string(JsonOut* out, const char* text)
{
    static const char hex[] = "0123456789abcdef";
    const unsigned char* s = (const unsigned char*)text;
    JSON_LIT(out, "\"");
    for (;;) {
        // Copy the run of bytes that need no attention in one go.
        const unsigned char* run = s;
        while (*s >= 0x20 && *s < 0x80 && *s != '"' && *s != '\\') s++;
        if (s != run) json_bytes(out, (const char*)run, (size_t)(s - run));
        unsigned char c = *s;
        if (c == 0) break;
        if (c == '"' || c == '\\') {
            char esc[2] = {'\\', (char)c};
            json_bytes(out, esc, 2);
            s++;
        } else if (c < 0x20) {
            char esc[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            json_bytes(out, esc, 6);
            s++;
        } else {
            size_t len = utf8_sequence_length(s);
            if (len == 0) {
                JSON_LIT(out, "\xEF\xBF\xBD");
                s++;
            } else {
                json_bytes(out, (const char*)s, len);
                s += len;
            }
        }
    }
    JSON_LIT(out, "\"");
}

void json_u64(JsonOut* out, uint64_t value)
{
    char digits[24];
    std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, value);
    json_bytes(out, digits, (size_t)(r.ptr - digits));
}

void json_fixed(JsonOut* out, double value, int decimals)
{
    if (!std::isfinite(value)) {
        JSON_LIT(out, "null");
        return;
    }
    // The largest double has 309 integer digits; room for sign, point and decimals.
    char digits[330];
    std::to_chars_result r =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) {
        JSON_LIT(out, "null");
        return;
    }
    json_bytes(out, digits, (size_t)(r.ptr - digits));
}

bool json_end(JsonOut* out)
{
    json_flush(out);
    if (std::fflush(out->file) != 0) out->failed = true;
    return !out->failed && !std::ferror(out->file);
}
