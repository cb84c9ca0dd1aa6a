// The test suites' judge of a published document: a strict JSON parser (simdjson natively,
// nlohmann::json in the Windows programs), which refuses invalid UTF-8, NaN, trailing bytes
// and every other liberty, plus the shape every document has: one line, ended by one line
// feed, an object from plugin "QAV" with its event count.
#ifndef QAV_TESTS_SUPPORT_STRICT_JSON_H
#define QAV_TESTS_SUPPORT_STRICT_JSON_H

#include <cstdint>
#include <string>

struct DocumentSummary {
    uint64_t eventSeq = 0;
    bool paused = false;
    std::string lastEvent;
};

// "" when `doc` is a complete, strictly valid document that the schema accepts; otherwise
// what is wrong with it.
// Fills `summary` when given and the document is valid.
std::string document_problem(const std::string& doc, DocumentSummary* summary = nullptr);

// The parser alone: "" when `text` is strict JSON, else the parser's complaint.
std::string strict_json_problem(const std::string& text);

// The line rule both parsers share: "" when `doc` is one line ended by a single line feed.
std::string document_line_problem(const std::string& doc);

// The rules of docs/telemetry.schema.json, as the host simulator's reader checks them.
std::string document_schema_problem(const std::string& doc);

#endif
