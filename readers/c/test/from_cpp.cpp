// The C reader from C++: its header compiles as C++, its object links, and the typed document
// carries every member of a document whose values all differ, each in its own field.
#include "qav_reader.h"

#include <cmath>
#include <cstdio>
#include <cstring>
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
    char problem[200], got[1024];
    if (!qav_parse(text, sizeof text - 1, &parsed, problem, sizeof problem)) {
        std::printf("FAILED: %s\n", problem);
        return 1;
    }
    doc = parsed; // by value: the texts come along
    std::memset(&parsed, 0x55, sizeof parsed);
    const qav_job &j = doc.job;
    const qav_text texts[] = {doc.version_text, doc.game, doc.game_version, j.cargo, j.cargo_id,
                              j.source_city, j.source_city_id, j.source_company, j.source_company_id,
                              j.destination_city, j.destination_city_id, j.destination_company,
                              j.destination_company_id, doc.last_event_text};
    std::string all = std::string(doc.version) + "|" + doc.last_event;
    for (const qav_text &t : texts) all += "|" + std::string(qav_str(&doc, t), t.length);
    std::snprintf(got, sizeof got, "|%lu %llu %d %lu %g %d %g %g %d %llu %g %lu %lu %lu",
                  (unsigned long)doc.pid, (unsigned long long)doc.written, doc.paused,
                  (unsigned long)doc.game_time, doc.position.x, std::isnan(doc.position.y),
                  doc.position.z, doc.speed, doc.has_job, (unsigned long long)j.income, j.cargo_mass,
                  (unsigned long)j.delivery_time, (unsigned long)j.planned_km, (unsigned long)doc.event_seq);
    all += got;
    static const char expected[] = "1.2.3|toll.paid|1.2.3|g\0me|1.18|c|ci|sc|sci|so|soi|dc|dci|do|doi|"
                                   "toll.paid|4000000001 18446744073709551614 1 4000000002 -1.5 1 2.25 "
                                   "-3.75 1 18446744073709551613 18200.5 4000000003 4000000004 4000000005";
    std::string want(expected, sizeof expected - 1); // whole: game holds U+0000
    if (all != want) {
        for (std::string *shown : {&all, &want})
            for (char &c : *shown) c = c == '\0' ? '~' : c; // U+0000 shown
        std::printf("FAILED: the document reads\n%s (%zu bytes), not\n%s\n", all.c_str(), all.size(), want.c_str());
        return 1;
    }
    std::printf("all passed\n");
    return 0;
}
