// vCString against std::string: a sequence of operations on four slots, each string checked
// after every step for its length, its characters, its terminating NUL and the canonical form of
// its header (one byte below 255 characters, 255 and the length as four little-endian bytes
// from 255 on). The blocks come from the string heap, so the heap's moves, growth in place and
// reuse are exercised along the way.
#include "fuzz_ops.h"
#include "fuzz_support.h"
#include "ve_string.h"

#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr int kSlots = 4;
using vfuzz::kStringTextLimit;
constexpr size_t kTotalLimit = 256 * 1024; // growth stops here; the model mirrors it

struct State
{
    std::optional<vCString> strings[kSlots];
    std::string models[kSlots];

    size_t Total() const
    {
        size_t total = 0;
        for (const std::string& m : models)
            total += m.size();
        return total;
    }
};

uint32_t HeaderBytes(uint32_t length) { return length < 255 ? 1 : 5; }

// The string as stored must match its model and be in canonical form.
void CheckString(const vCString& s, const std::string& model)
{
    const uint32_t length = static_cast<uint32_t>(model.size());
    VFUZZ_CHECK_EQ(s.GetLength(), length);
    const unsigned char* block = s.GetBlock();
    if (length < 255)
    {
        VFUZZ_CHECK_EQ(uint32_t(block[0]), length);
    }
    else
    {
        VFUZZ_CHECK_EQ(uint32_t(block[0]), 255u);
        const uint32_t stored = uint32_t(block[1]) | uint32_t(block[2]) << 8 | uint32_t(block[3]) << 16 |
                                uint32_t(block[4]) << 24;
        VFUZZ_CHECK_EQ(stored, length);
    }
    VFUZZ_CHECK(reinterpret_cast<const unsigned char*>(s.GetText()) == block + HeaderBytes(length));
    VFUZZ_CHECK(std::memcmp(s.GetText(), model.data(), length) == 0);
    VFUZZ_CHECK_EQ(int(s.GetText()[length]), 0);
}

// What a NUL-terminated text holds up to its first NUL.
std::string Measured(const std::string& text) { return std::string(text.c_str()); }

std::string ReadText(vfuzz::Input& in)
{
    const uint32_t length = in.Length(kStringTextLimit);
    return in.Bytes(length);
}

void Step(vfuzz::Input& in, State& st)
{
    const uint8_t op = in.Byte() % vfuzz::kStringOpCount;
    const int a = in.Byte() % kSlots;
    vCString& s = *st.strings[a];
    std::string& m = st.models[a];
    switch (op)
    {
    case vfuzz::kStringConstruct:
    case vfuzz::kStringAssignText:
    {
        const bool hasText = (in.Byte() & 1) != 0;
        const std::string text = ReadText(in);
        const char* passed = hasText ? text.c_str() : nullptr;
        if (op == vfuzz::kStringConstruct)
            st.strings[a].emplace(passed);
        else
            s.AssignText(passed);
        m = hasText ? Measured(text) : std::string();
        break;
    }
    case vfuzz::kStringAssignBuffer:
    {
        const uint8_t form = in.Byte() % 3;
        const std::string text = ReadText(in);
        if (form == 0) // a length of 0 with a text: measured
        {
            s.AssignBuffer(text.c_str(), 0);
            m = Measured(text);
        }
        else if (form == 1) // an explicit length: NULs among the characters are kept
        {
            s.AssignBuffer(text.data(), static_cast<uint32_t>(text.size()));
            m = text;
        }
        else // no text, no length: the empty string
        {
            s.AssignBuffer(nullptr, 0);
            m.clear();
        }
        break;
    }
    case vfuzz::kStringAssignBufferOpen:
    {
        const uint32_t length = in.Length(kStringTextLimit);
        const uint8_t seed = in.Byte();
        if (st.Total() - m.size() + length > kTotalLimit)
            break;
        s.AssignBuffer(nullptr, length);
        VFUZZ_CHECK_EQ(s.GetLength(), length);
        VFUZZ_CHECK_EQ(int(s.GetText()[length]), 0);
        m = vfuzz::Pattern(length, seed);
        std::memcpy(s.GetText(), m.data(), length);
        break;
    }
    case vfuzz::kStringAssign:
    {
        const int b = in.Byte() % kSlots;
        s.Assign(*st.strings[b]);
        m = st.models[b];
        break;
    }
    case vfuzz::kStringAppend:
    {
        const int b = in.Byte() % kSlots;
        if (st.Total() + st.models[b].size() > kTotalLimit)
            break;
        s.Append(*st.strings[b]); // b may be a itself
        m += st.models[b];
        break;
    }
    case vfuzz::kStringRemoveFromEnd:
    {
        const uint8_t form = in.Byte();
        const uint32_t count = (form & 1) ? in.U32() : in.Length(kStringTextLimit);
        s.RemoveFromEnd(count);
        m.resize(m.size() - (count < m.size() ? count : m.size()));
        break;
    }
    case vfuzz::kStringConcat:
    {
        const uint8_t form = in.Byte() % 5;
        const int b = in.Byte() % kSlots;
        const std::string text = ReadText(in);
        const std::string& mb = st.models[b];
        const vCString& sb = *st.strings[b];
        if (st.Total() + mb.size() + text.size() > kTotalLimit)
            break;
        std::string expected;
        vCString result;
        switch (form)
        {
        case 0: // string + string
            result = Concat(sb, s);
            expected = mb + m;
            break;
        case 1: // string + NUL-terminated text, measured
            result = Concat(sb, text.c_str());
            expected = mb + Measured(text);
            break;
        case 2: // NUL-terminated text + string
            result = Concat(text.c_str(), sb);
            expected = Measured(text) + mb;
            break;
        case 3: // two texts with explicit lengths, NULs kept
            result = vCString::Concat(text.data(), static_cast<uint32_t>(text.size()), sb.GetText(), sb.GetLength());
            expected = text + mb;
            break;
        default: // absent texts with a length of 0 give no characters
            result = vCString::Concat(nullptr, 0, text.empty() ? nullptr : text.c_str(), 0);
            expected = Measured(text);
            break;
        }
        CheckString(result, expected);
        s = std::move(result);
        m = expected;
        CheckString(result, std::string(result.GetText(), result.GetLength())); // moved-from: any valid string
        break;
    }
    case vfuzz::kStringCopyConstruct:
    {
        const int b = in.Byte() % kSlots;
        if (b == a)
        {
            const vCString copy(s);
            CheckString(copy, m);
            break;
        }
        st.strings[a].emplace(*st.strings[b]);
        m = st.models[b];
        break;
    }
    case vfuzz::kStringMoveConstruct:
    case vfuzz::kStringMoveAssign:
    {
        const int b = in.Byte() % kSlots;
        if (b == a)
            break;
        if (op == vfuzz::kStringMoveConstruct)
            st.strings[a].emplace(std::move(*st.strings[b]));
        else
            s = std::move(*st.strings[b]);
        m = st.models[b];
        // What a moved-from string holds is not promised; it must still be a valid string.
        const vCString& moved = *st.strings[b];
        st.models[b].assign(moved.GetText(), moved.GetLength());
        break;
    }
    default:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vfuzz::Input in(data, size);
    State st;
    for (auto& s : st.strings)
        s.emplace();
    while (!in.Empty())
    {
        Step(in, st);
        for (int i = 0; i < kSlots; ++i)
            CheckString(*st.strings[i], st.models[i]);
    }
    return 0;
}
