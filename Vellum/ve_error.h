// Error records and the process-wide error chain.
//
// Every failing library operation returns false and pushes one record; records are never
// removed, so the chain is a log of every failure, newest first. Callers act only on the
// boolean results; tests read the chain through GetErrorChainHead().
#pragma once

#include <cstdint>

enum vEErrorCode : int32_t
{
    vEErrorCode_CannotOpen = 2,   // a file cannot be opened
    vEErrorCode_NotOpen = 3,      // the stream is not open, or not open for this kind of operation
    vEErrorCode_SizeExceeded = 5, // a read or a seek would pass the end of the stream
    vEErrorCode_WriteFailed = 6,  // bytes did not all reach the file (write, flush or close failed)
    vEErrorCode_FileTooLarge = 7, // the file is 4 GiB or larger and cannot be addressed
    vEErrorCode_ReadFailed = 8,   // the file delivered fewer bytes than it was known to hold
};

class vCError
{
public:
    vCError() = default;
    vCError(const vCError&) = delete;
    vCError& operator=(const vCError&) = delete;
    virtual ~vCError();

    int32_t code = 0;
    char* message = nullptr;    // owned copy
    char* sourceFile = nullptr; // owned copy
    int32_t line = 0;
    vCError* next = nullptr; // the record pushed before this one
};

class vCStreamError : public vCError
{
};

// Copies both texts, so the caller may release its own at once.
void PushStreamError(int32_t code, const char* message, const char* sourceFile, int32_t line);

// The most recently pushed record, or null when nothing has failed yet.
const vCError* GetErrorChainHead();
