// Counts heap allocations made anywhere in the benchmark process: every operator new, and
// every malloc, calloc and realloc (including the C runtime's own, such as the FILE record and
// stream buffer fopen takes). A benchmark reads the counters before and after its loop.
#ifndef QAV_BENCH_ALLOC_COUNT_H
#define QAV_BENCH_ALLOC_COUNT_H

#include <cstdint>

struct AllocCounts {
    uint64_t news;    // operator new calls
    uint64_t mallocs; // malloc, calloc and realloc calls, those behind operator new included
};

AllocCounts alloc_counts();

// False in a sanitizer build: the sanitizer owns malloc there, so only operator new is counted.
bool alloc_counts_malloc();

#endif
