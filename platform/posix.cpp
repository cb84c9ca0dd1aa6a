// The native build's platform layer: the POSIX calls, unchanged.
#include "platform/posix_io.h"

bool platform_local_appdata(path_char* out) { return posix_local_appdata(out); }
void platform_create_directory(const path_char* path) { posix_create_directory(path); }
std::FILE* platform_open_write(const path_char* path) { return posix_open_write(path); }
bool platform_replace(const path_char* from, const path_char* to) { return posix_replace(from, to); }
uint32_t platform_process_id() { return posix_process_id(); }
uint64_t platform_tick_ms() { return posix_tick_ms(); }
void platform_sleep_ms(uint32_t ms) { posix_sleep_ms(ms); }
