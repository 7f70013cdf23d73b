// The sound resource file (._xsnd): the one description of its layout in the code.
//
//   offset   0  file header      48 bytes  tags, the two block locations, timestamp, ".wav"
//   offset  48  property block   83 bytes  fixed identifiers; the play time at offset 84
//   offset 131  payload tag       8 bytes  "GAR3" and four zero bytes
//   offset 139  payload           n bytes  the whole WAVE file, unchanged
//
// Block offsets in the header count from byte 8, the first byte after the file tag. Every
// integer is little-endian as written through WriteInteger (which honours the byte-swap flag).
#pragma once

#include "ve_stream.h"

#include <cstddef>
#include <cstdint>

namespace xsnd {

constexpr uint32_t kHeaderOffsetBase = 8; // block offsets in the header count from here
constexpr uint32_t kFileHeaderSize = 48;
constexpr uint32_t kPropertyBlockOffset = kFileHeaderSize;
constexpr uint32_t kPropertyBlockSize = 83;
constexpr uint32_t kDataBlockOffset = kPropertyBlockOffset + kPropertyBlockSize; // 131
constexpr uint32_t kPayloadTagSize = 8;
constexpr uint32_t kLayoutSize = kDataBlockOffset + kPayloadTagSize; // 139, the bytes before the payload

// A payload must leave the whole file, n + 139 bytes, addressable with 32-bit sizes.
constexpr uint32_t kMaxPayloadSize = UINT32_MAX - kLayoutSize;

// What the reader relies on: the tag at 12 and the data block's location at 24 and 28.
constexpr uint32_t kContentTagOffset = 12;
constexpr uint32_t kContentTag = 0x38304E53; // "SN08" read as a little-endian 32-bit value
constexpr uint32_t kDataBlockOffsetField = 24;
constexpr uint32_t kDataBlockLengthField = 28;
constexpr uint32_t kReaderHeaderSize = 32; // the reader needs every byte before this offset

constexpr uint32_t kDurationField = 84;
constexpr uint32_t kTimestampField = 32;

// Seconds from 1601-01-01 to 1970-01-01, and 100-nanosecond intervals per second: the
// timestamp is a Windows FILETIME count.
constexpr int64_t kFiletimeEpochOffsetSeconds = 11644473600;
constexpr uint64_t kFiletimeTicksPerSecond = 10000000;

// Where a field's value comes from.
enum class FieldSource : uint8_t
{
    Text,            // fixed bytes, exactly `size` of them (zero padding included)
    Constant,        // a fixed integer
    DataBlockLength, // payload size + 8: the payload tag and the payload
    Timestamp,       // the time of writing
    Duration,        // the play time in milliseconds
};

struct Field
{
    uint32_t offset;
    uint32_t size; // integers: 1, 2, 4 or 8 bytes
    FieldSource source;
    const char* text;  // FieldSource::Text only
    uint64_t constant; // FieldSource::Constant only
};

template <size_t N>
constexpr Field TextField(uint32_t offset, const char (&text)[N])
{
    return Field{offset, static_cast<uint32_t>(N - 1), FieldSource::Text, text, 0};
}
constexpr Field IntegerField(uint32_t offset, uint32_t size, uint64_t value)
{
    return Field{offset, size, FieldSource::Constant, nullptr, value};
}
constexpr Field VariableField(uint32_t offset, uint32_t size, FieldSource source)
{
    return Field{offset, size, source, nullptr, 0};
}

// Offsets 66 to 100: the entry count and two entries; the counts at 58 and 66 describe them.
constexpr uint32_t kEntriesCountField = 66;
constexpr uint32_t kEntriesStart = 70;
constexpr uint32_t kEntriesEnd = 101;

// The file header and the property block, in offset order; one Write each.
inline constexpr Field kLayoutFields[] = {
    // file header
    TextField(0, "GAR3\0\0\0\0"),
    TextField(8, "GR01"),
    TextField(kContentTagOffset, "SN08"),
    IntegerField(16, 4, kPropertyBlockOffset - kHeaderOffsetBase), // 40
    IntegerField(20, 4, kPropertyBlockSize),                       // 83
    IntegerField(kDataBlockOffsetField, 4, kDataBlockOffset - kHeaderOffsetBase), // 123
    VariableField(kDataBlockLengthField, 4, FieldSource::DataBlockLength),
    VariableField(kTimestampField, 8, FieldSource::Timestamp),
    TextField(40, ".wav\0\0\0\0"),
    // property block
    TextField(48, "GEC0"),
    IntegerField(52, 4, 0x88E0CA06),
    IntegerField(56, 2, 1),
    IntegerField(58, 4, kEntriesEnd - kEntriesCountField), // 35
    IntegerField(62, 4, 30),
    IntegerField(kEntriesCountField, 4, kEntriesEnd - kEntriesStart), // 31
    IntegerField(kEntriesStart, 2, 2),                                // two entries follow
    IntegerField(72, 4, 0xB23C93CD), // entry 1: the play time
    IntegerField(76, 4, 0x7C9663EB),
    IntegerField(80, 4, 4),
    VariableField(kDurationField, 4, FieldSource::Duration),
    IntegerField(88, 4, 0xF9CBA7A0), // entry 2: one zero byte
    IntegerField(92, 4, 0x0D2E96B2),
    IntegerField(96, 4, 1),
    IntegerField(100, 1, 0),
    IntegerField(kEntriesEnd, 4, 0x88E0CA06), // three groups: identifier, 1, 0
    IntegerField(105, 4, 1),
    IntegerField(109, 2, 0),
    IntegerField(111, 4, 0x7BF929DD),
    IntegerField(115, 4, 1),
    IntegerField(119, 2, 0),
    IntegerField(121, 4, 0x84ADA072),
    IntegerField(125, 4, 1),
    IntegerField(129, 2, 0),
};

constexpr size_t kLayoutFieldCount = sizeof(kLayoutFields) / sizeof(kLayoutFields[0]);

constexpr bool FieldsAreBackToBack()
{
    uint32_t next = 0;
    for (const Field& field : kLayoutFields)
    {
        if (field.offset != next)
            return false;
        next = field.offset + field.size;
    }
    return next == kDataBlockOffset;
}

constexpr bool IntegerSizesAreValid()
{
    for (const Field& field : kLayoutFields)
    {
        if (field.source != FieldSource::Text && field.size != 1 && field.size != 2 && field.size != 4 &&
            field.size != 8)
            return false;
    }
    return true;
}

constexpr const Field& FieldAt(uint32_t offset)
{
    size_t i = 0;
    while (kLayoutFields[i].offset != offset)
        ++i;
    return kLayoutFields[i];
}

static_assert(kLayoutFieldCount == 33, "the header and the property block are 33 fields");
static_assert(FieldsAreBackToBack(), "fields cover offsets 0 to 130 with no gap or overlap");
static_assert(IntegerSizesAreValid(), "integer fields are 8, 16, 32 or 64 bits wide");
static_assert(kLayoutSize == 139, "139 bytes precede the payload");
static_assert(FieldAt(kPropertyBlockOffset).offset == 48 && FieldAt(kDataBlockOffset - 2).size == 2,
              "the property block runs from 48 to 130");
static_assert(FieldAt(kDataBlockLengthField).source == FieldSource::DataBlockLength &&
                  FieldAt(kDataBlockLengthField).size == 4,
              "the data block length is the 32-bit value at 28");
static_assert(FieldAt(kTimestampField).source == FieldSource::Timestamp && FieldAt(kTimestampField).size == 8,
              "the timestamp is the 64-bit value at 32");
static_assert(FieldAt(kDurationField).source == FieldSource::Duration && FieldAt(kDurationField).size == 4,
              "the play time is the 32-bit value at 84");
static_assert(FieldAt(kDataBlockOffsetField).constant + kHeaderOffsetBase == kDataBlockOffset,
              "the data block follows the property block directly");
static_assert(FieldAt(kContentTagOffset).size == 4 && FieldAt(kDataBlockOffsetField).size == 4 &&
                  kDataBlockLengthField + 4 == kReaderHeaderSize,
              "the reader's fields end at offset 32");

// The values of the fields that are not constants.
struct LayoutValues
{
    uint32_t payloadSize;
    uint64_t timestamp; // EncodeTimestamp of the clock
    uint32_t duration;  // milliseconds
};

// Writes offsets 0 to 130, one Write per field. False when any Write failed.
bool WriteLayout(vCOutputStream& output, const LayoutValues& values);

// Writes the 8-byte payload tag that precedes the payload. False when the Write failed.
bool WritePayloadTag(vCOutputStream& output);

// (seconds since 1970 + 11644473600) x 10000000, in 64-bit arithmetic.
uint64_t EncodeTimestamp(int64_t secondsSince1970);

// The clock the writer reads: the platform clock unless a test has put its own in.
using ClockFunction = int64_t (*)();
int64_t ReadClock();
// Replaces the clock; returns the one that was in place. For tests.
ClockFunction SetClock(ClockFunction clock);

// The reader's view of the data block, read from offsets 24 and 28.
struct DataBlock
{
    uint32_t offset; // counted from byte 8
    uint32_t length; // payload tag + payload
};

// Reads the content tag at offset 12; false (and `tag` left as it was) when it cannot be read.
bool ReadContentTag(vCInputStream& input, uint32_t& tag);

// Reads the data block fields at 24 and 28; false when the file ends first.
bool ReadDataBlock(vCInputStream& input, DataBlock& block);

// Where the payload lies in a file of `fileSize` bytes. False when the header does not
// describe the file truthfully: a data block length below 8, or a payload reaching past the end
// (offsets that wrap around 2^32 included).
bool LocatePayload(const DataBlock& block, uint32_t fileSize, uint32_t& payloadOffset, uint32_t& payloadLength);

} // namespace xsnd
