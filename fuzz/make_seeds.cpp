// Writes the seed corpora of the fuzz targets: make_fuzz_seeds <folder> fills <folder>/<target>/
// with small inputs that walk each target through its main roads. Every byte comes from here;
// no outside file is used.
#include "conversions.h"
#include "fuzz_ops.h"
#include "ve_filestream.h"
#include "ve_stream.h"
#include "ve_string.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Builds one input in the encoding that vfuzz::Input reads.
class Seed
{
public:
    Seed& Byte(uint32_t value)
    {
        m_bytes.push_back(static_cast<char>(value & 0xFF));
        return *this;
    }
    Seed& U16(uint32_t value) { return Byte(value).Byte(value >> 8); }
    Seed& U32(uint32_t value) { return U16(value).U16(value >> 16); }
    // An exact length, through the "exact" form of Input::Length; `limit` is the one the target
    // reads it with, beyond which the value would wrap.
    Seed& Length(uint32_t value, uint32_t limit)
    {
        if (value > limit)
        {
            std::fprintf(stderr, "make_fuzz_seeds: length %u above its limit %u\n", value, limit);
            std::exit(1);
        }
        return Byte(3).U32(value);
    }
    Seed& Raw(const std::string& bytes)
    {
        m_bytes += bytes;
        return *this;
    }
    Seed& Text(const std::string& text)
    {
        return Length(static_cast<uint32_t>(text.size()), vfuzz::kStringTextLimit).Raw(text);
    }
    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

class Corpus
{
public:
    Corpus(const fs::path& root, const std::string& target) : m_folder(root / target)
    {
        fs::create_directories(m_folder);
    }

    void Add(const std::string& name, const std::string& bytes)
    {
        std::ofstream out(m_folder / name, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
        {
            std::fprintf(stderr, "make_fuzz_seeds: cannot write %s\n", (m_folder / name).string().c_str());
            std::exit(1);
        }
    }
    void Add(const std::string& name, const Seed& seed) { Add(name, seed.Bytes()); }

private:
    fs::path m_folder;
};

std::string Repeat(char c, size_t n) { return std::string(n, c); }

// --- fuzz_string ----------------------------------------------------------------------------

void StringSeeds(const fs::path& root)
{
    using namespace vfuzz;
    Corpus corpus(root, "string");

    Seed growth; // doubling by self-append crosses 255 and the pooled sizes, then shrinks back
    growth.Byte(kStringConstruct).Byte(0).Byte(1).Text("abcdefghijklmnopq");
    for (int i = 0; i < 5; ++i)
        growth.Byte(kStringAppend).Byte(0).Byte(0);
    growth.Byte(kStringRemoveFromEnd).Byte(0).Byte(0).Length(300, kStringTextLimit);
    growth.Byte(kStringRemoveFromEnd).Byte(0).Byte(0).Length(1, kStringTextLimit);
    growth.Byte(kStringRemoveFromEnd).Byte(0).Byte(1).U32(0xFFFFFFFF);
    corpus.Add("append-self-and-shrink", growth);

    Seed boundary; // 254, 255 and 256 characters, each assigned to another slot and appended
    for (uint32_t length : {254u, 255u, 256u, 261u})
    {
        boundary.Byte(kStringAssignBufferOpen).Byte(1).Length(length, kStringTextLimit).Byte(length);
        boundary.Byte(kStringAssign).Byte(2).Byte(1);
        boundary.Byte(kStringAppend).Byte(3).Byte(2);
        boundary.Byte(kStringRemoveFromEnd).Byte(2).Byte(0).Length(length - 250, kStringTextLimit);
    }
    corpus.Add("form-boundary", boundary);

    Seed buffers; // the length rule: measured, explicit with NULs, and no text at all
    buffers.Byte(kStringAssignBuffer).Byte(0).Byte(0).Text(std::string("ab\0cd", 5));
    buffers.Byte(kStringAssignBuffer).Byte(1).Byte(1).Text(std::string("ab\0cd", 5));
    buffers.Byte(kStringAssignBuffer).Byte(2).Byte(2).Text("ignored");
    buffers.Byte(kStringAssignText).Byte(3).Byte(0).Text("absent");
    buffers.Byte(kStringAssignText).Byte(3).Byte(1).Text(Repeat('x', 300));
    buffers.Byte(kStringAppend).Byte(1).Byte(3);
    buffers.Byte(kStringAssign).Byte(3).Byte(1);
    buffers.Byte(kStringAssign).Byte(3).Byte(3);
    corpus.Add("length-rule", buffers);

    Seed concat; // every form of Concat
    concat.Byte(kStringAssignText).Byte(0).Byte(1).Text("Cannot open the file \"");
    concat.Byte(kStringAssignText).Byte(1).Byte(1).Text(Repeat('p', 250));
    for (uint32_t form = 0; form < 5; ++form)
        concat.Byte(kStringConcat).Byte(2 + form % 2).Byte(form).Byte(form % 2).Text("\".");
    concat.Byte(kStringConcat).Byte(0).Byte(0).Byte(1).Text("");
    corpus.Add("concat", concat);

    Seed moves; // copies and moves between slots
    moves.Byte(kStringAssignBufferOpen).Byte(0).Length(70000, kStringTextLimit).Byte(7);
    moves.Byte(kStringCopyConstruct).Byte(1).Byte(0);
    moves.Byte(kStringMoveConstruct).Byte(2).Byte(1);
    moves.Byte(kStringMoveAssign).Byte(3).Byte(2);
    moves.Byte(kStringCopyConstruct).Byte(3).Byte(3);
    moves.Byte(kStringRemoveFromEnd).Byte(3).Byte(0).Length(69990, kStringTextLimit);
    moves.Byte(kStringConstruct).Byte(0).Byte(0).Text("");
    corpus.Add("copies-and-moves", moves);
}

// --- fuzz_filestream ------------------------------------------------------------------------

// The first bytes of a stream input: whether the file exists, how long, its NUL density.
Seed StreamFile(bool exists, uint32_t length = 0, uint32_t nulDensity = 0)
{
    Seed seed;
    seed.Byte((exists ? 1 : 0) | nulDensity << 1);
    if (exists)
        seed.Length(length, vfuzz::kStreamFileLimit).Byte(length & 0xFF);
    return seed;
}

enum : uint32_t
{
    kOpenFile = 0,
    kOpenMissingFolder = 1,
    kModeRead = 1 << 1,
    kModeWrite = 2 << 1,
    kModeReadWrite = 3 << 1,
    kCloseFirst = 8,
};

void StreamSeeds(const fs::path& root)
{
    using namespace vfuzz;
    Corpus corpus(root, "filestream");
    const auto open = [](Seed& s, uint32_t choice) { s.Byte(kStreamOpen).Byte(choice); };
    const auto read = [](Seed& s, uint32_t n) { s.Byte(kStreamRead).Length(n, kStreamLengthLimit); };
    const auto write = [](Seed& s, uint32_t n, uint32_t seed) { s.Byte(kStreamWrite).Length(n, kStreamLengthLimit).Byte(seed).Byte(0); };
    const auto seek = [](Seed& s, uint32_t origin, int32_t offset) {
        s.Byte(kStreamSeek).Byte(origin).Byte(1).U32(static_cast<uint32_t>(offset));
    };

    Seed pieces = StreamFile(true, 20000); // the window walks through a file read in pieces
    open(pieces, kOpenFile | kModeRead);
    for (int i = 0; i < 21; ++i)
        read(pieces, 1000);
    seek(pieces, vESeekMode_End, 0);
    read(pieces, 1);
    seek(pieces, vESeekMode_Begin, 20001);
    seek(pieces, vESeekMode_Current, -1);
    seek(pieces, vESeekMode_Begin, 8191);
    read(pieces, 8191);
    pieces.Byte(kStreamClose);
    corpus.Add("read-in-pieces", pieces);

    Seed written = StreamFile(false); // one large write, gathered small ones, and reading it back
    open(written, kOpenFile | kModeWrite);
    write(written, 20000, 1);
    for (int i = 0; i < 40; ++i)
        write(written, 300, i);
    seek(written, vESeekMode_Begin, 100);
    write(written, 9000, 2);
    written.Byte(kStreamClose);
    open(written, kOpenFile | kModeRead);
    read(written, 16000);
    read(written, 16000);
    written.Byte(kStreamReadString);
    corpus.Add("write-then-read", written);

    Seed both = StreamFile(true, 10000); // reading and writing one stream, appending at the end
    open(both, kOpenFile | kModeReadWrite);
    seek(both, vESeekMode_End, 0);
    write(both, 10000, 3);
    seek(both, vESeekMode_Begin, 0);
    read(both, 5000);
    seek(both, vESeekMode_Current, -3000);
    write(both, 100, 4);
    both.Byte(kStreamSkip).Byte(1).U32(15000);
    read(both, 2000);
    open(both, kOpenFile | kModeRead); // open again without closing: written back first
    read(both, 20000);
    corpus.Add("read-write", both);

    Seed strings = StreamFile(true, 30000, 6); // NUL-terminated strings across window moves
    open(strings, kOpenFile | kModeRead);
    for (int i = 0; i < 60; ++i)
        strings.Byte(kStreamReadString);
    strings.Byte(kStreamReadStringLength).Length(9000, kStreamLengthLimit);
    seek(strings, vESeekMode_End, 3);
    for (int i = 0; i < 4; ++i)
        strings.Byte(kStreamReadString);
    strings.Byte(kStreamWriteString).Length(12, kStreamLengthLimit).Byte(5).Byte(0);
    corpus.Add("strings", strings);

    Seed closed = StreamFile(true, 100); // every operation of a stream that is not open
    read(closed, 0);
    read(closed, 1);
    closed.Byte(kStreamReadStringLength).Length(0, kStreamLengthLimit);
    closed.Byte(kStreamReadString);
    seek(closed, vESeekMode_Begin, 0);
    closed.Byte(kStreamSkip).Byte(0).Length(0, kStreamLengthLimit);
    write(closed, 0, 0);
    closed.Byte(kStreamClose);
    open(closed, kOpenFile | kModeRead);
    write(closed, 1, 0);
    read(closed, 101);
    corpus.Add("not-open", closed);

    Seed failing = StreamFile(false); // opens that fail
    open(failing, kOpenFile | kModeRead);
    open(failing, kOpenFile);
    open(failing, kOpenMissingFolder | kModeWrite);
    open(failing, kOpenMissingFolder | kModeReadWrite);
    open(failing, kOpenFile | kModeReadWrite);
    write(failing, 50, 6);
    open(failing, kOpenMissingFolder | kModeRead);
    corpus.Add("open-failures", failing);

    Seed shrinking = StreamFile(true, 30000); // another program truncates the file being read
    open(shrinking, kOpenFile | kModeRead);
    read(shrinking, 100);
    shrinking.Byte(kStreamShrinkFile).Length(9000, kStreamLengthLimit);
    read(shrinking, 20000);
    seek(shrinking, vESeekMode_Begin, 25000);
    read(shrinking, 10);
    seek(shrinking, vESeekMode_Begin, 0);
    read(shrinking, 9000);
    shrinking.Byte(kStreamClose);
    corpus.Add("shrinking-file", shrinking);
}

// --- fuzz_wav_to_xsnd and fuzz_xsnd_to_wav --------------------------------------------------

std::string LE32(uint32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

std::string LE16(uint32_t value) { return LE32(value).substr(0, 2); }

std::string PatternBytes(uint32_t length, uint32_t seed)
{
    std::string bytes(length, '\0');
    for (uint32_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>(((i + seed) * 2654435761u) >> 24);
    return bytes;
}

std::string Chunk(const std::string& id, const std::string& body, bool pad = true)
{
    std::string chunk = id + LE32(static_cast<uint32_t>(body.size())) + body;
    if (pad && body.size() % 2 == 1)
        chunk += '\0';
    return chunk;
}

std::string Fmt(uint32_t channels, uint32_t sampleRate, uint32_t bitsPerSample)
{
    const uint32_t blockAlign = channels * bitsPerSample / 8;
    return Chunk("fmt ", LE16(1) + LE16(channels) + LE32(sampleRate) + LE32(sampleRate * blockAlign) +
                             LE16(blockAlign) + LE16(bitsPerSample));
}

std::string Riff(const std::string& form, const std::string& chunks)
{
    return "RIFF" + LE32(static_cast<uint32_t>(4 + chunks.size())) + form + chunks;
}

std::string Wave(const std::string& chunks) { return Riff("WAVE", chunks); }

// The seeds of the WAVE reader, by name.
std::vector<std::pair<std::string, std::string>> WaveSeeds()
{
    const std::string fmt = Fmt(2, 44100, 16);
    return {
        {"plain", Wave(fmt + Chunk("data", PatternBytes(1000, 1)))},
        {"beyond-one-window", Wave(fmt + Chunk("data", PatternBytes(12000, 2)))},
        {"list-before-and-between", Wave(Chunk("LIST", "INFOISFT" + LE32(5) + "tool\0") + fmt +
                                         Chunk("LIST", PatternBytes(33, 3)) + Chunk("data", PatternBytes(100, 4)))},
        {"two-fmt-chunks", Wave(Fmt(1, 8000, 8) + Fmt(2, 48000, 24) + Chunk("data", PatternBytes(300, 5)))},
        {"chunks-after-data", Wave(fmt + Chunk("data", PatternBytes(64, 6)) + Chunk("cue ", PatternBytes(24, 7)))},
        {"no-data-chunk", Wave(fmt + Chunk("LIST", PatternBytes(40, 8)))},
        {"data-before-fmt", Wave(Chunk("data", PatternBytes(50, 9)) + fmt)},
        {"byte-rate-zero", Wave(Chunk("fmt ", std::string(16, '\0')) + Chunk("data", PatternBytes(50, 10)))},
        {"fmt-cut-off", Wave("fmt " + LE32(16) + LE16(1) + LE16(2))},
        {"data-size-unknown", Wave(fmt + "data" + LE32(0xFFFFFFFF) + PatternBytes(500, 11))},
        {"chunk-size-past-end", Wave("JUNK" + LE32(0xFFFFFFF0) + fmt + Chunk("data", "x"))},
        {"other-form", Riff("AVI ", fmt + Chunk("data", PatternBytes(20, 12)))},
        {"header-only", Riff("WAVE", "")},
        {"short-fmt-field", Wave(Chunk("fmt ", LE16(1) + LE16(1) + LE32(1000) + LE32(1)) + Chunk("data", PatternBytes(4294, 13)))},
    };
}

// Runs ConvertWavToXsnd on a file as the tool would, and returns the file it wrote.
std::string Wrap(const fs::path& folder, const std::string& wave)
{
    const fs::path input = folder / "seed.wav";
    const fs::path output = folder / "seed._xsnd";
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(wave.data(), static_cast<std::streamsize>(wave.size()));
    }
    fs::remove(output);
    vCFileStream stream;
    if (!stream.Open(vCString(input.string().c_str()), vEOpenMode_Read))
        return std::string();
    unsigned char magic[4];
    stream.Read(magic, 4);
    const vCString message = ConvertWavToXsnd(stream);
    stream.Close();
    if (message.GetLength() != 0)
    {
        std::fprintf(stderr, "make_fuzz_seeds: wrapping failed: %s\n", message.GetText());
        std::exit(1);
    }
    std::ifstream in(output, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string WithU32(std::string bytes, size_t offset, uint32_t value)
{
    bytes.replace(offset, 4, LE32(value));
    return bytes;
}

void ConversionSeeds(const fs::path& root)
{
    Corpus wavCorpus(root, "wav_to_xsnd");
    for (const auto& seed : WaveSeeds())
        wavCorpus.Add(seed.first, seed.second);

    Corpus xsndCorpus(root, "xsnd_to_wav");
    const fs::path work = root / "wrapping";
    fs::create_directories(work);
    const std::string small = Wrap(work, Wave(Fmt(1, 22050, 16) + Chunk("data", PatternBytes(200, 20))));
    const std::string large = Wrap(work, Wave(Fmt(2, 44100, 16) + Chunk("data", PatternBytes(10000, 21))));
    fs::remove_all(work);

    std::string moved = small; // a property block of another length: the payload 77 bytes later
    moved.insert(131, PatternBytes(77, 22));
    moved = WithU32(moved, 24, 200);

    xsndCorpus.Add("wrapped", small);
    xsndCorpus.Add("wrapped-beyond-one-window", large);
    xsndCorpus.Add("data-block-at-200", moved);
    xsndCorpus.Add("empty-payload", WithU32(small.substr(0, 139), 28, 8));
    xsndCorpus.Add("length-below-8", WithU32(small, 28, 7));
    xsndCorpus.Add("payload-past-end", WithU32(small, 28, static_cast<uint32_t>(small.size())));
    xsndCorpus.Add("offset-wraps", WithU32(small, 24, 0xFFFFFFF8));
    xsndCorpus.Add("wrong-tag", WithU32(small, 12, 0x39304E53));
    xsndCorpus.Add("ends-before-fields", small.substr(0, 30));
    xsndCorpus.Add("tag-only", small.substr(0, 16));
}

// --- fuzz_stringheap ------------------------------------------------------------------------

void HeapSeeds(const fs::path& root)
{
    using namespace vfuzz;
    Corpus corpus(root, "stringheap");
    const auto allocate = [](Seed& s, uint32_t size) { s.Byte(kHeapAllocate).Length(size, kHeapSizeLimit); };
    const auto reallocate = [](Seed& s, uint32_t pick, uint32_t size) {
        s.Byte(kHeapReallocate).Length(size, kHeapSizeLimit).U16(pick);
    };
    const auto release = [](Seed& s, uint32_t pick) { s.Byte(kHeapFree).U16(pick); };

    Seed pages; // more blocks of every class than one page holds, then holes, then reuse
    for (uint32_t size = 8; size <= 256; size *= 2)
        for (int i = 0; i < 17; ++i)
            allocate(pages, size - (i % 3));
    for (uint32_t i = 0; i < 40; ++i)
        release(pages, i * 3);
    for (uint32_t i = 0; i < 20; ++i)
        allocate(pages, 1 + i * 12);
    pages.Byte(kHeapVerify);
    corpus.Add("pages-of-every-class", pages);

    Seed growth; // a string-like block growing a little at a time, then shrinking back
    allocate(growth, 2);
    allocate(growth, 2);
    for (uint32_t size = 3; size < 700; size += 7)
        reallocate(growth, 0, size);
    for (uint32_t size = 700; size > 0; size /= 3)
        reallocate(growth, 0, size);
    reallocate(growth, 0, 0);
    corpus.Add("grow-and-shrink", growth);

    Seed large; // large blocks: kept, moved, moved into the pools, released
    allocate(large, 257);
    allocate(large, 1000);
    reallocate(large, 1, 401);
    reallocate(large, 1, 400);
    reallocate(large, 1, 256);
    allocate(large, 1000);
    reallocate(large, 0, 0);
    allocate(large, 19000);
    reallocate(large, 1, 20000);
    corpus.Add("large-blocks", large);

    Seed table; // past 511 large blocks: the handle table grows
    for (int i = 0; i < 520; ++i)
        allocate(table, 300);
    for (uint32_t i = 0; i < 30; ++i)
        release(table, i * 17);
    for (int i = 0; i < 20; ++i)
        allocate(table, 260);
    corpus.Add("handle-table-growth", table);

    Seed nulls; // the null block forms
    nulls.Byte(kHeapFree | kHeapNullBlock).U16(0);
    nulls.Byte(kHeapReallocate | kHeapNullBlock).Length(0, kHeapSizeLimit).U16(0);
    nulls.Byte(kHeapReallocate | kHeapNullBlock).Length(300, kHeapSizeLimit).U16(0);
    allocate(nulls, 0);
    reallocate(nulls, 0, 1);
    corpus.Add("null-blocks", nulls);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: make_fuzz_seeds <folder>\n");
        return 2;
    }
    const fs::path root(argv[1]);
    StringSeeds(root);
    StreamSeeds(root);
    ConversionSeeds(root);
    HeapSeeds(root);
    return 0;
}
