// Stream interfaces. vTIOStream derives from both vTIStream and vTOStream without virtual
// inheritance, so it carries two byte-swap flags: the input flag (vTIStream part) and the output
// flag (vTOStream part). No stream transforms bytes; whoever reads or writes a multi-byte integer
// goes through ReadInteger/WriteInteger below, the only code that consults the flag.
//
// The virtual operations are declared in their fixed slot order; do not reorder them.
#pragma once

#include "ve_string.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

enum vESeekMode : uint32_t
{
    vESeekMode_Begin = 0,
    vESeekMode_Current = 1,
    vESeekMode_End = 2,
};

enum vEOpenMode : uint32_t
{
    vEOpenMode_Read = 1,      // bit 0: readable
    vEOpenMode_Write = 2,     // bit 1: writable
    vEOpenMode_ReadWrite = 3,
};

class vCEndiannessHandler
{
public:
    virtual ~vCEndiannessHandler() = default;
    virtual void SetSwapEndianness(bool swap) { m_swapEndianness = swap; }
    bool GetSwapEndianness() const { return m_swapEndianness; }

    bool m_swapEndianness = false;
};

template <int N>
class vTIStream : public vCEndiannessHandler
{
public:
    virtual bool ReadString(vCString& s) = 0;
    virtual bool ReadString(vCString& s, uint32_t length) = 0;
    virtual bool Read(void* destination, uint32_t n) = 0;
    virtual bool ReservedInput(uint32_t, uint32_t) = 0;
    virtual uint32_t GetSize() = 0;
    virtual bool Seek(int32_t offset, vESeekMode origin) = 0;
    virtual bool Skip(int32_t n) { return Seek(static_cast<int32_t>(Tell() + static_cast<uint32_t>(n)), vESeekMode_Begin); }
    virtual uint32_t Tell() = 0;
};

template <int N>
class vTOStream : public vCEndiannessHandler
{
public:
    virtual bool WriteString(const vCString& s) = 0;
    virtual bool Write(const void* source, uint32_t n) = 0;
    virtual bool ReservedOutput(uint32_t, uint32_t) = 0;
};

template <int N>
class vTIOStream : public vTIStream<N>, public vTOStream<N>
{
public:
    ~vTIOStream() override = default;
    // Whichever interface it is called through, both flags follow.
    void SetSwapEndianness(bool swap) override
    {
        static_cast<vTIStream<N>&>(*this).m_swapEndianness = swap;
        static_cast<vTOStream<N>&>(*this).m_swapEndianness = swap;
    }
};

using vCInputStream = vTIStream<0>;
using vCOutputStream = vTOStream<0>;

template <typename T>
inline T vSwapBytes(T value)
{
    static_assert(std::is_unsigned<T>::value, "byte swapping is defined on unsigned integers");
    T swapped = 0;
    for (unsigned i = 0; i < sizeof(T); ++i)
    {
        swapped = static_cast<T>((swapped << 8) | (value & 0xFF));
        value = static_cast<T>(value >> 8);
    }
    return swapped;
}

// Reads an integer as it lies in the file (little-endian on every target), reversed when the
// interface's flag asks for it. `value` is left unchanged when the read fails.
template <typename T>
inline bool ReadInteger(vCInputStream& stream, T& value)
{
    unsigned char bytes[sizeof(T)];
    if (!stream.Read(bytes, sizeof(T)))
        return false;
    T read = 0;
    for (unsigned i = 0; i < sizeof(T); ++i)
        read = static_cast<T>(read | static_cast<T>(static_cast<T>(bytes[i]) << (8 * i)));
    value = stream.GetSwapEndianness() ? vSwapBytes(read) : read;
    return true;
}

template <typename T>
inline bool WriteInteger(vCOutputStream& stream, T value)
{
    if (stream.GetSwapEndianness())
        value = vSwapBytes(value);
    unsigned char bytes[sizeof(T)];
    for (unsigned i = 0; i < sizeof(T); ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    return stream.Write(bytes, sizeof(T));
}
