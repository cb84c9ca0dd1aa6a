// The recording format, written and read here only: JSON Lines, one document a line, as
// docs/hostsim.md describes it. A recording replaces its file only when it is whole, and never
// replaces a file that is not an earlier recording.
#include "tools/hostsim/hostsim.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

using Json = nlohmann::json;

const double MAX_AT = 1e9; // seconds: about 31 years, far beyond any recording, yet schedulable

#if defined(_WIN32)
const char SEPARATORS[] = "/\\";
#else
const char SEPARATORS[] = "/";
#endif

bool same_name(const std::string& a, const std::string& b)
{
#if defined(_WIN32)
    // Windows's file names ignore the case of ASCII letters.
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i])) return false;
    }
    return true;
#else
    return a == b;
#endif
}

// `path` as its folder and its last name, without trailing separators.
void split(std::string path, std::string* folder, std::string* name)
{
    while (path.size() > 1 && std::strchr(SEPARATORS, path.back()) != nullptr) path.pop_back();
    size_t at = path.find_last_of(SEPARATORS);
    *folder = at == std::string::npos ? "." : at == 0 ? path.substr(0, 1) : path.substr(0, at);
    *name = at == std::string::npos ? path : path.substr(at + 1);
}

std::string system_error() { return os_error_text("the write failed"); }

// What a line of a recording holds, or why it is not one.
std::string parse_line(const std::string& text, Recorded* out)
{
    Json line = Json::parse(text, nullptr, false);
    if (!line.is_object()) return "not a recording line: a JSON object with at, cause and document";
    const Json& at = line["at"];
    if (!at.is_number()) return "no time: 'at' must be a number of seconds";
    out->at = at.get<double>();
    if (!(out->at >= 0 && out->at <= MAX_AT)) {
        return "'at' is " + number(out->at) + " s; a recording's times run from 0 to " +
               number(MAX_AT) + " s";
    }
    if (!line["document"].is_string()) return "no document: 'document' must be a string";
    out->document = line["document"].get<std::string>();
    out->cause = line["cause"].is_string() ? line["cause"].get<std::string>() : "";
    return "";
}

} // namespace

bool same_file(const std::string& a, const std::string& b)
{
    FileIdentity x = os_file_identity(a), y = os_file_identity(b);
    if (x.kind != FileKind::missing || y.kind != FileKind::missing) {
        return x.kind != FileKind::missing && y.kind != FileKind::missing &&
               (x.volume | x.index) != 0 && x.volume == y.volume && x.index == y.index;
    }
    // Neither exists yet: the same name in the same folder.
    std::string folder_a, name_a, folder_b, name_b;
    split(a, &folder_a, &name_a);
    split(b, &folder_b, &name_b);
    if (!same_name(name_a, name_b)) return false;
    return folder_a == folder_b || (folder_a != a && folder_b != b && same_file(folder_a, folder_b));
}

bool parse_recording(const std::string& text, std::vector<Recorded>* out, RecordingError* error)
{
    out->clear();
    int number = 0;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        number++;
        std::string line = text.substr(at, end - at);
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue; // blank
        Recorded r;
        std::string why = parse_line(line, &r);
        if (why.empty() && !out->empty() && r.at < out->back().at) {
            why = "'at' " + ::number(r.at) + " comes before the previous line's " +
                  ::number(out->back().at) + "; lines must be in time order";
        }
        if (!why.empty()) {
            *error = {number, why};
            return false;
        }
        out->push_back(r);
    }
    if (out->empty()) *error = {number == 0 ? 1 : number, "no documents: the recording is empty"};
    return !out->empty();
}

bool read_recording(const std::string& path, std::vector<Recorded>* out)
{
    std::string text;
    const size_t limit = 256 * 1024 * 1024;
    if (os_read_file(path, limit, &text) != ReadResult::ok || text.size() > limit) {
        std::fprintf(stderr, "hostsim: %s: cannot be read\n", path.c_str());
        return false;
    }
    RecordingError error;
    if (parse_recording(text, out, &error)) return true;
    std::fprintf(stderr, "hostsim: %s:%d: %s (hostsim.md, hostsim's manual, has the format)\n", path.c_str(),
                 error.line, error.message.c_str());
    return false;
}

std::string restamp(const std::string& document, uint32_t pid, uint64_t tick)
{
    std::string out = document;
    int depth = 0;
    for (size_t i = 0; i < out.size();) {
        char c = out[i];
        if (c != '"') {
            depth += c == '{' || c == '[' ? 1 : c == '}' || c == ']' ? -1 : 0;
            i++;
            continue;
        }
        size_t start = ++i;
        while (i < out.size() && out[i] != '"') i += out[i] == '\\' ? 2 : 1;
        std::string key = out.substr(start, std::min(i, out.size()) - start);
        i++;
        // Only the document's own members, and only where a plain whole number stands.
        if (depth != 1 || (key != "pid" && key != "written")) continue;
        size_t colon = out.find_first_not_of(" \t\r\n", i);
        if (colon == std::string::npos || out[colon] != ':') continue;
        size_t from = out.find_first_not_of(" \t\r\n", colon + 1);
        if (from == std::string::npos) break;
        size_t to = std::min(out.find_first_not_of("0123456789", from), out.size());
        if (to == from) continue;
        std::string value = key == "pid" ? std::to_string(pid) : std::to_string(tick);
        out.replace(from, to - from, value);
        i = from + value.size();
    }
    return out;
}

std::string restamp_problem(const std::vector<Recorded>& docs)
{
    DocumentView previous;
    bool seen = false;
    for (size_t i = 0; i < docs.size(); i++) {
        DocumentView v;
        if (!document_problem(docs[i].document, &v).empty()) continue; // published as it is
        bool another = seen && (v.pid != previous.pid || v.written < previous.written);
        if (another && !load_shape(v)) {
            return "document " + std::to_string(i + 1) + " begins another session (pid " +
                   std::to_string(v.pid) + " after pid " + std::to_string(previous.pid) +
                   ") without its load document; restamped as this process's own, a reader would "
                   "take the two sessions for one. Replay it without --restamp";
        }
        previous = v;
        seen = true;
    }
    return "";
}

struct Recording {
    std::string path;
    std::string temp;    // where it is written until it is whole; "" when written straight
    std::FILE* file = nullptr;
    std::string failure; // the first write, flush or close that failed
};

Recording* recording_open(const std::string& path, const std::vector<KeptFile>& keep,
                          std::string* error)
{
    for (const KeptFile& k : keep) {
        if (!k.path.empty() && same_file(path, k.path)) {
            *error = "that is " + std::string(k.what) + ": a recording would replace it";
            return nullptr;
        }
    }
    FileIdentity target = os_file_identity(path);
    if (target.kind == FileKind::directory) {
        *error = "that is a folder";
        return nullptr;
    }
    if (target.kind == FileKind::regular) {
        std::string text;
        std::vector<Recorded> first;
        RecordingError why;
        bool readable = os_read_file(path, 64 * 1024, &text) == ReadResult::ok;
        text = text.substr(0, text.find('\n'));
        if (!readable || !(text.empty() || parse_recording(text, &first, &why))) {
            *error = path + " exists and is not a recording; hostsim replaces only an earlier "
                            "recording or an empty file";
            return nullptr;
        }
    }
    Recording* r = new Recording;
    r->path = path;
    errno = 0;
    if (target.kind == FileKind::other) {
        // A device or a pipe has nothing to lose and cannot be renamed over: written straight.
        r->file = os_open_write(path);
    } else {
        // A name of this run's own, made exclusively: two runs recording into one FILE never
        // write into one temporary file, and a FIFO or a link left at the name is never opened.
        for (int n = 0; r->file == nullptr && n < 100; n++) {
            r->temp = path + "." + std::to_string(os_process_id()) +
                      (n == 0 ? "" : "-" + std::to_string(n)) + ".tmp";
            errno = 0;
            r->file = os_create_new(r->temp);
            if (r->file == nullptr && errno != EEXIST) break;
        }
    }
    if (r->file == nullptr) {
        *error = "cannot write " + (r->temp.empty() ? path : r->temp) + ": " + system_error();
        delete r;
        return nullptr;
    }
    return r;
}

void record_document(Recording* r, double seconds, const std::string& cause,
                     const std::string& bytes)
{
    if (!r->failure.empty()) return;
    std::string document = Json(bytes).dump(-1, ' ', false, Json::error_handler_t::replace);
    // Flushed line by line: a crash of hostsim itself keeps what was recorded, in the temp.
    errno = 0;
    if (std::fprintf(r->file, "{\"at\":%.3f,\"cause\":%s,\"document\":%s}\n", seconds,
                     Json(cause).dump().c_str(), document.c_str()) < 0 ||
        std::fflush(r->file) != 0) {
        r->failure = system_error();
    }
}

std::string recording_close(Recording* r, bool keep)
{
    errno = 0;
    if (std::fclose(r->file) != 0 && r->failure.empty()) r->failure = system_error();
    std::string failure = keep ? r->failure : "";
    if (!r->temp.empty() && (!keep || !failure.empty())) {
        os_remove(r->temp);
        if (!failure.empty()) failure += "; " + r->path + " is left as it was";
    } else if (!r->temp.empty() && !os_replace(r->temp, r->path)) {
        failure = "cannot rename " + r->temp + " over " + r->path + ": " + system_error();
    }
    delete r;
    return failure;
}
