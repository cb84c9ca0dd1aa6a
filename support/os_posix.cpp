// support/os.h on POSIX, for the native build against libQAV.so.
#include "support/os.h"

#include "platform/posix_io.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

std::vector<std::string> os_arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

uint64_t os_micros()
{
    return (uint64_t)std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void os_sleep_ms(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
void os_fine_sleep(bool) {}

ReadResult os_read_file(const std::string& path, size_t limit, std::string* bytes,
                        bool regular_only)
{
    bytes->clear();
    // O_NONBLOCK lets the open of a FIFO return at once; a regular file reads the same with it.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | (regular_only ? O_NONBLOCK : 0));
    if (fd < 0) return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
    struct stat st;
    if (regular_only && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        return ReadResult::not_file;
    }
    char buffer[4096];
    ReadResult result = ReadResult::ok;
    while (bytes->size() <= limit) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) result = ReadResult::failed;
        if (got <= 0) break;
        bytes->append(buffer, (size_t)got);
    }
    close(fd);
    return result;
}

FileStamp os_file_stamp(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return FileStamp{false, 0, 0, 0, FileKind::missing};
    // Every replace brings a new inode: a change shows even within one clock tick.
    uint64_t time = (uint64_t)st.st_mtim.tv_sec * 1000000000u + (uint64_t)st.st_mtim.tv_nsec;
    FileKind kind = S_ISREG(st.st_mode)    ? FileKind::regular
                    : S_ISDIR(st.st_mode)  ? FileKind::directory
                    : S_ISFIFO(st.st_mode) ? FileKind::fifo
                                           : FileKind::other;
    return FileStamp{true, time, (uint64_t)st.st_size, (uint64_t)st.st_ino, kind};
}

std::FILE* os_open_write(const std::string& path) { return std::fopen(path.c_str(), "wb"); }

std::FILE* os_create_new(const std::string& path)
{
    // O_EXCL refuses whatever exists, through a link or not; O_NOFOLLOW and O_NONBLOCK guard
    // against a link and a FIFO once more, as the plug-in's own create does.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                  0666);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) close(fd);
    return file;
}

std::string os_error_text(const char* otherwise)
{
    return errno != 0 ? std::strerror(errno) : otherwise;
}

FileIdentity os_file_identity(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return FileIdentity{errno == ENOENT || errno == ENOTDIR ? FileKind::missing : FileKind::other,
                            0, 0};
    }
    FileKind kind = S_ISREG(st.st_mode) ? FileKind::regular
                    : S_ISDIR(st.st_mode) ? FileKind::directory
                                          : FileKind::other;
    return FileIdentity{kind, (uint64_t)st.st_dev, (uint64_t)st.st_ino};
}

TelemetryPaths os_telemetry_paths()
{
    // The plug-in's rule (posix_local_appdata and data_paths), without its Windows limit: a
    // data home may be as long as the system lets a path be.
    TelemetryPaths paths;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    std::string appdata;
    if (xdg != nullptr && xdg[0] == '/') {
        appdata = xdg;
    } else if (home != nullptr && home[0] != 0) {
        appdata = std::string(home) + "/.local/share";
    } else {
        paths.problem = "the system does not tell the local application-data folder: neither "
                        "XDG_DATA_HOME nor HOME is set";
        return paths;
    }
    std::string folder = appdata + "/QAV";
    if (folder.size() + sizeof "/telemetry.json.tmp" > PATH_MAX) {
        paths.problem = "the data folder's path is too long: " + std::to_string(appdata.size()) +
                        " bytes, and hostsim takes up to " +
                        std::to_string(PATH_MAX - sizeof "/QAV/telemetry.json.tmp");
        return paths;
    }
    paths.folder = folder;
    paths.temp = folder + "/telemetry.json.tmp";
    paths.final = folder + "/telemetry.json";
    return paths;
}

std::string os_default_plugin()
{
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "./libQAV.so";
    std::string path(exe, (size_t)n);
    return path.substr(0, path.find_last_of('/') + 1) + "libQAV.so";
}

void* os_library_open(const std::string& path, std::string* error)
{
    // A bare name would send dlopen searching the library path instead of the folder.
    std::string where = path.find('/') == std::string::npos ? "./" + path : path;
    void* library = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) *error = dlerror();
    return library;
}

void* os_library_symbol(void* library, const char* name) { return dlsym(library, name); }
void os_library_close(void* library) { dlclose(library); }

static std::mutex g_lock;

void os_lock() { g_lock.lock(); }
void os_unlock() { g_lock.unlock(); }

struct OsThread {
    std::thread thread;
};

OsThread* os_thread_start(void (*run)(void*), void* arg)
{
    return new OsThread{std::thread(run, arg)};
}

void os_thread_join(OsThread* t)
{
    t->thread.join();
    delete t;
}

uint64_t os_tick_ms() { return posix_tick_ms(); }

uint32_t os_process_id() { return posix_process_id(); }

std::string os_folder_problem(const std::string& file)
{
    std::string folder = file.substr(0, file.find_last_of('/'));
    struct stat st;
    if (stat(folder.c_str(), &st) != 0) return "the folder " + folder + " is missing";
    if (!S_ISDIR(st.st_mode)) return folder + " is not a folder";
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        return "the folder " + folder + " cannot be written: " + std::strerror(errno);
    }
    return "";
}

void os_create_directory(const std::string& path) { (void)mkdir(path.c_str(), 0777); }

bool os_replace(const std::string& from, const std::string& to)
{
    return rename(from.c_str(), to.c_str()) == 0;
}

bool os_remove(const std::string& path) { return unlink(path.c_str()) == 0; }
bool os_remove_follows_links() { return false; }

static void (*g_interrupt)(const char*) = nullptr;

static const struct {
    int number;
    const char* name;
} INTERRUPTS[] = {{SIGINT, "Ctrl+C"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};

static void on_signal(int number)
{
    for (const auto& s : INTERRUPTS) {
        if (s.number == number) g_interrupt(s.name);
    }
}

void os_on_interrupt(void (*handler)(const char*))
{
    g_interrupt = handler;
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const auto& s : INTERRUPTS) sigaction(s.number, &action, nullptr);
}

void os_exit_now(int status) { _exit(status); }
