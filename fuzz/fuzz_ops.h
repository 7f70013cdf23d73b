// The operation codes of the fuzz targets that read their input as a sequence of operations.
// Shared by the targets and by the seed generator, so that seeds say what they mean.
// An input byte selects an operation by its value modulo the count.
#pragma once

#include <cstdint>

namespace vfuzz {

// fuzz_string: four string slots and their std::string models.
constexpr uint32_t kStringTextLimit = 70000; // past 65535, so the third length byte is used

enum StringOp : uint8_t
{
    kStringConstruct,        // slot, has-text, text: construction from a NUL-terminated text
    kStringAssignText,       // slot, has-text, text
    kStringAssignBuffer,     // slot, form (measured / explicit length / no text), text
    kStringAssignBufferOpen, // slot, length, seed: AssignBuffer without a text, then filled
    kStringAssign,           // destination slot, source slot
    kStringAppend,           // destination slot, source slot
    kStringRemoveFromEnd,    // slot, count
    kStringConcat,           // destination slot, form, source slot, text
    kStringCopyConstruct,    // destination slot, source slot
    kStringMoveConstruct,    // destination slot, source slot
    kStringMoveAssign,       // destination slot, source slot
    kStringOpCount
};

// fuzz_filestream: one stream, one file and its model.
constexpr uint32_t kStreamFileLimit = 40000;    // the file before the first operation
constexpr uint32_t kStreamLengthLimit = 24000;  // reads, writes, seeks: up to three windows of 8191
constexpr uint32_t kStreamContentLimit = 60000; // writes that would grow the file beyond stop here

enum StreamOp : uint8_t
{
    kStreamOpen,             // path choice, mode
    kStreamClose,            //
    kStreamRead,             // length
    kStreamReadString,       // NUL-terminated form
    kStreamReadStringLength, // length
    kStreamSeek,             // origin, offset
    kStreamSkip,             // offset
    kStreamWrite,            // length, seed (some seeds put NULs into the bytes)
    kStreamWriteString,      // length, seed
    kStreamShrinkFile,       // new length: another program truncates the file on disk
    kStreamOpCount
};

// fuzz_stringheap: an operation byte picks by its value modulo 4; its top bit turns Reallocate
// and Free into their null-block forms.
constexpr uint32_t kHeapSizeLimit = 20000;

enum HeapOp : uint8_t
{
    kHeapAllocate,   // size
    kHeapReallocate, // size, pick (a live block, by index modulo their count)
    kHeapFree,       // pick
    kHeapVerify,     // every live block still holds its bytes
    kHeapOpCount
};
constexpr uint8_t kHeapNullBlock = 0x80;

} // namespace vfuzz
