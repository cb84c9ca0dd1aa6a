// The host registrations QAV makes at initialization, as data: one row per event or channel,
// registered in table order. Core rows come first; the first one the host refuses stops
// initialization. Optional rows are asked for and their refusals ignored: the plug-in runs on
// without that input.
#ifndef QAV_PLUGIN_REGISTRATION_H
#define QAV_PLUGIN_REGISTRATION_H

#include "host/scs_host.h"
#include "state/vocabulary.h"

#include <cstddef>

struct RegistrationRow {
    bool core;                     // a refusal fails initialization
    bool needs_1_01;               // only asked for from interface 1.01 on
    uint32_t event;                // event rows: the event number
    HostEventCallback on_event;    // event rows: the handler; null for a channel row
    const VocabularyRow* channel;  // channel rows: the channel's name and value type
    HostChannelCallback on_channel;
};

// Registers `rows` in order with the host in `params`. Returns HOST_RESULT_OK, or
// HOST_RESULT_GENERIC_ERROR after logging when a core row was refused (rows registered before
// it stay registered; no later row is asked for).
host_result_t register_rows(const RegistrationRow* rows, size_t count, uint32_t version,
                            const HostInitParams* params);

#endif
