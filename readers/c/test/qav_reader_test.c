/* What a reader can get wrong, against fabricated documents and the recordings in
   docs/recordings (POSIX): qav_reader_test RECORDINGS_DIR. Built with the reader's own
   source, for its JSON string decoder. */
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

static void fresh_folder(void)
{
    static int n;
    snprintf(dir, sizeof dir, "/tmp/qav_reader_test.%d.%d", (int)getpid(), n++);
    mkdir(dir, 0700);
    qav_reader_init(&r, dir);
}

static uint32_t dead_pid(void)
{
    pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, NULL, 0);
    return (uint32_t)child;
}

static size_t document(char *out, uint32_t pid, uint64_t written, const char *event, uint32_t seq)
{
    return (size_t)sprintf(out, "{\"plugin\":\"QAV\",\"version\":\"1.0.0\",\"pid\":%u,\"written\":%llu,"
                           "\"paused\":%s,\"lastEvent\":\"%s\",\"eventSeq\":%u}\n", (unsigned)pid,
                           (unsigned long long)written,
                           strcmp(event, "game.closed") == 0 ? "true" : "false", /* as closing */
                           event, (unsigned)seq);
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
        const char *at = strstr(line, "\"document\":");
        qav_document doc;
        char problem[200];
        if (at == NULL || string_at(at + 11, line + strlen(line), text, sizeof text) == NULL) break;
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

int main(int argc, char **argv)
{
    char text[QAV_MAX_DOCUMENT * 2], verdict[64];
    uint64_t now = qav_tick_ms();
    uint32_t me = (uint32_t)getpid(), dead = dead_pid(), events[64];
    const char *gone = "host gone without a closing document";

    struct { uint32_t pid; uint64_t written; const char *event; uint32_t seq; } docs[][3] = {
        {{0}}, {{1, now, "", 0}}, {{1, now - 5000, "toll.paid", 3}}, {{dead, now, "toll.paid", 3}},
        /* this process took the pid of a writer that wrote before it started */
        {{me, 1, "toll.paid", 3}}, {{1, now + 3600000, "", 0}},
        {{1, now, "toll.paid", 4}, {1, now, "game.closed", 4}},
        /* a gameplay event of that name, and the document after it */
        {{1, now, "toll.paid", 4}, {1, now, "game.closed", 5}},
        {{1, now, "toll.paid", 4}, {1, now, "game.closed", 5}, {1, now + 1, "game.closed", 5}},
        /* the closing document that also carries a pending event, its writer gone */
        {{dead, now, "toll.paid", 4}, {dead, now, "game.closed", 5}}};
    const char *verdicts[] = {"waiting for the plug-in", "live", "stale 5 s", gone, gone, gone,
                              "closed", "live", "live", "closed"};
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
        {",\"eventSeq\":0", "", "not a QAV document: pid, written"},
        {"}\n", "}", "not a QAV document: it does not end with a line feed"},
        {"{", NULL, "not a QAV document: larger than 8 KiB"},
        {"\"1.0.0\",", "\"1.4.0\",\"fuel\":{\"l\":[1,\"x\\u00e9\"]},", NULL}};
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
    printf("%s\n", failures == 0 ? "all passed" : "FAILED");
    return argc == 2 && failures == 0 ? 0 : 1;
}
