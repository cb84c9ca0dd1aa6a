// The host as the plug-in meets it, for every program that loads QAV: the unit tests, the DLL
// tests, the stress test, the fuzzer, the benchmarks and hostsim. It hands over the
// initialization record in the host's layout, keeps what the plug-in registers and logs, and
// delivers events and channel values through the registered callbacks. Like a real host it
// refuses what it does not offer (answering -7): registrations outside initialization, events
// its interface version does not have, unknown channels, a channel asked for in another value
// type or with an index, anything registered twice. A test that needs another host configures
// this one: `refuse_event` and `refuse_channel` refuse one that a real host would accept.
#ifndef QAV_SUPPORT_HOST_MODEL_H
#define QAV_SUPPORT_HOST_MODEL_H

#include "host/scs_host.h"

#include <string>
#include <vector>

struct HostRegistration {
    bool is_channel;
    uint32_t event;
    std::string channel;
    uint32_t index, type, flags;
    HostEventCallback on_event;
    HostChannelCallback on_channel;
    void* context;
};

struct HostModel {
    // How the host behaves.
    uint32_t refuse_event = 0;   // an event number to refuse, 0 for none
    std::string refuse_channel;  // a channel name to refuse
    bool with_log = true;        // hand the plug-in a log function
    // Told of every log line ("host log") and every refusal ("host") as it happens.
    void (*listener)(void* context, const char* source, const std::string& text) = nullptr;
    void* listener_context = nullptr;

    // What happened.
    uint32_t version = 0;     // the interface version of the last initialization
    bool registering = false; // inside an initialization
    std::vector<HostRegistration> registrations; // accepted, in order
    std::vector<std::string> logs;               // "type:message"
    std::vector<std::string> refusals;           // "event 6", "channel truck.speed of type 3"

    // The record the host passes to scs_telemetry_init; makes this the host the callbacks reach.
    HostInitParams params(const char* game_id, uint32_t game_version);

    // Initializes the plug-in through `init` as the host loads it: registrations of an earlier
    // load are forgotten, and new ones count only while `init` runs.
    host_result_t init(HostInitFn init, uint32_t version, const HostInitParams* params);
    host_result_t start(HostInitFn init, uint32_t version, const char* game_id = "haulsim",
                        uint32_t game_version = 0x00010012);

    // Delivers an event / a channel value (null: none) to every callback registered for it.
    void event(uint32_t event, const void* info);
    void channel(const char* name, const HostValue& value);
    void channel_null(const char* name);
    // A configuration named `id` with `attributes` (ended by host_attributes_end(), or null),
    // and a gameplay event named `id` without attributes.
    void configuration(const char* id, const HostNamedValue* attributes);
    void gameplay(const char* id);

    bool has_event(uint32_t event) const;
    const HostRegistration* find_event(uint32_t event) const;
    const HostRegistration* find_channel(const char* name) const;
};

// The host's callbacks are plain function pointers; they reach the host through this.
extern HostModel* g_host_model;

HostValue host_u32(uint32_t v);
HostValue host_u64(uint64_t v);
HostValue host_float(float v);
HostValue host_placement(double x, double y, double z);
HostValue host_string(const char* s);
HostNamedValue host_attribute(const char* name, const HostValue& value);
HostNamedValue host_attributes_end();

// The plug-in library, loaded and looked up by name as the host does it.
struct HostPlugin {
    void* library = nullptr;
    HostInitFn init = nullptr;
    HostShutdownFn shutdown = nullptr;
};

// False, with `error` saying why, when the library cannot be loaded or lacks an export.
bool host_load_plugin(const std::string& path, HostPlugin* plugin, std::string* error);
void host_unload_plugin(HostPlugin* plugin);

#endif
