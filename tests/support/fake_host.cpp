#include "tests/support/fake_host.h"

#include <cstring>

FakeHost* g_fake_host = nullptr;

static void QAV_HOSTAPI fake_log(int32_t type, const char* message)
{
    g_fake_host->logs.push_back(std::to_string(type) + ":" + message);
}

static host_result_t QAV_HOSTAPI fake_register_event(uint32_t event, HostEventCallback callback,
                                                     void* context)
{
    if (event == g_fake_host->refuse_event) return HOST_RESULT_GENERIC_ERROR;
    g_fake_host->registrations.push_back({false, event, "", 0, 0, 0, callback, nullptr, context});
    return HOST_RESULT_OK;
}

static host_result_t QAV_HOSTAPI fake_register_channel(const char* name, uint32_t index,
                                                       uint32_t type, uint32_t flags,
                                                       HostChannelCallback callback,
                                                       void* context)
{
    if (g_fake_host->refuse_channel == name) return HOST_RESULT_GENERIC_ERROR;
    g_fake_host->registrations.push_back(
        {true, 0, name, index, type, flags, nullptr, callback, context});
    return HOST_RESULT_OK;
}

HostInitParams FakeHost::params(const char* game_id, uint32_t game_version)
{
    g_fake_host = this;
    HostInitParams p;
    std::memset(&p, 0, sizeof p);
    p.game_id = game_id;
    p.game_version = game_version;
    p.log = with_log ? fake_log : nullptr;
    p.register_for_event = fake_register_event;
    p.register_for_channel = fake_register_channel;
    return p;
}

void FakeHost::event(uint32_t event, const void* info)
{
    for (const HostRegistration& r : registrations) {
        if (!r.is_channel && r.event == event) r.on_event(event, info, r.context);
    }
}

void FakeHost::channel(const char* name, const HostValue& value)
{
    for (const HostRegistration& r : registrations) {
        if (r.is_channel && r.channel == name) r.on_channel(name, r.index, &value, r.context);
    }
}

void FakeHost::channel_null(const char* name)
{
    for (const HostRegistration& r : registrations) {
        if (r.is_channel && r.channel == name) r.on_channel(name, r.index, nullptr, r.context);
    }
}

bool FakeHost::has_event(uint32_t event) const
{
    for (const HostRegistration& r : registrations) {
        if (!r.is_channel && r.event == event) return true;
    }
    return false;
}

static HostValue host_value(uint32_t type)
{
    HostValue v;
    std::memset(&v, 0, sizeof v);
    v.type = type;
    return v;
}

HostValue host_u32(uint32_t x) { HostValue v = host_value(HOST_TYPE_U32); v.value.u32 = x; return v; }
HostValue host_u64(uint64_t x) { HostValue v = host_value(HOST_TYPE_U64); v.value.u64 = x; return v; }
HostValue host_float(float x) { HostValue v = host_value(HOST_TYPE_FLOAT); v.value.f32 = x; return v; }
HostValue host_string(const char* s) { HostValue v = host_value(HOST_TYPE_STRING); v.value.string = s; return v; }

HostValue host_placement(double x, double y, double z)
{
    HostValue v = host_value(HOST_TYPE_PLACEMENT);
    v.value.placement.x = x;
    v.value.placement.y = y;
    v.value.placement.z = z;
    return v;
}

HostNamedValue host_attribute(const char* name, const HostValue& value)
{
    HostNamedValue a;
    std::memset(&a, 0, sizeof a);
    a.name = name;
    a.value = value;
    return a;
}

HostNamedValue host_attributes_end()
{
    HostNamedValue a;
    std::memset(&a, 0, sizeof a);
    return a;
}
