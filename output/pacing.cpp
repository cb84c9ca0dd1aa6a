#include "output/pacing.h"

#include "output/snapshot.h"
#include "platform/platform.h"
#include "state/telemetry_state.h"

// Runs on every frame of the host, 60 to 200 times a second. The path that does not write
// is a tick read, a subtraction and a compare: nothing else belongs here.
void QAV_HOSTAPI on_frame_end(uint32_t event, const void* info, void* context)
{
    (void)event;
    (void)info;
    (void)context;
    uint64_t now = platform_tick_ms();
    uint64_t interval = g_state.steady ? PACING_SLOW_MS : PACING_FAST_MS;
    if (now - g_state.lastWriteTick < interval) return;
    (void)write_snapshot();
    // Even a failed write restarts the interval: a full disk is retried at the normal pace,
    // not on every frame.
    g_state.lastWriteTick = now;
    g_state.steady = 1;
}

void QAV_HOSTAPI on_pause_change(uint32_t event, const void* info, void* context)
{
    (void)info;
    (void)context;
    g_state.paused = event == HOST_EVENT_PAUSED ? 1u : 0u;
    // The host may send no frame end for the whole pause: this document must land now.
    (void)write_snapshot_retrying();
    // `steady` stays: a change that came before the pause is still owed its quick write.
    g_state.lastWriteTick = platform_tick_ms();
}
