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

static const char* const JOB_TEXT_ATTRIBUTES[10] = {
    "cargo", "cargo.id", "source.city", "source.city.id", "source.company",
    "source.company.id", "destination.city", "destination.city.id", "destination.company",
    "destination.company.id",
};

static void fill_job(BenchDocument* doc, const char* const texts[10], uint64_t income,
                     float mass, uint32_t delivery_time, uint32_t planned_km)
{
    for (int i = 0; i < 10; i++) {
        doc->job[i] = host_attribute(JOB_TEXT_ATTRIBUTES[i], host_string(texts[i]));
    }
    doc->job[10] = host_attribute("income", host_u64(income));
    doc->job[11] = host_attribute("cargo.mass", host_float(mass));
    doc->job[12] = host_attribute("delivery.time", host_u32(delivery_time));
    doc->job[13] = host_attribute("planned_distance.km", host_u32(planned_km));
    doc->job[14] = host_attributes_end();
}

void bench_document(BenchDocument* doc, BenchKind kind)
{
    static const char* const typical[10] = {
        "Chilled yoghurt", "yoghurt_chilled", "Varnholm", "varnholm", "Brightfield Dairies",
        "brightfield_dairy", "\xC3\x98sterby", "osterby", "Kettle & Crane Wholesale",
        "kettle_crane",
    };
    const char* e = escape_text();
    const char* const escapes[10] = {e, e, e, e, e, e, e, e, e, e};
    static const char* const names[BENCH_KINDS] = {"typical", "escapes", "largest"};
    doc->name = names[kind];
    doc->game = kind == BENCH_TYPICAL ? "haulsim" : e;
    doc->gameplay.id = kind == BENCH_TYPICAL ? "player.tollgate.paid" : e;
    doc->gameplay.attributes = nullptr;
    if (kind != BENCH_LARGEST) {
        doc->game_version = (1u << 16) | 49u;
        doc->game_time = host_u32(52980);
        doc->placement = host_placement(-31245.671, 47.25, 18834.009);
        doc->speed = host_float(23.61f);
        fill_job(doc, kind == BENCH_TYPICAL ? typical : escapes, 48650, 18250.5f, 41280, 612);
        return;
    }
    doc->game_version = 0xFFFFFFFFu;
    doc->game_time = host_u32(0xFFFFFFFFu);
    doc->placement = host_placement(-DBL_MAX, -DBL_MAX, -DBL_MAX);
    doc->speed = host_float(-FLT_MAX);
    fill_job(doc, escapes, UINT64_MAX, -FLT_MAX, 0xFFFFFFFFu, 0xFFFFFFFFu);
}

void bench_deliver(FakeHost* host, const BenchDocument& doc)
{
    host->event(HOST_EVENT_STARTED, nullptr);
    host->channel("game.time", doc.game_time);
    host->channel("truck.world.placement", doc.placement);
    host->channel("truck.speed", doc.speed);
    HostConfiguration job = {"job", doc.job};
    host->event(HOST_EVENT_CONFIGURATION, &job);
    host->event(HOST_EVENT_GAMEPLAY, &doc.gameplay);
}
