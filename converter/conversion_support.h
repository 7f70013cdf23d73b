// Steps that both conversions share: messages that quote a path, the payload buffer, and
// writing the output file so that a failed write leaves nothing behind.
#pragma once

#include "ve_filestream.h"
#include "ve_string.h"

#include <cstdint>

// prefix + path + suffix, one Concat per plus sign.
vCString QuotePath(const char* prefix, const vCString& path, const char* suffix);

// The messages that name the input or the output file.
vCString CannotOpenOutputMessage(const vCString& outputPath);
vCString CannotWriteMessage(const vCString& outputPath);
vCString CannotReadMessage(const vCString& inputPath);
vCString OutOfMemoryMessage(const vCString& inputPath);
vCString SameFileMessage(const vCString& outputPath);

// A zero-filled block from the general heap whose allocation may fail. Empty until Allocate; a
// size of 0 allocates nothing.
class vCPayloadBuffer
{
public:
    vCPayloadBuffer() = default;
    ~vCPayloadBuffer();
    vCPayloadBuffer(const vCPayloadBuffer&) = delete;
    vCPayloadBuffer& operator=(const vCPayloadBuffer&) = delete;

    // False when the memory cannot be had; the buffer stays empty then.
    bool Allocate(uint32_t size);
    unsigned char* Get() const { return m_data; }
    uint32_t Size() const { return m_size; }

private:
    unsigned char* m_data = nullptr;
    uint32_t m_size = 0;
};

// Takes what the output needs from the input before the output is touched: refuses an output
// path that names the input file itself, then allocates the payload buffer and fills it with
// `length` bytes from `offset` of the input with one Read. Returns the empty string, or the
// message for the user.
vCString TakePayload(vCFileStream& input, const vCString& outputPath, uint32_t offset, uint32_t length,
                     vCPayloadBuffer& payload);

// Opens the output for writing, lets `fill` write into it and closes it. Returns the empty
// string on success, the open-failure message when it cannot be opened, and the write-failure
// message, after removing the incomplete file, when `fill` or the closing reports bytes that
// did not reach the file.
template <typename Fill>
vCString WriteOutputFile(const vCString& outputPath, Fill fill);

bool RemoveIncompleteOutput(const vCString& outputPath);

template <typename Fill>
vCString WriteOutputFile(const vCString& outputPath, Fill fill)
{
    vCFileStream output;
    if (!output.Open(outputPath, vEOpenMode_Write))
        return CannotOpenOutputMessage(outputPath);
    bool written = fill(static_cast<vCOutputStream&>(output));
    written = output.Close() && written;
    if (written)
        return vCString();
    RemoveIncompleteOutput(outputPath);
    return CannotWriteMessage(outputPath);
}
