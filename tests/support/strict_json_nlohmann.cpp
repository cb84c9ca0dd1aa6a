// The Windows test programs' strict parser: nlohmann::json, header-only and so cross-built
// with them. It refuses ill-formed UTF-8 in strings, NaN and anything after the document.
#include "tests/support/strict_json.h"

#include <nlohmann/json.hpp>

std::string strict_json_problem(const std::string& text)
{
    try {
        nlohmann::json parsed = nlohmann::json::parse(text);
        (void)parsed;
        return "";
    } catch (const nlohmann::json::exception& e) {
        return e.what();
    }
}

std::string document_problem(const std::string& doc, DocumentSummary* summary)
{
    std::string line = document_line_problem(doc);
    if (!line.empty()) return line;
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(doc);
    } catch (const nlohmann::json::exception& e) {
        return std::string("strict parser: ") + e.what();
    }
    if (!j.is_object()) return "not an object";
    auto member = [&](const char* key) { return j.contains(key) ? j[key] : nlohmann::json(); };
    if (member("plugin") != "QAV") return "plugin is not \"QAV\"";
    if (!member("eventSeq").is_number_unsigned()) return "eventSeq is not an unsigned integer";
    if (!member("paused").is_boolean()) return "paused is not a boolean";
    if (!member("lastEvent").is_string()) return "lastEvent is not a string";
    if (!j.contains("job") || !(j["job"].is_null() || j["job"].is_object())) {
        return "job is neither null nor an object";
    }
    std::string schema = document_schema_problem(doc);
    if (!schema.empty()) return schema;
    if (summary != nullptr) {
        summary->eventSeq = j["eventSeq"].get<uint64_t>();
        summary->paused = j["paused"].get<bool>();
        summary->lastEvent = j["lastEvent"].get<std::string>();
    }
    return "";
}
