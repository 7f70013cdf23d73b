// Helpers shared by the fuzz targets: a reader that turns the fuzzer's bytes into operations,
// checks that abort with a readable account, a scratch folder for files, and a trim of the
// error chain so that millions of runs do not pile up records.
#pragma once

#include "ve_error.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The entry point that libFuzzer calls, and that the replayer calls once per corpus file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace vfuzz {

// Consumes the fuzzer's bytes from the front. Past the end every value is 0, so a short input
// is simply a short run of operations.
class Input
{
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_offset >= m_size; }
    size_t Remaining() const { return m_size - (m_offset < m_size ? m_offset : m_size); }
    uint8_t Byte();
    uint32_t U16();
    uint32_t U32();
    // A length that often lands on the sizes where the code changes course: the string forms
    // (254/255), the heap's classes (up to 256), the stream window (2730, 5461, 8191) and a few
    // multiples of them, each give or take a little; otherwise small, of a random order of
    // magnitude, or an exact value (a selector byte of 3 and four bytes). Never above `limit`.
    uint32_t Length(uint32_t limit);
    // Up to n bytes taken from the input as they are.
    std::string Bytes(size_t n);

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
};

// The bytes a target writes: byte i is a function of i and the seed, so a slice taken from the
// wrong place shows.
unsigned char PatternByte(uint32_t offset, uint32_t seed);
std::string Pattern(uint32_t length, uint32_t seed);

[[noreturn]] void Fail(const char* file, int line, const std::string& what);

template <typename A, typename B>
std::string DescribeMismatch(const char* a, const char* b, const A& va, const B& vb)
{
    return std::string(a) + " == " + b + " failed: " + std::to_string(va) + " != " + std::to_string(vb);
}

#define VFUZZ_CHECK(condition)                                                                     \
    do                                                                                             \
    {                                                                                              \
        if (!(condition))                                                                          \
            ::vfuzz::Fail(__FILE__, __LINE__, "check failed: " #condition);                        \
    } while (0)

#define VFUZZ_CHECK_EQ(a, b)                                                                       \
    do                                                                                             \
    {                                                                                              \
        const auto vfuzz_a = (a);                                                                  \
        const auto vfuzz_b = (b);                                                                  \
        if (!(vfuzz_a == vfuzz_b))                                                                 \
            ::vfuzz::Fail(__FILE__, __LINE__, ::vfuzz::DescribeMismatch(#a, #b, vfuzz_a, vfuzz_b)); \
    } while (0)

// A folder of this process, made on first use and removed when the process ends.
const std::string& ScratchFolder();
std::string ScratchFile(const std::string& name);

std::string ReadWholeFile(const std::string& path, bool* exists = nullptr);
void WriteWholeFile(const std::string& path, const std::string& bytes);
void RemoveFile(const std::string& path);
bool FileExists(const std::string& path);

// A conversion that refused its input: the message is the expected one, and no output file was
// created beside an input that is not itself the output.
void CheckRefusal(const std::string& message, const std::string& expected, const std::string& outputPath,
                  bool outputIsInput);

// Error records pushed since a mark, newest first.
class ErrorMark
{
public:
    ErrorMark() : m_mark(GetErrorChainHead()) {}
    std::vector<const vCError*> Since() const;

private:
    const vCError* m_mark;
};

// Releases every record but the newest. The library keeps its records for the life of the
// process by design; a fuzzer runs for millions of inputs, so it lets them go between inputs.
void TrimErrorChain();

} // namespace vfuzz
