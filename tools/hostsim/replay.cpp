// --replay: a recording's documents published again, with no plug-in and no host, so that a
// companion application can be tried against a recorded drive anywhere.
#include "tools/hostsim/hostsim.h"

#include <nlohmann/json.hpp>

#include <cstring>

namespace {

struct Recorded {
    double at;            // seconds, as recorded
    std::string cause;
    std::string document; // the bytes to publish
};

// The recording's lines, or false after saying which line is not one.
bool read_recording(const std::string& path, std::vector<Recorded>* out)
{
    std::string text;
    const size_t limit = 256 * 1024 * 1024;
    if (os_read_file(path, limit, &text) != ReadResult::ok || text.size() > limit) {
        std::fprintf(stderr, "hostsim: %s: cannot be read\n", path.c_str());
        return false;
    }
    int number = 0;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        number++;
        nlohmann::json line = nlohmann::json::parse(text.substr(at, end - at), nullptr, false);
        if (!line.is_object() || !line["at"].is_number() || !line["document"].is_string() ||
            (!out->empty() && line["at"].get<double>() < out->back().at)) {
            std::fprintf(stderr, "hostsim: %s:%d: not a line of a recording in time order "
                                 "(docs/hostsim.md has the format)\n", path.c_str(), number);
            return false;
        }
        out->push_back({line["at"].get<double>(),
                        line["cause"].is_string() ? line["cause"].get<std::string>() : "",
                        line["document"].get<std::string>()});
    }
    if (out->empty()) {
        std::fprintf(stderr, "hostsim: %s: the recording is empty\n", path.c_str());
        return false;
    }
    return true;
}

} // namespace

int replay(const std::string& path, const std::string& to)
{
    std::vector<Recorded> docs;
    if (!read_recording(path, &docs)) return EXIT_USAGE;
    std::string data = os_telemetry_path();
    const size_t name = std::strlen("telemetry.json");
    if (to.empty() && data.empty()) {
        std::fprintf(stderr, "hostsim: the system does not tell the local application-data folder\n");
        return EXIT_LOAD;
    }
    // The data folder's own separator, so that a Windows path reads as one.
    char separator = data.size() > name ? data[data.size() - name - 1] : '/';
    std::string dir = to.empty() ? data.substr(0, data.size() - name - 1) : to;
    std::string target = dir + separator + "telemetry.json";
    os_create_directory(dir);
    std::string temp = target + ".tmp";

    Session session;
    std::printf("hostsim: replaying %s, %zu documents over %.3f s, into %s\n\n", path.c_str(),
                docs.size(), docs.back().at - docs.front().at, target.c_str());
    std::printf("    time  source    what\n");
    session.start_us = os_micros();
    for (size_t i = 0; i < docs.size() && g_interrupts == 0; i++) {
        uint64_t due = session.start_us + (uint64_t)((docs[i].at - docs.front().at) * 1e6);
        while (os_micros() < due && g_interrupts == 0) os_sleep_ms(1);
        std::FILE* file = os_open_write(temp);
        bool written = file != nullptr &&
                       std::fwrite(docs[i].document.data(), 1, docs[i].document.size(), file) ==
                           docs[i].document.size();
        if (file != nullptr) written = std::fclose(file) == 0 && written;
        if (!written || !os_replace(temp, target)) {
            std::fprintf(stderr, "hostsim: cannot write %s\n", written ? target.c_str() : temp.c_str());
            return EXIT_LOAD;
        }
        say(&session, "replay", "rev " + std::to_string(i + 1) + "  " + docs[i].cause);
    }
    std::printf("\nhostsim: %s\n", g_interrupts == 0 ? "replayed" : "stopped by Ctrl+C");
    return EXIT_OK;
}
