// hostsim: plays a driving session into the QAV plug-in the way the host program does, and
// watches telemetry.json the way a companion application should. Usage in docs/hostsim.md.
#include "tools/hostsim/hostsim.h"

#include "platform/platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

const char USAGE[] =
    "usage: hostsim [--plugin PATH] [--record FILE] [--busy-reader] [SCENARIO]\n"
    "       hostsim --check SCENARIO\n"
    "       hostsim --print-default\n"
    "       hostsim --replay FILE [--to DIR] [--restamp] [--speed F]\n"
    "       hostsim --watch [DIR] [--follow | --once] [--record FILE]\n"
    "\n"
    "Loads the QAV plug-in (default: the one beside hostsim), plays SCENARIO (default: the\n"
    "built-in ten-second drive) at 60 frames a second, and prints every revision of\n"
    "telemetry.json it reads, then a summary. Ctrl+C (or SIGTERM, SIGHUP) shuts the plug-in\n"
    "down early; a second one ends at once, as a crash.\n"
    "  --plugin PATH   the plug-in library to load\n"
    "  --record FILE   also write every revision read to FILE, one JSON line each; FILE is\n"
    "                  replaced only by a whole recording, and only if it is an earlier\n"
    "                  recording or empty\n"
    "  --busy-reader   read the file at every poll, not only when it changed, to see how\n"
    "                  often such a reader makes the plug-in's replace fail\n"
    "  --check         only check the scenario file, load nothing\n"
    "  --print-default print the built-in scenario\n"
    "  --replay FILE   publish a recording's documents again at their recorded times, into\n"
    "                  the data folder or DIR; loads no plug-in\n"
    "  --restamp       replay each document as written now by the replay: its pid and written\n"
    "                  become the replay's own and the current tick\n"
    "  --speed F       replay F times as fast (0.001 to 1000)\n"
    "  --watch [DIR]   load no plug-in: follow DIR's or the data folder's telemetry.json as a\n"
    "                  real host writes it, telling live, stale, closed or gone as it changes,\n"
    "                  until the host closes or is gone, or Ctrl+C\n"
    "  --follow        with --watch: go on after a session ends, until Ctrl+C\n"
    "  --once          with --watch: read the file once, print the verdict and end\n"
    "Exit status:\n";

void print_usage(std::FILE* to)
{
    std::fputs(USAGE, to);
    for (const ExitMeaning& e : EXIT_MEANINGS) std::fprintf(to, "  %3d  %s\n", (int)e.status, e.meaning);
}

struct Options {
    std::string plugin, record, scenario_path, replay, to, speed, watch_dir;
    bool to_given = false;
    bool restamp = false;
    bool check = false;
    bool busy_reader = false;
    bool watch = false;
    bool follow = false;
    bool once = false;
};

// Each option sets either a text or a flag.
struct OptionRow {
    const char* name;
    std::string Options::*value;
    bool Options::*flag;
};

const OptionRow OPTIONS[] = {
    {"--plugin", &Options::plugin, nullptr},    {"--record", &Options::record, nullptr},
    {"--replay", &Options::replay, nullptr},    {"--to", &Options::to, nullptr},
    {"--check", nullptr, &Options::check},      {"--busy-reader", nullptr, &Options::busy_reader},
    {"--watch", nullptr, &Options::watch},      {"--restamp", nullptr, &Options::restamp},
    {"--speed", &Options::speed, nullptr},      {"--follow", nullptr, &Options::follow},
    {"--once", nullptr, &Options::once},
};

bool parse_options(const std::vector<std::string>& args, Options* o, std::string* error)
{
    for (size_t i = 1; i < args.size(); i++) {
        const std::string& a = args[i];
        const OptionRow* option = nullptr;
        for (const OptionRow& row : OPTIONS) {
            if (a == row.name) option = &row;
        }
        if (option != nullptr && option->flag != nullptr) {
            o->*option->flag = true;
            // --watch takes the folder that follows it, if one does.
            if (a == "--watch" && i + 1 < args.size() && args[i + 1].compare(0, 1, "-") != 0) {
                o->watch_dir = args[++i];
            }
        } else if (option != nullptr) {
            // "--plugin --record x" would otherwise load a plug-in named --record, and
            // "--record ''" record nothing without a word. --to "" has its own refusal.
            if (i + 1 == args.size() || args[i + 1].compare(0, 2, "--") == 0 ||
                (args[i + 1].empty() && option->value != &Options::to)) {
                *error = a + " needs a value";
                return false;
            }
            o->*option->value = args[++i];
            if (option->value == &Options::to) o->to_given = true;
        } else if (!a.empty() && a[0] == '-') {
            *error = "unknown option " + a;
            return false;
        } else if (o->scenario_path.empty()) {
            o->scenario_path = a;
        } else {
            *error = "only one scenario can be played at a time";
            return false;
        }
    }
    bool plays = !o->scenario_path.empty() || !o->plugin.empty() || o->busy_reader || o->check;
    if (o->check && o->scenario_path.empty()) {
        *error = "--check needs a scenario file";
    } else if (!o->replay.empty() && (plays || o->watch || !o->record.empty())) {
        *error = "--replay takes only --to, --restamp and --speed";
    } else if ((o->to_given || o->restamp || !o->speed.empty()) && o->replay.empty()) {
        *error = "--to, --restamp and --speed go with --replay";
    } else if (o->watch && plays) {
        *error = "--watch takes only a folder, --follow or --once, and --record";
    } else if ((o->follow || o->once) && !o->watch) {
        *error = "--follow and --once go with --watch";
    } else if (o->follow && o->once) {
        *error = "--follow and --once exclude each other";
    }
    return error->empty();
}

// Reads and parses the scenario, or lists what is wrong with it.
bool load_scenario(const std::string& path, Scenario* scenario)
{
    std::string text = DEFAULT_SCENARIO;
    if (!path.empty()) {
        const size_t limit = 16 * 1024 * 1024;
        ReadResult r = os_read_file(path, limit, &text);
        if (r != ReadResult::ok || text.size() > limit) {
            std::fprintf(stderr, "hostsim: %s: %s\n", path.c_str(),
                         r == ReadResult::missing ? "no such file"
                         : r == ReadResult::ok    ? "too large for a scenario"
                                                  : "cannot be read");
            return false;
        }
    }
    std::vector<ScenarioError> errors;
    if (parse_scenario(text, scenario, &errors)) return true;
    const char* name = path.empty() ? "(built-in)" : path.c_str();
    for (const ScenarioError& e : errors) {
        std::fprintf(stderr, "hostsim: %s:%d: %s\n", name, e.line, e.message.c_str());
    }
    if (errors.size() == SCENARIO_ERRORS_KEPT) {
        std::fprintf(stderr, "hostsim: %s: the first %d mistakes; there may be more\n", name,
                     (int)SCENARIO_ERRORS_KEPT);
    }
    return false;
}

// What Windows's loader numbers mean to someone who only asked for a DLL to be loaded.
const struct {
    const char* code;
    const char* meaning;
} LOAD_ERRORS[] = {
    {"error 126", "the file is not there, or a DLL it needs is missing"},
    {"error 193", "it is not a 64-bit Windows DLL"},
};

// The loader's message, once, without the path the caller prints before it.
std::string load_error(const std::string& plugin, std::string error)
{
    for (const std::string& path : {"./" + plugin, plugin}) {
        if (error.compare(0, path.size(), path) != 0) continue;
        error.erase(0, path.size());
        error.erase(0, error.find_first_not_of(": "));
        break;
    }
    for (const auto& row : LOAD_ERRORS) {
        size_t at = error.find(row.code);
        if (at != std::string::npos && at + std::strlen(row.code) == error.size()) {
            error += ": " + std::string(row.meaning);
        }
    }
    return error;
}

bool parse_speed(const std::string& text, double* speed)
{
    char* end = nullptr;
    *speed = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == 0 && *speed >= 0.001 && *speed <= 1000;
}

} // namespace

void say_locked(const Session* session, const char* source, const std::string& text)
{
    double t = (double)(os_micros() - session->start_us) / 1e6;
    std::printf("%8.3f  %-9s %s\n", t, source, escaped(text).c_str());
    std::fflush(stdout);
}

void say(const Session* session, const char* source, const std::string& text)
{
    os_lock();
    say_locked(session, source, text);
    os_unlock();
}

std::atomic<int> g_interrupts{0};
std::atomic<const char*> g_interrupted_by{"Ctrl+C"};

static void on_interrupt(const char* what)
{
    if (g_interrupts == 0) g_interrupted_by = what;
    if (++g_interrupts > 1) os_exit_now(EXIT_INTERRUPTED);
}

// Plays the scenario, or watches; `ran` tells that it got as far as reading documents.
static int run(const Options& options, const std::string& plugin, const std::string& telemetry,
               Recording* recording, bool* ran)
{
    std::string error;
    Scenario scenario;
    if (!options.watch && !load_scenario(options.scenario_path, &scenario)) return EXIT_USAGE;
    if (options.check) {
        std::printf("%s: %zu calls over %.3f s\n", options.scenario_path.c_str(),
                    scenario.lines.size(), scenario.length());
        return EXIT_OK;
    }

    Session session;
    session.start_us = os_micros();
    Reader reader;
    reader.session = &session;
    reader.watch.path = telemetry;
    reader.busy = options.busy_reader;
    reader.record = recording;
    if (options.watch) {
        *ran = true;
        // The folder, not the file: the reader names the file itself.
        std::string dir = telemetry.substr(0, telemetry.size() - std::strlen("/telemetry.json"));
        return watch(&reader, dir, options.follow, options.once);
    }

    HostPlugin library;
    if (!host_load_plugin(plugin, &library, &error)) {
        std::fprintf(stderr, "hostsim: cannot load %s: %s\n", plugin.c_str(),
                     load_error(plugin, error).c_str());
        return EXIT_LOAD;
    }
    std::printf("hostsim: %s, %.1f s at 60 frames a second\n",
                options.scenario_path.empty() ? "built-in scenario" : options.scenario_path.c_str(),
                scenario.length());
    std::printf("hostsim: watching %s\n\n", reader.watch.path.c_str());
    std::printf("    time  source    what\n");

    PlayResult result;
    bool played = play(scenario, &library, plugin, &session, &reader, &result, &error);
    *ran = played;
    if (!played) {
        // The plug-in keeps to the Windows path limit; hostsim natively does not.
        size_t temp = telemetry.size() + 4;
        if (temp >= PLATFORM_PATH_MAX) {
            error += ": its data folder's path is too long for it (telemetry.json.tmp there is " +
                     std::to_string(temp) + " bytes; the plug-in takes up to " +
                     std::to_string(PLATFORM_PATH_MAX - 1) + ")";
        }
        std::fprintf(stderr, "hostsim: %s: %s\n", plugin.c_str(), error.c_str());
        return EXIT_LOAD;
    }
    std::string folder_problem = os_folder_problem(reader.watch.path);
    bool temp_folder = os_file_stamp(reader.watch.path + ".tmp").kind == FileKind::directory;
    if (folder_problem.empty() && temp_folder) {
        folder_problem = "telemetry.json.tmp is a directory: the plug-in cannot make its temporary "
                         "file there";
    }
    return summarize(reader, result, folder_problem) ? EXIT_OK : EXIT_DOCUMENTS;
}

int main(int argc, char** argv)
{
    std::vector<std::string> args = os_arguments(argc, argv);
    Options options;
    std::string error;
    if (args.size() > 1 && (args[1] == "--help" || args[1] == "-h")) {
        print_usage(stdout);
        return EXIT_OK;
    }
    if (args.size() == 2 && args[1] == "--print-default") {
        std::fputs(DEFAULT_SCENARIO, stdout);
        return EXIT_OK;
    }
    if (!parse_options(args, &options, &error)) {
        std::fprintf(stderr, "hostsim: %s\n\n", error.c_str());
        print_usage(stderr);
        return EXIT_USAGE;
    }
    os_on_interrupt(on_interrupt);
    if (!options.replay.empty()) {
        ReplayOptions replaying;
        replaying.recording = options.replay;
        replaying.to = options.to;
        replaying.to_given = options.to_given;
        replaying.restamp = options.restamp;
        if (!options.speed.empty() && !parse_speed(options.speed, &replaying.speed)) {
            std::fprintf(stderr, "hostsim: --speed takes a number from 0.001 to 1000, not '%s'\n",
                         options.speed.c_str());
            return EXIT_USAGE;
        }
        return replay(replaying);
    }

    const TelemetryPaths data = os_telemetry_paths();
    std::string telemetry = data.final;
    if (telemetry.empty() && options.watch_dir.empty()) {
        std::fprintf(stderr, "hostsim: %s\n", data.problem.c_str());
        return EXIT_LOAD;
    }
    if (!options.watch_dir.empty()) {
        if (os_file_stamp(options.watch_dir).kind != FileKind::directory) {
            std::fprintf(stderr, "hostsim: %s is not a folder\n", options.watch_dir.c_str());
            return EXIT_USAGE;
        }
        telemetry = options.watch_dir + "/telemetry.json";
    }
    std::string plugin = options.plugin.empty() ? os_default_plugin() : options.plugin;
    Recording* recording = nullptr;
    if (!options.record.empty()) {
        // Before anything is read or loaded: a wrong FILE must not cost the file it names.
        std::vector<KeptFile> keep = {{options.scenario_path, "the scenario"},
                                      {plugin, "the plug-in"},
                                      {telemetry, "telemetry.json, which the plug-in writes"},
                                      {telemetry + ".tmp", "the plug-in's telemetry.json.tmp"}};
        recording = recording_open(options.record, keep, &error);
        if (recording == nullptr) {
            std::fprintf(stderr, "hostsim: --record %s: %s\n", options.record.c_str(), error.c_str());
            return EXIT_USAGE;
        }
    }
    bool ran = false;
    int status = run(options, plugin, telemetry, recording, &ran);
    if (recording != nullptr) {
        std::string incomplete = recording_close(recording, ran);
        if (!incomplete.empty()) {
            std::fflush(stdout); // after the summary, not inside it
            std::fprintf(stderr, "hostsim: recording incomplete: %s\n", incomplete.c_str());
            status = EXIT_LOAD;
        }
    }
    return status;
}
