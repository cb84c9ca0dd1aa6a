// --watch: the reader alone, on the data folder a real host's plug-in writes to.
#include "tools/hostsim/hostsim.h"

int watch(Reader* reader)
{
    std::printf("hostsim: watching %s until its closing document or Ctrl+C\n\n",
                reader->watch.path.c_str());
    std::printf("    time  source    what\n");
    for (;;) {
        reader_poll(reader);
        // A closing document met first is an earlier session's: wait for the next one.
        const std::vector<Revision>& seen = reader->revisions;
        if (seen.size() > 1 && seen.back().view.lastEvent == "game.closed") break;
        if (g_interrupts > 0) break;
        os_sleep_ms(5);
    }
    std::string verdict =
        watch_verdict(reader->watch.seen ? &reader->watch.bytes : nullptr, os_tick_ms());
    std::printf("\nverdict: %s\n", verdict.c_str());
    return verdict == "live" || verdict == "closed" ? EXIT_OK : EXIT_DOCUMENTS;
}
