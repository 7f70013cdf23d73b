#include "ve_string.h"

#include "ve_stringheap.h"

#include <cstring>
#include <utility>

namespace {

constexpr unsigned char kLongFormMarker = 255;
constexpr uint32_t kShortHeaderBytes = 1;
constexpr uint32_t kLongHeaderBytes = 5;

inline bool IsLongForm(uint32_t length) { return length >= kLongFormMarker; }
inline uint32_t HeaderBytesFor(uint32_t length) { return IsLongForm(length) ? kLongHeaderBytes : kShortHeaderBytes; }
// Header, characters and the terminating NUL: "abc" -> 5, 255 characters -> 261.
inline uint32_t BlockSizeFor(uint32_t length) { return HeaderBytesFor(length) + length + 1; }

inline uint32_t ReadLength(const unsigned char* block)
{
    if (block[0] != kLongFormMarker)
        return block[0];
    return uint32_t(block[1]) | uint32_t(block[2]) << 8 | uint32_t(block[3]) << 16 | uint32_t(block[4]) << 24;
}

// Writes the header and the terminating NUL for `length`; the characters are not touched.
inline void WriteHeader(unsigned char* block, uint32_t length)
{
    if (IsLongForm(length))
    {
        block[0] = kLongFormMarker;
        block[1] = static_cast<unsigned char>(length);
        block[2] = static_cast<unsigned char>(length >> 8);
        block[3] = static_cast<unsigned char>(length >> 16);
        block[4] = static_cast<unsigned char>(length >> 24);
    }
    else
    {
        block[0] = static_cast<unsigned char>(length);
    }
    block[HeaderBytesFor(length) + length] = 0;
}

inline uint32_t MeasuredLength(const char* text, uint32_t length)
{
    if (length != 0 || text == nullptr)
        return length;
    return static_cast<uint32_t>(std::strlen(text));
}

} // namespace

vCString::vCString() : m_block(nullptr) { WriteBlock(0, nullptr); }

vCString::vCString(const char* text) : m_block(nullptr)
{
    WriteBlock(MeasuredLength(text, 0), text);
}

vCString::vCString(Uninitialised, uint32_t length) : m_block(nullptr) { WriteBlock(length, nullptr); }

vCString::vCString(const vCString& other) : m_block(nullptr)
{
    WriteBlock(other.GetLength(), other.GetText());
}

// A live string always owns a block, so the moved-from string gets a fresh empty one.
vCString::vCString(vCString&& other) noexcept : m_block(other.m_block)
{
    other.m_block = nullptr;
    other.WriteBlock(0, nullptr);
}

vCString::~vCString() { vCStringHeap::Free(m_block); }

vCString& vCString::operator=(vCString&& other) noexcept
{
    std::swap(m_block, other.m_block);
    return *this;
}

void vCString::WriteBlock(uint32_t length, const char* text)
{
    m_block = static_cast<unsigned char*>(vCStringHeap::Reallocate(m_block, BlockSizeFor(length)));
    WriteHeader(m_block, length);
    if (text != nullptr && length != 0)
        std::memcpy(m_block + HeaderBytesFor(length), text, length);
}

vCString& vCString::Assign(const vCString& source)
{
    if (&source != this)
        AssignBuffer(source.GetText(), source.GetLength());
    return *this;
}

void vCString::AssignText(const char* text) { WriteBlock(MeasuredLength(text, 0), text); }

vCString& vCString::AssignBuffer(const char* text, uint32_t length)
{
    WriteBlock(MeasuredLength(text, length), text);
    return *this;
}

vCString& vCString::Append(const vCString& source)
{
    if (&source == this)
    {
        const vCString copy(source);
        return Append(copy);
    }
    const uint32_t lengthA = GetLength();
    const uint32_t lengthB = source.GetLength();
    const uint32_t length = lengthA + lengthB;
    // Our own characters are read from the reallocated block, never from a released one.
    m_block = static_cast<unsigned char*>(vCStringHeap::Reallocate(m_block, BlockSizeFor(length)));
    if (!IsLongForm(lengthA) && IsLongForm(length))
        std::memmove(m_block + kLongHeaderBytes, m_block + kShortHeaderBytes, lengthA);
    WriteHeader(m_block, length);
    if (lengthB != 0)
        std::memcpy(m_block + HeaderBytesFor(length) + lengthA, source.GetText(), lengthB);
    return *this;
}

vCString& vCString::RemoveFromEnd(uint32_t count)
{
    const uint32_t length = GetLength();
    const uint32_t kept = length - (count < length ? count : length);
    // A shrinking move copies only the new block size, so the characters go to byte 1 first.
    if (IsLongForm(length) && !IsLongForm(kept))
        std::memmove(m_block + kShortHeaderBytes, m_block + kLongHeaderBytes, kept);
    m_block = static_cast<unsigned char*>(vCStringHeap::Reallocate(m_block, BlockSizeFor(kept)));
    WriteHeader(m_block, kept);
    return *this;
}

uint32_t vCString::GetLength() const { return ReadLength(m_block); }

const char* vCString::GetText() const
{
    return reinterpret_cast<const char*>(m_block + (m_block[0] == kLongFormMarker ? kLongHeaderBytes : kShortHeaderBytes));
}

char* vCString::GetText() { return const_cast<char*>(static_cast<const vCString*>(this)->GetText()); }

vCString vCString::Concat(const char* a, uint32_t lengthA, const char* b, uint32_t lengthB)
{
    lengthA = MeasuredLength(a, lengthA);
    lengthB = MeasuredLength(b, lengthB);
    vCString result(Uninitialised{}, lengthA + lengthB);
    char* text = result.GetText();
    if (lengthA != 0)
        std::memcpy(text, a, lengthA);
    if (lengthB != 0)
        std::memcpy(text + lengthA, b, lengthB);
    return result;
}

vCString Concat(const vCString& a, const vCString& b)
{
    return vCString::Concat(a.GetText(), a.GetLength(), b.GetText(), b.GetLength());
}

vCString Concat(const vCString& a, const char* b) { return vCString::Concat(a.GetText(), a.GetLength(), b, 0); }

vCString Concat(const char* a, const vCString& b)
{
    return vCString::Concat(a, a ? static_cast<uint32_t>(std::strlen(a)) : 0, b.GetText(), b.GetLength());
}
