// The real QAV.dll in a fresh load for every test, with the host's side of the calls: the
// exports found by name, the host model's records, and the data folder as Windows names it.
#ifndef QAV_TESTS_DLL_DLL_FIXTURE_H
#define QAV_TESTS_DLL_DLL_FIXTURE_H

#include "support/host_model.h"
#include "support/os.h"
#include "support/reader.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

class DllTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        paths = os_telemetry_paths();
        ASSERT_FALSE(paths.final.empty());
        DeleteFileW(os_wide(paths.final).c_str());
        DeleteFileW(os_wide(paths.temp).c_str());
        RemoveDirectoryW(os_wide(paths.folder).c_str());
        // A fresh load for every test: the record starts all zero, as in a real host.
        std::string error;
        ASSERT_TRUE(host_load_plugin("QAV.dll", &plugin, &error)) << error;
        init = plugin.init;
        shutdown = plugin.shutdown;
    }
    void TearDown() override
    {
        host_unload_plugin(&plugin);
        g_host_model = nullptr;
    }
    std::string document() const { return read_document(paths.final); }
    bool document_exists() const
    {
        return GetFileAttributesW(os_wide(paths.final).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    host_result_t start(uint32_t version, const char* game = "haulsim", uint32_t game_version = 0x00010012)
    {
        return host.start(init, version, game, game_version);
    }

    HostPlugin plugin;
    HostInitFn init = nullptr;
    HostShutdownFn shutdown = nullptr;
    TelemetryPaths paths; // the plug-in's folder, temporary file and document
    HostModel host;
};

#endif
