// A scenario: the host calls a simulated session makes, each at a time since the plug-in was
// loaded. Written by hand, one call per line (docs/hostsim.md has the format); the parser
// turns the text into lines the player can run without further checks, or lists the lines
// that are wrong, each with what is wrong with it.
#ifndef QAV_TOOLS_HOSTSIM_SCENARIO_H
#define QAV_TOOLS_HOSTSIM_SCENARIO_H

#include "host/scs_host.h"

#include <cstdint>
#include <string>
#include <vector>

enum class Call {
    start,    // event 4
    pause,    // event 3
    drive,    // the truck's target speed, km/h
    heading,  // the direction the truck steers to, degrees clockwise from north
    position, // puts the truck at x y z, metres
    job,      // event 5, configuration "job"; no attributes means no job
    event,    // event 6, a gameplay event
    freeze,   // no frames and no channel values for a while, as on a loading screen
    shutdown, // scs_telemetry_shutdown
    crash,    // the host stops calling the plug-in and unloads nothing
    speed,    // the truck's speed at once, m/s
};
// How many kinds of call there are, for arrays indexed by Call. scenario.cpp checks it against
// its table of commands, so a verb added there and not here stops the build.
enum { CALL_KINDS = (int)Call::speed + 1 };

// One job attribute, typed as the host types it.
struct JobAttribute {
    std::string name;
    uint32_t type;     // HOST_TYPE_STRING, _U64, _U32 or _FLOAT
    std::string text;  // HOST_TYPE_STRING
    uint64_t integer;  // HOST_TYPE_U64 and HOST_TYPE_U32
    float number;      // HOST_TYPE_FLOAT; may be NaN or infinite on purpose
};

struct ScenarioLine {
    int line;                // in the scenario text, from 1
    double at;               // seconds since load
    Call call;
    double value[3];         // drive: km/h; heading: degrees; position: x, y, z (may be NaN
                             // or infinite on purpose); speed: m/s (the same); freeze: s
    std::string id;          // event: the gameplay event's identifier
    std::vector<JobAttribute> attributes; // job
};

struct Scenario {
    uint32_t interface_version = HOST_VERSION_1_01;
    std::string game = "haulsim";
    uint32_t game_version = 0x00010012; // 1.18
    std::vector<ScenarioLine> lines;    // in time order; the last one is the shutdown or crash

    double length() const { return lines.empty() ? 0.0 : lines.back().at; }
};

struct ScenarioError {
    int line;            // from 1
    std::string message; // what is wrong, without the line number
};

enum { SCENARIO_ERRORS_KEPT = 20 }; // a file with more is a wrong file, not a few typos

// Parses `text`. On failure returns false with `errors` naming the wrong lines, at most
// SCENARIO_ERRORS_KEPT of them, in line order; `out` is then unusable.
bool parse_scenario(const std::string& text, Scenario* out, std::vector<ScenarioError>* errors);

// The built-in drive: about ten seconds with every kind of call.
extern const char DEFAULT_SCENARIO[];

const char* call_name(Call call);

#endif
