#include "platform/test_platform.h"

#include "platform/posix_io.h"

#include <cstring>

TestPlatform g_test_platform;

void test_platform_reset(const char* appdata_dir)
{
    std::memset(&g_test_platform, 0, sizeof g_test_platform);
    std::snprintf(g_test_platform.appdata, sizeof g_test_platform.appdata, "%s", appdata_dir);
    g_test_platform.pid = 4242;
    g_test_platform.tick = 1000000;
}

// One scripted failure: true when this call must fail, counting a finite script down.
static bool take_failure(int* remaining)
{
    if (*remaining == 0) return false;
    if (*remaining > 0) (*remaining)--;
    return true;
}

bool platform_local_appdata(path_char* out)
{
    if (g_test_platform.appdata_fails) return false;
    return posix_wide_path(g_test_platform.appdata, out);
}

void platform_create_directory(const path_char* path) { posix_create_directory(path); }

std::FILE* platform_open_write(const path_char* path)
{
    g_test_platform.opens++;
    if (take_failure(&g_test_platform.open_failures)) return NULL;
    if (g_test_platform.disk_full) {
        // Create the file as the real open would, then hand out a stream on /dev/full so
        // that every write and flush fails with ENOSPC.
        std::FILE* f = posix_open_write(path);
        if (f == NULL) return NULL;
        std::fclose(f);
        return std::fopen("/dev/full", "wb");
    }
    return posix_open_write(path);
}

bool platform_replace(const path_char* from, const path_char* to)
{
    g_test_platform.replaces++;
    if (take_failure(&g_test_platform.replace_failures)) return false;
    return posix_replace(from, to);
}

uint32_t platform_process_id() { return g_test_platform.pid; }
uint64_t platform_tick_ms() { return g_test_platform.tick; }

void platform_sleep_ms(uint32_t ms)
{
    g_test_platform.sleeps++;
    g_test_platform.tick += ms > g_test_platform.sleep_quantum_ms ? ms : g_test_platform.sleep_quantum_ms;
}
