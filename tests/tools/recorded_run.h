// What a recorded hostsim run must show, one document a line as `hostsim --record` writes
// them: every document valid, the paused/job/eventSeq states in the expected order, the load
// document first and the closing one last, one writing process, 'written' never going back,
// and frame-end writes at least 240 ms apart.
#ifndef QAV_TESTS_TOOLS_RECORDED_RUN_H
#define QAV_TESTS_TOOLS_RECORDED_RUN_H

#include <string>
#include <vector>

// `states` are written as P or R (paused or running), J or - (a job or none) and the event
// count, "P-0", "RJ1"; consecutive documents in the same state count once. Returns what is
// wrong, nothing for a good run; `documents` tells how many valid documents were read.
std::vector<std::string> recorded_run_problems(const std::string& record,
                                               const std::vector<std::string>& states,
                                               size_t* documents);

#endif
