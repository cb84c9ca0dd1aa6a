// The host's vocabulary as QAV uses it: every channel and every job attribute, with the value
// type the host delivers it in, the record field that keeps it and the document member that
// publishes it. Registration, the handlers and the document writer read these rows, and so do
// the simulator, the document check, the fuzzer and the benchmarks: adding a job attribute is
// one row here and a field in TelemetryState.
#ifndef QAV_STATE_VOCABULARY_H
#define QAV_STATE_VOCABULARY_H

#include "host/scs_host.h"
#include "state/telemetry_state.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

struct VocabularyRow {
    const char* host_name; // the host's channel or attribute name, matched exactly
    uint32_t type;         // the value type the host delivers it in (HOST_TYPE_*)
    const char* key;       // the document member, named like the record field
    size_t offset;         // of the record field in TelemetryState
    size_t size;           // of the field in bytes: a text field's capacity, terminator included
    int decimals;          // float and placement values: decimals in the document
};

// The record field and the document member share one name.
#define QAV_VOCABULARY_ROW(host_name, type, field, decimals)                                   \
    {host_name, type, #field, offsetof(TelemetryState, field), sizeof(TelemetryState::field),   \
     decimals}

enum { CHANNEL_GAME_TIME, CHANNEL_TRUCK_PLACEMENT, CHANNEL_TRUCK_SPEED, CHANNEL_COUNT };

// In document order; each channel is registered with its one value type.
inline constexpr VocabularyRow HOST_CHANNELS[CHANNEL_COUNT] = {
    QAV_VOCABULARY_ROW("game.time", HOST_TYPE_U32, gameTime, 0),
    QAV_VOCABULARY_ROW("truck.world.placement", HOST_TYPE_PLACEMENT, position, 2),
    QAV_VOCABULARY_ROW("truck.speed", HOST_TYPE_FLOAT, speed, 2),
};

enum { JOB_ATTRIBUTE_COUNT = 14 };

// The "job" configuration's attributes, in the order of the document's job object. An
// attribute is taken only when both its name and its value type match a row.
inline constexpr VocabularyRow JOB_ATTRIBUTES[JOB_ATTRIBUTE_COUNT] = {
    QAV_VOCABULARY_ROW("cargo", HOST_TYPE_STRING, cargo, 0),
    QAV_VOCABULARY_ROW("cargo.id", HOST_TYPE_STRING, cargoId, 0),
    QAV_VOCABULARY_ROW("source.city", HOST_TYPE_STRING, sourceCity, 0),
    QAV_VOCABULARY_ROW("source.city.id", HOST_TYPE_STRING, sourceCityId, 0),
    QAV_VOCABULARY_ROW("source.company", HOST_TYPE_STRING, sourceCompany, 0),
    QAV_VOCABULARY_ROW("source.company.id", HOST_TYPE_STRING, sourceCompanyId, 0),
    QAV_VOCABULARY_ROW("destination.city", HOST_TYPE_STRING, destinationCity, 0),
    QAV_VOCABULARY_ROW("destination.city.id", HOST_TYPE_STRING, destinationCityId, 0),
    QAV_VOCABULARY_ROW("destination.company", HOST_TYPE_STRING, destinationCompany, 0),
    QAV_VOCABULARY_ROW("destination.company.id", HOST_TYPE_STRING, destinationCompanyId, 0),
    QAV_VOCABULARY_ROW("income", HOST_TYPE_U64, income, 0),
    QAV_VOCABULARY_ROW("cargo.mass", HOST_TYPE_FLOAT, cargoMass, 1),
    QAV_VOCABULARY_ROW("delivery.time", HOST_TYPE_U32, deliveryTime, 0),
    QAV_VOCABULARY_ROW("planned_distance.km", HOST_TYPE_U32, plannedKm, 0),
};

// Copies `value`, which must carry the row's type, into the row's field of `state`: a text by
// the text store, a number or a position as it is.
void store_value(TelemetryState* state, const VocabularyRow* row, const HostValue* value);

// The row named `host_name` in `rows`, or null.
inline const VocabularyRow* vocabulary_find(const VocabularyRow* rows, size_t count,
                                            const char* host_name)
{
    for (size_t i = 0; i < count; i++) {
        if (std::strcmp(rows[i].host_name, host_name) == 0) return &rows[i];
    }
    return nullptr;
}

#endif
