// The delivery job and the latest gameplay event. Only the "job" configuration matters;
// each attribute is taken when both its name and its value type match a known one, so a
// host that changes an attribute's type never gets a reinterpreted value published.
#include "state/handlers.h"

#include "state/telemetry_state.h"
#include "state/vocabulary.h"

#include <cstring>

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
    for (; attr->name != NULL; attr++) {
        const VocabularyRow* row = vocabulary_find(JOB_ATTRIBUTES, JOB_ATTRIBUTE_COUNT, attr->name);
        if (row != NULL && row->type == attr->value.type) store_value(&g_state, row, &attr->value);
    }
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
