#include "output/snapshot.h"

#include "platform/platform.h"

void render_snapshot(JsonOut* out, const TelemetryState* s, uint32_t pid, uint64_t tick)
{
    JSON_LIT(out, "{\"plugin\":\"QAV\",\"version\":\"1.0.0\",\"pid\":");
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
        JSON_LIT(out, "\",\"paused\":true,\"gameTime\":");
    } else {
        JSON_LIT(out, "\",\"paused\":false,\"gameTime\":");
    }
    json_u64(out, s->gameTime);
    JSON_LIT(out, ",\"position\":{\"x\":");
    json_fixed(out, s->position.x, 2);
    JSON_LIT(out, ",\"y\":");
    json_fixed(out, s->position.y, 2);
    JSON_LIT(out, ",\"z\":");
    json_fixed(out, s->position.z, 2);
    JSON_LIT(out, "},\"speed\":");
    json_fixed(out, (double)s->speed, 2);
    if (s->hasJob) {
        JSON_LIT(out, ",\"job\":{");
        for (const JobTextField& f : JOB_TEXT_FIELDS) {
            json_bytes(out, f.piece, f.piece_len);
            write_json_string(out, (const char*)s + f.offset);
        }
        JSON_LIT(out, ",\"income\":");
        json_u64(out, s->income);
        JSON_LIT(out, ",\"cargoMass\":");
        json_fixed(out, (double)s->cargoMass, 1);
        JSON_LIT(out, ",\"deliveryTime\":");
        json_u64(out, s->deliveryTime);
        JSON_LIT(out, ",\"plannedKm\":");
        json_u64(out, s->plannedKm);
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

// The stream's buffer: large enough for the largest document (about 6.9 KB, every text full
// of escapes and every number at its longest), so each write is one system call, and ours,
// so the runtime neither allocates one nor asks the file system for its preferred size.
// Measured against the bare system calls, the runtime's own 4 KB buffer cost a second
// write call for a large document and 5 to 8 percent in all.
static char g_stream_buffer[8192];

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
    (void)std::setvbuf(file, g_stream_buffer, _IOFBF, sizeof g_stream_buffer);
    JsonOut out;
    json_begin(&out, file);
    render_snapshot(&out, &g_state, platform_process_id(), platform_tick_ms());
    bool complete = json_end(&out);
    // A close that fails may have lost the last bytes: such a document must not replace
    // the previous one. The incomplete temporary file is harmless; the next write
    // truncates it.
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
