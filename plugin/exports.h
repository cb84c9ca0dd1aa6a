// The two functions the host looks up by name, undecorated. Programs that link the core
// directly (the unit tests, the fuzzer, the benchmarks) call them through this declaration.
#ifndef QAV_PLUGIN_EXPORTS_H
#define QAV_PLUGIN_EXPORTS_H

#include "host/scs_host.h"

#if defined(_WIN32)
#define QAV_EXPORT // exported by name through QAV.def
#else
#define QAV_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
QAV_EXPORT host_result_t QAV_HOSTAPI scs_telemetry_init(uint32_t version,
                                                        const HostInitParams* params);
QAV_EXPORT void QAV_HOSTAPI scs_telemetry_shutdown();
}

#endif
