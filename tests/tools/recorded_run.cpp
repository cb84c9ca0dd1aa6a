#include "tests/tools/recorded_run.h"

#include "support/document.h"

namespace {

// The plug-in paces frame-end writes 250 ms apart; the margin is for the tick's coarseness.
const uint64_t PACED_MS = 240;

std::string state_of(const DocumentView& v)
{
    return std::string(v.paused ? "P" : "R") + (v.hasJob ? "J" : "-") + std::to_string(v.eventSeq);
}

std::string joined(const std::vector<std::string>& parts)
{
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : ",") + p;
    return text;
}

} // namespace

std::vector<std::string> recorded_run_problems(const std::string& record,
                                               const std::vector<std::string>& states,
                                               size_t* documents)
{
    std::vector<std::string> problems;
    if (record.empty() || record.back() != '\n') {
        problems.push_back("the record does not end with a line feed");
    }
    std::vector<DocumentView> docs;
    size_t n = 0;
    for (size_t at = 0, end; (end = record.find('\n', at)) != std::string::npos; at = end + 1) {
        DocumentView view;
        std::string why = document_problem(record.substr(at, end + 1 - at), &view);
        n++;
        if (why.empty()) {
            docs.push_back(view);
        } else {
            problems.push_back("document " + std::to_string(n) + ": " + why);
        }
    }
    *documents = docs.size();
    if (docs.empty()) {
        problems.push_back("no documents");
        return problems;
    }

    std::vector<std::string> seen;
    for (const DocumentView& d : docs) {
        if (seen.empty() || seen.back() != state_of(d)) seen.push_back(state_of(d));
    }
    if (seen != states) problems.push_back("states " + joined(seen) + ", expected " + joined(states));
    if (!docs.front().lastEvent.empty() || docs.front().gameTime != 0) {
        problems.push_back("the first document is not the one written at load");
    }
    if (docs.back().lastEvent != "game.closed") {
        problems.push_back("the last document is not the closing one");
    }
    for (size_t i = 1; i < docs.size(); i++) {
        const DocumentView& a = docs[i - 1];
        const DocumentView& b = docs[i];
        if (b.pid != docs.front().pid) problems.push_back("the documents come from more than one process");
        if (b.written < a.written) {
            problems.push_back("'written' went back");
            continue;
        }
        // The pacing holds whatever the machine's load: only the load, pause, start and
        // closing writes may come sooner.
        bool immediate = i == 1 || a.paused != b.paused || b.lastEvent == "game.closed";
        if (!immediate && b.written - a.written < PACED_MS) {
            problems.push_back("two frame-end writes " + std::to_string(b.written - a.written) +
                               " ms apart");
        }
    }
    return problems;
}
