// The C reader from C++: its header compiles as C++, its object links, and the typed document
// carries every member of a document whose values all differ, each in its own field.
#include "qav_reader.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

static const char text[] =
    "{\"plugin\":\"QAV\",\"version\":\"1.2.3\",\"pid\":4000000001,\"written\":18446744073709551614,"
    "\"game\":\"g\\u0000me\",\"gameVersion\":\"1.18\",\"paused\":true,\"gameTime\":4000000002,"
    "\"position\":{\"x\":-1.5,\"y\":null,\"z\":2.25},\"speed\":-3.75,\"job\":{\"cargo\":\"c\","
    "\"cargoId\":\"ci\",\"sourceCity\":\"sc\",\"sourceCityId\":\"sci\",\"sourceCompany\":\"so\","
    "\"sourceCompanyId\":\"soi\",\"destinationCity\":\"dc\",\"destinationCityId\":\"dci\","
    "\"destinationCompany\":\"do\",\"destinationCompanyId\":\"doi\",\"income\":18446744073709551613,"
    "\"cargoMass\":18200.5,\"deliveryTime\":4000000003,\"plannedKm\":4000000004},"
    "\"lastEvent\":\"toll.paid\",\"eventSeq\":4000000005}\n";

int main()
{
    static qav_document parsed, doc;
    char problem[200];
    if (!qav_parse(text, sizeof text - 1, &parsed, problem, sizeof problem)) {
        std::printf("FAILED: %s\n", problem);
        return 1;
    }
    doc = parsed; // by value: the texts come along
    std::memset(&parsed, 0x55, sizeof parsed);
    auto str = [](qav_text t) { return std::string(qav_str(&doc, t), t.length); };
    auto num = [](double d) { return std::isnan(d) ? std::string("null") : std::to_string(d); };
    const struct {
        const char *member;
        std::string expected;
        std::function<std::string()> value;
    } rows[] = {
        {"version", "1.2.3", [] { return std::string(doc.version); }},
        {"version_text", "1.2.3", [&] { return str(doc.version_text); }},
        {"pid", "4000000001", [] { return std::to_string(doc.pid); }},
        {"written", "18446744073709551614", [] { return std::to_string(doc.written); }},
        {"game", std::string("g\0me", 4), [&] { return str(doc.game); }},
        {"game_version", "1.18", [&] { return str(doc.game_version); }},
        {"paused", "1", [] { return std::to_string(doc.paused); }},
        {"game_time", "4000000002", [] { return std::to_string(doc.game_time); }},
        {"position.x", "-1.500000", [&] { return num(doc.position.x); }},
        {"position.y", "null", [&] { return num(doc.position.y); }},
        {"position.z", "2.250000", [&] { return num(doc.position.z); }},
        {"speed", "-3.750000", [&] { return num(doc.speed); }},
        {"has_job", "1", [] { return std::to_string(doc.has_job); }},
        {"job.cargo", "c", [&] { return str(doc.job.cargo); }},
        {"job.cargo_id", "ci", [&] { return str(doc.job.cargo_id); }},
        {"job.source_city", "sc", [&] { return str(doc.job.source_city); }},
        {"job.source_city_id", "sci", [&] { return str(doc.job.source_city_id); }},
        {"job.source_company", "so", [&] { return str(doc.job.source_company); }},
        {"job.source_company_id", "soi", [&] { return str(doc.job.source_company_id); }},
        {"job.destination_city", "dc", [&] { return str(doc.job.destination_city); }},
        {"job.destination_city_id", "dci", [&] { return str(doc.job.destination_city_id); }},
        {"job.destination_company", "do", [&] { return str(doc.job.destination_company); }},
        {"job.destination_company_id", "doi", [&] { return str(doc.job.destination_company_id); }},
        {"job.income", "18446744073709551613", [] { return std::to_string(doc.job.income); }},
        {"job.cargo_mass", "18200.500000", [&] { return num(doc.job.cargo_mass); }},
        {"job.delivery_time", "4000000003", [] { return std::to_string(doc.job.delivery_time); }},
        {"job.planned_km", "4000000004", [] { return std::to_string(doc.job.planned_km); }},
        {"last_event", "toll.paid", [] { return std::string(doc.last_event); }},
        {"last_event_text", "toll.paid", [&] { return str(doc.last_event_text); }},
        {"event_seq", "4000000005", [] { return std::to_string(doc.event_seq); }},
    };
    int failures = 0;
    for (const auto &row : rows) {
        std::string got = row.value(); // compared whole: game holds U+0000
        if (got != row.expected) {
            std::printf("FAILED %s: \"%s\" (%zu bytes), not \"%s\"\n", row.member, got.c_str(),
                        got.size(), row.expected.c_str());
            failures++;
        }
    }
    std::printf("%s\n", failures == 0 ? "all passed" : "FAILED");
    return failures == 0 ? 0 : 1;
}
