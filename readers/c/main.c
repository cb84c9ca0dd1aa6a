/* qav-reader [--age-only | --check-writer] [DIR]: one line per new document and one per change
   of verdict, until Ctrl+C. Exit status 0 after Ctrl+C or SIGTERM, 2 for a usage error. */
#include "qav_reader.h"

#include <signal.h>
#include <stdio.h>
#include <string.h>
#ifdef _WIN32
#include <stdlib.h>
#include <windows.h>
#endif

static volatile sig_atomic_t stop;

static void on_signal(int sig)
{
    (void)sig;
    stop = 1;
}

/* A text as JSON writes it: a control byte never reaches the terminal raw, U+0000 included. */
static void print_text(const char *s, size_t n)
{
    putchar('"');
    for (size_t i = 0; i < n; i++) {
        if ((unsigned char)s[i] < 0x20) printf("\\u%04x", (unsigned)s[i]);
        else if (s[i] == '"' || s[i] == '\\') printf("\\%c", s[i]);
        else putchar(s[i]);
    }
    putchar('"');
}

static int usage(const char *why, const char *what)
{
    fprintf(stderr, "qav-reader: %s%s\nusage: qav-reader [--age-only | --check-writer] [DIR]\n",
            why, what);
    return 2;
}

static int run(int argc, char **argv)
{
    static qav_reader r;
    const char *dir = NULL;
    char verdict[128];
    int check = QAV_CHECK_AUTO, options = 1;
    for (int i = 1; i < argc; i++) {
        if (options && strcmp(argv[i], "--") == 0) options = 0;
        else if (options && strcmp(argv[i], "--age-only") == 0) check = QAV_AGE_ONLY;
        else if (options && strcmp(argv[i], "--check-writer") == 0) check = QAV_CHECK_WRITER;
        else if (options && argv[i][0] == '-' && argv[i][1] != '\0') return usage("unknown option ", argv[i]);
        else if (dir != NULL) return usage("too many arguments", "");
        else dir = argv[i];
    }
    qav_reader_init(&r, dir);
    if (r.path[0] == '\0') {
        fprintf(stderr, "qav-reader: %s\n", r.problem);
        return 2;
    }
    r.check = check;
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    printf("reading %s%s\n", r.path, r.wine ? " (in a Wine prefix)" : "");
    printf("verdict: %s\n", qav_status_text(r.status, verdict, sizeof verdict));
    while (!stop) {
        qav_status said = r.status;
        int got = qav_wait(&r, 200);
        if (got == QAV_NEW) {
            printf("document %lu: pid %lu, written %llu, %s, event ", r.documents,
                   (unsigned long)r.doc.pid, (unsigned long long)r.doc.written,
                   r.doc.paused ? "paused" : "running");
            print_text(qav_str(&r.doc, r.doc.last_event_text), r.doc.last_event_text.length);
            printf(" #%lu (+%lu)\n", (unsigned long)r.doc.event_seq, (unsigned long)r.events);
        } else if (got == QAV_REFUSED) {
            printf("refused: %s\n", r.problem);
        }
        if (r.status.kind != said.kind || r.status.writer_checked != said.writer_checked ||
            r.status.shared != said.shared)
            printf("verdict: %s\n", qav_status_text(r.status, verdict, sizeof verdict));
        fflush(stdout);
    }
    return 0;
}

#ifdef _WIN32
/* Windows hands a program its arguments in UTF-16: taken so, a folder named in any script
   reaches the reader whole, as UTF-8. */
int wmain(int argc, wchar_t **wide)
{
    char **argv = (char **)calloc((size_t)argc + 1, sizeof *argv);
    for (int i = 0; argv != NULL && i < argc; i++) {
        int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, NULL, 0, NULL, NULL);
        if (n <= 0 || (argv[i] = (char *)malloc((size_t)n)) == NULL) return usage("unreadable argument", "");
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, argv[i], n, NULL, NULL);
    }
    return argv != NULL ? run(argc, argv) : 2;
}
#else
int main(int argc, char **argv) { return run(argc, argv); }
#endif
