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
    // Buffers up to 16 MiB come from the heap and are reused; up to 128 MiB of free heap is
    // kept between uses instead of being trimmed at once.
    mallopt(M_MMAP_THRESHOLD, 16 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024 * 1024);
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
