// Writes the seed corpora of the fuzz targets: make_fuzz_seeds <folder> fills <folder>/<target>/
// with small inputs that walk each target through its main roads. Every byte comes from here;
// no outside file is used.
#include "fuzz_ops.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
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
    // An exact length, through the "anywhere" form of Input::Length (kept below its limit).
    Seed& Length(uint32_t value) { return Byte(3).U32(value); }
    Seed& Raw(const std::string& bytes)
    {
        m_bytes += bytes;
        return *this;
    }
    Seed& Text(const std::string& text) { return Length(static_cast<uint32_t>(text.size())).Raw(text); }
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
    growth.Byte(kStringRemoveFromEnd).Byte(0).Byte(0).Length(300);
    growth.Byte(kStringRemoveFromEnd).Byte(0).Byte(0).Length(1);
    growth.Byte(kStringRemoveFromEnd).Byte(0).Byte(1).U32(0xFFFFFFFF);
    corpus.Add("append-self-and-shrink", growth);

    Seed boundary; // 254, 255 and 256 characters, each assigned to another slot and appended
    for (uint32_t length : {254u, 255u, 256u, 261u})
    {
        boundary.Byte(kStringAssignBufferOpen).Byte(1).Length(length).Byte(length);
        boundary.Byte(kStringAssign).Byte(2).Byte(1);
        boundary.Byte(kStringAppend).Byte(3).Byte(2);
        boundary.Byte(kStringRemoveFromEnd).Byte(2).Byte(0).Length(length - 250);
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
    moves.Byte(kStringAssignBufferOpen).Byte(0).Length(70000).Byte(7);
    moves.Byte(kStringCopyConstruct).Byte(1).Byte(0);
    moves.Byte(kStringMoveConstruct).Byte(2).Byte(1);
    moves.Byte(kStringMoveAssign).Byte(3).Byte(2);
    moves.Byte(kStringCopyConstruct).Byte(3).Byte(3);
    moves.Byte(kStringRemoveFromEnd).Byte(3).Byte(0).Length(69990);
    moves.Byte(kStringConstruct).Byte(0).Byte(0).Text("");
    corpus.Add("copies-and-moves", moves);
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
    return 0;
}
