/* qav_reader: reads QAV's telemetry.json as a companion application should, and tells whether
   the host that writes it is live, stale, closed or gone. C99; Windows (MinGW, MSVC) and POSIX;
   usable from C++. */
#ifndef QAV_READER_H
#define QAV_READER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QAV_MAX_DOCUMENT 8192 /* every 1.x document fits, line feed included */
#define QAV_STALE_MS 3000     /* a writer that wrote nothing for this long is stale */

/* A text of the document: its bytes are in the document's own store (qav_str gives them,
   NUL-terminated), so a document stays whole when copied by value. length counts every byte,
   U+0000 included; a text of a document that was not read is empty. */
typedef struct {
    uint32_t offset;          /* where it starts in qav_document.texts */
    uint32_t length;          /* its bytes of UTF-8, the terminating NUL not counted */
} qav_text;

/* The job's 14 attributes, named as the document's keys. */
typedef struct {
    qav_text cargo, cargo_id;
    qav_text source_city, source_city_id, source_company, source_company_id;
    qav_text destination_city, destination_city_id, destination_company, destination_company_id;
    uint64_t income;          /* in the game's currency units, exact */
    double cargo_mass;        /* kilograms; NaN for null (the host sent no finite number) */
    uint32_t delivery_time;
    uint32_t planned_km;
} qav_job;

/* A whole document, every member typed. A number that may be null (position, speed,
   cargo_mass) is NaN when null: the plug-in writes null exactly where the host sent a value
   that was not a finite number, and a JSON number is never NaN, so isnan() tells it. */
typedef struct {
    char version[32];         /* the first 31 bytes of "version" (version_text has it whole) */
    uint32_t pid;
    uint64_t written;         /* the writer's millisecond tick */
    int paused;
    int has_job;              /* "job" is an object, not null; job is all zero when it is null */
    char last_event[192];     /* "lastEvent" up to its first U+0000 (last_event_text: whole) */
    uint32_t event_seq;
    qav_text game;
    qav_text game_version;    /* "MAJOR.MINOR": compare as two integers */
    uint32_t game_time;
    struct { double x, y, z; } position; /* metres; each NaN for null */
    double speed;             /* metres per second; NaN for null */
    qav_job job;
    qav_text version_text, last_event_text;
    char texts[QAV_MAX_DOCUMENT]; /* every text's bytes, each followed by a NUL */
} qav_document;

/* The text's bytes, NUL-terminated; use t.length for a text that may hold U+0000. */
const char *qav_str(const qav_document *doc, qav_text t);

/* What the documents say about their writer, as a value; qav_status_text renders it. */
typedef enum { QAV_WAITING, QAV_LIVE, QAV_STALE, QAV_CLOSED, QAV_GONE } qav_kind;
typedef struct {
    qav_kind kind;
    int64_t age_ms;           /* now - written on the writer's clock; -1 while waiting, and
                                 when written is ahead of the clock (the machine restarted) */
    int writer_checked;       /* the writer's process was looked at, not only the age */
    int shared;               /* another writer published into the folder under 3 s before */
} qav_status;

/* How the writer is judged: by its process and the age (QAV_CHECK_WRITER), by the age alone
   (QAV_AGE_ONLY), or as the folder says (QAV_CHECK_AUTO: by the age alone in a Wine prefix,
   whose pids are not this system's). pid 1, a host in its own pid namespace, is always judged
   by the age alone. */
enum { QAV_CHECK_AUTO = 0, QAV_CHECK_WRITER = 1, QAV_AGE_ONLY = 2 };

/* One recent writer of the folder, as the reader counts it (the reader's own bookkeeping). */
typedef struct {
    uint32_t pid;
    uint32_t event_seq;       /* of its last document */
    uint64_t written;         /* of its last document */
    uint64_t since;           /* written of its session's first document read */
    unsigned long seen;       /* documents read when its last one was; 0: the slot is free */
    int load, closing, named_closed; /* its last document: a load one, closing, "game.closed" */
} qav_writer;

typedef struct {
    char path[1024];          /* DIR/telemetry.json, UTF-8; "" when the folder was refused */
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
    int new_session;          /* the last document began a session: events counted afresh */
    int check;                /* QAV_CHECK_AUTO (after qav_reader_init), _WRITER or QAV_AGE_ONLY */
    int wine;                 /* the folder is inside a Wine prefix (POSIX only) */
    qav_status status;        /* the status qav_wait last returned with */
    int shared;               /* of the last document: another writer wrote under 3 s before */
    qav_writer writers[4];    /* the recent writers, each counting its own events */
    uint64_t looked_at;       /* when qav_wait last looked at the writer's process */
    int looked;               /* what it saw: 1 runs, 0 not, -1 not looked since the document */
} qav_reader;

enum { QAV_SAME = 0, QAV_NEW = 1, QAV_REFUSED = 2, QAV_STATUS = 3 };

/* The folder QAV writes to: given, or (NULL or "") %LOCALAPPDATA%\QAV, $XDG_DATA_HOME/QAV,
   ~/.local/share/QAV. Returns 0 when the system does not say, or out is too small. */
int qav_find_dir(const char *given, char *out, size_t cap);
/* Reads the folder dir (NULL or "": the data folder). A folder the reader cannot hold (too
   long) or find leaves path empty and the reason in problem: every qav_poll then refuses. */
void qav_reader_init(qav_reader *r, const char *dir);
/* Reads the file if its last-write time, size or file number changed: QAV_NEW with r->doc,
   r->events and r->new_session set, QAV_SAME (nothing new, or nothing to read yet), or
   QAV_REFUSED with r->problem set. Never blocks: what is not a regular file is not read. */
int qav_poll(qav_reader *r);
/* Polls every 20 ms for at most timeout_ms: QAV_NEW or QAV_REFUSED as qav_poll, QAV_STATUS
   when the status's kind, writer_checked or shared changed since qav_wait last returned, or
   QAV_SAME after the timeout. r->status is the status it returned with. Idle, it costs one
   stat per poll and a look at the writer's process once a second. */
int qav_wait(qav_reader *r, unsigned timeout_ms);
qav_status qav_get_status(const qav_reader *r);
/* "waiting for the plug-in", "live", "stale N s", "closed" or "host gone without a closing
   document", then " (writer not checked)" and " (two writers share this folder)" when so. */
const char *qav_status_text(qav_status s, char *out, size_t cap);
/* qav_status_text(qav_get_status(r), out, cap). */
const char *qav_verdict(const qav_reader *r, char *out, size_t cap);
/* Parses one document (at most QAV_MAX_DOCUMENT bytes of UTF-8, one JSON object); 0 with the
   reason in problem when it is not a QAV 1.x document with every member of its type. */
int qav_parse(const char *text, size_t size, qav_document *doc, char *problem, size_t cap);
/* The clock QAV stamps written with on this system, in milliseconds. */
uint64_t qav_tick_ms(void);
/* Whether pid runs and started no later than written (the session's first document); pid 0
   and a pid that cannot be a process here never do. */
int qav_writer_alive(uint32_t pid, uint64_t written);
void qav_sleep_ms(unsigned ms);

#ifdef __cplusplus
}
#endif

#endif
