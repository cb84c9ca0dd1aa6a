// The POSIX system calls behind the platform seam, shared by the native build's layer and the
// unit tests' scriptable layer so that both touch the file system the same way.
#ifndef QAV_PLATFORM_POSIX_IO_H
#define QAV_PLATFORM_POSIX_IO_H

#include "platform/platform.h"

// Narrows a plug-in path to a native one, one byte a unit. False when a unit does not fit a
// byte or the result does not fit `cap`.
bool posix_native_path(const path_char* path, char* out, size_t cap);

// Widens a native path into `out` (PLATFORM_PATH_MAX units). False when it does not fit.
bool posix_wide_path(const char* path, path_char* out);

bool posix_local_appdata(path_char* out);
void posix_create_directory(const path_char* path);
// Creates `path` as a new file for writing, removing whatever was there first (but a
// directory): the descriptor, or -1 with errno set.
int posix_create_file(const path_char* path);
std::FILE* posix_open_write(const path_char* path);
bool posix_replace(const path_char* from, const path_char* to);
uint32_t posix_process_id();
uint64_t posix_tick_ms();
void posix_sleep_ms(uint32_t ms);

#endif
