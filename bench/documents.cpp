#include "bench/documents.h"

#include <cfloat>
#include <cstring>

// Longer than every text field, so each is stored full (the store cuts at capacity - 1).
// Bytes 0x01-0x1F are the ones that cost the most: each becomes a six-byte \u00XX escape.
static char g_escapes[256];

static const char* escape_text()
{
    if (g_escapes[0] == 0) {
        for (size_t i = 0; i + 1 < sizeof g_escapes; i++) g_escapes[i] = (char)(1 + i % 0x1F);
    }
    return g_escapes;
}

// A value of the row's type: `number` as that type, or the longest the type prints.
static HostValue number_value(const VocabularyRow& row, double number, bool longest)
{
    switch (row.type) {
    case HOST_TYPE_U64: return host_u64(longest ? UINT64_MAX : (uint64_t)number);
    case HOST_TYPE_FLOAT: return host_float(longest ? -FLT_MAX : (float)number);
    default: return host_u32(longest ? UINT32_MAX : (uint32_t)number);
    }
}

// The job's texts in table order, then its numbers in table order.
static void fill_job(BenchDocument* doc, const char* const* texts, const double* numbers,
                     bool longest)
{
    for (int i = 0; i < JOB_ATTRIBUTE_COUNT; i++) {
        const VocabularyRow& row = JOB_ATTRIBUTES[i];
        HostValue v = row.type == HOST_TYPE_STRING ? host_string(*texts++)
                                                   : number_value(row, *numbers++, longest);
        doc->job[i] = host_attribute(row.host_name, v);
    }
    doc->job[JOB_ATTRIBUTE_COUNT] = host_attributes_end();
}

void bench_document(BenchDocument* doc, BenchKind kind)
{
    static const char* const typical[] = {
        "Chilled yoghurt", "yoghurt_chilled", "Varnholm", "varnholm", "Brightfield Dairies",
        "brightfield_dairy", "\xC3\x98sterby", "osterby", "Kettle & Crane Wholesale",
        "kettle_crane",
    };
    static const double numbers[] = {48650, 18250.5, 41280, 612}; // income, mass, time, km
    const char* e = escape_text();
    const char* const escapes[] = {e, e, e, e, e, e, e, e, e, e};
    static const char* const names[BENCH_KINDS] = {"typical", "escapes", "largest"};
    doc->name = names[kind];
    doc->game = kind == BENCH_TYPICAL ? "haulsim" : e;
    doc->gameplay.id = kind == BENCH_TYPICAL ? "player.tollgate.paid" : e;
    doc->gameplay.attributes = nullptr;
    bool longest = kind == BENCH_LARGEST;
    fill_job(doc, kind == BENCH_TYPICAL ? typical : escapes, numbers, longest);
    if (!longest) {
        doc->game_version = (1u << 16) | 49u;
        doc->channels[CHANNEL_GAME_TIME] = host_u32(52980);
        doc->channels[CHANNEL_TRUCK_PLACEMENT] = host_placement(-31245.671, 47.25, 18834.009);
        doc->channels[CHANNEL_TRUCK_SPEED] = host_float(23.61f);
        return;
    }
    doc->game_version = 0xFFFFFFFFu;
    doc->channels[CHANNEL_GAME_TIME] = host_u32(0xFFFFFFFFu);
    doc->channels[CHANNEL_TRUCK_PLACEMENT] = host_placement(-DBL_MAX, -DBL_MAX, -DBL_MAX);
    doc->channels[CHANNEL_TRUCK_SPEED] = host_float(-FLT_MAX);
}

void bench_deliver(HostModel* host, const BenchDocument& doc)
{
    host->event(HOST_EVENT_STARTED, nullptr);
    for (int i = 0; i < CHANNEL_COUNT; i++) host->channel(HOST_CHANNELS[i].host_name, doc.channels[i]);
    host->configuration("job", doc.job);
    host->event(HOST_EVENT_GAMEPLAY, &doc.gameplay);
}
