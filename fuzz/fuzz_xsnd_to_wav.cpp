// ConvertXsndToWav on arbitrary bytes, driven as the tool drives it, against the reader's rules:
//  - the input file is never changed;
//  - without "SN08" at offset 12 the result is "Invalid ._xsnd file" and nothing is created;
//  - a header whose data block (offset at 24 counted from byte 8, length at 28 including the
//    8-byte payload tag) does not lie inside the file is refused with its sentence, and nothing
//    is created;
//  - otherwise the output is exactly the payload: length - 8 bytes from offset + 16.
// One input in sixteen (by its length) is named like its own output, which must be refused.
#include "fuzz_support.h"
#include "conversions.h"
#include "ve_filestream.h"
#include "ve_string.h"

#include <string>

namespace {

uint32_t U32At(const std::string& bytes, uint64_t offset)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string content(reinterpret_cast<const char*>(data), size);
    const bool sameName = size % 16 == 15;
    const std::string inputPath = vfuzz::ScratchFile(sameName ? "same.wav" : "in._xsnd");
    const std::string outputPath = vfuzz::ScratchFile(sameName ? "same.wav" : "in.wav");
    vfuzz::RemoveFile(vfuzz::ScratchFile("in.wav"));
    vfuzz::WriteWholeFile(inputPath, content);

    vCString result;
    {
        vCFileStream input;
        VFUZZ_CHECK(input.Open(vCString(inputPath.c_str()), vEOpenMode_Read));
        unsigned char magic[4];
        input.Read(magic, 4); // as the driver does
        result = ConvertXsndToWav(input);
        input.Close();
    }
    const std::string message(result.GetText(), result.GetLength());

    VFUZZ_CHECK(vfuzz::ReadWholeFile(inputPath) == content);

    std::string expected;
    uint64_t payloadOffset = 0;
    uint64_t payloadLength = 0;
    if (size < 16 || content.compare(12, 4, "SN08") != 0)
    {
        expected = "Invalid ._xsnd file";
    }
    else
    {
        bool truthful = size >= 32;
        if (truthful)
        {
            const uint32_t blockLength = U32At(content, 28);
            payloadOffset = uint64_t(U32At(content, 24)) + 16;
            payloadLength = uint64_t(blockLength) - 8;
            truthful = blockLength >= 8 && payloadOffset + payloadLength <= size;
        }
        if (!truthful)
            expected = "The ._xsnd file \"" + inputPath + "\" is damaged: its header does not match the data it holds.";
        else if (sameName)
            expected = "The output file \"" + outputPath + "\" would replace the input file itself.";
    }
    if (!expected.empty())
    {
        vfuzz::CheckRefusal(message, expected, outputPath, sameName);
        vfuzz::TrimErrorChain();
        return 0;
    }

    if (!message.empty())
        vfuzz::Fail(__FILE__, __LINE__, "refused a file whose header is truthful: " + message);
    bool exists = false;
    const std::string output = vfuzz::ReadWholeFile(outputPath, &exists);
    VFUZZ_CHECK(exists);
    VFUZZ_CHECK_EQ(output.size(), payloadLength);
    VFUZZ_CHECK(output == content.substr(payloadOffset, payloadLength));
    vfuzz::TrimErrorChain();
    return 0;
}
