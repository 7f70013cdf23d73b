// In-memory layout of the pooled string heap: size classes, pages, bitmap, free-list links,
// chunks and large blocks. Every offset here is the same for 4-byte and 8-byte addresses: links
// and the free-list head are page offsets, the page's ring pointer has 8 bytes, the chunk
// descriptor keeps only its count and its link to the older chunk (the base follows from the
// chunk's start), and the handle-table slots are address-sized.
//
// Page (4096 bytes on a 4096-byte boundary, one size class):
//   0   next page of the class ring (address; on 4-byte addresses bytes 4-7 stay reserved)
//   8   blocks per page (u16)        10  shift = log2 of the block size (u16)
//   12  free-list head: page offset of the first free block, 0 when none (u32)
//   16  bitmap, two bits per block-sized position of the page, plus one spare byte
//   first block .. region end: the blocks
// A free block holds two links, as page offsets (both ends of a link lie in one page):
//   bytes 0-3 the next free block, bytes 4-7 the previous one, 0 for none.
// Bit pair of the block at page offset o: b = o >> (shift - 1); bit b is its start bit,
// bit b + 1 its continuation bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// ASan visibility of the pools: a free pooled block is poisoned beyond its two links and
// unpoisoned when it is handed out again or taken by a growth in place. Plain builds compile
// the hooks away.
#if defined(__SANITIZE_ADDRESS__)
#define VE_STRINGHEAP_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VE_STRINGHEAP_ASAN 1
#endif
#endif

#if defined(VE_STRINGHEAP_ASAN)
#include <sanitizer/asan_interface.h>
#define VE_POISON(address, bytes) ASAN_POISON_MEMORY_REGION((address), (bytes))
#define VE_UNPOISON(address, bytes) ASAN_UNPOISON_MEMORY_REGION((address), (bytes))
// For the one read that may look into the tail of the free block in front of a pooled block.
#define VE_NO_SANITIZE_ADDRESS __attribute__((no_sanitize_address))
#else
#define VE_POISON(address, bytes) ((void)(address), (void)(bytes))
#define VE_UNPOISON(address, bytes) ((void)(address), (void)(bytes))
#define VE_NO_SANITIZE_ADDRESS
#endif

namespace vStringHeapLayout {

constexpr uint32_t kClassCount = 6;
constexpr uint32_t kLargestPooledSize = 256;

constexpr uint32_t kPageBytes = 4096;
constexpr uintptr_t kPageOffsetMask = kPageBytes - 1;
constexpr uint32_t kPageHeaderBytes = 16;
constexpr uint32_t kBlockAlignment = 8;
// Two bits for each of the block-sized positions of a page, in bytes, for the smallest block.
constexpr uint32_t kBitmapBitsPerPosition = 2;

// A chunk holds seven pages behind a 12-byte descriptor: base = start + 11 rounded down to a
// page boundary, pages at base + i * 4096 for i = 7..1, so page 1 starts at least 12 bytes in
// and page 7 ends at or before start + 8 * 4096 + 11.
constexpr uint32_t kPagesPerChunk = 7;
constexpr uint32_t kChunkDescriptorBytes = 12;
constexpr uint32_t kChunkBytes = (kPagesPerChunk + 1) * kPageBytes + kChunkDescriptorBytes - 1;
static_assert(kChunkBytes == 32779, "chunk size");
// Descriptor: byte 0 pages not yet handed out; bytes 4.. the next older chunk (an address,
// stored unaligned). The base is not stored: it follows from the chunk's start.
constexpr uint32_t kChunkPagesLeftOffset = 0;
constexpr uint32_t kChunkNextOffset = 4;
static_assert(kChunkNextOffset + sizeof(void*) <= kChunkDescriptorBytes, "chunk descriptor must fit in front of page 1");

// Large block: u32 capacity, u32 slot index XOR kSlotKey, then the caller's bytes.
constexpr uint32_t kLargeHeaderBytes = 8;
constexpr uint32_t kLargeCapacityOffset = 0;
constexpr uint32_t kLargeSlotOffset = 4;
constexpr uint32_t kSlotKey = 0xDEADBEEFu;
constexpr uint32_t kLargeGranule = 4;
// Handle table growth: capacity -> floor(5 * capacity / 4) + 512, from 0.
constexpr uint32_t kTableGrowthStep = 512;

// Free-block links, as page offsets.
constexpr uint32_t kLinkNextOffset = 0;
constexpr uint32_t kLinkPreviousOffset = 4;
constexpr uint32_t kLinkBytes = 8;

// Columns of the class table, each from its formula.
constexpr uint32_t BlockSize(uint32_t k) { return 8u << k; }
constexpr uint32_t Shift(uint32_t k) { return 3 + k; }
constexpr uint32_t BitmapBytes(uint32_t k)
{
    return kPageBytes / BlockSize(k) * kBitmapBitsPerPosition / 8 + 1;
}
constexpr uint32_t FirstBlockOffset(uint32_t k)
{
    return (kPageHeaderBytes + BitmapBytes(k) + kBlockAlignment - 1) / kBlockAlignment * kBlockAlignment;
}
constexpr uint32_t BlocksPerPage(uint32_t k) { return (kPageBytes - FirstBlockOffset(k)) / BlockSize(k); }
constexpr uint32_t RegionEnd(uint32_t k) { return FirstBlockOffset(k) + BlocksPerPage(k) * BlockSize(k); }
constexpr uint32_t BitPairOf(uint32_t pageOffset, uint32_t shift) { return pageOffset >> (shift - 1); }
constexpr uint32_t FirstBitPair(uint32_t k) { return BitPairOf(FirstBlockOffset(k), Shift(k)); }
constexpr uint32_t PastEndBit(uint32_t k) { return BitPairOf(RegionEnd(k), Shift(k)); }

struct vSStringHeapClass
{
    uint32_t blockSize;
    uint32_t shift;
    uint32_t blocksPerPage;
    uint32_t bitmapBytes;
    uint32_t firstBlock;    // page offset of block 0
    uint32_t regionEnd;     // page offset just past the last block
    uint32_t firstBitPair;  // start bit of block 0
    uint32_t pastEndBit;    // start bit of the position past the last block; set for life
};

constexpr vSStringHeapClass kClasses[kClassCount] = {
    //  s  shift  blocks  bitmap  first   end   pair  past-end
    {   8,   3,    493,    129,    152,  4096,   38,   1024 },
    {  16,   4,    250,     65,     88,  4088,   11,    511 },
    {  32,   5,    126,     33,     56,  4088,    3,    255 },
    {  64,   6,     63,     17,     40,  4072,    1,    127 },
    { 128,   7,     31,      9,     32,  4000,    0,     62 },
    { 256,   8,     15,      5,     24,  3864,    0,     30 },
};

constexpr bool RowFollowsFormulas(uint32_t k)
{
    const vSStringHeapClass& c = kClasses[k];
    return c.blockSize == BlockSize(k) && c.shift == Shift(k) && c.blocksPerPage == BlocksPerPage(k) &&
           c.bitmapBytes == BitmapBytes(k) && c.firstBlock == FirstBlockOffset(k) && c.regionEnd == RegionEnd(k) &&
           c.firstBitPair == FirstBitPair(k) && c.pastEndBit == PastEndBit(k);
}
static_assert(RowFollowsFormulas(0) && RowFollowsFormulas(1) && RowFollowsFormulas(2), "class table");
static_assert(RowFollowsFormulas(3) && RowFollowsFormulas(4) && RowFollowsFormulas(5), "class table");
static_assert(BlockSize(kClassCount - 1) == kLargestPooledSize, "largest class serves the largest pooled request");
static_assert(BlockSize(0) >= kLinkBytes, "two links fill the smallest block");

// Every bit the heap sets or tests lies in the bitmap, the past-the-end pair included.
constexpr bool PastEndPairInBitmap(uint32_t k) { return PastEndBit(k) + 1 < BitmapBytes(k) * 8; }
static_assert(PastEndPairInBitmap(0) && PastEndPairInBitmap(1) && PastEndPairInBitmap(2), "bitmap size");
static_assert(PastEndPairInBitmap(3) && PastEndPairInBitmap(4) && PastEndPairInBitmap(5), "bitmap size");
// Offset 0 of a page is never a block, so 0 can mean "no block" in links and the head.
static_assert(FirstBlockOffset(kClassCount - 1) > kPageHeaderBytes, "blocks lie behind the header");

// Class of a request of n <= 256 bytes: the smallest k with 8 * 2^k >= n; 0 for n = 0.
constexpr uint32_t ClassForSize(uint32_t n)
{
    uint32_t k = 0;
    while (BlockSize(k) < n)
        ++k;
    return k;
}

// The class depends only on the number of 8-byte units a request needs, 0 to 32.
struct vSStringHeapClassLookup
{
    uint8_t classOfUnits[kLargestPooledSize / 8 + 1];
};

constexpr vSStringHeapClassLookup MakeClassLookup()
{
    vSStringHeapClassLookup lookup{};
    for (uint32_t units = 0; units <= kLargestPooledSize / 8; ++units)
        lookup.classOfUnits[units] = static_cast<uint8_t>(ClassForSize(units * 8));
    return lookup;
}

constexpr vSStringHeapClassLookup kClassLookup = MakeClassLookup();
static_assert(kClassLookup.classOfUnits[0] == 0 && kClassLookup.classOfUnits[1] == 0, "0 to 8 bytes: class 0");
static_assert(kClassLookup.classOfUnits[2] == 1 && kClassLookup.classOfUnits[3] == 2, "9 to 16, 17 to 24");
static_assert(kClassLookup.classOfUnits[16] == 4 && kClassLookup.classOfUnits[17] == 5, "128 and 129 bytes");

inline uint32_t ClassOfRequest(uint32_t n) { return kClassLookup.classOfUnits[(n + 7) >> 3]; }

} // namespace vStringHeapLayout

// Header of a page. On 4-byte addresses the ring pointer leaves bytes 4-7 untouched.
struct vSStringHeapPage
{
    vSStringHeapPage* next;
    alignas(8) uint16_t blocksPerPage;
    uint16_t shift;
    uint32_t freeHead;

    unsigned char* Bitmap() { return reinterpret_cast<unsigned char*>(this) + vStringHeapLayout::kPageHeaderBytes; }
    const unsigned char* Bitmap() const
    {
        return reinterpret_cast<const unsigned char*>(this) + vStringHeapLayout::kPageHeaderBytes;
    }
    unsigned char* BlockAt(uint32_t pageOffset) { return reinterpret_cast<unsigned char*>(this) + pageOffset; }
    const unsigned char* BlockAt(uint32_t pageOffset) const
    {
        return reinterpret_cast<const unsigned char*>(this) + pageOffset;
    }
};

static_assert(sizeof(void*) <= 8, "the ring pointer has 8 bytes in the page header");
static_assert(offsetof(vSStringHeapPage, next) == 0, "page header layout");
static_assert(offsetof(vSStringHeapPage, blocksPerPage) == 8, "page header layout");
static_assert(offsetof(vSStringHeapPage, shift) == 10, "page header layout");
static_assert(offsetof(vSStringHeapPage, freeHead) == 12, "page header layout");
static_assert(sizeof(vSStringHeapPage) == vStringHeapLayout::kPageHeaderBytes, "page header layout");

namespace vStringHeapLayout {

inline vSStringHeapPage* PageOf(const void* block)
{
    return reinterpret_cast<vSStringHeapPage*>(reinterpret_cast<uintptr_t>(block) & ~kPageOffsetMask);
}
inline uint32_t PageOffsetOf(const void* block)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block) & kPageOffsetMask);
}

// Bit j of a bitmap is bit j mod 8, from the least significant, of byte j / 8.
inline bool TestBit(const unsigned char* bitmap, uint32_t j) { return (bitmap[j >> 3] >> (j & 7)) & 1u; }
inline void SetBit(unsigned char* bitmap, uint32_t j) { bitmap[j >> 3] |= static_cast<unsigned char>(1u << (j & 7)); }
inline void ClearBit(unsigned char* bitmap, uint32_t j)
{
    bitmap[j >> 3] &= static_cast<unsigned char>(~(1u << (j & 7)));
}
// Bits j and j + 1; a pair that begins at bit 7 of a byte ends in the next one.
inline void ClearPair(unsigned char* bitmap, uint32_t j)
{
    bitmap[j >> 3] &= static_cast<unsigned char>(~(3u << (j & 7)));
    if ((j & 7) == 7)
        bitmap[(j >> 3) + 1] &= static_cast<unsigned char>(~1u);
}

// 32-bit words at any alignment, in the machine's byte order (links, large-block headers).
inline uint32_t ReadWord(const unsigned char* at)
{
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}
inline void WriteWord(unsigned char* at, uint32_t value) { std::memcpy(at, &value, sizeof value); }

inline uint32_t NextLink(const unsigned char* freeBlock) { return ReadWord(freeBlock + kLinkNextOffset); }
inline uint32_t PreviousLink(const unsigned char* freeBlock) { return ReadWord(freeBlock + kLinkPreviousOffset); }
inline void SetNextLink(unsigned char* freeBlock, uint32_t pageOffset) { WriteWord(freeBlock + kLinkNextOffset, pageOffset); }
inline void SetPreviousLink(unsigned char* freeBlock, uint32_t pageOffset)
{
    WriteWord(freeBlock + kLinkPreviousOffset, pageOffset);
}

inline uintptr_t ChunkBase(const unsigned char* chunk)
{
    return (reinterpret_cast<uintptr_t>(chunk) + kChunkDescriptorBytes - 1) & ~kPageOffsetMask;
}
inline vSStringHeapPage* ChunkPage(const unsigned char* chunk, uint32_t index)
{
    return reinterpret_cast<vSStringHeapPage*>(ChunkBase(chunk) + uintptr_t(index) * kPageBytes);
}

} // namespace vStringHeapLayout
