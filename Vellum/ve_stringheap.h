// The block heap behind every vCString.
//
// Contract the strings rely on:
//  - Allocate(n): a block of at least n bytes, never null.
//  - Reallocate(p, n): a block of at least n bytes whose first min(old capacity, n) bytes equal
//    those of p; either p itself or a new block, in which case p has been released.
//    Reallocate(nullptr, n) is Allocate(n).
//  - Free(p): releases p; Free(nullptr) does nothing.
// None of them reports a failure.
//
// Blocks of up to 256 bytes come from six size classes (8 to 256 bytes) kept in 4096-byte pages,
// larger ones from the general heap behind an 8-byte header and a handle-table slot. The heap is
// set up before main; its state and layout are in ve_stringheap_state.h and
// ve_stringheap_layout.h.
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
