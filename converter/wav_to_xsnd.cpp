// ConvertWavToXsnd: wraps a RIFF/WAVE file, unchanged, into a sound resource file beside it.
// From the WAVE file only two numbers are taken, the byte rate of its "fmt " chunk and the size
// of its "data" chunk, to work out the play time for the property block.
#include "conversion_support.h"
#include "conversions.h"
#include "xsnd_format.h"

#include "ve_stream.h"

#include <cstdint>

namespace {

constexpr uint32_t kRiffHeaderSize = 12; // "RIFF", the RIFF size, the form type
constexpr uint32_t kChunkHeaderSize = 8; // id, size
constexpr uint32_t kFmtByteRateOffset = 8; // past the format tag, the channel count and the sample rate
constexpr uint32_t kByteRateSize = 4;
constexpr uint32_t kChunkIdFmt = 0x20746D66;  // "fmt " read as a little-endian 32-bit value
constexpr uint32_t kChunkIdData = 0x61746164; // "data"
constexpr uint64_t kMillisecondsPerSecond = 1000;

const char* const kOutputExtension = "._xsnd";

enum class WalkResult
{
    Found,
    NoDataChunk, // the next chunk header would not lie wholly inside the file
    NoByteRate,  // "data" came before any readable "fmt " byte rate, or the rate is 0
    ReadFailed,
};

struct WaveFacts
{
    uint32_t byteRate = 0;
    uint32_t dataSize = 0;    // the "data" chunk's size field
    uint32_t dataPresent = 0; // the bytes that actually follow the "data" chunk's header
};

// Walks the chunks from offset 12 to the "data" chunk. Offsets are 64-bit and every chunk
// header must lie inside the file, so the walk moves forward by at least 8 bytes per chunk and
// ends within the file, whatever the size fields say.
WalkResult WalkChunks(vCInputStream& input, uint32_t inputSize, WaveFacts& facts)
{
    bool haveByteRate = false;
    uint64_t chunkOffset = kRiffHeaderSize;
    for (;;)
    {
        if (chunkOffset + kChunkHeaderSize > inputSize)
            return WalkResult::NoDataChunk;
        uint32_t id = 0;
        uint32_t size = 0;
        if (!input.Seek(static_cast<int32_t>(chunkOffset), vESeekMode_Begin) || !ReadInteger(input, id) ||
            !ReadInteger(input, size))
            return WalkResult::ReadFailed;
        const uint64_t dataStart = chunkOffset + kChunkHeaderSize;
        chunkOffset = dataStart + size + (size & 1); // an odd-sized chunk is followed by a pad byte

        if (id == kChunkIdFmt)
        {
            // The rate is read at offset 8 whatever the chunk's size says; a chunk cut off by
            // the end of the file before it counts as no "fmt " chunk at all.
            if (dataStart + kFmtByteRateOffset + kByteRateSize > inputSize)
                continue;
            if (!input.Skip(static_cast<int32_t>(kFmtByteRateOffset)) || !ReadInteger(input, facts.byteRate))
                return WalkResult::ReadFailed;
            haveByteRate = true;
        }
        else if (id == kChunkIdData)
        {
            if (!haveByteRate || facts.byteRate == 0)
                return WalkResult::NoByteRate;
            const uint64_t remaining = inputSize - dataStart;
            facts.dataSize = size;
            facts.dataPresent = static_cast<uint32_t>(size < remaining ? size : remaining);
            return WalkResult::Found;
        }
    }
}

// Play time in milliseconds: the product in 64 bits, the quotient rounded down, its low 32 bits.
uint32_t DurationMilliseconds(uint32_t dataBytes, uint32_t byteRate)
{
    return static_cast<uint32_t>(uint64_t(dataBytes) * kMillisecondsPerSecond / byteRate);
}

vCString RefusalFor(WalkResult result, const vCString& inputPath)
{
    switch (result)
    {
    case WalkResult::NoDataChunk:
        return QuotePath("The .wav file \"", inputPath, "\" is damaged: no \"data\" chunk lies within the file.");
    case WalkResult::NoByteRate:
        return QuotePath("The .wav file \"", inputPath,
                         "\" is damaged: no \"fmt \" chunk with a byte rate comes before its \"data\" chunk.");
    case WalkResult::ReadFailed:
    case WalkResult::Found:
        break;
    }
    return CannotReadMessage(inputPath);
}

} // namespace

vCString ConvertWavToXsnd(vCFileStream& input)
{
    const vCString& inputPath = input.GetFilePath();
    const uint32_t inputSize = input.GetSize();
    if (inputSize > xsnd::kMaxPayloadSize)
        return QuotePath("The file \"", inputPath, "\" is too large to be wrapped into a ._xsnd file.");

    WaveFacts facts;
    const WalkResult walk = WalkChunks(input, inputSize, facts);
    if (walk != WalkResult::Found)
        return RefusalFor(walk, inputPath);
    // A size field larger than the bytes present (a cut-off file, or 0xFFFFFFFF left by a
    // writer that streamed into a pipe) would claim hours of sound.
    const uint32_t duration = DurationMilliseconds(facts.dataPresent, facts.byteRate);

    const vCString outputPath = MakeOutputPath(inputPath, kOutputExtension);
    // The whole input is read before the output is opened: a file that cannot be read or held
    // leaves an existing output untouched.
    vCPayloadBuffer payload;
    const vCString refusal = TakePayload(input, outputPath, 0, inputSize, payload);
    if (refusal.GetLength() != 0)
        return refusal;

    return WriteOutputFile(outputPath, [&](vCOutputStream& output) {
        // The clock is read once the output is open.
        const xsnd::LayoutValues values{inputSize, xsnd::EncodeTimestamp(xsnd::ReadClock()), duration};
        bool written = xsnd::WriteLayout(output, values);
        written = xsnd::WritePayloadTag(output) && written;
        written = output.Write(payload.Get(), payload.Size()) && written;
        return written;
    });
}
