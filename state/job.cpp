// The delivery job and the latest gameplay event. Only the "job" configuration matters;
// each attribute is taken when both its name and its value type match a known one, so a
// host that changes an attribute's type never gets a reinterpreted value published.
#include "state/handlers.h"

#include "state/telemetry_state.h"

#include <cstring>

struct JobNumberField {
    const char* attribute;
    uint32_t type;
    size_t offset; // of the field in TelemetryState
};

static const JobNumberField JOB_NUMBER_FIELDS[] = {
    {"income", HOST_TYPE_U64, offsetof(TelemetryState, income)},
    {"cargo.mass", HOST_TYPE_FLOAT, offsetof(TelemetryState, cargoMass)},
    {"delivery.time", HOST_TYPE_U32, offsetof(TelemetryState, deliveryTime)},
    {"planned_distance.km", HOST_TYPE_U32, offsetof(TelemetryState, plannedKm)},
};

static void take_attribute(const HostNamedValue* attr)
{
    char* record = (char*)&g_state;
    if (attr->value.type == HOST_TYPE_STRING) {
        for (const JobTextField& f : JOB_TEXT_FIELDS) {
            if (std::strcmp(attr->name, f.attribute) == 0) {
                text_store(record + f.offset, f.cap, attr->value.value.string);
                return;
            }
        }
        return;
    }
    for (const JobNumberField& f : JOB_NUMBER_FIELDS) {
        if (attr->value.type != f.type || std::strcmp(attr->name, f.attribute) != 0) continue;
        switch (f.type) {
        case HOST_TYPE_U64: std::memcpy(record + f.offset, &attr->value.value.u64, 8); break;
        case HOST_TYPE_FLOAT: std::memcpy(record + f.offset, &attr->value.value.f32, 4); break;
        default: std::memcpy(record + f.offset, &attr->value.value.u32, 4); break;
        }
        return;
    }
}

void QAV_HOSTAPI on_configuration(uint32_t event, const void* info, void* context)
{
    (void)event;
    (void)context;
    const HostConfiguration* config = (const HostConfiguration*)info;
    if (config == NULL || config->id == NULL || std::strcmp(config->id, "job") != 0) return;

    const HostNamedValue* attr = config->attributes;
    if (attr == NULL || attr->name == NULL) {
        // No job. The fields a companion would show first are cleared; the rest are not
        // published while there is no job, and a later job may still show them.
        g_state.hasJob = 0;
        g_state.cargo[0] = 0;
        g_state.cargoId[0] = 0;
        g_state.sourceCity[0] = 0;
        g_state.destinationCity[0] = 0;
        g_state.income = 0;
        g_state.steady = 0;
        return;
    }
    // Nothing is cleared first: an attribute the new job leaves out keeps its earlier value,
    // and a name given twice ends with the later entry.
    for (; attr->name != NULL; attr++) take_attribute(attr);
    g_state.hasJob = 1;
    g_state.steady = 0;
}

void QAV_HOSTAPI on_gameplay_event(uint32_t event, const void* info, void* context)
{
    (void)event;
    (void)context;
    const HostGameplayEvent* gameplay = (const HostGameplayEvent*)info;
    if (gameplay == NULL || gameplay->id == NULL) return;
    TEXT_STORE(g_state.lastEvent, gameplay->id);
    g_state.eventSeq++; // unsigned: wraps to 0 after 4294967295
    g_state.steady = 0;
}
