// Initialization and shutdown through the exports, as the host calls them.
#include "plugin/version.h"
#include "tests/unit/fixture.h"

#include <sys/stat.h>

static const char LOAD_LOG[] = "0:" QAV_LOAD_MESSAGE;
static const char REFUSED_LOG[] = "0:[QAV] could not register core events";

using LifecycleTest = PluginTest;

TEST_F(LifecycleTest, RefusesWhatItCannotServe)
{
    const struct {
        const char* name;
        uint32_t version;
        bool null_params;
        bool appdata_fails;
        host_result_t result;
    } cases[] = {
        {"version 1.02", 0x00010002, false, false, HOST_RESULT_UNSUPPORTED},
        {"version 0.ffff", 0x0000FFFF, false, false, HOST_RESULT_UNSUPPORTED},
        {"version 2.00", 0x00020000, false, false, HOST_RESULT_UNSUPPORTED},
        {"null parameters", HOST_VERSION_1_00, true, false, HOST_RESULT_GENERIC_ERROR},
        {"no data folder", HOST_VERSION_1_01, false, true, HOST_RESULT_GENERIC_ERROR},
    };
    for (const auto& c : cases) {
        HostModel h;
        HostInitParams p = h.params("haulsim", 1);
        g_test_platform.appdata_fails = c.appdata_fails;
        EXPECT_EQ(h.init(scs_telemetry_init, c.version, c.null_params ? nullptr : &p), c.result)
            << c.name;
        EXPECT_TRUE(h.registrations.empty()) << c.name;
        EXPECT_TRUE(h.logs.empty()) << c.name;
        EXPECT_FALSE(file_exists(doc_path)) << c.name;
    }
}

TEST_F(LifecycleTest, TooLongDataFolderIsRefusedNotTruncated)
{
    // The folder plus "\QAV\telemetry.json.tmp" (23 units) must fit 259 units.
    for (size_t len : {236u, 237u}) {
        HostModel h;
        std::string longdir = dir + "/" + std::string(len - dir.size() - 1, 'd');
        ASSERT_EQ(mkdir(longdir.c_str(), 0777), 0);
        std::snprintf(g_test_platform.appdata, sizeof g_test_platform.appdata, "%s", longdir.c_str());
        bool fits = len == 236;
        EXPECT_EQ(h.start(scs_telemetry_init, HOST_VERSION_1_00, "haulsim", 1),
                  fits ? HOST_RESULT_OK : HOST_RESULT_GENERIC_ERROR) << len;
        EXPECT_EQ(h.registrations.empty(), !fits) << len;
        EXPECT_EQ(file_exists(longdir + "/QAV/telemetry.json"), fits) << len;
    }
}

TEST_F(LifecycleTest, InitWritesThePausedDocumentAndShutdownTheClosingOne)
{
    g_test_platform.tick = 5000;
    ASSERT_EQ(host.start(scs_telemetry_init, HOST_VERSION_1_00, "a-very-long-game-identifier"),
              HOST_RESULT_OK);
    EXPECT_EQ(host.logs, std::vector<std::string>{LOAD_LOG});
    EXPECT_STREQ(g_state.game, "a-very-long-gam");
    EXPECT_EQ(document(),
              "{\"plugin\":\"QAV\",\"version\":\"" QAV_VERSION "\",\"pid\":4242,\"written\":5000,"
              "\"game\":\"a-very-long-gam\",\"gameVersion\":\"1.18\",\"paused\":true,\"gameTime\":0,"
              "\"position\":{\"x\":0.00,\"y\":0.00,\"z\":0.00},\"speed\":0.00,\"job\":null,"
              "\"lastEvent\":\"\",\"eventSeq\":0}\n");
    EXPECT_FALSE(file_exists(temp_path));
    EXPECT_EQ(g_state.lastWriteTick, 0u) << "the load write is not paced";
    EXPECT_EQ(g_state.steady, 0);

    g_state.paused = 0;
    g_state.hasJob = 1;
    g_state.eventSeq = 3;
    g_test_platform.tick = 9000;
    scs_telemetry_shutdown();
    std::string doc = document();
    EXPECT_NE(doc.find("\"written\":9000,"), std::string::npos);
    EXPECT_NE(doc.find("\"paused\":true,"), std::string::npos);
    EXPECT_NE(doc.find("\"job\":null,\"lastEvent\":\"game.closed\",\"eventSeq\":3}\n"),
              std::string::npos);
    EXPECT_EQ(g_state.log, nullptr);
    EXPECT_EQ(g_state.lastWriteTick, 0u) << "the closing write is not paced";
}

TEST_F(LifecycleTest, ReinitResetsTheRecordButNotThePacing)
{
    init();
    g_state.eventSeq = 9;
    g_state.hasJob = 1;
    g_state.lastWriteTick = 777;
    g_state.steady = 1;
    host.with_log = false;
    ASSERT_EQ(host.start(scs_telemetry_init, HOST_VERSION_1_01, nullptr, 0), HOST_RESULT_OK);
    EXPECT_EQ(g_state.eventSeq, 0u);
    EXPECT_EQ(g_state.hasJob, 0u);
    EXPECT_STREQ(g_state.game, "");
    EXPECT_EQ(g_state.lastWriteTick, 777u);
    EXPECT_EQ(g_state.steady, 1);
    EXPECT_EQ(g_state.log, nullptr) << "a host without a log still gets a working plug-in";
}

static std::vector<uint32_t> registered_events(const HostModel& h)
{
    std::vector<uint32_t> events;
    for (const HostRegistration& r : h.registrations) {
        if (!r.is_channel) events.push_back(r.event);
    }
    return events;
}

TEST_F(LifecycleTest, RegistersEveryRowInOrder)
{
    for (uint32_t version : {HOST_VERSION_1_00, HOST_VERSION_1_01}) {
        HostModel h;
        ASSERT_EQ(h.start(scs_telemetry_init, version), HOST_RESULT_OK);
        std::vector<uint32_t> expected = {2, 3, 4, 5};
        if (version == HOST_VERSION_1_01) expected.push_back(6);
        EXPECT_EQ(registered_events(h), expected);
        const char* channels[] = {"game.time", "truck.world.placement", "truck.speed"};
        const uint32_t types[] = {HOST_TYPE_U32, HOST_TYPE_PLACEMENT, HOST_TYPE_FLOAT};
        ASSERT_EQ(h.registrations.size(), expected.size() + 3);
        for (size_t i = 0; i < 3; i++) {
            const HostRegistration& r = h.registrations[expected.size() + i];
            EXPECT_TRUE(r.is_channel);
            EXPECT_EQ(r.channel, channels[i]);
            EXPECT_EQ(r.type, types[i]);
            EXPECT_EQ(r.index, HOST_NO_INDEX);
            EXPECT_EQ(r.flags, 0u);
        }
        for (const HostRegistration& r : h.registrations) EXPECT_EQ(r.context, nullptr);
        EXPECT_EQ(h.refusals, std::vector<std::string>{}) << "only what a real host offers";
    }
}

TEST_F(LifecycleTest, RefusedRowsFollowTheCoreRule)
{
    const struct {
        const char* name;
        uint32_t refuse_event;
        const char* refuse_channel;
        bool no_event_function, no_channel_function;
        host_result_t result;
        std::vector<uint32_t> events;
        size_t channels;
    } cases[] = {
        {"frame end refused", 2, "", false, false, HOST_RESULT_GENERIC_ERROR, {}, 0},
        {"pause refused", 3, "", false, false, HOST_RESULT_GENERIC_ERROR, {2}, 0},
        {"start refused", 4, "", false, false, HOST_RESULT_GENERIC_ERROR, {2, 3}, 0},
        {"configuration refused", 5, "", false, false, HOST_RESULT_OK, {2, 3, 4, 6}, 3},
        {"gameplay refused", 6, "", false, false, HOST_RESULT_OK, {2, 3, 4, 5}, 3},
        {"speed refused", 0, "truck.speed", false, false, HOST_RESULT_OK, {2, 3, 4, 5, 6}, 2},
        // A host that offers no way to register for events or for channels.
        {"no event function", 0, "", true, false, HOST_RESULT_GENERIC_ERROR, {}, 0},
        {"no channel function", 0, "", false, true, HOST_RESULT_OK, {2, 3, 4, 5, 6}, 0},
    };
    for (const auto& c : cases) {
        HostModel h;
        h.refuse_event = c.refuse_event;
        h.refuse_channel = c.refuse_channel;
        HostInitParams p = h.params("haulsim", 1);
        if (c.no_event_function) p.register_for_event = nullptr;
        if (c.no_channel_function) p.register_for_channel = nullptr;
        std::remove(doc_path.c_str());
        EXPECT_EQ(h.init(scs_telemetry_init, HOST_VERSION_1_01, &p), c.result) << c.name;
        EXPECT_EQ(registered_events(h), c.events) << c.name;
        EXPECT_EQ(h.registrations.size() - c.events.size(), c.channels) << c.name;
        bool ok = c.result == HOST_RESULT_OK;
        EXPECT_EQ(h.logs, std::vector<std::string>{ok ? LOAD_LOG : REFUSED_LOG}) << c.name;
        EXPECT_EQ(file_exists(doc_path), ok) << c.name;
    }
}
