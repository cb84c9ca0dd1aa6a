/* What a reader can get wrong, against fabricated documents, the readers' shared tables and
   the recordings in docs/recordings (POSIX):
   qav_reader_test RECORDINGS_DIR TABLES_DIR QAV_READER_COMMAND. Built with the reader's own
   source, for its JSON parser and its judgement at a given moment. */
#include "../qav_reader.c"

#include <sys/wait.h>

static int failures;
static char dir[64];
static qav_reader r;

#define CHECK(cond, ...) \
    do { if (!(cond)) { failures++; printf("FAILED %s:%d: ", __FILE__, __LINE__); \
         printf(__VA_ARGS__); printf("\n"); } } while (0)

/* As the plug-in does: whole into the temp file, then renamed over the document. */
static void publish(const char *data, size_t size)
{
    char tmp[1040];
    snprintf(tmp, sizeof tmp, "%s.tmp", r.path);
    FILE *f = fopen(tmp, "wb");
    fwrite(data, 1, size, f);
    fclose(f);
    rename(tmp, r.path);
}

/* The test's folder, emptied, and a reader that has read nothing. */
static void fresh_folder(void)
{
    snprintf(dir, sizeof dir, "/tmp/qav_reader_test.%d", (int)getpid());
    mkdir(dir, 0700);
    qav_reader_init(&r, dir);
    unlink(r.path);
    rmdir(r.path);
}

static uint32_t dead_pid(void)
{
    pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, NULL, 0);
    return (uint32_t)child;
}

/* The plug-in's document without a job, with these members; event as JSON spells it. */
static size_t full_document(char *out, uint32_t pid, uint64_t written, const char *event,
                            uint32_t seq, int paused)
{
    return (size_t)sprintf(out, "{\"plugin\":\"QAV\",\"version\":\"1.0.0\",\"pid\":%u,\"written\":%llu,"
                           "\"game\":\"haulsim\",\"gameVersion\":\"1.18\",\"paused\":%s,\"gameTime\":0,"
                           "\"position\":{\"x\":-3120.50,\"y\":42.25,\"z\":1284.65},\"speed\":4.03,"
                           "\"job\":null,\"lastEvent\":\"%s\",\"eventSeq\":%u}\n", (unsigned)pid,
                           (unsigned long long)written, paused ? "true" : "false", event, (unsigned)seq);
}

static size_t document(char *out, uint32_t pid, uint64_t written, const char *event, uint32_t seq)
{
    return full_document(out, pid, written, event, seq, strcmp(event, CLOSED_EVENT) == 0);
}

/* ---- the tables' JSON, read with the reader's own scanner ---- */

static parser scan;

static void scan_at(const char *p, const char *end)
{
    static qav_document scratch;
    memset(&scan, 0, sizeof scan);
    scan.start = scan.p = p;
    scan.end = end;
    scan.doc = &scratch;
}

/* The value of key in the object at p (or, key NULL, of its index-th member, its key into
   name), or NULL. */
static const char *member_at(const char *p, const char *end, const char *key, int index, char *name)
{
    char own[64];
    size_t size;
    name = name != NULL ? name : own;
    scan_at(p + 1, end);
    for (space(&scan); scan.p < end && *scan.p == '"'; space(&scan), index--) {
        if (!string(&scan, name, 63, &size)) return NULL;
        name[size] = '\0';
        space(&scan);
        scan.p++;
        space(&scan);
        if (key != NULL ? size == strlen(key) && memcmp(name, key, size) == 0 : index == 0) return scan.p;
        if (!value(&scan, 1, NULL, "")) return NULL;
        space(&scan);
        if (*scan.p == ',') scan.p++;
    }
    return NULL;
}

static const char *member_of(const char *p, const char *end, const char *key)
{
    return member_at(p, end, key, 0, NULL);
}

/* The i-th value of the array at p (its first with i 0), or NULL. */
static const char *nth(const char *p, const char *end, int i)
{
    scan_at(p + 1, end);
    for (space(&scan); i > 0 && scan.p < end && *scan.p != ']'; i--) {
        if (!value(&scan, 1, NULL, "")) return NULL;
        space(&scan);
        scan.p += *scan.p == ',';
        space(&scan);
    }
    return scan.p < end && *scan.p != ']' ? scan.p : NULL;
}

/* The text at p, unescaped, its length returned. */
static size_t text_at(const char *p, const char *end, char *out, size_t cap)
{
    size_t size = 0;
    scan_at(p, end);
    return p != NULL && *p == '"' && string(&scan, out, cap - 1, &size) ? (out[size] = '\0', size) : 0;
}

/* The member at path of the document, as the table spells its expected value: integers and
   texts as the text, true, false and null as the word. */
static size_t rendered(const qav_document *d, const char *path, char *out, size_t cap)
{
    const member *table = document_members, *m = NULL;
    size_t count = COUNT(document_members);
    if (strncmp(path, "job.", 4) == 0 || strncmp(path, "position.", 9) == 0) {
        table = path[0] == 'j' ? job_members : position_members;
        count = path[0] == 'j' ? COUNT(job_members) : COUNT(position_members);
        path = strchr(path, '.') + 1;
    }
    for (size_t i = 0; i < count; i++) if (strcmp(table[i].key, path) == 0) m = &table[i];
    const char *at = m != NULL ? (const char *)d + m->at : NULL;
    switch (m != NULL ? m->type : UNKNOWN) {
    case TEXT: {
        qav_text t = *(const qav_text *)at;
        memcpy(out, qav_str(d, t), t.length < cap ? t.length : cap);
        return t.length;
    }
    case U32: return (size_t)snprintf(out, cap, "%lu", (unsigned long)*(const uint32_t *)at);
    case U64: return (size_t)snprintf(out, cap, "%llu", (unsigned long long)*(const uint64_t *)at);
    case FLAG: return (size_t)snprintf(out, cap, "%s", *(const int *)at ? "true" : "false");
    case NUMBER: return isnan(*(const double *)at) ? (size_t)snprintf(out, cap, "null")
                                                   : (size_t)snprintf(out, cap, "%.17g", *(const double *)at);
    case JOB: return (size_t)snprintf(out, cap, "%s", d->has_job ? "{}" : "null");
    default: return (size_t)snprintf(out, cap, "(no member %s)", path);
    }
}

/* readers/tests/documents.jsonl: every row accepted with its values, or refused. */
static void documents_table(const char *tables)
{
    static char line[65536], bytes[QAV_MAX_DOCUMENT * 2], name[256], path[64], want[1024], got[1024];
    char file[512];
    snprintf(file, sizeof file, "%s/documents.jsonl", tables);
    FILE *f = fopen(file, "rb");
    CHECK(f != NULL, "%s cannot be read", file);
    for (int rows = 0; f != NULL && fgets(line, sizeof line, f) != NULL; rows++) {
        const char *end = line + strlen(line), *hex = member_of(line, end, "hex"), *v;
        size_t size = 0;
        text_at(member_of(line, end, "name"), end, name, sizeof name);
        if (hex != NULL)
            for (unsigned byte; sscanf(hex + 1 + 2 * size, "%2x", &byte) == 1; size++) bytes[size] = (char)byte;
        else
            size = text_at(member_of(line, end, "text"), end, bytes, sizeof bytes);
        int accept = *member_of(line, end, "accept") == 't';
        fresh_folder();
        publish(bytes, size);
        int result = qav_poll(&r);
        CHECK(result == (accept ? QAV_NEW : QAV_REFUSED), "documents.jsonl \"%s\": %s", name,
              result == QAV_NEW ? "accepted" : r.problem);
        const char *values = accept ? member_of(line, end, "values") : NULL;
        for (int i = 0; result == QAV_NEW && values != NULL && (v = member_at(values, end, NULL, i, path)) != NULL; i++) {
            size_t wanted = *v == '"' ? text_at(v, end, want, sizeof want)
                          : (size_t)sprintf(want, "%.*s", *v == 'f' ? 5 : 4, v); /* true, false, null */
            size_t have = rendered(&r.doc, path, got, sizeof got);
            CHECK(have == wanted && memcmp(got, want, have < sizeof got ? have : sizeof got) == 0,
                  "documents.jsonl \"%s\": %s is %.*s (%lu bytes), not %s", name, path, (int)have, got,
                  (unsigned long)have, want);
        }
    }
    if (f != NULL) fclose(f);
}

/* readers/tests/sessions.jsonl: events, sessions, closing and sharing, document by document. */
static void sessions_table(const char *tables)
{
    static char line[65536], name[256], event[64], quoted[128], text[QAV_MAX_DOCUMENT];
    const char *const checks[] = {"events", "newSession", "closing", "shared"};
    char file[512];
    snprintf(file, sizeof file, "%s/sessions.jsonl", tables);
    FILE *f = fopen(file, "rb");
    CHECK(f != NULL, "%s cannot be read", file);
    while (f != NULL && fgets(line, sizeof line, f) != NULL) {
        const char *end = line + strlen(line), *docs = member_of(line, end, "documents"), *d;
        text_at(member_of(line, end, "name"), end, name, sizeof name);
        fresh_folder();
        for (int i = 0; (d = nth(docs, end, i)) != NULL; i++) {
            const char *at = d;
            uint32_t pid = (uint32_t)strtoul(member_of(at, end, "pid"), NULL, 10);
            uint64_t written = strtoull(member_of(at, end, "written"), NULL, 10);
            uint32_t seq = (uint32_t)strtoul(member_of(at, end, "eventSeq"), NULL, 10);
            int paused = *member_of(at, end, "paused") == 't';
            text_at(member_of(at, end, "lastEvent"), end, event, sizeof event);
            quote(quoted, sizeof quoted, event, strlen(event));
            publish(text, full_document(text, pid, written, quoted, seq, paused));
            CHECK(qav_poll(&r) == QAV_NEW, "sessions.jsonl \"%s\": document %d not read", name, i + 1);
            unsigned long got[] = {r.events, (unsigned long)r.new_session, (unsigned long)r.closing,
                                   (unsigned long)qav_get_status(&r).shared};
            for (int k = 0; k < 4; k++) {
                const char *want = nth(member_of(line, end, checks[k]), end, i);
                unsigned long expected = k == 0 ? strtoul(want, NULL, 10) : *want == 't';
                CHECK(got[k] == expected, "sessions.jsonl \"%s\": document %d: %s %lu, not %lu", name,
                      i + 1, checks[k], got[k], expected);
            }
        }
    }
    if (f != NULL) fclose(f);
}

/* Replays a recording's documents into a fresh folder, each pid replaced by one that has
   exited; the events of each document into events, their count returned. */
static int replay(const char *recordings, const char *name, uint32_t *events)
{
    static char line[65536], text[QAV_MAX_DOCUMENT], edited[QAV_MAX_DOCUMENT + 16];
    char path[512];
    uint32_t recorded[2] = {0, 0}, dead[2] = {dead_pid(), dead_pid()};
    int n = 0;
    snprintf(path, sizeof path, "%s/%s.jsonl", recordings, name);
    FILE *f = fopen(path, "rb");
    CHECK(f != NULL, "%s cannot be read", path);
    fresh_folder();
    while (f != NULL && fgets(line, sizeof line, f) != NULL) {
        const char *end = line + strlen(line), *at = member_of(line, end, "document");
        qav_document doc;
        char problem[200];
        if (at == NULL || text_at(at, end, text, sizeof text) == 0) break;
        CHECK(qav_parse(text, strlen(text), &doc, problem, sizeof problem), "%s: %s", name, problem);
        int which = recorded[0] == 0 || recorded[0] == doc.pid ? 0 : 1;
        recorded[which] = doc.pid;
        char *rest = strstr(text, ",\"written\"");
        int head = sprintf(edited, "{\"plugin\":\"QAV\",\"version\":\"1.0.0\",\"pid\":%u", dead[which]);
        memcpy(edited + head, rest, strlen(rest) + 1);
        publish(edited, strlen(edited));
        CHECK(qav_poll(&r) == QAV_NEW && r.doc.written == doc.written, "%s: document %d", name, n + 1);
        events[n++ % 64] = r.events;
    }
    if (f != NULL) fclose(f);
    return n;
}

/* The judgement at a given moment: the stale boundary, the clock's slack, and who is checked. */
static void status_table(void)
{
    enum { W = 1000000 };
    static const struct {
        uint32_t pid;
        int check, wine, closing_after_event, runs;
        int64_t after; /* now - written */
        qav_kind kind;
        int64_t age;
        int checked;
    } rows[] = {
        {42, QAV_CHECK_AUTO, 0, 0, 1, 2999, QAV_LIVE, 2999, 1},
        {42, QAV_CHECK_AUTO, 0, 0, 1, 3000, QAV_STALE, 3000, 1},
        {42, QAV_CHECK_AUTO, 0, 0, 1, -100, QAV_LIVE, 0, 1},   /* stamped within the slack */
        {42, QAV_CHECK_AUTO, 0, 0, 1, -101, QAV_GONE, -1, 1},  /* before this machine started */
        {42, QAV_AGE_ONLY, 0, 0, 1, -101, QAV_STALE, -1, 0},
        {42, QAV_CHECK_AUTO, 1, 0, 0, 10, QAV_LIVE, 10, 0},    /* a Wine prefix: its pids are not ours */
        {42, QAV_CHECK_WRITER, 1, 0, 0, 10, QAV_GONE, 10, 1},
        {1, QAV_CHECK_WRITER, 0, 0, 0, 10, QAV_LIVE, 10, 0},   /* a host in its own pid namespace */
        /* a closing document after an event, its writer unseen: closed once nothing followed it
           for the stale age */
        {42, QAV_CHECK_AUTO, 1, 1, 0, 2999, QAV_LIVE, 2999, 0},
        {42, QAV_CHECK_AUTO, 1, 1, 0, 3000, QAV_CLOSED, 3000, 0},
    };
    char text[QAV_MAX_DOCUMENT];
    for (size_t i = 0; i < COUNT(rows); i++) {
        fresh_folder();
        publish(text, document(text, rows[i].pid, W - 500, "toll.paid", 4));
        qav_poll(&r);
        publish(text, document(text, rows[i].pid, W, rows[i].closing_after_event ? CLOSED_EVENT : "toll.paid",
                               rows[i].closing_after_event ? 5 : 4));
        qav_poll(&r);
        r.check = rows[i].check;
        r.wine = rows[i].wine;
        qav_status s = status_at(&r, (uint64_t)(W + rows[i].after), rows[i].runs);
        CHECK(s.kind == rows[i].kind && s.age_ms == rows[i].age && s.writer_checked == rows[i].checked,
              "status row %lu: kind %d, age %lld, checked %d", (unsigned long)i, (int)s.kind,
              (long long)s.age_ms, s.writer_checked);
    }

    static const struct { qav_status s; const char *text; } texts[] = {
        {{QAV_STALE, 5999, 1, 0}, "stale 5 s"},
        {{QAV_STALE, -1, 0, 0}, "stale (writer not checked)"},
        {{QAV_LIVE, 0, 0, 1}, "live (writer not checked) (two writers share this folder)"}};
    for (size_t i = 0; i < COUNT(texts); i++) {
        char out[128];
        CHECK(strcmp(qav_status_text(texts[i].s, out, sizeof out), texts[i].text) == 0, "status text: %s", out);
    }
}

/* Pids that are never a live writer, whatever kill() would say of them. */
static void writer_table(void)
{
    uint64_t now = qav_tick_ms();
    static const struct { uint32_t pid; int alive; } rows[] = {
        {0, 0}, {4194305u, 0}, {1, 1}};
    for (size_t i = 0; i < COUNT(rows); i++)
        CHECK(qav_writer_alive(rows[i].pid, now) == rows[i].alive, "pid %lu", (unsigned long)rows[i].pid);
}

/* Which folders are inside a Wine prefix: a drive_c above, beside a regular system.reg. */
static void wine_table(void)
{
    static const struct { const char *make, *folder; int wine; } rows[] = {
        {"touch pfx/system.reg", "pfx/drive_c/users/u/AppData/Local/QAV", 1},
        {"touch pfx/system.reg", "pfx/drive_c/users/u/AppData/Local/QAV/not-yet", 1},
        {"touch pfx/system.reg", "link/AppData/Local/QAV", 1}, /* a link into the prefix, resolved */
        {"touch pfx/system.reg", "pfx/notdrive_c/QAV", 0},
        {"mkdir pfx/system.reg", "pfx/drive_c/users/u/AppData/Local/QAV", 0},
        {"mkdir pfx/dosdevices", "pfx/drive_c/users/u/AppData/Local/QAV", 1}, /* a prefix not saved yet */
    };
    char cwd[1024], base[64], command[512];
    snprintf(base, sizeof base, "/tmp/qav_reader_test.%d.wine", (int)getpid());
    CHECK(getcwd(cwd, sizeof cwd) != NULL, "no working folder");
    for (size_t i = 0; i < COUNT(rows); i++) {
        snprintf(command, sizeof command, "rm -rf %s && mkdir -p %s/pfx/drive_c/users/u/AppData/Local/QAV "
                 "%s/pfx/notdrive_c/QAV && cd %s && ln -s pfx/drive_c/users/u link && %s", base, base, base,
                 base, rows[i].make);
        CHECK(system(command) == 0 && chdir(base) == 0, "%s", command);
        qav_reader_init(&r, rows[i].folder);
        CHECK(r.wine == rows[i].wine, "wine row %lu: %s", (unsigned long)i, rows[i].folder);
        CHECK(chdir(cwd) == 0, "%s", cwd);
    }
    snprintf(command, sizeof command, "rm -rf %s", base);
    CHECK(system(command) == 0, "%s", command);
}

/* The folder given: "" is the data folder; one too long is refused, once. */
static void folder_table(void)
{
    static char long_name[2001];
    memset(long_name, 'a', 2000);
    setenv("XDG_DATA_HOME", "/tmp/qav-data", 1);
    const struct { const char *given, *path, *problem; int polls[2]; } rows[] = {
        {"", "/tmp/qav-data/QAV/telemetry.json", "", {QAV_SAME, QAV_SAME}},
        {NULL, "/tmp/qav-data/QAV/telemetry.json", "", {QAV_SAME, QAV_SAME}},
        {long_name, "", "the folder path is too long (2000 bytes, at most 1008)", {QAV_REFUSED, QAV_SAME}},
    };
    for (size_t i = 0; i < COUNT(rows); i++) {
        qav_reader_init(&r, rows[i].given);
        int first = qav_poll(&r), second = qav_poll(&r);
        CHECK(strcmp(r.path, rows[i].path) == 0 && strcmp(r.problem, rows[i].problem) == 0 &&
              first == rows[i].polls[0] && second == rows[i].polls[1],
              "folder row %lu: \"%s\", \"%s\", %d %d", (unsigned long)i, r.path, r.problem, first, second);
    }
}

/* What is not a regular file is never read, and never waited on. */
static void not_a_file(void)
{
    char buf[16];
    uint64_t stamp[3];
    fresh_folder();
    CHECK(mkfifo(r.path, 0600) == 0, "%s", r.path);
    CHECK(qav_poll(&r) == QAV_SAME && read_file(r.path, buf, sizeof buf, stamp) == -1, "a fifo read");
    unlink(r.path);
}

/* The command: usage errors, a stop by SIGTERM, and a verdict line only when it changes. */
static void command_table(const char *command)
{
    char out[256], stale[QAV_MAX_DOCUMENT], text[8192];
    fresh_folder();
    publish(stale, document(stale, dead_pid(), qav_tick_ms() - 5000, "toll.paid", 4)); /* gone, unless by age */
    snprintf(out, sizeof out, "%s.out", dir);
    const struct { const char *args[3]; int no_home, run_ms, status, verdicts; const char *says; } rows[] = {
        {{"--bogus"}, 0, 0, 2, -1, "qav-reader: unknown option --bogus"},
        {{"a", "b"}, 0, 0, 2, -1, "qav-reader: too many arguments"},
        {{NULL}, 1, 0, 2, -1, "qav-reader: the system does not say where the data folder is"},
        {{"--age-only", dir}, 0, 2500, 0, 2, "verdict: stale"}, /* ... 5 s, 6 s: said once */
    };
    for (size_t i = 0; i < COUNT(rows); i++) {
        fflush(stdout); /* or the child's freopen says this process's failures again */
        pid_t child = fork();
        if (child == 0) {
            const char *argv[] = {command, rows[i].args[0], rows[i].args[1], rows[i].args[2], NULL};
            freopen(out, "w", stdout);
            dup2(1, 2);
            if (rows[i].no_home) unsetenv("XDG_DATA_HOME"), unsetenv("HOME");
            execv(command, (char *const *)argv);
            _exit(127);
        }
        int status = -1;
        if (rows[i].run_ms > 0) {
            qav_sleep_ms((unsigned)rows[i].run_ms);
            kill(child, SIGTERM);
        }
        waitpid(child, &status, 0);
        FILE *f = fopen(out, "rb");
        size_t n = f != NULL ? fread(text, 1, sizeof text - 1, f) : 0;
        if (f != NULL) fclose(f);
        text[n] = '\0';
        int verdicts = 0;
        for (const char *v = text; (v = strstr(v, "verdict: ")) != NULL; v++) verdicts++;
        CHECK(WIFEXITED(status) && WEXITSTATUS(status) == rows[i].status && strstr(text, rows[i].says) != NULL &&
              (rows[i].verdicts < 0 || verdicts == rows[i].verdicts),
              "command row %lu: status %d, %d verdicts, said:\n%s", (unsigned long)i, status, verdicts, text);
    }
    unlink(out);
}

/* qav_wait: a new document, a change of kind by the clock alone, and the timeout. */
static void wait_table(void)
{
    char text[QAV_MAX_DOCUMENT];
    fresh_folder();
    CHECK(qav_wait(&r, 50) == QAV_SAME && r.status.kind == QAV_WAITING, "waited for nothing");
    publish(text, document(text, 1, qav_tick_ms() - (QAV_STALE_MS - 1000), "toll.paid", 4));
    CHECK(qav_wait(&r, 50) == QAV_NEW && r.status.kind == QAV_LIVE, "new document: kind %d", (int)r.status.kind);
    CHECK(qav_wait(&r, 5000) == QAV_STATUS && r.status.kind == QAV_STALE, "stale: kind %d", (int)r.status.kind);
    CHECK(qav_wait(&r, 50) == QAV_SAME, "the same status told twice");
}

int main(int argc, char **argv)
{
    char text[QAV_MAX_DOCUMENT * 2], verdict[128];
    uint64_t now = qav_tick_ms();
    uint32_t me = (uint32_t)getpid(), dead = dead_pid(), events[64];
    const char *gone = "host gone without a closing document";
    if (argc != 4) return 2;
    alarm(60); /* a read that blocks fails the test instead of hanging it */

    struct { uint32_t pid; uint64_t written; const char *event; uint32_t seq; } docs[][3] = {
        {{0}}, {{me, now, "", 0}}, {{1, now - 5000, "toll.paid", 3}}, {{dead, now, "toll.paid", 3}},
        /* this process took the pid of a writer that wrote before it started */
        {{me, 1, "toll.paid", 3}}, {{me, now + 3600000, "", 0}},
        {{me, now, "toll.paid", 4}, {me, now, "game.closed", 4}},
        /* a gameplay event of that name, and the document after it */
        {{me, now, "toll.paid", 4}, {me, now, "game.closed", 5}},
        {{me, now, "toll.paid", 4}, {me, now, "game.closed", 5}, {me, now + 1, "game.closed", 5}},
        /* the closing document that also carries a pending event, its writer gone */
        {{dead, now, "toll.paid", 4}, {dead, now, "game.closed", 5}}};
    const char *verdicts[] = {"waiting for the plug-in", "live", "stale 5 s (writer not checked)", gone, gone,
                              gone, "closed", "live", "live", "closed"};
    for (size_t i = 0; i < sizeof verdicts / sizeof *verdicts; i++) {
        fresh_folder();
        for (int k = 0; k < 3 && docs[i][k].pid != 0; k++) {
            publish(text, document(text, docs[i][k].pid, docs[i][k].written, docs[i][k].event,
                                   docs[i][k].seq));
            CHECK(qav_poll(&r) == QAV_NEW, "verdict case %zu: document %d not read", i, k);
        }
        CHECK(!strcmp(qav_verdict(&r, verdict, sizeof verdict), verdicts[i]),
              "verdict case %zu: %s, not %s", i, verdict, verdicts[i]);
    }

    struct { const char *from, *to, *problem; } refusals[] = {
        {"{", "[1]\n", "not a QAV document: not a JSON object"},
        {"\"QAV\"", "\"QAX\"", "not a QAV document: its \"plugin\" is not \"QAV\""},
        {"\"1.0.0\"", "\"2.0.0\"", "a QAV document of version 2.0.0"},
        {",\"eventSeq\":0", "", "not a QAV document: eventSeq is missing"},
        {"}\n", "}", "not a QAV document: it does not end with a line feed"},
        {"{", NULL, "not a QAV document: larger than 8 KiB"},
        {"\"1.0.0\",", "\"1.4.0\",\"fuel\":{\"l\":[1,\"x\\u00e9\"]},", NULL},
        /* what names the wrong member names it so that a terminal shows it safely */
        {"\"1.0.0\"", "\"2\\u001b[2J\"", "a QAV document of version 2\\u001b[2J: this reader"}};
    for (size_t i = 0; i < sizeof refusals / sizeof *refusals; i++) {
        size_t n = document(text, 1, 5, "", 0);
        char *at = strstr(text, refusals[i].from);
        fresh_folder();
        if (refusals[i].to == NULL) {
            memmove(text + 9000, text, n + 1);
            memset(text, ' ', 9000);
        } else if (at == text && refusals[i].from[0] == '{') {
            strcpy(text, refusals[i].to);
        } else {
            char rest[512];
            strcpy(rest, at + strlen(refusals[i].from));
            sprintf(at, "%s%s", refusals[i].to, rest);
        }
        publish(text, strlen(text));
        int got = qav_poll(&r);
        CHECK(refusals[i].problem == NULL ? got == QAV_NEW
                                          : got == QAV_REFUSED && strstr(r.problem, refusals[i].problem) == r.problem,
              "refusal case %zu: %d %s", i, got, r.problem);
    }

    fresh_folder();
    publish(text, document(text, 1, 5, "", 0));
    CHECK(qav_poll(&r) == QAV_NEW && qav_poll(&r) == QAV_SAME && r.reads == 1, "read when unchanged");
    publish(text, document(text, 1, 5, "", 0)); /* the same bytes again: read, but not new */
    CHECK(qav_poll(&r) == QAV_SAME, "the same bytes taken for a new document");
    publish(text, document(text, 1, 6, "", 0));
    CHECK(qav_poll(&r) == QAV_NEW && r.reads == 3 && r.documents == 2, "reads %lu", r.reads);

    static const uint32_t wrap[] = {0, 4294967294u, 1, 1, 3, 0};
    CHECK(replay(argv[1], "wrap", events) == 6 && !memcmp(events, wrap, sizeof wrap) &&
          !strcmp(qav_verdict(&r, verdict, sizeof verdict), "closed"), "wrap: %s", verdict);
    CHECK(replay(argv[1], "crash", events) > 1 &&
          !strcmp(qav_verdict(&r, verdict, sizeof verdict), gone), "crash: %s", verdict);
    CHECK(replay(argv[1], "largest", events) == 1 && r.doc.written == UINT64_MAX, "largest");
    CHECK(replay(argv[1], "two-hosts", events) > 4, "two hosts");

    documents_table(argv[2]);
    sessions_table(argv[2]);
    status_table();
    writer_table();
    wait_table();
    wine_table();
    folder_table();
    not_a_file();
    command_table(argv[3]);
    fresh_folder();
    rmdir(dir);
    printf("%s\n", failures == 0 ? "all passed" : "FAILED");
    return failures == 0 ? 0 : 1;
}
