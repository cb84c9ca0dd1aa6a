// What the simulator, the tests and the benchmarks need of the operating system, with one
// implementation for Windows (os_win32.cpp, Win32 only: the win32-threads MinGW runtime has
// no std::thread or std::mutex) and one for POSIX (os_posix.cpp). Paths and text are UTF-8
// throughout. Never part of the plug-in.
#ifndef QAV_SUPPORT_OS_H
#define QAV_SUPPORT_OS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The command line as UTF-8, and a console that shows UTF-8.
std::vector<std::string> os_arguments(int argc, char** argv);

// Microseconds from a fixed start, never going back.
uint64_t os_micros();

// Sleeps about `ms` milliseconds; os_fine_sleep(true) asks the system for 1 ms granularity
// for as long as the simulation plays.
void os_sleep_ms(unsigned ms);
void os_fine_sleep(bool on);

enum class ReadResult {
    ok,
    missing,   // no such file (yet, or between a delete and a rename)
    sharing,   // someone holds the file without sharing it: try again
    failed,    // any other error
    not_file,  // not a regular file (a FIFO, a device): nothing was read
};

// Reads a whole file the way a well-behaved reader of telemetry.json does: open with every
// sharing mode, read everything, close at once. Reads at most `limit` + 1 bytes, so a caller
// can tell a file that is too large. `regular_only` never waits: a FIFO put where a document
// belongs would otherwise block the open until something writes into it.
ReadResult os_read_file(const std::string& path, size_t limit, std::string* bytes,
                        bool regular_only = false);

// What is at a path. Only os_file_stamp tells a FIFO apart; os_file_identity counts it as other,
// like a device.
enum class FileKind { missing, regular, directory, fifo, other };

// A file's last-write time, size and identity, read without opening it.
struct FileStamp {
    bool exists;
    uint64_t time; // system units; only compared
    uint64_t size;
    uint64_t id;   // the file's identity where the system tells it cheaply, else 0
    FileKind kind; // what is at the path
    bool operator==(const FileStamp& o) const
    {
        return exists == o.exists && time == o.time && size == o.size && id == o.id &&
               kind == o.kind;
    }
};
FileStamp os_file_stamp(const std::string& path);

std::FILE* os_open_write(const std::string& path);

// Creates `path` as a new, empty file for writing, and only that: when anything is at the
// path (a file, a link, even a dangling one, a FIFO, a folder) it fails with errno EEXIST, so
// it never writes through a link nor waits on a FIFO. Null with errno set otherwise too.
std::FILE* os_create_new(const std::string& path);

// The system's words for errno ("No space left on device"), or `otherwise` when it is 0.
std::string os_error_text(const char* otherwise = "the system gave no reason");

// What a path names, and which file that is: two paths name one file when both exist with
// the same volume and index (a link or another spelling of the path included).
struct FileIdentity {
    FileKind kind;
    uint64_t volume, index;
};
FileIdentity os_file_identity(const std::string& path);

// Where the plug-in keeps its document for this user, by the plug-in's own rule: its folder
// in the data folder, and telemetry.json.tmp and telemetry.json in it. All "" when they cannot
// be had, and then `problem` says why: the system does not tell the data folder, or its path is
// too long. Natively the paths may be as long as the system's own limit, longer than the
// plug-in's (PLATFORM_PATH_MAX): a watch or a replay needs no plug-in.
struct TelemetryPaths {
    std::string folder, temp, final;
    std::string problem;
};
TelemetryPaths os_telemetry_paths();

#if defined(_WIN32)
// A UTF-8 path as the wide string the Win32 calls take.
std::wstring os_wide(const std::string& path);
#endif

// The plug-in library that sits beside the simulator: QAV.dll or libQAV.so.
std::string os_default_plugin();

// Loading the plug-in the way the host does.
void* os_library_open(const std::string& path, std::string* error);
void* os_library_symbol(void* library, const char* name);
void os_library_close(void* library);

// One lock guards everything the player and the reader share, console output included.
void os_lock();
void os_unlock();

struct OsThread;
OsThread* os_thread_start(void (*run)(void*), void* arg);
void os_thread_join(OsThread* thread);

// The clock the plug-in stamps `written` with, in milliseconds: GetTickCount64 on Windows,
// CLOCK_MONOTONIC_COARSE natively. A document's age is this minus its `written`.
uint64_t os_tick_ms();
uint32_t os_process_id();

// Why the folder that holds `file` cannot take a new file beside it: "the folder F is missing",
// "... is not a folder", "... cannot be written"; "" when it can.
std::string os_folder_problem(const std::string& file);

// Creates one folder; an existing one is fine, any other failure shows at the first write.
void os_create_directory(const std::string& path);

// Moves `from` over `to` in one rename, replacing it, as the plug-in publishes a document.
// False, with errno set, when it could not.
bool os_replace(const std::string& from, const std::string& to);

// Removes a file (a link itself, not what it points to, but see below); false, with errno set,
// when it could not.
bool os_remove(const std::string& path);

// Whether removing a name may remove the file a link there points to instead: under Wine,
// whose file calls cannot tell a Unix link from its file, and delete what it resolves to. A
// caller that did not make what is at a name then leaves it alone.
bool os_remove_follows_links();

// Calls `handler` on every Ctrl+C, and on every request to end from outside (natively SIGTERM
// and SIGHUP, the terminal closing; on Windows Ctrl+Break and the console closing), instead of
// ending the process; `what` names it ("Ctrl+C", "SIGTERM"). It runs in a signal handler or on
// a thread of the system's: it may only set flags and call os_exit_now. A closing console on
// Windows gives the process a few seconds more before the system ends it.
void os_on_interrupt(void (*handler)(const char* what));

// Ends the process at once, as a crash does: nothing is unloaded, nothing is flushed.
void os_exit_now(int status);

#endif
