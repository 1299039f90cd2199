#include "convert/HtmlParseArena.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace {

// gumbo's objects need no more than pointer alignment, and most of what it keeps is small
// (vectors of a pointer or two, short strings): classes 8 bytes apart waste least.
constexpr std::size_t kSmallStep = 8;
constexpr int kSmallClasses = 32;   // 8, 16, ... 256 bytes
// Then powers of two: 512, 1024, ... 16384.

[[noreturn]] void outOfMemory()
{
    // gumbo cannot report a failed allocation (nor can an exception pass through it).
    std::abort();
}

} // namespace

HtmlParseArena::~HtmlParseArena()
{
    for (Superblock& block : superblocks_)
        unmap(block);
    for (void* block : largeBlocks_)
        std::free(block);
}

int HtmlParseArena::classOf(std::size_t size)
{
    if (size <= kSmallStep * kSmallClasses)
        return size == 0 ? 0 : int((size - 1) / kSmallStep);
    int c = kSmallClasses;
    std::size_t s = kSmallStep * kSmallClasses * 2;
    while (s < size) {
        s *= 2;
        ++c;
    }
    return c < kClassCount ? c : -1;
}

std::size_t HtmlParseArena::classSize(int sizeClass)
{
    if (sizeClass < kSmallClasses)
        return kSmallStep * std::size_t(sizeClass + 1);
    return (kSmallStep * kSmallClasses) << (sizeClass - kSmallClasses + 1);
}

HtmlParseArena::SlabHeader* HtmlParseArena::headerOf(void* ptr)
{
    return reinterpret_cast<SlabHeader*>(reinterpret_cast<std::uintptr_t>(ptr) & ~(std::uintptr_t(kSlabBytes) - 1));
}

char* HtmlParseArena::newSlab(int sizeClass)
{
    if (nextSlab_ == slabsEnd_) {
        Superblock& block = superblocks_.emplace_back();
        mapBlock(block);
        current_ = &block;
        nextSlab_ = block.slabs;
        slabsEnd_ = nextSlab_ + kBlockBytes;
    }
    char* slab = nextSlab_;
    nextSlab_ += kSlabBytes;
    auto* header = reinterpret_cast<SlabHeader*>(slab);
    header->sizeClass = sizeClass;
    header->superblock = current_;
    return slab;
}

void HtmlParseArena::mapBlock(Superblock& block)
{
    // A slab more than the block holds, so that the slabs can start on their alignment; the
    // pages left over are never touched.
    void* mapping = mmap(nullptr, kBlockBytes + kSlabBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        outOfMemory();
    block.mapping = mapping;
    const auto address = reinterpret_cast<std::uintptr_t>(mapping);
    block.slabs = reinterpret_cast<char*>((address + kSlabBytes - 1) & ~(std::uintptr_t(kSlabBytes) - 1));
}

void HtmlParseArena::unmap(Superblock& block)
{
    if (!block.mapping)
        return;
    munmap(block.mapping, kBlockBytes + kSlabBytes);
    block.mapping = nullptr;
}

void* HtmlParseArena::allocate(std::size_t size)
{
    const int c = classOf(size);
    if (c < 0) {
        // A large object gets a block of its own, still 64 KiB-aligned so that deallocate
        // finds its header the same way.
        const std::size_t bytes = (size + kHeaderBytes + kSlabBytes - 1) / kSlabBytes * kSlabBytes;
        void* block = std::aligned_alloc(kSlabBytes, bytes);
        if (!block)
            outOfMemory();
        largeBlocks_.insert(block);
        auto* header = static_cast<SlabHeader*>(block);
        header->sizeClass = -1;
        header->superblock = nullptr;
        return static_cast<char*>(block) + kHeaderBytes;
    }
    SizeClass& sc = classes_[c];
    void* object;
    if (sc.freeList) {
        FreeObject* free = sc.freeList;
        sc.freeList = free->next;
        object = free;
    } else {
        const std::size_t objectSize = classSize(c);
        if (sc.bump == nullptr || std::size_t(sc.end - sc.bump) < objectSize) {
            char* slab = newSlab(c);
            sc.bump = slab + kHeaderBytes;
            sc.end = slab + kSlabBytes;
        }
        object = sc.bump;
        sc.bump += objectSize;
    }
    ++sc.live;
    ++headerOf(object)->superblock->live;
    return object;
}

void HtmlParseArena::deallocate(void* ptr)
{
    if (!ptr)
        return;
    SlabHeader* header = headerOf(ptr);
    if (header->sizeClass < 0) {
        largeBlocks_.erase(header);
        std::free(header);
        return;
    }
    --classes_[header->sizeClass].live;
    Superblock& block = *header->superblock;
    --block.live;
    if (releasing_) {
        if (block.live == 0)
            unmap(block);
        return;
    }
    auto* object = static_cast<FreeObject*>(ptr);
    object->next = classes_[header->sizeClass].freeList;
    classes_[header->sizeClass].freeList = object;
}

void HtmlParseArena::releaseEmptyBlocks()
{
    releasing_ = true;
    // The free lists and the slabs being filled lie in blocks that may go: an allocation from
    // now on (none is expected) starts a block of its own.
    for (SizeClass& sc : classes_) {
        sc.freeList = nullptr;
        sc.bump = sc.end = nullptr;
    }
    nextSlab_ = slabsEnd_ = nullptr;
    current_ = nullptr;
    for (Superblock& block : superblocks_) {
        if (block.live == 0)
            unmap(block);
    }
}

std::size_t HtmlParseArena::liveObjects(std::size_t size) const
{
    const int c = classOf(size);
    return c < 0 ? largeBlocks_.size() : classes_[c].live;
}

void* HtmlParseArena::gumboAllocate(void* arena, std::size_t size)
{
    return static_cast<HtmlParseArena*>(arena)->allocate(size);
}

void HtmlParseArena::gumboDeallocate(void* arena, void* ptr)
{
    static_cast<HtmlParseArena*>(arena)->deallocate(ptr);
}
