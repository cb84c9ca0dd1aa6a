// The real QAV.dll, driven the way the host drives it: loaded by name with LoadLibraryW,
// its exports found with GetProcAddress, records handed over in the host's 64-bit layout,
// and callbacks made through the function pointers it registered. Runs under Wine here.
#include "tests/dll/dll_fixture.h"

static const char LOAD_LOG[] =
    "0:[QAV] Qavelin telemetry plugin 1.0.0 loaded - press CTRL+G for the QAV overlay";

TEST_F(DllTest, RefusesOtherVersionsAndNullParameters)
{
    for (uint32_t version : {0x00010002u, 0x0000FFFFu, 0x00020000u, 0u}) {
        EXPECT_EQ(start(version), HOST_RESULT_UNSUPPORTED) << version;
    }
    EXPECT_EQ(init(HOST_VERSION_1_01, nullptr), HOST_RESULT_GENERIC_ERROR);
    EXPECT_TRUE(host.registrations.empty());
    EXPECT_TRUE(host.logs.empty());
    EXPECT_FALSE(document_exists());
}

TEST_F(DllTest, LoadsRegistersAndWritesTheFirstAndLastDocument)
{
    for (uint32_t version : {HOST_VERSION_1_00, HOST_VERSION_1_01}) {
        SCOPED_TRACE(version);
        host = FakeHost();
        uint64_t before = GetTickCount64();
        ASSERT_EQ(start(version, "a-long-game-identifier"), HOST_RESULT_OK);
        uint64_t after = GetTickCount64();
        EXPECT_EQ(host.logs, std::vector<std::string>{LOAD_LOG});

        std::vector<uint32_t> events;
        std::vector<std::string> channels;
        for (const HostRegistration& r : host.registrations) {
            EXPECT_EQ(r.context, nullptr);
            if (!r.is_channel) {
                events.push_back(r.event);
                continue;
            }
            channels.push_back(r.channel + "/" + std::to_string(r.type));
            EXPECT_EQ(r.index, 0xFFFFFFFFu);
            EXPECT_EQ(r.flags, 0u);
        }
        std::vector<uint32_t> expected_events = {2, 3, 4, 5};
        if (version == HOST_VERSION_1_01) expected_events.push_back(6);
        EXPECT_EQ(events, expected_events);
        EXPECT_EQ(channels, (std::vector<std::string>{"game.time/3", "truck.world.placement/11",
                                                      "truck.speed/5"}));
        EXPECT_EQ(host.registrations.size(), expected_events.size() + 3) << "events first";

        std::string doc = document();
        uint64_t written = number_after(doc, "\"written\":");
        EXPECT_GE(written, before);
        EXPECT_LE(written, after);
        EXPECT_EQ(doc, "{\"plugin\":\"QAV\",\"version\":\"1.0.0\",\"pid\":" +
                           std::to_string(GetCurrentProcessId()) + ",\"written\":" +
                           std::to_string(written) +
                           ",\"game\":\"a-long-game-ide\",\"gameVersion\":\"1.18\",\"paused\":true,"
                           "\"gameTime\":0,\"position\":{\"x\":0.00,\"y\":0.00,\"z\":0.00},"
                           "\"speed\":0.00,\"job\":null,\"lastEvent\":\"\",\"eventSeq\":0}\n");
        EXPECT_EQ(GetFileAttributesW((folder + L"\\telemetry.json.tmp").c_str()),
                  INVALID_FILE_ATTRIBUTES)
            << "the temporary file was moved over the document";

        host.event(HOST_EVENT_STARTED, nullptr);
        EXPECT_NE(document().find("\"paused\":false"), std::string::npos);
        shutdown();
        doc = document();
        EXPECT_NE(doc.find("\"paused\":true,"), std::string::npos);
        EXPECT_NE(doc.find(",\"job\":null,\"lastEvent\":\"game.closed\",\"eventSeq\":0}\n"),
                  std::string::npos);
        EXPECT_EQ(host.logs.size(), 1u) << "shutdown logs nothing";
    }
}

TEST_F(DllTest, RefusedCoreEventFailsInitialization)
{
    host.refuse_event = HOST_EVENT_PAUSED;
    EXPECT_EQ(start(HOST_VERSION_1_01), HOST_RESULT_GENERIC_ERROR);
    EXPECT_EQ(host.logs, std::vector<std::string>{"0:[QAV] could not register core events"});
    ASSERT_EQ(host.registrations.size(), 1u);
    EXPECT_EQ(host.registrations[0].event, (uint32_t)HOST_EVENT_FRAME_END);
    EXPECT_FALSE(document_exists());
}

TEST_F(DllTest, HostWithoutLogStillWorks)
{
    host.with_log = false;
    EXPECT_EQ(start(HOST_VERSION_1_00, nullptr), HOST_RESULT_OK);
    EXPECT_NE(document().find("\"game\":\"\""), std::string::npos);
}

TEST_F(DllTest, ChannelsJobAndGameplayReachTheDocument)
{
    ASSERT_EQ(start(HOST_VERSION_1_01), HOST_RESULT_OK);
    host.event(HOST_EVENT_STARTED, nullptr);
    host.channel("game.time", host_u32(4321));
    host.channel("truck.world.placement", host_placement(-10.125, 0.375, 123456.789));
    host.channel("truck.speed", host_float(-2.5f));
    HostNamedValue attrs[] = {
        host_attribute("cargo", host_string("Wood \"pine\"")),
        host_attribute("destination.city", host_string("Z\xC3\xBCrich")),
        host_attribute("income", host_u64(6000000000ull)),
        host_attribute("cargo.mass", host_float(12.25f)),
        host_attribute("delivery.time", host_u32(90)),
        host_attribute("planned_distance.km", host_u32(300)),
        host_attributes_end(),
    };
    HostConfiguration job = {"job", attrs};
    host.event(HOST_EVENT_CONFIGURATION, &job);
    HostGameplayEvent fined = {"player.fined", nullptr};
    host.event(HOST_EVENT_GAMEPLAY, &fined);
    host.event(HOST_EVENT_PAUSED, nullptr);
    std::string doc = document();
    EXPECT_NE(doc.find("\"paused\":true,\"gameTime\":4321,"
                       "\"position\":{\"x\":-10.12,\"y\":0.38,\"z\":123456.79},\"speed\":-2.50,"
                       "\"job\":{\"cargo\":\"Wood \\\"pine\\\"\",\"cargoId\":\"\",\"sourceCity\":\"\","
                       "\"sourceCityId\":\"\",\"sourceCompany\":\"\",\"sourceCompanyId\":\"\","
                       "\"destinationCity\":\"Z\xC3\xBCrich\",\"destinationCityId\":\"\","
                       "\"destinationCompany\":\"\",\"destinationCompanyId\":\"\","
                       "\"income\":6000000000,\"cargoMass\":12.2,\"deliveryTime\":90,"
                       "\"plannedKm\":300},\"lastEvent\":\"player.fined\",\"eventSeq\":1}\n"),
              std::string::npos)
        << doc;
}

TEST_F(DllTest, InterfaceOneZeroHasNoGameplayEvent)
{
    ASSERT_EQ(start(HOST_VERSION_1_00), HOST_RESULT_OK);
    EXPECT_FALSE(host.has_event(HOST_EVENT_GAMEPLAY));
    EXPECT_TRUE(host.has_event(HOST_EVENT_CONFIGURATION));
}
