#pragma once

#include <cstddef>
#include <unordered_set>
#include <vector>

// The memory behind one gumbo parse. gumbo makes millions of small allocations (nodes, short
// strings, vectors) and frees most of its temporaries during the parse; with malloc each costs
// a chunk header and a call. Here objects come from 64 KiB slabs, one size class per slab and
// no per-object header (the class is found from the slab's aligned base), freed objects are
// kept on a list per class for reuse, and the whole output goes at once when the arena dies,
// so gumbo's own tree walk to free it is not needed.
//
// Every allocation of the parse must come from the arena (gumbo allocates only through the
// options' allocator). Single-threaded: one arena serves one parse.
class HtmlParseArena {
public:
    HtmlParseArena() = default;
    ~HtmlParseArena();
    HtmlParseArena(const HtmlParseArena&) = delete;
    HtmlParseArena& operator=(const HtmlParseArena&) = delete;

    void* allocate(std::size_t size);
    void deallocate(void* ptr);

    // gumbo's allocator and deallocator signatures; userdata is the arena.
    static void* gumboAllocate(void* arena, std::size_t size);
    static void gumboDeallocate(void* arena, void* ptr);

private:
    static constexpr std::size_t kSlabBytes = 64 * 1024;
    static constexpr std::size_t kHeaderBytes = 64;   // keeps objects 16-byte aligned
    static constexpr std::size_t kSuperblockSlabs = 64;   // slabs are carved from 4 MiB blocks
    static constexpr int kClassCount = 22;                 // up to 16 KiB

    struct FreeObject {
        FreeObject* next;
    };
    struct SlabHeader {
        int sizeClass;   // -1 for a block that holds one large object
    };
    struct SizeClass {
        FreeObject* freeList = nullptr;
        char* bump = nullptr;
        char* end = nullptr;
    };

    static int classOf(std::size_t size);
    static std::size_t classSize(int sizeClass);
    char* newSlab(int sizeClass);

    SizeClass classes_[kClassCount];
    std::vector<void*> superblocks_;
    char* nextSlab_ = nullptr;
    char* slabsEnd_ = nullptr;
    std::unordered_set<void*> largeBlocks_;   // freed as soon as gumbo frees them
};
