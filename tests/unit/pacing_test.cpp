// When documents are written while frames run, on the scripted clock.
#include "output/pacing.h"
#include "tests/unit/fixture.h"

#include <errno.h>

class PacingTest : public PluginTest {
protected:
    void SetUp() override
    {
        PluginTest::SetUp();
        init();
        opens_at_load = g_test_platform.opens;
    }
    int writes() const { return g_test_platform.opens - opens_at_load; }
    void frame_at(uint64_t tick)
    {
        g_test_platform.tick = tick;
        host.event(HOST_EVENT_FRAME_END, nullptr);
    }
    int opens_at_load = 0;
};

TEST_F(PacingTest, FrameEndsWriteAtTheSlowOrFastInterval)
{
    const uint64_t t0 = g_test_platform.tick;
    frame_at(t0); // first frame end after load: lastWriteTick is 0, so it writes at once
    EXPECT_EQ(writes(), 1);
    EXPECT_EQ(g_state.lastWriteTick, t0);
    EXPECT_EQ(g_state.steady, 1);

    const struct {
        const char* name;
        bool change_before; // a gameplay event just before the frame ends
        uint64_t no_write_at, write_at;
    } cases[] = {
        {"steady: 999 ms is too soon, 1000 ms writes", false, 999, 1000},
        {"after a change: 249 ms is too soon, 250 ms writes", true, 249, 250},
    };
    uint64_t last = t0;
    for (const auto& c : cases) {
        if (c.change_before) host.gameplay("player.fined");
        int before = writes();
        frame_at(last + c.no_write_at);
        EXPECT_EQ(writes(), before) << c.name;
        frame_at(last + c.write_at);
        EXPECT_EQ(writes(), before + 1) << c.name;
        EXPECT_EQ(g_state.steady, 1) << c.name;
        last += c.write_at;
    }
}

TEST_F(PacingTest, PauseAndStartWriteAtOnceAndRestartTheInterval)
{
    frame_at(g_test_platform.tick); // steady now
    const struct {
        uint32_t event;
        const char* paused;
        bool steady_before;
    } cases[] = {
        {HOST_EVENT_STARTED, "\"paused\":false", true},
        {HOST_EVENT_PAUSED, "\"paused\":true", true},
        {HOST_EVENT_STARTED, "\"paused\":false", false},
    };
    for (const auto& c : cases) {
        g_state.steady = c.steady_before;
        uint64_t at = g_test_platform.tick + 10;
        g_test_platform.tick = at;
        int before = writes();
        host.event(c.event, nullptr);
        EXPECT_EQ(writes(), before + 1);
        EXPECT_NE(document().find(c.paused), std::string::npos);
        EXPECT_EQ(g_state.steady, c.steady_before) << "a pause change leaves steady alone";
        EXPECT_EQ(g_state.lastWriteTick, at);
        // 500 ms later a frame end writes only when a change is still owed.
        frame_at(at + 500);
        EXPECT_EQ(writes(), before + (c.steady_before ? 1 : 2));
    }
}

TEST_F(PacingTest, PauseBeforeTheFirstFrameMakesItWait)
{
    const uint64_t t0 = g_test_platform.tick;
    host.event(HOST_EVENT_STARTED, nullptr);
    frame_at(t0 + 249);
    EXPECT_EQ(writes(), 1);
    frame_at(t0 + 250);
    EXPECT_EQ(writes(), 2);
}

TEST_F(PacingTest, FailedWritesAreRetriedAtTheNormalPaceNotEveryFrame)
{
    const uint64_t t0 = g_test_platform.tick;
    test_platform_arm_fault(1, FAULT_PERSISTENT, EACCES, nullptr); // the folder is read-only
    std::string before = document();
    for (uint64_t t = t0; t < t0 + 2000; t += 16) frame_at(t);
    EXPECT_EQ(writes(), 2) << "one attempt at load+0, one a second later";
    EXPECT_EQ(document(), before);
    test_platform_clear_fault();
    g_state.gameTime = 77;
    frame_at(t0 + 1008 + 1000);
    EXPECT_NE(document().find("\"gameTime\":77,"), std::string::npos);
}

TEST_F(PacingTest, ChannelsStoreOnlyWellTypedValues)
{
    host.event(HOST_EVENT_STARTED, nullptr);
    host.channel("game.time", host_u32(100));
    host.channel("truck.world.placement", host_placement(1, 2, 3));
    host.channel("truck.world.placement", host_placement(-1.005, 2.5, 1e6)); // only the latest counts
    host.channel("truck.speed", host_float(22.25f));
    // Ignored: no value, or a value of another type than the channel's.
    host.channel("game.time", host_u64(5));
    host.channel("truck.speed", host_u32(7));
    host.channel("truck.speed", host_placement(9, 9, 9));
    host.channel("truck.world.placement", host_float(3));
    for (const char* ch : {"game.time", "truck.world.placement", "truck.speed"}) host.channel_null(ch);
    EXPECT_EQ(g_state.steady, 0) << "channels never touch the pacing";
    EXPECT_EQ(writes(), 1) << "channels never write";
    host.event(HOST_EVENT_PAUSED, nullptr);
    EXPECT_NE(document().find("\"paused\":true,\"gameTime\":100,"
                              "\"position\":{\"x\":-1.00,\"y\":2.50,\"z\":1000000.00},"
                              "\"speed\":22.25,"),
              std::string::npos)
        << document();
}
