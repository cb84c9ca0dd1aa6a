// What a recorded hostsim run must show, as `hostsim --record` writes it (one JSON line a
// document: when it was read, why it was written, its bytes): every document valid, the
// paused/job/eventSeq states in the expected order, the load document first and the closing
// one last (none after a crash), one writing process, 'written' never going back, frame-end
// writes at least 240 ms apart and none while the host sent no frames. And what a replay of
// a recording must show: the same bytes at the same times.
#ifndef QAV_TESTS_TOOLS_RECORDED_RUN_H
#define QAV_TESTS_TOOLS_RECORDED_RUN_H

#include <string>
#include <vector>

struct RunExpectation {
    // Written as P or R (paused or running), J or - (a job or none) and the event count,
    // "P-0", "RJ1"; consecutive documents in the same state count once. Empty: any.
    std::vector<std::string> states;
    bool crash = false;                  // the host crashed: no closing document
    double quiet_from = 0, quiet_to = 0; // seconds: no paced document read in between
};

// What is wrong, nothing for a good run; `documents` tells how many valid documents were read.
std::vector<std::string> recorded_run_problems(const std::string& record,
                                               const RunExpectation& expected, size_t* documents);

// `seen`, a watch's recording of a replay of `recorded`: what differs, beyond `tolerance`
// seconds in when a document came after the first.
std::vector<std::string> replay_problems(const std::string& recorded, const std::string& seen,
                                         double tolerance);

#endif
