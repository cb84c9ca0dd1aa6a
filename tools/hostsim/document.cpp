#include "tools/hostsim/document.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <regex>

namespace {

// ordered_json keeps the members in the order they came, which the plug-in promises.
using Json = nlohmann::ordered_json;

enum Kind { TEXT, U32, U64, FLAG, NUMBER_OR_NULL, POSITION, JOB };

struct Member {
    const char* key;
    Kind kind;
    size_t max_chars; // TEXT: the longest value the plug-in keeps, in characters
};

const Member DOCUMENT[] = {
    {"plugin", TEXT, 0},   {"version", TEXT, 0},     {"pid", U32, 0},
    {"written", U64, 0},   {"game", TEXT, 15},       {"gameVersion", TEXT, 0},
    {"paused", FLAG, 0},   {"gameTime", U32, 0},     {"position", POSITION, 0},
    {"speed", NUMBER_OR_NULL, 0}, {"job", JOB, 0},   {"lastEvent", TEXT, 47},
    {"eventSeq", U32, 0},
};

const Member JOB_MEMBERS[] = {
    {"cargo", TEXT, 127},           {"cargoId", TEXT, 63},
    {"sourceCity", TEXT, 95},       {"sourceCityId", TEXT, 63},
    {"sourceCompany", TEXT, 95},    {"sourceCompanyId", TEXT, 63},
    {"destinationCity", TEXT, 95},  {"destinationCityId", TEXT, 63},
    {"destinationCompany", TEXT, 95}, {"destinationCompanyId", TEXT, 63},
    {"income", U64, 0},             {"cargoMass", NUMBER_OR_NULL, 0},
    {"deliveryTime", U32, 0},       {"plannedKm", U32, 0},
};

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
        if (v.is_object()) return check_object(v, JOB_MEMBERS, 14, "job", why);
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

bool check_document(const std::string& bytes, DocumentView* view, std::string* why)
{
    if (bytes.empty()) {
        *why = "the file is empty";
        return false;
    }
    if (bytes.back() != '\n' || bytes.find_first_of("\r\n") != bytes.size() - 1) {
        *why = "the document is not one line ended by a single line feed";
        return false;
    }
    Json doc = Json::parse(bytes, nullptr, false);
    if (doc.is_discarded()) {
        *why = "not JSON (or not UTF-8)";
        return false;
    }
    if (!doc.is_object()) {
        *why = "not a JSON object";
        return false;
    }
    if (!check_object(doc, DOCUMENT, sizeof DOCUMENT / sizeof DOCUMENT[0], "the document", why)) {
        return false;
    }
    if (doc["plugin"] != "QAV") {
        *why = "'plugin' is not \"QAV\"";
        return false;
    }
    // The schema's patterns, word for word.
    static const std::regex plugin_version("^[0-9]+\\.[0-9]+\\.[0-9]+$");
    static const std::regex game_version("^(0|[1-9][0-9]{0,4})\\.(0|[1-9][0-9]{0,4})$");
    if (!std::regex_match(doc["version"].get<std::string>(), plugin_version)) {
        *why = "'version' is not MAJOR.MINOR.PATCH";
        return false;
    }
    if (!std::regex_match(doc["gameVersion"].get<std::string>(), game_version)) {
        *why = "'gameVersion' is not MAJOR.MINOR";
        return false;
    }

    view->pid = doc["pid"].get<uint32_t>();
    view->written = doc["written"].get<uint64_t>();
    view->paused = doc["paused"].get<bool>();
    view->gameTime = doc["gameTime"].get<uint32_t>();
    view->x = number_or_nan(doc["position"]["x"]);
    view->y = number_or_nan(doc["position"]["y"]);
    view->z = number_or_nan(doc["position"]["z"]);
    view->speed = number_or_nan(doc["speed"]);
    const Json& job = doc["job"];
    view->hasJob = !job.is_null();
    view->cargo = view->hasJob ? job["cargo"].get<std::string>() : "";
    view->sourceCity = view->hasJob ? job["sourceCity"].get<std::string>() : "";
    view->destinationCity = view->hasJob ? job["destinationCity"].get<std::string>() : "";
    view->lastEvent = doc["lastEvent"].get<std::string>();
    view->eventSeq = doc["eventSeq"].get<uint32_t>();
    return true;
}
