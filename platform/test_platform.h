// A platform layer the unit tests steer: the clock stands still until a test moves it, and
// any I/O call can be made to fail the way a real machine fails (a folder that cannot be
// written, a full disk, a replace refused because a reader holds the file). Underneath it
// uses the real POSIX file system, in a folder the test chooses.
#ifndef QAV_PLATFORM_TEST_PLATFORM_H
#define QAV_PLATFORM_TEST_PLATFORM_H

#include "platform/platform.h"

struct TestPlatform {
    bool appdata_fails;   // the system cannot name a data folder
    char appdata[1024];   // the data folder handed out, a native path
    uint64_t tick;        // what platform_tick_ms returns
    uint32_t pid;         // what platform_process_id returns
    uint32_t sleep_quantum_ms; // a sleep lasts at least this long, like a coarse system timer
    int opens;            // opens and replaces asked for, to count a write's attempts
    int replaces;

    // Fault stepping, the way SQLite's I/O-error tests step a failure through every system
    // call. Every I/O call of a write counts: the open, each write the stream makes (it has
    // the production's buffer, which holds a whole document, so one write a document), the
    // close and the replace. The call that brings `fault_countdown` to zero fails with
    // `fault_errno`, and so do the `fault_times` - 1 calls after it (every later call when
    // `fault_times` is FAULT_PERSISTENT), until the test clears the fault. A failing write
    // first writes half of its bytes, as a disk that fills up mid-write does; a failing close
    // still closes, but loses the second half of the file, as delayed writes that fail at the
    // close do.
    int io_calls;          // I/O calls seen
    int fault_countdown;   // calls until the first failing one; 0: no fault armed
    int fault_times;       // calls that fail from there on; FAULT_PERSISTENT: all of them
    int fault_errno;       // errno of a failed call; 0: the call goes through after the hook
    int faults_fired;      // calls failed (or hooked) so far
    void (*fault_hook)();  // run at each failing call first, e.g. to delete the folder
};

enum { FAULT_PERSISTENT = -1 };

extern TestPlatform g_test_platform;

// Back to a working machine whose data folder is `appdata_dir`.
void test_platform_reset(const char* appdata_dir);

// Arms the fault: the `nth` I/O call from now fails with `err` (0: only the hook runs), and
// so do the next `times` - 1 calls, or every later one for FAULT_PERSISTENT.
void test_platform_arm_fault(int nth, int times, int err, void (*hook)());

// The fault goes away: every I/O call works again. The number of calls failed is kept.
void test_platform_clear_fault();

#endif
