#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace vtest {

TempDir::TempDir()
{
    std::random_device rd;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        fs::path candidate = base / ("xsndconv-test-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec))
        {
            m_path = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

std::string TempDir::File(const std::string& name) const { return (fs::path(m_path) / name).string(); }

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    WriteFile(path, std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

std::vector<unsigned char> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

std::vector<unsigned char> Pattern(uint32_t length, uint32_t seed)
{
    std::vector<unsigned char> bytes(length);
    for (uint32_t i = 0; i < length; ++i)
        bytes[i] = PatternByte(i, seed);
    return bytes;
}

int ErrorProbe::Count() const
{
    int count = 0;
    for (const vCError* r = GetErrorChainHead(); r != nullptr && r != m_mark; r = r->next)
        ++count;
    return count;
}

const vCError* ErrorProbe::Newest() const
{
    const vCError* head = GetErrorChainHead();
    return head == m_mark ? nullptr : head;
}

} // namespace vtest
