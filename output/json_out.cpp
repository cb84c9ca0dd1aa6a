#include "output/json_out.h"

#include <charconv>
#include <cmath>
#include <cstring>

void json_begin(JsonOut* out, std::FILE* file)
{
    out->file = file;
    out->used = 0;
}

// A short write leaves its mark in the stream's own error flag, which json_end reads.
static void json_flush(JsonOut* out)
{
    if (out->used != 0) (void)std::fwrite(out->buf, 1, out->used, out->file);
    out->used = 0;
}

void json_bytes_spill(JsonOut* out, const char* bytes, size_t n)
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

// The escape of every control byte, eight bytes a row so that one store writes it (the two
// bytes past the escape are overwritten by whatever comes next).
#define JSON_ESC(c) {'\\', 'u', '0', '0', "0123456789abcdef"[(c) >> 4], "0123456789abcdef"[(c) & 15], 0, 0}
#define JSON_ESC4(c) JSON_ESC(c), JSON_ESC(c + 1), JSON_ESC(c + 2), JSON_ESC(c + 3)
static const char CONTROL_ESCAPES[32][8] = {
    JSON_ESC4(0x00), JSON_ESC4(0x04), JSON_ESC4(0x08), JSON_ESC4(0x0C),
    JSON_ESC4(0x10), JSON_ESC4(0x14), JSON_ESC4(0x18), JSON_ESC4(0x1C),
};

void write_json_string(JsonOut* out, const char* text)
{
    const unsigned char* s = (const unsigned char*)text;
    JSON_LIT(out, "\"");
    unsigned char c = 1;
    while (c != 0) {
        // No byte of text takes more than eight bytes of the buffer (six for an escape, two
        // more from its row), so while eight are left the loop needs no other check of the
        // buffer. A text full of control bytes is the largest document there is; a call per
        // escape was most of its cost.
        if (sizeof out->buf - out->used < 8) json_flush(out);
        char* p = out->buf + out->used;
        char* last = out->buf + sizeof out->buf - 8;
        while (p <= last) {
            c = *s;
            if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
                *p++ = (char)c;
                s++;
            } else if (c < 0x20) {
                if (c == 0) break;
                std::memcpy(p, CONTROL_ESCAPES[c], 8);
                p += 6;
                s++;
            } else if (c == '"' || c == '\\') {
                p[0] = '\\';
                p[1] = (char)c;
                p += 2;
                s++;
            } else {
                size_t len = utf8_sequence_length(s);
                if (len == 0) {
                    std::memcpy(p, "\xEF\xBF\xBD", 3);
                    p += 3;
                    s++;
                } else {
                    std::memcpy(p, s, len);
                    p += len;
                    s += len;
                }
            }
        }
        out->used = (size_t)(p - out->buf);
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
    return std::fflush(out->file) == 0 && !std::ferror(out->file);
}
