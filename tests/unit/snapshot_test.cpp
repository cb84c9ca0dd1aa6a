// The document as a whole, and what publishing it does to the files when the machine
// gets in the way.
#include "output/snapshot.h"
#include "plugin/version.h"
#include "tests/unit/fixture.h"

#include <errno.h>

static void fill_job(TelemetryState* s)
{
    s->hasJob = 1;
    TEXT_STORE(s->cargo, "Steel \"coils\"");
    TEXT_STORE(s->cargoId, "steel_coils");
    TEXT_STORE(s->sourceCity, "K\xC3\xB8" "benhavn");
    TEXT_STORE(s->sourceCityId, "kobenhavn");
    TEXT_STORE(s->sourceCompany, "Back\\slash\tLtd");
    TEXT_STORE(s->sourceCompanyId, "bs");
    TEXT_STORE(s->destinationCity, "\xC5\x81\xC3\xB3\x64\xC5\xBA");
    TEXT_STORE(s->destinationCityId, "lodz");
    TEXT_STORE(s->destinationCompany, "a/b");
    TEXT_STORE(s->destinationCompanyId, "ab");
    s->income = 5000000000ull;
    s->cargoMass = 19300.5f;
    s->deliveryTime = 4242;
    s->plannedKm = 812;
}

TEST(Snapshot, FullRecordRendersByteForByte)
{
    TelemetryState s;
    std::memset(&s, 0, sizeof s);
    TEXT_STORE(s.game, "haulsim");
    s.gameVersion = (1u << 16) | 18u;
    s.paused = 0;
    s.gameTime = 12345;
    s.position = {-1234.125, 56.375, 0.005};
    s.speed = -3.5f;
    fill_job(&s);
    TEXT_STORE(s.lastEvent, "job.delivered\x01");
    s.eventSeq = 7;
    std::string doc = snapshot_text(s, 4242, 99);
    EXPECT_EQ(doc,
              "{\"plugin\":\"QAV\",\"version\":\"" QAV_VERSION "\",\"pid\":4242,\"written\":99,"
              "\"game\":\"haulsim\",\"gameVersion\":\"1.18\",\"paused\":false,\"gameTime\":12345,"
              "\"position\":{\"x\":-1234.12,\"y\":56.38,\"z\":0.01},\"speed\":-3.50,"
              "\"job\":{\"cargo\":\"Steel \\\"coils\\\"\",\"cargoId\":\"steel_coils\","
              "\"sourceCity\":\"K\xC3\xB8" "benhavn\",\"sourceCityId\":\"kobenhavn\","
              "\"sourceCompany\":\"Back\\\\slash\\u0009Ltd\",\"sourceCompanyId\":\"bs\","
              "\"destinationCity\":\"\xC5\x81\xC3\xB3\x64\xC5\xBA\",\"destinationCityId\":\"lodz\","
              "\"destinationCompany\":\"a/b\",\"destinationCompanyId\":\"ab\","
              "\"income\":5000000000,\"cargoMass\":19300.5,\"deliveryTime\":4242,\"plannedKm\":812},"
              "\"lastEvent\":\"job.delivered\\u0001\",\"eventSeq\":7}\n");
}

TEST(Snapshot, NoJobAndNonFiniteNumbers)
{
    TelemetryState s;
    std::memset(&s, 0, sizeof s);
    fill_job(&s);
    s.hasJob = 0; // job fields present in the record are not published without a job
    s.paused = 1;
    s.gameVersion = 0x00020000;
    s.position = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                  -std::numeric_limits<double>::infinity()};
    s.speed = std::numeric_limits<float>::quiet_NaN();
    std::string doc = snapshot_text(s, 1, 2);
    EXPECT_EQ(doc,
              "{\"plugin\":\"QAV\",\"version\":\"" QAV_VERSION "\",\"pid\":1,\"written\":2,"
              "\"game\":\"\",\"gameVersion\":\"2.0\",\"paused\":true,\"gameTime\":0,"
              "\"position\":{\"x\":null,\"y\":null,\"z\":null},\"speed\":null,"
              "\"job\":null,\"lastEvent\":\"\",\"eventSeq\":0}\n");
}

// The I/O calls of a write: the open, the write of the buffered document, the close, then the
// replace.
const int REPLACE_CALL = 4;

class WriteTest : public PluginTest {
protected:
    void SetUp() override
    {
        PluginTest::SetUp();
        init();
        good = document();
        ASSERT_NE(good.find("\"paused\":true"), std::string::npos);
        g_state.paused = 0; // the next document differs from the one on disk
    }
    std::string good;
};

TEST_F(WriteTest, StateChangesRetryTheRenameWithinTheBound)
{
    const struct {
        const char* name;
        int replace_failures;
        bool published;
        int replaces;
        uint32_t sleep_quantum; // a coarse system timer lengthens every sleep
    } cases[] = {
        {"reader gone at once", 0, true, 1, 0},
        {"reader gone after two tries", 2, true, 3, 0},
        {"reader gone just in time", REPLACE_TRIES - 1, true, REPLACE_TRIES, 0},
        {"reader never lets go", FAULT_PERSISTENT, false, REPLACE_TRIES, 0},
        {"never lets go, 16 ms timer", FAULT_PERSISTENT, false, 3, 16},
    };
    for (const auto& c : cases) {
        std::string before = document();
        g_state.gameTime++; // each case publishes a document of its own
        test_platform_clear_fault();
        if (c.replace_failures != 0) {
            test_platform_arm_fault(REPLACE_CALL, c.replace_failures, EACCES, nullptr);
        }
        g_test_platform.replaces = 0;
        g_test_platform.sleep_quantum_ms = c.sleep_quantum;
        uint64_t start = g_test_platform.tick;
        EXPECT_EQ(write_snapshot_retrying(), c.published) << c.name;
        EXPECT_EQ(g_test_platform.replaces, c.replaces) << c.name;
        // The host's thread is held at most the budget plus one sleep.
        EXPECT_LE(g_test_platform.tick - start, REPLACE_BUDGET_MS + c.sleep_quantum) << c.name;
        EXPECT_EQ(document() != before, c.published) << c.name;
    }
}

TEST_F(WriteTest, OnlyTheWritesAReaderMustNotMissRetry)
{
    const struct {
        const char* name;
        void (*call)(HostModel*);
        int replaces;
    } cases[] = {
        {"frame end", [](HostModel* h) { h->event(HOST_EVENT_FRAME_END, nullptr); }, 1},
        {"pause", [](HostModel* h) { h->event(HOST_EVENT_PAUSED, nullptr); }, REPLACE_TRIES},
        {"start", [](HostModel* h) { h->event(HOST_EVENT_STARTED, nullptr); }, REPLACE_TRIES},
        {"shutdown", [](HostModel*) { scs_telemetry_shutdown(); }, REPLACE_TRIES},
    };
    for (const auto& c : cases) {
        test_platform_arm_fault(REPLACE_CALL, FAULT_PERSISTENT, EACCES, nullptr);
        g_test_platform.replaces = 0;
        g_state.lastWriteTick = 0;
        c.call(&host);
        EXPECT_EQ(g_test_platform.replaces, c.replaces) << c.name;
        EXPECT_EQ(document(), good) << c.name;
    }
}
