// --replay: a recording's documents published again, with no plug-in and no host, so that a
// companion application can be tried against a recorded drive anywhere.
#include "tools/hostsim/hostsim.h"

#include "platform/platform.h"

#include <cerrno>

namespace {

// Publishes one document as the plug-in does: written whole into a temporary file made afresh
// (whatever was at its name taken away, never written through, never waited on), then
// renamed over the target. "" when it was, else what failed and why, with the temporary file
// taken away again: a replay that cannot finish leaves nothing behind.
std::string publish(const std::string& temp, const std::string& target, const std::string& document)
{
    std::string name = temp;
    errno = 0;
    std::FILE* file = os_create_new(name);
    if (file == nullptr) {
        int error = errno;
        // Windows may call a folder there a refusal rather than a name taken.
        if (os_file_stamp(temp).kind == FileKind::directory) {
            return "cannot write " + temp + ": it is a directory";
        }
        errno = error;
        if (error == EEXIST && !os_remove_follows_links() && os_remove(temp)) {
            file = os_create_new(name);
        } else if (error == EEXIST) {
            // What is there may be a link whose removal would take its file with it: it is
            // left alone, and the document goes through a name of this process's own.
            name = target + "." + std::to_string(os_process_id()) + ".tmp";
            file = os_create_new(name);
        }
    }
    if (file == nullptr) return "cannot create " + name + ": " + os_error_text();
    std::string why = write_and_close(file, document);
    if (why.empty()) {
        if (os_replace(name, target)) return "";
        why = "cannot rename " + name + " over " + target + ": " + os_error_text();
    } else {
        why = "cannot write " + name + ": " + why;
    }
    os_remove(name);
    return why;
}

} // namespace

std::string write_and_close(std::FILE* file, const std::string& bytes)
{
    errno = 0;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    std::string why = os_error_text("the write failed");
    errno = 0;
    if (std::fclose(file) != 0 && written) {
        written = false;
        why = os_error_text("the write failed");
    }
    return written ? "" : why;
}

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
        std::fprintf(stderr, "hostsim: %s\n", data.problem.c_str());
        return EXIT_LOAD;
    }
    std::vector<Recorded> docs;
    if (!read_recording(options.recording, &docs)) return EXIT_USAGE;
    std::string mixed = options.restamp ? restamp_problem(docs) : "";
    if (!mixed.empty()) {
        std::fprintf(stderr, "hostsim: --restamp %s: %s\n", options.recording.c_str(), mixed.c_str());
        return EXIT_USAGE;
    }
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
        std::string failed = publish(temp, target, document);
        if (!failed.empty()) {
            std::fflush(stdout);
            std::fprintf(stderr, "hostsim: rev %zu: %s\n", i + 1, failed.c_str());
            return EXIT_LOAD;
        }
        say(&session, "replay", "rev " + std::to_string(i + 1) + "  " + docs[i].cause);
    }
    std::printf("\nhostsim: %s\n", g_interrupts == 0 ? "replayed" : ("stopped by " + std::string(g_interrupted_by.load())).c_str());
    return EXIT_OK;
}
