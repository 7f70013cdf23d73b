// vCString: one pointer to a heap block holding a length header, the characters and a NUL.
//
//   short form, length 0..254:  [L] chars... 00               (L + 2 bytes)
//   long form,  length >= 255:  [FF][L as u32 LE] chars... 00  (L + 6 bytes)
//
// The form always follows from the length (canonical). Every writing operation reuses the
// string's own block through vCStringHeap::Reallocate, so GetText() is valid only until the
// next change of the same string.
#pragma once

#include <cstdint>

class vCString
{
public:
    vCString();
    vCString(const char* text); // NOLINT(google-explicit-constructor): strings are built from literals everywhere
    vCString(const vCString& other);
    vCString(vCString&& other) noexcept;
    ~vCString();

    vCString& operator=(const vCString& other) { return Assign(other); }
    vCString& operator=(vCString&& other) noexcept;

    vCString& Assign(const vCString& source);
    void AssignText(const char* text);
    // Length rule: length 0 with a text measures the text up to its NUL; length 0 with no text is
    // the empty string; a non-zero length is taken as is. With no text and a non-zero length the
    // characters are left for the caller to fill through GetText().
    vCString& AssignBuffer(const char* text, uint32_t length);
    vCString& Append(const vCString& source);
    vCString& RemoveFromEnd(uint32_t count);

    uint32_t GetLength() const;
    const char* GetText() const;
    char* GetText();

    // The raw block, header included; for tests that check the stored form.
    const unsigned char* GetBlock() const { return m_block; }

    // A new string holding a's characters followed by b's; both measured by the length rule.
    static vCString Concat(const char* a, uint32_t lengthA, const char* b, uint32_t lengthB);

private:
    struct Uninitialised {};
    // A fresh block for `length` characters that the caller fills; one allocation, no resize.
    vCString(Uninitialised, uint32_t length);
    void WriteBlock(uint32_t length, const char* text);

    unsigned char* m_block;
};

vCString Concat(const vCString& a, const vCString& b);
vCString Concat(const vCString& a, const char* b);
vCString Concat(const char* a, const vCString& b);
