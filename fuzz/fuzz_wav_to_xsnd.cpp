// ConvertWavToXsnd on arbitrary bytes. The input file is driven as the tool drives it (opened
// for reading, its first four bytes read) and the outcome is checked against a model of the chunk
// walk written here from the rules, not taken from the converter:
//  - the input file is never changed;
//  - a refusal returns its sentence and creates no output;
//  - a success writes exactly 139 + n bytes: the fixed layout, the data block length n + 8, a
//    timestamp of the moment of writing, the play time the walk gives, the payload tag, and the
//    input unchanged as the payload.
// One input in sixteen (by its length) is named like its own output, which must be refused
// without touching it.
#include "fuzz_support.h"
#include "conversions.h"
#include "ve_filestream.h"
#include "ve_string.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>

namespace {

uint32_t U32At(const std::string& bytes, uint64_t offset)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

uint64_t U64At(const std::string& bytes, uint64_t offset)
{
    return uint64_t(U32At(bytes, offset + 4)) << 32 | U32At(bytes, offset);
}

enum class Walk
{
    Found,
    NoDataChunk,
    NoByteRate,
};

// The chunk walk from offset 12: a chunk header that does not lie wholly inside the file ends it
// without a "data" chunk; a "fmt " chunk too short to hold its byte rate at offset 8 counts as no
// "fmt " chunk; a "data" chunk before any byte rate, or a byte rate of 0, gives no play time. The
// play time counts the data bytes actually present.
Walk ModelWalk(const std::string& file, uint32_t& duration)
{
    const uint64_t size = file.size();
    uint64_t offset = 12;
    bool haveRate = false;
    uint32_t rate = 0;
    for (;;)
    {
        if (offset + 8 > size)
            return Walk::NoDataChunk;
        const std::string id = file.substr(offset, 4);
        const uint32_t chunkSize = U32At(file, offset + 4);
        const uint64_t dataStart = offset + 8;
        offset = dataStart + chunkSize + (chunkSize & 1);
        if (id == "fmt ")
        {
            if (dataStart + 12 <= size)
            {
                rate = U32At(file, dataStart + 8);
                haveRate = true;
            }
        }
        else if (id == "data")
        {
            if (!haveRate || rate == 0)
                return Walk::NoByteRate;
            const uint64_t present = std::min<uint64_t>(chunkSize, size - dataStart);
            duration = static_cast<uint32_t>(present * 1000 / rate);
            return Walk::Found;
        }
    }
}

// Offsets 0 to 138 as the layout fixes them, with zeros where the values vary (the data block
// length at 28, the timestamp at 32, the play time at 84).
const unsigned char kLayout[139] = {
    0x47, 0x41, 0x52, 0x33, 0x00, 0x00, 0x00, 0x00, 0x47, 0x52, 0x30, 0x31, 0x53, 0x4E, 0x30, 0x38, // 0
    0x28, 0x00, 0x00, 0x00, 0x53, 0x00, 0x00, 0x00, 0x7B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // 16
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2E, 0x77, 0x61, 0x76, 0x00, 0x00, 0x00, 0x00, // 32
    0x47, 0x45, 0x43, 0x30, 0x06, 0xCA, 0xE0, 0x88, 0x01, 0x00, 0x23, 0x00, 0x00, 0x00, 0x1E, 0x00, // 48
    0x00, 0x00, 0x1F, 0x00, 0x00, 0x00, 0x02, 0x00, 0xCD, 0x93, 0x3C, 0xB2, 0xEB, 0x63, 0x96, 0x7C, // 64
    0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xA7, 0xCB, 0xF9, 0xB2, 0x96, 0x2E, 0x0D, // 80
    0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xCA, 0xE0, 0x88, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xDD, // 96
    0x29, 0xF9, 0x7B, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x72, 0xA0, 0xAD, 0x84, 0x01, 0x00, 0x00, // 112
    0x00, 0x00, 0x00, 0x47, 0x41, 0x52, 0x33, 0x00, 0x00, 0x00, 0x00,                               // 128
};

bool IsVarying(uint32_t offset)
{
    return (offset >= 28 && offset < 40) || (offset >= 84 && offset < 88);
}

std::string Quote(const char* prefix, const std::string& path, const char* suffix)
{
    return prefix + path + suffix;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string content(reinterpret_cast<const char*>(data), size);
    const bool sameName = size % 16 == 15;
    const std::string inputPath = vfuzz::ScratchFile(sameName ? "same._xsnd" : "in.wav");
    const std::string outputPath = vfuzz::ScratchFile(sameName ? "same._xsnd" : "in._xsnd");
    vfuzz::RemoveFile(vfuzz::ScratchFile("in._xsnd"));
    vfuzz::WriteWholeFile(inputPath, content);

    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    vCString result;
    {
        vCFileStream input;
        VFUZZ_CHECK(input.Open(vCString(inputPath.c_str()), vEOpenMode_Read));
        unsigned char magic[4];
        input.Read(magic, 4); // as the driver does; fails for a file of fewer than four bytes
        result = ConvertWavToXsnd(input);
        input.Close();
    }
    const int64_t after = static_cast<int64_t>(std::time(nullptr));
    const std::string message(result.GetText(), result.GetLength());

    VFUZZ_CHECK(vfuzz::ReadWholeFile(inputPath) == content);

    uint32_t duration = 0;
    const Walk walk = ModelWalk(content, duration);
    std::string expected;
    if (walk == Walk::NoDataChunk)
        expected = Quote("The .wav file \"", inputPath, "\" is damaged: no \"data\" chunk lies within the file.");
    else if (walk == Walk::NoByteRate)
        expected = Quote("The .wav file \"", inputPath,
                         "\" is damaged: no \"fmt \" chunk with a byte rate comes before its \"data\" chunk.");
    else if (sameName)
        expected = Quote("The output file \"", outputPath, "\" would replace the input file itself.");
    if (!expected.empty())
    {
        vfuzz::CheckRefusal(message, expected, outputPath, sameName);
        vfuzz::TrimErrorChain();
        return 0;
    }

    if (!message.empty())
        vfuzz::Fail(__FILE__, __LINE__, "refused a file the walk accepts: " + message);
    bool exists = false;
    const std::string output = vfuzz::ReadWholeFile(outputPath, &exists);
    VFUZZ_CHECK(exists);
    VFUZZ_CHECK_EQ(output.size(), size + 139);
    for (uint32_t i = 0; i < 139; ++i)
        if (!IsVarying(i) && static_cast<unsigned char>(output[i]) != kLayout[i])
            vfuzz::Fail(__FILE__, __LINE__, "layout byte " + std::to_string(i) + " differs");
    VFUZZ_CHECK_EQ(U32At(output, 28), static_cast<uint32_t>(size + 8));
    VFUZZ_CHECK_EQ(U32At(output, 84), duration);
    const uint64_t timestamp = U64At(output, 32);
    const uint64_t ticks = 10000000;
    VFUZZ_CHECK(timestamp % ticks == 0);
    const int64_t seconds = static_cast<int64_t>(timestamp / ticks) - 11644473600;
    VFUZZ_CHECK(seconds >= before && seconds <= after);
    VFUZZ_CHECK(output.compare(139, std::string::npos, content) == 0);
    vfuzz::TrimErrorChain();
    return 0;
}
