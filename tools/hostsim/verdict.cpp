// The one-line answer to "is the plug-in working?", from the last document a watch read.
#include "tools/hostsim/hostsim.h"

std::string watch_verdict(const std::string* document, uint64_t now_tick)
{
    DocumentView v;
    if (document == nullptr || !document_problem(*document, &v).empty()) return "no file yet";
    if (v.lastEvent == "game.closed") return "closed";
    // A tick from the future was taken before this machine last started: that host is gone,
    // whatever now runs under its pid.
    if (v.written > now_tick || !os_process_alive(v.pid)) {
        return "host gone without a closing document";
    }
    uint64_t age = now_tick - v.written;
    if (age < STALE_AFTER_MS) return "live";
    return "stale " + std::to_string(age / 1000) + " s";
}
