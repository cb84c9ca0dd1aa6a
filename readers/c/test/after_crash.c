/* Reads the data folder's last document once and says who wrote it and what the verdict is:
   after a crash, "host gone", even when this very process got the crashed writer's pid. */
#include "../qav_reader.h"

#include <stdio.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#define this_pid() GetCurrentProcessId()
#else
#include <unistd.h>
#define this_pid() getpid()
#endif

int main(int argc, char **argv)
{
    static qav_reader r;
    char dir[1024], verdict[128];
    if (!qav_find_dir(argc > 1 ? argv[1] : NULL, dir, sizeof dir)) return 2;
    qav_reader_init(&r, dir);
    if (qav_poll(&r) != QAV_NEW) return 2;
    printf("writer pid %lu, this process pid %lu%s\nverdict: %s\n", (unsigned long)r.doc.pid,
           (unsigned long)this_pid(), r.doc.pid == (uint32_t)this_pid() ? ": the pid was taken" : "",
           qav_verdict(&r, verdict, sizeof verdict));
    return qav_get_status(&r).kind == QAV_GONE ? 0 : 1;
}
