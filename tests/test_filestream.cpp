#include "test_support.h"
#include "ve_error.h"
#include "ve_filestream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr const char* kSourceFile = ".\\Vellum\\ve_filestream";
constexpr uint64_t k4GiB = uint64_t(1) << 32;

// Sees the window from inside: every load (with the window's place at that moment) and the
// current window. A load may be cut short to play a file that shrank behind the stream.
class WatchedStream : public vCFileStream
{
public:
    struct Load
    {
        uint32_t windowStart;
        uint32_t position;
        uint32_t offset;
        uint32_t count;
        bool operator==(const Load& o) const
        {
            return windowStart == o.windowStart && position == o.position && offset == o.offset && count == o.count;
        }
    };
    std::vector<Load> loads;
    uint32_t deliverAtMost = UINT32_MAX;

    uint32_t ReadFromFile(void* destination, uint32_t fileOffset, uint32_t n) override
    {
        loads.push_back({m_windowStart, m_position, fileOffset, n});
        const uint32_t got = std::min(vCFileStream::ReadFromFile(destination, fileOffset, n), deliverAtMost);
        // Bytes the file did not deliver must never be served; make them recognisable.
        std::memset(static_cast<unsigned char*>(destination) + got, 0xEE, n - got);
        return got;
    }
    uint32_t WindowStart() const { return m_windowStart; }
    uint32_t WindowPosition() const { return m_position; }
    uint32_t WindowSize() const { return m_window.GetSize(); }
};

std::ostream& operator<<(std::ostream& os, const WatchedStream::Load& l)
{
    return os << "{start " << l.windowStart << " pos " << l.position << ": " << l.count << " at " << l.offset << "}";
}

std::string Fixture(const vtest::TempDir& dir, uint32_t size, const char* name = "fixture.bin")
{
    const std::string path = dir.File(name);
    vtest::WriteFile(path, vtest::Pattern(size));
    return path;
}

Bytes Slice(const Bytes& bytes, uint32_t from, uint32_t count)
{
    return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

uint64_t DiskSize(const std::string& path) { return std::filesystem::file_size(path); }

// Reads everything from the position to the end in pieces of `piece` bytes.
Bytes ReadRest(vCFileStream& s, uint32_t piece)
{
    Bytes all;
    while (s.Tell() < s.GetSize())
    {
        const uint32_t n = std::min(piece, s.GetSize() - s.Tell());
        Bytes buffer(n);
        if (!s.Read(buffer.data(), n))
        {
            ADD_FAILURE() << "Read of " << n << " at " << s.Tell() << " failed";
            break;
        }
        all.insert(all.end(), buffer.begin(), buffer.end());
    }
    return all;
}

// Exactly one record since the probe was set, with these values.
void ExpectRecord(const vtest::ErrorProbe& probe, int32_t code, int32_t line, const std::string& message)
{
    ASSERT_EQ(probe.Count(), 1);
    const vCError* r = probe.Newest();
    EXPECT_EQ(r->code, code);
    EXPECT_EQ(r->line, line);
    EXPECT_STREQ(r->message, message.c_str());
    EXPECT_STREQ(r->sourceFile, kSourceFile);
}

const char* const kNotForReading = "File is not open for reading operations.";
const char* const kReadPastEnd = "File size exceeded when reading binary data.";
const char* const kNotForWriting = "File is not open for writing operations.";
const char* const kShortWrite = "Could not write all buffered data to the file; the file is incomplete.";
const char* const kFlushFailed = "Could not flush buffered data to the file; the file is incomplete.";

// At least `atLeast` records since the probe, each a write failure with its own sentence.
void ExpectWriteFailureRecords(const vtest::ErrorProbe& probe, int atLeast)
{
    EXPECT_GE(probe.Count(), atLeast);
    const vCError* r = GetErrorChainHead();
    for (int i = 0; i < probe.Count(); ++i, r = r->next)
    {
        EXPECT_EQ(r->code, vEErrorCode_WriteFailed);
        EXPECT_STREQ(r->sourceFile, kSourceFile);
        const std::string message = r->message;
        switch (r->line)
        {
        case 201: EXPECT_EQ(message, kShortWrite); break;
        case 206: EXPECT_EQ(message, kFlushFailed); break;
        case 270: EXPECT_EQ(message, "Could not close the file; written data may be lost."); break;
        default: ADD_FAILURE() << "not a write-back line: " << r->line << " " << message;
        }
    }
}

// The records pushed since the probe was set, newest first.
std::vector<const vCError*> RecordsSince(const vtest::ErrorProbe& probe)
{
    std::vector<const vCError*> records;
    const vCError* r = GetErrorChainHead();
    for (int i = 0; i < probe.Count(); ++i, r = r->next)
        records.push_back(r);
    return records;
}

TEST(FileStream, NewStreamIsNotOpen)
{
    // Catches a new stream that is half open: nonzero sizes, a path, or reads of 0 bytes refused.
    vCFileStream s;
    EXPECT_EQ(s.Tell(), 0u);
    EXPECT_EQ(s.GetSize(), 0u);
    EXPECT_EQ(s.GetFilePath().GetLength(), 0u);
    EXPECT_EQ(s.GetOpenFailure(), 0);
    vtest::ErrorProbe probe;
    unsigned char byte = 0;
    vCString text("keep");
    EXPECT_TRUE(s.Read(&byte, 0));
    EXPECT_TRUE(s.ReadString(text, 0));
    EXPECT_EQ(text.GetLength(), 0u);
    EXPECT_TRUE(s.Close());
    EXPECT_EQ(probe.Count(), 0);
}

TEST(FileStream, EveryRefusalHasItsRecordAndLeavesThePosition)
{
    // Catches a wrong code, message or line in a record, a missing mode test, or a failing
    // operation that moves the position.
    vtest::TempDir dir;
    const std::string path = Fixture(dir, 100);
    unsigned char buffer[200] = {};
    vCString s;
    struct Row
    {
        const char* why;
        uint32_t mode; // 0: the stream is not opened
        std::function<bool(vCFileStream&)> act;
        int32_t code;
        int32_t line;
        const char* message;
        uint32_t tellAfter;
    } const rows[] = {
        {"not open: Read", 0, [&](vCFileStream& f) { return f.Read(buffer, 1); }, 3, 43, kNotForReading, 0},
        {"write-only: Read", vEOpenMode_Write, [&](vCFileStream& f) { return f.Read(buffer, 1); }, 3, 43,
         kNotForReading, 0},
        {"write-only: Read back written bytes still in the window", vEOpenMode_Write,
         [&](vCFileStream& f) { return f.Write(buffer, 10) && f.Seek(0, vESeekMode_Begin) && f.Read(buffer, 5); }, 3,
         43, kNotForReading, 0},
        {"write-only: ReadString of a length", vEOpenMode_Write, [&](vCFileStream& f) { return f.ReadString(s, 5); },
         3, 43, kNotForReading, 0},
        {"Read one more than the file holds", vEOpenMode_Read, [&](vCFileStream& f) { return f.Read(buffer, 101); },
         5, 48, kReadPastEnd, 0},
        {"Read at the end", vEOpenMode_Read,
         [&](vCFileStream& f) { return f.Read(buffer, 100) && f.Read(buffer, 1); }, 5, 48, kReadPastEnd, 100},
        {"ReadString of a length past the end", vEOpenMode_ReadWrite,
         [&](vCFileStream& f) { return f.ReadString(s, 101); }, 5, 48, kReadPastEnd, 0},
        {"not open: ReadString", 0, [&](vCFileStream& f) { return f.ReadString(s); }, 3, 77, kNotForReading, 0},
        {"write-only: ReadString", vEOpenMode_Write, [&](vCFileStream& f) { return f.ReadString(s); }, 3, 77,
         kNotForReading, 0},
        {"ReadString at the end", vEOpenMode_Read,
         [&](vCFileStream& f) { return f.Seek(0, vESeekMode_End) && f.ReadString(s); }, 5, 82, kReadPastEnd, 100},
        {"not open: Seek", 0, [&](vCFileStream& f) { return f.Seek(0, vESeekMode_Begin); }, 3, 109,
         "File is not open.", 0},
        {"not open: Skip", 0, [&](vCFileStream& f) { return f.Skip(0); }, 3, 109, "File is not open.", 0},
        {"Seek one past the end", vEOpenMode_Read, [&](vCFileStream& f) { return f.Seek(101, vESeekMode_Begin); }, 5,
         128, "File size exceeded when seeking.", 0},
        {"Seek back from 0 wraps around", vEOpenMode_Read,
         [&](vCFileStream& f) { return f.Seek(-1, vESeekMode_Current); }, 5, 128, "File size exceeded when seeking.",
         0},
        {"Seek before the end counts backwards", vEOpenMode_Read,
         [&](vCFileStream& f) { return f.Seek(-1, vESeekMode_End); }, 5, 128, "File size exceeded when seeking.", 0},
        {"Skip past the end", vEOpenMode_Read, [&](vCFileStream& f) { return f.Skip(101); }, 5, 128,
         "File size exceeded when seeking.", 0},
        {"not open: Write of nothing", 0, [&](vCFileStream& f) { return f.Write(buffer, 0); }, 3, 160,
         kNotForWriting, 0},
        {"read-only: Write", vEOpenMode_Read, [&](vCFileStream& f) { return f.Write(buffer, 1); }, 3, 160,
         kNotForWriting, 0},
        {"read-only: WriteString", vEOpenMode_Read, [&](vCFileStream& f) { return f.WriteString("abc"); }, 3, 160,
         kNotForWriting, 0},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.why);
        vtest::WriteFile(path, vtest::Pattern(100));
        vCFileStream f;
        if (row.mode != 0)
        {
            ASSERT_TRUE(f.Open(path.c_str(), row.mode));
        }
        vtest::ErrorProbe probe;
        EXPECT_FALSE(row.act(f));
        ExpectRecord(probe, row.code, row.line, row.message);
        EXPECT_EQ(f.Tell(), row.tellAfter);
    }
}

TEST(FileStream, FailedReadCopiesNothing)
{
    // Catches a Read that serves part of a request it then refuses.
    vtest::TempDir dir;
    vCFileStream f;
    ASSERT_TRUE(f.Open(Fixture(dir, 100).c_str(), vEOpenMode_Read));
    Bytes buffer(101, 0x11);
    EXPECT_FALSE(f.Read(buffer.data(), 101));
    EXPECT_EQ(buffer, Bytes(101, 0x11));
}

TEST(FileStream, OpenModesCreateKeepOrEmptyTheFile)
{
    // Catches the wrong fopen mode: a write open that keeps old bytes, a read-write open that
    // empties the file or cannot create it.
    vtest::TempDir dir;
    struct Row
    {
        const char* why;
        bool exists;
        uint32_t mode;
        uint32_t sizeAfterOpen;
    } const rows[] = {
        {"read keeps", true, vEOpenMode_Read, 100},
        {"write empties", true, vEOpenMode_Write, 0},
        {"write creates", false, vEOpenMode_Write, 0},
        {"read-write keeps", true, vEOpenMode_ReadWrite, 100},
        {"read-write creates", false, vEOpenMode_ReadWrite, 0},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.why);
        const std::string path = dir.File("modes.bin");
        std::filesystem::remove(path);
        if (row.exists)
            Fixture(dir, 100, "modes.bin");
        vtest::ErrorProbe probe;
        vCFileStream f;
        ASSERT_TRUE(f.Open(path.c_str(), row.mode));
        EXPECT_EQ(f.GetOpenFailure(), 0);
        EXPECT_EQ(f.GetSize(), row.sizeAfterOpen);
        EXPECT_STREQ(f.GetFilePath().GetText(), path.c_str());
        EXPECT_EQ(DiskSize(path), row.sizeAfterOpen);
        EXPECT_TRUE(f.Close());
        EXPECT_EQ(f.GetFilePath().GetLength(), 0u);
        EXPECT_EQ(probe.Count(), 0);
    }
}

TEST(FileStream, OpenFailureNamesThePathAndTheDirection)
{
    // Catches a wrong open-failure message, code or line, or a failed Open that leaves the stream open.
    vtest::TempDir dir;
    const std::string missing = dir.File("no-such-folder/x.bin");
    struct Row
    {
        uint32_t mode;
        const char* suffix;
    } const rows[] = {
        {vEOpenMode_Read, "\" for reading."},
        {vEOpenMode_Write, "\" for writing."},
        {vEOpenMode_ReadWrite, "\" for writing."}, // both attempts failed
        {0, "\" for writing."},                    // no mode: refused without touching the file
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.mode);
        vCFileStream f;
        vtest::ErrorProbe probe;
        EXPECT_FALSE(f.Open(missing.c_str(), row.mode));
        ExpectRecord(probe, vEErrorCode_CannotOpen, 289, "Can't open the file \"" + missing + row.suffix);
        EXPECT_EQ(f.GetOpenFailure(), vEErrorCode_CannotOpen);
        EXPECT_EQ(f.GetFilePath().GetLength(), 0u);
        EXPECT_FALSE(f.Seek(0, vESeekMode_Begin));
    }

    // No mode at all must not empty an existing file.
    const std::string existing = Fixture(dir, 100);
    vCFileStream f;
    EXPECT_FALSE(f.Open(existing.c_str(), 0));
    EXPECT_EQ(DiskSize(existing), 100u);
    // The reason is that of the most recent Open only.
    ASSERT_TRUE(f.Open(existing.c_str(), vEOpenMode_Read));
    EXPECT_EQ(f.GetOpenFailure(), 0);
}

TEST(FileStream, ReadsAnyPiecesInOrder)
{
    // Catches a window move that loses, repeats or shifts bytes, whatever the piece size.
    vtest::TempDir dir;
    const std::string path = Fixture(dir, 20000);
    const Bytes expected = vtest::Pattern(20000);
    for (uint32_t piece : {1u, 7u, 2730u, 2731u, 5461u, 8190u, 8191u, 8192u, 20000u})
    {
        SCOPED_TRACE(piece);
        vCFileStream f;
        ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_Read));
        EXPECT_EQ(ReadRest(f, piece), expected);
    }
}

TEST(FileStream, ReadingThroughMovesTheWindowAsDocumented)
{
    // Catches a wrong back margin, a window that runs past the end, or shared bytes read again.
    vtest::TempDir dir;
    WatchedStream f;
    ASSERT_TRUE(f.Open(Fixture(dir, 20000).c_str(), vEOpenMode_Read));
    EXPECT_EQ(ReadRest(f, 100), vtest::Pattern(20000));
    const std::vector<WatchedStream::Load> expected = {
        {0, 0, 0, 8191},         // the first window, at open
        {5461, 2730, 8191, 5461}, // 2730 bytes kept in front of the position
        {10922, 2730, 13652, 5461},
        {11809, 7304, 19113, 887}, // the file's last 8191 bytes; only the missing 887 read
    };
    EXPECT_EQ(f.loads, expected);
}

TEST(FileStream, SmallFileIsReadFromDiskOnce)
{
    // Catches a stream that goes back to the file although the whole file is in its window.
    vtest::TempDir dir;
    for (uint32_t size : {100u, 8191u})
    {
        SCOPED_TRACE(size);
        WatchedStream f;
        ASSERT_TRUE(f.Open(Fixture(dir, size).c_str(), vEOpenMode_Read));
        EXPECT_EQ(ReadRest(f, 10), vtest::Pattern(size));
        ASSERT_TRUE(f.Seek(0, vESeekMode_Begin));
        EXPECT_EQ(ReadRest(f, 3000), vtest::Pattern(size));
        ASSERT_TRUE(f.Seek(4, vESeekMode_End));
        EXPECT_EQ(f.Tell(), size - 4);
        ASSERT_TRUE(f.Seek(0, vESeekMode_End));
        EXPECT_EQ(f.Tell(), size);
        EXPECT_EQ(f.loads, (std::vector<WatchedStream::Load>{{0, 0, 0, size}}));
    }
}

TEST(FileStream, WindowPlacesAtTheEdges)
{
    // Catches off-by-one errors at the window's end (8190-8192) and the back margin (2729-2731),
    // and bytes kept across a move at the wrong place.
    vtest::TempDir dir;
    const std::string path = Fixture(dir, 20000);
    const Bytes pattern = vtest::Pattern(20000);
    struct Row
    {
        uint32_t from;   // where a first Seek puts the window, 0 for the window of the open
        uint32_t target; // Seek here, then read one byte
        uint32_t windowStart;
        std::vector<WatchedStream::Load> loads; // after the first Seek
    } const rows[] = {
        {0, 8190, 0, {}},                           // inside the first window
        {0, 8191, 5461, {{5461, 2730, 8191, 5461}}}, // just behind it: the Seek keeps it, the read moves it
        {0, 8192, 5462, {{5462, 2730, 8191, 5462}}}, // past it: the Seek moves it
        {10000, 2729, 0, {{0, 2729, 0, 7270}}},      // within the back margin: window at 0
        {10000, 2730, 0, {{0, 2730, 0, 7270}}},      // exactly the back margin
        {10000, 2731, 1, {{1, 2730, 1, 7269}}},      // one past it
        {10000, 5461, 2731, {{2731, 2730, 2731, 4539}}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(testing::Message() << row.from << " -> " << row.target);
        WatchedStream f;
        ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_Read));
        ASSERT_TRUE(f.Seek(static_cast<int32_t>(row.from), vESeekMode_Begin));
        f.loads.clear();
        ASSERT_TRUE(f.Seek(static_cast<int32_t>(row.target), vESeekMode_Begin));
        unsigned char byte = 0;
        ASSERT_TRUE(f.Read(&byte, 1));
        EXPECT_EQ(byte, pattern[row.target]);
        EXPECT_EQ(f.WindowStart(), row.windowStart);
        EXPECT_EQ(f.loads, row.loads);
        EXPECT_EQ(ReadRest(f, 1000), Slice(pattern, row.target + 1, 20000 - row.target - 1));
    }
}

TEST(FileStream, WritesReachTheFileWhenTheWindowIsFull)
{
    // Catches a write-back at 8192 instead of 8191 bytes, one too early, or bytes out of order.
    vtest::TempDir dir;
    const std::string path = dir.File("out.bin");
    struct Row
    {
        std::vector<uint32_t> writes;
        std::vector<uint64_t> diskAfter; // file size on disk after each Write
    } const rows[] = {
        {{8190}, {0}},
        {{8191}, {0}},            // fills the window exactly: still gathered
        {{8192}, {8191}},         // the byte that does not fit writes the window back
        {{20000}, {16382}},       // 8191 at 0 and 8191 at 8191 during the call
        {{8191, 1}, {0, 8191}},   // the full window waits for more bytes
        {{5000, 5000}, {0, 8191}},
        {{1, 2, 8188, 1}, {0, 0, 0, 8191}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.writes.size());
        uint32_t total = 0;
        for (uint32_t n : row.writes)
            total += n;
        const Bytes data = vtest::Pattern(total, 3);
        vCFileStream f;
        ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_Write));
        uint32_t done = 0;
        for (size_t i = 0; i < row.writes.size(); ++i)
        {
            ASSERT_TRUE(f.Write(data.data() + done, row.writes[i]));
            done += row.writes[i];
            EXPECT_EQ(f.GetSize(), done); // raised at once, before any write-back
            const Bytes disk = vtest::ReadFile(path);
            EXPECT_EQ(disk.size(), row.diskAfter[i]) << "after write " << i;
            EXPECT_EQ(disk, Slice(data, 0, static_cast<uint32_t>(disk.size())));
        }
        EXPECT_TRUE(f.Close());
        EXPECT_EQ(vtest::ReadFile(path), data);
    }
}

TEST(FileStream, SeekWritesBackAndOverwritesStick)
{
    // Catches gathered bytes lost at a Seek, or an overwrite of written bytes that does not last.
    vtest::TempDir dir;
    const std::string path = Fixture(dir, 100);
    Bytes expected = vtest::Pattern(100);
    const Bytes tail = vtest::Pattern(50, 9);
    expected.insert(expected.end(), tail.begin(), tail.end());

    vCFileStream f;
    ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_ReadWrite));
    ASSERT_TRUE(f.Seek(0, vESeekMode_End));
    ASSERT_TRUE(f.Write(tail.data(), 50));
    EXPECT_EQ(f.GetSize(), 150u);
    EXPECT_EQ(DiskSize(path), 100u);
    ASSERT_TRUE(f.Seek(-30, vESeekMode_Current));
    EXPECT_EQ(vtest::ReadFile(path), expected);
    ASSERT_TRUE(f.Write("XYZ", 3));
    std::memcpy(&expected[120], "XYZ", 3);
    unsigned char back[5] = {};
    ASSERT_TRUE(f.Read(back, 5)); // reads the bytes just behind the overwrite
    EXPECT_EQ(Bytes(back, back + 5), Slice(expected, 123, 5));
    EXPECT_TRUE(f.Close());
    EXPECT_EQ(vtest::ReadFile(path), expected);
}

TEST(FileStream, ReadWriteAppendKeepsEndRoom)
{
    // Catches a read-write window placed like a reading one (no room to append) or loading
    // bytes behind the end of the file.
    vtest::TempDir dir;
    const Bytes data = vtest::Pattern(10000, 5);
    {
        const std::string path = dir.File("empty.bin");
        vtest::WriteFile(path, Bytes());
        WatchedStream f;
        ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_ReadWrite));
        ASSERT_TRUE(f.Write(data.data(), 10000));
        EXPECT_EQ(vtest::ReadFile(path), Slice(data, 0, 8191)); // written back at the move
        EXPECT_EQ(f.WindowStart(), 2730u);
        EXPECT_EQ(f.WindowPosition(), 5461u + 1809u);
        EXPECT_TRUE(f.loads.empty());
        EXPECT_TRUE(f.Close()); // the remaining 1809 bytes at 8191
        EXPECT_EQ(vtest::ReadFile(path), data);
    }
    {
        // Appending to a long file: 2730 bytes fit behind the end, the 2731st moves the window.
        const std::string path = Fixture(dir, 20000);
        WatchedStream f;
        ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_ReadWrite));
        f.loads.clear();
        ASSERT_TRUE(f.Seek(0, vESeekMode_End));
        EXPECT_EQ(f.WindowStart(), 14539u);
        EXPECT_EQ(f.WindowPosition(), 5461u);
        EXPECT_EQ(f.loads, (std::vector<WatchedStream::Load>{{14539, 5461, 14539, 5461}}));
        ASSERT_TRUE(f.Write(data.data(), 2730));
        EXPECT_EQ(DiskSize(path), 20000u);
        ASSERT_TRUE(f.Write(data.data() + 2730, 1));
        EXPECT_EQ(DiskSize(path), 22730u);
        EXPECT_EQ(f.WindowStart(), 17269u);
        EXPECT_EQ(f.loads.size(), 1u); // the shared bytes reach the end: nothing to load
        EXPECT_TRUE(f.Close());
        Bytes expected = vtest::Pattern(20000);
        expected.insert(expected.end(), data.begin(), data.begin() + 2731);
        EXPECT_EQ(vtest::ReadFile(path), expected);
    }
}

TEST(FileStream, NulTerminatedStrings)
{
    // Catches a NUL that is not consumed, a string cut at the end of the file, or a missing
    // failure at the end.
    vtest::TempDir dir;
    struct Row
    {
        std::string content;
        std::vector<std::string> strings;
        std::vector<uint32_t> tells;
    } const rows[] = {
        {std::string("ab\0cd\0", 6), {"ab", "cd"}, {3, 6}},
        {std::string("ab\0cd", 5), {"ab", "cd"}, {3, 5}}, // the last string ends with the file
        {std::string("\0\0", 2), {"", ""}, {1, 2}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.content.size());
        const std::string path = dir.File("strings.bin");
        vtest::WriteFile(path, row.content);
        vCFileStream f;
        ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_Read));
        for (size_t i = 0; i < row.strings.size(); ++i)
        {
            vCString s;
            ASSERT_TRUE(f.ReadString(s));
            EXPECT_EQ(std::string(s.GetText(), s.GetLength()), row.strings[i]);
            EXPECT_EQ(f.Tell(), row.tells[i]);
        }
        vtest::ErrorProbe probe;
        vCString s;
        EXPECT_FALSE(f.ReadString(s));
        ExpectRecord(probe, 5, 82, kReadPastEnd);
    }
}

TEST(FileStream, NulTerminatedStringsAcrossWindowMoves)
{
    // Catches a string cut at the window's end, a lost or doubled byte at the join, or a NUL
    // just behind the window left unconsumed.
    vtest::TempDir dir;
    struct Row
    {
        uint32_t start;
        uint32_t length; // characters before the NUL
    } const rows[] = {
        {8181, 100},   // starts 10 bytes before the window's end
        {8181, 10},    // the NUL is the first byte of the next window
        {8180, 10},    // the NUL is the window's last byte
        {0, 20000},    // no NUL at all: across three moves, ending with the file
        {100, 19000},  // across several moves, then a NUL
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(testing::Message() << row.start << "+" << row.length);
        Bytes bytes = vtest::Pattern(20000);
        for (unsigned char& b : bytes)
            b = b == 0 ? 1 : b;
        const bool terminated = row.start + row.length < 20000;
        if (terminated)
            bytes[row.start + row.length] = 0;
        const std::string path = dir.File("long-string.bin");
        vtest::WriteFile(path, bytes);
        vCFileStream f;
        ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_Read));
        ASSERT_TRUE(f.Seek(static_cast<int32_t>(row.start), vESeekMode_Begin));
        vCString s;
        ASSERT_TRUE(f.ReadString(s));
        ASSERT_EQ(s.GetLength(), row.length);
        EXPECT_EQ(Bytes(s.GetText(), s.GetText() + row.length), Slice(bytes, row.start, row.length));
        EXPECT_EQ(f.Tell(), row.start + row.length + (terminated ? 1 : 0));
    }
}

TEST(FileStream, StringsOfALengthKeepTheirBytes)
{
    // Catches a counted string that stops at a NUL or reads from the wrong place.
    vtest::TempDir dir;
    const std::string path = dir.File("counted.bin");
    vtest::WriteFile(path, std::string("xya\0b\0cz", 8));
    vCFileStream f;
    ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_Read));
    ASSERT_TRUE(f.Skip(2));
    vCString s;
    ASSERT_TRUE(f.ReadString(s, 5));
    EXPECT_EQ(std::string(s.GetText(), s.GetLength()), std::string("a\0b\0c", 5));
    EXPECT_EQ(f.Tell(), 7u);
}

TEST(FileStream, WriteStringWritesOnlyTheCharacters)
{
    // Catches a length header or the terminating NUL written along with the characters.
    vtest::TempDir dir;
    const std::string path = dir.File("abc.bin");
    vCFileStream f;
    ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_Write));
    ASSERT_TRUE(f.WriteString("abc"));
    ASSERT_TRUE(f.Close());
    EXPECT_EQ(vtest::ReadFile(path), (Bytes{'a', 'b', 'c'}));
}

TEST(FileStream, CloseTwiceAndDestructorWriteBack)
{
    // Catches gathered bytes lost when a stream is destroyed open, or a second Close that acts.
    vtest::TempDir dir;
    const std::string path = dir.File("close.bin");
    const Bytes data = vtest::Pattern(10);
    {
        vCFileStream f;
        ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_Write));
        ASSERT_TRUE(f.Write(data.data(), 10));
        EXPECT_EQ(DiskSize(path), 0u);
    }
    EXPECT_EQ(vtest::ReadFile(path), data);

    vCFileStream f;
    ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_ReadWrite));
    vtest::ErrorProbe probe;
    EXPECT_TRUE(f.Close());
    EXPECT_TRUE(f.Close());
    EXPECT_EQ(probe.Count(), 0);
    EXPECT_FALSE(f.Seek(0, vESeekMode_Begin)); // really closed
    // The closed stream opens again.
    ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_Read));
    EXPECT_EQ(ReadRest(f, 4), data);
}

TEST(FileStream, SwapFlagChangesNoByte)
{
    // Catches a stream that reverses bytes itself instead of leaving it to the integer helpers.
    vtest::TempDir dir;
    const std::string path = dir.File("swap.bin");
    const Bytes data = vtest::Pattern(64);
    vCFileStream out;
    out.SetSwapEndianness(true);
    ASSERT_TRUE(out.Open(path.c_str(), vEOpenMode_Write));
    ASSERT_TRUE(out.Write(data.data(), 64));
    ASSERT_TRUE(out.Close());
    EXPECT_EQ(vtest::ReadFile(path), data);
    vCFileStream in;
    in.SetSwapEndianness(true);
    ASSERT_TRUE(in.Open(path.c_str(), vEOpenMode_Read));
    EXPECT_EQ(ReadRest(in, 5), data);
}

TEST(FileStream, OpeningAnOpenStreamWritesTheEarlierFileBack)
{
    // Catches gathered bytes lost, or the earlier file left open, when a stream is reopened.
    vtest::TempDir dir;
    const std::string first = dir.File("first.bin");
    const std::string second = Fixture(dir, 30, "second.bin");
    const Bytes data = vtest::Pattern(10, 1);

    vCFileStream f;
    ASSERT_TRUE(f.Open(first.c_str(), vEOpenMode_Write));
    ASSERT_TRUE(f.Write(data.data(), 10));
    ASSERT_TRUE(f.Open(second.c_str(), vEOpenMode_Read));
    EXPECT_EQ(vtest::ReadFile(first), data);
    EXPECT_EQ(f.GetSize(), 30u);

    ASSERT_TRUE(f.Open(first.c_str(), vEOpenMode_ReadWrite));
    ASSERT_TRUE(f.Seek(0, vESeekMode_End));
    ASSERT_TRUE(f.Write(data.data(), 10));
    FILE* handle = std::fopen(second.c_str(), "rb");
    ASSERT_NE(handle, nullptr);
    f.Attach(handle, f.GetFilePath(), vEOpenMode_Read); // the stream's own path survives
    EXPECT_EQ(DiskSize(first), 20u);
    EXPECT_STREQ(f.GetFilePath().GetText(), first.c_str());
    EXPECT_EQ(ReadRest(f, 7), vtest::Pattern(30));

    // Reopening by the stream's own path.
    ASSERT_TRUE(f.Open(f.GetFilePath(), vEOpenMode_Read));
    EXPECT_STREQ(f.GetFilePath().GetText(), first.c_str());
    EXPECT_EQ(f.GetSize(), 20u);
}

// A file that takes every open for writing and refuses every byte.
const char* const kFullDevice = "/dev/full";

TEST(FileStream, WriteFailuresReachTheCaller)
{
    // Catches a write-back failure reported as success: a full disk must make Write, Seek or
    // Close return false and leave a record.
    vCFileStream probeOpen;
    if (!probeOpen.Open(kFullDevice, vEOpenMode_Write))
        GTEST_SKIP() << kFullDevice << " is not available";
    probeOpen.Close();

    const Bytes data = vtest::Pattern(20000);
    struct Row
    {
        const char* why;
        bool bufferedFile; // attached from a plain fopen, with the C library's own buffer
        std::function<bool(vCFileStream&)> act;
        bool actSucceeds; // bytes merely gathered do not fail yet
    } const rows[] = {
        {"few bytes, written back by Close", false, [&](vCFileStream& f) { return f.Write(data.data(), 3); },
         true},
        {"a Write that writes back", false, [&](vCFileStream& f) { return f.Write(data.data(), 20000); }, false},
        {"a Seek that writes back", false,
         [&](vCFileStream& f) { return f.Write(data.data(), 3) && f.Seek(0, vESeekMode_Begin); }, false},
        {"few bytes, to a buffered file", true, [&](vCFileStream& f) { return f.Write(data.data(), 3); }, true},
    };
    // Which step of a write-back fails, the write or the flush, depends on the C library's
    // buffering; across the rows both must have been seen.
    std::set<int32_t> lines;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.why);
        vCFileStream f;
        if (row.bufferedFile)
        {
            FILE* file = std::fopen(kFullDevice, "wb");
            ASSERT_NE(file, nullptr);
            f.Attach(file, kFullDevice, vEOpenMode_Write);
        }
        else
            ASSERT_TRUE(f.Open(kFullDevice, vEOpenMode_Write));
        vtest::ErrorProbe probe;
        EXPECT_EQ(row.act(f), row.actSucceeds);
        if (!row.actSucceeds)
            ExpectWriteFailureRecords(probe, 1);
        EXPECT_FALSE(f.Close());
        ExpectWriteFailureRecords(probe, 1);
        for (const vCError* r : RecordsSince(probe))
            lines.insert(r->line);
    }
    EXPECT_EQ(lines.count(201), 1u);
    EXPECT_EQ(lines.count(206), 1u);
}

TEST(FileStream, FailedWriteBackMakesCloseFail)
{
    // Catches a Close that reports success because its own last step worked, although an earlier
    // write-back of the same file failed.
    vtest::TempDir dir;
    const std::string path = Fixture(dir, 10);
    FILE* readOnly = std::fopen(path.c_str(), "rb");
    ASSERT_NE(readOnly, nullptr);
    vCFileStream f;
    f.Attach(readOnly, path.c_str(), vEOpenMode_Write);
    const Bytes data = vtest::Pattern(3, 7);
    ASSERT_TRUE(f.Write(data.data(), 3));
    vtest::ErrorProbe probe;
    EXPECT_FALSE(f.Seek(0, vESeekMode_Begin));
    ExpectRecord(probe, vEErrorCode_WriteFailed, 201, kShortWrite);
    probe.Reset();
    // Nothing is left to write back, and with glibc even the fclose succeeds: the earlier
    // failure alone must make Close fail.
    EXPECT_FALSE(f.Close());
    ExpectWriteFailureRecords(probe, 0);
    EXPECT_EQ(vtest::ReadFile(path), vtest::Pattern(10));

    // The next file starts with a clean record.
    ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_ReadWrite));
    ASSERT_TRUE(f.Write(data.data(), 3));
    EXPECT_TRUE(f.Close());
}

// A sparse file: the size costs no disk.
void MakeSparse(const std::string& path, uint64_t size)
{
    vtest::WriteFile(path, Bytes());
    std::filesystem::resize_file(path, size);
}

TEST(FileStream, FilesOf4GiBAreRefusedNotWrapped)
{
    // Catches a length taken modulo 2^32, which would make a 4 GiB + 5 file look 5 bytes long.
    vtest::TempDir dir;
    const std::string path = dir.File("huge.bin");
    struct Row
    {
        uint64_t size;
        bool opens;
    } const rows[] = {
        {k4GiB - 1, true},  // the largest addressable file
        {k4GiB, false},     // would wrap to 0
        {k4GiB + 5, false}, // would wrap to 5
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.size);
        MakeSparse(path, row.size);
        for (uint32_t mode : {vEOpenMode_Read, vEOpenMode_ReadWrite})
        {
            SCOPED_TRACE(mode);
            vCFileStream f;
            vtest::ErrorProbe probe;
            EXPECT_EQ(f.Open(path.c_str(), mode), row.opens);
            if (row.opens)
            {
                EXPECT_EQ(probe.Count(), 0);
                EXPECT_EQ(f.GetOpenFailure(), 0);
                EXPECT_EQ(f.GetSize(), 0xFFFFFFFFu);
                continue;
            }
            ExpectRecord(probe, vEErrorCode_FileTooLarge, 294,
                         "Can't open the file \"" + path + "\": it is 4 GiB or larger.");
            EXPECT_EQ(f.GetOpenFailure(), vEErrorCode_FileTooLarge);
            EXPECT_EQ(f.GetSize(), 0u);
            EXPECT_EQ(f.GetFilePath().GetLength(), 0u);
            EXPECT_FALSE(f.Seek(0, vESeekMode_Begin)); // not open
            EXPECT_EQ(DiskSize(path), row.size);       // left as it was
        }
    }
}

TEST(FileStream, WritesStopAtTheLargestSize)
{
    // Catches a position that wraps past 4 GiB - 1 and overwrites the start of the file.
    vtest::TempDir dir;
    const std::string path = dir.File("full-range.bin");
    MakeSparse(path, k4GiB - 1);
    vCFileStream f;
    ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_ReadWrite));
    ASSERT_TRUE(f.Seek(5, vESeekMode_End));
    const unsigned char marker[6] = {'a', 'b', 'c', 'd', 'e', 'f'};
    vtest::ErrorProbe probe;
    EXPECT_FALSE(f.Write(marker, 6));
    ExpectRecord(probe, vEErrorCode_FileTooLarge, 165, "File size limit of 4 GiB - 1 bytes exceeded when writing.");
    EXPECT_TRUE(f.Write(marker, 5));
    EXPECT_TRUE(f.Write(marker, 0));
    EXPECT_TRUE(f.Close());
    EXPECT_EQ(DiskSize(path), k4GiB - 1);
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(k4GiB - 6));
    char tail[5] = {};
    in.read(tail, 5);
    EXPECT_EQ(std::string(tail, 5), "abcde");
    in.seekg(0);
    EXPECT_EQ(in.get(), 0); // the start untouched
}

TEST(FileStream, PositionsAbove2GiBWork)
{
    // Catches an offset passed through a signed 32-bit file function: a 3 GiB file must be read
    // and written at its end.
    vtest::TempDir dir;
    const std::string path = dir.File("three-gib.bin");
    const uint64_t size = 3 * (uint64_t(1) << 30) + 777;
    MakeSparse(path, size);
    const uint64_t markerAt = size - 100;
    {
        std::fstream io(path, std::ios::binary | std::ios::in | std::ios::out);
        io.seekp(static_cast<std::streamoff>(markerAt));
        io.write("MARK", 4);
    }

    vCFileStream f;
    ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_ReadWrite));
    EXPECT_EQ(f.GetSize(), static_cast<uint32_t>(size));
    ASSERT_TRUE(f.Seek(static_cast<int32_t>(static_cast<uint32_t>(markerAt)), vESeekMode_Begin));
    char mark[4] = {};
    ASSERT_TRUE(f.Read(mark, 4));
    EXPECT_EQ(std::string(mark, 4), "MARK");
    ASSERT_TRUE(f.Seek(10, vESeekMode_End));
    ASSERT_TRUE(f.Write("TAIL", 4));
    EXPECT_TRUE(f.Close());

    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(size - 10));
    char tail[4] = {};
    in.read(tail, 4);
    EXPECT_EQ(std::string(tail, 4), "TAIL");
    EXPECT_EQ(DiskSize(path), size);
}

TEST(FileStream, ShortLoadFailsTheRead)
{
    // Catches bytes the file no longer holds served as content with success.
    vtest::TempDir dir;
    const std::string path = Fixture(dir, 20000);
    const Bytes pattern = vtest::Pattern(20000);
    const char* const kShortLoad =
        "File ended before its known size when reading binary data; it may have been truncated.";
    struct Row
    {
        const char* why;
        std::function<bool(WatchedStream&)> act;
    } const rows[] = {
        {"Read across the window's end",
         [](WatchedStream& f) {
             Bytes b(10);
             return f.Read(b.data(), 10);
         }},
        {"ReadString across the window's end",
         [](WatchedStream& f) {
             vCString s;
             return f.ReadString(s);
         }},
        {"Seek outside the window", [](WatchedStream& f) { return f.Seek(15000, vESeekMode_Begin); }},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.why);
        WatchedStream f;
        ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_Read));
        ASSERT_TRUE(f.Seek(8191, vESeekMode_Begin)); // the window's end: the next byte needs a load
        f.deliverAtMost = 100;
        vtest::ErrorProbe probe;
        EXPECT_FALSE(row.act(f));
        ExpectRecord(probe, vEErrorCode_ReadFailed, 230, kShortLoad);
        // Once the file delivers again, reading goes on with the right bytes.
        f.deliverAtMost = UINT32_MAX;
        const uint32_t at = f.Tell();
        EXPECT_EQ(ReadRest(f, 999), Slice(pattern, at, 20000 - at));
    }
}

TEST(FileStream, FileTruncatedBehindTheStream)
{
    // Catches a stream that serves zeros or stale bytes after another program shortened the file.
    vtest::TempDir dir;
    const std::string path = Fixture(dir, 20000);
    vCFileStream f;
    ASSERT_TRUE(f.Open(path.c_str(), vEOpenMode_Read));
    Bytes b(8000);
    ASSERT_TRUE(f.Read(b.data(), 8000));
    std::filesystem::resize_file(path, 5000);
    vtest::ErrorProbe probe;
    EXPECT_FALSE(f.Read(b.data(), 1000));
    ASSERT_GE(probe.Count(), 1);
    EXPECT_EQ(probe.Newest()->code, vEErrorCode_ReadFailed);
    EXPECT_FALSE(f.Read(b.data(), 1000)); // and again: nothing is served from an empty window
}

} // namespace
