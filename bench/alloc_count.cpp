#include "bench/alloc_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

static std::atomic<uint64_t> g_news{0};
static std::atomic<uint64_t> g_mallocs{0};

#if defined(__SANITIZE_ADDRESS__)
#define QAV_COUNT_MALLOC 0
#else
#define QAV_COUNT_MALLOC 1
#endif

#if QAV_COUNT_MALLOC
// glibc's allocator under its internal names: the process's malloc is ours, and forwards.
// Calls from inside the C library (fopen's FILE record, a stream's buffer) come here too.
extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* old, size_t size);

extern "C" void* malloc(size_t size)
{
    g_mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size)
{
    g_mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* old, size_t size)
{
    g_mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(old, size);
}
#endif

void* operator new(size_t size)
{
    g_news.fetch_add(1, std::memory_order_relaxed);
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

AllocCounts alloc_counts()
{
    return {g_news.load(std::memory_order_relaxed), g_mallocs.load(std::memory_order_relaxed)};
}

bool alloc_counts_malloc() { return QAV_COUNT_MALLOC != 0; }
