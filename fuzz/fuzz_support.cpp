#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace vfuzz {

uint8_t Input::Byte()
{
    if (m_offset >= m_size)
        return 0;
    return m_data[m_offset++];
}

uint32_t Input::U16()
{
    const uint32_t low = Byte();
    return low | uint32_t(Byte()) << 8;
}

uint32_t Input::U32()
{
    const uint32_t low = U16();
    return low | U16() << 16;
}

uint32_t Input::Length(uint32_t limit)
{
    static const uint32_t kLandmarks[] = {0, 8, 16, 32, 64, 128, 254, 255, 256, 2730, 5461, 8191, 16382, 24573};
    const uint8_t selector = Byte();
    uint32_t length = 0;
    switch (selector % 4)
    {
    case 0: // small
        length = selector >> 2;
        break;
    case 1: // near a landmark
    {
        const uint8_t pick = Byte();
        const uint32_t landmark = kLandmarks[pick % (sizeof(kLandmarks) / sizeof(kLandmarks[0]))];
        const int32_t offset = int32_t(selector >> 2) - 32; // -32 .. 31
        length = (offset < 0 && uint32_t(-offset) > landmark) ? 0 : landmark + uint32_t(offset);
        break;
    }
    case 2: // any order of magnitude, small ones as likely as large ones
    {
        uint32_t width = 0; // bits needed for the limit
        while (width < 32 && (limit >> width) != 0)
            ++width;
        const uint32_t bits = Byte() % (width + 1);
        length = bits == 32 ? U32() : U32() & ((uint32_t(1) << bits) - 1);
        break;
    }
    default: // exactly this value, up to the limit
        length = U32() % (limit + 1);
        break;
    }
    return length > limit ? limit : length;
}

std::string Input::Bytes(size_t n)
{
    const size_t taken = n < Remaining() ? n : Remaining();
    std::string bytes(reinterpret_cast<const char*>(m_data + m_offset), taken);
    m_offset += taken;
    return bytes;
}

unsigned char PatternByte(uint32_t offset, uint32_t seed)
{
    const uint32_t x = (offset + seed) * 2654435761u;
    return static_cast<unsigned char>((x >> 24) ^ (offset >> 8));
}

std::string Pattern(uint32_t length, uint32_t seed)
{
    std::string bytes(length, '\0');
    for (uint32_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>(PatternByte(i, seed));
    return bytes;
}

void Fail(const char* file, int line, const std::string& what)
{
    std::fprintf(stderr, "%s:%d: model mismatch: %s\n", file, line, what.c_str());
    std::fflush(stderr);
    std::abort();
}

namespace {

std::string* g_scratch = nullptr;

void RemoveScratch()
{
    if (g_scratch == nullptr)
        return;
    std::error_code ec;
    fs::remove_all(*g_scratch, ec);
}

} // namespace

const std::string& ScratchFolder()
{
    if (g_scratch != nullptr)
        return *g_scratch;
    std::random_device rd;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        const fs::path candidate = base / ("xsndconv-fuzz-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec))
        {
            g_scratch = new std::string(candidate.string());
            std::atexit(RemoveScratch);
            return *g_scratch;
        }
    }
    Fail(__FILE__, __LINE__, "cannot create a scratch folder");
}

std::string ScratchFile(const std::string& name) { return (fs::path(ScratchFolder()) / name).string(); }

std::string ReadWholeFile(const std::string& path, bool* exists)
{
    std::string bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (exists != nullptr)
        *exists = file != nullptr;
    if (file == nullptr)
        return bytes;
    char chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) != 0)
        bytes.append(chunk, got);
    std::fclose(file);
    return bytes;
}

void WriteWholeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        Fail(__FILE__, __LINE__, "cannot write " + path);
}

void RemoveFile(const std::string& path)
{
    std::error_code ec;
    fs::remove(path, ec);
}

bool FileExists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

void CheckRefusal(const std::string& message, const std::string& expected, const std::string& outputPath,
                  bool outputIsInput)
{
    if (message != expected)
        Fail(__FILE__, __LINE__, "message \"" + message + "\", expected \"" + expected + "\"");
    if (!outputIsInput && FileExists(outputPath))
        Fail(__FILE__, __LINE__, "a refusal left an output file: " + outputPath);
}

std::vector<const vCError*> ErrorMark::Since() const
{
    std::vector<const vCError*> records;
    for (const vCError* r = GetErrorChainHead(); r != nullptr && r != m_mark; r = r->next)
        records.push_back(r);
    return records;
}

void TrimErrorChain()
{
    vCError* head = const_cast<vCError*>(GetErrorChainHead());
    if (head == nullptr)
        return;
    vCError* record = head->next;
    head->next = nullptr;
    while (record != nullptr)
    {
        vCError* next = record->next;
        delete record;
        record = next;
    }
}

} // namespace vfuzz
