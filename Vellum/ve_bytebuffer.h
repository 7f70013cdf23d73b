// vCByteBuffer: a growable byte block that keeps every byte from `size` through the extra byte
// behind `capacity` zero, so data[size] is always a NUL and the bytes in use read as a text.
#pragma once

#include <cstdint>

class vCByteBuffer
{
public:
    vCByteBuffer() = default;
    ~vCByteBuffer();
    vCByteBuffer(const vCByteBuffer&) = delete;
    vCByteBuffer& operator=(const vCByteBuffer&) = delete;

    void Reserve(uint32_t need);
    void Resize(uint32_t n);
    void WriteAt(uint32_t offset, const void* source, uint32_t length);
    void Clear();

    unsigned char* GetData() const { return m_data; }
    uint32_t GetSize() const { return m_size; }
    uint32_t GetCapacity() const { return m_capacity; }

private:
    unsigned char* m_data = nullptr;
    uint32_t m_size = 0;
    uint32_t m_capacity = 0;
};
