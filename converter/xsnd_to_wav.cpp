// ConvertXsndToWav: takes the WAVE file out of a sound resource file and writes it beside it.
// Only the content tag and the data block's location are read; everything else is passed over.
#include "conversion_support.h"
#include "conversions.h"
#include "xsnd_format.h"

#include <cstdint>

namespace {

const char* const kOutputExtension = ".wav";
const char* const kInvalidMessage = "Invalid ._xsnd file";

} // namespace

vCString ConvertXsndToWav(vCFileStream& input)
{
    uint32_t tag = 0;
    xsnd::ReadContentTag(input, tag);
    if (tag != xsnd::kContentTag)
        return vCString(kInvalidMessage);

    // The header is checked against the file before anything is created: a short file, a
    // payload past the end or a length below 8 would otherwise give an output that is not the
    // payload, or a buffer of nearly 4 GiB.
    const vCString& inputPath = input.GetFilePath();
    xsnd::DataBlock block{0, 0};
    uint32_t payloadOffset = 0;
    uint32_t payloadLength = 0;
    if (!xsnd::ReadDataBlock(input, block) || !xsnd::LocatePayload(block, input.GetSize(), payloadOffset, payloadLength))
        return QuotePath("The ._xsnd file \"", inputPath, "\" is damaged: its header does not match the data it holds.");

    const vCString outputPath = MakeOutputPath(inputPath, kOutputExtension);
    vCPayloadBuffer payload;
    const vCString refusal = TakePayload(input, outputPath, payloadOffset, payloadLength, payload);
    if (refusal.GetLength() != 0)
        return refusal;

    return WriteOutputFile(outputPath, [&](vCOutputStream& output) {
        return payload.Size() == 0 || output.Write(payload.Get(), payload.Size());
    });
}
