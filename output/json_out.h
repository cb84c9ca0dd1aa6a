// The snapshot's JSON writer: pieces of text, JSON strings and numbers, formatted straight
// into a file stream through a small staging buffer (no heap, one fwrite per 512 bytes
// instead of a locked runtime call per byte).
#ifndef QAV_OUTPUT_JSON_OUT_H
#define QAV_OUTPUT_JSON_OUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

struct JsonOut {
    std::FILE* file;
    size_t used;   // bytes staged in buf
    char buf[512];
};

void json_begin(JsonOut* out, std::FILE* file);

// Bytes that do not fit what is left of the buffer: flushed in pieces.
void json_bytes_spill(JsonOut* out, const char* bytes, size_t n);

// Nearly every piece is a few bytes and fits; inline, a literal's copy becomes a few moves
// instead of a call per piece.
inline void json_bytes(JsonOut* out, const char* bytes, size_t n)
{
    if (n <= sizeof out->buf - out->used) {
        std::memcpy(out->buf + out->used, bytes, n);
        out->used += n;
        return;
    }
    json_bytes_spill(out, bytes, n);
}

// A literal piece, written byte for byte.
#define JSON_LIT(out, text) json_bytes((out), (text), sizeof(text) - 1)

// A JSON string: `"` and `\` get a backslash, bytes 0x01-0x1F become \u00XX, valid UTF-8
// passes through untouched, and any byte that does not begin a complete, valid UTF-8
// sequence becomes U+FFFD, so the document stays UTF-8 whatever the host hands over.
void write_json_string(JsonOut* out, const char* text);

void json_u64(JsonOut* out, uint64_t value);

// Fixed point with `decimals` digits, correctly rounded from the exact binary value (ties
// to even) and independent of the process locale; `null` for a non-finite value, which
// JSON cannot carry.
void json_fixed(JsonOut* out, double value, int decimals);

// Hands the staged bytes to the stream and flushes it. False when any write failed.
bool json_end(JsonOut* out);

#endif
