#include "conversions.h"
#include "test_support.h"
#include "xsnd_format.h"

#include "ve_filestream.h"
#include "ve_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

// Allocation failure on demand: the payload buffer comes from the nothrow array form, so
// replacing that form lets a test refuse large requests without exhausting the machine.
namespace {
std::size_t g_refuseAllocationsFrom = 0; // 0: refuse nothing
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    if (g_refuseAllocationsFrom != 0 && size >= g_refuseAllocationsFrom)
        return nullptr;
    try
    {
        return ::operator new[](size);
    }
    catch (...)
    {
        return nullptr;
    }
}

namespace {

using Bytes = std::vector<unsigned char>;
using vtest::TempDir;

constexpr int64_t kEpoch = 0;
constexpr int64_t kApril27th2012Noon = 1335528000; // 2012-04-27 12:00:00 UTC

// --- building inputs ---------------------------------------------------------------------------

void Append(Bytes& bytes, const std::string& text) { bytes.insert(bytes.end(), text.begin(), text.end()); }
void Append(Bytes& bytes, const Bytes& more) { bytes.insert(bytes.end(), more.begin(), more.end()); }
void AppendU16(Bytes& bytes, uint16_t v)
{
    bytes.push_back(static_cast<unsigned char>(v));
    bytes.push_back(static_cast<unsigned char>(v >> 8));
}
void AppendU32(Bytes& bytes, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
uint32_t U32At(const Bytes& bytes, size_t offset)
{
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16 |
           uint32_t(bytes[offset + 3]) << 24;
}

// A chunk with its real size and, for an odd size, its pad byte.
Bytes Chunk(const std::string& id, const Bytes& data)
{
    Bytes chunk;
    Append(chunk, id);
    AppendU32(chunk, static_cast<uint32_t>(data.size()));
    Append(chunk, data);
    if (data.size() % 2 != 0)
        chunk.push_back(0);
    return chunk;
}

// A chunk header whose size field says `size`, followed by `data` as it is.
Bytes ChunkClaiming(const std::string& id, uint32_t size, const Bytes& data = {})
{
    Bytes chunk;
    Append(chunk, id);
    AppendU32(chunk, size);
    Append(chunk, data);
    return chunk;
}

// A 16-byte PCM "fmt " chunk; only the byte rate matters to the conversion.
Bytes Fmt(uint32_t byteRate)
{
    Bytes data;
    AppendU16(data, 1);      // PCM
    AppendU16(data, 2);      // channels
    AppendU32(data, 44100);  // sample rate
    AppendU32(data, byteRate);
    AppendU16(data, 4);      // block align
    AppendU16(data, 16);     // bits per sample
    return Chunk("fmt ", data);
}

Bytes Data(uint32_t size, uint32_t seed = 7) { return Chunk("data", vtest::Pattern(size, seed)); }

Bytes Riff(const std::vector<Bytes>& chunks, const std::string& form = "WAVE")
{
    Bytes body;
    Append(body, form);
    for (const Bytes& chunk : chunks)
        Append(body, chunk);
    Bytes riff;
    Append(riff, "RIFF");
    AppendU32(riff, static_cast<uint32_t>(body.size()));
    Append(riff, body);
    return riff;
}

// A sound resource file by hand: the reader's fields, `filler` up to the payload, the payload.
Bytes Xsnd(uint32_t dataBlockOffset, uint32_t dataBlockLength, const Bytes& payload, const char* tag = "SN08")
{
    Bytes bytes;
    Append(bytes, std::string("GAR3\0\0\0\0", 8));
    Append(bytes, "GR01");
    Append(bytes, std::string(tag, 4));
    AppendU32(bytes, 0xDEADBEEF); // property block location: never read
    AppendU32(bytes, 0xFEEDFACE);
    AppendU32(bytes, dataBlockOffset);
    AppendU32(bytes, dataBlockLength);
    const Bytes filler = vtest::Pattern(dataBlockOffset + 16 - 32, 99);
    Append(bytes, filler);
    Append(bytes, payload);
    return bytes;
}

// --- running a conversion the way the driver does ------------------------------------------------

int64_t ClockAtEpoch() { return kEpoch; }
int64_t ClockAt2012() { return kApril27th2012Noon; }
int64_t ClockOneSecondLater() { return kApril27th2012Noon + 1; }

class ScopedClock
{
public:
    explicit ScopedClock(xsnd::ClockFunction clock) : m_previous(xsnd::SetClock(clock)) {}
    ~ScopedClock() { xsnd::SetClock(m_previous); }

private:
    xsnd::ClockFunction m_previous;
};

class ScopedAllocationLimit
{
public:
    explicit ScopedAllocationLimit(std::size_t refuseFrom) { g_refuseAllocationsFrom = refuseFrom; }
    ~ScopedAllocationLimit() { g_refuseAllocationsFrom = 0; }
};

using Conversion = vCString (*)(vCFileStream&);

// Opens `path` for reading, reads its first four bytes and hands it over, as the driver does.
std::string Convert(Conversion conversion, const std::string& path, vCFileStream& input)
{
    EXPECT_TRUE(input.Open(vCString(path.c_str()), vEOpenMode_Read));
    unsigned char magic[4];
    input.Read(magic, 4);
    const vCString message = conversion(input);
    input.Close();
    return std::string(message.GetText(), message.GetLength());
}

std::string Convert(Conversion conversion, const std::string& path)
{
    vCFileStream input;
    return Convert(conversion, path, input);
}

std::string Quoted(const std::string& prefix, const std::string& path, const std::string& suffix)
{
    return prefix + path + suffix;
}

std::vector<std::string> Listing(const TempDir& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Wraps `wave` written as song.wav; returns the message and leaves song._xsnd in `dir`.
std::string Wrap(const TempDir& dir, const Bytes& wave)
{
    vtest::WriteFile(dir.File("song.wav"), wave);
    return Convert(&ConvertWavToXsnd, dir.File("song.wav"));
}

// --- the chunk walk -------------------------------------------------------------------------------

struct WalkRow
{
    const char* why;
    Bytes wave;
    uint32_t duration;
};

std::vector<WalkRow> WalkRows()
{
    return {
        {"plain 44 + N bytes", Riff({Fmt(1000), Data(1000)}), 1000},
        {"16-bit stereo 44100 Hz, ten seconds", Riff({Fmt(176400), Data(1764000)}), 10000},
        {"rounded down to 0", Riff({Fmt(176400), Data(100)}), 0},
        {"the 64-bit product: low 32 bits of 4,294,968,000", Riff({Fmt(1), Data(4294968)}), 704},
        {"LIST before fmt", Riff({Chunk("LIST", Bytes(26, 'i')), Fmt(1000), Data(500)}), 500},
        {"LIST between fmt and data", Riff({Fmt(1000), Chunk("LIST", Bytes(30, 'i')), Data(500)}), 500},
        {"odd chunk and its pad byte", Riff({Chunk("junk", Bytes(3, 'j')), Fmt(1000), Data(250)}), 250},
        {"odd data chunk with pad and a chunk after it", Riff({Fmt(1000), Data(251), Chunk("LIST", Bytes(4))}), 251},
        {"two fmt chunks: the second counts", Riff({Fmt(1000), Fmt(2000), Data(1000)}), 500},
        {"another form type", Riff({Fmt(1000), Data(300)}, "AVI "), 300},
        {"ids are case sensitive: FMT and DATA are other chunks",
         Riff({Chunk("FMT ", Bytes(16)), Fmt(1000), Chunk("DATA", Bytes(8)), Data(700)}), 700},
        {"data size beyond the end: only the bytes present count",
         Riff({Fmt(1000), ChunkClaiming("data", 5000, vtest::Pattern(1200))}), 1200},
        {"data size 0xFFFFFFFF from a piped writer",
         Riff({Fmt(1000), ChunkClaiming("data", 0xFFFFFFFF, vtest::Pattern(900))}), 900},
        {"fmt cut off by the end counts as none; the earlier rate stays",
         Riff({Fmt(1000), ChunkClaiming("fmt ", 0), ChunkClaiming("data", 0)}), 0},
    };
}

// Catches: chunks misstepped (pad bytes, LIST), wrong byte rate chosen, 32-bit product overflow,
// durations taken from a size field that overstates the file, a payload not the whole input.
TEST(WavToXsnd, ChunkWalkFindsTheDuration)
{
    ScopedClock clock(&ClockAt2012);
    for (const WalkRow& row : WalkRows())
    {
        SCOPED_TRACE(row.why);
        TempDir dir;
        ASSERT_EQ(Wrap(dir, row.wave), "");
        const Bytes out = vtest::ReadFile(dir.File("song._xsnd"));
        ASSERT_EQ(out.size(), row.wave.size() + 139);
        EXPECT_EQ(U32At(out, 28), row.wave.size() + 8);
        EXPECT_EQ(U32At(out, 84), row.duration);
        EXPECT_EQ(Bytes(out.begin() + 139, out.end()), row.wave);
        EXPECT_EQ(vtest::ReadFile(dir.File("song.wav")), row.wave);
    }
}

// Catches: the 139 bytes in front of the payload differing from the reference at a fixed clock.
TEST(WavToXsnd, HeaderAtTheEpochMatchesTheReference)
{
    ScopedClock clock(&ClockAtEpoch);
    TempDir dir;
    const Bytes wave = Riff({Fmt(176400), Data(1000000)}); // 1,000,044 bytes
    ASSERT_EQ(wave.size(), 1000044u);
    ASSERT_EQ(Wrap(dir, wave), "");
    const Bytes out = vtest::ReadFile(dir.File("song._xsnd"));
    const Bytes expected = {
        0x47, 0x41, 0x52, 0x33, 0x00, 0x00, 0x00, 0x00, 0x47, 0x52, 0x30, 0x31, 0x53, 0x4E, 0x30, 0x38,
        0x28, 0x00, 0x00, 0x00, 0x53, 0x00, 0x00, 0x00, 0x7B, 0x00, 0x00, 0x00, 0x74, 0x42, 0x0F, 0x00,
        0x00, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0x01, 0x2E, 0x77, 0x61, 0x76, 0x00, 0x00, 0x00, 0x00,
    };
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 48), expected);
    EXPECT_EQ(Bytes(out.begin() + 131, out.begin() + 139), (Bytes{0x47, 0x41, 0x52, 0x33, 0, 0, 0, 0}));
}

// Catches: a timestamp not taken from the clock, or not encoded as whole-second FILETIME ticks.
TEST(WavToXsnd, TimestampComesFromTheClock)
{
    TempDir dir;
    const Bytes wave = Riff({Fmt(1000), Data(100)});
    Bytes first;
    {
        ScopedClock clock(&ClockAt2012);
        ASSERT_EQ(Wrap(dir, wave), "");
        first = vtest::ReadFile(dir.File("song._xsnd"));
        EXPECT_EQ(Bytes(first.begin() + 32, first.begin() + 40), (Bytes{0x00, 0x20, 0x85, 0x45, 0x6D, 0x24, 0xCD, 0x01}));
        ASSERT_EQ(Wrap(dir, wave), "");
        EXPECT_EQ(vtest::ReadFile(dir.File("song._xsnd")), first); // same second: identical files
    }
    ScopedClock later(&ClockOneSecondLater);
    ASSERT_EQ(Wrap(dir, wave), "");
    Bytes second = vtest::ReadFile(dir.File("song._xsnd"));
    EXPECT_NE(Bytes(second.begin() + 32, second.begin() + 40), Bytes(first.begin() + 32, first.begin() + 40));
    std::memcpy(second.data() + 32, first.data() + 32, 8);
    EXPECT_EQ(second, first); // another second changes offsets 32 to 39 only
}

struct RefusalRow
{
    const char* why;
    Bytes wave;
    const char* suffix; // the message after the quoted input path
};

const char* const kNoData = "\" is damaged: no \"data\" chunk lies within the file.";
const char* const kNoRate = "\" is damaged: no \"fmt \" chunk with a byte rate comes before its \"data\" chunk.";

std::vector<RefusalRow> RefusalRows()
{
    return {
        {"no data chunk at all", Riff({Fmt(1000), Chunk("LIST", Bytes(10))}), kNoData},
        {"a size that points past the end", Riff({Fmt(1000), ChunkClaiming("LIST", 1000, Bytes(10)), Data(10)}), kNoData},
        {"an offset that wraps to 12 again (odd size, pad byte)", Riff({ChunkClaiming("LIST", 0xFFFFFFF7u, Bytes(40))}),
         kNoData},
        {"an offset that wraps to 4", Riff({ChunkClaiming("LIST", 0xFFFFFFF0u, Bytes(40))}), kNoData},
        {"only the RIFF header", Riff({}), kNoData},
        {"a chunk header cut short", Riff({Bytes{'f', 'm', 't', ' ', 16}}), kNoData},
        {"RIFF and nothing else", Bytes{'R', 'I', 'F', 'F'}, kNoData},
        {"data before fmt", Riff({Data(100), Fmt(1000)}), kNoRate},
        {"byte rate 0", Riff({Fmt(0), Data(100)}), kNoRate},
        {"a later fmt with rate 0 replaces a good one", Riff({Fmt(1000), Fmt(0), Data(100)}), kNoRate},
        {"fmt whose rate lies past the end counts as none", Riff({ChunkClaiming("fmt ", 0), ChunkClaiming("data", 0)}),
         kNoRate},
    };
}

// Catches: endless or out-of-range chunk walks, a division by zero, output written for a refusal.
TEST(WavToXsnd, DamagedChunksAreRefusedWithoutOutput)
{
    for (const RefusalRow& row : RefusalRows())
    {
        SCOPED_TRACE(row.why);
        TempDir dir;
        EXPECT_EQ(Wrap(dir, row.wave), Quoted("The .wav file \"", dir.File("song.wav"), row.suffix));
        EXPECT_EQ(Listing(dir), std::vector<std::string>{"song.wav"});
        EXPECT_EQ(vtest::ReadFile(dir.File("song.wav")), row.wave);
    }
}

// A sparse file: a valid header in front, `size` bytes in all, no disk used for the rest.
void WriteSparseWave(const std::string& path, uint32_t size)
{
    const Bytes head = Riff({Fmt(1000), ChunkClaiming("data", size - 44)});
    vtest::WriteFile(path, head);
    fs::resize_file(path, size);
}

// Catches: a WAVE file whose output (n + 139 bytes) would not fit 32-bit sizes being truncated.
TEST(WavToXsnd, FileTooLargeToWrapIsRefused)
{
    TempDir dir;
    const std::string path = dir.File("song.wav");
    WriteSparseWave(path, xsnd::kMaxPayloadSize + 1);
    EXPECT_EQ(Convert(&ConvertWavToXsnd, path),
              Quoted("The file \"", path, "\" is too large to be wrapped into a ._xsnd file."));
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"song.wav"});
}

// Catches: a crash or a half-written output when the payload cannot be held in memory; the
// largest file that may be wrapped gets past the size check and reaches the allocation.
TEST(WavToXsnd, PayloadThatCannotBeAllocatedGivesAMessage)
{
    TempDir dir;
    const std::string path = dir.File("song.wav");
    WriteSparseWave(path, xsnd::kMaxPayloadSize);
    const Bytes older = vtest::Pattern(300);
    vtest::WriteFile(dir.File("song._xsnd"), older);
    ScopedAllocationLimit limit(1u << 30);
    EXPECT_EQ(Convert(&ConvertWavToXsnd, path),
              Quoted("There is not enough memory to convert the file \"", path, "\"."));
    EXPECT_EQ(vtest::ReadFile(dir.File("song._xsnd")), older); // an existing output stays as it was
}

// An input whose large reads fail, as when the file shrinks after it was opened.
class ShrinkingInput : public vCFileStream
{
public:
    bool Read(void* destination, uint32_t n) override { return n <= 64 && vCFileStream::Read(destination, n); }
};

// Catches: a payload that could not be read written out (zero bytes) as if it were the file.
TEST(Conversions, PayloadThatCannotBeReadGivesAMessageAndNoOutput)
{
    TempDir dir;
    const std::string wav = dir.File("song.wav");
    vtest::WriteFile(wav, Riff({Fmt(1000), Data(500)}));
    ShrinkingInput wrapInput;
    EXPECT_EQ(Convert(&ConvertWavToXsnd, wav, wrapInput), Quoted("Cannot read the file \"", wav, "\"."));
    EXPECT_FALSE(vtest::FileExists(dir.File("song._xsnd")));

    const std::string xsndPath = dir.File("hit._xsnd");
    vtest::WriteFile(xsndPath, Xsnd(123, 508, vtest::Pattern(500)));
    ShrinkingInput unwrapInput;
    EXPECT_EQ(Convert(&ConvertXsndToWav, xsndPath, unwrapInput), Quoted("Cannot read the file \"", xsndPath, "\"."));
    EXPECT_FALSE(vtest::FileExists(dir.File("hit.wav")));
}

// --- output paths ---------------------------------------------------------------------------------

struct OutputPathRow
{
    const char* input;
    const char* extension;
    const char* expected; // '|' stands for the platform's separator
};

const OutputPathRow kOutputPathRows[] = {
    {"C:\\music\\song.wav", "._xsnd", "C:\\music|song._xsnd"},   // the drag-and-drop shape
    {"C:\\music\\song", "._xsnd", "C:\\music|song._xsnd"},       // no extension to replace
    {"D:/a/b.c.wav", "._xsnd", "D:/a|b.c._xsnd"},                // one extension only; separator added is ours
    {"C:\\sounds\\hit._xsnd", ".wav", "C:\\sounds|hit.wav"},     // the way back
    {"C:\\sounds\\hit.backup._xsnd", ".wav", "C:\\sounds|hit.backup.wav"}, // inner dots stay
    {"C:\\sounds\\hit", ".wav", "C:\\sounds|hit.wav"},           // no extension
    {"/home/u/song.wav", "._xsnd", "/home/u|song._xsnd"},        // a POSIX path
    {"song.wav", "._xsnd", "song._xsnd"},                        // no folder: the current directory
    {"C:song.wav", "._xsnd", "C:song._xsnd"},                    // drive-relative stays drive-relative
    {"\\song.wav", "._xsnd", "|song._xsnd"},                     // the root stays the root
    {"/song.wav", "._xsnd", "|song._xsnd"},                      // likewise
};

// Catches: a backslash glued to POSIX paths, a leading separator for a bare file name.
TEST(Conversions, OutputPathUsesThePlatformSeparator)
{
    for (const OutputPathRow& row : kOutputPathRows)
    {
        SCOPED_TRACE(row.input);
        std::string expected = row.expected;
        for (char& c : expected)
            if (c == '|')
                c = vPathSeparator;
        const vCString path = MakeOutputPath(vCString(row.input), row.extension);
        EXPECT_EQ(std::string(path.GetText(), path.GetLength()), expected);
    }
}

class ScopedCurrentDirectory
{
public:
    explicit ScopedCurrentDirectory(const std::string& path) : m_previous(fs::current_path()) { fs::current_path(path); }
    ~ScopedCurrentDirectory() { fs::current_path(m_previous); }

private:
    fs::path m_previous;
};

// Catches: the output of a bare file name going to the root of the drive.
TEST(Conversions, BareFileNameWritesIntoTheCurrentDirectory)
{
    TempDir dir;
    const Bytes wave = Riff({Fmt(1000), Data(10)});
    vtest::WriteFile(dir.File("song.wav"), wave);
    ScopedCurrentDirectory cwd(dir.Path());
    ASSERT_EQ(Convert(&ConvertWavToXsnd, "song.wav"), "");
    fs::rename(dir.File("song.wav"), dir.File("original.wav"));
    ASSERT_EQ(Convert(&ConvertXsndToWav, "song._xsnd"), "");
    EXPECT_EQ(vtest::ReadFile(dir.File("song.wav")), wave);
}

// --- the output file ------------------------------------------------------------------------------

// Catches: an existing output appended to or left longer than the new content.
TEST(Conversions, ExistingOutputIsReplaced)
{
    TempDir dir;
    const Bytes wave = Riff({Fmt(1000), Data(10)});
    vtest::WriteFile(dir.File("song._xsnd"), vtest::Pattern(5000));
    ASSERT_EQ(Wrap(dir, wave), "");
    EXPECT_EQ(vtest::ReadFile(dir.File("song._xsnd")).size(), wave.size() + 139);

    vtest::WriteFile(dir.File("song.wav"), vtest::Pattern(5000));
    ASSERT_EQ(Convert(&ConvertXsndToWav, dir.File("song._xsnd")), "");
    EXPECT_EQ(vtest::ReadFile(dir.File("song.wav")), wave);
}

// Catches: a directory at the output path reported as success or as anything but an open failure.
TEST(Conversions, OutputThatCannotBeOpenedIsNamed)
{
    TempDir dir;
    const Bytes wave = Riff({Fmt(1000), Data(10)});
    fs::create_directory(dir.File("song._xsnd"));
    EXPECT_EQ(Wrap(dir, wave), Quoted("Cannot open/create the file \"", dir.File("song._xsnd"), "\"."));
    EXPECT_TRUE(fs::is_directory(dir.File("song._xsnd")));

    vtest::WriteFile(dir.File("hit._xsnd"), Xsnd(123, 18, vtest::Pattern(10)));
    fs::create_directory(dir.File("hit.wav"));
    EXPECT_EQ(Convert(&ConvertXsndToWav, dir.File("hit._xsnd")),
              Quoted("Cannot open/create the file \"", dir.File("hit.wav"), "\"."));
    EXPECT_TRUE(fs::is_directory(dir.File("hit.wav")));
}

// Points `link` at the full device; false where that cannot be arranged.
bool LinkToFullDevice(const std::string& link)
{
    std::error_code ec;
    if (!fs::exists("/dev/full", ec))
        return false;
    fs::create_symlink("/dev/full", link, ec);
    return !ec;
}

// Catches: a write that never reached the disk reported as success, the half file left behind.
TEST(Conversions, FailedWriteIsReportedAndTheOutputRemoved)
{
    TempDir dir;
    if (!LinkToFullDevice(dir.File("song._xsnd")) || !LinkToFullDevice(dir.File("hit.wav")))
        GTEST_SKIP() << "no /dev/full to write to";
    EXPECT_EQ(Wrap(dir, Riff({Fmt(1000), Data(20000)})), Quoted("Cannot write the file \"", dir.File("song._xsnd"), "\"."));
    EXPECT_FALSE(fs::is_symlink(dir.File("song._xsnd")));

    vtest::WriteFile(dir.File("hit._xsnd"), Xsnd(123, 18, vtest::Pattern(10)));
    EXPECT_EQ(Convert(&ConvertXsndToWav, dir.File("hit._xsnd")), Quoted("Cannot write the file \"", dir.File("hit.wav"), "\"."));
    EXPECT_FALSE(fs::is_symlink(dir.File("hit.wav")));
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"hit._xsnd", "song.wav"}));
}

// Catches: an input emptied by opening its own path for writing.
TEST(Conversions, OutputNamingTheInputItselfIsRefused)
{
    TempDir dir;
    const Bytes wave = Riff({Fmt(1000), Data(100)});
    vtest::WriteFile(dir.File("x._xsnd"), wave); // a WAVE file already called ._xsnd
    EXPECT_EQ(Convert(&ConvertWavToXsnd, dir.File("x._xsnd")),
              Quoted("The output file \"", dir.File("x._xsnd"), "\" would replace the input file itself."));
    EXPECT_EQ(vtest::ReadFile(dir.File("x._xsnd")), wave);

    const Bytes xsnd = Xsnd(123, 108, vtest::Pattern(100));
    vtest::WriteFile(dir.File("y.wav"), xsnd); // a sound resource file called .wav
    EXPECT_EQ(Convert(&ConvertXsndToWav, dir.File("y.wav")),
              Quoted("The output file \"", dir.File("y.wav"), "\" would replace the input file itself."));
    EXPECT_EQ(vtest::ReadFile(dir.File("y.wav")), xsnd);
}

// Catches: a same-file test that compares spellings instead of files.
TEST(Conversions, OutputReachingTheInputThroughAnotherNameIsRefused)
{
    TempDir dir;
    const Bytes wave = Riff({Fmt(1000), Data(100)});
    vtest::WriteFile(dir.File("song.wav"), wave);
    std::error_code ec;
    fs::create_hard_link(dir.File("song.wav"), dir.File("song._xsnd"), ec);
    if (ec)
        GTEST_SKIP() << "no hard links here";
    EXPECT_EQ(Convert(&ConvertWavToXsnd, dir.File("song.wav")),
              Quoted("The output file \"", dir.File("song._xsnd"), "\" would replace the input file itself."));
    EXPECT_EQ(vtest::ReadFile(dir.File("song.wav")), wave);
}

// --- unwrapping -----------------------------------------------------------------------------------

struct UnwrapRow
{
    const char* why;
    Bytes xsnd;
    Bytes expected;
};

std::vector<UnwrapRow> UnwrapRows()
{
    return {
        {"the layout the writer produces", Xsnd(123, 1008, vtest::Pattern(1000)), vtest::Pattern(1000)},
        {"data block offset 200: payload from 216", Xsnd(200, 308, vtest::Pattern(300, 3)), vtest::Pattern(300, 3)},
        {"data block length 8: an empty file", Xsnd(123, 8, {}), {}},
        {"bytes after the payload are not part of it", Xsnd(123, 58, vtest::Pattern(80, 5)), vtest::Pattern(50, 5)},
        {"a payload larger than one window", Xsnd(123, 20008, vtest::Pattern(20000, 9)), vtest::Pattern(20000, 9)},
    };
}

// Catches: the payload taken from the wrong offset or with the wrong length.
TEST(XsndToWav, PayloadIsWrittenOutUnchanged)
{
    for (const UnwrapRow& row : UnwrapRows())
    {
        SCOPED_TRACE(row.why);
        TempDir dir;
        vtest::WriteFile(dir.File("hit._xsnd"), row.xsnd);
        vtest::WriteFile(dir.File("hit.wav"), vtest::Pattern(70000)); // replaced, not appended to
        ASSERT_EQ(Convert(&ConvertXsndToWav, dir.File("hit._xsnd")), "");
        EXPECT_EQ(vtest::ReadFile(dir.File("hit.wav")), row.expected);
        EXPECT_EQ(vtest::ReadFile(dir.File("hit._xsnd")), row.xsnd);
    }
}

struct BadXsndRow
{
    const char* why;
    Bytes xsnd;
    bool invalidTag; // "Invalid ._xsnd file" rather than the damaged-header message
};

std::vector<BadXsndRow> BadXsndRows()
{
    const Bytes good = Xsnd(123, 108, vtest::Pattern(100));
    Bytes shortHeader(good.begin(), good.begin() + 31);
    Bytes payloadCut(good.begin(), good.end() - 1);
    return {
        {"tag is not SN08", Xsnd(123, 108, vtest::Pattern(100), "SN09"), true},
        {"tag in lower case", Xsnd(123, 108, vtest::Pattern(100), "sn08"), true},
        {"file ends before the tag", Bytes{'G', 'A', 'R', '3', 0, 0, 0, 0, 'G', 'R', '0', '1', 'S', 'N'}, true},
        {"file ends before offset 32", shortHeader, false},
        {"payload reaches past the end", payloadCut, false},
        {"data block length 7", Xsnd(123, 7, vtest::Pattern(100)), false},
        {"data block length 0", Xsnd(123, 0, vtest::Pattern(100)), false},
        {"data block offset wraps around", [] {
             Bytes b = Xsnd(16, 108, vtest::Pattern(100));
             b[24] = 0xF0, b[25] = 0xFF, b[26] = 0xFF, b[27] = 0xFF; // 0xFFFFFFF0 + 16 wraps to 0
             return b;
         }(),
         false},
    };
}

// Catches: reads outside the buffer, a 4 GiB allocation, an output of bytes that are not the
// payload, or an existing .wav touched by a refusal.
TEST(XsndToWav, UntruthfulHeadersAreRefusedBeforeAnyOutput)
{
    for (const BadXsndRow& row : BadXsndRows())
    {
        SCOPED_TRACE(row.why);
        TempDir dir;
        const std::string path = dir.File("hit._xsnd");
        vtest::WriteFile(path, row.xsnd);
        vtest::WriteFile(dir.File("hit.wav"), std::string("keep me"));
        const std::string expected =
            row.invalidTag ? "Invalid ._xsnd file"
                           : Quoted("The ._xsnd file \"", path, "\" is damaged: its header does not match the data it holds.");
        EXPECT_EQ(Convert(&ConvertXsndToWav, path), expected);
        EXPECT_EQ(vtest::ReadFile(dir.File("hit.wav")), Bytes({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
        EXPECT_EQ(vtest::ReadFile(path), row.xsnd);
        EXPECT_EQ(Listing(dir), (std::vector<std::string>{"hit._xsnd", "hit.wav"}));
    }
}

// Catches: the tag check coming after the output is opened (a bad file in a read-only place
// must say "Invalid", not "Cannot open/create").
TEST(XsndToWav, TagIsCheckedBeforeTheOutputIsOpened)
{
    TempDir dir;
    vtest::WriteFile(dir.File("hit._xsnd"), Xsnd(123, 108, vtest::Pattern(100), "XXXX"));
    fs::create_directory(dir.File("hit.wav"));
    EXPECT_EQ(Convert(&ConvertXsndToWav, dir.File("hit._xsnd")), "Invalid ._xsnd file");
}

// Catches: an unwrap buffer that cannot be allocated crashing instead of refusing.
TEST(XsndToWav, PayloadThatCannotBeAllocatedGivesAMessage)
{
    TempDir dir;
    const std::string path = dir.File("hit._xsnd");
    vtest::WriteFile(path, Xsnd(123, 5008, vtest::Pattern(5000)));
    ScopedAllocationLimit limit(4096);
    EXPECT_EQ(Convert(&ConvertXsndToWav, path), Quoted("There is not enough memory to convert the file \"", path, "\"."));
    EXPECT_FALSE(vtest::FileExists(dir.File("hit.wav")));
}

} // namespace
