#include "state/telemetry_state.h"

#include "state/vocabulary.h"

#include <cstring>

TelemetryState g_state;

static bool is_utf8_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

void text_store(char* field, size_t cap, const char* src)
{
    if (src == NULL) {
        field[0] = 0;
        return;
    }
    size_t n = 0;
    while (n + 1 < cap && src[n] != 0) n++;
    if (src[n] != 0 && is_utf8_continuation((unsigned char)src[n])) {
        // The cut falls inside a character: back up over its bytes already taken, and over
        // its lead byte. At most three bytes precede the cut within one character.
        size_t i = n;
        while (i > 0 && n - i < 3 && is_utf8_continuation((unsigned char)src[i - 1])) i--;
        if (i > 0 && (unsigned char)src[i - 1] >= 0xC0) n = i - 1;
    }
    std::memcpy(field, src, n);
    field[n] = 0;
}

void state_reset(TelemetryState* state)
{
    char* first = (char*)state + offsetof(TelemetryState, game);
    char* end = (char*)state + offsetof(TelemetryState, eventSeq) + sizeof state->eventSeq;
    std::memset(first, 0, (size_t)(end - first));
}

static_assert(sizeof(Position) == 3 * sizeof(double), "a position is the placement's x, y, z");

void store_value(TelemetryState* state, const VocabularyRow* row, const HostValue* value)
{
    char* field = (char*)state + row->offset;
    switch (row->type) {
    case HOST_TYPE_STRING: text_store(field, row->size, value->value.string); break;
    // The host's placement starts with the position's three doubles, as Position does.
    case HOST_TYPE_PLACEMENT: std::memcpy(field, &value->value.placement, sizeof(Position)); break;
    default: std::memcpy(field, &value->value, row->size); break; // a number of the field's size
    }
}
