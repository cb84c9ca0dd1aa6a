// The real QAV.dll, loaded as the host loads it, timed against the raw I/O floor that this
// program measures in the same run: the same bytes written with CreateFileW + WriteFile +
// CloseHandle + MoveFileExW into the same folder, and once more through the C runtime's
// stream as the plug-in writes them. Under Wine the absolute times say more about Wine than
// about the plug-in; the ratios, taken call by call in turns, are the figures.
// `--smoke` runs a handful of calls only, to show the program still works.
#include "bench/documents.h"
#include "support/figures.h"
#include "support/host_model.h"
#include "support/os.h"
#include "support/reader.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static double g_us_per_count;

static double now_us()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * g_us_per_count;
}

static bool raw_publish(const std::wstring& temp, const std::wstring& final,
                        const std::string& bytes)
{
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    bool ok = WriteFile(h, bytes.data(), (DWORD)bytes.size(), &n, NULL) && n == bytes.size();
    ok = CloseHandle(h) && ok;
    return ok && MoveFileExW(temp.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING);
}

static bool stdio_publish(const std::wstring& temp, const std::wstring& final,
                          const std::string& bytes)
{
    FILE* f = _wfopen(temp.c_str(), L"wb");
    if (f == NULL) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = fclose(f) == 0 && ok;
    return ok && MoveFileExW(temp.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// Median cost of one call of `call`, from batches of `per_batch` calls.
template <typename F> static double ns_per_call(int batches, int per_batch, F call)
{
    std::vector<double> per_call;
    for (int b = 0; b < batches; b++) {
        double t0 = now_us();
        for (int i = 0; i < per_batch; i++) call();
        per_call.push_back((now_us() - t0) * 1000.0 / per_batch);
    }
    return median_of(per_call);
}

int main(int argc, char** argv)
{
    bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    int rounds = smoke ? 3 : 1000;
    int batches = smoke ? 2 : 40, per_batch = smoke ? 100 : 20000;

    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    g_us_per_count = 1e6 / (double)freq.QuadPart;

    HostPlugin plugin;
    std::string error;
    TelemetryPaths paths = os_telemetry_paths();
    if (!host_load_plugin("QAV.dll", &plugin, &error) || paths.final.empty()) {
        std::fprintf(stderr, "win_write_bench: %s\n", paths.final.empty() ? "no data folder" : error.c_str());
        return 1;
    }
    std::wstring temp = os_wide(paths.temp);
    std::wstring final = os_wide(paths.final);

    std::printf("QAV.dll, medians of %d calls taken in turns (microseconds)\n", rounds);
    std::printf("%-9s %6s %10s %10s %10s %11s %13s\n", "document", "bytes", "QAV.dll",
                "raw floor", "stdio", "QAV / raw", "QAV / stdio");
    HostModel host;
    BenchDocument doc;
    for (int kind = 0; kind < BENCH_KINDS; kind++) {
        bench_document(&doc, (BenchKind)kind);
        if (host.start(plugin.init, HOST_VERSION_1_01, doc.game, doc.game_version) !=
            HOST_RESULT_OK) {
            std::fprintf(stderr, "win_write_bench: the plug-in did not initialize\n");
            return 1;
        }
        bench_deliver(&host, doc);
        // A start event makes the plug-in write at once, whatever the pacing says.
        HostEventCallback pause_change = host.find_event(HOST_EVENT_STARTED)->on_event;
        pause_change(HOST_EVENT_STARTED, nullptr, nullptr);
        std::string bytes = read_document(paths.final);

        // QAV.dll, the raw floor and the stream, each timed on its own; which goes first
        // rotates, so none always follows the same one.
        std::vector<double> times[3];
        bool ok = !bytes.empty();
        for (int i = 0; i < rounds; i++) {
            for (int k = 0; k < 3; k++) {
                int method = (i + k) % 3;
                double t0 = now_us();
                if (method == 0) {
                    pause_change(HOST_EVENT_STARTED, nullptr, nullptr);
                } else if (method == 1) {
                    ok = raw_publish(temp, final, bytes) && ok;
                } else {
                    ok = stdio_publish(temp, final, bytes) && ok;
                }
                times[method].push_back(now_us() - t0);
            }
        }
        if (!ok) std::fprintf(stderr, "win_write_bench: a floor write failed\n");
        double q = median_of(times[0]), r = median_of(times[1]), s = median_of(times[2]);
        std::printf("%-9s %6zu %10.1f %10.1f %10.1f %10.3fx %12.3fx\n", doc.name, bytes.size(),
                    q, r, s, q / r, q / s);
    }

    // Every frame: the frame end that does not write (the last write was just now, so the
    // next quarter second only reads the clock), and a channel update.
    HostEventCallback frame_end = host.find_event(HOST_EVENT_FRAME_END)->on_event;
    const char* speed_name = HOST_CHANNELS[CHANNEL_TRUCK_SPEED].host_name;
    HostChannelCallback speed = host.find_channel(speed_name)->on_channel;
    HostValue value = host_float(23.61f);
    host.event(HOST_EVENT_PAUSED, nullptr);
    double idle = ns_per_call(batches, per_batch, [&] { frame_end(2, nullptr, nullptr); });
    double tick = ns_per_call(batches, per_batch, [] { (void)GetTickCount64(); });
    double channel = ns_per_call(batches, per_batch,
                                 [&] { speed(speed_name, HOST_NO_INDEX, &value, nullptr); });
    std::printf("frame end, no write     %8.1f ns (GetTickCount64 alone: %.1f ns)\n", idle, tick);
    std::printf("channel %-15s %8.1f ns\n", speed_name, channel);

    plugin.shutdown();
    host_unload_plugin(&plugin);
    return 0;
}
