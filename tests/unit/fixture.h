// Shared set-up for the unit tests: a fresh data folder per test, the scripted platform
// pointed at it, the record as the loader leaves it (all zero) and a fake host.
#ifndef QAV_TESTS_UNIT_FIXTURE_H
#define QAV_TESTS_UNIT_FIXTURE_H

#include "output/json_out.h"
#include "output/snapshot.h"
#include "platform/test_platform.h"
#include "state/telemetry_state.h"
#include "tests/support/fake_host.h"
#include "tests/support/render.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include <string>

extern "C" host_result_t QAV_HOSTAPI scs_telemetry_init(uint32_t version,
                                                        const HostInitParams* params);
extern "C" void QAV_HOSTAPI scs_telemetry_shutdown();

std::string read_file(const std::string& path); // "<missing>" when it cannot be read
bool file_exists(const std::string& path);

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Initializes through the export with the fake host; asserts success.
    void init(uint32_t version = HOST_VERSION_1_01, const char* game = "haulsim");

    std::string dir;        // the local application-data folder
    std::string doc_path;   // .../QAV/telemetry.json
    std::string temp_path;  // .../QAV/telemetry.json.tmp
    FakeHost host;

    std::string document() const { return read_file(doc_path); }

    // The document the record holds now, as a write at tick `written` renders it.
    std::string current_document(uint64_t written) const;
};

// The `written` member of a document; 0 when it has none.
uint64_t written_of(const std::string& doc);

#endif
