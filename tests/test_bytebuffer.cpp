#include "ve_bytebuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

// Every byte from size through the extra byte behind capacity must be zero.
void ExpectZeroTail(const vCByteBuffer& b)
{
    for (uint32_t i = b.GetSize(); i <= b.GetCapacity(); ++i)
        ASSERT_EQ(b.GetData()[i], 0) << "byte " << i;
}

void Fill(vCByteBuffer& b, unsigned char value)
{
    for (uint32_t i = 0; i < b.GetSize(); ++i)
        b.GetData()[i] = value;
}

TEST(ByteBuffer, ReserveGrowsByHalfOrToTheNeedAndNeverShrinks)
{
    // Catches a wrong growth rule, a shrinking capacity, or an unzeroed new tail.
    struct Row
    {
        uint32_t need;
        uint32_t capacity;
    } const rows[] = {
        {1, 1},         // first block: exactly the need
        {1, 1},         // no growth when the need fits
        {2, 2},         // 1 * 3 / 2 = 1 < 2: the need wins
        {3, 3},         // 2 * 3 / 2 = 3
        {4, 4},         // 3 * 3 / 2 = 4
        {5, 6},         // 4 * 3 / 2 = 6 beats the need
        {100, 100},     // a large need wins
        {0, 100},       // never shrinks
        {8191, 8191},   // the file stream's window
    };
    vCByteBuffer b;
    EXPECT_EQ(b.GetData(), nullptr);
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.need);
        b.Reserve(row.need);
        EXPECT_EQ(b.GetCapacity(), row.capacity);
        EXPECT_EQ(b.GetSize(), 0u);
        ExpectZeroTail(b);
    }
}

TEST(ByteBuffer, ResizeZeroesWhatItDropsAndWhatItAdds)
{
    // Catches stale bytes reappearing after a shrink and grow, which would break data[size] == 0.
    vCByteBuffer b;
    b.Resize(10);
    Fill(b, 0xAB);
    b.Resize(4);
    ExpectZeroTail(b);
    b.Resize(10);
    for (uint32_t i = 0; i < 10; ++i)
        EXPECT_EQ(b.GetData()[i], i < 4 ? 0xAB : 0) << i;
    ExpectZeroTail(b);
}

TEST(ByteBuffer, WriteAtGrowsOverGapsAndKeepsTheRest)
{
    // Catches a write that does not grow the size, leaves a gap unzeroed or copies on length 0.
    vCByteBuffer b;
    const unsigned char abc[] = {'a', 'b', 'c'};
    b.WriteAt(5, abc, 3);
    ASSERT_EQ(b.GetSize(), 8u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b.GetData()), 9), std::string("\0\0\0\0\0abc\0", 9));
    b.WriteAt(1, abc, 2); // inside: size unchanged
    EXPECT_EQ(b.GetSize(), 8u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b.GetData()), 8), std::string("\0ab\0\0abc", 8));
    b.WriteAt(12, nullptr, 0); // nothing copied, size still follows the offset
    EXPECT_EQ(b.GetSize(), 12u);
    ExpectZeroTail(b);
}

TEST(ByteBuffer, ClearZeroesAndKeepsTheBlock)
{
    // Catches a Clear that frees the block (the window reuses it) or leaves bytes behind.
    vCByteBuffer b;
    b.Resize(50);
    Fill(b, 0x5A);
    const unsigned char* block = b.GetData();
    const uint32_t capacity = b.GetCapacity();
    b.Clear();
    EXPECT_EQ(b.GetSize(), 0u);
    EXPECT_EQ(b.GetData(), block);
    EXPECT_EQ(b.GetCapacity(), capacity);
    ExpectZeroTail(b);
}

} // namespace
