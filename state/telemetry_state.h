// The one record QAV keeps: the latest values the host reported, where the snapshot goes, and
// when it was last written. A single static instance, all zero at load; the handlers write
// it, the snapshot writer only reads it.
#ifndef QAV_STATE_TELEMETRY_STATE_H
#define QAV_STATE_TELEMETRY_STATE_H

#include "host/scs_host.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

struct Position {
    double x, y, z; // world coordinates, metres, as the host delivers them
};

struct TelemetryState {
    // Reset at every initialization: from `game` through `eventSeq`.
    char game[16];                  // game identifier reported by the host
    uint32_t gameVersion;           // major in the high 16 bits, minor in the low 16
    uint32_t paused;                // simulation paused (true until the host says started)
    // The channels and job attributes, filled from the host's rows in state/vocabulary.h.
    uint32_t gameTime;              // game clock, as the host delivers it
    Position position;              // the truck's world position
    float speed;                    // the truck's speed, as delivered
    uint32_t hasJob;                // a delivery job is active
    char cargo[128];                // job texts: the host's bytes, cut to fit
    char cargoId[64];
    char sourceCity[96];
    char sourceCityId[64];
    char sourceCompany[96];
    char sourceCompanyId[64];
    char destinationCity[96];
    char destinationCityId[64];
    char destinationCompany[96];
    char destinationCompanyId[64];
    uint64_t income;
    float cargoMass;
    uint32_t deliveryTime;
    uint32_t plannedKm;
    char lastEvent[48];             // latest gameplay event, or "game.closed"
    uint32_t eventSeq;              // gameplay events since initialization, wrapping

    // Kept across a reset.
    HostLogFn log;                        // the host's log, null when it gave none
    path_char finalPath[PLATFORM_PATH_MAX]; // telemetry.json
    path_char tempPath[PLATFORM_PATH_MAX];  // telemetry.json.tmp beside it
    uint64_t lastWriteTick;               // ms tick of the last write made by the pacing
    uint8_t steady;                       // no job or gameplay change since a frame-end write
};

extern TelemetryState g_state;

// Copies `src` into a text field of `cap` bytes, always terminating it; a null source
// stores the empty string. Text that does not fit is cut, but never inside a UTF-8
// character: a partial character at the cut is dropped, so the field stays valid UTF-8
// whenever the source was.
void text_store(char* field, size_t cap, const char* src);

#define TEXT_STORE(field, src) text_store((field), sizeof(field), (src))

// Zeroes every field from `game` through `eventSeq`; the log, the paths and the pacing
// fields are left alone.
void state_reset(TelemetryState* state);

#endif
