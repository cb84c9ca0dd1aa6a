#include "tests/support/strict_json.h"

#include "tools/hostsim/document.h"

std::string document_line_problem(const std::string& doc)
{
    if (doc.empty()) return "empty file";
    if (doc.back() != '\n') return "does not end with a line feed (cut short?)";
    size_t other = doc.find_first_of("\r\n");
    if (other != doc.size() - 1) return "line break inside the document at byte " + std::to_string(other);
    return "";
}

std::string document_schema_problem(const std::string& doc)
{
    DocumentView view;
    std::string why;
    return check_document(doc, &view, &why) ? "" : "schema: " + why;
}
