// What QAV costs the host's thread, measured natively with Google Benchmark on the POSIX
// platform layer (real clock, real files): the handlers the host calls every frame or on
// every channel update, rendering the document, and publishing it, side by side with the
// raw I/O floor and with the straightforward way of writing the same document. Each benchmark
// also reports its minimum over the repetitions: on a shared machine other work only ever adds
// time, so the minimum is the closest measure of what the code costs. Nothing here passes or
// fails: a shared, noisy machine only ever gets measured.
#include "bench/alloc_count.h"
#include "bench/documents.h"
#include "bench/naive_writer.h"
#include "output/json_out.h"
#include "output/pacing.h"
#include "output/snapshot.h"
#include "platform/platform.h"
#include "plugin/exports.h"
#include "state/telemetry_state.h"
#include "state/vocabulary.h"
#include "support/figures.h"
#include "support/host_model.h"
#include "support/os.h"
#include "support/render.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

static HostModel g_host;
static BenchDocument g_docs[BENCH_KINDS];
static std::string g_rendered[BENCH_KINDS]; // each document as write_snapshot writes it
static std::string g_temp, g_final;       // native paths of telemetry.json(.tmp)

// Loads the plug-in afresh with `which` document: initialization, then everything the
// host delivers. The largest document also gets a ten-digit event count, as after four
// billion gameplay events.
static void use_document(int which)
{
    const BenchDocument& doc = g_docs[which];
    if (g_host.start(scs_telemetry_init, HOST_VERSION_1_01, doc.game, doc.game_version) !=
        HOST_RESULT_OK) {
        fprintf(stderr, "qav_bench: the plug-in did not initialize\n");
        exit(1);
    }
    bench_deliver(&g_host, doc);
    if (which == BENCH_LARGEST) g_state.eventSeq = 0xFFFFFFFFu;
}

static ssize_t discard_write(void*, const char*, size_t size) { return (ssize_t)size; }

// A stream that accepts everything and keeps nothing: rendering costs only the rendering.
static FILE* open_discard()
{
    cookie_io_functions_t io = {nullptr, discard_write, nullptr, nullptr};
    return fopencookie(nullptr, "w", io);
}

// Per-iteration allocation counters for the loop that ran between `before` and now.
static void count_allocations(benchmark::State& st, const AllocCounts& before)
{
    AllocCounts after = alloc_counts();
    st.counters["new"] = benchmark::Counter((double)(after.news - before.news),
                                            benchmark::Counter::kAvgIterations);
    if (alloc_counts_malloc()) {
        st.counters["malloc"] = benchmark::Counter((double)(after.mallocs - before.mallocs),
                                                   benchmark::Counter::kAvgIterations);
    }
}

// ---- Every frame and every channel update ----

// The handlers the plug-in registered with the host, as the host calls them.
static HostEventCallback event_handler(uint32_t event)
{
    return g_host.find_event(event)->on_event;
}

static void bm_frame_end_idle(benchmark::State& st)
{
    HostEventCallback volatile handler = event_handler(HOST_EVENT_FRAME_END);
    // Just written: the next second of frame ends only read the clock and compare.
    g_state.steady = 1;
    g_state.lastWriteTick = platform_tick_ms();
    for (auto _ : st) handler(HOST_EVENT_FRAME_END, nullptr, nullptr);
}

static void bm_tick(benchmark::State& st)
{
    for (auto _ : st) benchmark::DoNotOptimize(platform_tick_ms());
}

static void bm_channel(benchmark::State& st, int channel)
{
    HostChannelCallback volatile handler =
        g_host.find_channel(HOST_CHANNELS[channel].host_name)->on_channel;
    const HostValue* value = &g_docs[BENCH_TYPICAL].channels[channel];
    for (auto _ : st) handler("channel", HOST_NO_INDEX, value, nullptr);
}

// ---- Job and gameplay news ----

static void bm_configuration(benchmark::State& st, int which)
{
    HostEventCallback volatile handler = event_handler(HOST_EVENT_CONFIGURATION);
    HostConfiguration job = {"job", g_docs[which].job};
    for (auto _ : st) handler(HOST_EVENT_CONFIGURATION, &job, nullptr);
}

static void bm_gameplay(benchmark::State& st, int which)
{
    HostEventCallback volatile handler = event_handler(HOST_EVENT_GAMEPLAY);
    for (auto _ : st) handler(HOST_EVENT_GAMEPLAY, &g_docs[which].gameplay, nullptr);
}

// ---- The document ----

static void bm_render(benchmark::State& st, int which)
{
    use_document(which);
    FILE* f = open_discard();
    JsonOut out;
    json_begin(&out, f);
    render_snapshot(&out, &g_state, 4242, 99); // the stream takes its buffer here, not below
    json_end(&out);
    AllocCounts before = alloc_counts();
    for (auto _ : st) {
        json_begin(&out, f);
        render_snapshot(&out, &g_state, 4242, 99);
        benchmark::DoNotOptimize(json_end(&out));
    }
    count_allocations(st, before);
    st.SetBytesProcessed((int64_t)st.iterations() * (int64_t)g_rendered[which].size());
    fclose(f);
}

static void bm_naive_render(benchmark::State& st, int which)
{
    use_document(which);
    AllocCounts before = alloc_counts();
    for (auto _ : st) {
        std::string doc = naive_render(g_state, 4242, 99);
        benchmark::DoNotOptimize(doc.data());
    }
    count_allocations(st, before);
}

// ---- Publishing it ----

// The floor no writer can go below: the same bytes, already rendered, put through the four
// system calls a publication needs.
static bool raw_publish(int which)
{
    const std::string& bytes = g_rendered[which];
    int fd = open(g_temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    bool ok = fd >= 0 && write(fd, bytes.data(), bytes.size()) == (ssize_t)bytes.size();
    ok = close(fd) == 0 && ok;
    return ok && rename(g_temp.c_str(), g_final.c_str()) == 0;
}

// The same bytes through the C runtime's stream with its own buffer: what a stream adds.
static bool stdio_publish(int which)
{
    const std::string& bytes = g_rendered[which];
    FILE* f = fopen(g_temp.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = fclose(f) == 0 && ok;
    return ok && rename(g_temp.c_str(), g_final.c_str()) == 0;
}

static bool qav_publish(int) { return write_snapshot(); }

static bool naive_write(int)
{
    return naive_publish(naive_render(g_state, 4242, platform_tick_ms()), g_temp, g_final);
}

struct PublishMethod {
    const char* name;
    bool (*publish)(int which);
};

static const PublishMethod PUBLISH_METHODS[] = {
    {"write_snapshot", qav_publish},
    {"raw_floor", raw_publish},
    {"stdio_floor", stdio_publish},
    {"naive_write", naive_write},
};
enum { PUBLISH_METHOD_COUNT = sizeof PUBLISH_METHODS / sizeof PUBLISH_METHODS[0] };

static void bm_publish(benchmark::State& st, int method, int which)
{
    use_document(which);
    bool (*publish)(int) = PUBLISH_METHODS[method].publish;
    AllocCounts before = alloc_counts();
    for (auto _ : st) benchmark::DoNotOptimize(publish(which));
    count_allocations(st, before);
}

// Every way of publishing, one call each in turns, the one going first rotating, each call
// timed on its own: all of them see the same state of the disk and of the machine, so their
// ratios hold while absolute times drift (a write here waits on the disk, and the machine is
// shared). These ratios are the figures; the separate benchmarks give the allocations.
static void bm_publish_in_turns(benchmark::State& st, int which)
{
    using clock = std::chrono::steady_clock;
    use_document(which);
    std::vector<double> times[PUBLISH_METHOD_COUNT];
    for (std::vector<double>& t : times) t.reserve(1 << 15);
    size_t turn = 0;
    for (auto _ : st) {
        for (size_t k = 0; k < PUBLISH_METHOD_COUNT; k++) {
            size_t method = (turn + k) % PUBLISH_METHOD_COUNT;
            clock::time_point t0 = clock::now();
            benchmark::DoNotOptimize(PUBLISH_METHODS[method].publish(which));
            std::chrono::duration<double, std::micro> took = clock::now() - t0;
            if (times[method].size() < times[method].capacity()) {
                times[method].push_back(took.count());
            }
        }
        turn++;
    }
    double qav = median_of(times[0]);
    for (size_t m = 0; m < PUBLISH_METHOD_COUNT; m++) {
        double t = median_of(times[m]);
        st.counters[std::string(PUBLISH_METHODS[m].name) + "_us"] = t;
        if (m != 0) st.counters[std::string("qav/") + PUBLISH_METHODS[m].name] = t > 0 ? qav / t : 0;
    }
}

static double minimum(const std::vector<double>& v)
{
    return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}

template <typename... Args>
static benchmark::internal::Benchmark* add(const std::string& name, Args&&... args)
{
    return benchmark::RegisterBenchmark(name.c_str(), std::forward<Args>(args)...)
        ->ComputeStatistics("min", minimum);
}

static void register_benchmarks()
{
    add("frame_end/idle", bm_frame_end_idle);
    add("platform_tick_ms", bm_tick);
    for (int channel = 0; channel < CHANNEL_COUNT; channel++) {
        add(std::string("channel/") + HOST_CHANNELS[channel].host_name, bm_channel, channel);
    }
    for (int which = 0; which < BENCH_KINDS; which++) {
        std::string d = std::string("/") + g_docs[which].name;
        add("configuration" + d, bm_configuration, which);
        add("gameplay" + d, bm_gameplay, which);
        add("render" + d, bm_render, which);
        add("naive_render" + d, bm_naive_render, which);
        for (int m = 0; m < PUBLISH_METHOD_COUNT; m++) {
            add(PUBLISH_METHODS[m].name + d, bm_publish, m, which)
                ->Unit(benchmark::kMicrosecond);
        }
        add("publish_in_turns" + d, bm_publish_in_turns, which)
            ->Unit(benchmark::kMicrosecond);
    }
}

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    // A real folder on the machine's disk, as the plug-in's data folder.
    const char* tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") +
                       "/qav-bench-XXXXXX";
    if (mkdtemp(&tmpl[0]) == nullptr) {
        perror("qav_bench: mkdtemp");
        return 1;
    }
    setenv("XDG_DATA_HOME", tmpl.c_str(), 1);
    const TelemetryPaths paths = os_telemetry_paths();
    g_temp = paths.temp;
    g_final = paths.final;

    for (int which = 0; which < BENCH_KINDS; which++) {
        bench_document(&g_docs[which], (BenchKind)which);
        use_document(which);
        g_rendered[which] = snapshot_text(g_state, platform_process_id(), platform_tick_ms());
        // The yardstick must write the very same document, or the comparison means nothing.
        if (naive_render(g_state, 4242, 99) != snapshot_text(g_state, 4242, 99)) {
            fprintf(stderr, "qav_bench: the straightforward writer renders the %s document "
                            "differently\n", g_docs[which].name);
            return 1;
        }
        benchmark::AddCustomContext(std::string(g_docs[which].name) + " document bytes",
                                    std::to_string(g_rendered[which].size()));
    }
    benchmark::AddCustomContext("data folder", paths.folder);

    register_benchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    unlink(g_temp.c_str());
    unlink(g_final.c_str());
    rmdir(paths.folder.c_str());
    rmdir(tmpl.c_str());
    return 0;
}
