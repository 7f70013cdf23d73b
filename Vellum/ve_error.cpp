#include "ve_error.h"

#include <cstring>

namespace {

vCError* g_errorChainHead = nullptr;

char* CopyText(const char* text)
{
    const size_t length = std::strlen(text);
    char* copy = new char[length + 1];
    std::memcpy(copy, text, length + 1);
    return copy;
}

} // namespace

vCError::~vCError()
{
    delete[] message;
    delete[] sourceFile;
}

void PushStreamError(int32_t code, const char* message, const char* sourceFile, int32_t line)
{
    vCError* record = new vCStreamError();
    record->next = g_errorChainHead;
    record->message = CopyText(message);
    record->sourceFile = CopyText(sourceFile);
    record->code = code;
    record->line = line;
    g_errorChainHead = record;
}

const vCError* GetErrorChainHead() { return g_errorChainHead; }
