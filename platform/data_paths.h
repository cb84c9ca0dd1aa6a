// Where QAV keeps its document inside the user's data folder, named in one place for the
// plug-in and for every program that looks for the file.
#ifndef QAV_PLATFORM_DATA_PATHS_H
#define QAV_PLATFORM_DATA_PATHS_H

#include "platform/platform.h"

struct DataPaths {
    path_char folder[PLATFORM_PATH_MAX]; // QAV, in the data folder
    path_char temp[PLATFORM_PATH_MAX];   // telemetry.json.tmp in it
    path_char final[PLATFORM_PATH_MAX];  // telemetry.json in it
};

// Joins QAV's names onto the data folder `appdata` with the platform's separator; the data
// folder's own name is kept exactly as the system gave it. False, leaving `out` unusable,
// when a path would not fit the Windows path limit: a cut path would write somewhere else.
bool data_paths(const path_char* appdata, DataPaths* out);

#endif
