#include "ve_platform.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

// Windows (and so the Windows build under Wine) finds a file whatever the case of its name.
const bool kNamesIgnoreCase = vPathSeparator == '\\';

struct SameFileRow
{
    const char* other; // the second path, inside the folder; the first is always "one.bin"
    bool same;
    const char* why;
};

// Catches a refusal that compares spellings instead of files: a dropped X._XSND whose output
// X._xsnd is the same file on Windows would be overwritten.
TEST(Platform, SameFileComparesFilesNotSpellings)
{
    vtest::TempDir dir;
    vtest::WriteFile(dir.File("one.bin"), "one");
    vtest::WriteFile(dir.File("two.bin"), "two");
    std::error_code ec;
    fs::create_hard_link(dir.File("one.bin"), dir.File("link.bin"), ec);
    const bool haveLink = !ec;

    const std::string sep(1, vPathSeparator);
    const std::string dotted = "." + sep + "one.bin";
    const std::string around = "sub" + sep + ".." + sep + "one.bin";
    fs::create_directory(dir.File("sub"));
    const SameFileRow rows[] = {
        {"one.bin", true, "the same spelling"},
        {dotted.c_str(), true, "another spelling of the same path"},
        {around.c_str(), true, "a path through another folder"},
        {"two.bin", false, "another file with the same size"},
        {"missing.bin", false, "a file that does not exist is no file"},
        {"ONE.BIN", kNamesIgnoreCase, "only the case differs"},
        {"link.bin", haveLink, "a hard link is the same file"},
    };
    const std::string one = dir.File("one.bin");
    for (const SameFileRow& row : rows)
    {
        SCOPED_TRACE(row.why);
        const std::string other = dir.Path() + sep + row.other;
        EXPECT_EQ(vPlatformIsSameFile(one.c_str(), other.c_str()), row.same) << other;
        EXPECT_EQ(vPlatformIsSameFile(other.c_str(), one.c_str()), row.same) << other;
    }
}

// Catches file lengths taken through 32-bit offsets (a long is 32 bits on Windows).
TEST(Platform, FileLengthBeyondFourGibIsExact)
{
    vtest::TempDir dir;
    const std::string path = dir.File("sparse.bin");
    vtest::WriteFile(path, "x");
    const uint64_t size = (uint64_t{5} << 30) + 3;
    std::error_code ec;
    fs::resize_file(path, size, ec); // sparse where the file system allows it
    if (ec)
        GTEST_SKIP() << "cannot make a file of 5 GiB here: " << ec.message();
    FILE* file = vPlatformOpenFile(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    uint64_t length = 0;
    EXPECT_TRUE(vPlatformFileLength(file, length));
    EXPECT_EQ(length, size);
    EXPECT_TRUE(vPlatformSeek(file, size - 4));
    EXPECT_TRUE(vPlatformSeek(file, uint64_t{3} << 30));
    EXPECT_EQ(std::fgetc(file), 0);
    std::fclose(file);
}

} // namespace
