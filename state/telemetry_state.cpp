#include "state/telemetry_state.h"

#include <cstring>

TelemetryState g_state;

#define JOB_TEXT(attribute, piece, field)                                                     \
    {attribute, piece, sizeof(piece) - 1, offsetof(TelemetryState, field),                   \
     sizeof(((TelemetryState*)0)->field)}

const JobTextField JOB_TEXT_FIELDS[JOB_TEXT_FIELD_COUNT] = {
    JOB_TEXT("cargo", "\"cargo\":", cargo),
    JOB_TEXT("cargo.id", ",\"cargoId\":", cargoId),
    JOB_TEXT("source.city", ",\"sourceCity\":", sourceCity),
    JOB_TEXT("source.city.id", ",\"sourceCityId\":", sourceCityId),
    JOB_TEXT("source.company", ",\"sourceCompany\":", sourceCompany),
    JOB_TEXT("source.company.id", ",\"sourceCompanyId\":", sourceCompanyId),
    JOB_TEXT("destination.city", ",\"destinationCity\":", destinationCity),
    JOB_TEXT("destination.city.id", ",\"destinationCityId\":", destinationCityId),
    JOB_TEXT("destination.company", ",\"destinationCompany\":", destinationCompany),
    JOB_TEXT("destination.company.id", ",\"destinationCompanyId\":", destinationCompanyId),
};

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
