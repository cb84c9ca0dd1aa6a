#include "support/host_model.h"

#include "state/vocabulary.h"
#include "support/os.h"

#include <cstring>

HostModel* g_host_model = nullptr;

static void tell(const char* source, const std::string& text)
{
    HostModel* h = g_host_model;
    if (h->listener != nullptr) h->listener(h->listener_context, source, text);
}

static host_result_t refuse(const std::string& what)
{
    g_host_model->refusals.push_back(what);
    tell("host", "refused: " + what);
    return HOST_RESULT_GENERIC_ERROR;
}

static void QAV_HOSTAPI model_log(int32_t type, const char* message)
{
    std::string text = message != nullptr ? message : "(null)";
    g_host_model->logs.push_back(std::to_string(type) + ":" + text);
    tell("host log", type == HOST_LOG_MESSAGE ? text : "type " + std::to_string(type) + ": " + text);
}

// Events 2 to 5 from interface 1.00 on, the gameplay event from 1.01.
static bool offers_event(uint32_t event, uint32_t version)
{
    return event >= HOST_EVENT_FRAME_END &&
           (event < HOST_EVENT_GAMEPLAY || (event == HOST_EVENT_GAMEPLAY && version >= HOST_VERSION_1_01));
}

static host_result_t QAV_HOSTAPI model_register_event(uint32_t event, HostEventCallback callback,
                                                      void* context)
{
    HostModel* h = g_host_model;
    std::string what = "event " + std::to_string(event);
    if (h->refuse_event != 0 && event == h->refuse_event) return refuse(what);
    if (!h->registering || !offers_event(event, h->version) || callback == nullptr ||
        h->find_event(event) != nullptr) {
        return refuse(what);
    }
    h->registrations.push_back({false, event, "", 0, 0, 0, callback, nullptr, context});
    return HOST_RESULT_OK;
}

static host_result_t QAV_HOSTAPI model_register_channel(const char* name, uint32_t index,
                                                        uint32_t type, uint32_t flags,
                                                        HostChannelCallback callback,
                                                        void* context)
{
    HostModel* h = g_host_model;
    std::string shown = name != nullptr ? name : "(null)";
    std::string what = "channel " + shown + " of type " + std::to_string(type);
    if (name == nullptr || (!h->refuse_channel.empty() && h->refuse_channel == name)) {
        return refuse(what);
    }
    const VocabularyRow* row = vocabulary_find(HOST_CHANNELS, CHANNEL_COUNT, name);
    if (!h->registering || row == nullptr || row->type != type || index != HOST_NO_INDEX ||
        callback == nullptr || h->find_channel(name) != nullptr) {
        return refuse(what);
    }
    h->registrations.push_back({true, 0, name, index, type, flags, nullptr, callback, context});
    return HOST_RESULT_OK;
}

HostInitParams HostModel::params(const char* game_id, uint32_t game_version)
{
    g_host_model = this;
    HostInitParams p;
    std::memset(&p, 0, sizeof p);
    p.game_id = game_id;
    p.game_version = game_version;
    p.log = with_log ? model_log : nullptr;
    p.register_for_event = model_register_event;
    p.register_for_channel = model_register_channel;
    return p;
}

host_result_t HostModel::init(HostInitFn init, uint32_t version, const HostInitParams* params)
{
    g_host_model = this;
    registrations.clear();
    this->version = version;
    registering = true;
    host_result_t result = init(version, params);
    registering = false;
    return result;
}

host_result_t HostModel::start(HostInitFn init, uint32_t version, const char* game_id,
                               uint32_t game_version)
{
    HostInitParams p = params(game_id, game_version);
    return this->init(init, version, &p);
}

void HostModel::event(uint32_t event, const void* info)
{
    for (const HostRegistration& r : registrations) {
        if (!r.is_channel && r.event == event) r.on_event(event, info, r.context);
    }
}

void HostModel::channel(const char* name, const HostValue& value)
{
    for (const HostRegistration& r : registrations) {
        if (r.is_channel && r.channel == name) r.on_channel(name, r.index, &value, r.context);
    }
}

void HostModel::channel_null(const char* name)
{
    for (const HostRegistration& r : registrations) {
        if (r.is_channel && r.channel == name) r.on_channel(name, r.index, nullptr, r.context);
    }
}

void HostModel::configuration(const char* id, const HostNamedValue* attributes)
{
    HostConfiguration c = {id, attributes};
    event(HOST_EVENT_CONFIGURATION, &c);
}

void HostModel::gameplay(const char* id)
{
    HostGameplayEvent e = {id, nullptr};
    event(HOST_EVENT_GAMEPLAY, &e);
}

bool HostModel::has_event(uint32_t event) const { return find_event(event) != nullptr; }

const HostRegistration* HostModel::find_event(uint32_t event) const
{
    for (const HostRegistration& r : registrations) {
        if (!r.is_channel && r.event == event) return &r;
    }
    return nullptr;
}

const HostRegistration* HostModel::find_channel(const char* name) const
{
    for (const HostRegistration& r : registrations) {
        if (r.is_channel && r.channel == name) return &r;
    }
    return nullptr;
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
    a.index = HOST_NO_INDEX;
    a.value = value;
    return a;
}

HostNamedValue host_attributes_end()
{
    HostNamedValue a;
    std::memset(&a, 0, sizeof a);
    return a;
}

bool host_load_plugin(const std::string& path, HostPlugin* plugin, std::string* error)
{
    *plugin = HostPlugin();
    plugin->library = os_library_open(path, error);
    if (plugin->library == nullptr) return false;
    plugin->init = (HostInitFn)os_library_symbol(plugin->library, "scs_telemetry_init");
    plugin->shutdown = (HostShutdownFn)os_library_symbol(plugin->library, "scs_telemetry_shutdown");
    if (plugin->init == nullptr || plugin->shutdown == nullptr) {
        *error = path + " does not export scs_telemetry_init and scs_telemetry_shutdown";
        host_unload_plugin(plugin);
        return false;
    }
    return true;
}

void host_unload_plugin(HostPlugin* plugin)
{
    if (plugin->library != nullptr) os_library_close(plugin->library);
    *plugin = HostPlugin();
}
