// Channel handlers: store exactly what the host delivers, and only when the value carries
// the type the channel was registered with. Converting a mistyped value would publish a
// number the host never meant.
#include "state/handlers.h"

#include "state/telemetry_state.h"

void QAV_HOSTAPI on_game_time(const char* name, uint32_t index, const HostValue* value,
                              void* context)
{
    (void)name;
    (void)index;
    (void)context;
    if (value == NULL || value->type != HOST_TYPE_U32) return;
    g_state.gameTime = value->value.u32;
}

void QAV_HOSTAPI on_truck_placement(const char* name, uint32_t index, const HostValue* value,
                                    void* context)
{
    (void)name;
    (void)index;
    (void)context;
    if (value == NULL || value->type != HOST_TYPE_PLACEMENT) return;
    g_state.position.x = value->value.placement.x;
    g_state.position.y = value->value.placement.y;
    g_state.position.z = value->value.placement.z;
}

void QAV_HOSTAPI on_truck_speed(const char* name, uint32_t index, const HostValue* value,
                                void* context)
{
    (void)name;
    (void)index;
    (void)context;
    if (value == NULL || value->type != HOST_TYPE_FLOAT) return;
    g_state.speed = value->value.f32;
}
