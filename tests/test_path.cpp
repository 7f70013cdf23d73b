#include "ve_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Str(const vCString& s) { return std::string(s.GetText(), s.GetLength()); }

struct PathRow
{
    const char* path;
    const char* directory;
    const char* fileName;
    const char* withoutExtension;
};

const PathRow kPathRows[] = {
    {"a.b.c", "", "a.b.c", "a.b"},                        // only the last extension goes
    {".wav", "", ".wav", ""},                             // a dot at position 0 still counts
    {"dir\\file", "dir", "file", "file"},                 // backslash separates
    {"dir/sub\\file.x", "dir/sub", "file.x", "file"},     // the later of the two separators wins
    {"file", "", "file", "file"},                         // no separator, no dot
    {"C:\\music\\song.wav", "C:\\music", "song.wav", "song"}, // the drag-and-drop shape
    {"dir.d\\file", "dir.d", "file", "file"},             // a dot in the directory never counts
    {"a/b\\c/d", "a/b\\c", "d", "d"},                     // mixed separators, slash last
    {"\\file.wav", "", "file.wav", "file"},               // separator at 0: empty directory, not "\"
    {"dir\\", "dir", "", ""},                             // trailing separator: empty name
    {"archive.tar.gz", "", "archive.tar.gz", "archive.tar"}, // one extension only
    {"name.", "", "name.", "name"},                       // an empty extension is still cut
    {"C:file.wav", "", "C:file.wav", "C:file"},           // the drive colon is no separator
    {"", "", "", ""},                                     // the empty path
    {"/", "", "", ""},                                    // a lone separator
    {"a\\b/", "a\\b", "", ""},                            // trailing slash after a backslash
    {"x\x95\\y.wav", "x\x95", "y.wav", "y"},              // bytes, not characters: a lead byte does not hide 0x5C
};

// Catches: wrong separator choice, off-by-one ranges, an empty range measured as a text.
TEST(PathHelpers, SplitEveryPathOfTheTable)
{
    for (const PathRow& row : kPathRows)
    {
        SCOPED_TRACE(std::string("path: ") + row.path);
        const vCString path(row.path);
        EXPECT_EQ(Str(GetDirectory(path)), row.directory);
        EXPECT_EQ(Str(GetFileName(path)), row.fileName);
        EXPECT_EQ(Str(GetFileNameWithoutExtension(path)), row.withoutExtension);
        EXPECT_EQ(Str(path), row.path); // the argument stays as it was
    }
}

// Catches: an empty result that is not the canonical empty block 00 00.
TEST(PathHelpers, EmptyResultsAreTheEmptyBlock)
{
    const vCString path("\\name");
    const vCString directory = GetDirectory(path);
    EXPECT_EQ(directory.GetBlock()[0], 0);
    EXPECT_EQ(directory.GetBlock()[1], 0);
    const vCString name = GetFileName(vCString("dir/"));
    EXPECT_EQ(name.GetBlock()[0], 0);
    EXPECT_EQ(name.GetBlock()[1], 0);
}

// Catches: a shortened long-form name left in the long form (characters at the wrong byte).
TEST(PathHelpers, LongNameShrinksToTheShortForm)
{
    const std::string stem(254, 'n');
    const vCString path(("dir\\" + stem + ".wav").c_str()); // a file name of 258 characters
    const vCString shortened = GetFileNameWithoutExtension(path);
    EXPECT_EQ(Str(shortened), stem);
    EXPECT_EQ(shortened.GetBlock()[0], 254);
    EXPECT_EQ(Str(GetFileName(path)), stem + ".wav");
}

struct SeparatorRow
{
    const char* path;
    bool expected;
};

const SeparatorRow kSeparatorRows[] = {
    {"song.wav", false},       // typed in a shell: no folder at all
    {"C:song.wav", false},     // drive-relative, still no separator
    {"", false},               // empty
    {"\\song.wav", true},      // the root, although the directory part is empty
    {"/song.wav", true},       // the POSIX root
    {"dir/song.wav", true},    // an ordinary folder
    {"dir\\song.wav", true},   // the other separator
};

// Catches: "no directory part" confused with "empty directory part" (the root).
TEST(PathHelpers, HasSeparatorTellsRootFromNoFolder)
{
    for (const SeparatorRow& row : kSeparatorRows)
    {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(HasSeparator(vCString(row.path)), row.expected);
    }
}

} // namespace
