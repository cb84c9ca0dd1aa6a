#include "tests/unit/fixture.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

bool file_exists(const std::string& path)
{
    return std::ifstream(path).good();
}

void PluginTest::SetUp()
{
    char tmpl[] = "/tmp/qav-unit-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    doc_path = dir + "/QAV/telemetry.json";
    temp_path = dir + "/QAV/telemetry.json.tmp";
    test_platform_reset(dir.c_str());
    std::memset(&g_state, 0, sizeof g_state);
}

void PluginTest::TearDown()
{
    std::string cmd = "rm -rf '" + dir + "'";
    (void)std::system(cmd.c_str());
    g_host_model = nullptr;
}

void PluginTest::init(uint32_t version, const char* game)
{
    ASSERT_EQ(host.start(scs_telemetry_init, version, game), HOST_RESULT_OK);
}

std::string PluginTest::current_document(uint64_t written) const
{
    return snapshot_text(g_state, g_test_platform.pid, written);
}
