// simdjson validates UTF-8 over the whole input and knows no NaN or Infinity: the strictest
// parser Debian ships.
#include "tests/support/strict_json.h"

#include <simdjson.h>

static simdjson::dom::parser& parser()
{
    static simdjson::dom::parser p;
    return p;
}

std::string strict_json_problem(const std::string& text)
{
    simdjson::dom::element root;
    simdjson::error_code err = parser().parse(text).get(root);
    return err ? simdjson::error_message(err) : "";
}

std::string document_problem(const std::string& doc, DocumentSummary* summary)
{
    std::string line = document_line_problem(doc);
    if (!line.empty()) return line;
    simdjson::dom::element root;
    simdjson::error_code err = parser().parse(doc).get(root);
    if (err) return std::string("strict parser: ") + simdjson::error_message(err);
    simdjson::dom::object obj;
    if (root.get_object().get(obj)) return "not an object";
    std::string_view plugin, last;
    uint64_t seq = 0;
    bool paused = false;
    if (obj["plugin"].get_string().get(plugin) || plugin != "QAV") return "plugin is not \"QAV\"";
    if (obj["eventSeq"].get_uint64().get(seq)) return "eventSeq is not an unsigned integer";
    if (obj["paused"].get_bool().get(paused)) return "paused is not a boolean";
    if (obj["lastEvent"].get_string().get(last)) return "lastEvent is not a string";
    simdjson::dom::element job;
    if (obj["job"].get(job) || !(job.is_null() || job.is_object())) return "job is neither null nor an object";
    std::string schema = document_schema_problem(doc);
    if (!schema.empty()) return schema;
    if (summary != nullptr) {
        summary->eventSeq = seq;
        summary->paused = paused;
        summary->lastEvent = std::string(last);
    }
    return "";
}
