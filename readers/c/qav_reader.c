/* The reader's guide (docs/telemetry.md) as code: find the file, read it without getting in
   the plug-in's way, and judge what the documents say about their writer. */
#if !defined(_WIN32) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 200809L
#endif
#include "qav_reader.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define CLOCK_SLACK_MS 100 /* process start times and ticks are both a few ms coarse */

#ifdef _WIN32
#include <windows.h>

static int widen(const char *s, wchar_t *out, int cap)
{
    return MultiByteToWideChar(CP_UTF8, 0, s, -1, out, cap) > 0;
}

int qav_find_dir(const char *given, char *out, size_t cap)
{
    const wchar_t *base = _wgetenv(L"LOCALAPPDATA");
    if (given != NULL) return snprintf(out, cap, "%s", given) < (int)cap;
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
    return 1;
}

/* Bytes read, or -1 to try again (missing, or held by someone who does not share). */
static long read_file(const char *path, char *buf, size_t cap)
{
    wchar_t wide[1024];
    DWORD total = 0, got = 0;
    if (!widen(path, wide, 1024)) return -1;
    HANDLE h = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return -1;
    while (total < cap && ReadFile(h, buf + total, (DWORD)(cap - total), &got, NULL) && got > 0)
        total += got;
    CloseHandle(h); /* at once: the plug-in's next rename must not find it open */
    return (long)total;
}

uint64_t qav_tick_ms(void) { return GetTickCount64(); }
void qav_sleep_ms(unsigned ms) { Sleep(ms); }

int qav_writer_alive(uint32_t pid, uint64_t written)
{
    FILETIME created, exited, kernel, user, now;
    DWORD code = 0;
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
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

int qav_find_dir(const char *given, char *out, size_t cap)
{
    const char *xdg = getenv("XDG_DATA_HOME"), *home = getenv("HOME");
    if (given != NULL) return snprintf(out, cap, "%s", given) < (int)cap;
    if (xdg != NULL && xdg[0] == '/') return snprintf(out, cap, "%s/QAV", xdg) < (int)cap;
    if (home == NULL || home[0] == '\0') return 0;
    return snprintf(out, cap, "%s/.local/share/QAV", home) < (int)cap;
}

/* Every replace brings a new file: its number tells it even within one clock step. */
static int stamp_of(const char *path, uint64_t stamp[3])
{
    struct stat s;
    if (stat(path, &s) != 0) return 0;
#ifdef __APPLE__
    stamp[0] = (uint64_t)s.st_mtime; /* in seconds: the file number tells a replace */
#else
    stamp[0] = (uint64_t)s.st_mtim.tv_sec * 1000000000u + (uint64_t)s.st_mtim.tv_nsec;
#endif
    stamp[1] = (uint64_t)s.st_size;
    stamp[2] = (uint64_t)s.st_ino;
    return S_ISREG(s.st_mode); /* never open a FIFO someone left there: it would block */
}

static long read_file(const char *path, char *buf, size_t cap)
{
    FILE *f = fopen(path, "rb");
    if (f == NULL) return -1;
    size_t total = fread(buf, 1, cap, f);
    fclose(f);
    return (long)total;
}

static uint64_t clock_ms(clockid_t id)
{
    struct timespec t;
    clock_gettime(id, &t);
    return (uint64_t)t.tv_sec * 1000u + (uint64_t)t.tv_nsec / 1000000u;
}

uint64_t qav_tick_ms(void) { return clock_ms(CLOCK_MONOTONIC); }

void qav_sleep_ms(unsigned ms)
{
    struct timespec t = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}

int qav_writer_alive(uint32_t pid, uint64_t written)
{
    char path[64], line[1024];
    unsigned long long start = 0;
    snprintf(path, sizeof path, "/proc/%u/stat", (unsigned)pid);
    FILE *f = fopen(path, "r");
    if (f == NULL) return kill((pid_t)pid, 0) == 0 || errno == EPERM; /* no /proc: pid alone */
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

/* ---- the document: a JSON object, read for the members a reader needs ---- */

static const char *skip_space(const char *p, const char *end)
{
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')) p++;
    return p;
}

static size_t put_utf8(char *out, size_t n, size_t cap, unsigned long c)
{
    static const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    char b[4];
    size_t len = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    for (size_t i = len - 1; i > 0; i--, c >>= 6) b[i] = (char)(0x80 | (c & 0x3F));
    b[0] = (char)(lead[len] | c);
    for (size_t i = 0; i < len; i++, n++) if (out != NULL && n + 1 < cap) out[n] = b[i];
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

/* The string at p, decoded into out (cut to cap, may be NULL); past its quote, or NULL. */
static const char *string_at(const char *p, const char *end, char *out, size_t cap)
{
    size_t n = 0;
    if (p >= end || *p != '"') return NULL;
    for (p++; p < end && *p != '"'; p++) {
        unsigned long c = (unsigned char)*p, low;
        if (c < 0x20) return NULL;
        if (c == '\\') {
            if (++p >= end) return NULL;
            switch (*p) {
            case '"': case '\\': case '/': c = (unsigned char)*p; break;
            case 'b': c = '\b'; break;
            case 'f': c = '\f'; break;
            case 'n': c = '\n'; break;
            case 'r': c = '\r'; break;
            case 't': c = '\t'; break;
            case 'u':
                if (!hex4(p + 1, end, &c)) return NULL;
                p += 4;
                if (c >= 0xD800 && c < 0xDC00 && end - p > 6 && p[1] == '\\' && p[2] == 'u' &&
                    hex4(p + 3, end, &low) && low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    p += 6;
                }
                break;
            default: return NULL;
            }
            n = put_utf8(out, n, cap, c);
        } else {
            if (out != NULL && n + 1 < cap) out[n] = (char)c; /* UTF-8 as it stands */
            n++;
        }
    }
    if (out != NULL && cap > 0) out[n < cap ? n : cap - 1] = '\0';
    return p < end ? p + 1 : NULL;
}

/* Past the value at p (any JSON value, nested at most 32 deep), or NULL. */
static const char *value_end(const char *p, const char *end, int depth)
{
    p = skip_space(p, end);
    if (p >= end || depth > 32) return NULL;
    if (*p == '"') return string_at(p, end, NULL, 0);
    if (*p == '{' || *p == '[') {
        char close = *p == '{' ? '}' : ']';
        p = skip_space(p + 1, end);
        if (p < end && *p == close) return p + 1;
        for (;;) {
            if (close == '}') {
                p = string_at(skip_space(p, end), end, NULL, 0);
                if (p == NULL || (p = skip_space(p, end)) >= end || *p++ != ':') return NULL;
            }
            if ((p = value_end(p, end, depth + 1)) == NULL) return NULL;
            p = skip_space(p, end);
            if (p < end && *p == ',') { p++; continue; }
            return p < end && *p == close ? p + 1 : NULL;
        }
    }
    const char *start = p;
    while (p < end && *p != '\0' && strchr("0123456789+-.eEtruefalsn", *p) != NULL) p++;
    return p > start ? p : NULL;
}

/* A whole number from 0 to max, digits only: exact, never through a double. */
static int whole_at(const char *p, const char *end, uint64_t max, uint64_t *out)
{
    *out = 0;
    if (p >= end || *p < '0' || *p > '9') return 0;
    for (; p < end && *p >= '0' && *p <= '9'; p++) {
        unsigned d = (unsigned)(*p - '0');
        if (*out > (max - d) / 10) return 0;
        *out = *out * 10 + d;
    }
    return p == end || strchr(",} \t\r\n", *p) != NULL;
}

int qav_parse(const char *text, size_t size, qav_document *doc, char *problem, size_t cap)
{
    const char *p = skip_space(text, text + size), *end = text + size;
    char key[32], plugin[8] = "";
    uint64_t pid = 0, seq = 0;
    int found = 0; /* one bit per member this reader needs */
    memset(doc, 0, sizeof *doc);
    if (value_end(p, end, 0) == NULL || skip_space(value_end(p, end, 0), end) != end || *p != '{') {
        snprintf(problem, cap, "not a QAV document: not a JSON object");
        return 0;
    }
    for (p = skip_space(p + 1, end); p < end && *p == '"';) {
        p = skip_space(string_at(p, end, key, sizeof key), end) + 1;
        const char *v = skip_space(p, end);
        if (!strcmp(key, "plugin") && string_at(v, end, plugin, sizeof plugin)) found |= 1;
        if (!strcmp(key, "version") && string_at(v, end, doc->version, sizeof doc->version)) found |= 2;
        if (!strcmp(key, "pid") && whole_at(v, end, UINT32_MAX, &pid)) found |= 4;
        if (!strcmp(key, "written") && whole_at(v, end, UINT64_MAX, &doc->written)) found |= 8;
        if (!strcmp(key, "paused") && (!strncmp(v, "true", 4) || !strncmp(v, "false", 5))) {
            doc->paused = *v == 't';
            found |= 16;
        }
        if (!strcmp(key, "job")) doc->has_job = *v == '{';
        if (!strcmp(key, "lastEvent") && string_at(v, end, doc->last_event, sizeof doc->last_event))
            found |= 32;
        if (!strcmp(key, "eventSeq") && whole_at(v, end, UINT32_MAX, &seq)) found |= 64;
        p = skip_space(skip_space(value_end(v, end, 1), end) + 1, end);
    }
    doc->pid = (uint32_t)pid;
    doc->event_seq = (uint32_t)seq;
    if (!(found & 1) || strcmp(plugin, "QAV") != 0) {
        snprintf(problem, cap, "not a QAV document: its \"plugin\" is not \"QAV\"");
    } else if (!(found & 2) || strncmp(doc->version, "1.", 2) != 0) {
        snprintf(problem, cap, "a QAV document of version %s: this reader knows 1.x only",
                 (found & 2) ? doc->version : "(none)");
    } else if (found != 127) {
        snprintf(problem, cap, "not a QAV document: pid, written, paused, lastEvent or eventSeq "
                               "is missing or of the wrong type");
    } else return 1;
    return 0;
}

/* ---- the reader ---- */

static int closing_shape(const qav_document *d)
{
    return d->paused && !d->has_job && !strcmp(d->last_event, "game.closed");
}

void qav_reader_init(qav_reader *r, const char *dir)
{
    memset(r, 0, sizeof *r);
#ifdef _WIN32
    snprintf(r->path, sizeof r->path, "%s\\telemetry.json", dir);
#else
    snprintf(r->path, sizeof r->path, "%s/telemetry.json", dir);
#endif
}

int qav_poll(qav_reader *r)
{
    char buf[QAV_MAX_DOCUMENT + 1];
    uint64_t stamp[3];
    qav_document doc;
    long n = -1;
    if (!stamp_of(r->path, stamp) || memcmp(stamp, r->stamp, sizeof stamp) == 0) return QAV_SAME;
    /* a sharing violation or a file being replaced passes in a few milliseconds */
    for (int attempt = 0; attempt < 5; attempt++, qav_sleep_ms(5)) {
        r->reads++;
        n = read_file(r->path, buf, sizeof buf);
        if (n > 0 && buf[n - 1] == '\n') break;
    }
    if (n < 0) return QAV_SAME;
    memcpy(r->stamp, stamp, sizeof stamp);
    if (n > QAV_MAX_DOCUMENT || n == 0 || buf[n - 1] != '\n') {
        snprintf(r->problem, sizeof r->problem, n > QAV_MAX_DOCUMENT
                     ? "not a QAV document: larger than 8 KiB"
                     : "not a QAV document: it does not end with a line feed (cut short?)");
        return QAV_REFUSED;
    }
    if ((size_t)n == r->size && memcmp(buf, r->bytes, r->size) == 0) return QAV_SAME;
    if (!qav_parse(buf, (size_t)n, &doc, r->problem, sizeof r->problem)) return QAV_REFUSED;

    /* a new pid, or a load document (no event yet, eventSeq back at 0), starts a session */
    int fresh = r->size == 0 || doc.pid != r->doc.pid ||
                (doc.event_seq == 0 && doc.last_event[0] == '\0');
    uint32_t before = fresh ? 0 : r->doc.event_seq;
    r->events = doc.event_seq - before; /* unsigned: modulo 2^32, across the wrap */
    if (fresh) r->session_written = doc.written;
    /* the closing document is paused, has no job and names game.closed without counting it; a
       gameplay event of that name raises eventSeq, and the documents after it keep naming it */
    r->closing = closing_shape(&doc) &&
                 (fresh || (r->events == 0 && strcmp(r->doc.last_event, "game.closed") != 0));
    memcpy(r->bytes, buf, (size_t)n);
    r->size = (size_t)n;
    r->doc = doc;
    r->documents++;
    return QAV_NEW;
}

const char *qav_verdict(const qav_reader *r, char *out, size_t cap)
{
    uint64_t now = qav_tick_ms();
    /* a tick from the future was taken before this machine last started */
    int alive = r->size > 0 && r->doc.written <= now + CLOCK_SLACK_MS &&
                qav_writer_alive(r->doc.pid, r->session_written);
    if (r->size == 0) snprintf(out, cap, "waiting for the plug-in");
    /* a closing document that also wrote a waiting event counted it: once its writer is gone,
       its shape is enough */
    else if (r->closing || (!alive && closing_shape(&r->doc)))
        snprintf(out, cap, "closed");
    else if (!alive) snprintf(out, cap, "host gone without a closing document");
    else if (now < r->doc.written + QAV_STALE_MS) snprintf(out, cap, "live");
    else snprintf(out, cap, "stale %llu s", (unsigned long long)((now - r->doc.written) / 1000));
    return out;
}
