// --replay: a recording's documents published again, with no plug-in and no host, so that a
// companion application can be tried against a recorded drive anywhere.
#include "tools/hostsim/hostsim.h"

#include "platform/platform.h"

int replay(const ReplayOptions& options)
{
    const TelemetryPaths data = os_telemetry_paths();
    if (options.to_given && options.to.empty()) {
        std::fprintf(stderr, "hostsim: --to needs a folder; to replay into the data folder, "
                             "leave --to out\n");
        return EXIT_USAGE;
    }
    if (options.to_given && !data.folder.empty() && same_file(options.to, data.folder)) {
        std::fprintf(stderr, "hostsim: --to %s is the data folder, where a running host's plug-in "
                             "writes; to replay into it all the same, leave --to out\n",
                     options.to.c_str());
        return EXIT_USAGE;
    }
    if (!options.to_given && data.folder.empty()) {
        std::fprintf(stderr, "hostsim: the system does not tell the local application-data folder\n");
        return EXIT_LOAD;
    }
    std::vector<Recorded> docs;
    if (!read_recording(options.recording, &docs)) return EXIT_USAGE;
    std::string dir = options.to_given ? options.to : data.folder;
    std::string target = options.to_given ? dir + (char)PLATFORM_SEPARATOR + "telemetry.json" : data.final;
    std::string temp = target + ".tmp";
    os_create_directory(dir);

    Session session;
    std::printf("hostsim: replaying %s, %zu documents over %s s%s, into %s%s\n\n",
                options.recording.c_str(), docs.size(), number(docs.back().at - docs.front().at, 3).c_str(),
                options.speed == 1 ? "" : (" at " + number(options.speed) + " times the speed").c_str(),
                target.c_str(), options.restamp ? ", restamped as this process's own" : "");
    std::printf("    time  source    what\n");
    uint32_t pid = os_process_id();
    session.start_us = os_micros();
    for (size_t i = 0; i < docs.size() && g_interrupts == 0; i++) {
        // Times and speed are bounded when read: this never overflows.
        uint64_t due = session.start_us +
                       (uint64_t)((docs[i].at - docs.front().at) / options.speed * 1e6);
        while (os_micros() < due && g_interrupts == 0) os_sleep_ms(1);
        if (g_interrupts != 0) break;
        const std::string document =
            options.restamp ? restamp(docs[i].document, pid, os_tick_ms()) : docs[i].document;
        std::FILE* file = os_open_write(temp);
        bool written = file != nullptr &&
                       std::fwrite(document.data(), 1, document.size(), file) == document.size();
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
