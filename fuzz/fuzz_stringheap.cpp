// The pooled string heap against a plain model, on a heap state fresh for every input: sequences
// of Allocate, Reallocate and Free (null blocks included), with the heap's own invariant checker
// after every step. The model holds each live block's capacity and the seed of the bytes that
// fill the whole capacity, so that
//  - a block never overlaps another live block,
//  - Reallocate keeps the first min(old capacity, new size) bytes, whether it moves or not,
//  - writing a block's whole capacity disturbs no other block (and, under the address sanitizer,
//    touches nothing the heap keeps poisoned).
// At the end every block is released, and the heap must hold no span and no large block.
#include "fuzz_ops.h"
#include "fuzz_support.h"
#include "ve_stringheap_state.h"

#include <cstring>
#include <iterator>
#include <map>
#include <string>

namespace {

constexpr uint32_t kSizeLimit = vfuzz::kHeapSizeLimit; // large blocks of several pages
constexpr size_t kLiveLimit = 600;     // enough to fill pages and start second chunks
constexpr uint64_t kBytesLimit = 2 * 1024 * 1024;

struct Live
{
    uint32_t capacity;
    uint32_t seed;
};

// Byte loops over whole blocks: traced for coverage they would cost most of the run and guide
// nothing. (GCC, which builds the replayer, knows no such attribute and needs none.)
#if defined(__clang__)
#define VFUZZ_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#else
#define VFUZZ_NO_COVERAGE
#endif

// Byte i of a block filled with `seed`; a cheaper pattern than vfuzz::PatternByte, since every
// block is filled whole and checked whole.
inline unsigned char BlockByte(uint32_t i, uint32_t seed) { return static_cast<unsigned char>((i + seed) * 167u ^ (i >> 8)); }

[[gnu::noinline]] VFUZZ_NO_COVERAGE void Fill(unsigned char* block, uint32_t bytes, uint32_t seed)
{
    for (uint32_t i = 0; i < bytes; ++i)
        block[i] = BlockByte(i, seed);
}

[[gnu::noinline]] VFUZZ_NO_COVERAGE bool Holds(const unsigned char* block, uint32_t bytes, uint32_t seed)
{
    for (uint32_t i = 0; i < bytes; ++i)
        if (block[i] != BlockByte(i, seed))
            return false;
    return true;
}

class Run
{
public:
    Run() { m_heap.Initialize(); }
    ~Run() { m_heap.ReleaseEverything(); }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    void Step(vfuzz::Input& in)
    {
        const uint8_t op = in.Byte();
        switch (op % vfuzz::kHeapOpCount)
        {
        case vfuzz::kHeapAllocate:
        {
            const uint32_t size = in.Length(kSizeLimit);
            if (m_live.size() >= kLiveLimit || m_bytes + size > kBytesLimit)
                return;
            Add(m_heap.Allocate(size), size);
            break;
        }
        case vfuzz::kHeapReallocate: // of a live block, or of none, which allocates
        {
            const uint32_t size = in.Length(kSizeLimit);
            const uint16_t pick = static_cast<uint16_t>(in.U16());
            if (m_live.empty() || (op & vfuzz::kHeapNullBlock) != 0)
            {
                if (m_live.size() >= kLiveLimit || m_bytes + size > kBytesLimit)
                    return;
                void* block = m_heap.Reallocate(nullptr, size);
                VFUZZ_CHECK(block != nullptr);
                Add(block, size);
                return;
            }
            auto it = Pick(pick);
            if (m_bytes - it->second.capacity + size > kBytesLimit)
                return;
            unsigned char* old = it->first;
            const Live live = it->second;
            Remove(it);
            unsigned char* block = static_cast<unsigned char*>(m_heap.Reallocate(old, size));
            if (size == 0 && block == nullptr)
                return; // released
            VFUZZ_CHECK(block != nullptr);
            const uint32_t kept = live.capacity < size ? live.capacity : size;
            if (!Holds(block, kept, live.seed))
                vfuzz::Fail(__FILE__, __LINE__,
                            "Reallocate from " + std::to_string(live.capacity) + " to " + std::to_string(size) +
                                " bytes lost the kept bytes" + (block == old ? " in place" : " in a move"));
            Add(block, size);
            break;
        }
        case vfuzz::kHeapFree:
        {
            const uint16_t pick = static_cast<uint16_t>(in.U16());
            if (m_live.empty() || (op & vfuzz::kHeapNullBlock) != 0)
            {
                m_heap.Free(nullptr);
                return;
            }
            auto it = Pick(pick);
            unsigned char* block = it->first;
            Remove(it);
            m_heap.Free(block);
            break;
        }
        default:
            VerifyAll();
            break;
        }
    }

    void CheckHeap()
    {
        const char* problem = m_heap.Check();
        if (problem != nullptr)
            vfuzz::Fail(__FILE__, __LINE__, std::string("heap invariant: ") + problem);
    }

    void Finish()
    {
        VerifyAll();
        while (!m_live.empty())
        {
            unsigned char* block = m_live.begin()->first;
            Remove(m_live.begin());
            m_heap.Free(block);
        }
        vSStringHeapCensus census;
        const char* problem = m_heap.Check(&census);
        if (problem != nullptr)
            vfuzz::Fail(__FILE__, __LINE__, std::string("heap invariant at the end: ") + problem);
        VFUZZ_CHECK_EQ(census.spans, 0u);
        VFUZZ_CHECK_EQ(census.continuationBlocks, 0u);
        VFUZZ_CHECK_EQ(census.largeBlocks, 0u);
    }

private:
    using Map = std::map<unsigned char*, Live>;

    Map::iterator Pick(uint16_t pick) { return std::next(m_live.begin(), pick % m_live.size()); }

    void Remove(Map::iterator it)
    {
        m_bytes -= it->second.capacity;
        m_live.erase(it);
    }

    void Add(void* pointer, uint32_t size)
    {
        unsigned char* block = static_cast<unsigned char*>(pointer);
        VFUZZ_CHECK(block != nullptr);
        const uint32_t capacity = m_heap.CapacityOf(block);
        if (capacity < size)
            vfuzz::Fail(__FILE__, __LINE__,
                        "block of capacity " + std::to_string(capacity) + " for " + std::to_string(size) + " bytes");
        const auto after = m_live.lower_bound(block);
        if (after != m_live.end())
            VFUZZ_CHECK(block + capacity <= after->first);
        if (after != m_live.begin())
        {
            const auto before = std::prev(after);
            VFUZZ_CHECK(before->first + before->second.capacity <= block);
        }
        const uint32_t seed = m_nextSeed++;
        Fill(block, capacity, seed);
        m_live[block] = Live{capacity, seed};
        m_bytes += capacity;
    }

    void VerifyAll()
    {
        for (const auto& [block, live] : m_live)
            if (!Holds(block, live.capacity, live.seed))
                vfuzz::Fail(__FILE__, __LINE__, "a live block of " + std::to_string(live.capacity) + " bytes changed");
    }

    vSStringHeapState m_heap;
    Map m_live;
    uint64_t m_bytes = 0;
    uint32_t m_nextSeed = 1;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vfuzz::Input in(data, size);
    Run run;
    run.CheckHeap();
    while (!in.Empty())
    {
        run.Step(in);
        run.CheckHeap();
    }
    run.Finish();
    return 0;
}
