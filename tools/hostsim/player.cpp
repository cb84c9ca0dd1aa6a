// The host side of the simulator: the host model loads the plug-in by path, initializes it in
// the host's layout and keeps what it registers; then, 60 times a second, the player makes
// the scenario's calls, delivers the three channels and reports the end of the frame.
#include "tools/hostsim/hostsim.h"

#include "state/vocabulary.h"
#include "support/host_model.h"

#include <cerrno>
#include <cfloat>
#include <cmath>

namespace {

const double FRAME_SECONDS = 1.0 / 60;
const double GAME_SECONDS_PER_SECOND = 20; // the game clock runs faster than the real one
const uint32_t GAME_TIME_AT_LOAD = 8 * 60; // 08:00 on the first day, in game minutes

struct Player {
    HostModel host;         // strict: it refuses what the host program refuses
    Session* session = nullptr;
    uint64_t plugin_us = 0; // time spent inside the plug-in in the current frame
};

// The truck: eases towards the target speed and heading, and moves along its heading.
struct Truck {
    double x, y, z;       // metres; north is -z
    double speed;         // m/s
    double target_speed;  // m/s
    double heading;       // degrees clockwise from north
    double target_heading;
    double game_seconds;  // the game clock
};

void tell(void* session, const char* source, const std::string& text)
{
    say((Session*)session, source, text);
}

void send_event(Player* p, uint32_t event, const void* info)
{
    uint64_t before = os_micros();
    p->host.event(event, info);
    p->plugin_us += os_micros() - before;
}

void send_channel(Player* p, int channel, const HostValue& value)
{
    uint64_t before = os_micros();
    p->host.channel(HOST_CHANNELS[channel].host_name, value);
    p->plugin_us += os_micros() - before;
}

void send_channels(Player* p, const Truck& truck)
{
    HostValue placement = host_placement(truck.x, truck.y, truck.z);
    placement.value.placement.heading = (float)(truck.heading / 360);
    send_channel(p, CHANNEL_GAME_TIME,
                 host_u32(GAME_TIME_AT_LOAD + (uint32_t)(truck.game_seconds / 60)));
    send_channel(p, CHANNEL_TRUCK_PLACEMENT, placement);
    // The host's speed is a float: a finite speed beyond its range arrives as an infinity.
    float speed = std::fabs(truck.speed) <= FLT_MAX || std::isnan(truck.speed)
                      ? (float)truck.speed
                      : std::copysign(HUGE_VALF, (float)(truck.speed > 0 ? 1 : -1));
    send_channel(p, CHANNEL_TRUCK_SPEED, host_float(speed));
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
    // The truck stops at the edge of the numbers: motion never makes a coordinate infinite
    // or NaN, nor moves one the scenario made so.
    double x = t->x + t->speed * std::sin(rad) * dt, z = t->z - t->speed * std::cos(rad) * dt;
    if (std::isfinite(x)) t->x = x;
    if (std::isfinite(z)) t->z = z;
    t->game_seconds += dt * GAME_SECONDS_PER_SECOND;
}

// A coordinate as the console shows it: centimetres, or all its digits in short form when
// it is huge or not a number.
std::string metres(double v) { return number(v, std::fabs(v) < 1e9 ? 2 : -1); }

std::string describe_job(const ScenarioLine& l)
{
    // The file cannot tell why a job ended, so neither does the simulator.
    if (l.attributes.empty()) return "job: cleared";
    std::string cargo = "?", from = "?", to = "?";
    for (const JobAttribute& a : l.attributes) {
        if (a.name == "cargo") cargo = a.text;
        if (a.name == "source.city") from = a.text;
        if (a.name == "destination.city") to = a.text;
    }
    return "job: " + cargo + ", " + from + " -> " + to + " (" +
           std::to_string(l.attributes.size()) + " attributes)";
}

// Makes one scenario line's call. The attribute records live only for the call, as the
// host's own do.
void make_call(Player* p, const ScenarioLine& l, Truck* truck)
{
    Session* session = p->session;
    os_lock();
    uint64_t now = os_micros();
    session->last_call_us[(int)l.call] = now;
    if (session->unpublished_us[(int)l.call] == 0) session->unpublished_us[(int)l.call] = now;
    os_unlock();
    switch (l.call) {
    case Call::start:
        say(session, "host", "start");
        send_event(p, HOST_EVENT_STARTED, nullptr);
        break;
    case Call::pause:
        say(session, "host", "pause");
        send_event(p, HOST_EVENT_PAUSED, nullptr);
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
        say(session, "truck", "at " + metres(l.value[0]) + " " + metres(l.value[1]) + " " +
                                  metres(l.value[2]));
        truck->x = l.value[0];
        truck->y = l.value[1];
        truck->z = l.value[2];
        break;
    case Call::speed:
        say(session, "truck", "speed " + number(l.value[0]) + " m/s at once");
        truck->speed = truck->target_speed = l.value[0];
        break;
    case Call::job: {
        say(session, "host", describe_job(l));
        std::vector<HostNamedValue> attrs;
        for (const JobAttribute& a : l.attributes) {
            HostValue v = a.type == HOST_TYPE_STRING ? host_string(a.text.c_str())
                          : a.type == HOST_TYPE_U64  ? host_u64(a.integer)
                          : a.type == HOST_TYPE_U32  ? host_u32((uint32_t)a.integer)
                                                     : host_float(a.number);
            attrs.push_back(host_attribute(a.name.c_str(), v));
        }
        attrs.push_back(host_attributes_end());
        HostConfiguration job = {"job", attrs.data()};
        send_event(p, HOST_EVENT_CONFIGURATION, &job);
        break;
    }
    case Call::event: {
        bool heard = p->host.has_event(HOST_EVENT_GAMEPLAY);
        say(session, "host", "gameplay event " + l.id + (heard ? "" : " (not registered: not sent)"));
        HostGameplayEvent event = {l.id.c_str(), nullptr};
        send_event(p, HOST_EVENT_GAMEPLAY, &event);
        break;
    }
    case Call::freeze:
        say(session, "host", "freeze: no frames for " + number(l.value[0], 3) + " s");
        break;
    case Call::shutdown:
    case Call::crash:
        break; // the player ends the frames first
    }
}

// Why a write into the folder of `temp` fails now, in the system's words, found by making
// such a write: hostsim cannot see the plug-in's own error, and its write meets the same
// disk, rights and names. "" when it works.
std::string write_problem(const std::string& temp)
{
    if (os_file_stamp(temp).kind == FileKind::directory) return "it is a directory";
    std::string probe = temp + "." + std::to_string(os_process_id()) + ".probe";
    errno = 0;
    std::FILE* file = os_create_new(probe);
    if (file == nullptr) return os_error_text();
    // As much as the largest document: a disk with room for a small one may lack it.
    const std::string bytes(DOCUMENT_READ_LIMIT, ' ');
    std::string why = write_and_close(file, bytes);
    os_remove(probe);
    return why;
}

// After a call that may have written: telemetry.json.tmp outlives a write when the plug-in
// could not finish it (a full disk: the file is cut short) or could not move it over
// telemetry.json (on Windows: someone held the file open; the file then holds a whole
// document). Which of the two is told from what the file holds.
void check_replace(const Session* session, const std::string& temp, const char* call,
                   FileStamp* last, PlayResult* result)
{
    FileStamp now = os_file_stamp(temp);
    if (now.exists && !(now == *last)) {
        std::string bytes;
        bool whole = now.kind == FileKind::regular &&
                     os_read_file(temp, DOCUMENT_READ_LIMIT, &bytes, true) == ReadResult::ok &&
                     document_problem(bytes).empty();
        if (whole) {
            result->replace_failures++;
            say(session, "host", std::string("telemetry.json.tmp stayed behind: the write at the ") +
                                     call + " could not replace telemetry.json");
        } else {
            result->write_failures++;
            std::string why = write_problem(temp);
            if (why.empty()) why = "it failed, but a write there works now";
            if (result->write_problem.empty()) result->write_problem = why;
            say(session, "host", std::string("telemetry.json.tmp is cut short: the write at the ") +
                                     call + " failed: " + why);
        }
    }
    *last = now;
}

} // namespace

bool play(const Scenario& scenario, HostPlugin* library, const std::string& plugin,
          Session* session, Reader* reader, PlayResult* result, std::string* error)
{
    Player player;
    player.session = session;
    player.host.listener = tell;
    player.host.listener_context = session;
    HostInitParams params = player.host.params(scenario.game.c_str(), scenario.game_version);
    char version[32];
    std::snprintf(version, sizeof version, "%u.%02u", scenario.interface_version >> 16,
                  scenario.interface_version & 0xFFFF);
    say(session, "host", "load " + plugin + " (interface " + version + ", game " + scenario.game +
                             " " + std::to_string(scenario.game_version >> 16) + "." +
                             std::to_string(scenario.game_version & 0xFFFF) + ")");
    std::string temp = reader->watch.path + ".tmp";
    FileStamp temp_stamp = os_file_stamp(temp); // one left by an earlier session is not ours
    uint64_t load_us = os_micros();
    session->host_pid = os_process_id();
    session->load_tick = os_tick_ms();
    result->init_result = player.host.init(library->init, scenario.interface_version, &params);
    session->loaded_tick = os_tick_ms();
    say(session, "host", "scs_telemetry_init returned " + std::to_string(result->init_result));
    if (result->init_result != HOST_RESULT_OK) {
        // The host unloads a plug-in whose initialization failed, without a shutdown.
        host_unload_plugin(library);
        *error = "the plug-in refused to initialize";
        return false;
    }
    check_replace(session, temp, "load", &temp_stamp, result);

    // The load document first, before a start at time 0 can replace it; then the reader
    // watches on its own thread.
    reader_poll(reader);
    OsThread* watcher = os_thread_start(reader_run, reader);

    Truck truck = {};
    bool paused = true;       // until the scenario starts the simulation
    double frozen_until = -1; // seconds since load; no frames before then
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
        player.plugin_us = 0;
        bool finished = false;
        while (!finished && next < scenario.lines.size() && scenario.lines[next].at <= t + 1e-9) {
            const ScenarioLine& line = scenario.lines[next++];
            if (line.call == Call::shutdown) finished = true;
            if (line.call == Call::crash) finished = result->crashed = true;
            if (line.call == Call::start) paused = false;
            if (line.call == Call::pause) paused = true;
            if (line.call == Call::freeze) frozen_until = t + line.value[0];
            make_call(&player, line, &truck);
            check_replace(session, temp, call_name(line.call), &temp_stamp, result);
        }
        if (!finished && g_interrupts > 0) {
            result->interrupted = g_interrupted_by;
            say(session, "host", std::string(result->interrupted) +
                                     ": shutting down (a second one ends at once, a crash)");
            finished = true;
        }
        if (finished) break;
        bool frozen = t < frozen_until - 1e-9;
        if (!frozen && frozen_until >= 0) {
            say(session, "host", "frames again");
            frozen_until = -1;
        }
        // While paused the simulation stands still, but the host keeps running frames and
        // publishing the channels. A freeze stops both.
        if (!paused && !frozen) move_truck(&truck, (double)(frame + 1 - simulated) * FRAME_SECONDS);
        simulated = frame + 1;
        frame++;
        if (frozen) continue;
        send_channels(&player, truck);
        send_event(&player, HOST_EVENT_FRAME_END, nullptr);
        if (result->frames == 0) {
            os_lock();
            session->first_frame_tick = os_tick_ms();
            os_unlock();
        }
        result->frame_us.push_back((uint32_t)player.plugin_us);
        check_replace(session, temp, "frame end", &temp_stamp, result);
        result->frames++;
    }
    os_fine_sleep(false);
    if (result->crashed) {
        say(session, "host", "crash: no shutdown, nothing unloaded");
    } else {
        say(session, "host", "shutdown");
        os_lock();
        session->last_call_us[(int)Call::shutdown] = os_micros(); // an interrupt makes no call line
        session->shutdown_tick = os_tick_ms();
        os_unlock();
        library->shutdown();
        check_replace(session, temp, "shutdown", &temp_stamp, result);
    }
    result->seconds = (double)(os_micros() - load_us) / 1e6;
    reader->stop = true;
    if (watcher != nullptr) os_thread_join(watcher);
    reader_poll(reader, true); // the closing document, however soon it followed the last one
    if (!result->crashed) {
        host_unload_plugin(library);
        say(session, "host", "unloaded");
    }
    return true;
}
