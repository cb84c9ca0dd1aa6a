// A platform layer the unit tests steer: the clock stands still until a test moves it, and
// each operation can be made to fail the way a real machine fails (no data folder, a file
// that cannot be created, a full disk, a replace refused because a reader holds the file).
// Underneath it uses the real POSIX file system, in a folder the test chooses.
#ifndef QAV_PLATFORM_TEST_PLATFORM_H
#define QAV_PLATFORM_TEST_PLATFORM_H

#include "platform/platform.h"

struct TestPlatform {
    bool appdata_fails;   // the system cannot name a data folder
    char appdata[1024];   // the data folder handed out, a native path
    uint64_t tick;        // what platform_tick_ms returns
    uint32_t pid;         // what platform_process_id returns
    int open_failures;    // opens still to fail; negative: fail every open
    bool disk_full;       // opened files accept nothing: every write fails as on a full disk
    int replace_failures; // replaces still to fail; negative: fail every replace
    int opens;            // calls seen, for tests that count attempts
    int replaces;
    int sleeps;           // sleeps taken; each moves `tick` forward by its length
    uint32_t sleep_quantum_ms; // a sleep lasts at least this long, like a coarse system timer
};

extern TestPlatform g_test_platform;

// Back to a working machine whose data folder is `appdata_dir`.
void test_platform_reset(const char* appdata_dir);

#endif
