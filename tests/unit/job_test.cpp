// The delivery job and gameplay events, delivered through the host's callbacks.
#include "tests/unit/fixture.h"

class JobTest : public PluginTest {
protected:
    void SetUp() override
    {
        PluginTest::SetUp();
        init();
        g_state.steady = 1;
    }
    void configure(const char* id, const std::vector<HostNamedValue>& attrs)
    {
        std::vector<HostNamedValue> list = attrs;
        list.push_back(host_attributes_end());
        host.configuration(id, list.data());
    }
    std::string published()
    {
        host.event(HOST_EVENT_PAUSED, nullptr);
        return document();
    }
};

static std::vector<HostNamedValue> full_job()
{
    return {
        host_attribute("cargo", host_string("Pipes \"XL\" \\ \x01\x1f")),
        host_attribute("cargo.id", host_string("pipes")),
        host_attribute("source.city", host_string("D\xC3\xBCsseldorf")),
        host_attribute("source.city.id", host_string("dusseldorf")),
        host_attribute("source.company", host_string("Tr\xC3\xA9vise")),
        host_attribute("source.company.id", host_string("trevise")),
        host_attribute("destination.city", host_string("\xC5\x81\xC3\xB3\x64\xC5\xBA")),
        host_attribute("destination.city.id", host_string("lodz")),
        host_attribute("destination.company", host_string("Acme")),
        host_attribute("destination.company.id", host_string("acme")),
        host_attribute("income", host_u64(4294967296ull + 17)),
        host_attribute("cargo.mass", host_float(18250.75f)),
        host_attribute("delivery.time", host_u32(3600)),
        host_attribute("planned_distance.km", host_u32(912)),
    };
}

static const char FULL_JOB_JSON[] =
    "\"job\":{\"cargo\":\"Pipes \\\"XL\\\" \\\\ \\u0001\\u001f\",\"cargoId\":\"pipes\","
    "\"sourceCity\":\"D\xC3\xBCsseldorf\",\"sourceCityId\":\"dusseldorf\","
    "\"sourceCompany\":\"Tr\xC3\xA9vise\",\"sourceCompanyId\":\"trevise\","
    "\"destinationCity\":\"\xC5\x81\xC3\xB3\x64\xC5\xBA\",\"destinationCityId\":\"lodz\","
    "\"destinationCompany\":\"Acme\",\"destinationCompanyId\":\"acme\","
    "\"income\":4294967313,\"cargoMass\":18250.8,\"deliveryTime\":3600,\"plannedKm\":912},";

TEST_F(JobTest, FullJobIsPublishedByteForByte)
{
    configure("job", full_job());
    EXPECT_EQ(g_state.hasJob, 1u);
    EXPECT_EQ(g_state.steady, 0);
    EXPECT_NE(published().find(FULL_JOB_JSON), std::string::npos) << document();
}

TEST_F(JobTest, OnlyMatchingNameAndTypeAreTaken)
{
    configure("job", full_job());
    configure("truck", {host_attribute("cargo", host_string("ignored"))});
    configure(nullptr, {host_attribute("cargo", host_string("ignored"))});
    host.event(HOST_EVENT_CONFIGURATION, nullptr);
    g_state.steady = 1;
    configure("Job", {});
    EXPECT_EQ(g_state.steady, 1) << "other configurations change nothing";

    configure("job", {
                         host_attribute("cargo", host_string("Gravel")),
                         host_attribute("income", host_u32(5)),           // wrong type: skipped
                         host_attribute("cargo.mass", host_u32(5)),       // wrong type
                         host_attribute("Cargo.id", host_string("x")),    // case differs
                         host_attribute("", host_string("x")),            // empty name
                         host_attribute("delivery.time", host_u64(1)),    // wrong type
                         host_attribute("income", host_u64(1000)),
                         host_attribute("income", host_u64(2000)),        // later wins
                         host_attribute("cargo.id", host_string(nullptr)), // null empties
                     });
    EXPECT_EQ(g_state.steady, 0);
    std::string expected = FULL_JOB_JSON;
    auto swap = [&](const std::string& from, const std::string& to) {
        expected.replace(expected.find(from), from.size(), to);
    };
    swap("\"cargo\":\"Pipes \\\"XL\\\" \\\\ \\u0001\\u001f\"", "\"cargo\":\"Gravel\"");
    swap("\"cargoId\":\"pipes\"", "\"cargoId\":\"\"");
    swap("\"income\":4294967313", "\"income\":2000");
    EXPECT_NE(published().find(expected), std::string::npos) << document();
}

TEST_F(JobTest, EmptyJobClearsTheHeadlineFieldsOnly)
{
    configure("job", full_job());
    for (bool null_array : {false, true}) {
        g_state.steady = 1;
        if (null_array) {
            host.configuration("job", nullptr);
        } else {
            configure("job", {});
        }
        EXPECT_EQ(g_state.steady, 0);
        EXPECT_NE(published().find("\"job\":null,\"lastEvent\""), std::string::npos);
    }
    // A later job that leaves attributes out shows what the earlier one had for them.
    configure("job", {host_attribute("cargo", host_string("Milk"))});
    std::string doc = published();
    EXPECT_NE(doc.find("\"cargo\":\"Milk\",\"cargoId\":\"\",\"sourceCity\":\"\","
                       "\"sourceCityId\":\"dusseldorf\",\"sourceCompany\":\"Tr\xC3\xA9vise\""),
              std::string::npos)
        << doc;
    EXPECT_NE(doc.find("\"income\":0,\"cargoMass\":18250.8,\"deliveryTime\":3600,\"plannedKm\":912}"),
              std::string::npos)
        << doc;
}

TEST_F(JobTest, GameplayEventsCountAndKeepTheLatest)
{
    host.gameplay("job.delivered");
    EXPECT_EQ(g_state.steady, 0);
    g_state.steady = 1;
    host.gameplay(nullptr);
    host.event(HOST_EVENT_GAMEPLAY, nullptr);
    EXPECT_EQ(g_state.steady, 1) << "an event without identifier changes nothing";
    host.gameplay("job.delivered");
    EXPECT_NE(published().find("\"lastEvent\":\"job.delivered\",\"eventSeq\":2}\n"), std::string::npos);

    std::string sixty(60, 'e');
    host.gameplay(sixty.c_str());
    EXPECT_EQ(std::string(g_state.lastEvent), std::string(47, 'e'));
    EXPECT_EQ(g_state.eventSeq, 3u);
    g_state.eventSeq = 4294967295u;
    host.gameplay("x");
    EXPECT_EQ(g_state.eventSeq, 0u);
}

TEST_F(JobTest, AChangeIsPublishedAtTheFastInterval)
{
    const uint64_t t0 = g_test_platform.tick;
    g_test_platform.tick = t0;
    host.event(HOST_EVENT_FRAME_END, nullptr); // steady, last paced write at t0
    g_test_platform.tick = t0 + 100;
    configure("job", full_job());
    for (uint64_t t : {200, 249}) {
        g_test_platform.tick = t0 + t;
        host.event(HOST_EVENT_FRAME_END, nullptr);
        EXPECT_EQ(document().find("\"job\":{"), std::string::npos) << t;
    }
    g_test_platform.tick = t0 + 266;
    host.event(HOST_EVENT_FRAME_END, nullptr);
    EXPECT_NE(document().find(FULL_JOB_JSON), std::string::npos);
}
