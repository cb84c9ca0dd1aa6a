#include "platform/data_paths.h"

// Appends `name` (ASCII) to `out`, which holds `n` units, after one separator.
static bool append(path_char* out, size_t* n, const char* name)
{
    if (*n + 1 >= PLATFORM_PATH_MAX) return false;
    out[(*n)++] = PLATFORM_SEPARATOR;
    for (size_t i = 0; name[i] != 0; i++) {
        if (*n + 1 >= PLATFORM_PATH_MAX) return false;
        out[(*n)++] = (path_char)name[i];
    }
    out[*n] = 0;
    return true;
}

static bool join(path_char* out, const path_char* base, const char* folder, const char* file)
{
    size_t n = 0;
    for (; base[n] != 0; n++) {
        if (n + 1 >= PLATFORM_PATH_MAX) return false;
        out[n] = base[n];
    }
    return append(out, &n, folder) && (file == NULL || append(out, &n, file));
}

bool data_paths(const path_char* appdata, DataPaths* out)
{
    return join(out->folder, appdata, "QAV", NULL) &&
           join(out->temp, appdata, "QAV", "telemetry.json.tmp") &&
           join(out->final, appdata, "QAV", "telemetry.json");
}
