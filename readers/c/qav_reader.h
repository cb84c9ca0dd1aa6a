/* qav_reader: reads QAV's telemetry.json as a companion application should, and tells whether
   the host that writes it is live, stale, closed or gone. C99; Windows (MinGW, MSVC) and POSIX. */
#ifndef QAV_READER_H
#define QAV_READER_H

#include <stddef.h>
#include <stdint.h>

#define QAV_MAX_DOCUMENT 8192 /* every 1.x document fits, line feed included */
#define QAV_STALE_MS 3000     /* a writer that wrote nothing for this long is stale */

typedef struct {
    char version[32];
    uint32_t pid;
    uint64_t written;         /* the writer's millisecond tick */
    int paused;
    int has_job;              /* "job" is an object, not null */
    char last_event[192];     /* 47 bytes from the host, each bad byte grown to U+FFFD */
    uint32_t event_seq;
} qav_document;

typedef struct {
    char path[1024];          /* DIR/telemetry.json, UTF-8 */
    uint64_t stamp[3];        /* last-write time, size, file number of the last read */
    char bytes[QAV_MAX_DOCUMENT];
    size_t size;              /* the last new document's bytes; 0 before the first */
    qav_document doc;
    uint32_t events;          /* gameplay events since the previous document: eventSeq's rise */
    int closing;              /* the last document is the session's closing one */
    uint64_t session_written; /* written of the session's first document read */
    unsigned long documents;  /* new documents read */
    unsigned long reads;      /* times the file was opened */
    char problem[200];        /* why the last read was refused */
} qav_reader;

enum { QAV_SAME = 0, QAV_NEW = 1, QAV_REFUSED = 2 };

/* The folder QAV writes to: given, or %LOCALAPPDATA%\QAV, $XDG_DATA_HOME/QAV, ~/.local/share/QAV.
   Returns 0 when the system does not say. */
int qav_find_dir(const char *given, char *out, size_t cap);
void qav_reader_init(qav_reader *r, const char *dir);
/* Reads the file if its last-write time, size or file number changed: QAV_NEW with r->doc and r->events set,
   QAV_SAME (nothing new, or nothing to read yet), or QAV_REFUSED with r->problem set. */
int qav_poll(qav_reader *r);
/* "waiting for the plug-in", "live", "stale N s", "closed" or
   "host gone without a closing document", into out. */
const char *qav_verdict(const qav_reader *r, char *out, size_t cap);
/* Parses one document; 0 with the reason in problem when it is not a QAV 1.x document. */
int qav_parse(const char *text, size_t size, qav_document *doc, char *problem, size_t cap);
/* The clock QAV stamps written with, in milliseconds. */
uint64_t qav_tick_ms(void);
/* Whether pid runs and started no later than written (the session's first document). */
int qav_writer_alive(uint32_t pid, uint64_t written);
void qav_sleep_ms(unsigned ms);

#endif
