// The host side of the simulator: loads the plug-in by path, hands it the initialization
// record in the host's layout, keeps what it registers, and then, 60 times a second, makes
// the scenario's calls, delivers the three channels and reports the end of the frame.
#include "tools/hostsim/hostsim.h"

#include "tools/hostsim/os.h"

#include <cmath>
#include <cstring>

typedef host_result_t(QAV_HOSTAPI* InitFn)(uint32_t, const HostInitParams*);
typedef void(QAV_HOSTAPI* ShutdownFn)();

namespace {

const double FRAME_SECONDS = 1.0 / 60;
const double GAME_SECONDS_PER_SECOND = 20; // the game clock runs faster than the real one
const uint32_t GAME_TIME_AT_LOAD = 8 * 60; // 08:00 on the first day, in game minutes

struct ChannelSlot {
    const char* name;
    uint32_t type; // the only value type the host offers for the channel
    HostChannelCallback callback;
    void* context;
};

// The host, as the plug-in sees it. Callbacks are plain function pointers, so they find it
// through this one instance.
struct Host {
    uint32_t version;
    bool registering; // registrations count only inside scs_telemetry_init
    HostEventCallback events[HOST_EVENT_GAMEPLAY + 1];
    void* event_context[HOST_EVENT_GAMEPLAY + 1];
    ChannelSlot channels[3];
    uint64_t plugin_us; // time spent inside the plug-in in the current frame
    Session* session;
} g_host;

// The truck: eases towards the target speed and heading, and moves along its heading.
struct Truck {
    double x, y, z;       // metres; north is -z
    double speed;         // m/s
    double target_speed;  // m/s
    double heading;       // degrees clockwise from north
    double target_heading;
    double game_seconds;  // the game clock
};

void QAV_HOSTAPI host_log(int32_t type, const char* message)
{
    std::string text = message != nullptr ? message : "(null)";
    if (type != HOST_LOG_MESSAGE) text = "type " + std::to_string(type) + ": " + text;
    say(g_host.session, "host log", text);
}

host_result_t QAV_HOSTAPI host_register_event(uint32_t event, HostEventCallback callback,
                                              void* context)
{
    bool known = event >= HOST_EVENT_FRAME_END &&
                 (event < HOST_EVENT_GAMEPLAY || g_host.version >= HOST_VERSION_1_01);
    if (!g_host.registering || !known || callback == nullptr || g_host.events[event] != nullptr) {
        say(g_host.session, "host", "refused: event " + std::to_string(event));
        return HOST_RESULT_GENERIC_ERROR;
    }
    g_host.events[event] = callback;
    g_host.event_context[event] = context;
    return HOST_RESULT_OK;
}

host_result_t QAV_HOSTAPI host_register_channel(const char* name, uint32_t index, uint32_t type,
                                                uint32_t flags, HostChannelCallback callback,
                                                void* context)
{
    (void)flags;
    for (ChannelSlot& slot : g_host.channels) {
        if (name == nullptr || std::strcmp(name, slot.name) != 0) continue;
        if (!g_host.registering || index != HOST_NO_INDEX || type != slot.type ||
            callback == nullptr || slot.callback != nullptr) {
            break;
        }
        slot.callback = callback;
        slot.context = context;
        return HOST_RESULT_OK;
    }
    say(g_host.session, "host", std::string("refused: channel ") + (name ? name : "(null)") +
                                    " of type " + std::to_string(type));
    return HOST_RESULT_GENERIC_ERROR;
}

void send_event(uint32_t event, const void* info)
{
    if (g_host.events[event] == nullptr) return;
    uint64_t before = os_micros();
    g_host.events[event](event, info, g_host.event_context[event]);
    g_host.plugin_us += os_micros() - before;
}

void send_channel(ChannelSlot& slot, const HostValue& value)
{
    if (slot.callback == nullptr) return;
    uint64_t before = os_micros();
    slot.callback(slot.name, HOST_NO_INDEX, &value, slot.context);
    g_host.plugin_us += os_micros() - before;
}

HostValue value_of(uint32_t type)
{
    HostValue v;
    std::memset(&v, 0, sizeof v);
    v.type = type;
    return v;
}

void send_channels(const Truck& truck)
{
    HostValue time = value_of(HOST_TYPE_U32);
    time.value.u32 = GAME_TIME_AT_LOAD + (uint32_t)(truck.game_seconds / 60);
    HostValue placement = value_of(HOST_TYPE_PLACEMENT);
    placement.value.placement.x = truck.x;
    placement.value.placement.y = truck.y;
    placement.value.placement.z = truck.z;
    placement.value.placement.heading = (float)(truck.heading / 360);
    HostValue speed = value_of(HOST_TYPE_FLOAT);
    speed.value.f32 = (float)truck.speed;
    send_channel(g_host.channels[0], time);
    send_channel(g_host.channels[1], placement);
    send_channel(g_host.channels[2], speed);
}

void move_truck(Truck* t, double dt)
{
    double accel = t->target_speed > t->speed ? 2.0 : -3.0; // m/s², braking is harder
    double dv = accel * dt;
    t->speed = std::fabs(t->target_speed - t->speed) <= std::fabs(dv) ? t->target_speed
                                                                      : t->speed + dv;
    double turn = std::remainder(t->target_heading - t->heading, 360.0);
    double step = 12.0 * dt; // degrees a second: a gentle bend of the road
    t->heading += std::fabs(turn) <= step ? turn : std::copysign(step, turn);
    double rad = t->heading * 3.14159265358979323846 / 180;
    t->x += t->speed * std::sin(rad) * dt;
    t->z -= t->speed * std::cos(rad) * dt;
    t->game_seconds += dt * GAME_SECONDS_PER_SECOND;
}

std::string describe_job(const ScenarioLine& l)
{
    if (l.attributes.empty()) return "job: none (the delivery is over)";
    std::string cargo = "?", from = "?", to = "?";
    for (const JobAttribute& a : l.attributes) {
        if (a.name == "cargo") cargo = a.text;
        if (a.name == "source.city") from = a.text;
        if (a.name == "destination.city") to = a.text;
    }
    return "job: " + cargo + ", " + from + " -> " + to + " (" +
           std::to_string(l.attributes.size()) + " attributes)";
}

std::string number(double v, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

// Makes one scenario line's call. The attribute records live only for the call, as the
// host's own do.
void make_call(const ScenarioLine& l, Truck* truck, Session* session)
{
    os_lock();
    session->last_call_us[(int)l.call] = os_micros();
    os_unlock();
    switch (l.call) {
    case Call::start:
        say(session, "host", "start");
        send_event(HOST_EVENT_STARTED, nullptr);
        break;
    case Call::pause:
        say(session, "host", "pause");
        send_event(HOST_EVENT_PAUSED, nullptr);
        break;
    case Call::drive:
        say(session, "truck", "target speed " + number(l.value[0], 0) + " km/h");
        truck->target_speed = l.value[0] / 3.6;
        break;
    case Call::heading:
        say(session, "truck", "heading for " + number(l.value[0], 0) + " degrees");
        truck->target_heading = l.value[0];
        break;
    case Call::position:
        say(session, "truck", "at " + number(l.value[0], 2) + " " + number(l.value[1], 2) + " " +
                                  number(l.value[2], 2));
        truck->x = l.value[0];
        truck->y = l.value[1];
        truck->z = l.value[2];
        break;
    case Call::job: {
        say(session, "host", describe_job(l));
        std::vector<HostNamedValue> attrs;
        for (const JobAttribute& a : l.attributes) {
            HostNamedValue n;
            std::memset(&n, 0, sizeof n);
            n.name = a.name.c_str();
            n.index = HOST_NO_INDEX;
            n.value.type = a.type;
            if (a.type == HOST_TYPE_STRING) n.value.value.string = a.text.c_str();
            if (a.type == HOST_TYPE_U64) n.value.value.u64 = a.integer;
            if (a.type == HOST_TYPE_U32) n.value.value.u32 = (uint32_t)a.integer;
            if (a.type == HOST_TYPE_FLOAT) n.value.value.f32 = a.number;
            attrs.push_back(n);
        }
        HostNamedValue end;
        std::memset(&end, 0, sizeof end);
        attrs.push_back(end);
        HostConfiguration job = {"job", attrs.data()};
        send_event(HOST_EVENT_CONFIGURATION, &job);
        break;
    }
    case Call::event: {
        bool heard = g_host.events[HOST_EVENT_GAMEPLAY] != nullptr;
        say(session, "host", "gameplay event " + l.id + (heard ? "" : " (not registered: not sent)"));
        HostGameplayEvent event = {l.id.c_str(), nullptr};
        send_event(HOST_EVENT_GAMEPLAY, &event);
        break;
    }
    case Call::shutdown:
        break; // the player calls scs_telemetry_shutdown once the frames stop
    }
}

// After a call that may have written: telemetry.json.tmp outlives a write only when the
// plug-in could not move it over telemetry.json (on Windows: someone held the file open).
void check_replace(const std::string& temp, const char* call, FileStamp* last,
                   PlayResult* result)
{
    FileStamp now = os_file_stamp(temp);
    if (now.exists && !(now == *last)) {
        result->replace_failures++;
        say(g_host.session, "host", std::string("telemetry.json.tmp stayed behind: the write "
                                                "at the ") + call + " could not replace telemetry.json");
    }
    *last = now;
}

} // namespace

bool play(const Scenario& scenario, const std::string& plugin, Session* session, Reader* reader,
          PlayResult* result, std::string* error)
{
    std::memset(&g_host, 0, sizeof g_host);
    g_host.version = scenario.interface_version;
    g_host.session = session;
    g_host.channels[0] = {"game.time", HOST_TYPE_U32, nullptr, nullptr};
    g_host.channels[1] = {"truck.world.placement", HOST_TYPE_PLACEMENT, nullptr, nullptr};
    g_host.channels[2] = {"truck.speed", HOST_TYPE_FLOAT, nullptr, nullptr};

    void* library = os_library_open(plugin, error);
    if (library == nullptr) return false;
    InitFn init = (InitFn)os_library_symbol(library, "scs_telemetry_init");
    ShutdownFn shutdown = (ShutdownFn)os_library_symbol(library, "scs_telemetry_shutdown");
    if (init == nullptr || shutdown == nullptr) {
        *error = plugin + " does not export scs_telemetry_init and scs_telemetry_shutdown";
        os_library_close(library);
        return false;
    }

    HostInitParams params;
    std::memset(&params, 0, sizeof params);
    params.game_id = scenario.game.c_str();
    params.game_version = scenario.game_version;
    params.log = host_log;
    params.register_for_event = host_register_event;
    params.register_for_channel = host_register_channel;
    char version[32];
    std::snprintf(version, sizeof version, "%u.%02u", scenario.interface_version >> 16,
                  scenario.interface_version & 0xFFFF);
    say(session, "host", "load " + plugin + " (interface " + version + ", game " + scenario.game +
                             " " + std::to_string(scenario.game_version >> 16) + "." +
                             std::to_string(scenario.game_version & 0xFFFF) + ")");
    std::string temp = reader->path + ".tmp";
    FileStamp temp_stamp = os_file_stamp(temp); // one left by an earlier session is not ours
    uint64_t load_us = os_micros();
    g_host.registering = true;
    result->init_result = init(scenario.interface_version, &params);
    g_host.registering = false;
    say(session, "host", "scs_telemetry_init returned " + std::to_string(result->init_result));
    if (result->init_result != HOST_RESULT_OK) {
        // The host unloads a plug-in whose initialization failed, without a shutdown.
        os_library_close(library);
        *error = "the plug-in refused to initialize";
        return false;
    }
    result->loaded = true;
    check_replace(temp, "load", &temp_stamp, result);

    // The load document first, before a start at time 0 can replace it; then the reader
    // watches on its own thread.
    reader_poll(reader);
    OsThread* watcher = os_thread_start(reader_run, reader);

    Truck truck = {};
    bool paused = true; // until the scenario starts the simulation
    size_t next = 0;
    uint64_t frame = 0, simulated = 0;
    const uint64_t frame_us = 1000000 / 60;
    os_fine_sleep(true);
    for (;;) {
        // Frames are due on a fixed grid from the load, so waiting never adds up to drift.
        uint64_t due = load_us + frame * 1000000 / 60;
        uint64_t now = os_micros();
        if (now < due) {
            while (now < due) {
                os_sleep_ms((unsigned)((due - now + 999) / 1000));
                now = os_micros();
            }
        } else if (now - due > 2 * frame_us) {
            // Too far behind to catch up without a burst of frames: skip to the present.
            uint64_t skip = (now - due) / frame_us;
            result->dropped_frames += skip;
            frame += skip;
        } else if (now - due > frame_us / 2) {
            result->late_frames++;
        }
        double t = (double)frame * FRAME_SECONDS;
        g_host.plugin_us = 0;
        bool finished = false;
        while (!finished && next < scenario.lines.size() && scenario.lines[next].at <= t + 1e-9) {
            const ScenarioLine& line = scenario.lines[next++];
            if (line.call == Call::shutdown) finished = true;
            if (line.call == Call::start) paused = false;
            if (line.call == Call::pause) paused = true;
            make_call(line, &truck, session);
            check_replace(temp, call_name(line.call), &temp_stamp, result);
        }
        if (finished) break;
        // While paused the simulation stands still, but the host keeps running frames and
        // publishing the channels.
        if (!paused) move_truck(&truck, (double)(frame + 1 - simulated) * FRAME_SECONDS);
        simulated = frame + 1;
        send_channels(truck);
        send_event(HOST_EVENT_FRAME_END, nullptr);
        result->frame_us.push_back((uint32_t)g_host.plugin_us);
        check_replace(temp, "frame end", &temp_stamp, result);
        result->frames++;
        frame++;
    }
    os_fine_sleep(false);

    say(session, "host", "shutdown");
    shutdown();
    check_replace(temp, "shutdown", &temp_stamp, result);
    result->seconds = (double)(os_micros() - load_us) / 1e6;
    reader->stop = true;
    if (watcher != nullptr) os_thread_join(watcher);
    reader_poll(reader, true); // the closing document, however soon it followed the last one
    os_library_close(library);
    say(session, "host", "unloaded");
    return true;
}
