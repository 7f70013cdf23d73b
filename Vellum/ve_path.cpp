#include "ve_path.h"

#include <cstdint>

namespace {

constexpr char kSlash = '/';
constexpr char kBackslash = '\\';
constexpr char kExtensionDot = '.';

// Index of the last occurrence of `byte` in text[0, length), scanning from the end; false when
// there is none.
bool FindLast(const char* text, uint32_t length, char byte, uint32_t& index)
{
    for (uint32_t i = length; i > 0; --i)
    {
        if (text[i - 1] == byte)
        {
            index = i - 1;
            return true;
        }
    }
    return false;
}

// The later of the last '/' and the last backslash.
bool FindLastSeparator(const vCString& path, uint32_t& index)
{
    uint32_t slash = 0;
    uint32_t backslash = 0;
    const bool hasSlash = FindLast(path.GetText(), path.GetLength(), kSlash, slash);
    const bool hasBackslash = FindLast(path.GetText(), path.GetLength(), kBackslash, backslash);
    if (!hasSlash && !hasBackslash)
        return false;
    if (hasSlash && hasBackslash)
        index = slash > backslash ? slash : backslash;
    else
        index = hasSlash ? slash : backslash;
    return true;
}

// A new string of `count` characters from `text`; an empty range is written with no text, so
// nothing is measured.
vCString NewRange(const char* text, uint32_t count)
{
    return vCString::Concat(count != 0 ? text : nullptr, count, nullptr, 0);
}

} // namespace

vCString GetFileName(const vCString& path)
{
    uint32_t separator = 0;
    const uint32_t start = FindLastSeparator(path, separator) ? separator + 1 : 0;
    return NewRange(path.GetText() + start, path.GetLength() - start);
}

vCString GetFileNameWithoutExtension(const vCString& path)
{
    vCString name = GetFileName(path);
    uint32_t dot = 0;
    if (FindLast(name.GetText(), name.GetLength(), kExtensionDot, dot))
        name.RemoveFromEnd(name.GetLength() - dot);
    return name;
}

vCString GetDirectory(const vCString& path)
{
    uint32_t separator = 0;
    const uint32_t count = FindLastSeparator(path, separator) ? separator : 0;
    return NewRange(path.GetText(), count);
}

bool HasSeparator(const vCString& path)
{
    uint32_t separator = 0;
    return FindLastSeparator(path, separator);
}
