// The block heap behind every vCString.
//
// Contract the strings rely on:
//  - Allocate(n): a block of at least n bytes, never null.
//  - Reallocate(p, n): a block of at least n bytes whose first min(old capacity, n) bytes equal
//    those of p; either p itself or a new block, in which case p has been released.
//    Reallocate(nullptr, n) is Allocate(n).
//  - Free(p): releases p; Free(nullptr) does nothing.
// None of them reports a failure.
#pragma once

#include <cstdint>

class vCStringHeap
{
public:
    static void Initialize();
    static void* Allocate(uint32_t size);
    static void* Reallocate(void* block, uint32_t size);
    static void Free(void* block);
};
