// A stand-in for the host program: it hands QAV an initialization record laid out as the
// host lays it out, records what QAV registers and logs, and delivers events and channel
// values through the registered callbacks. Used by the native unit tests and, cross-built,
// by the Windows program that drives the real DLL.
#ifndef QAV_TESTS_SUPPORT_FAKE_HOST_H
#define QAV_TESTS_SUPPORT_FAKE_HOST_H

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

struct FakeHost {
    std::vector<HostRegistration> registrations;
    std::vector<std::string> logs;         // "type:message"
    uint32_t refuse_event = 0;             // an event number to refuse, 0 for none
    std::string refuse_channel;            // a channel name to refuse
    bool with_log = true;

    // The record the host passes to scs_telemetry_init.
    HostInitParams params(const char* game_id, uint32_t game_version);

    // Delivers an event / a channel value to every callback registered for it.
    void event(uint32_t event, const void* info);
    void channel(const char* name, const HostValue& value);
    void channel_null(const char* name);

    bool has_event(uint32_t event) const;
};

// The host's callbacks are plain function pointers; they reach the host through this.
extern FakeHost* g_fake_host;

HostValue host_u32(uint32_t v);
HostValue host_u64(uint64_t v);
HostValue host_float(float v);
HostValue host_placement(double x, double y, double z);
HostValue host_string(const char* s);
HostNamedValue host_attribute(const char* name, const HostValue& value);
HostNamedValue host_attributes_end();

#endif
