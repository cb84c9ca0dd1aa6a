// What the drive's reader makes of a document's shape and of a file at telemetry.json's path
// that holds none. Whether a host is live, stale, closed or gone is the readers' rule, which
// the watch takes from the C reader (watch.cpp); it is not judged here.
#include "tools/hostsim/hostsim.h"

#include <nlohmann/json.hpp>

bool load_shape(const DocumentView& v)
{
    return v.paused && v.gameTime == 0 && !v.hasJob && v.lastEvent.empty() && v.eventSeq == 0;
}

bool closing_shape(const DocumentView& v)
{
    return v.lastEvent == "game.closed" && v.paused && !v.hasJob;
}

std::string not_a_document(const DocumentWatch& w)
{
    const std::string& b = w.bytes;
    std::string what;
    if (w.last == WatchResult::not_file) {
        what = w.stamp.kind == FileKind::directory ? "a directory"
               : w.stamp.kind == FileKind::fifo    ? "a FIFO"
                                                   : "not a regular file";
    } else if (w.last == WatchResult::failed) {
        what = "unreadable";
    } else if (w.last != WatchResult::changed && w.last != WatchResult::same) {
        return "";
    } else if (b.size() > DOCUMENT_READ_LIMIT) {
        what = "over 8 KiB, longer than any document";
    } else if (b.empty()) {
        what = "empty";
    } else if (b.back() != '\n') {
        what = "cut short: it does not end with a line feed";
    } else if (!nlohmann::json::accept(b)) {
        what = "not JSON";
    } else {
        nlohmann::json doc = nlohmann::json::parse(b);
        if (!doc.is_object() || !doc.contains("plugin") || doc["plugin"] != "QAV") {
            what = "JSON, but not a QAV document";
        } else {
            std::string why = document_problem(b);
            if (why.empty()) return "";
            what = "an invalid QAV document: " + why;
        }
    }
    return "telemetry.json is " + what;
}
