/* qav-reader [DIR]: one line per new document and one per verdict change, until Ctrl+C. */
#include "qav_reader.h"

#include <stdio.h>
#include <string.h>

/* The event's name as JSON writes it: a control byte never reaches the terminal raw. */
static void print_event(const char *name)
{
    putchar('"');
    for (; *name != '\0'; name++) {
        if ((unsigned char)*name < 0x20) printf("\\u%04x", (unsigned)*name);
        else if (*name == '"' || *name == '\\') printf("\\%c", *name);
        else putchar(*name);
    }
    putchar('"');
}

int main(int argc, char **argv)
{
    static qav_reader r;
    char dir[1024], verdict[64], said[64] = "";
    if (!qav_find_dir(argc > 1 ? argv[1] : NULL, dir, sizeof dir)) {
        fprintf(stderr, "qav-reader: the system does not say where the data folder is: give it\n");
        return 2;
    }
    qav_reader_init(&r, dir);
    printf("reading %s\n", r.path);
    for (;;) {
        int got = qav_poll(&r);
        if (got == QAV_NEW) {
            printf("document %lu: pid %lu, written %llu, %s, event ", r.documents,
                   (unsigned long)r.doc.pid, (unsigned long long)r.doc.written,
                   r.doc.paused ? "paused" : "running");
            print_event(r.doc.last_event);
            printf(" #%lu (+%lu)\n", (unsigned long)r.doc.event_seq, (unsigned long)r.events);
        } else if (got == QAV_REFUSED) {
            printf("refused: %s\n", r.problem);
        }
        if (strcmp(qav_verdict(&r, verdict, sizeof verdict), said) != 0) {
            printf("verdict: %s\n", verdict);
            strcpy(said, verdict);
        }
        fflush(stdout);
        qav_sleep_ms(20);
    }
}
