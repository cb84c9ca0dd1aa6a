// Torn-read stress: a reader process reads telemetry.json in a tight loop while the real
// plug-in, loaded as the host loads it and driven through its exports and callbacks, writes
// ten thousand documents of changing content and length. Every read must be a complete
// document that a strict parser accepts, and a reader must never see an older document
// after a newer one. Natively the library is libQAV.so; cross-built, the program loads
// QAV.dll under Wine, where a reader holding the file open makes the replace fail: those
// failures are counted, and the write after each one must publish the latest state.
//
//   torn_read_stress [library]   the writer; it starts the reader itself
//   torn_read_stress --reader    the reader, in the writer's environment and data folder
#include "support/document.h"
#include "support/host_model.h"
#include "support/os.h"
#include "support/reader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
static const char SEP = '\\';
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
static const char SEP = '/';
extern char** environ;
#endif

enum {
    WRITES = 10000,         // documents written, each by a pause or start event
    WRITER_SECONDS = 300,   // the writer gives up (and fails) after this long
    READER_SECONDS = 420,   // the reader stops by itself even if the writer died
};

static double seconds_since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The whole file as a reader using the C runtime gets it; false when it could not be opened.
// Not the well-behaved read of support/os.h on purpose: on Windows the runtime's open does not
// share deletion, so the plug-in's replaces fail while this reader holds the file, and the
// writes after such a failure are what this test is after.
static bool read_file(const std::string& path, std::string* out)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    out->clear();
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
    std::fclose(f);
    return true;
}

static bool exists(const std::string& path) { return os_file_stamp(path).exists; }

static void write_text(const std::string& path, const std::string& text)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    std::fputs(text.c_str(), f);
    std::fclose(f);
}

struct ReaderResult {
    unsigned long long reads = 0, torn = 0, distinct = 0, went_back = 0, unopened = 0;
};

static int reader_main()
{
    const TelemetryPaths paths = os_telemetry_paths();
    const std::string& doc_path = paths.final;
    const std::string stop_path = paths.folder + SEP + "stop";
    ReaderResult r;
    auto t0 = std::chrono::steady_clock::now();
    unsigned long long last_seq = 0;
    std::string doc;
    for (unsigned long long i = 0;; i++) {
        if (i % 64 == 0 && (exists(stop_path) || seconds_since(t0) > READER_SECONDS)) break;
        if (!read_file(doc_path, &doc)) {
            r.unopened++; // Windows refuses opens while a replace is under way
            continue;
        }
        r.reads++;
        DocumentView s;
        std::string problem = document_problem(doc, &s);
        if (!problem.empty()) {
            if (++r.torn <= 3) std::fprintf(stderr, "torn read: %s\n%s\n", problem.c_str(), doc.c_str());
            continue;
        }
        if (s.eventSeq < last_seq) r.went_back++;
        if (s.eventSeq != last_seq || r.distinct == 0) r.distinct++;
        last_seq = s.eventSeq;
    }
    char line[200];
    std::snprintf(line, sizeof line, "%llu %llu %llu %llu %llu\n", r.reads, r.torn, r.distinct,
                  r.went_back, r.unopened);
    write_text(paths.folder + SEP + "reader-result.txt", line);
    return 0;
}

// ---- starting the reader and loading the library: the only parts that differ by system

#if defined(_WIN32)
struct Reader { PROCESS_INFORMATION pi; };

static bool start_reader(Reader* reader)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(NULL, exe, MAX_PATH);
    std::string cmd = std::string("\"") + exe + "\" --reader";
    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    return CreateProcessA(NULL, &cmd[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &reader->pi) != 0;
}

static void wait_reader(Reader* reader)
{
    WaitForSingleObject(reader->pi.hProcess, INFINITE);
    CloseHandle(reader->pi.hProcess);
    CloseHandle(reader->pi.hThread);
}

// The data folder is the Wine prefix's own; the DLL tests start by clearing it.
static bool own_data_folder() { return true; }
static void remove_data_folder(const TelemetryPaths&) {}

static const char DEFAULT_LIBRARY[] = "QAV.dll";
#else
struct Reader { pid_t pid; };

static bool start_reader(Reader* reader)
{
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return false;
    exe[n] = 0;
    char reader_flag[] = "--reader";
    char* argv[] = {exe, reader_flag, nullptr};
    return posix_spawn(&reader->pid, exe, nullptr, nullptr, argv, environ) == 0;
}

static void wait_reader(Reader* reader)
{
    int status;
    waitpid(reader->pid, &status, 0);
}

// A data folder of its own: the library, and the reader after it, follow $XDG_DATA_HOME.
static char g_data_home[] = "/tmp/qav-stress-XXXXXX";

static bool own_data_folder()
{
    return mkdtemp(g_data_home) != nullptr && setenv("XDG_DATA_HOME", g_data_home, 1) == 0;
}

static void remove_data_folder(const TelemetryPaths& paths)
{
    std::remove(paths.final.c_str());
    std::remove(paths.temp.c_str());
    rmdir(paths.folder.c_str());
    rmdir(g_data_home);
}

static const char DEFAULT_LIBRARY[] = "libQAV.so";
#endif

// ---- the writer

// Text whose length and bytes change with `i`: quotes, backslashes, control bytes and
// UTF-8, so documents differ in length and escaping from one write to the next.
static std::string varying_text(int i, size_t max)
{
    static const char* const pieces[] = {"km", "\"", "\\", "\t", "\xC3\xA9", "\xE2\x82\xAC", "-", "x"};
    std::string s = "e" + std::to_string(i);
    size_t len = (size_t)(i * 7919) % max; // the last piece may add two bytes more
    for (size_t k = 0; s.size() < len; k++) s += pieces[(i + k) % 8];
    return s;
}

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--reader") == 0) return reader_main();

    std::string error;
    HostPlugin plugin;
    if (!own_data_folder() || !host_load_plugin(argc >= 2 ? argv[1] : DEFAULT_LIBRARY, &plugin, &error)) {
        std::fprintf(stderr, "cannot set up: no data folder or no library %s\n", error.c_str());
        return 1;
    }
    const TelemetryPaths paths = os_telemetry_paths();
    os_create_directory(paths.folder);
    const std::string& folder = paths.folder;
    const std::string& doc_path = paths.final;
    const std::string& temp_path = paths.temp;
    for (const std::string& path : {doc_path, temp_path, folder + SEP + "stop", folder + SEP + "reader-result.txt"}) {
        std::remove(path.c_str());
    }

    HostModel host;
    if (host.start(plugin.init, HOST_VERSION_1_01) != HOST_RESULT_OK || !exists(doc_path)) {
        std::fprintf(stderr, "initialization failed\n");
        return 1;
    }
    host.event(HOST_EVENT_STARTED, nullptr);

    Reader reader;
    if (!start_reader(&reader)) {
        std::fprintf(stderr, "cannot start the reader\n");
        return 1;
    }

    auto t0 = std::chrono::steady_clock::now();
    int writes = 0, failed_replaces = 0, recovered = 0, stale = 0;
    bool owed = false; // a replace failed: the next published document must be the latest
    std::string id, doc;
    std::string job_text[3];
    for (int i = 0; i < WRITES && seconds_since(t0) < WRITER_SECONDS; i++) {
        id = varying_text(i, 44); // at most 45 bytes: within lastEvent's 47
        host.gameplay(id.c_str());
        if (i % 10 == 0) {
            static const char* const names[] = {"cargo", "source.city", "destination.company"};
            HostNamedValue attrs[5];
            for (int k = 0; k < 3; k++) {
                job_text[k] = varying_text(i + k, 140);
                attrs[k] = host_attribute(names[k], host_string(job_text[k].c_str()));
            }
            attrs[3] = host_attribute("income", host_u64((uint64_t)i * 1000));
            // Every fourth job is the empty configuration: no job, a much shorter document.
            attrs[i % 40 == 0 ? 0 : 4] = host_attributes_end();
            host.configuration("job", attrs);
        }
        host.channel("game.time", host_u32((uint32_t)i));
        host.channel("truck.world.placement", host_placement(i * 1.25, -i * 0.5, i % 100 == 0 ? 1e300 : i));
        host.channel("truck.speed", host_float((float)(i % 90)));
        host.event(HOST_EVENT_FRAME_END, nullptr); // paced: about one more write a second
        host.event(i % 2 == 0 ? HOST_EVENT_PAUSED : HOST_EVENT_STARTED, nullptr);
        writes++;

        // The temporary file is left behind only when its replace failed.
        if (exists(temp_path)) {
            failed_replaces++;
            owed = true;
        } else if (owed) {
            DocumentView s;
            bool opened = read_file(doc_path, &doc);
            std::string problem = opened ? document_problem(doc, &s) : "not opened";
            if (opened && problem.empty() && s.eventSeq == (uint64_t)i + 1 && s.lastEvent == id) {
                recovered++;
            } else {
                stale++;
                std::fprintf(stderr, "write %d: the next write after a failed replace did not "
                             "publish the latest state (%s)\n", i, problem.c_str());
            }
            owed = false;
        }
    }
    const double seconds = seconds_since(t0);

    write_text(folder + SEP + "stop", "stop\n");
    wait_reader(&reader);
    ReaderResult r;
    std::string result;
    if (!read_file(folder + SEP + "reader-result.txt", &result) ||
        std::sscanf(result.c_str(), "%llu %llu %llu %llu %llu", &r.reads, &r.torn, &r.distinct,
                    &r.went_back, &r.unopened) != 5) {
        std::fprintf(stderr, "the reader left no result\n");
        return 1;
    }

    std::remove((folder + SEP + "stop").c_str());
    std::remove((folder + SEP + "reader-result.txt").c_str());

    // With the reader gone, the closing write must publish the whole latest state.
    plugin.shutdown();
    DocumentView last;
    bool closed = read_file(doc_path, &doc) && document_problem(doc, &last).empty() &&
                  last.lastEvent == "game.closed" && last.eventSeq == (uint64_t)writes &&
                  !exists(temp_path);

    std::printf("torn-read stress: %d writes in %.1f s; %d replaces failed while the reader held "
                "the file; after a failed replace the next published document was the latest "
                "state %d times, not %d times; reader: %llu reads, %llu torn or invalid, %llu "
                "went back, %llu distinct documents seen, %llu opens refused; closing document "
                "%s\n",
                writes, seconds, failed_replaces, recovered, stale, r.reads, r.torn, r.went_back,
                r.distinct, r.unopened, closed ? "latest" : "WRONG");
    remove_data_folder(paths);
    bool ok = writes == WRITES && r.torn == 0 && r.went_back == 0 && stale == 0 && closed &&
              r.reads > 0 && r.distinct > 1;
    return ok ? 0 : 1;
}
