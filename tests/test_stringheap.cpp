#include "ve_string.h"
#include "ve_stringheap.h"
#include "ve_stringheap_state.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <new>
#include <random>
#include <vector>

using namespace vStringHeapLayout;

namespace {

// A heap state of the test's own, on a counted general heap that can be told to fail.
class TestHeap
{
public:
    TestHeap()
    {
        state.general.allocate = &CountedAllocate;
        state.general.release = &CountedRelease;
        state.general.context = this;
        state.Initialize();
    }
    ~TestHeap() { state.ReleaseEverything(); }
    TestHeap(const TestHeap&) = delete;
    TestHeap& operator=(const TestHeap&) = delete;

    vSStringHeapCensus Census() const
    {
        vSStringHeapCensus census;
        const char* problem = state.Check(&census);
        EXPECT_EQ(problem, nullptr) << problem;
        return census;
    }

    vSStringHeapState state;
    uint32_t generalRequests = 0;
    bool failNextRequest = false;

private:
    static void* CountedAllocate(void* context, size_t bytes)
    {
        auto* self = static_cast<TestHeap*>(context);
        if (self->failNextRequest)
        {
            self->failNextRequest = false;
            throw std::bad_alloc();
        }
        ++self->generalRequests;
        return ::operator new(bytes);
    }
    static void CountedRelease(void*, void* block) { ::operator delete(block); }
};

// Blocks of the six pages of a fresh heap.
constexpr uint32_t kFreshFreeBlocks = 493 + 250 + 126 + 63 + 31 + 15;

uint32_t Offset(const void* block) { return PageOffsetOf(block); }
unsigned char* Bytes(void* block) { return static_cast<unsigned char*>(block); }

bool StartBit(const void* block)
{
    const vSStringHeapPage* page = PageOf(block);
    return TestBit(page->Bitmap(), BitPairOf(Offset(block), page->shift));
}
bool ContinuationBit(const void* block)
{
    const vSStringHeapPage* page = PageOf(block);
    return TestBit(page->Bitmap(), BitPairOf(Offset(block), page->shift) + 1);
}

uint32_t ReadWordAt(const void* at) { return ReadWord(static_cast<const unsigned char*>(at)); }

void Fill(void* block, uint32_t size, uint32_t seed)
{
    for (uint32_t i = 0; i < size; ++i)
        Bytes(block)[i] = vtest::PatternByte(i, seed);
}
bool Holds(const void* block, uint32_t size, uint32_t seed)
{
    for (uint32_t i = 0; i < size; ++i)
        if (static_cast<const unsigned char*>(block)[i] != vtest::PatternByte(i, seed))
            return false;
    return true;
}

// Allocations of one class until the returned block lies at the given page offset.
void* AllocateUntilOffset(vSStringHeapState& heap, uint32_t size, uint32_t offset)
{
    for (;;)
    {
        void* block = heap.Allocate(size);
        if (Offset(block) == offset)
            return block;
    }
}

TEST(StringHeap, RequestSizesPickTheSmallestClassThatFits)
{
    // Catches an off-by-one at a class boundary, or 0 bytes sent anywhere but class 0.
    struct Row { uint32_t request; uint32_t blockSize; };
    const Row rows[] = {
        {0, 8},     // 0 bytes: class 0
        {1, 8},     //
        {8, 8},     // exactly a class size stays in that class
        {9, 16},    // one byte more takes the next class
        {16, 16},   //
        {17, 32},   //
        {33, 64},   //
        {65, 128},  //
        {128, 128}, //
        {129, 256}, //
        {256, 256}, // the largest pooled request
    };
    TestHeap heap;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.request);
        void* block = heap.state.Allocate(row.request);
        EXPECT_EQ(PageOf(block)->shift, Shift(ClassForSize(row.blockSize)));
        EXPECT_EQ(heap.state.CapacityOf(block), row.blockSize);
        uint32_t slot;
        EXPECT_FALSE(heap.state.IsLarge(block, slot));
        heap.state.Free(block);
    }
}

TEST(StringHeap, LargeBlockCarriesCapacityAndKeyedSlot)
{
    // Catches a wrong rounding of large sizes or a header the large-block test cannot recognise.
    TestHeap heap;
    void* block = heap.state.Allocate(257);
    EXPECT_EQ(ReadWordAt(Bytes(block) - 8), 260u);
    EXPECT_EQ(ReadWordAt(Bytes(block) - 4), 511u ^ 0xDEADBEEFu);
    EXPECT_EQ(ReadWordAt(Bytes(block) - 4), 0xDEADBF10u);
    EXPECT_EQ(heap.state.CapacityOf(block), 260u);
    uint32_t slot = 0;
    EXPECT_TRUE(heap.state.IsLarge(block, slot));
    EXPECT_EQ(slot, 511u);
    heap.state.Free(block);
}

TEST(StringHeap, FirstBlocksOfAFreshHeap)
{
    // Catches a wrong first-block offset or a free list not built even blocks first.
    struct Row { uint32_t size; uint32_t first; uint32_t second; };
    const Row rows[] = {
        {8, 152, 168},  // behind a 129-byte bitmap
        {16, 88, 120},  //
        {32, 56, 120},  //
        {64, 40, 168},  //
        {128, 32, 288}, //
        {256, 24, 536}, // behind a 5-byte bitmap
    };
    TestHeap heap;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.size);
        EXPECT_EQ(Offset(heap.state.Allocate(row.size)), row.first);
        EXPECT_EQ(Offset(heap.state.Allocate(row.size)), row.second);
    }
}

TEST(StringHeap, InitializeTakesOneChunkForSixClasses)
{
    // Catches pages handed out lowest first, a page at the chunk base used, or rings not closed.
    TestHeap heap;
    EXPECT_EQ(heap.generalRequests, 1u);
    const unsigned char* chunk = heap.state.newestChunk;
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(chunk[0], 1u);
    EXPECT_EQ(ChunkNext(chunk), nullptr);
    EXPECT_GE(reinterpret_cast<uintptr_t>(ChunkPage(chunk, 1)), reinterpret_cast<uintptr_t>(chunk) + 12);
    EXPECT_LE(reinterpret_cast<uintptr_t>(ChunkPage(chunk, 7)) + 4096, reinterpret_cast<uintptr_t>(chunk) + 32779);
    for (uint32_t k = 0; k < kClassCount; ++k)
    {
        SCOPED_TRACE(k);
        vSStringHeapPage* page = heap.state.currentPages[k];
        EXPECT_EQ(page, ChunkPage(chunk, 7 - k));
        EXPECT_EQ(page->next, page);
        EXPECT_EQ(page->shift, 3 + k);
        EXPECT_EQ(page->blocksPerPage, kClasses[k].blocksPerPage);
        EXPECT_TRUE(TestBit(page->Bitmap(), kClasses[k].pastEndBit));
    }
    // A further call changes nothing.
    heap.state.Initialize();
    EXPECT_EQ(heap.generalRequests, 1u);
    EXPECT_EQ(heap.Census().pages, 6u);
}

TEST(StringHeap, FreshPageHandsOutEvenBlocksThenOdd)
{
    // Catches a free list built in address order, which would leave no room to grow in place.
    TestHeap heap;
    const uint32_t order[] = {0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13};
    vSStringHeapPage* page = heap.state.currentPages[5];
    for (uint32_t i : order)
    {
        void* block = heap.state.Allocate(256);
        EXPECT_EQ(PageOf(block), page);
        EXPECT_EQ(Offset(block), 24 + 256 * i) << "block " << i;
        EXPECT_TRUE(StartBit(block));
        EXPECT_FALSE(ContinuationBit(block));
    }
    EXPECT_EQ(page->freeHead, 0u);
}

TEST(StringHeap, NewPagesComeFromPageOneThenFromASecondChunk)
{
    // Catches page 1 left unused, or a new chunk taken before the newest one is used up.
    TestHeap heap;
    unsigned char* const firstChunk = heap.state.newestChunk;
    vSStringHeapPage* const firstPage = heap.state.currentPages[5];
    for (int i = 0; i < 15; ++i)
        heap.state.Allocate(256);
    void* sixteenth = heap.state.Allocate(256);
    EXPECT_EQ(PageOf(sixteenth), ChunkPage(firstChunk, 1));
    EXPECT_EQ(Offset(sixteenth), 24u);
    EXPECT_EQ(heap.generalRequests, 1u);
    // The new page joins the class ring in front of the full page and becomes current.
    EXPECT_EQ(heap.state.currentPages[5], PageOf(sixteenth));
    EXPECT_EQ(PageOf(sixteenth)->next, firstPage);
    EXPECT_EQ(firstPage->next, PageOf(sixteenth));

    // The next new page of any class: a second chunk, its highest page first.
    for (int i = 0; i < 31; ++i)
        heap.state.Allocate(128);
    void* next = heap.state.Allocate(128);
    EXPECT_EQ(heap.generalRequests, 2u);
    EXPECT_NE(heap.state.newestChunk, firstChunk);
    EXPECT_EQ(ChunkNext(heap.state.newestChunk), firstChunk);
    EXPECT_EQ(PageOf(next), ChunkPage(heap.state.newestChunk, 7));
    EXPECT_EQ(heap.Census().chunks, 2u);
}

TEST(StringHeap, OneGeneralRequestPerSevenPages)
{
    // Catches chunks taken per page or pages lost between chunks.
    TestHeap heap;
    for (int i = 0; i < 15 * 30; ++i)
        heap.state.Allocate(256);
    const vSStringHeapCensus census = heap.Census();
    EXPECT_EQ(census.pagesOfClass[5], 30u);
    EXPECT_EQ(census.pages, 35u);
    EXPECT_EQ(census.chunks, 5u);
    EXPECT_EQ(heap.generalRequests, 5u);
}

TEST(StringHeap, GrowsInPlaceIntoTheFreeBlockBehind)
{
    // Catches growth that copies, or a neighbour left on the free list or without its bit.
    TestHeap heap;
    void* block = heap.state.Allocate(8);
    ASSERT_EQ(Offset(block), 152u);
    void* behind = Bytes(block) + 8;
    EXPECT_EQ(heap.state.Reallocate(block, 16), block);
    EXPECT_TRUE(ContinuationBit(behind));
    EXPECT_FALSE(StartBit(behind));
    EXPECT_EQ(heap.state.CapacityOf(block), 16u);
    EXPECT_EQ(heap.state.moves, 0u);
    EXPECT_EQ(heap.Census().freeBlocks, kFreshFreeBlocks - 2);

    heap.state.Free(block);
    EXPECT_EQ(PageOf(block)->freeHead, Offset(behind));
    EXPECT_EQ(NextLink(Bytes(behind)), Offset(block));
    EXPECT_FALSE(ContinuationBit(behind));
    EXPECT_EQ(heap.Census().freeBlocks, kFreshFreeBlocks);
}

TEST(StringHeap, NeedOfTwoBlocksMovesEvenWithFreeBlocksBehind)
{
    // Catches growth in place by more than one block per call.
    TestHeap heap;
    void* block = heap.state.Allocate(8);
    Fill(block, 8, 1);
    void* moved = heap.state.Reallocate(block, 17);
    EXPECT_NE(moved, block);
    EXPECT_EQ(heap.state.CapacityOf(moved), 32u);
    EXPECT_EQ(heap.state.bytesMoved, 8u);
    EXPECT_TRUE(Holds(moved, 8, 1));
    EXPECT_FALSE(StartBit(block));
    heap.Census();
}

TEST(StringHeap, LargePooledSpanGrowsOrMovesToALargeBlock)
{
    // Catches a span that cannot pass 256 bytes, or a move that copies the request, not the span.
    {
        TestHeap heap;
        void* block = heap.state.Allocate(256);
        EXPECT_EQ(heap.state.Reallocate(block, 300), block);
        EXPECT_EQ(heap.state.CapacityOf(block), 512u);
        EXPECT_EQ(heap.state.Reallocate(block, 600), block);
        EXPECT_EQ(heap.state.CapacityOf(block), 768u);
        EXPECT_EQ(heap.state.moves, 0u);
        heap.Census();
    }
    {
        TestHeap heap;
        void* block = heap.state.Allocate(256);
        EXPECT_EQ(heap.state.Reallocate(block, 300), block);
        Fill(block, 512, 2);
        void* neighbour = heap.state.Allocate(256); // block 2, right behind the span
        EXPECT_EQ(Offset(neighbour), 24u + 512u);
        void* moved = heap.state.Reallocate(block, 600);
        uint32_t slot;
        EXPECT_TRUE(heap.state.IsLarge(moved, slot));
        EXPECT_EQ(heap.state.CapacityOf(moved), 600u);
        EXPECT_EQ(heap.state.bytesMoved, 512u);
        EXPECT_TRUE(Holds(moved, 512, 2));
        heap.Census();
    }
}

TEST(StringHeap, LastBlockOfAPageNeverGrowsInPlace)
{
    // Catches a missing past-the-end marker, which would let a span run off its block region.
    for (uint32_t k = 0; k < kClassCount; ++k)
    {
        SCOPED_TRACE(k);
        TestHeap heap;
        const vSStringHeapClass& c = kClasses[k];
        void* last = AllocateUntilOffset(heap.state, c.blockSize, c.regionEnd - c.blockSize);
        EXPECT_NE(heap.state.Reallocate(last, c.blockSize + 1), last);
        heap.Census();
    }
}

TEST(StringHeap, OneBlockReallocationTable)
{
    // Catches a wrong shrink threshold, a wrong growth limit, or 0 not releasing the block.
    struct Row { uint32_t blockSize; uint32_t smallestKept; };
    const Row rows[] = {
        {8, 2},    // 1 byte still moves, to another 8-byte block
        {16, 5},   //
        {32, 10},  //
        {64, 21},  //
        {128, 42}, //
        {256, 85}, // a third of the block size, rounded down
    };
    for (const Row& row : rows)
    {
        const uint32_t s = row.blockSize;
        for (uint32_t n = 0; n <= 2 * s + 1; ++n)
        {
            SCOPED_TRACE(testing::Message() << "block " << s << ", new size " << n);
            TestHeap heap;
            void* block = heap.state.Allocate(s); // its neighbour behind is free
            Fill(block, s, n);
            void* result = heap.state.Reallocate(block, n);
            if (n == 0)
            {
                EXPECT_EQ(result, nullptr);
                EXPECT_EQ(heap.Census().spans, 0u);
            }
            else if (n < row.smallestKept)
            {
                ASSERT_NE(result, block);
                EXPECT_EQ(heap.state.CapacityOf(result), BlockSize(ClassOfRequest(n)));
                EXPECT_EQ(heap.state.bytesMoved, n);
                EXPECT_TRUE(Holds(result, n, n));
            }
            else if (n <= 2 * s)
            {
                EXPECT_EQ(result, block);
                EXPECT_EQ(heap.state.CapacityOf(result), n <= s ? s : 2 * s);
                EXPECT_TRUE(Holds(result, s, n));
            }
            else
            {
                ASSERT_NE(result, block);
                EXPECT_EQ(heap.state.bytesMoved, s);
                EXPECT_TRUE(Holds(result, s, n));
            }
            heap.Census();
        }
    }
}

TEST(StringHeap, SpanOfFourBlocksShrinks)
{
    // Catches a shrink threshold taken from the block size where the span counts, or the reverse,
    // and continuation blocks given back without moving.
    struct Row { uint32_t size; bool stays; uint32_t capacityAfter; };
    const Row rows[] = {
        {32, true, 32}, // the whole span
        {10, true, 32}, // a third of the span
        {9, false, 16}, // below a third: moves, all four blocks released
        {8, true, 32},  // fits the first block: a third of the block size decides
        {2, true, 32},  //
        {1, false, 8},  //
        {0, false, 0},  // released whole
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.size);
        TestHeap heap;
        void* block = heap.state.Allocate(8);
        for (uint32_t size : {16u, 24u, 32u})
            ASSERT_EQ(heap.state.Reallocate(block, size), block);
        ASSERT_EQ(heap.state.CapacityOf(block), 32u);
        Fill(block, 32, 7);
        void* result = heap.state.Reallocate(block, row.size);
        EXPECT_EQ(result == block, row.stays);
        const vSStringHeapCensus census = heap.Census();
        if (row.size == 0)
        {
            EXPECT_EQ(result, nullptr);
            EXPECT_EQ(census.spans, 0u);
            EXPECT_EQ(census.continuationBlocks, 0u);
            continue;
        }
        EXPECT_EQ(heap.state.CapacityOf(result), row.capacityAfter);
        EXPECT_TRUE(Holds(result, row.size, 7));
        EXPECT_EQ(census.continuationBlocks, row.stays ? 3u : 0u);
    }
}

TEST(StringHeap, SpanIsReleasedWholeLastBlockFirst)
{
    // Catches a Free that releases only the first block of a span, or pushes it in another order.
    TestHeap heap;
    void* block = heap.state.Allocate(8);
    for (uint32_t size : {16u, 24u, 32u})
        ASSERT_EQ(heap.state.Reallocate(block, size), block);
    heap.state.Free(block);
    const vSStringHeapPage* page = PageOf(block);
    uint32_t offset = page->freeHead;
    for (uint32_t expected : {176u, 168u, 160u, 152u})
    {
        EXPECT_EQ(offset, expected);
        offset = NextLink(page->BlockAt(offset));
    }
    const vSStringHeapCensus census = heap.Census();
    EXPECT_EQ(census.continuationBlocks, 0u);
    EXPECT_EQ(census.freeBlocks, kFreshFreeBlocks);
    // Last in, first out.
    EXPECT_EQ(Offset(heap.state.Allocate(8)), 176u);
}

TEST(StringHeap, HandleTableSlotsFromTheTopAndItsGrowth)
{
    // Catches slots taken from the bottom, slot 0 handed out, a wrong growth formula, or a
    // released slot not reused first.
    TestHeap heap;
    std::vector<void*> blocks;
    uint32_t slot = 0;
    for (uint32_t i = 1; i <= 511; ++i)
    {
        blocks.push_back(heap.state.Allocate(300));
        ASSERT_TRUE(heap.state.IsLarge(blocks.back(), slot));
        ASSERT_EQ(slot, 512 - i);
    }
    EXPECT_EQ(heap.state.tableCapacity, 512u);
    EXPECT_EQ(heap.state.freeSlotHead, 0u);
    const uint32_t requestsBefore = heap.generalRequests;
    blocks.push_back(heap.state.Allocate(300));
    EXPECT_EQ(heap.state.tableCapacity, 1152u);
    EXPECT_EQ(heap.generalRequests, requestsBefore + 2); // the table and the block
    ASSERT_TRUE(heap.state.IsLarge(blocks.back(), slot));
    EXPECT_EQ(slot, 1151u);
    // Earlier blocks keep their slots in the grown table.
    ASSERT_TRUE(heap.state.IsLarge(blocks[0], slot));
    EXPECT_EQ(slot, 511u);

    heap.state.Free(blocks[100]); // slot 411
    void* reused = heap.state.Allocate(1000);
    ASSERT_TRUE(heap.state.IsLarge(reused, slot));
    EXPECT_EQ(slot, 411u);
    EXPECT_EQ(heap.Census().largeBlocks, 512u);

    // Slots 1150 down to 512 come next; then the table grows again, to 1952.
    for (uint32_t i = 0; i < 1150 - 512 + 1; ++i)
        heap.state.Allocate(400);
    EXPECT_EQ(heap.state.tableCapacity, 1152u);
    heap.state.Allocate(400);
    EXPECT_EQ(heap.state.tableCapacity, 1952u);
    heap.Census();
}

TEST(StringHeap, LargeBlockReallocationTable)
{
    // Catches a wrong shrink threshold of large blocks or a wrong byte count on a move.
    struct Row { uint32_t size; bool stays; uint32_t capacityAfter; uint32_t copied; };
    const Row rows[] = {
        {999, true, 1000, 0},    // below the capacity
        {401, true, 1000, 0},    // above two fifths
        {1000, false, 1000, 1000}, // equal to the capacity moves too
        {1001, false, 1004, 1000}, //
        {400, false, 400, 400},  // two fifths: a new large block
        {257, false, 260, 257},  //
        {256, false, 256, 256},  // into a pooled block
        {1, false, 8, 1},        //
        {0, false, 8, 0},        // a new 8-byte pooled block, not null
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.size);
        TestHeap heap;
        void* block = heap.state.Allocate(1000);
        Fill(block, 1000, 3);
        void* result = heap.state.Reallocate(block, row.size);
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(result == block, row.stays);
        EXPECT_EQ(heap.state.CapacityOf(result), row.capacityAfter);
        EXPECT_EQ(heap.state.bytesMoved, row.copied);
        EXPECT_TRUE(Holds(result, row.size < 1000 ? row.size : 1000, 3));
        EXPECT_EQ(heap.Census().largeBlocks, row.capacityAfter > 256 ? 1u : 0u);
    }
}

TEST(StringHeap, NullBlocks)
{
    // Catches a Free(null) that touches the heap, or Reallocate(null) not allocating.
    TestHeap heap;
    heap.state.Free(nullptr);
    void* block = heap.state.Reallocate(nullptr, 20);
    EXPECT_EQ(Offset(block), 56u);
    EXPECT_EQ(heap.state.CapacityOf(block), 32u);
    EXPECT_EQ(heap.Census().spans, 1u);
}

TEST(StringHeap, EmptyPageStaysInItsRingAndServesAgain)
{
    // Catches pages taken out of their ring when emptied, or a ring walk that skips them.
    TestHeap heap;
    std::vector<void*> first;
    for (int i = 0; i < 15; ++i)
        first.push_back(heap.state.Allocate(256));
    vSStringHeapPage* const firstPage = PageOf(first[0]);
    for (int i = 0; i < 15; ++i)
        heap.state.Allocate(256); // the second page, now current and full
    for (void* block : first)
        heap.state.Free(block);
    EXPECT_EQ(heap.state.currentPages[5]->freeHead, 0u);
    void* again = heap.state.Allocate(256);
    EXPECT_EQ(again, first.back());
    EXPECT_EQ(heap.state.currentPages[5], firstPage);
    EXPECT_EQ(heap.Census().pagesOfClass[5], 2u);
    EXPECT_EQ(heap.generalRequests, 1u);
}

TEST(StringHeap, GeneralHeapFailureLeavesTheHeapIntact)
{
    // Catches state changed before a general-heap request that then fails.
    TestHeap heap;
    for (int i = 0; i < 31 + 31; ++i)
        heap.state.Allocate(128); // fills the class's first page and the chunk's last one
    void* pooled = heap.state.Allocate(8);
    Fill(pooled, 8, 5);
    const vSStringHeapCensus before = heap.Census();

    auto fails = [&heap](auto&& operation) {
        heap.failNextRequest = true;
        EXPECT_THROW(operation(), std::bad_alloc);
        heap.failNextRequest = false;
        const vSStringHeapCensus census = heap.Census();
        EXPECT_EQ(census.chunks, 1u);
        EXPECT_EQ(census.largeBlocks, 0u);
    };
    fails([&] { heap.state.Allocate(128); });  // a new chunk
    fails([&] { heap.state.Allocate(5000); }); // the first handle table
    EXPECT_EQ(heap.state.tableCapacity, 0u);
    heap.state.Free(heap.state.Allocate(5000));
    fails([&] { heap.state.Reallocate(pooled, 2000); }); // the new block of a move
    EXPECT_TRUE(Holds(pooled, 8, 5));
    EXPECT_EQ(heap.state.CapacityOf(pooled), 8u);
    const vSStringHeapCensus after = heap.Census();
    EXPECT_EQ(after.pages, before.pages);
    EXPECT_EQ(after.spans, before.spans);
    EXPECT_EQ(after.freeBlocks, before.freeBlocks);
    EXPECT_EQ(after.freeSlots, 511u);
}

// The heap against a plain model: every live block keeps its bytes, no two overlap, and the
// invariants hold after every step.
class RandomSequence
{
public:
    explicit RandomSequence(uint32_t seed) : m_rng(seed) {}

    void Run(uint32_t steps)
    {
        for (uint32_t step = 0; step < steps; ++step)
        {
            Step();
            const char* problem = m_heap.state.Check();
            ASSERT_EQ(problem, nullptr) << "step " << step << ": " << problem;
            if (step % 64 == 0)
                VerifyAll();
            if (testing::Test::HasFatalFailure())
                return;
        }
        VerifyAll();
        for (auto& [address, live] : m_live)
            m_heap.state.Free(live.block);
        m_live.clear();
        vSStringHeapCensus census;
        ASSERT_EQ(m_heap.state.Check(&census), nullptr);
        EXPECT_EQ(census.spans, 0u);
        EXPECT_EQ(census.continuationBlocks, 0u);
        EXPECT_EQ(census.largeBlocks, 0u);
    }

private:
    struct Live
    {
        void* block;
        uint32_t size;
        uint32_t capacity;
        uint32_t seed;
    };

    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(m_rng() % n); }

    uint32_t NewSize()
    {
        const uint32_t pick = Below(100);
        if (pick < 70)
            return Below(257);
        if (pick < 85)
            return 8u << Below(6); // exactly a class size
        return 257 + Below(3000);
    }

    uint32_t ResizedSize(uint32_t size)
    {
        const uint32_t pick = Below(100);
        if (pick < 45)
            return size + 1 + Below(16); // a string growing a little
        if (pick < 60)
            return size + Below(size + 8);
        if (pick < 90)
            return Below(size + 1);
        if (pick < 95)
            return 0;
        return NewSize();
    }

    void Step()
    {
        const uint32_t pick = Below(100);
        if (m_live.empty() || (pick < 40 && m_live.size() < 150))
        {
            const uint32_t size = NewSize();
            Add(m_heap.state.Allocate(size), size);
            return;
        }
        auto it = m_live.begin();
        std::advance(it, Below(static_cast<uint32_t>(m_live.size())));
        const Live old = it->second;
        m_live.erase(it);
        if (pick < 75)
        {
            const uint32_t size = ResizedSize(old.size);
            void* block = m_heap.state.Reallocate(old.block, size);
            if (block == nullptr)
            {
                ASSERT_EQ(size, 0u);
                return;
            }
            const uint32_t kept = old.size < size ? old.size : size;
            if (block == old.block && size > old.capacity)
                ++grownInPlace;
            else if (block != old.block)
                ++moved;
            ASSERT_TRUE(Holds(block, kept, old.seed)) << "resize " << old.size << " -> " << size;
            Add(block, size);
        }
        else
        {
            m_heap.state.Free(old.block);
        }
    }

    void Add(void* block, uint32_t size)
    {
        ASSERT_NE(block, nullptr);
        const uint32_t capacity = m_heap.state.CapacityOf(block);
        ASSERT_GE(capacity, size);
        const auto start = reinterpret_cast<uintptr_t>(block);
        const auto after = m_live.lower_bound(start);
        if (after != m_live.end())
        {
            ASSERT_LE(start + capacity, after->first) << "blocks overlap";
        }
        if (after != m_live.begin())
        {
            const auto before = std::prev(after);
            ASSERT_LE(before->first + m_heap.state.CapacityOf(before->second.block), start) << "blocks overlap";
        }
        const uint32_t seed = m_nextSeed++;
        Fill(block, size, seed);
        m_live[start] = Live{block, size, capacity, seed};
    }

    void VerifyAll()
    {
        for (const auto& [address, live] : m_live)
            ASSERT_TRUE(Holds(live.block, live.size, live.seed)) << "block lost its bytes";
    }

public:
    // What the sequence went through, so that it cannot quietly stop covering these paths.
    uint32_t grownInPlace = 0;
    uint32_t moved = 0;

private:
    TestHeap m_heap;
    std::mt19937 m_rng;
    std::map<uintptr_t, Live> m_live;
    uint32_t m_nextSeed = 1;
};

TEST(StringHeap, RandomSequencesKeepContentsAndInvariants)
{
    // Catches what hand-made cases miss: broken links, lost bits, overlapping or clobbered blocks.
    for (uint32_t seed : {1u, 2u, 3u, 4u})
    {
        SCOPED_TRACE(seed);
        RandomSequence sequence(seed);
        sequence.Run(4000);
        if (HasFatalFailure())
            return;
        EXPECT_GT(sequence.grownInPlace, 100u);
        EXPECT_GT(sequence.moved, 100u);
    }
}

// Built during static initialisation, possibly before the heap's own initialiser has run.
const vCString g_builtBeforeMain("built before main");

TEST(StringHeap, ProcessHeapServesStrings)
{
    // Catches strings not on the pooled heap, or a heap not set up for strings built before main.
    EXPECT_STREQ(g_builtBeforeMain.GetText(), "built before main");
    vSStringHeapState& global = vSStringHeapState::Global();
    EXPECT_TRUE(global.initialised);
    vCString path("dir");
    for (int i = 0; i < 100; ++i)
        path = Concat(Concat(path, "/"), "segment");
    EXPECT_EQ(path.GetLength(), 3u + 100u * 8u);
    uint32_t slot;
    EXPECT_TRUE(global.IsLarge(path.GetBlock(), slot));
    const vCString shortOne("abc");
    EXPECT_FALSE(global.IsLarge(shortOne.GetBlock(), slot));
    EXPECT_EQ(global.CapacityOf(shortOne.GetBlock()), 8u);
    EXPECT_EQ(global.Check(), nullptr);
}

#if defined(VE_STRINGHEAP_ASAN)
TEST(StringHeapDeathTest, TouchingAFreedPooledBlockIsCaught)
{
    // Catches freed pooled blocks left visible to the address sanitizer.
    EXPECT_DEATH(
        {
            void* block = vCStringHeap::Allocate(200);
            vCStringHeap::Free(block);
            static_cast<volatile unsigned char*>(block)[100] = 1;
        },
        "use-after-poison");
}
#endif

} // namespace
