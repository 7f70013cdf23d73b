// The heap's own invariants, walked structure by structure. Used by the tests after every step
// of long random sequences; nothing in the tool calls it.
#include "ve_stringheap_state.h"

#include <algorithm>
#include <vector>

using namespace vStringHeapLayout;

namespace {

// Bounds every walk, so a broken link ends in a message instead of a loop.
constexpr uint32_t kMaxChunks = 1u << 20;

const char* CheckPage(const vSStringHeapPage* page, uint32_t k, vSStringHeapCensus& census)
{
    const vSStringHeapClass& c = kClasses[k];
    if (page->shift != c.shift || page->blocksPerPage != c.blocksPerPage)
        return "page header does not match its class ring";
    const unsigned char* bitmap = page->Bitmap();
    for (uint32_t j = 0; j < c.firstBitPair; ++j)
        if (TestBit(bitmap, j))
            return "bit set in front of the first block";
    if (!TestBit(bitmap, c.pastEndBit))
        return "past-the-end marker clear";
    for (uint32_t j = c.pastEndBit + 1; j < c.bitmapBytes * 8; ++j)
        if (TestBit(bitmap, j))
            return "bit set behind the past-the-end marker";

    uint32_t freeByBits = 0;
    bool previousTaken = false;
    for (uint32_t i = 0; i < c.blocksPerPage; ++i)
    {
        const uint32_t b = c.firstBitPair + 2 * i;
        const bool start = TestBit(bitmap, b);
        const bool continuation = TestBit(bitmap, b + 1);
        if (start && continuation)
            return "block with both bits set";
        if (continuation && !previousTaken)
            return "continuation block behind a free block";
        if (start)
            ++census.spans;
        else if (continuation)
            ++census.continuationBlocks;
        else
            ++freeByBits;
        previousTaken = start || continuation;
    }

    std::vector<bool> listed(c.blocksPerPage, false);
    uint32_t previous = 0;
    uint32_t onList = 0;
    for (uint32_t offset = page->freeHead; offset != 0;)
    {
        if (offset < c.firstBlock || offset >= c.regionEnd || (offset - c.firstBlock) % c.blockSize != 0)
            return "free-list link to no block";
        const uint32_t i = (offset - c.firstBlock) / c.blockSize;
        if (listed[i])
            return "free list runs in a circle";
        listed[i] = true;
        const uint32_t b = c.firstBitPair + 2 * i;
        if (TestBit(bitmap, b) || TestBit(bitmap, b + 1))
            return "taken block on the free list";
        const unsigned char* block = page->BlockAt(offset);
        if (PreviousLink(block) != previous)
            return "free-list links disagree";
        previous = offset;
        offset = NextLink(block);
        ++onList;
    }
    if (onList != freeByBits)
        return "free block missing from the free list";
    census.freeBlocks += onList;
    return nullptr;
}

} // namespace

const char* vSStringHeapState::Check(vSStringHeapCensus* out) const
{
    vSStringHeapCensus census;

    std::vector<const vSStringHeapPage*> handedOut;
    for (const unsigned char* chunk = newestChunk; chunk != nullptr; chunk = ChunkNext(chunk))
    {
        if (++census.chunks > kMaxChunks)
            return "chunk chain runs in a circle";
        const uint32_t pagesLeft = chunk[kChunkPagesLeftOffset];
        if (pagesLeft > kPagesPerChunk || (chunk != newestChunk && pagesLeft != 0))
            return "chunk with a wrong count of pages left";
        if (reinterpret_cast<uintptr_t>(ChunkPage(chunk, 1)) < reinterpret_cast<uintptr_t>(chunk) + kChunkDescriptorBytes ||
            reinterpret_cast<uintptr_t>(ChunkPage(chunk, kPagesPerChunk)) + kPageBytes >
                reinterpret_cast<uintptr_t>(chunk) + kChunkBytes)
            return "chunk pages outside the chunk";
        for (uint32_t i = kPagesPerChunk; i > pagesLeft; --i)
            handedOut.push_back(ChunkPage(chunk, i));
    }
    census.pages = static_cast<uint32_t>(handedOut.size());
    std::sort(handedOut.begin(), handedOut.end());
    std::vector<bool> inRing(handedOut.size(), false);

    if (initialised)
    {
        for (uint32_t k = 0; k < kClassCount; ++k)
        {
            const vSStringHeapPage* const current = currentPages[k];
            const vSStringHeapPage* page = current;
            do
            {
                const auto at = std::lower_bound(handedOut.begin(), handedOut.end(), page);
                if (at == handedOut.end() || *at != page)
                    return "ring page not handed out by a chunk";
                const auto index = static_cast<size_t>(at - handedOut.begin());
                if (inRing[index])
                    return "ring does not close at its current page";
                inRing[index] = true;
                ++census.pagesOfClass[k];
                if (const char* problem = CheckPage(page, k, census))
                    return problem;
                page = page->next;
            } while (page != current);
        }
    }
    if (std::find(inRing.begin(), inRing.end(), false) != inRing.end())
        return "handed-out page in no ring";

    if ((handleTable == nullptr) != (tableCapacity == 0))
        return "handle table and capacity disagree";
    std::vector<bool> freeSlot(tableCapacity, false);
    for (uint32_t slot = freeSlotHead; slot != 0; slot = static_cast<uint32_t>(handleTable[slot]))
    {
        if (slot >= tableCapacity || handleTable[slot] >= tableCapacity)
            return "free-slot list leaves the table";
        if (freeSlot[slot])
            return "free-slot list runs in a circle";
        freeSlot[slot] = true;
        ++census.freeSlots;
    }
    for (uint32_t slot = 0; slot < tableCapacity; ++slot)
    {
        const uintptr_t content = handleTable[slot];
        if (content < tableCapacity)
        {
            if (slot != 0 && !freeSlot[slot])
                return "free slot missing from the free-slot list";
            continue;
        }
        if (slot == 0)
            return "slot 0 in use";
        const auto* start = reinterpret_cast<const unsigned char*>(content);
        if (ReadWord(start + kLargeSlotOffset) != (slot ^ kSlotKey))
            return "large block does not name its slot";
        const uint32_t capacity = ReadWord(start + kLargeCapacityOffset);
        if (capacity <= kLargestPooledSize || capacity % kLargeGranule != 0)
            return "large block with a wrong capacity";
        ++census.largeBlocks;
    }

    if (out != nullptr)
        *out = census;
    return nullptr;
}
