// Shared set-up for the unit tests: a fresh data folder per test, the scripted platform
// pointed at it, the record as the loader leaves it (all zero) and the host model.
#ifndef QAV_TESTS_UNIT_FIXTURE_H
#define QAV_TESTS_UNIT_FIXTURE_H

#include "output/json_out.h"
#include "output/snapshot.h"
#include "platform/test_platform.h"
#include "plugin/exports.h"
#include "state/telemetry_state.h"
#include "state/vocabulary.h"
#include "support/host_model.h"
#include "support/reader.h"
#include "support/render.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include <string>

bool file_exists(const std::string& path);

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Initializes through the export, as the host model loads it; asserts success.
    void init(uint32_t version = HOST_VERSION_1_01, const char* game = "haulsim");

    std::string dir;        // the local application-data folder
    std::string doc_path;   // .../QAV/telemetry.json
    std::string temp_path;  // .../QAV/telemetry.json.tmp
    HostModel host;

    std::string document() const { return read_document(doc_path); }

    // The document the record holds now, as a write at tick `written` renders it.
    std::string current_document(uint64_t written) const;
};

#endif
