// check_record RECORD STATES [crash] [quiet FROM TO]: judges a run that `hostsim --record
// RECORD` recorded (see recorded_run.h); STATES may be "any".
// check_record --replayed RECORD SEEN: judges SEEN, a watch's recording of a replay of RECORD.
// Built for both platforms, so that the Windows run is judged by the same document check,
// under Wine, as the native one.
#include "tests/tools/recorded_run.h"

#include "support/os.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const double REPLAY_TOLERANCE = 0.5; // seconds: a busy machine's scheduling, not the replay's

bool read(const std::string& path, std::string* bytes)
{
    if (os_read_file(path, SIZE_MAX - 1, bytes) == ReadResult::ok) return true;
    std::printf("FAIL cannot read %s\n", path.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args = os_arguments(argc, argv);
    std::string record, seen;
    std::vector<std::string> problems;
    size_t documents = 0;
    if (args.size() == 4 && args[1] == "--replayed") {
        if (!read(args[2], &record) || !read(args[3], &seen)) return 1;
        problems = replay_problems(record, seen, REPLAY_TOLERANCE);
    } else if (args.size() >= 3) {
        RunExpectation expected;
        for (size_t at = 0, comma; args[2] != "any" && at <= args[2].size(); at = comma + 1) {
            comma = args[2].find(',', at);
            if (comma == std::string::npos) comma = args[2].size();
            expected.states.push_back(args[2].substr(at, comma - at));
        }
        for (size_t i = 3; i < args.size(); i++) {
            if (args[i] == "crash") expected.crash = true;
            if (args[i] == "quiet" && i + 2 < args.size()) {
                expected.quiet_from = std::atof(args[++i].c_str());
                expected.quiet_to = std::atof(args[++i].c_str());
            }
        }
        if (!read(args[1], &record)) return 1;
        problems = recorded_run_problems(record, expected, &documents);
    } else {
        std::fprintf(stderr, "usage: check_record RECORD STATES [crash] [quiet FROM TO]\n"
                             "       check_record --replayed RECORD SEEN\n");
        return 2;
    }
    for (const std::string& p : problems) std::printf("FAIL %s\n", p.c_str());
    if (documents > 0) std::printf("%zu documents, ", documents);
    std::printf("%zu problems\n", problems.size());
    return problems.empty() ? 0 : 1;
}
