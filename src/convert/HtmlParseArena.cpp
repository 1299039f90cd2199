#include "convert/HtmlParseArena.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::size_t kSmallStep = 16;
constexpr int kSmallClasses = 16;   // 16, 32, ... 256 bytes
// Then powers of two: 512, 1024, ... 16384.

} // namespace

HtmlParseArena::~HtmlParseArena()
{
    for (void* block : superblocks_)
        std::free(block);
    for (void* block : largeBlocks_)
        std::free(block);
}

namespace {

[[noreturn]] void outOfMemory()
{
    // gumbo cannot report a failed allocation (nor can an exception pass through it).
    std::abort();
}

} // namespace

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

char* HtmlParseArena::newSlab(int sizeClass)
{
    if (nextSlab_ == slabsEnd_) {
        const std::size_t bytes = kSuperblockSlabs * kSlabBytes;
        void* block = std::malloc(bytes + kSlabBytes);
        if (!block)
            outOfMemory();
        superblocks_.push_back(block);
        const auto address = reinterpret_cast<std::uintptr_t>(block);
        nextSlab_ = reinterpret_cast<char*>((address + kSlabBytes - 1) & ~(std::uintptr_t(kSlabBytes) - 1));
        slabsEnd_ = nextSlab_ + bytes;
    }
    char* slab = nextSlab_;
    nextSlab_ += kSlabBytes;
    reinterpret_cast<SlabHeader*>(slab)->sizeClass = sizeClass;
    return slab;
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
        static_cast<SlabHeader*>(block)->sizeClass = -1;
        return static_cast<char*>(block) + kHeaderBytes;
    }
    SizeClass& sc = classes_[c];
    if (sc.freeList) {
        FreeObject* object = sc.freeList;
        sc.freeList = object->next;
        return object;
    }
    const std::size_t objectSize = classSize(c);
    if (sc.bump == nullptr || std::size_t(sc.end - sc.bump) < objectSize) {
        char* slab = newSlab(c);
        sc.bump = slab + kHeaderBytes;
        sc.end = slab + kSlabBytes;
    }
    void* object = sc.bump;
    sc.bump += objectSize;
    return object;
}

void HtmlParseArena::deallocate(void* ptr)
{
    if (!ptr)
        return;
    auto* base = reinterpret_cast<SlabHeader*>(reinterpret_cast<std::uintptr_t>(ptr) & ~(std::uintptr_t(kSlabBytes) - 1));
    const int c = base->sizeClass;
    if (c < 0) {
        largeBlocks_.erase(base);
        std::free(base);
        return;
    }
    auto* object = static_cast<FreeObject*>(ptr);
    object->next = classes_[c].freeList;
    classes_[c].freeList = object;
}

void* HtmlParseArena::gumboAllocate(void* arena, std::size_t size)
{
    return static_cast<HtmlParseArena*>(arena)->allocate(size);
}

void HtmlParseArena::gumboDeallocate(void* arena, void* ptr)
{
    static_cast<HtmlParseArena*>(arena)->deallocate(ptr);
}
