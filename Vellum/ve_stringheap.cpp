#include "ve_stringheap.h"

#include <cstdlib>
#include <new>

// Stand-in on the general heap until the pooled heap takes over these bodies.

void vCStringHeap::Initialize() {}

void* vCStringHeap::Allocate(uint32_t size)
{
    void* block = std::malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    return block;
}

void* vCStringHeap::Reallocate(void* block, uint32_t size)
{
    void* moved = std::realloc(block, size ? size : 1);
    if (!moved)
        throw std::bad_alloc();
    return moved;
}

void vCStringHeap::Free(void* block)
{
    std::free(block);
}
