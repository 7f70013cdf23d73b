#include "test_support.h"
#include "ve_error.h"
#include "ve_filestream.h"
#include "ve_stream.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A stream over a byte vector, so the interface helpers can be checked without files.
class MemoryStream : public vTIOStream<0>
{
public:
    std::vector<unsigned char> bytes;
    uint32_t position = 0;

    bool ReadString(vCString&) override { return false; }
    bool ReadString(vCString&, uint32_t) override { return false; }
    bool Read(void* destination, uint32_t n) override
    {
        if (n > bytes.size() - position)
            return false;
        std::memcpy(destination, bytes.data() + position, n);
        position += n;
        return true;
    }
    bool ReservedInput(uint32_t, uint32_t) override { return true; }
    uint32_t GetSize() override { return static_cast<uint32_t>(bytes.size()); }
    bool Seek(int32_t offset, vESeekMode) override
    {
        position = static_cast<uint32_t>(offset);
        return true;
    }
    uint32_t Tell() override { return position; }
    bool WriteString(const vCString&) override { return false; }
    bool Write(const void* source, uint32_t n) override
    {
        const auto* p = static_cast<const unsigned char*>(source);
        bytes.insert(bytes.end(), p, p + n);
        return true;
    }
    bool ReservedOutput(uint32_t, uint32_t) override { return true; }
};

bool InputFlag(vCFileStream& s) { return static_cast<vCInputStream&>(s).GetSwapEndianness(); }
bool OutputFlag(vCFileStream& s) { return static_cast<vCOutputStream&>(s).GetSwapEndianness(); }

TEST(StreamInterfaces, SwapFlagFollowsThroughEitherInterface)
{
    // Catches a SetSwapEndianness that sets only the flag of the interface it was called through.
    vCFileStream stream;
    EXPECT_FALSE(InputFlag(stream));
    EXPECT_FALSE(OutputFlag(stream));

    vCInputStream& in = stream;
    vCOutputStream& out = stream;
    in.SetSwapEndianness(true);
    EXPECT_TRUE(InputFlag(stream));
    EXPECT_TRUE(OutputFlag(stream));
    out.SetSwapEndianness(false);
    EXPECT_FALSE(InputFlag(stream));
    EXPECT_FALSE(OutputFlag(stream));
    out.SetSwapEndianness(true);
    EXPECT_TRUE(InputFlag(stream));
    EXPECT_TRUE(OutputFlag(stream));

    vCEndiannessHandler single;
    EXPECT_FALSE(single.GetSwapEndianness());
    single.SetSwapEndianness(true);
    EXPECT_TRUE(single.GetSwapEndianness());
}

TEST(StreamInterfaces, IntegersAreLittleEndianUnlessTheFlagIsSet)
{
    // Catches a helper that ignores the flag, swaps the wrong way, or depends on the host order.
    struct Row
    {
        bool swap;
        std::vector<unsigned char> bytes;
    } const rows[] = {
        {false, {0x78, 0x56, 0x34, 0x12}}, // as the files hold it
        {true, {0x12, 0x34, 0x56, 0x78}},  // reversed by the caller's helper, not by the stream
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.swap);
        MemoryStream stream;
        stream.SetSwapEndianness(row.swap);
        ASSERT_TRUE(WriteInteger<uint32_t>(stream, 0x12345678u));
        EXPECT_EQ(stream.bytes, row.bytes);
        uint32_t value = 0;
        ASSERT_TRUE(ReadInteger(stream, value));
        EXPECT_EQ(value, 0x12345678u);
    }

    MemoryStream stream;
    ASSERT_TRUE(WriteInteger<uint16_t>(stream, 0xBEEF));
    EXPECT_EQ(stream.bytes, (std::vector<unsigned char>{0xEF, 0xBE}));
    uint32_t untouched = 7;
    EXPECT_FALSE(ReadInteger(stream, untouched)); // 2 bytes cannot give a 32-bit value
    EXPECT_EQ(untouched, 7u);
}

// Records how Skip reaches the stream.
class SeekRecorder : public MemoryStream
{
public:
    uint32_t tell = 1000;
    int32_t seekOffset = 0;
    vESeekMode seekOrigin = vESeekMode_End;
    uint32_t Tell() override { return tell; }
    bool Seek(int32_t offset, vESeekMode origin) override
    {
        seekOffset = offset;
        seekOrigin = origin;
        return false;
    }
};

TEST(StreamInterfaces, SkipIsSeekFromTellThroughTheVirtuals)
{
    // Catches a Skip that bypasses an overriding Tell or Seek, or seeks from anywhere but the start.
    SeekRecorder recorder;
    vCInputStream& in = recorder;
    EXPECT_FALSE(in.Skip(-5)); // Seek's result is passed on
    EXPECT_EQ(recorder.seekOffset, 995);
    EXPECT_EQ(recorder.seekOrigin, vESeekMode_Begin);
}

TEST(StreamInterfaces, FileStreamSkipMatchesSeek)
{
    // Catches a Skip whose results, position or failures differ from Seek(Tell() + n).
    vtest::TempDir dir;
    const std::string path = dir.File("hundred.bin");
    vtest::WriteFile(path, vtest::Pattern(100));
    struct Row
    {
        uint32_t start;
        int32_t n;
    } const rows[] = {
        {0, 0},          // no move
        {0, 100},        // to the end
        {100, 0},        // Skip(0) at the end succeeds
        {0, 101},        // one past the end fails
        {50, -50},       // back to the start
        {50, -51},       // before the start wraps around and fails
        {10, INT_MIN},   // extreme offset
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(testing::Message() << row.start << " + " << row.n);
        vCFileStream skipped, sought;
        ASSERT_TRUE(skipped.Open(path.c_str(), vEOpenMode_Read));
        ASSERT_TRUE(sought.Open(path.c_str(), vEOpenMode_Read));
        ASSERT_TRUE(skipped.Seek(static_cast<int32_t>(row.start), vESeekMode_Begin));
        ASSERT_TRUE(sought.Seek(static_cast<int32_t>(row.start), vESeekMode_Begin));

        vtest::ErrorProbe skipProbe;
        const bool skipResult = skipped.Skip(row.n);
        const vCError* skipRecord = skipProbe.Newest();
        vtest::ErrorProbe seekProbe;
        const bool seekResult = sought.Seek(static_cast<int32_t>(row.start + static_cast<uint32_t>(row.n)), vESeekMode_Begin);
        const vCError* seekRecord = seekProbe.Newest();

        EXPECT_EQ(skipResult, seekResult);
        EXPECT_EQ(skipped.Tell(), sought.Tell());
        ASSERT_EQ(skipRecord == nullptr, seekRecord == nullptr);
        if (skipRecord != nullptr)
        {
            EXPECT_EQ(skipRecord->code, seekRecord->code);
            EXPECT_EQ(skipRecord->line, seekRecord->line);
        }
    }
}

TEST(ErrorChain, NewestFirstWithCopiedTexts)
{
    // Catches records linked in the wrong order, or texts kept by address instead of copied.
    const vCError* before = GetErrorChainHead();
    char message[] = "first message";
    char source[] = ".\\Vellum\\ve_test";
    PushStreamError(2, message, source, 11);
    std::strcpy(message, "changed");
    std::strcpy(source, "changed");
    PushStreamError(5, "second message", ".\\Vellum\\ve_other", 22);

    const vCError* second = GetErrorChainHead();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(dynamic_cast<const vCStreamError*>(second), nullptr);
    EXPECT_EQ(second->code, 5);
    EXPECT_STREQ(second->message, "second message");
    EXPECT_EQ(second->line, 22);
    const vCError* first = second->next;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->code, 2);
    EXPECT_STREQ(first->message, "first message");
    EXPECT_STREQ(first->sourceFile, ".\\Vellum\\ve_test");
    EXPECT_EQ(first->line, 11);
    EXPECT_EQ(first->next, before); // null when these were the process's first failures
}

} // namespace
