// check_record RECORD STATES: judges a run that `hostsim --record RECORD` recorded (see
// recorded_run.h). Built for both platforms, so that the Windows run is judged by the same
// document check, under Wine, as the native one.
#include "tests/tools/recorded_run.h"

#include "support/os.h"

#include <cstdint>
#include <cstdio>

int main(int argc, char** argv)
{
    std::vector<std::string> args = os_arguments(argc, argv);
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: check_record RECORD STATES   (STATES like P-0,R-0,RJ0,RJ1)\n");
        return 2;
    }
    std::string record;
    if (os_read_file(args[1], SIZE_MAX - 1, &record) != ReadResult::ok) {
        std::printf("FAIL cannot read %s\n", args[1].c_str());
        return 1;
    }
    std::vector<std::string> states;
    for (size_t at = 0, comma; at <= args[2].size(); at = comma + 1) {
        comma = args[2].find(',', at);
        if (comma == std::string::npos) comma = args[2].size();
        states.push_back(args[2].substr(at, comma - at));
    }
    size_t documents = 0;
    std::vector<std::string> problems = recorded_run_problems(record, states, &documents);
    for (const std::string& p : problems) std::printf("FAIL %s\n", p.c_str());
    std::printf("%zu documents, %zu problems\n", documents, problems.size());
    return problems.empty() ? 0 : 1;
}
