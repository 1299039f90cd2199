#include "core/MemoryTuning.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

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
