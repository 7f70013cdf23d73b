// The state of a pooled string heap and its operations. The process-wide heap behind
// vCStringHeap is one instance (vSStringHeapState::Global()); tests make their own fresh ones.
#pragma once

#include "ve_stringheap_layout.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// Where chunks, large blocks and handle tables come from. Null functions mean the allocation
// operator and its delete; an allocate function never returns null (it throws instead).
struct vSStringHeapGeneralHeap
{
    void* (*allocate)(void* context, size_t bytes) = nullptr;
    void (*release)(void* context, void* block) = nullptr;
    void* context = nullptr;
};

// What the invariant checker counted.
struct vSStringHeapCensus
{
    uint32_t chunks = 0;
    uint32_t pages = 0; // handed out to classes
    uint32_t pagesOfClass[vStringHeapLayout::kClassCount] = {};
    uint32_t spans = 0;              // live pooled allocations
    uint32_t continuationBlocks = 0; // taken by growth in place
    uint32_t freeBlocks = 0;
    uint32_t largeBlocks = 0;
    uint32_t freeSlots = 0;
};

struct vSStringHeapState
{
    vSStringHeapPage* currentPages[vStringHeapLayout::kClassCount] = {};
    uintptr_t* handleTable = nullptr; // a slot holds a large block's start or the next free index
    uint32_t tableCapacity = 0;
    uint32_t freeSlotHead = 0;
    unsigned char* newestChunk = nullptr;
    bool initialised = false;
    vSStringHeapGeneralHeap general;
    // Reallocations that moved to a new block, and the bytes they copied.
    uint32_t moves = 0;
    uint64_t bytesMoved = 0;

    static vSStringHeapState& Global();

    [[gnu::noinline]] void Initialize();
    void* Allocate(uint32_t size);
    void* Reallocate(void* block, uint32_t size);
    void Free(void* block);

    // Capacity of a live block: the whole span of a pooled one, r of a large one.
    uint32_t CapacityOf(const void* block) const;
    // True with its slot when the live block is large.
    bool IsLarge(const void* block, uint32_t& slot) const;

    // Walks every structure of the heap; null when all invariants hold, otherwise what is wrong.
    const char* Check(vSStringHeapCensus* census = nullptr) const;

    // Returns everything to the general heap and leaves the state as new (hook kept). Only for
    // states of one's own: the process-wide heap keeps its memory until the process ends.
    void ReleaseEverything();

private:
    void* AllocatePooled(uint32_t k);
    [[gnu::noinline]] void* AllocateLarge(uint32_t size);
    // The slow paths stay out of line, so the hand-out path needs no saved registers.
    [[gnu::noinline]] vSStringHeapPage* PageWithRoom(uint32_t k);
    [[gnu::noinline]] vSStringHeapPage* NewPage(uint32_t k, vSStringHeapPage* ring);
    [[gnu::noinline]] void GrowTable();
    void FreeLarge(void* block, uint32_t slot);
    void FreeSpan(vSStringHeapPage* page, uint32_t pageOffset);
    void* ReallocatePooled(void* block, uint32_t size);
    void* MovePooled(void* block, uint32_t size, uint32_t copy);
    void* GeneralAllocate(size_t bytes);
    void GeneralRelease(void* block);
    void CountMove(uint32_t bytes)
    {
        ++moves;
        bytesMoved += bytes;
    }
};

namespace vStringHeapLayout {

inline unsigned char* ChunkNext(const unsigned char* chunk)
{
    unsigned char* next;
    std::memcpy(&next, chunk + kChunkNextOffset, sizeof next);
    return next;
}

} // namespace vStringHeapLayout
