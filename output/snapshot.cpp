#include "output/snapshot.h"

#include "platform/platform.h"
#include "plugin/version.h"
#include "state/vocabulary.h"

#include <cstring>

// `,"key":`, without the comma for an object's first member.
static void write_key(JsonOut* out, const char* key, bool first)
{
    if (first) {
        JSON_LIT(out, "\"");
    } else {
        JSON_LIT(out, ",\"");
    }
    json_bytes(out, key, std::strlen(key));
    JSON_LIT(out, "\":");
}

// One channel or job attribute, from its record field, formatted by its value type.
static void write_value(JsonOut* out, const TelemetryState* s, const VocabularyRow* row)
{
    const char* field = (const char*)s + row->offset;
    switch (row->type) {
    case HOST_TYPE_STRING: write_json_string(out, field); break;
    case HOST_TYPE_PLACEMENT: {
        const Position* p = (const Position*)field;
        JSON_LIT(out, "{\"x\":");
        json_fixed(out, p->x, row->decimals);
        JSON_LIT(out, ",\"y\":");
        json_fixed(out, p->y, row->decimals);
        JSON_LIT(out, ",\"z\":");
        json_fixed(out, p->z, row->decimals);
        JSON_LIT(out, "}");
        break;
    }
    case HOST_TYPE_FLOAT: {
        float f;
        std::memcpy(&f, field, sizeof f);
        json_fixed(out, (double)f, row->decimals);
        break;
    }
    case HOST_TYPE_U64: {
        uint64_t v;
        std::memcpy(&v, field, sizeof v);
        json_u64(out, v);
        break;
    }
    default: {
        uint32_t v;
        std::memcpy(&v, field, sizeof v);
        json_u64(out, v);
        break;
    }
    }
}

void render_snapshot(JsonOut* out, const TelemetryState* s, uint32_t pid, uint64_t tick)
{
    JSON_LIT(out, "{\"plugin\":\"" QAV_PRODUCT_NAME "\",\"version\":\"" QAV_VERSION "\",\"pid\":");
    json_u64(out, pid);
    JSON_LIT(out, ",\"written\":");
    json_u64(out, tick);
    JSON_LIT(out, ",\"game\":");
    write_json_string(out, s->game);
    JSON_LIT(out, ",\"gameVersion\":\"");
    json_u64(out, s->gameVersion >> 16);
    JSON_LIT(out, ".");
    json_u64(out, s->gameVersion & 0xFFFFu);
    if (s->paused) {
        JSON_LIT(out, "\",\"paused\":true");
    } else {
        JSON_LIT(out, "\",\"paused\":false");
    }
    for (const VocabularyRow& row : HOST_CHANNELS) {
        write_key(out, row.key, false);
        write_value(out, s, &row);
    }
    if (s->hasJob) {
        JSON_LIT(out, ",\"job\":{");
        for (const VocabularyRow& row : JOB_ATTRIBUTES) {
            write_key(out, row.key, &row == &JOB_ATTRIBUTES[0]);
            write_value(out, s, &row);
        }
        JSON_LIT(out, "}");
    } else {
        JSON_LIT(out, ",\"job\":null");
    }
    JSON_LIT(out, ",\"lastEvent\":");
    write_json_string(out, s->lastEvent);
    JSON_LIT(out, ",\"eventSeq\":");
    json_u64(out, s->eventSeq);
    JSON_LIT(out, "}\n");
}

// Writes the whole document into tempPath. False when it may not be complete there.
static bool write_temp_document()
{
    // Before an initialization has got as far as the paths there is nowhere to write: a host
    // that calls shutdown (or a callback) anyway must not reach the runtime with an empty
    // file name, which the Windows runtime treats as an invalid parameter and ends the
    // process for.
    if (g_state.tempPath[0] == 0) return false;
    std::FILE* file = platform_open_write(g_state.tempPath);
    if (file == NULL) return false;
    JsonOut out;
    json_begin(&out, file);
    render_snapshot(&out, &g_state, platform_process_id(), platform_tick_ms());
    bool complete = json_end(&out);
    // A close that fails may have lost the last bytes: such a document must not replace
    // the previous one. The incomplete temporary file is harmless; the next write
    // replaces it.
    if (std::fclose(file) != 0) complete = false;
    return complete;
}

bool write_snapshot()
{
    return write_temp_document() && platform_replace(g_state.tempPath, g_state.finalPath);
}

bool write_snapshot_retrying()
{
    if (!write_temp_document()) return false;
    // The time bound matters where the system's sleep is coarse (15.6 ms on a default
    // Windows timer): the host's thread is never held much past the budget.
    uint64_t start = platform_tick_ms();
    for (int tries = 1;; tries++) {
        if (platform_replace(g_state.tempPath, g_state.finalPath)) return true;
        if (tries == REPLACE_TRIES || platform_tick_ms() - start >= REPLACE_BUDGET_MS) return false;
        platform_sleep_ms(REPLACE_WAIT_MS);
    }
}
