#include "tests/tools/recorded_run.h"

#include "support/document.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace {

// The plug-in paces frame-end writes 250 ms apart; the margin is for the tick's coarseness.
const uint64_t PACED_MS = 240;

struct Line {
    double at;
    std::string cause, document;
};

// The record's lines; what is not one is added to `problems`.
std::vector<Line> lines_of(const std::string& record, std::vector<std::string>* problems)
{
    if (record.empty() || record.back() != '\n') {
        problems->push_back("the record does not end with a line feed");
    }
    std::vector<Line> lines;
    size_t n = 0;
    for (size_t at = 0, end; (end = record.find('\n', at)) != std::string::npos; at = end + 1) {
        nlohmann::json j = nlohmann::json::parse(record.substr(at, end - at), nullptr, false);
        n++;
        if (j.is_object() && j["at"].is_number() && j["cause"].is_string() && j["document"].is_string()) {
            lines.push_back({j["at"].get<double>(), j["cause"].get<std::string>(),
                             j["document"].get<std::string>()});
        } else {
            problems->push_back("line " + std::to_string(n) + " is not a recording's line");
        }
    }
    return lines;
}

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
                                               const RunExpectation& expected, size_t* documents)
{
    std::vector<std::string> problems;
    std::vector<DocumentView> docs;
    size_t n = 0;
    for (const Line& line : lines_of(record, &problems)) {
        DocumentView view;
        std::string why = document_problem(line.document, &view);
        n++;
        if (!why.empty()) {
            problems.push_back("document " + std::to_string(n) + ": " + why);
            continue;
        }
        docs.push_back(view);
        if (line.cause == "paced" && line.at > expected.quiet_from && line.at < expected.quiet_to) {
            problems.push_back("document " + std::to_string(n) + " paced at " +
                               std::to_string(line.at) + " s, while the host sent no frames");
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
    if (!expected.states.empty() && seen != expected.states) {
        problems.push_back("states " + joined(seen) + ", expected " + joined(expected.states));
    }
    if (!docs.front().lastEvent.empty() || docs.front().gameTime != 0) {
        problems.push_back("the first document is not the one written at load");
    }
    if ((docs.back().lastEvent == "game.closed") == expected.crash) {
        problems.push_back(expected.crash ? "a closing document after a crash"
                                          : "the last document is not the closing one");
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

std::vector<std::string> replay_problems(const std::string& recorded, const std::string& seen,
                                         double tolerance)
{
    std::vector<std::string> problems;
    std::vector<Line> a = lines_of(recorded, &problems), b = lines_of(seen, &problems);
    if (a.size() != b.size()) {
        problems.push_back(std::to_string(b.size()) + " documents seen of " + std::to_string(a.size()));
    }
    for (size_t i = 0; i < a.size() && i < b.size(); i++) {
        std::string which = "document " + std::to_string(i + 1);
        if (a[i].document != b[i].document) problems.push_back(which + " differs");
        double late = (b[i].at - b[0].at) - (a[i].at - a[0].at);
        if (std::fabs(late) > tolerance) {
            problems.push_back(which + " " + std::to_string(late) + " s off its recorded time");
        }
    }
    return problems;
}
