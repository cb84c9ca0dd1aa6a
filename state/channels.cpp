// Channel handlers: store exactly what the host delivers, and only when the value carries
// the type the channel was registered with. Converting a mistyped value would publish a
// number the host never meant.
#include "state/handlers.h"

#include "state/telemetry_state.h"
#include "state/vocabulary.h"

static void store_channel(int channel, const HostValue* value)
{
    const VocabularyRow* row = &HOST_CHANNELS[channel];
    if (value == NULL || value->type != row->type) return;
    store_value(&g_state, row, value);
}

void QAV_HOSTAPI on_game_time(const char* name, uint32_t index, const HostValue* value,
                              void* context)
{
    (void)name;
    (void)index;
    (void)context;
    store_channel(CHANNEL_GAME_TIME, value);
}

void QAV_HOSTAPI on_truck_placement(const char* name, uint32_t index, const HostValue* value,
                                    void* context)
{
    (void)name;
    (void)index;
    (void)context;
    store_channel(CHANNEL_TRUCK_PLACEMENT, value);
}

void QAV_HOSTAPI on_truck_speed(const char* name, uint32_t index, const HostValue* value,
                                void* context)
{
    (void)name;
    (void)index;
    (void)context;
    store_channel(CHANNEL_TRUCK_SPEED, value);
}
