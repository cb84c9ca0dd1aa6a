// Everything QAV asks of the operating system, in one place. The rest of the plug-in never
// includes a system header: CMake links exactly one implementation (Win32 for the DLL, POSIX
// for the native build, a scriptable one for the unit tests).
#ifndef QAV_PLATFORM_PLATFORM_H
#define QAV_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Paths are UTF-16 units on Windows and passed through unchanged; the POSIX layers treat
// each unit as one byte of the native path, so a '\' in a POSIX folder name stays a '\'.
typedef wchar_t path_char;

// What the plug-in puts between the names it joins: '\\' on Windows, '/' on POSIX.
extern const path_char PLATFORM_SEPARATOR;

enum { PLATFORM_PATH_MAX = 260 }; // units, terminator included: the Windows path limit

// The current user's local application-data folder, NUL-terminated, into `out`
// (PLATFORM_PATH_MAX units). False when the system cannot tell.
bool platform_local_appdata(path_char* out);

// Creates one directory. The result is deliberately not reported: an existing folder is the
// normal case, and any other failure shows up as snapshots that cannot be written. On POSIX
// a missing data folder and its missing parents are created too, private to the user (0700),
// as the XDG rules ask of a program that writes there.
void platform_create_directory(const path_char* path);

// Opens `path` for binary writing as a new, empty file; null when it cannot. A stale file
// there (left by a crash) does not stop the write: POSIX removes whatever is at the path but
// a directory and creates the file afresh, so that neither a FIFO nor a link can block or
// redirect the write; Windows truncates a stale file, and removes one left read-only. The
// stream buffers a whole document (platform/stream_buffer.h): writing one is one write call.
std::FILE* platform_open_write(const path_char* path);

// Moves `from` over `to`, replacing it in one rename. False when the move failed.
bool platform_replace(const path_char* from, const path_char* to);

uint32_t platform_process_id();

// Milliseconds since some fixed start, never going back.
uint64_t platform_tick_ms();

// Gives up the host's thread for about `ms` milliseconds. Used only for the few writes a
// reader must not miss, never on the frame path.
void platform_sleep_ms(uint32_t ms);

#endif
