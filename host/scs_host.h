// The host's plug-in interface, as much of it as QAV touches: the records the host hands
// over, the callbacks it calls and the codes it understands. Declared here from the host's
// published binary layout; every offset the plug-in relies on is pinned below, so a layout
// slip fails the build instead of reading the wrong member inside somebody's game.
#ifndef QAV_HOST_SCS_HOST_H
#define QAV_HOST_SCS_HOST_H

#include <cstddef>
#include <cstdint>

// The host declares every function it calls, and every one it hands over, with this calling
// convention. x86-64 Windows has only one, so it changes no code; it marks the functions that
// cross the boundary and keeps their types word for word those of the host's declarations.
#if defined(_WIN32)
#define QAV_HOSTAPI __stdcall
#else
#define QAV_HOSTAPI
#endif

typedef int32_t host_result_t;

enum {
    HOST_VERSION_1_00 = 0x00010000u,
    HOST_VERSION_1_01 = 0x00010001u, // adds the gameplay event
};

enum {
    HOST_RESULT_OK = 0,
    HOST_RESULT_UNSUPPORTED = -1,
    HOST_RESULT_GENERIC_ERROR = -7,
};

enum { HOST_LOG_MESSAGE = 0 };

enum {
    HOST_EVENT_FRAME_END = 2,
    HOST_EVENT_PAUSED = 3,
    HOST_EVENT_STARTED = 4,
    HOST_EVENT_CONFIGURATION = 5,
    HOST_EVENT_GAMEPLAY = 6, // interface 1.01 only
};

enum {
    HOST_NO_INDEX = 0xFFFFFFFFu,
    HOST_NO_FLAGS = 0,
};

enum {
    HOST_TYPE_U32 = 3,
    HOST_TYPE_U64 = 4,
    HOST_TYPE_FLOAT = 5,
    HOST_TYPE_PLACEMENT = 11, // position x, y, z as doubles, then an orientation we never read
    HOST_TYPE_STRING = 12,    // NUL-terminated bytes; the pointer may be null
};

struct HostPlacement {
    double x, y, z;
    float heading, pitch, roll; // orientation: present in the layout, not read
};

// One value as the host delivers it: a type tag, then the payload at offset 8.
struct HostValue {
    uint32_t type;
    uint32_t reserved;
    union {
        uint32_t u32;
        uint64_t u64;
        float f32;
        const char* string;
        HostPlacement placement;
        unsigned char size_pin[40]; // the host's union is 40 bytes: named values are 64
    } value;
};

// One attribute of a configuration; arrays of these end with an entry whose name is null.
struct HostNamedValue {
    const char* name;
    uint32_t index; // never read
    uint32_t reserved;
    HostValue value;
};

struct HostConfiguration {
    const char* id;                    // "job" is the only one QAV keeps
    const HostNamedValue* attributes;  // may be null
};

struct HostGameplayEvent {
    const char* id;
    const void* attributes; // never read
};

typedef void(QAV_HOSTAPI* HostLogFn)(int32_t type, const char* message);
typedef void(QAV_HOSTAPI* HostEventCallback)(uint32_t event, const void* info, void* context);
typedef void(QAV_HOSTAPI* HostChannelCallback)(const char* name, uint32_t index,
                                               const HostValue* value, void* context);
typedef host_result_t(QAV_HOSTAPI* HostRegisterEventFn)(uint32_t event, HostEventCallback callback,
                                                        void* context);
typedef host_result_t(QAV_HOSTAPI* HostRegisterChannelFn)(const char* name, uint32_t index,
                                                          uint32_t type, uint32_t flags,
                                                          HostChannelCallback callback,
                                                          void* context);

struct HostInitParams;

// The two exports a plug-in offers, as the host finds them by name.
typedef host_result_t(QAV_HOSTAPI* HostInitFn)(uint32_t version, const HostInitParams* params);
typedef void(QAV_HOSTAPI* HostShutdownFn)();

// What the host passes to scs_telemetry_init. Members QAV never reads are kept as
// placeholders only so that the ones it does read sit at the host's offsets.
struct HostInitParams {
    const void* unused_0;
    const char* game_id;  // may be null
    uint32_t game_version; // major in the high 16 bits, minor in the low 16
    uint32_t reserved;
    HostLogFn log; // may be null
    HostRegisterEventFn register_for_event;
    const void* unused_40;
    HostRegisterChannelFn register_for_channel;
};

#if defined(__x86_64__) || defined(_M_X64) || defined(__aarch64__)
static_assert(sizeof(HostPlacement) == 40, "placement payload size");
static_assert(offsetof(HostValue, type) == 0, "value type tag at 0");
static_assert(offsetof(HostValue, value) == 8, "value payload at 8");
static_assert(sizeof(HostValue) == 48, "value size");
static_assert(offsetof(HostNamedValue, name) == 0, "named value name at 0");
static_assert(offsetof(HostNamedValue, index) == 8, "named value index at 8");
static_assert(offsetof(HostNamedValue, value) == 16, "named value value at 16");
static_assert(sizeof(HostNamedValue) == 64, "named value entries are 64 bytes");
static_assert(offsetof(HostConfiguration, id) == 0, "configuration id at 0");
static_assert(offsetof(HostConfiguration, attributes) == 8, "configuration attributes at 8");
static_assert(offsetof(HostGameplayEvent, id) == 0, "gameplay id at 0");
static_assert(offsetof(HostInitParams, game_id) == 8, "game id at 8");
static_assert(offsetof(HostInitParams, game_version) == 16, "game version at 16");
static_assert(offsetof(HostInitParams, log) == 24, "log at 24");
static_assert(offsetof(HostInitParams, register_for_event) == 32, "register event at 32");
static_assert(offsetof(HostInitParams, register_for_channel) == 48, "register channel at 48");
#endif

#endif
