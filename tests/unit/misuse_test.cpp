// A host that does what it should not: null records, numbers it never registered, calls
// out of order, attributes of every name with every type, texts of thousands of bytes. The
// plug-in must not crash (the sanitizers watch every call) and every document stays valid.
#include "output/pacing.h"
#include "state/handlers.h"
#include "support/document.h"
#include "tests/unit/fixture.h"

namespace {

class MisuseTest : public PluginTest {
protected:
    // The document on disk, when there is one, and the one the record would give now.
    void expect_valid(const std::string& what)
    {
        if (file_exists(doc_path)) {
            EXPECT_EQ(document_problem(document()), "") << what;
        }
        EXPECT_EQ(document_problem(current_document(1)), "") << what;
    }
    void publish(const std::string& what)
    {
        host.event(HOST_EVENT_PAUSED, nullptr);
        std::string doc = document();
        EXPECT_EQ(doc, current_document(document_written(doc))) << what;
        expect_valid(what);
    }
};

// Every byte from 1 to 255, over and over: control bytes, quotes, backslashes and every
// kind of broken UTF-8.
std::string every_byte(size_t n)
{
    std::string s(n, ' ');
    for (size_t i = 0; i < n; i++) s[i] = (char)(1 + i % 255);
    return s;
}

HostValue value_of_type(uint32_t type, const char* string)
{
    HostValue v;
    std::memset(&v, 0xA5, sizeof v); // what a value of some other type leaves in the payload
    v.type = type;
    switch (type) {
    case HOST_TYPE_U32: v.value.u32 = 7; break;
    case HOST_TYPE_U64: v.value.u64 = 6000000000ull; break;
    case HOST_TYPE_FLOAT: v.value.f32 = 2.5f; break;
    case HOST_TYPE_STRING: v.value.string = string; break;
    default: break;
    }
    return v;
}

const uint32_t TYPE_TAGS[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 25, 0xFFFFFFFFu};

} // namespace

TEST_F(MisuseTest, NullRecordsAndMistypedValuesChangeNothing)
{
    init();
    host.channel("game.time", host_u32(11));
    host.channel("truck.world.placement", host_placement(1, 2, 3));
    host.channel("truck.speed", host_float(4));
    publish("before");
    const std::string before = current_document(1);

    for (const HostRegistration& r : host.registrations) {
        if (r.is_channel) {
            r.on_channel(r.channel.c_str(), r.index, nullptr, r.context);
            r.on_channel(nullptr, 0, nullptr, nullptr);
            for (uint32_t type : TYPE_TAGS) {
                if (type == r.type) continue;
                HostValue v = value_of_type(type, "x");
                r.on_channel(r.channel.c_str(), r.index, &v, r.context);
            }
        } else if (r.event == HOST_EVENT_CONFIGURATION || r.event == HOST_EVENT_GAMEPLAY) {
            r.on_event(r.event, nullptr, r.context);
            HostConfiguration no_id = {nullptr, nullptr}; // also a gameplay event without id
            r.on_event(r.event, &no_id, r.context);
        }
    }
    EXPECT_EQ(current_document(1), before) << "nothing reached the record";
    publish("after");
}

TEST_F(MisuseTest, UnknownEventNumbersReachRegisteredCallbacks)
{
    init();
    HostNamedValue attrs[] = {host_attribute("cargo", host_string("Pipes")), host_attributes_end()};
    HostConfiguration job = {"job", attrs};
    HostGameplayEvent fined = {"player.fined", nullptr};
    for (const HostRegistration& r : host.registrations) {
        if (r.is_channel) continue;
        for (uint32_t event : {0u, 1u, 7u, 99u, 0xFFFFFFFFu}) {
            const void* info = r.event == HOST_EVENT_CONFIGURATION ? (const void*)&job
                               : r.event == HOST_EVENT_GAMEPLAY   ? (const void*)&fined
                                                                  : nullptr;
            g_test_platform.tick += 300;
            r.on_event(event, info, r.context);
            expect_valid("event " + std::to_string(event) + " to the callback of " +
                         std::to_string(r.event));
        }
    }
    // The configuration and gameplay handlers trust the registration, not the number.
    EXPECT_EQ(g_state.eventSeq, 5u);
    EXPECT_STREQ(g_state.cargo, "Pipes");
    publish("after");
}

TEST_F(MisuseTest, LifecycleCallsOutOfOrder)
{
    // Shutdown of a library that was never initialized: no paths yet, so nothing is written.
    scs_telemetry_shutdown();
    scs_telemetry_shutdown();
    EXPECT_FALSE(file_exists(dir + "/QAV"));

    // Callbacks after a failed initialization: a fresh load refused for its version or for
    // a missing data folder has no paths either, and a host calling in anyway gets nothing
    // written and nothing broken.
    for (bool appdata_fails : {false, true}) {
        g_test_platform.appdata_fails = appdata_fails;
        EXPECT_NE(host.start(scs_telemetry_init,
                             appdata_fails ? (uint32_t)HOST_VERSION_1_01 : 0x00020000u),
                  HOST_RESULT_OK);
        HostGameplayEvent e = {"job.started", nullptr};
        on_gameplay_event(HOST_EVENT_GAMEPLAY, &e, nullptr);
        HostValue speed = host_float(3);
        on_truck_speed("truck.speed", HOST_NO_INDEX, &speed, nullptr);
        on_frame_end(HOST_EVENT_FRAME_END, nullptr, nullptr);
        on_pause_change(HOST_EVENT_STARTED, nullptr, nullptr);
        EXPECT_FALSE(file_exists(doc_path));
        expect_valid("after a failed initialization");
    }
    g_test_platform.appdata_fails = false;

    // A core event refused: the frame end was registered before the refusal, and the host
    // keeps calling it. What it writes is a valid document.
    HostModel refusing;
    refusing.refuse_event = HOST_EVENT_STARTED;
    EXPECT_EQ(refusing.start(scs_telemetry_init, HOST_VERSION_1_01), HOST_RESULT_GENERIC_ERROR);
    g_test_platform.tick += 1000;
    refusing.event(HOST_EVENT_FRAME_END, nullptr);
    refusing.event(HOST_EVENT_PAUSED, nullptr);
    expect_valid("callbacks after a refused core event");

    // Initialization twice, shutdown twice.
    init();
    init(HOST_VERSION_1_00, "second");
    EXPECT_NE(document().find("\"game\":\"second\""), std::string::npos);
    scs_telemetry_shutdown();
    scs_telemetry_shutdown();
    EXPECT_NE(document().find("\"lastEvent\":\"game.closed\""), std::string::npos);
    expect_valid("shutdown twice");
    host.event(HOST_EVENT_STARTED, nullptr); // callbacks after shutdown
    expect_valid("a callback after shutdown");
}

TEST_F(MisuseTest, EveryAttributeNameWithEveryValueType)
{
    init();
    std::vector<std::string> names = {"", "unknown", "CARGO", "cargo ", "income.", "cargo.mas"};
    for (const VocabularyRow& row : JOB_ATTRIBUTES) names.push_back(row.host_name);
    std::vector<std::string> strings;
    strings.reserve(names.size());
    for (const std::string& n : names) strings.push_back("s-" + n);

    for (bool null_strings : {false, true}) {
        std::vector<HostNamedValue> attrs;
        for (size_t i = 0; i < names.size(); i++) {
            for (uint32_t type : TYPE_TAGS) {
                const char* s = null_strings ? nullptr : strings[i].c_str();
                attrs.push_back(host_attribute(names[i].c_str(), value_of_type(type, s)));
            }
        }
        attrs.push_back(host_attributes_end());
        host.configuration("job", attrs.data());

        // Only the entries whose name and type both match were taken.
        for (const VocabularyRow& row : JOB_ATTRIBUTES) {
            if (row.type != HOST_TYPE_STRING) continue;
            std::string expected = null_strings ? "" : std::string("s-") + row.host_name;
            EXPECT_EQ((const char*)&g_state + row.offset, expected) << row.host_name;
        }
        EXPECT_EQ(g_state.income, 6000000000ull);
        EXPECT_EQ(g_state.cargoMass, 2.5f);
        EXPECT_EQ(g_state.deliveryTime, 7u);
        EXPECT_EQ(g_state.plannedKm, 7u);
        publish(null_strings ? "null strings" : "strings");
    }
}

TEST_F(MisuseTest, NamesAndStringsOfThousandsOfBytes)
{
    const std::string huge = every_byte(5000);
    ASSERT_EQ(host.start(scs_telemetry_init, HOST_VERSION_1_01, huge.c_str(), 0xFFFFFFFFu),
              HOST_RESULT_OK);
    expect_valid("a game identifier of 5000 bytes");

    std::vector<std::string> long_names;
    std::vector<HostNamedValue> attrs;
    for (const VocabularyRow& row : JOB_ATTRIBUTES) {
        if (row.type != HOST_TYPE_STRING) continue;
        long_names.push_back(row.host_name + huge);
        attrs.push_back(host_attribute(row.host_name, host_string(huge.c_str())));
    }
    for (const std::string& n : long_names) {
        attrs.push_back(host_attribute(n.c_str(), host_string("not taken")));
    }
    attrs.push_back(host_attributes_end());
    host.configuration("job", attrs.data());
    host.configuration(huge.c_str(), attrs.data());
    host.gameplay(huge.c_str());

    for (const VocabularyRow& row : JOB_ATTRIBUTES) {
        if (row.type != HOST_TYPE_STRING) continue;
        const char* field = (const char*)&g_state + row.offset;
        EXPECT_LT(std::strlen(field), row.size) << row.host_name;
        EXPECT_EQ(huge.compare(0, std::strlen(field), field), 0) << row.host_name;
    }
    EXPECT_EQ(g_state.eventSeq, 1u);
    publish("texts of 5000 bytes");
    scs_telemetry_shutdown();
    expect_valid("shutdown");
}
