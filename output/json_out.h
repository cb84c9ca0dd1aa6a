// The snapshot's JSON writer: pieces of text, JSON strings and numbers, formatted straight
// into a file stream through a small staging buffer (no heap, one fwrite per 256 bytes
// instead of a locked runtime call per byte).
#ifndef QAV_OUTPUT_JSON_OUT_H
#define QAV_OUTPUT_JSON_OUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct JsonOut {
    std::FILE* file;
    size_t used;   // bytes staged in buf
    bool failed;   // a write to the stream came up short
    char buf[256];
};

void json_begin(JsonOut* out, std::FILE* file);
void json_bytes(JsonOut* out, const char* bytes, size_t n);
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
