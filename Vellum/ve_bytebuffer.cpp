#include "ve_bytebuffer.h"

#include <cstdlib>
#include <cstring>

vCByteBuffer::~vCByteBuffer()
{
    if (m_data != nullptr)
        std::memset(m_data, 0, m_size);
    std::free(m_data);
    m_data = nullptr;
    m_size = 0;
    m_capacity = 0;
}

void vCByteBuffer::Reserve(uint32_t need)
{
    if (need <= m_capacity)
        return;
    const uint64_t grown = static_cast<uint64_t>(m_capacity) * 3 / 2;
    const uint32_t capacity = grown > need ? static_cast<uint32_t>(grown) : need;
    // One byte more than the capacity, so data[size] is a NUL even when the buffer is full.
    void* block = std::realloc(m_data, static_cast<size_t>(capacity) + 1);
    if (block == nullptr)
        std::abort(); // the window cannot exist without its block; nothing sensible is left to do
    m_data = static_cast<unsigned char*>(block);
    m_capacity = capacity;
    std::memset(m_data + m_size, 0, static_cast<size_t>(m_capacity) + 1 - m_size);
}

void vCByteBuffer::Resize(uint32_t n)
{
    if (n < m_size)
    {
        std::memset(m_data + n, 0, m_size - n);
    }
    else if (n > m_size)
    {
        Reserve(n);
        std::memset(m_data + m_size, 0, n - m_size);
    }
    m_size = n;
}

void vCByteBuffer::WriteAt(uint32_t offset, const void* source, uint32_t length)
{
    if (static_cast<uint64_t>(offset) + length > m_size)
        Resize(offset + length);
    if (length != 0)
        std::memcpy(m_data + offset, source, length);
}

void vCByteBuffer::Clear()
{
    if (m_data != nullptr)
        std::memset(m_data, 0, m_size);
    m_size = 0;
}
