// The Windows side of the platform seam: the calls the plug-in makes inside the host's
// process. Kept to the plainest APIs so that the DLL imports only KERNEL32, SHELL32 and the
// C runtime every Windows installation has.
#include "platform/platform.h"
#include "platform/stream_buffer.h"

#include <windows.h>
#include <shlobj.h>

#include <stdio.h>

const path_char PLATFORM_SEPARATOR = L'\\';

bool platform_local_appdata(path_char* out)
{
    // Current path rather than the default one: a user who moved the folder gets the file
    // where they moved it. Only a failure code counts as failure; S_FALSE still fills `out`.
    HRESULT hr = SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_CURRENT, out);
    return !FAILED(hr);
}

void platform_create_directory(const path_char* path)
{
    (void)CreateDirectoryW(path, NULL);
}

// A temporary file that a crash left read-only would refuse every write of the session. Asked
// only after an open failed, so the normal write pays nothing for it.
static bool remove_read_only(const path_char* path)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return false;
    }
    return SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL) && DeleteFileW(path);
}

std::FILE* platform_open_write(const path_char* path)
{
    std::FILE* file = _wfopen(path, L"wb");
    if (file == NULL && remove_read_only(path)) file = _wfopen(path, L"wb");
    return use_document_buffer(file);
}

bool platform_replace(const path_char* from, const path_char* to)
{
    // Same folder, so a rename: no copy across volumes, and no write-through, which would
    // make every snapshot wait for the disk on the host's frame.
    return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

uint32_t platform_process_id()
{
    return (uint32_t)GetCurrentProcessId();
}

uint64_t platform_tick_ms()
{
    return (uint64_t)GetTickCount64();
}

void platform_sleep_ms(uint32_t ms)
{
    Sleep(ms);
}
