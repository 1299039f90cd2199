#include "core/MemoryTuning.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif
#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

#include <cstdint>

void tuneAllocatorForLargeBuffers()
{
#if defined(__GLIBC__)
    // Buffers up to 16 MiB come from the heap and are reused; up to 32 MiB of free heap is
    // kept between uses instead of being trimmed at once. The heaps of other threads than the
    // main one (64 MiB each at most) shrink only when that much is free at their end, and
    // malloc_trim does not shrink them: a threshold above 64 MiB would keep whatever they
    // once held for the life of the process.
    mallopt(M_MMAP_THRESHOLD, 16 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
    // Every thread that once converts a large page would otherwise get a heap of its own and
    // keep that page's working set for the life of the process; the worker threads share one.
    mallopt(M_ARENA_MAX, 2);
#endif
}

void releaseFreeMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void adviseHugePages(void* data, std::size_t size)
{
#if defined(MADV_HUGEPAGE)
    constexpr std::size_t hugePage = 2 * 1024 * 1024;
    if (size < 2 * hugePage) {
        return;
    }
    // Only whole huge pages inside the buffer; the advice is a hint and may be refused.
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + hugePage - 1) & ~(hugePage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(hugePage - 1);
    if (end > begin) {
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
#else
    (void)data;
    (void)size;
#endif
}
