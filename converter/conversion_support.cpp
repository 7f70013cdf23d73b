#include "conversion_support.h"

#include "conversions.h"
#include "ve_path.h"
#include "ve_platform.h"

#include <cstring>
#include <new>

vCString MakeOutputPath(const vCString& inputPath, const char* extension)
{
    const vCString name = GetFileNameWithoutExtension(inputPath);
    if (!HasSeparator(inputPath))
        return Concat(name, extension);
    const char separator[] = {vPathSeparator, '\0'};
    const vCString directory = GetDirectory(inputPath);
    const vCString folder = Concat(directory, separator);
    const vCString stem = Concat(folder, name);
    return Concat(stem, extension);
}

vCString QuotePath(const char* prefix, const vCString& path, const char* suffix)
{
    return Concat(Concat(prefix, path), suffix);
}

vCString CannotOpenOutputMessage(const vCString& outputPath)
{
    return QuotePath("Cannot open/create the file \"", outputPath, "\".");
}

vCString CannotWriteMessage(const vCString& outputPath) { return QuotePath("Cannot write the file \"", outputPath, "\"."); }

vCString CannotReadMessage(const vCString& inputPath) { return QuotePath("Cannot read the file \"", inputPath, "\"."); }

vCString OutOfMemoryMessage(const vCString& inputPath)
{
    return QuotePath("There is not enough memory to convert the file \"", inputPath, "\".");
}

vCString SameFileMessage(const vCString& outputPath)
{
    return QuotePath("The output file \"", outputPath, "\" would replace the input file itself.");
}

bool vCPayloadBuffer::Allocate(uint32_t size)
{
    if (size == 0)
        return true;
    m_data = new (std::nothrow) unsigned char[size];
    if (m_data == nullptr)
        return false;
    m_size = size;
    // The advice must come before the first touch, which is the zero fill itself.
    vPlatformPreferHugePages(m_data, size);
    std::memset(m_data, 0, size);
    return true;
}

vCPayloadBuffer::~vCPayloadBuffer() { delete[] m_data; }

vCString TakePayload(vCFileStream& input, const vCString& outputPath, uint32_t offset, uint32_t length,
                     vCPayloadBuffer& payload)
{
    const vCString& inputPath = input.GetFilePath();
    if (vPlatformIsSameFile(inputPath.GetText(), outputPath.GetText()))
        return SameFileMessage(outputPath);
    if (!payload.Allocate(length))
        return OutOfMemoryMessage(inputPath);
    if (length == 0)
        return vCString();
    vCInputStream& in = input;
    if (!in.Seek(static_cast<int32_t>(offset), vESeekMode_Begin) || !in.Read(payload.Get(), payload.Size()))
        return CannotReadMessage(inputPath);
    return vCString();
}

bool RemoveIncompleteOutput(const vCString& outputPath) { return vPlatformRemoveFile(outputPath.GetText()); }
