// libFuzzer harness: the input bytes become a sequence of host calls (initializations with
// any version and identifier, shutdowns, frame ends on the scripted clock, pause changes,
// channel values with any type tag and any payload, configurations with any names, types
// and strings, gameplay events, event numbers nobody registered, and I/O faults). After
// every call the document the record gives now, and the one on disk, must be strict,
// valid UTF-8 JSON; ASan and UBSan watch every call.
//
// Input format, read front to back so that seeds can be written by hand: one op byte, then
// that op's operands. A text is a length byte (255: a 16-bit length follows) and its bytes.
#include "output/pacing.h"
#include "output/snapshot.h"
#include "platform/test_platform.h"
#include "plugin/exports.h"
#include "state/telemetry_state.h"
#include "state/vocabulary.h"
#include "support/document.h"
#include "support/host_model.h"
#include "support/os.h"
#include "support/render.h"

#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

struct Input {
    const uint8_t* data;
    size_t size, at;

    bool more() const { return at < size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint32_t u16() { return byte() | (uint32_t)byte() << 8; }
    uint32_t u32() { return u16() | u16() << 16; }
    void bytes(void* out, size_t n)
    {
        std::memset(out, 0, n);
        size_t take = n < size - at ? n : size - at;
        std::memcpy(out, data + at, take);
        at += take;
    }
    std::string text()
    {
        size_t n = byte();
        if (n == 255) n = u16();
        if (n > size - at) n = size - at;
        std::string s((const char*)data + at, n);
        at += n;
        return s;
    }
};

// "job", every attribute name, and the empty name.
enum { KNOWN_NAME_COUNT = JOB_ATTRIBUTE_COUNT + 2 };
const char* known_name(uint8_t which)
{
    which %= KNOWN_NAME_COUNT;
    if (which == 0) return "job";
    if (which == KNOWN_NAME_COUNT - 1) return "";
    return JOB_ATTRIBUTES[which - 1].host_name;
}

const uint32_t TYPE_TAGS[] = {HOST_TYPE_U32, HOST_TYPE_U64, HOST_TYPE_FLOAT,
                              HOST_TYPE_PLACEMENT, HOST_TYPE_STRING};

std::string g_dir, g_doc_path;
HostModel g_loaded; // a load that registered every handler, for calls that bypass the host
std::deque<std::string> g_texts; // keeps the host's strings alive during a call

// A string the host hands over: null, a known name, or bytes from the input.
const char* host_text(Input& in)
{
    uint8_t kind = in.byte();
    if (kind % 8 == 0) return nullptr;
    if (kind % 8 <= 3) return known_name(in.byte());
    g_texts.push_back(in.text());
    return g_texts.back().c_str();
}

uint32_t type_tag(Input& in)
{
    uint8_t t = in.byte();
    if (t < 0xF0) return TYPE_TAGS[t % 5];
    return in.u32(); // any tag at all
}

HostValue host_value(Input& in)
{
    HostValue v;
    std::memset(&v, 0, sizeof v);
    v.type = type_tag(in);
    in.bytes(&v.value, sizeof v.value); // any payload: non-finite doubles and floats too
    if (v.type == HOST_TYPE_STRING) v.value.string = host_text(in);
    return v;
}

// A document already judged valid need not be judged again: most steps change neither.
void check(const char* what, const std::string& doc, std::string* last_valid)
{
    if (doc == *last_valid) return;
    std::string problem = document_problem(doc);
    if (problem.empty()) {
        *last_valid = doc;
        return;
    }
    std::fprintf(stderr, "%s: %s\n%s\n", what, problem.c_str(), doc.c_str());
    std::abort();
}

void check_documents()
{
    static std::string last_rendered, last_published;
    check("the record's document", snapshot_text(g_state, g_test_platform.pid, g_test_platform.tick),
          &last_rendered);
    std::string doc;
    if (os_read_file(g_doc_path, SIZE_MAX - 1, &doc) == ReadResult::ok) {
        check("the published document", doc, &last_published);
    }
}

void deliver_event(HostModel& host, Input& in, uint32_t event, const void* info)
{
    // Through the callbacks the host holds, or straight to the handlers, as a host with
    // stale pointers after a failed initialization would.
    if (in.byte() % 4 != 0) {
        host.event(event, info);
        return;
    }
    g_loaded.find_event(event)->on_event(event, info, nullptr);
}

void remove_folder()
{
    std::remove(g_doc_path.c_str());
    std::remove((g_doc_path + ".tmp").c_str());
    rmdir((g_dir + "/QAV").c_str());
    rmdir(g_dir.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Every step may write a file: a folder in memory when the machine has one.
    char shm[] = "/dev/shm/qav-fuzz-XXXXXX";
    char tmp[] = "/tmp/qav-fuzz-XXXXXX";
    char* tmpl = mkdtemp(shm) != nullptr ? shm : mkdtemp(tmp);
    if (tmpl == nullptr) std::abort();
    g_dir = tmpl;
    g_doc_path = g_dir + "/QAV/telemetry.json";
    std::atexit(remove_folder);
    test_platform_reset(g_dir.c_str());
    if (g_loaded.start(scs_telemetry_init, HOST_VERSION_1_01) != HOST_RESULT_OK) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in = {data, size, 0};
    // A fresh load: the record all zero, no document yet, a working machine.
    test_platform_reset(g_dir.c_str());
    std::memset(&g_state, 0, sizeof g_state);
    std::remove(g_doc_path.c_str());
    std::remove((g_doc_path + ".tmp").c_str());
    HostModel host;
    g_host_model = &host;

    for (int step = 0; in.more() && step < 200; step++) {
        g_texts.clear();
        switch (in.byte() % 10) {
        case 0: { // initialization
            uint8_t how = in.byte();
            uint32_t version = how & 1 ? HOST_VERSION_1_01 : HOST_VERSION_1_00;
            if ((how & 6) == 6) version = in.u32();
            host.with_log = how & 8;
            host.refuse_event = how & 16 ? in.byte() % 8 : 0;
            g_test_platform.appdata_fails = (how & 0xE0) == 0xE0;
            const char* game = host_text(in);
            HostInitParams p = host.params(game, in.u32());
            (void)host.init(scs_telemetry_init, version, (how & 0xE0) == 0xC0 ? nullptr : &p);
            g_test_platform.appdata_fails = false;
            break;
        }
        case 1: scs_telemetry_shutdown(); break;
        case 2:
            g_test_platform.tick += in.u16();
            deliver_event(host, in, HOST_EVENT_FRAME_END, nullptr);
            break;
        case 3: deliver_event(host, in, in.byte() & 1 ? HOST_EVENT_PAUSED : HOST_EVENT_STARTED, nullptr); break;
        case 4: { // a channel value, or none
            uint8_t which = in.byte();
            HostValue v = host_value(in);
            const HostValue* value = which & 0x80 ? nullptr : &v;
            const char* name = HOST_CHANNELS[which % CHANNEL_COUNT].host_name;
            if (which & 0x40) {
                g_loaded.find_channel(name)->on_channel(name, HOST_NO_INDEX, value, nullptr);
            } else if (value == nullptr) {
                host.channel_null(name);
            } else {
                host.channel(name, v);
            }
            break;
        }
        case 5: { // a configuration: any id, any attributes
            HostConfiguration config;
            config.id = host_text(in);
            uint8_t count = in.byte();
            std::vector<HostNamedValue> attrs;
            for (uint8_t i = 0; i < count % 40 && in.more(); i++) {
                const char* name = host_text(in);
                if (name == nullptr) name = ""; // a null name would end the array here
                HostNamedValue a;
                std::memset(&a, 0, sizeof a);
                a.name = name;
                a.value = host_value(in);
                attrs.push_back(a);
            }
            attrs.push_back(host_attributes_end());
            config.attributes = count == 0xFF ? nullptr : attrs.data();
            deliver_event(host, in, HOST_EVENT_CONFIGURATION, &config);
            break;
        }
        case 6: { // a gameplay event
            HostGameplayEvent e = {host_text(in), nullptr};
            deliver_event(host, in, HOST_EVENT_GAMEPLAY, in.byte() & 1 ? nullptr : &e);
            break;
        }
        case 7: { // any event number to any callback the host holds
            uint32_t event = in.u32();
            uint8_t which = in.byte();
            HostConfiguration config = {host_text(in), nullptr};
            for (size_t i = 0; i < host.registrations.size(); i++) {
                const HostRegistration& r = host.registrations[(i + which) % host.registrations.size()];
                if (r.is_channel) continue;
                r.on_event(event, which & 1 ? nullptr : &config, r.context);
                break;
            }
            break;
        }
        case 8: { // an I/O fault from here on, or the machine working again
            uint8_t f = in.byte();
            if (f & 0x80) {
                test_platform_clear_fault();
            } else {
                test_platform_arm_fault(1 + f % 8, f & 8 ? FAULT_PERSISTENT : 1 + (f >> 4) % 3,
                                        f & 0x40 ? ENOSPC : EIO, nullptr);
            }
            break;
        }
        default: g_test_platform.tick += (uint64_t)in.u32() << 16; break; // a long stall
        }
        check_documents();
    }
    g_host_model = nullptr;
    return 0;
}
