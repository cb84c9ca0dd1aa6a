/* The reader's guide (docs/telemetry.md) as code: find the file, read it without getting in
   the plug-in's way, and judge what the documents say about their writer. */
#if !defined(_WIN32) && !defined(_XOPEN_SOURCE)
#define _XOPEN_SOURCE 700 /* POSIX.1-2008 with realpath */
#endif
#include "qav_reader.h"

#include <locale.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define CLOCK_SLACK_MS 100 /* process start times and ticks are both a few ms coarse */
#define LOOK_EVERY_MS 1000 /* qav_wait looks at the writer's process no more often, idle */
#define WAIT_STEP_MS 20    /* qav_wait's poll interval */
#define MAX_DEPTH 64       /* containers in containers, the document being the first */
static const char CLOSED_EVENT[] = "game.closed"; /* lastEvent of the closing document */

#ifdef _WIN32
#include <windows.h>

#define SEPARATOR '\\'

static int widen(const char *s, wchar_t *out, int cap)
{
    return MultiByteToWideChar(CP_UTF8, 0, s, -1, out, cap) > 0;
}

int qav_find_dir(const char *given, char *out, size_t cap)
{
    const wchar_t *base = _wgetenv(L"LOCALAPPDATA");
    if (given != NULL && given[0] != '\0') return snprintf(out, cap, "%s", given) < (int)cap;
    if (base == NULL || WideCharToMultiByte(CP_UTF8, 0, base, -1, out, (int)cap - 5, NULL, NULL) == 0)
        return 0;
    strcat(out, "\\QAV");
    return 1;
}

/* Last-write time and size, queried by name: no handle is left open to stall a rename. */
static int stamp_of(const char *path, uint64_t stamp[3])
{
    wchar_t wide[1024];
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!widen(path, wide, 1024) || !GetFileAttributesExW(wide, GetFileExInfoStandard, &a)) return 0;
    stamp[0] = ((uint64_t)a.ftLastWriteTime.dwHighDateTime << 32) | a.ftLastWriteTime.dwLowDateTime;
    stamp[1] = ((uint64_t)a.nFileSizeHigh << 32) | a.nFileSizeLow;
    stamp[2] = 0;
    return !(a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

/* Bytes read, or -1 to try again (missing, not a file, or held by someone who does not
   share). */
static long read_file(const char *path, char *buf, size_t cap, uint64_t stamp[3])
{
    wchar_t wide[1024];
    DWORD total = 0, got = 0;
    (void)stamp; /* the one taken by name stands */
    if (!widen(path, wide, 1024)) return -1;
    HANDLE h = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return -1;
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return -1;
    }
    while (total < cap && ReadFile(h, buf + total, (DWORD)(cap - total), &got, NULL) && got > 0)
        total += got;
    CloseHandle(h); /* at once: the plug-in's next rename must not find it open */
    return (long)total;
}

uint64_t qav_tick_ms(void) { return GetTickCount64(); }
static uint64_t prefix_tick_ms(void) { return GetTickCount64(); }
static int in_wine_prefix(const char *dir) { (void)dir; return 0; } /* we are the Windows side */
void qav_sleep_ms(unsigned ms) { Sleep(ms); }

int qav_writer_alive(uint32_t pid, uint64_t written)
{
    FILETIME created, exited, kernel, user, now;
    DWORD code = 0;
    if (pid == 0) return 0; /* the idle process: never a host */
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (h == NULL) return GetLastError() == ERROR_ACCESS_DENIED; /* runs, but not ours to ask */
    int alive = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
    if (alive && GetProcessTimes(h, &created, &exited, &kernel, &user)) {
        /* written, a tick, as wall time in 100 ns units, to set against the creation time */
        GetSystemTimeAsFileTime(&now);
        uint64_t wall = ((uint64_t)now.dwHighDateTime << 32) | now.dwLowDateTime;
        uint64_t start = ((uint64_t)created.dwHighDateTime << 32) | created.dwLowDateTime;
        int64_t age_ms = (int64_t)(GetTickCount64() - written);
        alive = (int64_t)(start - wall) <= (CLOCK_SLACK_MS - age_ms) * 10000;
    }
    CloseHandle(h);
    return alive;
}
#else
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define SEPARATOR '/'
#define PID_LIMIT 4194304u /* Linux's largest pid_max; kill() takes anything above as a group */

int qav_find_dir(const char *given, char *out, size_t cap)
{
    const char *xdg = getenv("XDG_DATA_HOME"), *home = getenv("HOME");
    if (given != NULL && given[0] != '\0') return snprintf(out, cap, "%s", given) < (int)cap;
    if (xdg != NULL && xdg[0] == '/') return snprintf(out, cap, "%s/QAV", xdg) < (int)cap;
    if (home == NULL || home[0] == '\0') return 0;
    return snprintf(out, cap, "%s/.local/share/QAV", home) < (int)cap;
}

static void stamp_from(const struct stat *s, uint64_t stamp[3])
{
#ifdef __APPLE__
    stamp[0] = (uint64_t)s->st_mtime; /* in seconds: the file number tells a replace */
#else
    stamp[0] = (uint64_t)s->st_mtim.tv_sec * 1000000000u + (uint64_t)s->st_mtim.tv_nsec;
#endif
    stamp[1] = (uint64_t)s->st_size;
    stamp[2] = (uint64_t)s->st_ino; /* every replace brings a new file, even within a clock step */
}

static int stamp_of(const char *path, uint64_t stamp[3])
{
    struct stat s;
    if (stat(path, &s) != 0) return 0;
    stamp_from(&s, stamp);
    return S_ISREG(s.st_mode);
}

/* Opened without waiting and checked again once open: a FIFO renamed over the document
   between stat and open would otherwise block the reader for good. */
static long read_file(const char *path, char *buf, size_t cap, uint64_t stamp[3])
{
    struct stat s;
    size_t total = 0;
    ssize_t got;
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (fstat(fd, &s) != 0 || !S_ISREG(s.st_mode)) {
        close(fd);
        return -1;
    }
    stamp_from(&s, stamp);
    while (total < cap && ((got = read(fd, buf + total, cap - total)) > 0 || (got < 0 && errno == EINTR)))
        total += got > 0 ? (size_t)got : 0;
    close(fd);
    return (long)total;
}

static uint64_t clock_ms(clockid_t id)
{
    struct timespec t;
    clock_gettime(id, &t);
    return (uint64_t)t.tv_sec * 1000u + (uint64_t)t.tv_nsec / 1000000u;
}

uint64_t qav_tick_ms(void) { return clock_ms(CLOCK_MONOTONIC); }

/* Wine stamps written with GetTickCount64, which it takes from the raw monotonic clock: not
   slewed by NTP, so it drifts from CLOCK_MONOTONIC as the machine runs. */
static uint64_t prefix_tick_ms(void)
{
#ifdef CLOCK_MONOTONIC_RAW
    return clock_ms(CLOCK_MONOTONIC_RAW);
#else
    return qav_tick_ms();
#endif
}

/* A folder below a "drive_c" beside a regular file "system.reg" or a folder "dosdevices"
   belongs to a Wine prefix, whose host's pid and clock are Wine's, not this system's. Wine
   makes dosdevices with the prefix, but saves system.reg only later. */
static int in_wine_prefix(const char *dir)
{
    char path[4096 + sizeof "system.reg"]; /* room to name system.reg in place of drive_c */
    const size_t most = 4096;
    char *real = realpath(dir, NULL); /* links resolved; fails while the folder is missing */
    int n = real != NULL ? snprintf(path, most, "%s", real)
          : dir[0] == '/' ? snprintf(path, most, "%s", dir)
          : getcwd(path, most - 1) != NULL
              ? snprintf(path + strlen(path), most - strlen(path), "/%s", dir) : -1;
    free(real);
    if (n < 0 || (size_t)n >= most) return 0;
    for (char *end = path + strlen(path); end > path; end--) {
        struct stat s;
        if (*end != '/' && end[0] != '\0') continue;
        if (end - path < 8 || strncmp(end - 8, "/drive_c", 8) != 0) continue;
        strcpy(end - 7, "system.reg");
        if (stat(path, &s) == 0 && S_ISREG(s.st_mode)) return 1;
        strcpy(end - 7, "dosdevices"); /* as long as system.reg */
        if (stat(path, &s) == 0 && S_ISDIR(s.st_mode)) return 1;
        end[-8] = '\0'; /* cut back to the prefix; go on above it */
        end -= 8;
    }
    return 0;
}

/* A wait on no file at all: the plain POSIX way to sleep for milliseconds. */
void qav_sleep_ms(unsigned ms) { poll(NULL, 0, ms > INT_MAX ? INT_MAX : (int)ms); }

int qav_writer_alive(uint32_t pid, uint64_t written)
{
    char path[64], line[1024];
    unsigned long long start = 0;
    /* kill(0, 0) asks about our own group and a pid past 2^31 names groups: never a host */
    if (pid == 0 || pid > PID_LIMIT) return 0;
    snprintf(path, sizeof path, "/proc/%u/stat", (unsigned)pid);
    FILE *f = fopen(path, "r");
    /* no /proc, or one that hides other users' processes: by the pid alone */
    if (f == NULL) return kill((pid_t)pid, 0) == 0 || errno == EPERM;
    size_t n = fread(line, 1, sizeof line - 1, f);
    fclose(f);
    line[n] = '\0';
    /* after the name in parentheses: the state (field 3), then the start time is field 22 */
    const char *p = strrchr(line, ')');
    char state = 0;
    if (p == NULL || sscanf(p + 1, " %c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s "
                                   "%*s %*s %*s %*s %llu", &state, &start) != 2) return 1;
    if (state == 'Z' || state == 'X') return 0;
#ifdef CLOCK_BOOTTIME
    /* the start time counts from boot, suspends included; written does not count them */
    uint64_t suspended = clock_ms(CLOCK_BOOTTIME) - clock_ms(CLOCK_MONOTONIC);
#else
    uint64_t suspended = 0;
#endif
    uint64_t start_ms = start * 1000u / (uint64_t)sysconf(_SC_CLK_TCK) - suspended;
    return start_ms <= written + CLOCK_SLACK_MS;
}
#endif

/* ---- the document: strict JSON (RFC 8259), its members read into a typed record ----
   One pass over the bytes: each member the document defines is checked for its type and
   stored as it is met; everything else is only checked for being JSON. A problem of type is
   noted and the pass goes on, so that a document of another version or plug-in is told as
   such whatever its members look like; a problem of JSON ends the pass. */

enum { TEXT, U32, U64, FLAG, NUMBER, POSITION, JOB, PLUGIN, UNKNOWN };
static const char *const type_names[] = {
    "a text", "an integer from 0 to 4294967295", "an integer from 0 to 18446744073709551615",
    "true or false", "a number or null", "an object", "an object or null"};

typedef struct {
    const char *key;
    unsigned char type;
    size_t at; /* where it goes in qav_document */
} member;

#define AT(m) offsetof(qav_document, m)
static const member position_members[] = {
    {"x", NUMBER, AT(position.x)}, {"y", NUMBER, AT(position.y)}, {"z", NUMBER, AT(position.z)}};
static const member job_members[] = {
    {"cargo", TEXT, AT(job.cargo)}, {"cargoId", TEXT, AT(job.cargo_id)},
    {"sourceCity", TEXT, AT(job.source_city)}, {"sourceCityId", TEXT, AT(job.source_city_id)},
    {"sourceCompany", TEXT, AT(job.source_company)},
    {"sourceCompanyId", TEXT, AT(job.source_company_id)},
    {"destinationCity", TEXT, AT(job.destination_city)},
    {"destinationCityId", TEXT, AT(job.destination_city_id)},
    {"destinationCompany", TEXT, AT(job.destination_company)},
    {"destinationCompanyId", TEXT, AT(job.destination_company_id)},
    {"income", U64, AT(job.income)}, {"cargoMass", NUMBER, AT(job.cargo_mass)},
    {"deliveryTime", U32, AT(job.delivery_time)}, {"plannedKm", U32, AT(job.planned_km)}};
static const member document_members[] = {
    {"plugin", PLUGIN, 0}, {"version", TEXT, AT(version_text)}, {"pid", U32, AT(pid)},
    {"written", U64, AT(written)}, {"game", TEXT, AT(game)},
    {"gameVersion", TEXT, AT(game_version)}, {"paused", FLAG, AT(paused)},
    {"gameTime", U32, AT(game_time)}, {"position", POSITION, 0}, {"speed", NUMBER, AT(speed)},
    {"job", JOB, 0}, {"lastEvent", TEXT, AT(last_event_text)}, {"eventSeq", U32, AT(event_seq)}};
#undef AT
#define COUNT(a) (sizeof a / sizeof *a)

typedef struct {
    const char *start, *p, *end;
    qav_document *doc;
    uint32_t used;               /* bytes of doc->texts taken */
    char keys[QAV_MAX_DOCUMENT]; /* the keys of every open object, unescaped, each after its
                                    length in two bytes: to find one given twice */
    size_t keys_used;
    char broken[96];             /* why the bytes are not one JSON value; "" while they are */
    char wrong[160];             /* the first member missing or of the wrong type */
    int plugin;                  /* "plugin" is "QAV" */
    int object;                  /* the value is an object */
} parser;

/* s as JSON would spell it inside quotes, cut to fit between characters: what the reader says
   never carries a control byte to a terminal. */
static void quote(char *out, size_t cap, const char *s, size_t n)
{
    size_t k = 0;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)s[i];
        size_t len = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4; /* s is UTF-8 */
        if (k + len + 7 > cap) break;
        if (c == '"' || c == '\\') k += (size_t)sprintf(out + k, "\\%c", c);
        else if (c < 0x20 || c == 0x7F) k += (size_t)sprintf(out + k, "\\u%04x", c);
        else for (size_t b = 0; b < len; b++) out[k++] = s[i + b];
        i += len - 1;
    }
    out[k] = '\0';
}

static int broken(parser *P, const char *why)
{
    if (P->broken[0] == '\0')
        snprintf(P->broken, sizeof P->broken, "%s at byte %lu", why, (unsigned long)(P->p - P->start));
    return 0;
}

static void note(parser *P, const char *format, ...)
{
    va_list args;
    if (P->wrong[0] != '\0') return;
    va_start(args, format);
    vsnprintf(P->wrong, sizeof P->wrong, format, args);
    va_end(args);
}

/* Valid UTF-8 only: no overlong form, no surrogate, nothing past U+10FFFF. */
static size_t utf8_bad(const unsigned char *s, size_t n)
{
    for (size_t i = 0; i < n;) {
        unsigned c = s[i], len = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
        unsigned long cp = c & (0x7F >> len);
        if (len == 0 || i + len > n) return i + 1;
        for (unsigned k = 1; k < len; k++) {
            if ((s[i + k] & 0xC0) != 0x80) return i + 1;
            cp = cp << 6 | (s[i + k] & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000))) ||
            (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return i + 1;
        i += len;
    }
    return 0;
}

static void space(parser *P)
{
    while (P->p < P->end && (*P->p == ' ' || *P->p == '\t' || *P->p == '\r' || *P->p == '\n')) P->p++;
}

static size_t put_utf8(char *out, size_t n, size_t cap, unsigned long c)
{
    static const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    char b[4];
    size_t len = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    for (size_t i = len - 1; i > 0; i--, c >>= 6) b[i] = (char)(0x80 | (c & 0x3F));
    b[0] = (char)(lead[len] | c);
    for (size_t i = 0; i < len; i++, n++) if (out != NULL && n < cap) out[n] = b[i];
    return n;
}

static int hex4(const char *p, const char *end, unsigned long *c)
{
    *c = 0;
    for (int i = 0; i < 4; i++) {
        char h = p + i < end ? p[i] : 0;
        int d = h >= '0' && h <= '9' ? h - '0' : (h | 0x20) >= 'a' && (h | 0x20) <= 'f'
                ? (h | 0x20) - 'a' + 10 : -1;
        if (d < 0) return 0;
        *c = *c * 16 + (unsigned long)d;
    }
    return 1;
}

/* The string at P->p, unescaped into out (NULL: only checked), its length in *size. */
static int string(parser *P, char *out, size_t cap, size_t *size)
{
    size_t n = 0;
    for (P->p++; P->p < P->end && *P->p != '"'; P->p++) {
        unsigned long c = (unsigned char)*P->p, low;
        if (c < 0x20) return broken(P, "a control byte inside a text");
        if (c != '\\') {
            if (out != NULL && n < cap) out[n] = (char)c; /* UTF-8, checked as a whole before */
            n++;
            continue;
        }
        if (++P->p >= P->end) break;
        switch (*P->p) {
        case '"': case '\\': case '/': c = (unsigned char)*P->p; break;
        case 'b': c = '\b'; break;
        case 'f': c = '\f'; break;
        case 'n': c = '\n'; break;
        case 'r': c = '\r'; break;
        case 't': c = '\t'; break;
        case 'u':
            if (!hex4(P->p + 1, P->end, &c)) return broken(P, "a \\u escape without four hex digits");
            P->p += 4;
            if (c >= 0xD800 && c < 0xE000) { /* only as a pair, high then low */
                if (c >= 0xDC00 || P->end - P->p < 7 || P->p[1] != '\\' || P->p[2] != 'u' ||
                    !hex4(P->p + 3, P->end, &low) || low < 0xDC00 || low >= 0xE000)
                    return broken(P, "a lone surrogate");
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                P->p += 6;
            }
            break;
        default: return broken(P, "an unknown escape");
        }
        n = put_utf8(out, n, cap, c);
    }
    if (P->p >= P->end) return broken(P, "a text without its closing quote");
    P->p++;
    if (out != NULL && n > cap) return broken(P, "a text too long to keep");
    *size = n;
    return 1;
}

/* A number by JSON's grammar; *whole when spelt as digits only. */
static int number(parser *P, int *whole)
{
    const char *p = P->p, *end = P->end;
#define DIGITS(p) ((p) < end && *(p) >= '0' && *(p) <= '9')
    *whole = *p != '-';
    if (*p == '-') p++;
    if (!DIGITS(p)) return broken(P, "a number without digits");
    if (*p == '0') p++;
    else while (DIGITS(p)) p++;
    if (p < end && *p == '.') {
        *whole = 0;
        p++;
        if (!DIGITS(p)) return broken(P, "a number without digits after its point");
        while (DIGITS(p)) p++;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        *whole = 0;
        if (++p < end && (*p == '+' || *p == '-')) p++;
        if (!DIGITS(p)) return broken(P, "a number without digits in its exponent");
        while (DIGITS(p)) p++;
    }
#undef DIGITS
    P->p = p;
    return 1;
}

/* The number as a double whatever the locale's decimal separator: strtod reads it with the
   locale's. */
static double to_double(const char *s, size_t n)
{
    char copy[QAV_MAX_DOCUMENT + 16];
    const char *point = localeconv()->decimal_point;
    size_t k = 0;
    for (size_t i = 0; i < n && k + 8 < sizeof copy; i++) {
        if (s[i] != '.') copy[k++] = s[i];
        else for (const char *d = point; *d != '\0' && k + 8 < sizeof copy; d++) copy[k++] = *d;
    }
    copy[k] = '\0';
    return strtod(copy, NULL);
}

static int value(parser *P, int depth, const member *m, const char *parent);

/* The object at P->p: each key once, the members of its own into the document, every one
   present. */
static int object(parser *P, int depth, const member *members, size_t count, const char *parent)
{
    size_t mark = P->keys_used;
    unsigned long found = 0;
    P->p++;
    space(P);
    if (P->p < P->end && *P->p == '}') P->p++;
    else for (;;) {
        char *key = P->keys + P->keys_used + 2;
        size_t size = 0;
        const member *m = NULL;
        if (P->p >= P->end || *P->p != '"') return broken(P, "a key is not a text");
        if (P->keys_used + 2 > sizeof P->keys) return broken(P, "too many keys");
        if (!string(P, key, sizeof P->keys - P->keys_used - 2, &size)) return 0;
        for (size_t at = mark; at < P->keys_used;) {
            size_t other = (unsigned char)P->keys[at] | (size_t)(unsigned char)P->keys[at + 1] << 8;
            if (other == size && memcmp(P->keys + at + 2, key, size) == 0) {
                char named[48], why[64];
                quote(named, sizeof named, key, size);
                snprintf(why, sizeof why, "\"%s\" given twice", named);
                return broken(P, why);
            }
            at += 2 + other;
        }
        P->keys[P->keys_used] = (char)(size & 0xFF);
        P->keys[P->keys_used + 1] = (char)(size >> 8);
        P->keys_used += 2 + size;
        for (size_t i = 0; i < count; i++)
            if (strlen(members[i].key) == size && memcmp(members[i].key, key, size) == 0) m = &members[i];
        space(P);
        if (P->p >= P->end || *P->p != ':') return broken(P, "a key without its colon");
        P->p++;
        if (!value(P, depth, m, parent)) return 0;
        if (m != NULL) found |= 1ul << (m - members);
        space(P);
        if (P->p < P->end && *P->p == ',') {
            P->p++;
            space(P);
            continue;
        }
        if (P->p < P->end && *P->p == '}') {
            P->p++;
            break;
        }
        return broken(P, "an object without its comma or closing brace");
    }
    P->keys_used = mark;
    for (size_t i = 0; i < count; i++)
        if (!(found & (1ul << i))) note(P, "%s%s is missing", parent, members[i].key);
    return 1;
}

/* The value at P->p, depth containers deep; the member m, when it is one, into the document.
   Returns 0 when the bytes are not JSON. */
static int value(parser *P, int depth, const member *m, const char *parent)
{
    int type = m != NULL ? m->type : UNKNOWN, whole = 0, fits = 0;
    char *into = m != NULL ? (char *)P->doc + m->at : NULL;
    const char *start;
    space(P);
    if (P->p >= P->end) return broken(P, "a value is missing");
    start = P->p;
    switch (*P->p) {
    case '{': case '[':
        if (depth + 1 > MAX_DEPTH) return broken(P, "nested deeper than 64");
        if (*P->p == '{') {
            if (type == POSITION || type == JOB) {
                P->doc->has_job |= type == JOB;
                return object(P, depth + 1, type == JOB ? job_members : position_members,
                              type == JOB ? COUNT(job_members) : COUNT(position_members),
                              type == JOB ? "job." : "position.");
            }
            if (!object(P, depth + 1, NULL, 0, "")) return 0;
            fits = type == UNKNOWN;
            break;
        }
        for (P->p++, space(P); P->p < P->end && *P->p != ']';) {
            if (!value(P, depth + 1, NULL, "")) return 0;
            space(P);
            if (P->p < P->end && *P->p == ',') {
                P->p++;
                if (space(P), P->p < P->end && *P->p == ']') return broken(P, "a comma before ]");
            } else if (P->p >= P->end || *P->p != ']') {
                return broken(P, "an array without its comma or closing bracket");
            }
        }
        if (P->p >= P->end) return broken(P, "an array without its closing bracket");
        P->p++;
        fits = type == UNKNOWN;
        break;
    case '"': {
        size_t size = 0;
        char *text = P->doc->texts + P->used;
        if (type == TEXT || type == PLUGIN) {
            if (P->used >= sizeof P->doc->texts) return broken(P, "a text too long to keep");
            if (!string(P, text, sizeof P->doc->texts - P->used - 1, &size)) return 0;
            text[size] = '\0';
            if (type == PLUGIN) {
                P->plugin = size == 3 && memcmp(text, "QAV", 3) == 0;
                return 1;
            }
            ((qav_text *)into)->offset = P->used;
            ((qav_text *)into)->length = (uint32_t)size;
            P->used += (uint32_t)size + 1;
            return 1;
        }
        if (!string(P, NULL, 0, &size)) return 0;
        fits = type == UNKNOWN;
        break;
    }
    case '-': case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9':
        if (!number(P, &whole)) return 0;
        if (type == NUMBER) {
            *(double *)into = to_double(start, (size_t)(P->p - start));
            return 1;
        }
        if ((type == U32 || type == U64) && whole) {
            uint64_t max = type == U32 ? UINT32_MAX : UINT64_MAX, n = 0;
            fits = 1;
            for (const char *d = start; d < P->p && fits; d++) {
                unsigned digit = (unsigned)(*d - '0');
                fits = n <= (max - digit) / 10;
                n = n * 10 + digit;
            }
            if (fits && type == U32) *(uint32_t *)into = (uint32_t)n;
            if (fits && type == U64) *(uint64_t *)into = n;
        }
        fits |= type == UNKNOWN;
        break;
    default: {
        static const char *const words[] = {"true", "false", "null"};
        size_t w = 0;
        while (w < 3 && ((size_t)(P->end - P->p) < strlen(words[w]) ||
                         memcmp(P->p, words[w], strlen(words[w])) != 0)) w++;
        if (w == 3) return broken(P, "not JSON");
        P->p += strlen(words[w]);
        if (type == FLAG && w < 2) *(int *)into = w == 0;
        if (type == NUMBER && w == 2) *(double *)into = NAN;
        fits = type == UNKNOWN || (type == FLAG && w < 2) || ((type == NUMBER || type == JOB) && w == 2);
    }
    }
    if (type == PLUGIN) P->plugin = 0;
    else if (!fits) note(P, "%s%s is not %s", parent, m->key, type_names[type]);
    return 1;
}

/* The text cut to fit a fixed array, before any U+0000 and never inside a character. */
static void fixed(char *out, size_t cap, const char *s)
{
    size_t n = strlen(s);
    if (n >= cap) {
        n = cap - 1;
        while (n > 0 && ((unsigned char)s[n] & 0xC0) == 0x80) n--;
    }
    memcpy(out, s, n);
    out[n] = '\0';
}

const char *qav_str(const qav_document *doc, qav_text t)
{
    return t.offset < sizeof doc->texts ? doc->texts + t.offset : "";
}

int qav_parse(const char *text, size_t size, qav_document *doc, char *problem, size_t cap)
{
    parser P;
    size_t bad;
    memset(doc, 0, sizeof *doc);
    doc->position.x = doc->position.y = doc->position.z = doc->speed = doc->job.cargo_mass = NAN;
    P.start = P.p = text;
    P.end = text + size;
    P.doc = doc;
    P.used = 1; /* texts[0] stays the empty text that every absent one points at */
    P.keys_used = 0;
    P.broken[0] = P.wrong[0] = '\0';
    P.plugin = 0;
    if (size > QAV_MAX_DOCUMENT) {
        snprintf(problem, cap, "not a QAV document: larger than %d KiB", QAV_MAX_DOCUMENT / 1024);
        return 0;
    }
    if ((bad = utf8_bad((const unsigned char *)text, size)) != 0) {
        snprintf(problem, cap, "not a QAV document: not UTF-8 at byte %lu", (unsigned long)bad - 1);
        return 0;
    }
    space(&P);
    P.object = P.p < P.end && *P.p == '{';
    if (P.object ? object(&P, 1, document_members, COUNT(document_members), "")
                 : value(&P, 0, NULL, "")) {
        space(&P);
        if (P.p < P.end) broken(&P, "more after the value");
    }
    if (!doc->has_job) memset(&doc->job, 0, sizeof doc->job);
    fixed(doc->version, sizeof doc->version, qav_str(doc, doc->version_text));
    fixed(doc->last_event, sizeof doc->last_event, qav_str(doc, doc->last_event_text));
    if (P.broken[0] != '\0') {
        snprintf(problem, cap, "not a QAV document: not JSON: %s", P.broken);
    } else if (!P.object) {
        snprintf(problem, cap, "not a QAV document: not a JSON object");
    } else if (!P.plugin) {
        snprintf(problem, cap, "not a QAV document: its \"plugin\" is not \"QAV\"");
    } else if (doc->version_text.offset != 0 && strncmp(doc->version, "1.", 2) != 0) {
        char version[64];
        quote(version, sizeof version, qav_str(doc, doc->version_text), doc->version_text.length);
        snprintf(problem, cap, "a QAV document of version %s: this reader knows 1.x only", version);
    } else if (P.wrong[0] != '\0') {
        snprintf(problem, cap, "not a QAV document: %s", P.wrong);
    } else {
        return 1;
    }
    return 0;
}

/* ---- the reader ---- */

static int is_closed_event(const qav_document *d)
{
    return d->last_event_text.length == sizeof CLOSED_EVENT - 1 &&
           memcmp(qav_str(d, d->last_event_text), CLOSED_EVENT, sizeof CLOSED_EVENT - 1) == 0;
}

static int closing_shape(const qav_document *d)
{
    return d->paused && !d->has_job && is_closed_event(d);
}

/* The document the plug-in writes as the host loads it. */
static int load_shape(const qav_document *d)
{
    return d->paused && d->game_time == 0 && !d->has_job && d->last_event_text.length == 0 &&
           d->event_seq == 0;
}

static uint64_t tick(const qav_reader *r) { return r->wine ? prefix_tick_ms() : qav_tick_ms(); }

void qav_reader_init(qav_reader *r, const char *dir)
{
    char found[4096];
    const size_t most = sizeof r->path - sizeof "/telemetry.json";
    memset(r, 0, sizeof *r);
    r->looked = -1;
    r->status.age_ms = -1;
    if (dir == NULL || dir[0] == '\0') {
        if (!qav_find_dir(NULL, found, sizeof found)) {
            snprintf(r->problem, sizeof r->problem,
                     "the system does not say where the data folder is: give it");
            return;
        }
        dir = found;
    }
    size_t n = strlen(dir);
    if (n > most) {
        snprintf(r->problem, sizeof r->problem, "the folder path is too long (%lu bytes, at most %lu)",
                 (unsigned long)n, (unsigned long)most);
        return;
    }
    memcpy(r->path, dir, n);
    r->path[n] = SEPARATOR;
    strcpy(r->path + n + 1, "telemetry.json");
    r->wine = in_wine_prefix(dir);
}

/* Sessions and events per writer, so that two hosts sharing the folder each count their
   own; a new session counts its events afresh. */
static void count(qav_reader *r, const qav_document *d)
{
    qav_writer *w = NULL, *slot = &r->writers[0];
    for (size_t i = 0; i < COUNT(r->writers); i++) {
        if (r->writers[i].seen != 0 && r->writers[i].pid == d->pid) w = &r->writers[i];
        if (r->writers[i].seen < slot->seen) slot = &r->writers[i]; /* free, or seen longest ago */
    }
    int load = load_shape(d);
    uint32_t rise = w != NULL ? d->event_seq - w->event_seq : 0; /* modulo 2^32, across the wrap */
    /* eventSeq falling (a rise of 2^31 or more) is a restart whose load document was missed */
    int fresh = w == NULL || (load && !w->load) || d->written < w->written || rise >= 0x80000000u;
    r->new_session = fresh;
    r->events = fresh ? d->event_seq : rise;
    /* the closing document is paused, has no job and names game.closed without counting it; a
       gameplay event of that name raises eventSeq, and the documents after it keep naming it */
    r->closing = closing_shape(d) && (fresh || (rise == 0 && !w->named_closed));
    /* another writer heard from within the stale age, and not closed since, shares the folder */
    r->shared = 0;
    for (size_t i = 0; i < COUNT(r->writers); i++) {
        const qav_writer *o = &r->writers[i];
        if (o->seen != 0 && o->pid != d->pid && !o->closing &&
            (o->written >= d->written || d->written - o->written < QAV_STALE_MS))
            r->shared = 1;
    }
    if (w == NULL) {
        w = slot;
        w->pid = d->pid;
    }
    if (fresh) w->since = d->written;
    w->event_seq = d->event_seq;
    w->written = d->written;
    w->seen = r->documents + 1;
    w->load = load;
    w->closing = r->closing;
    w->named_closed = is_closed_event(d);
    r->session_written = w->since;
}

int qav_poll(qav_reader *r)
{
    char buf[QAV_MAX_DOCUMENT + 1];
    uint64_t stamp[3];
    qav_document doc;
    long n = -1;
    if (r->path[0] == '\0') { /* the folder was refused: say so once, then nothing to read */
        int first = r->stamp[0] == 0;
        r->stamp[0] = 1;
        return first ? QAV_REFUSED : QAV_SAME;
    }
    if (!stamp_of(r->path, stamp) || memcmp(stamp, r->stamp, sizeof stamp) == 0) return QAV_SAME;
    /* a sharing violation or a file being replaced passes in a few milliseconds */
    for (int attempt = 0; attempt < 5; attempt++, qav_sleep_ms(5)) {
        r->reads++;
        n = read_file(r->path, buf, sizeof buf, stamp);
        if (n > QAV_MAX_DOCUMENT || (n > 0 && buf[n - 1] == '\n')) break;
    }
    if (n < 0) return QAV_SAME;
    memcpy(r->stamp, stamp, sizeof stamp);
    if (n > QAV_MAX_DOCUMENT || n == 0 || buf[n - 1] != '\n') {
        if (n > QAV_MAX_DOCUMENT)
            snprintf(r->problem, sizeof r->problem, "not a QAV document: larger than %d KiB",
                     QAV_MAX_DOCUMENT / 1024);
        else
            snprintf(r->problem, sizeof r->problem,
                     "not a QAV document: it does not end with a line feed (cut short?)");
        return QAV_REFUSED;
    }
    if ((size_t)n == r->size && memcmp(buf, r->bytes, r->size) == 0) return QAV_SAME;
    if (!qav_parse(buf, (size_t)n, &doc, r->problem, sizeof r->problem)) return QAV_REFUSED;
    count(r, &doc);
    memcpy(r->bytes, buf, (size_t)n);
    r->size = (size_t)n;
    r->doc = doc;
    r->documents++;
    return QAV_NEW;
}

/* Whether the status looks at the writer's process: not in a Wine prefix unless told to, and
   never for pid 1, which a host in its own pid namespace writes and which always runs here. */
static int checks_writer(const qav_reader *r)
{
    if (r->doc.pid == 1 || r->check == QAV_AGE_ONLY) return 0;
    return r->check == QAV_CHECK_WRITER || !r->wine;
}

/* The status at now on the writer's clock, runs being what the writer's process said. */
static qav_status status_at(const qav_reader *r, uint64_t now, int runs)
{
    qav_status s = {QAV_WAITING, -1, 0, 0};
    const qav_document *d = &r->doc;
    if (r->size == 0) return s;
    /* a tick from the future was taken before this machine last started */
    int ahead = d->written > now + CLOCK_SLACK_MS;
    s.age_ms = ahead ? -1 : d->written >= now ? 0 : (int64_t)(now - d->written);
    s.writer_checked = checks_writer(r);
    s.shared = r->shared;
    int alive = !s.writer_checked || (runs && !ahead);
    /* a writer that cannot be looked at is taken as gone once it stopped writing */
    int quiet = !s.writer_checked && (ahead || s.age_ms >= QAV_STALE_MS);
    /* a closing document that also wrote a waiting event counted it: once its writer is gone,
       its shape is enough */
    if (r->closing || ((!alive || quiet) && closing_shape(d))) s.kind = QAV_CLOSED;
    else if (!alive) s.kind = QAV_GONE;
    else if (!ahead && s.age_ms < QAV_STALE_MS) s.kind = QAV_LIVE;
    else s.kind = QAV_STALE;
    return s;
}

qav_status qav_get_status(const qav_reader *r)
{
    int runs = r->size > 0 && checks_writer(r) && qav_writer_alive(r->doc.pid, r->session_written);
    return status_at(r, tick(r), runs);
}

const char *qav_status_text(qav_status s, char *out, size_t cap)
{
    static const char *const words[] = {"waiting for the plug-in", "live", "stale", "closed",
                                        "host gone without a closing document"};
    int n = snprintf(out, cap, "%s", words[s.kind <= QAV_GONE ? s.kind : QAV_WAITING]);
    if (s.kind == QAV_STALE && s.age_ms >= 0 && n >= 0 && (size_t)n < cap)
        n += snprintf(out + n, cap - (size_t)n, " %lld s", (long long)(s.age_ms / 1000));
    if (s.kind != QAV_WAITING && !s.writer_checked && n >= 0 && (size_t)n < cap)
        n += snprintf(out + n, cap - (size_t)n, " (writer not checked)");
    if (s.kind != QAV_WAITING && s.shared && n >= 0 && (size_t)n < cap)
        snprintf(out + n, cap - (size_t)n, " (two writers share this folder)");
    return out;
}

const char *qav_verdict(const qav_reader *r, char *out, size_t cap)
{
    return qav_status_text(qav_get_status(r), out, cap);
}

int qav_wait(qav_reader *r, unsigned timeout_ms)
{
    uint64_t start = qav_tick_ms();
    for (;;) {
        int got = qav_poll(r);
        uint64_t now = tick(r), spent;
        if (got == QAV_NEW) r->looked = -1;
        /* the stale boundary comes from the clock; the process is looked at once a second */
        if (r->size > 0 && checks_writer(r) && (r->looked < 0 || now - r->looked_at >= LOOK_EVERY_MS)) {
            r->looked = qav_writer_alive(r->doc.pid, r->session_written);
            r->looked_at = now;
        }
        qav_status s = status_at(r, now, r->looked > 0);
        int changed = s.kind != r->status.kind || s.writer_checked != r->status.writer_checked ||
                      s.shared != r->status.shared;
        if (got != QAV_SAME || changed) {
            r->status = s;
            return got != QAV_SAME ? got : QAV_STATUS;
        }
        r->status.age_ms = s.age_ms;
        if ((spent = qav_tick_ms() - start) >= timeout_ms) return QAV_SAME;
        qav_sleep_ms(timeout_ms - spent < WAIT_STEP_MS ? (unsigned)(timeout_ms - spent) : WAIT_STEP_MS);
    }
}
