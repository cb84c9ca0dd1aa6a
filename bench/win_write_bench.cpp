// The real QAV.dll, loaded as the host loads it, timed against the raw I/O floor that this
// program measures in the same run: the same bytes written with CreateFileW + WriteFile +
// CloseHandle + MoveFileExW into the same folder, and once more through the C runtime's
// stream as the plug-in writes them. Under Wine the absolute times say more about Wine than
// about the plug-in; the ratios, taken call by call in turns, are the figures.
// `--smoke` runs a handful of calls only, to show the program still works.
#include "bench/documents.h"
#include "tests/support/fake_host.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

typedef host_result_t(QAV_HOSTAPI* InitFn)(uint32_t, const HostInitParams*);
typedef void(QAV_HOSTAPI* ShutdownFn)();

static double g_us_per_count;

static double now_us()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * g_us_per_count;
}

static double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

static std::string read_whole_file(const std::wstring& path)
{
    std::string bytes;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return bytes;
    char chunk[4096];
    DWORD n = 0;
    while (ReadFile(h, chunk, sizeof chunk, &n, NULL) && n > 0) bytes.append(chunk, n);
    CloseHandle(h);
    return bytes;
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

static HostEventCallback event_handler(const FakeHost& host, uint32_t event)
{
    for (const HostRegistration& r : host.registrations) {
        if (!r.is_channel && r.event == event) return r.on_event;
    }
    return nullptr;
}

static HostChannelCallback channel_handler(const FakeHost& host, const char* channel)
{
    for (const HostRegistration& r : host.registrations) {
        if (r.is_channel && r.channel == channel) return r.on_channel;
    }
    return nullptr;
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
    return median(per_call);
}

int main(int argc, char** argv)
{
    bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    int rounds = smoke ? 3 : 1000;
    int batches = smoke ? 2 : 40, per_batch = smoke ? 100 : 20000;

    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    g_us_per_count = 1e6 / (double)freq.QuadPart;

    HMODULE dll = LoadLibraryW(L"QAV.dll");
    if (dll == NULL) {
        std::fprintf(stderr, "win_write_bench: QAV.dll not found\n");
        return 1;
    }
    InitFn init = (InitFn)(void*)GetProcAddress(dll, "scs_telemetry_init");
    ShutdownFn shutdown = (ShutdownFn)(void*)GetProcAddress(dll, "scs_telemetry_shutdown");
    wchar_t appdata[MAX_PATH];
    if (init == nullptr || shutdown == nullptr ||
        FAILED(SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_CURRENT, appdata))) {
        std::fprintf(stderr, "win_write_bench: no exports or no data folder\n");
        return 1;
    }
    std::wstring temp = std::wstring(appdata) + L"\\QAV\\telemetry.json.tmp";
    std::wstring final = std::wstring(appdata) + L"\\QAV\\telemetry.json";

    std::printf("QAV.dll, medians of %d calls taken in turns (microseconds)\n", rounds);
    std::printf("%-9s %6s %10s %10s %10s %11s %13s\n", "document", "bytes", "QAV.dll",
                "raw floor", "stdio", "QAV / raw", "QAV / stdio");
    FakeHost host;
    BenchDocument doc;
    for (int kind = 0; kind < BENCH_KINDS; kind++) {
        bench_document(&doc, (BenchKind)kind);
        host = FakeHost();
        HostInitParams params = host.params(doc.game, doc.game_version);
        if (init(HOST_VERSION_1_01, &params) != HOST_RESULT_OK) {
            std::fprintf(stderr, "win_write_bench: the plug-in did not initialize\n");
            return 1;
        }
        bench_deliver(&host, doc);
        // A start event makes the plug-in write at once, whatever the pacing says.
        HostEventCallback pause_change = event_handler(host, HOST_EVENT_STARTED);
        pause_change(HOST_EVENT_STARTED, nullptr, nullptr);
        std::string bytes = read_whole_file(final);

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
        double q = median(times[0]), r = median(times[1]), s = median(times[2]);
        std::printf("%-9s %6zu %10.1f %10.1f %10.1f %10.3fx %12.3fx\n", doc.name, bytes.size(),
                    q, r, s, q / r, q / s);
    }

    // Every frame: the frame end that does not write (the last write was just now, so the
    // next quarter second only reads the clock), and a channel update.
    HostEventCallback frame_end = event_handler(host, HOST_EVENT_FRAME_END);
    HostChannelCallback speed = channel_handler(host, "truck.speed");
    HostValue value = host_float(23.61f);
    event_handler(host, HOST_EVENT_PAUSED)(HOST_EVENT_PAUSED, nullptr, nullptr);
    double idle = ns_per_call(batches, per_batch, [&] { frame_end(2, nullptr, nullptr); });
    double tick = ns_per_call(batches, per_batch, [] { (void)GetTickCount64(); });
    double channel = ns_per_call(batches, per_batch,
                                 [&] { speed("truck.speed", HOST_NO_INDEX, &value, nullptr); });
    std::printf("frame end, no write     %8.1f ns (GetTickCount64 alone: %.1f ns)\n", idle, tick);
    std::printf("channel truck.speed     %8.1f ns\n", channel);

    shutdown();
    FreeLibrary(dll);
    return 0;
}
