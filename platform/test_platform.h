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

    // Fault stepping, the way SQLite's I/O-error tests step a failure through every system
    // call. Each I/O call of a write counts: the open, every write the stream makes (files
    // are unbuffered, so each staged chunk is one), the close and the replace. The call that
    // brings `fault_countdown` to zero fails with `fault_errno`; with `fault_persistent` every
    // later call fails too, until the test clears the fault. A failing write first writes half
    // of its bytes, as a disk that fills up mid-write does; a failing close still closes, but
    // loses the second half of the file, as delayed writes that fail at the close do.
    int io_calls;          // I/O calls seen
    int fault_countdown;   // calls until the failing one; 0: no fault armed
    bool fault_persistent; // every call after the first failing one fails too
    int fault_errno;       // errno of a failed call; 0: the call goes through after the hook
    int faults_fired;      // calls failed (or hooked) so far
    void (*fault_hook)();  // run at each failing call first, e.g. to delete the folder
};

extern TestPlatform g_test_platform;

// Back to a working machine whose data folder is `appdata_dir`.
void test_platform_reset(const char* appdata_dir);

// Arms the fault: the `nth` I/O call from now fails with `err` (0: only the hook runs), and
// every one after it too when `persistent`.
void test_platform_arm_fault(int nth, bool persistent, int err, void (*hook)());

// The fault goes away: every I/O call works again. The number of calls failed is kept.
void test_platform_clear_fault();

#endif
