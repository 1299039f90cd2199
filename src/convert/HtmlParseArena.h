#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <unordered_set>

// The memory behind one gumbo parse. gumbo makes millions of small allocations (nodes, short
// strings, vectors) and frees most of its temporaries during the parse; with malloc each costs
// a chunk header and a call. Here objects come from 64 KiB slabs, one size class per slab and
// no per-object header (the class is found from the slab's aligned base), freed objects are
// kept on a list per class for reuse, and the whole output goes at once when the arena dies,
// so gumbo's own tree walk to free it is not needed.
//
// Once the parse is over, the output can also be handed back piece by piece while it is
// copied (releaseEmptyBlocks): each 4 MiB block of slabs goes back to the system as soon as
// nothing in it is alive, so the copy grows while gumbo's tree shrinks.
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
    // How many objects of the size class that holds `size` bytes are alive: at least as many
    // as there are objects of exactly that size.
    std::size_t liveObjects(std::size_t size) const;

    // From now on nothing is allocated any more, and a block whose last object is freed goes
    // back to the system at once.
    void releaseEmptyBlocks();

    // gumbo's allocator and deallocator signatures; userdata is the arena.
    static void* gumboAllocate(void* arena, std::size_t size);
    static void gumboDeallocate(void* arena, void* ptr);

private:
    static constexpr std::size_t kSlabBytes = 64 * 1024;
    static constexpr std::size_t kHeaderBytes = 64;   // keeps objects 8-byte aligned
    static constexpr std::size_t kSuperblockSlabs = 64;   // slabs are carved from 4 MiB blocks
    static constexpr std::size_t kBlockBytes = kSuperblockSlabs * kSlabBytes;
    static constexpr int kClassCount = 38;                 // up to 16 KiB

    struct FreeObject {
        FreeObject* next;
    };
    // A block of slabs, mapped from the system on its own so that it can be given back.
    struct Superblock {
        void* mapping = nullptr;
        char* slabs = nullptr;  // the first slab, on its alignment
        std::size_t live = 0;   // objects allocated from its slabs and not freed
    };
    struct SlabHeader {
        int sizeClass;             // -1 for a block that holds one large object
        Superblock* superblock;    // nullptr for a large object
    };
    struct SizeClass {
        FreeObject* freeList = nullptr;
        char* bump = nullptr;
        char* end = nullptr;
        std::size_t live = 0;
    };

    static int classOf(std::size_t size);
    static std::size_t classSize(int sizeClass);
    static SlabHeader* headerOf(void* ptr);
    char* newSlab(int sizeClass);
    static void mapBlock(Superblock& block);
    static void unmap(Superblock& block);

    SizeClass classes_[kClassCount];
    std::deque<Superblock> superblocks_;   // never moved: slab headers point at them
    Superblock* current_ = nullptr;   // the block new slabs are carved from
    char* nextSlab_ = nullptr;
    char* slabsEnd_ = nullptr;
    std::unordered_set<void*> largeBlocks_;   // freed as soon as gumbo frees them
    bool releasing_ = false;
};
