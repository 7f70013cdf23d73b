// Helpers shared by the unit tests: a temporary folder removed at the end of the test, whole-file
// reads and writes, patterned fixtures and a probe of the error chain.
#pragma once

#include "ve_error.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vtest {

class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Path of a file inside the folder.
    std::string File(const std::string& name) const;

private:
    std::string m_path;
};

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes);
void WriteFile(const std::string& path, const std::string& bytes);
std::vector<unsigned char> ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// Bytes whose value depends on their offset, so a slice taken at the wrong place shows as
// wrong bytes, not only as a wrong size.
std::vector<unsigned char> Pattern(uint32_t length, uint32_t seed = 0);
inline unsigned char PatternByte(uint32_t offset, uint32_t seed = 0)
{
    const uint32_t x = (offset + seed) * 2654435761u;
    return static_cast<unsigned char>((x >> 24) ^ (offset >> 8));
}

// Remembers the head of the error chain; tells what was pushed since.
class ErrorProbe
{
public:
    ErrorProbe() : m_mark(GetErrorChainHead()) {}
    // Number of records pushed since construction (or the last Reset).
    int Count() const;
    // The newest record pushed since the mark, or null.
    const vCError* Newest() const;
    void Reset() { m_mark = GetErrorChainHead(); }

private:
    const vCError* m_mark;
};

} // namespace vtest
