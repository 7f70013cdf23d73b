#include "ve_stringheap.h"

#include "ve_stringheap_state.h"

#include <cstring>
#include <new>

using namespace vStringHeapLayout;

namespace {

// Constant-initialised: strings built during static initialisation in other files find it
// ready to be set up, whatever the order of the initialisers.
vSStringHeapState g_heap;
static_assert(!vSStringHeapState{}.initialised, "the heap state must stay constant-initialisable");

void SetChunkNext(unsigned char* chunk, unsigned char* next)
{
    std::memcpy(chunk + kChunkNextOffset, &next, sizeof next);
}

// The word in front of a pooled block may lie in the poisoned tail of a free block. The copy is
// written out here, not taken from ReadWord, so that it stays inside this unchecked function.
VE_NO_SANITIZE_ADDRESS inline uint32_t WordInFront(const void* block)
{
    uint32_t value;
    std::memcpy(&value, static_cast<const unsigned char*>(block) - 4, sizeof value);
    return value;
}

inline void PushFree(vSStringHeapPage* page, uint32_t pageOffset, uint32_t blockSize)
{
    unsigned char* block = page->BlockAt(pageOffset);
    const uint32_t head = page->freeHead;
    SetNextLink(block, head);
    SetPreviousLink(block, 0);
    if (head != 0)
        SetPreviousLink(page->BlockAt(head), pageOffset);
    page->freeHead = pageOffset;
    VE_POISON(block + kLinkBytes, blockSize - kLinkBytes);
}

inline void Unlink(vSStringHeapPage* page, uint32_t pageOffset)
{
    const unsigned char* block = page->BlockAt(pageOffset);
    const uint32_t next = NextLink(block);
    const uint32_t previous = PreviousLink(block);
    if (next != 0)
        SetPreviousLink(page->BlockAt(next), previous);
    if (previous != 0)
        SetNextLink(page->BlockAt(previous), next);
    else
        page->freeHead = next;
}

} // namespace

vSStringHeapState& vSStringHeapState::Global() { return g_heap; }

void* vSStringHeapState::GeneralAllocate(size_t bytes)
{
    return general.allocate ? general.allocate(general.context, bytes) : ::operator new(bytes);
}

void vSStringHeapState::GeneralRelease(void* block)
{
    if (general.release)
        general.release(general.context, block);
    else
        ::operator delete(block);
}

void vSStringHeapState::Initialize()
{
    if (initialised)
        return;
    // The flag goes up only once every class has its page, so a failed first chunk leaves the
    // heap as new rather than half set up.
    for (uint32_t k = 0; k < kClassCount; ++k)
        currentPages[k] = NewPage(k, nullptr);
    initialised = true;
}

vSStringHeapPage* vSStringHeapState::NewPage(uint32_t k, vSStringHeapPage* ring)
{
    if (newestChunk == nullptr || newestChunk[kChunkPagesLeftOffset] == 0)
    {
        auto* chunk = static_cast<unsigned char*>(GeneralAllocate(kChunkBytes));
        chunk[kChunkPagesLeftOffset] = kPagesPerChunk;
        SetChunkNext(chunk, newestChunk);
        newestChunk = chunk;
    }
    const uint32_t pagesLeft = newestChunk[kChunkPagesLeftOffset];
    void* const pageAddress = ChunkPage(newestChunk, pagesLeft);
    newestChunk[kChunkPagesLeftOffset] = static_cast<unsigned char>(pagesLeft - 1);

    const vSStringHeapClass& c = kClasses[k];
    // The whole page, not only the bitmap: every word in front of a block is then defined
    // before the large-block test reads it.
    std::memset(pageAddress, 0, kPageBytes);
    auto* page = new (pageAddress) vSStringHeapPage{};
    page->blocksPerPage = static_cast<uint16_t>(c.blocksPerPage);
    page->shift = static_cast<uint16_t>(c.shift);
    if (ring == nullptr)
    {
        page->next = page;
    }
    else
    {
        vSStringHeapPage* before = ring;
        while (before->next != ring)
            before = before->next;
        before->next = page;
        page->next = ring;
    }
    SetBit(page->Bitmap(), c.pastEndBit);

    // Even blocks first, then odd: until the even ones run out, every block handed out has a
    // free block behind it to grow into.
    uint32_t previous = 0;
    for (uint32_t parity = 0; parity < 2; ++parity)
    {
        for (uint32_t i = parity; i < c.blocksPerPage; i += 2)
        {
            const uint32_t offset = c.firstBlock + i * c.blockSize;
            unsigned char* block = page->BlockAt(offset);
            SetPreviousLink(block, previous);
            if (previous != 0)
                SetNextLink(page->BlockAt(previous), offset);
            else
                page->freeHead = offset;
            previous = offset;
            VE_POISON(block + kLinkBytes, c.blockSize - kLinkBytes);
        }
    }
    SetNextLink(page->BlockAt(previous), 0);
    return page;
}

vSStringHeapPage* vSStringHeapState::PageWithRoom(uint32_t k)
{
    vSStringHeapPage* const current = currentPages[k];
    for (vSStringHeapPage* page = current->next; page != current; page = page->next)
    {
        if (page->freeHead != 0)
        {
            currentPages[k] = page;
            return page;
        }
    }
    vSStringHeapPage* const page = NewPage(k, current);
    currentPages[k] = page;
    return page;
}

inline void* vSStringHeapState::AllocatePooled(uint32_t k)
{
    vSStringHeapPage* page = currentPages[k];
    if (page->freeHead == 0)
        page = PageWithRoom(k);
    const uint32_t offset = page->freeHead;
    unsigned char* block = page->BlockAt(offset);
    const uint32_t next = NextLink(block);
    page->freeHead = next;
    if (next != 0)
        SetPreviousLink(page->BlockAt(next), 0);
    SetBit(page->Bitmap(), BitPairOf(offset, Shift(k)));
    VE_UNPOISON(block, BlockSize(k));
    return block;
}

void vSStringHeapState::GrowTable()
{
    const uint32_t capacity = tableCapacity;
    const uint32_t grown = capacity + capacity / 4 + kTableGrowthStep;
    auto* table = static_cast<uintptr_t*>(GeneralAllocate(size_t(grown) * sizeof(uintptr_t)));
    if (capacity != 0)
        std::memcpy(table, handleTable, size_t(capacity) * sizeof(uintptr_t));
    // Threaded from the top, so slots are taken m - 1, m - 2, ... down to the old capacity.
    for (uint32_t slot = grown - 1; slot > capacity; --slot)
        table[slot] = slot - 1;
    table[capacity] = freeSlotHead;
    freeSlotHead = grown - 1;
    if (handleTable != nullptr)
        GeneralRelease(handleTable);
    handleTable = table;
    tableCapacity = grown;
}

void* vSStringHeapState::AllocateLarge(uint32_t size)
{
    const uint32_t capacity = (size + kLargeGranule - 1) / kLargeGranule * kLargeGranule;
    if (freeSlotHead == 0)
        GrowTable();
    const uint32_t slot = freeSlotHead;
    const auto nextFree = static_cast<uint32_t>(handleTable[slot]);
    auto* start = static_cast<unsigned char*>(GeneralAllocate(size_t(capacity) + kLargeHeaderBytes));
    handleTable[slot] = reinterpret_cast<uintptr_t>(start);
    WriteWord(start + kLargeCapacityOffset, capacity);
    WriteWord(start + kLargeSlotOffset, slot ^ kSlotKey);
    freeSlotHead = nextFree;
    return start + kLargeHeaderBytes;
}

void* vSStringHeapState::Allocate(uint32_t size)
{
    if (size > kLargestPooledSize)
        return AllocateLarge(size);
    if (!initialised)
        Initialize();
    return AllocatePooled(ClassOfRequest(size));
}

// A slot holds either a free index, far below any address, or a large block's start, whose
// address plus 8 lies inside that large block and so never in a page: no pooled block passes.
bool vSStringHeapState::IsLarge(const void* block, uint32_t& slot) const
{
    const uint32_t t = WordInFront(block) ^ kSlotKey;
    if (t >= tableCapacity ||
        handleTable[t] != reinterpret_cast<uintptr_t>(block) - kLargeHeaderBytes)
        return false;
    slot = t;
    return true;
}

void vSStringHeapState::FreeLarge(void* block, uint32_t slot)
{
    GeneralRelease(static_cast<unsigned char*>(block) - kLargeHeaderBytes);
    handleTable[slot] = freeSlotHead;
    freeSlotHead = slot;
}

// Releases the span starting at the given block, its blocks pushed in ascending order.
void vSStringHeapState::FreeSpan(vSStringHeapPage* page, uint32_t pageOffset)
{
    const uint32_t shift = page->shift;
    const uint32_t blockSize = 1u << shift;
    unsigned char* bitmap = page->Bitmap();
    uint32_t b = BitPairOf(pageOffset, shift);
    for (;;)
    {
        PushFree(page, pageOffset, blockSize);
        ClearPair(bitmap, b);
        if (!TestBit(bitmap, b + 3))
            break;
        pageOffset += blockSize;
        b += 2;
    }
}

void vSStringHeapState::Free(void* block)
{
    if (block == nullptr)
        return;
    uint32_t slot;
    if (IsLarge(block, slot))
        FreeLarge(block, slot);
    else
        FreeSpan(PageOf(block), PageOffsetOf(block));
}

void* vSStringHeapState::ReallocatePooled(void* block, uint32_t size)
{
    vSStringHeapPage* const page = PageOf(block);
    const uint32_t offset = PageOffsetOf(block);
    const uint32_t shift = page->shift;
    const uint32_t blockSize = 1u << shift;
    unsigned char* const bitmap = page->Bitmap();
    uint32_t span = blockSize;
    if (size > blockSize)
    {
        // c: the continuation bit of the first block behind the span.
        uint32_t c = BitPairOf(offset, shift) + 3;
        while (TestBit(bitmap, c))
        {
            span += blockSize;
            c += 2;
        }
        if (size > span)
        {
            // Growth in place takes only the one block behind the span, and only when it is
            // free; the past-the-end marker of the page looks like a taken block.
            if (size > span + blockSize || TestBit(bitmap, c - 1))
                return MovePooled(block, size, span);
            SetBit(bitmap, c);
            Unlink(page, offset + span);
            VE_UNPOISON(static_cast<unsigned char*>(block) + span, blockSize);
            return block;
        }
    }
    // Shrinking never gives back continuation blocks: the span stays whole or moves.
    if (size >= span / 3)
        return block;
    if (size == 0)
    {
        FreeSpan(page, offset);
        return nullptr;
    }
    return MovePooled(block, size, size);
}

void* vSStringHeapState::MovePooled(void* block, uint32_t size, uint32_t copy)
{
    // The new block comes first: if the general heap fails, the old block is untouched.
    void* const moved = Allocate(size);
    std::memcpy(moved, block, copy);
    FreeSpan(PageOf(block), PageOffsetOf(block));
    CountMove(copy);
    return moved;
}

void* vSStringHeapState::Reallocate(void* block, uint32_t size)
{
    if (block == nullptr)
        return Allocate(size);
    uint32_t slot;
    if (!IsLarge(block, slot))
        return ReallocatePooled(block, size);

    const uint32_t capacity = ReadWord(static_cast<unsigned char*>(block) - kLargeHeaderBytes + kLargeCapacityOffset);
    if (size < capacity && size > uint64_t(capacity) * 2 / 5)
        return block;
    // A size of 0 becomes an 8-byte pooled block; a size of exactly the capacity moves too.
    const uint32_t copy = size < capacity ? size : capacity;
    void* const moved = Allocate(size);
    std::memcpy(moved, block, copy);
    FreeLarge(block, slot);
    CountMove(copy);
    return moved;
}

uint32_t vSStringHeapState::CapacityOf(const void* block) const
{
    uint32_t slot;
    if (IsLarge(block, slot))
        return ReadWord(static_cast<const unsigned char*>(block) - kLargeHeaderBytes + kLargeCapacityOffset);
    const vSStringHeapPage* page = PageOf(block);
    const uint32_t blockSize = 1u << page->shift;
    uint32_t span = blockSize;
    for (uint32_t c = BitPairOf(PageOffsetOf(block), page->shift) + 3; TestBit(page->Bitmap(), c); c += 2)
        span += blockSize;
    return span;
}

void vSStringHeapState::ReleaseEverything()
{
    for (uint32_t slot = 0; slot < tableCapacity; ++slot)
    {
        if (handleTable[slot] >= tableCapacity)
            GeneralRelease(reinterpret_cast<void*>(handleTable[slot]));
    }
    if (handleTable != nullptr)
        GeneralRelease(handleTable);
    for (unsigned char* chunk = newestChunk; chunk != nullptr;)
    {
        unsigned char* const older = ChunkNext(chunk);
        VE_UNPOISON(chunk, kChunkBytes);
        GeneralRelease(chunk);
        chunk = older;
    }
    const vSStringHeapGeneralHeap keep = general;
    *this = vSStringHeapState{};
    general = keep;
}

// The string's calls end here; flattening puts the whole fast path of each operation into one
// function (the slow paths are kept out of line).
void vCStringHeap::Initialize() { g_heap.Initialize(); }
[[gnu::flatten]] void* vCStringHeap::Allocate(uint32_t size) { return g_heap.Allocate(size); }
[[gnu::flatten]] void* vCStringHeap::Reallocate(void* block, uint32_t size) { return g_heap.Reallocate(block, size); }
[[gnu::flatten]] void vCStringHeap::Free(void* block) { g_heap.Free(block); }

namespace {

// Sets the heap up before main. Strings built by initialisers that run earlier set it up
// themselves through Allocate.
struct vSStringHeapStartup
{
    vSStringHeapStartup() { vCStringHeap::Initialize(); }
};
const vSStringHeapStartup g_startup;

} // namespace
