#include "ve_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Text(const vCString& s) { return std::string(s.GetText(), s.GetLength()); }

// The block as stored: header, characters and the terminating NUL.
std::string Block(const vCString& s)
{
    const uint32_t length = s.GetLength();
    const uint32_t header = length < 255 ? 1 : 5;
    return std::string(reinterpret_cast<const char*>(s.GetBlock()), header + length + 1);
}

std::string Chars(uint32_t count, char first = 'a')
{
    std::string text(count, ' ');
    for (uint32_t i = 0; i < count; ++i)
        text[i] = static_cast<char>(first + i % 26);
    return text;
}

vCString Make(const std::string& text) { return vCString().AssignBuffer(text.data(), static_cast<uint32_t>(text.size())); }

// Checks the canonical form: the header the length calls for, the characters, the NUL.
void ExpectCanonical(const vCString& s, const std::string& expected)
{
    const auto length = static_cast<uint32_t>(expected.size());
    ASSERT_EQ(s.GetLength(), length);
    std::string header;
    if (length < 255)
        header = std::string(1, static_cast<char>(length));
    else
        header = std::string("\xFF", 1) + std::string(reinterpret_cast<const char*>(&length), 4);
    EXPECT_EQ(Block(s), header + expected + std::string(1, '\0'));
    EXPECT_EQ(s.GetText()[length], '\0');
}

TEST(String, DocumentedBlocks)
{
    // Catches wrong header bytes or a missing NUL in the two forms.
    EXPECT_EQ(Block(vCString()), std::string("\0\0", 2));
    EXPECT_EQ(Block(vCString("abc")), std::string("\x03" "abc\0", 5));
    const vCString s255 = Make(Chars(255));
    EXPECT_EQ(Block(s255).substr(0, 5), std::string("\xFF\xFF\0\0\0", 5));
    const vCString s300 = Make(Chars(300));
    EXPECT_EQ(Block(s300).substr(0, 5), std::string("\xFF\x2C\x01\0\0", 5));
    EXPECT_EQ(Text(s300), Chars(300));
}

TEST(String, FormFollowsTheLengthAtTheBoundary)
{
    // Catches an off-by-one in the short/long test (254 short, 255 long).
    for (uint32_t length : {0u, 1u, 253u, 254u, 255u, 256u, 70000u})
    {
        SCOPED_TRACE(length);
        ExpectCanonical(Make(Chars(length)), Chars(length));
        ExpectCanonical(vCString(Chars(length).c_str()), Chars(length));
    }
}

TEST(String, AbsentTextsGiveTheEmptyString)
{
    // Catches a dereference of a null text.
    ExpectCanonical(vCString(nullptr), "");
    vCString s("abc");
    s.AssignText(nullptr);
    ExpectCanonical(s, "");
    s.AssignBuffer(nullptr, 0);
    ExpectCanonical(s, "");
}

TEST(String, AssignBufferLengthRule)
{
    // Catches measuring a text that came with a length, or not measuring one that came without.
    vCString s;
    s.AssignBuffer("hello\0world", 0);
    ExpectCanonical(s, "hello");
    s.AssignBuffer("hello\0world", 11);
    ExpectCanonical(s, std::string("hello\0world", 11));
    s.AssignBuffer(nullptr, 5);
    ASSERT_EQ(s.GetLength(), 5u);
    EXPECT_EQ(s.GetBlock()[0], 5);
    EXPECT_EQ(s.GetText()[5], '\0');
    std::memcpy(s.GetText(), "12345", 5);
    ExpectCanonical(s, "12345");
    s.AssignBuffer(nullptr, 300);
    ASSERT_EQ(s.GetLength(), 300u);
    EXPECT_EQ(s.GetBlock()[0], 255);
    EXPECT_EQ(s.GetText()[300], '\0');
}

TEST(String, AssignCrossesTheFormBoundaryBothWays)
{
    // Catches characters left at the old offset when the header size changes.
    vCString s("abc");
    s.Assign(Make(Chars(300, 'A')));
    ExpectCanonical(s, Chars(300, 'A'));
    s.Assign(vCString("xyz"));
    ExpectCanonical(s, "xyz");
    s.Assign(s);
    ExpectCanonical(s, "xyz");
    s.Assign(vCString());
    ExpectCanonical(s, "");
}

TEST(String, NulBytesSurviveAssignAndAppend)
{
    // Catches a copy that stops at the first NUL of a string written with a length.
    const std::string withNul("a\0b", 3);
    vCString s;
    s.Assign(Make(withNul));
    ExpectCanonical(s, withNul);
    s.Append(Make(withNul));
    ExpectCanonical(s, withNul + withNul);
}

struct AppendRow
{
    uint32_t before;
    uint32_t added;
    const char* why;
};

TEST(String, AppendKeepsTheOldCharacters)
{
    // Catches losing or shifting the first part when the form changes or the block moves.
    const AppendRow rows[] = {
        {250, 10, "crosses into the long form"},
        {244, 10, "ends at 254, still short"},
        {245, 10, "ends at exactly 255"},
        {255, 1, "already long"},
        {0, 0, "empty onto empty"},
        {3, 0, "nothing appended"},
        {100, 5000, "grows far beyond the block"},
    };
    for (const AppendRow& row : rows)
    {
        SCOPED_TRACE(row.why);
        vCString s = Make(Chars(row.before, 'a'));
        const vCString tail = Make(Chars(row.added, 'A'));
        s.Append(tail);
        ExpectCanonical(s, Chars(row.before, 'a') + Chars(row.added, 'A'));
        ExpectCanonical(tail, Chars(row.added, 'A'));
    }
}

TEST(String, AppendAcrossAMovingBlock)
{
    // Catches reading the first part from a block that Reallocate has already released:
    // other live strings around it make the heap move the block as it grows.
    vCString s = Make(Chars(1, 'a'));
    std::string model = Chars(1, 'a');
    for (int i = 0; i < 400; ++i)
    {
        vCString neighbour = Make(Chars(static_cast<uint32_t>(i % 40)));
        const vCString piece = Make(Chars(static_cast<uint32_t>(i % 7 + 1), static_cast<char>('A' + i % 20)));
        s.Append(piece);
        model += Chars(static_cast<uint32_t>(i % 7 + 1), static_cast<char>('A' + i % 20));
        ASSERT_EQ(Text(s), model) << "after append " << i;
    }
    ExpectCanonical(s, model);
}

TEST(String, AppendToItself)
{
    // Catches reading the source after the block it lives in has moved.
    vCString s = Make(Chars(200));
    s.Append(s);
    ExpectCanonical(s, Chars(200) + Chars(200));
}

struct RemoveRow
{
    uint32_t length;
    uint32_t count;
    const char* why;
};

TEST(String, RemoveFromEnd)
{
    // Catches keeping the wrong characters when the form changes, and unsigned underflow.
    const RemoveRow rows[] = {
        {260, 10, "long to short: characters move to byte 1"},
        {260, 5, "long stays long at 255"},
        {255, 1, "255 to 254"},
        {10, 0, "count 0 changes nothing"},
        {10, 10, "count equal to the length"},
        {10, 0xFFFFFFFFu, "count far above the length"},
        {300, 300, "long to empty"},
        {0, 3, "empty stays empty"},
    };
    for (const RemoveRow& row : rows)
    {
        SCOPED_TRACE(row.why);
        vCString s = Make(Chars(row.length));
        s.RemoveFromEnd(row.count);
        const uint32_t kept = row.count >= row.length ? 0 : row.length - row.count;
        ExpectCanonical(s, Chars(row.length).substr(0, kept));
    }
}

TEST(String, ConcatForms)
{
    // Catches a text passed with length 0 not being measured, and wrong order of the parts.
    const vCString path("C:\\music");
    ExpectCanonical(Concat(path, "\\song.wav"), "C:\\music\\song.wav");
    ExpectCanonical(Concat("Cannot open the file \"", path), "Cannot open the file \"C:\\music");
    ExpectCanonical(Concat(path, path), "C:\\musicC:\\music");
    ExpectCanonical(Concat(vCString(), vCString()), "");
    ExpectCanonical(vCString::Concat(nullptr, 0, "abc", 0), "abc");
    ExpectCanonical(vCString::Concat("ab\0cd", 5, "x\0y", 3), std::string("ab\0cdx\0y", 8));
    ExpectCanonical(Concat(Make(Chars(200)), Make(Chars(100, 'A'))), Chars(200) + Chars(100, 'A'));
}

TEST(String, CopyAndMoveKeepEachStringOnItsOwnBlock)
{
    // Catches two strings sharing a block (double free, or a change showing through both).
    vCString a("first");
    vCString b(a);
    b.Append(vCString("!"));
    ExpectCanonical(a, "first");
    ExpectCanonical(b, "first!");
    vCString c(std::move(b));
    ExpectCanonical(c, "first!");
    ExpectCanonical(b, ""); // NOLINT(bugprone-use-after-move): a moved-from string is empty and usable
    a = std::move(c);
    ExpectCanonical(a, "first!");
}

} // namespace
