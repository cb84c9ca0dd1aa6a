// support/os.h on Windows, plain Win32. The data folder, the tick, the folder's creation and
// the replace are the plug-in's own calls (platform/win32.cpp), so both agree.
#include "support/os.h"

#include "platform/data_paths.h"
#include "platform/platform.h"

#include <windows.h>
#include <shellapi.h>
#include <timeapi.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <string.h>

std::wstring os_wide(const std::string& s)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), NULL, 0);
    std::wstring w((size_t)n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], n);
    return w;
}

static std::string narrow(const wchar_t* w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, NULL, 0, NULL, NULL);
    if (n <= 0) return "";
    std::string s((size_t)n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, NULL, NULL);
    s.resize((size_t)n - 1);
    return s;
}

std::vector<std::string> os_arguments(int, char**)
{
    // The narrow argv is in the ANSI code page; the wide command line has every path intact.
    SetConsoleOutputCP(CP_UTF8);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 0; argv != NULL && i < argc; i++) args.push_back(narrow(argv[i]));
    LocalFree(argv);
    return args;
}

uint64_t os_micros()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (uint64_t)(now.QuadPart / frequency.QuadPart * 1000000 +
                      now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart);
}

void os_sleep_ms(unsigned ms) { Sleep(ms); }

void os_fine_sleep(bool on)
{
    // Without it Sleep(1) may take 15.6 ms, a whole frame at 60 frames per second.
    if (on) {
        timeBeginPeriod(1);
    } else {
        timeEndPeriod(1);
    }
}

ReadResult os_read_file(const std::string& path, size_t limit, std::string* bytes,
                        bool regular_only)
{
    bytes->clear();
    // FILE_SHARE_DELETE matters most: without it the plug-in's rename over the file fails
    // for as long as we hold it open.
    HANDLE file = CreateFileW(os_wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return ReadResult::missing;
        if (error == ERROR_SHARING_VIOLATION) return ReadResult::sharing;
        return ReadResult::failed;
    }
    // A named pipe or a device opened by a name of its own is not a file on disk.
    if (regular_only && GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return ReadResult::not_file;
    }
    char buffer[4096];
    ReadResult result = ReadResult::ok;
    while (bytes->size() <= limit) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, NULL)) {
            result = ReadResult::failed;
            break;
        }
        if (got == 0) break;
        bytes->append(buffer, got);
    }
    CloseHandle(file);
    return result;
}

FileStamp os_file_stamp(const std::string& path)
{
    // Queries by name: no handle is left open that a rename could collide with.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(os_wide(path).c_str(), GetFileExInfoStandard, &data)) {
        return FileStamp{false, 0, 0, 0, FileKind::missing};
    }
    uint64_t time = (uint64_t)data.ftLastWriteTime.dwHighDateTime << 32 | data.ftLastWriteTime.dwLowDateTime;
    uint64_t size = (uint64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
    FileKind kind = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::directory
                                                                     : FileKind::regular;
    return FileStamp{true, time, size, 0, kind};
}

std::FILE* os_open_write(const std::string& path) { return _wfopen(os_wide(path).c_str(), L"wb"); }

// The errno a failed Win32 file call means, so that one text names it on both systems.
static int errno_of(DWORD error)
{
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    default: return EIO;
    }
}

std::FILE* os_create_new(const std::string& path)
{
    // CREATE_NEW fails on any name that exists, a link included; the reparse-point flag keeps
    // the open from following one even so.
    HANDLE h = CreateFileW(os_wide(path).c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        errno = errno_of(GetLastError());
        return nullptr;
    }
    int fd = _open_osfhandle((intptr_t)h, _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) _close(fd);
    return file;
}

std::string os_error_text(const char* otherwise)
{
    return errno != 0 ? strerror(errno) : otherwise;
}

FileIdentity os_file_identity(const std::string& path)
{
    // No access asked, every sharing mode given: this open disturbs no writer. Backup
    // semantics let it open a folder too.
    HANDLE file = CreateFileW(os_wide(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return FileIdentity{missing ? FileKind::missing : FileKind::other, 0, 0};
    }
    FileIdentity id = {FileKind::other, 0, 0};
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info)) {
        id.kind = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::directory
                                                                   : FileKind::regular;
        id.volume = info.dwVolumeSerialNumber;
        id.index = (uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow;
    }
    CloseHandle(file);
    return id;
}

TelemetryPaths os_telemetry_paths()
{
    path_char appdata[PLATFORM_PATH_MAX];
    DataPaths paths;
    TelemetryPaths out;
    if (!platform_local_appdata(appdata)) {
        out.problem = "the system does not tell the local application-data folder";
    } else if (!data_paths(appdata, &paths)) {
        out.problem = "the data folder's path is too long: " + narrow(appdata) + " leaves no room "
                      "for QAV\\telemetry.json.tmp within the Windows limit of " +
                      std::to_string(PLATFORM_PATH_MAX - 1) + " characters";
    } else {
        out = TelemetryPaths{narrow(paths.folder), narrow(paths.temp), narrow(paths.final), ""};
    }
    return out;
}

std::string os_default_plugin()
{
    wchar_t exe[MAX_PATH];
    DWORD n = GetModuleFileNameW(NULL, exe, MAX_PATH);
    if (n == 0 || n == MAX_PATH) return "QAV.dll";
    std::string path = narrow(exe);
    size_t slash = path.find_last_of("\\/");
    return path.substr(0, slash == std::string::npos ? 0 : slash + 1) + "QAV.dll";
}

void* os_library_open(const std::string& path, std::string* error)
{
    HMODULE library = LoadLibraryW(os_wide(path).c_str());
    if (library == NULL) *error = "LoadLibraryW failed with error " + std::to_string(GetLastError());
    return (void*)library;
}

void* os_library_symbol(void* library, const char* name)
{
    return (void*)GetProcAddress((HMODULE)library, name);
}

void os_library_close(void* library) { FreeLibrary((HMODULE)library); }

static SRWLOCK g_lock = SRWLOCK_INIT;

void os_lock() { AcquireSRWLockExclusive(&g_lock); }
void os_unlock() { ReleaseSRWLockExclusive(&g_lock); }

struct OsThread {
    HANDLE handle;
    void (*run)(void*);
    void* arg;
};

static DWORD WINAPI thread_main(LPVOID p)
{
    OsThread* t = (OsThread*)p;
    t->run(t->arg);
    return 0;
}

OsThread* os_thread_start(void (*run)(void*), void* arg)
{
    OsThread* t = new OsThread{NULL, run, arg};
    t->handle = CreateThread(NULL, 0, thread_main, t, 0, NULL);
    if (t->handle == NULL) {
        delete t;
        return nullptr;
    }
    return t;
}

void os_thread_join(OsThread* t)
{
    WaitForSingleObject(t->handle, INFINITE);
    CloseHandle(t->handle);
    delete t;
}

uint64_t os_tick_ms() { return platform_tick_ms(); }
uint32_t os_process_id() { return platform_process_id(); }

std::string os_folder_problem(const std::string& file)
{
    std::string folder = file.substr(0, file.find_last_of("\\/"));
    DWORD attributes = GetFileAttributesW(os_wide(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return "the folder " + folder + " is missing";
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return folder + " is not a folder";
    // Only a file made there tells whether the folder's rights let this user write.
    std::wstring probe = os_wide(folder + "\\telemetry.json.probe");
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
        return "the folder " + folder + " cannot be written";
    }
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return "";
}

void os_create_directory(const std::string& path) { platform_create_directory(os_wide(path).c_str()); }

bool os_replace(const std::string& from, const std::string& to)
{
    if (platform_replace(os_wide(from).c_str(), os_wide(to).c_str())) return true;
    errno = errno_of(GetLastError());
    return false;
}

bool os_remove(const std::string& path)
{
    if (DeleteFileW(os_wide(path).c_str())) return true;
    errno = errno_of(GetLastError());
    return false;
}

bool os_remove_follows_links()
{
    // Windows deletes a link itself; Wine resolves a Unix link first and deletes its file.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != NULL && GetProcAddress(ntdll, "wine_get_version") != NULL;
}

static void (*g_interrupt)(const char*) = nullptr;

static BOOL WINAPI on_console_event(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT: g_interrupt("Ctrl+C"); return TRUE;
    case CTRL_BREAK_EVENT: g_interrupt("Ctrl+Break"); return TRUE;
    case CTRL_CLOSE_EVENT:
        // The system ends the process when this returns, or some five seconds after the
        // console closed: the main thread has until then to shut the plug-in down, and its
        // return from main ends the process sooner.
        g_interrupt("the console closing");
        Sleep(4500);
        return TRUE;
    default: return FALSE;
    }
}

void os_on_interrupt(void (*handler)(const char*))
{
    g_interrupt = handler;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void os_exit_now(int status)
{
    // TerminateProcess, not ExitProcess: no DLL is told the process ends, as in a crash.
    TerminateProcess(GetCurrentProcess(), (UINT)status);
}
