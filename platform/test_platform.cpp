#include "platform/test_platform.h"

#include "platform/posix_io.h"
#include "platform/stream_buffer.h"

#include <errno.h>
#include <stdint.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

TestPlatform g_test_platform;

void test_platform_reset(const char* appdata_dir)
{
    std::memset(&g_test_platform, 0, sizeof g_test_platform);
    std::snprintf(g_test_platform.appdata, sizeof g_test_platform.appdata, "%s", appdata_dir);
    g_test_platform.pid = 4242;
    g_test_platform.tick = 1000000;
}

void test_platform_arm_fault(int nth, int times, int err, void (*hook)())
{
    g_test_platform.fault_countdown = nth;
    g_test_platform.fault_times = times;
    g_test_platform.fault_errno = err;
    g_test_platform.fault_hook = hook;
}

void test_platform_clear_fault()
{
    g_test_platform.fault_countdown = 0;
    g_test_platform.fault_times = 0;
    g_test_platform.fault_hook = NULL;
}

// Counts one I/O call and tells whether it must fail; sets errno when it must.
static bool io_call_fails()
{
    TestPlatform& t = g_test_platform;
    t.io_calls++;
    if (t.fault_countdown > 1) {
        t.fault_countdown--;
        return false;
    }
    if (t.fault_countdown == 0 || t.fault_times == 0) return false;
    // From here on the countdown stays at 1: each call takes one of the failures left.
    t.fault_countdown = 1;
    if (t.fault_times > 0) t.fault_times--;
    t.faults_fired++;
    if (t.fault_hook != NULL) t.fault_hook();
    if (t.fault_errno == 0) return false;
    errno = t.fault_errno;
    return true;
}

static ssize_t stepped_write(void* cookie, const char* buf, size_t n)
{
    int fd = (int)(intptr_t)cookie;
    if (io_call_fails()) {
        int err = errno;
        (void)!write(fd, buf, n / 2);
        errno = err;
        return -1;
    }
    size_t done = 0;
    while (done < n) {
        ssize_t w = write(fd, buf + done, n - done);
        if (w < 0) return done > 0 ? (ssize_t)done : -1;
        done += (size_t)w;
    }
    return (ssize_t)done;
}

static int stepped_close(void* cookie)
{
    int fd = (int)(intptr_t)cookie;
    if (io_call_fails()) {
        // Writes the system had only accepted are lost at the close that reports the error.
        int err = errno;
        off_t size = lseek(fd, 0, SEEK_END);
        if (size > 0) (void)!ftruncate(fd, size / 2);
        close(fd);
        errno = err;
        return -1;
    }
    return close(fd);
}

bool platform_local_appdata(path_char* out)
{
    if (g_test_platform.appdata_fails) return false;
    return posix_wide_path(g_test_platform.appdata, out);
}

void platform_create_directory(const path_char* path) { posix_create_directory(path); }

// The Windows runtime ends the process when asked to open an empty file name (an invalid
// parameter, not a failed open): so does this platform, so that tests catch such a call.
static void refuse_empty_path(const path_char* path)
{
    if (path[0] == 0) {
        std::fprintf(stderr, "test platform: a file operation on an empty path\n");
        std::abort();
    }
}

std::FILE* platform_open_write(const path_char* path)
{
    refuse_empty_path(path);
    g_test_platform.opens++;
    if (io_call_fails()) return NULL;
    int fd = posix_create_file(path);
    if (fd < 0) return NULL;
    cookie_io_functions_t io = {NULL, stepped_write, NULL, stepped_close};
    std::FILE* f = fopencookie((void*)(intptr_t)fd, "wb", io);
    if (f == NULL) {
        close(fd);
        return NULL;
    }
    return use_document_buffer(f);
}

bool platform_replace(const path_char* from, const path_char* to)
{
    refuse_empty_path(from);
    refuse_empty_path(to);
    g_test_platform.replaces++;
    if (io_call_fails()) return false;
    return posix_replace(from, to);
}

uint32_t platform_process_id() { return g_test_platform.pid; }
uint64_t platform_tick_ms() { return g_test_platform.tick; }

void platform_sleep_ms(uint32_t ms)
{
    g_test_platform.tick += ms > g_test_platform.sleep_quantum_ms ? ms : g_test_platform.sleep_quantum_ms;
}
