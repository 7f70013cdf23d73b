#include "xsnd_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// An output stream that keeps what it is given and how many Writes it took.
class MemoryOutput : public vCOutputStream
{
public:
    bool WriteString(const vCString& s) override { return Write(s.GetText(), s.GetLength()); }
    bool Write(const void* source, uint32_t n) override
    {
        const unsigned char* bytes = static_cast<const unsigned char*>(source);
        data.insert(data.end(), bytes, bytes + n);
        ++writes;
        return !failWrites;
    }
    bool ReservedOutput(uint32_t, uint32_t) override { return true; }

    Bytes data;
    int writes = 0;
    bool failWrites = false;
};

constexpr int64_t kEpoch = 0;
constexpr int64_t kApril27th2012Noon = 1335528000; // 2012-04-27 12:00:00 UTC

const Bytes kHeaderFor1000044AtEpoch = {
    0x47, 0x41, 0x52, 0x33, 0x00, 0x00, 0x00, 0x00, 0x47, 0x52, 0x30, 0x31, 0x53, 0x4E, 0x30, 0x38,
    0x28, 0x00, 0x00, 0x00, 0x53, 0x00, 0x00, 0x00, 0x7B, 0x00, 0x00, 0x00, 0x74, 0x42, 0x0F, 0x00,
    0x00, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0x01, 0x2E, 0x77, 0x61, 0x76, 0x00, 0x00, 0x00, 0x00,
};

const Bytes kPropertyBlockFor1000Ms = {
    0x47, 0x45, 0x43, 0x30, 0x06, 0xCA, 0xE0, 0x88, 0x01, 0x00, 0x23, 0x00, 0x00, 0x00, 0x1E, 0x00,
    0x00, 0x00, 0x1F, 0x00, 0x00, 0x00, 0x02, 0x00, 0xCD, 0x93, 0x3C, 0xB2, 0xEB, 0x63, 0x96, 0x7C,
    0x04, 0x00, 0x00, 0x00, 0xE8, 0x03, 0x00, 0x00, 0xA0, 0xA7, 0xCB, 0xF9, 0xB2, 0x96, 0x2E, 0x0D,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xCA, 0xE0, 0x88, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xDD,
    0x29, 0xF9, 0x7B, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x72, 0xA0, 0xAD, 0x84, 0x01, 0x00, 0x00,
    0x00, 0x00, 0x00,
};

Bytes Slice(const Bytes& bytes, size_t from, size_t count) { return Bytes(bytes.begin() + from, bytes.begin() + from + count); }

// Catches: any wrong constant, field width or byte order in the 48-byte file header.
TEST(XsndLayout, HeaderMatchesTheReferenceBytesAtTheEpoch)
{
    MemoryOutput out;
    EXPECT_TRUE(xsnd::WriteLayout(out, {1000044, xsnd::EncodeTimestamp(kEpoch), 0}));
    ASSERT_EQ(out.data.size(), 131u);
    EXPECT_EQ(Slice(out.data, 0, 48), kHeaderFor1000044AtEpoch);
}

// Catches: a wrong identifier, count or group in the 83-byte property block.
TEST(XsndLayout, PropertyBlockMatchesTheReferenceBytesFor1000Ms)
{
    MemoryOutput out;
    xsnd::WriteLayout(out, {0, 0, 1000});
    ASSERT_EQ(out.data.size(), 131u);
    EXPECT_EQ(Slice(out.data, 48, 83), kPropertyBlockFor1000Ms);
}

// Catches: fields merged or split (the output window gathers exactly 33 small writes).
TEST(XsndLayout, WritesOneFieldPerWrite)
{
    MemoryOutput out;
    xsnd::WriteLayout(out, {0, 0, 0});
    EXPECT_EQ(out.writes, 33);
    MemoryOutput tag;
    EXPECT_TRUE(xsnd::WritePayloadTag(tag));
    EXPECT_EQ(tag.writes, 1);
    EXPECT_EQ(tag.data, (Bytes{0x47, 0x41, 0x52, 0x33, 0, 0, 0, 0}));
}

// Catches: a failed Write reported as success.
TEST(XsndLayout, AFailedWriteIsReported)
{
    MemoryOutput out;
    out.failWrites = true;
    EXPECT_FALSE(xsnd::WriteLayout(out, {0, 0, 0}));
    EXPECT_FALSE(xsnd::WritePayloadTag(out));
}

// Catches: integers written without regard to the output's byte-swap flag, or texts swapped.
TEST(XsndLayout, IntegersFollowTheByteSwapFlagAndTextsDoNot)
{
    MemoryOutput out;
    out.SetSwapEndianness(true);
    xsnd::WriteLayout(out, {0, 0, 1000});
    EXPECT_EQ(Slice(out.data, 0, 8), (Bytes{0x47, 0x41, 0x52, 0x33, 0, 0, 0, 0}));
    EXPECT_EQ(Slice(out.data, 16, 4), (Bytes{0, 0, 0, 0x28}));
    EXPECT_EQ(Slice(out.data, 56, 2), (Bytes{0, 1}));
    EXPECT_EQ(Slice(out.data, 84, 4), (Bytes{0, 0, 0x03, 0xE8}));
}

struct TimestampRow
{
    int64_t seconds;
    uint64_t expected;
};

const TimestampRow kTimestampRows[] = {
    {kEpoch, 0x019DB1DED53E8000},             // 1970-01-01: the FILETIME of the Unix epoch
    {kApril27th2012Noon, 0x01CD246D45852000}, // stored as 00 20 85 45 6D 24 CD 01
    {-11644473600, 0},                        // 1601-01-01, the FILETIME origin
    {1, 0x019DB1DED53E8000 + 10000000},       // one second is 10^7 ticks
};

// Catches: wrong epoch offset, wrong tick rate, or 32-bit overflow in the product.
TEST(XsndLayout, TimestampIsFiletimeOfWholeSeconds)
{
    for (const TimestampRow& row : kTimestampRows)
    {
        SCOPED_TRACE(row.seconds);
        EXPECT_EQ(xsnd::EncodeTimestamp(row.seconds), row.expected);
    }
    MemoryOutput out;
    xsnd::WriteLayout(out, {0, xsnd::EncodeTimestamp(kApril27th2012Noon), 0});
    EXPECT_EQ(Slice(out.data, 32, 8), (Bytes{0x00, 0x20, 0x85, 0x45, 0x6D, 0x24, 0xCD, 0x01}));
}

// Catches: a data block length that is not the payload size + 8.
TEST(XsndLayout, DataBlockLengthIsPayloadPlusTag)
{
    MemoryOutput out;
    xsnd::WriteLayout(out, {xsnd::kMaxPayloadSize, 0, 0});
    EXPECT_EQ(Slice(out.data, 28, 4), (Bytes{0x7C, 0xFF, 0xFF, 0xFF})); // (2^32 - 1 - 139) + 8
}

struct LocateRow
{
    uint32_t offset;
    uint32_t length;
    uint32_t fileSize;
    bool valid;
    uint32_t payloadOffset;
    uint32_t payloadLength;
};

const LocateRow kLocateRows[] = {
    {123, 1008, 1139, true, 139, 1000},          // what the writer produces
    {200, 108, 316, true, 216, 100},             // a longer property block is passed over
    {123, 8, 139, true, 139, 0},                 // length 8: an empty payload
    {123, 8, 131, false, 0, 0},                  // the payload tag itself lies past the end
    {123, 1008, 1138, false, 0, 0},              // the payload ends one byte past the file
    {123, 7, 1000, false, 0, 0},                 // length below 8 would wrap to nearly 4 GiB
    {123, 0, 1000, false, 0, 0},                 // length 0 likewise
    {0xFFFFFFF0u, 8, 1000, false, 0, 0},         // offset + 16 wraps around to 0
    {0xFFFFFFFFu, 0xFFFFFFFFu, 1000, false, 0, 0}, // both at their largest
    {16, 8, 32, true, 32, 0},                    // the smallest file the reader accepts
    {0, 24, 31, false, 0, 0},                    // shorter than the reader's 32 header bytes
};

// Catches: trusting header fields that point outside the file (out-of-bounds reads, huge buffers).
TEST(XsndLayout, LocatePayloadAcceptsOnlyTruthfulHeaders)
{
    for (const LocateRow& row : kLocateRows)
    {
        SCOPED_TRACE(testing::Message() << "offset " << row.offset << " length " << row.length << " size " << row.fileSize);
        uint32_t payloadOffset = 0;
        uint32_t payloadLength = 0;
        EXPECT_EQ(xsnd::LocatePayload({row.offset, row.length}, row.fileSize, payloadOffset, payloadLength), row.valid);
        if (row.valid)
        {
            EXPECT_EQ(payloadOffset, row.payloadOffset);
            EXPECT_EQ(payloadLength, row.payloadLength);
        }
    }
}

int64_t FixedClock() { return kApril27th2012Noon; }

// Catches: a clock that cannot be replaced, or one left replaced.
TEST(XsndLayout, ClockCanBeReplacedAndRestored)
{
    const xsnd::ClockFunction previous = xsnd::SetClock(&FixedClock);
    EXPECT_EQ(xsnd::ReadClock(), kApril27th2012Noon);
    xsnd::SetClock(previous);
    EXPECT_NE(xsnd::ReadClock(), kApril27th2012Noon);
}

} // namespace
