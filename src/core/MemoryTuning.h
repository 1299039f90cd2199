#pragma once

#include <cstddef>

// An export moves page captures and attachments of many megabytes through several buffers
// (socket frames, text, decoded chunks, the joined page). By default glibc hands every such
// buffer straight back to the kernel when it is freed, so the next one of the same size is
// faulted in page by page again, which costs more than the work done on the bytes. These keep
// freed buffers for reuse while an export runs and give them back once it is over.

// Call once at start, before other threads exist.
void tuneAllocatorForLargeBuffers();

// Returns the free memory kept for reuse to the system; call when a long piece of work ends.
void releaseFreeMemory();

// Asks the kernel to back a large buffer that is about to be filled with huge pages, so that
// filling it takes a few hundred page faults instead of one per 4 KiB. Harmless where
// transparent huge pages are off or the buffer is small.
void adviseHugePages(void* data, std::size_t size);
