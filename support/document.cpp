#include "support/document.h"

#include "state/vocabulary.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <regex>
#include <vector>

namespace {

// ordered_json keeps the members in the order they came, which the plug-in promises.
using Json = nlohmann::ordered_json;

enum Kind { TEXT, U32, U64, FLAG, NUMBER_OR_NULL, POSITION, JOB };

struct Member {
    const char* key;
    Kind kind;
    size_t max_chars; // TEXT: the longest value the plug-in keeps, in characters
};

// A text's limit is the record field's capacity less its terminator. The plug-in cuts by
// bytes, but a byte that is not UTF-8 comes out as U+FFFD, three bytes: only the count of
// characters is bounded.
Member member_of(const VocabularyRow& row)
{
    switch (row.type) {
    case HOST_TYPE_STRING: return {row.key, TEXT, row.size - 1};
    case HOST_TYPE_U32: return {row.key, U32, 0};
    case HOST_TYPE_U64: return {row.key, U64, 0};
    case HOST_TYPE_PLACEMENT: return {row.key, POSITION, 0};
    default: return {row.key, NUMBER_OR_NULL, 0};
    }
}

struct Members {
    std::vector<Member> document, job;
    Members()
    {
        document = {{"plugin", TEXT, 0},   {"version", TEXT, 0},
                    {"pid", U32, 0},       {"written", U64, 0},
                    {"game", TEXT, sizeof(TelemetryState::game) - 1}, {"gameVersion", TEXT, 0},
                    {"paused", FLAG, 0}};
        for (const VocabularyRow& row : HOST_CHANNELS) document.push_back(member_of(row));
        document.push_back({"job", JOB, 0});
        document.push_back({"lastEvent", TEXT, sizeof(TelemetryState::lastEvent) - 1});
        document.push_back({"eventSeq", U32, 0});
        for (const VocabularyRow& row : JOB_ATTRIBUTES) job.push_back(member_of(row));
    }
};

const Members& members()
{
    static const Members m;
    return m;
}

const Member POSITION_MEMBERS[] = {
    {"x", NUMBER_OR_NULL, 0}, {"y", NUMBER_OR_NULL, 0}, {"z", NUMBER_OR_NULL, 0}};

size_t utf8_chars(const std::string& s)
{
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

bool check_object(const Json& object, const Member* members, size_t count, const char* where,
                  std::string* why);

bool check_member(const Json& v, const Member& m, std::string* why)
{
    std::string key = std::string("'") + m.key + "'";
    switch (m.kind) {
    case TEXT:
        if (!v.is_string()) break;
        if (m.max_chars != 0 && utf8_chars(v.get<std::string>()) > m.max_chars) {
            *why = key + " is longer than " + std::to_string(m.max_chars) + " characters";
            return false;
        }
        return true;
    case U32:
        if (v.is_number_unsigned() && v.get<uint64_t>() <= UINT32_MAX) return true;
        break;
    case U64:
        if (v.is_number_unsigned()) return true;
        break;
    case FLAG:
        if (v.is_boolean()) return true;
        break;
    case NUMBER_OR_NULL:
        if (v.is_number() || v.is_null()) return true;
        break;
    case POSITION:
        if (v.is_object()) return check_object(v, POSITION_MEMBERS, 3, "position", why);
        break;
    case JOB:
        if (v.is_null()) return true;
        if (v.is_object()) return check_object(v, members().job.data(), members().job.size(), "job", why);
        break;
    }
    *why = key + " has the wrong type";
    return false;
}

bool check_object(const Json& object, const Member* members, size_t count, const char* where,
                  std::string* why)
{
    if (object.size() != count) {
        *why = std::string(where) + " has " + std::to_string(object.size()) + " members, not " +
               std::to_string(count);
        return false;
    }
    size_t i = 0;
    for (auto it = object.begin(); it != object.end(); ++it, ++i) {
        if (it.key() != members[i].key) {
            *why = std::string(where) + " has '" + it.key() + "' where '" + members[i].key +
                   "' belongs";
            return false;
        }
        if (!check_member(it.value(), members[i], why)) return false;
    }
    return true;
}

double number_or_nan(const Json& v) { return v.is_null() ? NAN : v.get<double>(); }

} // namespace

std::string document_problem(const std::string& bytes, DocumentView* view)
{
    if (bytes.empty()) return "the file is empty";
    if (bytes.back() != '\n') return "the document does not end with a line feed (cut short?)";
    size_t other = bytes.find_first_of("\r\n");
    if (other != bytes.size() - 1) {
        return "a line break inside the document at byte " + std::to_string(other);
    }
    Json doc = Json::parse(bytes, nullptr, false);
    if (doc.is_discarded()) return "not strict JSON (or not UTF-8)";
    if (!doc.is_object()) return "not a JSON object";
    std::string why;
    const std::vector<Member>& top = members().document;
    if (!check_object(doc, top.data(), top.size(), "the document", &why)) return why;
    if (doc["plugin"] != "QAV") return "'plugin' is not \"QAV\"";
    // The schema's patterns, word for word.
    static const std::regex plugin_version("^[0-9]+\\.[0-9]+\\.[0-9]+$");
    static const std::regex game_version("^(0|[1-9][0-9]{0,4})\\.(0|[1-9][0-9]{0,4})$");
    if (!std::regex_match(doc["version"].get<std::string>(), plugin_version)) {
        return "'version' is not MAJOR.MINOR.PATCH";
    }
    if (!std::regex_match(doc["gameVersion"].get<std::string>(), game_version)) {
        return "'gameVersion' is not MAJOR.MINOR";
    }
    if (view == nullptr) return "";

    view->pid = doc["pid"].get<uint32_t>();
    view->written = doc["written"].get<uint64_t>();
    view->paused = doc["paused"].get<bool>();
    view->gameTime = doc[HOST_CHANNELS[CHANNEL_GAME_TIME].key].get<uint32_t>();
    const Json& position = doc[HOST_CHANNELS[CHANNEL_TRUCK_PLACEMENT].key];
    view->x = number_or_nan(position["x"]);
    view->y = number_or_nan(position["y"]);
    view->z = number_or_nan(position["z"]);
    view->speed = number_or_nan(doc[HOST_CHANNELS[CHANNEL_TRUCK_SPEED].key]);
    const Json& job = doc["job"];
    view->hasJob = !job.is_null();
    view->cargo = view->hasJob ? job["cargo"].get<std::string>() : "";
    view->sourceCity = view->hasJob ? job["sourceCity"].get<std::string>() : "";
    view->destinationCity = view->hasJob ? job["destinationCity"].get<std::string>() : "";
    view->lastEvent = doc["lastEvent"].get<std::string>();
    view->eventSeq = doc["eventSeq"].get<uint32_t>();
    return "";
}

uint64_t document_written(const std::string& bytes)
{
    DocumentView view;
    return document_problem(bytes, &view).empty() ? view.written : 0;
}
