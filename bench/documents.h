// The documents every benchmark writes, as the host delivers them: a typical running job; the
// same job with every text field full of bytes that need a six-byte escape; and the largest
// document the record can produce, those texts with every number at its longest as well
// (coordinates of 1.8e308 print 309 digits). Shared by the native benchmarks and the Windows
// program that drives the real DLL, so both measure the same bytes.
#ifndef QAV_BENCH_DOCUMENTS_H
#define QAV_BENCH_DOCUMENTS_H

#include "state/vocabulary.h"
#include "support/host_model.h"

enum BenchKind { BENCH_TYPICAL, BENCH_ESCAPES, BENCH_LARGEST, BENCH_KINDS };

struct BenchDocument {
    const char* name; // "typical", "escapes" or "largest"
    const char* game;
    uint32_t game_version;
    HostValue channels[CHANNEL_COUNT];              // in the order of HOST_CHANNELS
    HostNamedValue job[JOB_ATTRIBUTE_COUNT + 1];    // ends with a null name
    HostGameplayEvent gameplay;
};

void bench_document(BenchDocument* doc, BenchKind kind);

// Hands everything but the game identifier and version (those come with initialization) to
// the plug-in through the callbacks it registered with `host`: start, the channels, the job
// and one gameplay event. The start event writes once.
void bench_deliver(HostModel* host, const BenchDocument& doc);

#endif
