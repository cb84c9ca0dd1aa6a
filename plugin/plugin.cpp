// QAV's boundary towards the host: the two exports the host looks up by name, and the
// order in which initialization sets the plug-in up. Everything after initialization happens
// in the handlers the host calls back.
#include "plugin/exports.h"
#include "plugin/version.h"

#include "output/pacing.h"
#include "output/snapshot.h"
#include "platform/data_paths.h"
#include "platform/platform.h"
#include "state/handlers.h"
#include "state/telemetry_state.h"
#include "state/vocabulary.h"

#include <cstddef>

static const char CORE_REFUSED_MESSAGE[] = "[QAV] could not register core events";

// The host registrations QAV makes at initialization, as data: one row per event or channel,
// registered in table order. The first core row the host refuses stops initialization
// (rows registered before it stay registered; no later row is asked for). Optional rows are
// asked for and their refusals ignored: the plug-in runs on without that input.
struct RegistrationRow {
    bool core;                     // a refusal fails initialization
    bool needs_1_01;               // only asked for from interface 1.01 on
    uint32_t event;                // event rows: the event number
    HostEventCallback on_event;    // event rows: the handler; null for a channel row
    const VocabularyRow* channel;  // channel rows: the channel's name and value type
    HostChannelCallback on_channel;
};

#define CORE_EVENT(event, handler) {true, false, event, handler, NULL, NULL}
#define EVENT(event, needs_1_01, handler) {false, needs_1_01, event, handler, NULL, NULL}
#define CHANNEL(channel, handler) {false, false, 0, NULL, &HOST_CHANNELS[channel], handler}

// Core rows first: without them nothing would ever be written. Among the optional rows the
// job and gameplay events come before the channels.
static const RegistrationRow REGISTRATIONS[] = {
    CORE_EVENT(HOST_EVENT_FRAME_END, on_frame_end),
    CORE_EVENT(HOST_EVENT_PAUSED, on_pause_change),
    CORE_EVENT(HOST_EVENT_STARTED, on_pause_change),
    EVENT(HOST_EVENT_CONFIGURATION, false, on_configuration),
    EVENT(HOST_EVENT_GAMEPLAY, true, on_gameplay_event),
    CHANNEL(CHANNEL_GAME_TIME, on_game_time),
    CHANNEL(CHANNEL_TRUCK_PLACEMENT, on_truck_placement),
    CHANNEL(CHANNEL_TRUCK_SPEED, on_truck_speed),
};

static void log_message(const char* message)
{
    if (g_state.log != NULL) g_state.log(HOST_LOG_MESSAGE, message);
}

// HOST_RESULT_OK, or HOST_RESULT_GENERIC_ERROR after logging when a core row was refused.
static host_result_t register_rows(const RegistrationRow* rows, size_t count, uint32_t version,
                                   const HostInitParams* params)
{
    for (size_t i = 0; i < count; i++) {
        const RegistrationRow* row = &rows[i];
        if (row->needs_1_01 && version < HOST_VERSION_1_01) continue;
        host_result_t result = HOST_RESULT_GENERIC_ERROR;
        if (row->on_event != NULL) {
            if (params->register_for_event != NULL) {
                result = params->register_for_event(row->event, row->on_event, NULL);
            }
        } else if (params->register_for_channel != NULL) {
            result = params->register_for_channel(row->channel->host_name, HOST_NO_INDEX,
                                                  row->channel->type, HOST_NO_FLAGS,
                                                  row->on_channel, NULL);
        }
        if (row->core && result != HOST_RESULT_OK) {
            log_message(CORE_REFUSED_MESSAGE);
            return HOST_RESULT_GENERIC_ERROR;
        }
    }
    return HOST_RESULT_OK;
}

extern "C" host_result_t QAV_HOSTAPI scs_telemetry_init(uint32_t version,
                                                        const HostInitParams* params)
{
    if (version != HOST_VERSION_1_00 && version != HOST_VERSION_1_01) {
        return HOST_RESULT_UNSUPPORTED;
    }
    if (params == NULL) return HOST_RESULT_GENERIC_ERROR;

    state_reset(&g_state);
    g_state.log = params->log;
    TEXT_STORE(g_state.game, params->game_id);
    g_state.gameVersion = params->game_version;
    g_state.paused = 1; // paused until the host reports that the simulation started

    path_char appdata[PLATFORM_PATH_MAX];
    DataPaths paths;
    if (!platform_local_appdata(appdata) || !data_paths(appdata, &paths)) {
        return HOST_RESULT_GENERIC_ERROR;
    }
    platform_create_directory(paths.folder);
    for (size_t i = 0; i < PLATFORM_PATH_MAX; i++) {
        g_state.tempPath[i] = paths.temp[i];
        g_state.finalPath[i] = paths.final[i];
    }

    host_result_t result = register_rows(
        REGISTRATIONS, sizeof REGISTRATIONS / sizeof REGISTRATIONS[0], version, params);
    if (result != HOST_RESULT_OK) return result;

    log_message(QAV_LOAD_MESSAGE);
    (void)write_snapshot_retrying(); // unpaced; a failure shows only as a missing document
    return HOST_RESULT_OK;
}

extern "C" void QAV_HOSTAPI scs_telemetry_shutdown()
{
    g_state.paused = 1;
    g_state.hasJob = 0;
    TEXT_STORE(g_state.lastEvent, "game.closed");
    // The last word: no later write would correct a closing document that did not land.
    (void)write_snapshot_retrying();
    g_state.log = NULL; // the host's log may be gone once it unloads us
}
