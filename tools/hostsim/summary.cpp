// What hostsim reports: how it prints numbers, what its exit statuses mean, and the summary
// that ends a drive with the run's verdict.
#include "tools/hostsim/hostsim.h"

#include "support/figures.h"

#include <algorithm>

const ExitMeaning EXIT_MEANINGS[5] = {
    {EXIT_OK, "every document read was valid and the closing one was seen (or a crash meant none was due); a watch's verdict was 'live' or 'closed'"},
    {EXIT_USAGE, "a bad command line, scenario or recording"},
    {EXIT_LOAD, "the plug-in could not be loaded or refused to initialize, or a replay could not write"},
    {EXIT_DOCUMENTS, "a document was unreadable or invalid, or one was missing, or a watch's verdict was not 'live' or 'closed'"},
    {EXIT_INTERRUPTED, "a second Ctrl+C ended hostsim at once, as a crash"},
};

std::string number(double v, int decimals)
{
    char text[64];
    if (decimals < 0) {
        std::snprintf(text, sizeof text, "%.15g", v);
    } else {
        std::snprintf(text, sizeof text, "%.*f", decimals, v);
    }
    return text;
}

namespace {

struct Range {
    size_t n = 0;
    double min = 0, median = 0, max = 0;
};

Range range_of(const std::vector<double>& v)
{
    Range r;
    if (v.empty()) return r;
    r.n = v.size();
    r.min = *std::min_element(v.begin(), v.end());
    r.median = median_of(v);
    r.max = *std::max_element(v.begin(), v.end());
    return r;
}

std::string seconds(const Range& r)
{
    if (r.n == 0) return "none";
    return std::to_string(r.n) + ", min " + number(r.min, 3) + " s, median " +
           number(r.median, 3) + " s, max " + number(r.max, 3) + " s";
}

// Prints the summary; returns whether everything the reader saw was as it should be.
} // namespace

bool summarize(const Reader& reader, const PlayResult& play)
{
    std::vector<double> intervals, paced, quick, immediate;
    size_t counts[8] = {};
    const char* causes[8] = {"load", "paced", "started", "paused", "job", "no job", "event", "closing"};
    for (size_t i = 0; i < reader.revisions.size(); i++) {
        const Revision& r = reader.revisions[i];
        for (size_t c = 0; c < 8; c++) {
            // "event+no job" counts as both.
            std::string cause = "+" + r.cause + "+";
            counts[c] += cause.find(std::string("+") + causes[c] + "+") != std::string::npos;
        }
        if (i > 0) intervals.push_back((double)(r.at_us - reader.revisions[i - 1].at_us) / 1e6);
        if (r.cause == "paced") paced.push_back(r.delay);
        if (r.call == (int)Call::job || r.call == (int)Call::event) quick.push_back(r.delay);
        if (r.call == (int)Call::start || r.call == (int)Call::pause) immediate.push_back(r.delay);
    }
    std::string by_cause;
    for (size_t c = 0; c < 8; c++) {
        if (counts[c] == 0) continue;
        by_cause += std::string(by_cause.empty() ? "" : ", ") + std::to_string(counts[c]) + " " +
                    causes[c];
    }
    bool closed = !reader.revisions.empty() && reader.revisions.back().cause == "closing";

    std::vector<uint32_t> cost = play.frame_us;
    std::sort(cost.begin(), cost.end());
    auto at = [&](double q) { return cost.empty() ? 0u : cost[(size_t)(q * (double)(cost.size() - 1))]; };

    std::printf("\nsummary\n");
    std::printf("  revisions seen:        %zu (%s)\n", reader.revisions.size(), by_cause.c_str());
    std::printf("  between revisions:     %s\n", seconds(range_of(intervals)).c_str());
    std::printf("  paced (once a second): %s\n", seconds(range_of(paced)).c_str());
    std::printf("  after a job or event:  %s\n", seconds(range_of(quick)).c_str());
    std::printf("  after pause or start:  %s\n", seconds(range_of(immediate)).c_str());
    std::printf("  closing document:      %s\n",
                play.crashed ? (closed ? "SEEN after a crash" : "none expected: the host crashed")
                : closed     ? "seen"
                             : "NOT SEEN");
    if (play.interrupted) std::printf("  stopped:               by Ctrl+C, with a shutdown\n");
    std::printf("  writes not replaced:   %llu%s\n", (unsigned long long)play.replace_failures,
                play.replace_failures == 0 ? "" : " (telemetry.json.tmp stayed behind: the rename "
                                                  "over telemetry.json failed)");
    std::printf("  reader:                %llu checks, %llu reads, %llu sharing violations and "
                "%llu missing-file retries, %llu unreadable, %llu invalid documents\n",
                (unsigned long long)reader.watch.checks, (unsigned long long)reader.watch.reads,
                (unsigned long long)reader.sharing,
                (unsigned long long)reader.missing, (unsigned long long)reader.failed,
                (unsigned long long)reader.invalid);
    std::printf("  frames:                %llu in %.2f s (%llu late by half a frame, %llu skipped)\n",
                (unsigned long long)play.frames, play.seconds, (unsigned long long)play.late_frames,
                (unsigned long long)play.dropped_frames);
    std::printf("  inside the plug-in:    per frame median %u us, 99th percentile %u us, max %u us\n",
                at(0.5), at(0.99), at(1.0));
    for (const std::string& p : reader.problems) std::printf("  problem: %s\n", p.c_str());
    bool good = closed != play.crashed && reader.failed == 0 && reader.invalid == 0;
    std::printf("  result:                %s\n", good ? "OK" : "FAILED");
    return good;
}

