// The library's own load and unload notifications: success, and nothing else. All set-up
// waits for the host's scs_telemetry_init, outside the loader lock.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
