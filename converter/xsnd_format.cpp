#include "xsnd_format.h"

#include "ve_platform.h"

namespace xsnd {

namespace {

const char kPayloadTag[] = "GAR3\0\0\0\0";
static_assert(sizeof(kPayloadTag) - 1 == kPayloadTagSize, "the payload tag is 8 bytes");

ClockFunction g_clock = &vPlatformNow;

uint64_t ValueOf(const Field& field, const LayoutValues& values)
{
    switch (field.source)
    {
    case FieldSource::DataBlockLength:
        return uint64_t(values.payloadSize) + kPayloadTagSize;
    case FieldSource::Timestamp:
        return values.timestamp;
    case FieldSource::Duration:
        return values.duration;
    case FieldSource::Constant:
    case FieldSource::Text:
        break;
    }
    return field.constant;
}

bool WriteField(vCOutputStream& output, const Field& field, uint64_t value)
{
    if (field.source == FieldSource::Text)
        return output.Write(field.text, field.size);
    switch (field.size)
    {
    case 1:
        return WriteInteger<uint8_t>(output, static_cast<uint8_t>(value));
    case 2:
        return WriteInteger<uint16_t>(output, static_cast<uint16_t>(value));
    case 4:
        return WriteInteger<uint32_t>(output, static_cast<uint32_t>(value));
    default:
        return WriteInteger<uint64_t>(output, value);
    }
}

} // namespace

bool WriteLayout(vCOutputStream& output, const LayoutValues& values)
{
    bool written = true;
    for (const Field& field : kLayoutFields)
        written = WriteField(output, field, ValueOf(field, values)) && written;
    return written;
}

bool WritePayloadTag(vCOutputStream& output) { return output.Write(kPayloadTag, kPayloadTagSize); }

uint64_t EncodeTimestamp(int64_t secondsSince1970)
{
    // Unsigned arithmetic wraps where signed would be undefined; the bits are the same.
    return (static_cast<uint64_t>(secondsSince1970) + static_cast<uint64_t>(kFiletimeEpochOffsetSeconds)) *
           kFiletimeTicksPerSecond;
}

int64_t ReadClock() { return g_clock(); }

ClockFunction SetClock(ClockFunction clock)
{
    const ClockFunction previous = g_clock;
    g_clock = clock != nullptr ? clock : &vPlatformNow;
    return previous;
}

bool ReadContentTag(vCInputStream& input, uint32_t& tag)
{
    return input.Seek(static_cast<int32_t>(kContentTagOffset), vESeekMode_Begin) && ReadInteger(input, tag);
}

bool ReadDataBlock(vCInputStream& input, DataBlock& block)
{
    return input.Seek(static_cast<int32_t>(kDataBlockOffsetField), vESeekMode_Begin) &&
           ReadInteger(input, block.offset) && ReadInteger(input, block.length);
}

bool LocatePayload(const DataBlock& block, uint32_t fileSize, uint32_t& payloadOffset, uint32_t& payloadLength)
{
    if (fileSize < kReaderHeaderSize || block.length < kPayloadTagSize)
        return false;
    const uint64_t start = uint64_t(block.offset) + kHeaderOffsetBase + kPayloadTagSize;
    const uint64_t length = block.length - kPayloadTagSize;
    if (start + length > fileSize)
        return false;
    payloadOffset = static_cast<uint32_t>(start);
    payloadLength = static_cast<uint32_t>(length);
    return true;
}

} // namespace xsnd
