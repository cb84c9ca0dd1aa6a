// --watch: the reader alone, on the data folder a real host's plug-in writes to.
#include "tools/hostsim/hostsim.h"

namespace {

// A verdict without its figures: "stale 3 s" and "stale 4 s" are one state, printed once.
std::string state_of(const std::string& verdict)
{
    return verdict.substr(0, verdict.find_first_of("0123456789"));
}

bool ends_watch(const std::string& verdict)
{
    return verdict == "closed" || verdict == "host gone without a closing document";
}

} // namespace

int watch(Reader* reader, bool follow)
{
    std::printf("hostsim: watching %s until %s\n\n", reader->watch.path.c_str(),
                follow ? "Ctrl+C, session after session" : "the host closes or is gone, or Ctrl+C");
    std::printf("    time  source    what\n");
    const DocumentWatch& file = reader->watch;
    std::string problem, verdict, shown;
    uint64_t reads = 0;
    WatchResult looked = WatchResult::unchanged;
    for (;;) {
        reader_poll(reader);
        // The file is judged again only when a look found something new in it.
        if (file.last != WatchResult::sharing && (file.reads != reads || file.last != looked)) {
            problem = not_a_document(file);
        }
        reads = file.reads;
        looked = file.last;
        verdict = watch_verdict(reader->writer, problem, os_tick_fine_ms());
        if (state_of(verdict) != state_of(shown)) {
            say(reader->session, "watch", verdict);
            shown = verdict;
        }
        if (g_interrupts > 0 || (!follow && ends_watch(verdict))) break;
        os_sleep_ms(5);
    }
    std::printf("\nverdict: %s\n", verdict.c_str());
    return verdict == "live" || verdict == "closed" ? EXIT_OK : EXIT_DOCUMENTS;
}
