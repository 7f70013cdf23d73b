// vCFileStream against a model: the stream's content as a plain byte string, its position and
// its open mode. A sequence of Open (three modes, plus mode 0, on an existing or a missing file),
// Close, Read, both ReadString forms, Seek, Skip, Write, WriteString and an outside truncation of
// the file runs on one stream; every result, every record pushed on the error chain, Tell() and
// GetSize() after each step, and the file on disk after each Close, must match the model.
//
// The model knows nothing of the window: whatever the stream keeps in memory, the results must be
// those of a file read and written in place. After the file was shortened behind the stream's
// back, a read that needs bytes the file no longer holds must fail with a record; one that
// succeeds must deliver the file's bytes as they were, never stale or zeroed ones in their place.
#include "fuzz_ops.h"
#include "fuzz_support.h"
#include "ve_error.h"
#include "ve_filestream.h"
#include "ve_string.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using vfuzz::kStreamContentLimit;
using vfuzz::kStreamLengthLimit;
constexpr const char* kSource = ".\\Vellum\\ve_filestream";

struct Expected
{
    int32_t code;
    int32_t line;
    std::string message;
};

const Expected kReadNotReadable{vEErrorCode_NotOpen, 43, "File is not open for reading operations."};
const Expected kReadPastEnd{vEErrorCode_SizeExceeded, 48, "File size exceeded when reading binary data."};
const Expected kReadStringNotReadable{vEErrorCode_NotOpen, 77, "File is not open for reading operations."};
const Expected kReadStringAtEnd{vEErrorCode_SizeExceeded, 82, "File size exceeded when reading binary data."};
const Expected kSeekNotOpen{vEErrorCode_NotOpen, 109, "File is not open."};
const Expected kSeekPastEnd{vEErrorCode_SizeExceeded, 128, "File size exceeded when seeking."};
const Expected kWriteNotWritable{vEErrorCode_NotOpen, 160, "File is not open for writing operations."};
const Expected kLoadShort{vEErrorCode_ReadFailed, 230,
                          "File ended before its known size when reading binary data; it may have been truncated."};

void CheckRecord(const vCError* record, const Expected& expected)
{
    VFUZZ_CHECK_EQ(record->code, expected.code);
    VFUZZ_CHECK_EQ(record->line, expected.line);
    VFUZZ_CHECK(std::string(record->message) == expected.message);
    VFUZZ_CHECK(std::string(record->sourceFile) == kSource);
}

// The call pushed nothing when it succeeded, and exactly the expected record when it failed.
void CheckOutcome(bool result, const vfuzz::ErrorMark& mark, const Expected* failure)
{
    const std::vector<const vCError*> records = mark.Since();
    if (failure == nullptr)
    {
        VFUZZ_CHECK(result);
        VFUZZ_CHECK_EQ(records.size(), size_t(0));
        return;
    }
    VFUZZ_CHECK(!result);
    VFUZZ_CHECK_EQ(records.size(), size_t(1));
    CheckRecord(records[0], *failure);
}

// Bytes of the file and of writes: the pattern, with NULs sprinkled in at the given density so
// that the NUL-terminated ReadString finds strings of every length.
std::string Content(uint32_t length, uint32_t seed, uint8_t nulDensity)
{
    std::string bytes = vfuzz::Pattern(length, seed);
    for (uint32_t i = 0; i < length; ++i)
        if (vfuzz::PatternByte(i, seed + 7) < nulDensity)
            bytes[i] = '\0';
    return bytes;
}

struct Model
{
    bool open = false;
    uint32_t mode = 0;
    uint32_t position = 0;
    std::string content; // the stream's bytes, written-back or not
    std::string path;
    // The file was shortened behind the stream: loads may fail, and the disk no longer follows
    // the model.
    bool shrunk = false;

    bool Readable() const { return open && (mode & vEOpenMode_Read) != 0; }
    bool Writable() const { return open && (mode & vEOpenMode_Write) != 0; }
    uint32_t Size() const { return static_cast<uint32_t>(content.size()); }
};

class Run
{
public:
    Run()
        : m_file(vfuzz::ScratchFile("stream.bin")),
          m_missing(vfuzz::ScratchFile("no-such-folder") + "/stream.bin")
    {
    }

    void Prepare(vfuzz::Input& in)
    {
        const uint8_t setup = in.Byte();
        vfuzz::RemoveFile(m_file);
        if (setup & 1)
        {
            const uint32_t length = in.Length(vfuzz::kStreamFileLimit);
            const uint8_t seed = in.Byte();
            vfuzz::WriteWholeFile(m_file, Content(length, seed, setup >> 1));
        }
    }

    void Step(vfuzz::Input& in)
    {
        const uint8_t op = in.Byte() % vfuzz::kStreamOpCount;
        switch (op)
        {
        case vfuzz::kStreamOpen:
            Open(in);
            break;
        case vfuzz::kStreamClose:
            Close();
            break;
        case vfuzz::kStreamRead:
            Read(in.Length(kStreamLengthLimit), false);
            break;
        case vfuzz::kStreamReadString:
            ReadNulTerminated();
            break;
        case vfuzz::kStreamReadStringLength:
            Read(in.Length(kStreamLengthLimit), true);
            break;
        case vfuzz::kStreamSeek:
        {
            const uint8_t origin = in.Byte() % 4; // 3: an origin value of no meaning, taken as the start
            const uint8_t form = in.Byte();
            const int32_t offset = static_cast<int32_t>((form & 1) ? in.U32() : in.Length(kStreamLengthLimit) * ((form & 2) ? -1u : 1u));
            Seek(offset, origin, false);
            break;
        }
        case vfuzz::kStreamSkip:
        {
            const uint8_t form = in.Byte();
            const int32_t offset = static_cast<int32_t>((form & 1) ? in.U32() : in.Length(kStreamLengthLimit) * ((form & 2) ? -1u : 1u));
            Seek(offset, vESeekMode_Current, true);
            break;
        }
        case vfuzz::kStreamWrite:
        case vfuzz::kStreamWriteString:
        {
            const uint32_t length = in.Length(kStreamLengthLimit);
            const uint8_t seed = in.Byte();
            Write(Content(length, seed, in.Byte()), op == vfuzz::kStreamWriteString);
            break;
        }
        case vfuzz::kStreamShrinkFile:
            Shrink(in.Length(kStreamLengthLimit));
            break;
        default:
            break;
        }
        CheckPlace();
    }

    void Finish()
    {
        const bool wasOpen = m.open;
        const bool checkDisk = wasOpen && !m.shrunk && m.path == m_file;
        m_stream.reset(); // destruction writes back and closes
        if (checkDisk)
            CheckDisk();
    }

private:
    void CheckPlace()
    {
        VFUZZ_CHECK_EQ(m_stream->Tell(), m.open ? m.position : 0u);
        VFUZZ_CHECK_EQ(m_stream->GetSize(), m.open ? m.Size() : 0u);
    }

    void CheckDisk()
    {
        bool exists = false;
        const std::string disk = vfuzz::ReadWholeFile(m_file, &exists);
        VFUZZ_CHECK(exists);
        VFUZZ_CHECK_EQ(disk.size(), m.content.size());
        VFUZZ_CHECK(disk == m.content);
    }

    void Open(vfuzz::Input& in)
    {
        const uint8_t choice = in.Byte();
        const std::string& path = (choice & 1) ? m_missing : m_file;
        const uint32_t mode = (choice >> 1) % 4;
        const bool closeFirst = (choice & 8) != 0;

        // Open on an open stream closes it first, its gathered bytes written back; either way the
        // file then holds the model's content, which a new reading open finds again.
        if (closeFirst && m.open)
            Close();
        const bool reopened = m.open && !m.shrunk;
        const std::string previous = m.content;

        bool existed = false;
        vfuzz::ReadWholeFile(path, &existed);
        vfuzz::ErrorMark mark;
        const bool result = m_stream->Open(vCString(path.c_str()), mode);

        const bool missingFolder = (&path == &m_missing);
        bool exists = false;
        const std::string disk = vfuzz::ReadWholeFile(path, &exists);
        if (reopened && !(mode == vEOpenMode_Write && !missingFolder))
            VFUZZ_CHECK(vfuzz::ReadWholeFile(m_file) == previous);
        const bool fails = mode == 0 || missingFolder || (mode == vEOpenMode_Read && !existed);
        if (fails)
        {
            const Expected failure{vEErrorCode_CannotOpen, 289,
                                   "Can't open the file \"" + path +
                                       (mode == vEOpenMode_Read ? "\" for reading." : "\" for writing.")};
            CheckOutcome(result, mark, &failure);
            VFUZZ_CHECK(m_stream->GetFilePath().GetLength() == 0);
            m = Model();
            return;
        }
        CheckOutcome(result, mark, nullptr);
        VFUZZ_CHECK(std::string(m_stream->GetFilePath().GetText()) == path);
        m = Model();
        m.open = true;
        m.mode = mode;
        m.path = path;
        if (mode == vEOpenMode_Write)
            VFUZZ_CHECK_EQ(disk.size(), size_t(0)); // emptied at once
        m.content = disk;
    }

    void Close()
    {
        const bool wasOpen = m.open;
        const bool result = m_stream->Close();
        VFUZZ_CHECK(result);
        VFUZZ_CHECK(m_stream->GetFilePath().GetLength() == 0);
        if (wasOpen && !m.shrunk)
            CheckDisk();
        m = Model();
    }

    void Read(uint32_t n, bool intoString)
    {
        std::string buffer(n, '\x5A');
        vCString s("stale");
        vfuzz::ErrorMark mark;
        const bool result = intoString ? m_stream->ReadString(s, n) : m_stream->Read(&buffer[0], n);
        if (intoString)
        {
            VFUZZ_CHECK_EQ(s.GetLength(), n); // the length is set whatever the read's outcome
            buffer.assign(s.GetText(), s.GetLength());
        }

        const Expected* failure = nullptr;
        if (n == 0)
            failure = nullptr;
        else if (!m.Readable())
            failure = &kReadNotReadable;
        else if (n > m.Size() - m.position)
            failure = &kReadPastEnd;

        if (failure == nullptr && n != 0 && m.shrunk && !result)
        {
            // Bytes the shortened file no longer has: refused, and the position went no further
            // than the bytes that were delivered.
            CheckOutcome(result, mark, &kLoadShort);
            const uint32_t reached = m_stream->Tell();
            VFUZZ_CHECK(reached >= m.position && reached <= m.position + n);
            m.position = reached;
            return;
        }
        CheckOutcome(result, mark, failure);
        if (failure != nullptr)
            return;
        VFUZZ_CHECK(buffer == m.content.substr(m.position, n));
        m.position += n;
    }

    void ReadNulTerminated()
    {
        vCString s("stale");
        vfuzz::ErrorMark mark;
        const bool result = m_stream->ReadString(s);
        const Expected* failure = nullptr;
        if (!m.Readable())
            failure = &kReadStringNotReadable;
        else if (m.position == m.Size())
            failure = &kReadStringAtEnd;

        if (failure == nullptr && m.shrunk && !result)
        {
            CheckOutcome(result, mark, &kLoadShort);
            const uint32_t reached = m_stream->Tell();
            VFUZZ_CHECK(reached >= m.position && reached <= m.Size());
            m.position = reached;
            return;
        }
        CheckOutcome(result, mark, failure);
        if (failure != nullptr)
            return;
        const size_t nul = m.content.find('\0', m.position);
        const size_t end = nul == std::string::npos ? m.content.size() : nul;
        const std::string expected = m.content.substr(m.position, end - m.position);
        VFUZZ_CHECK_EQ(s.GetLength(), static_cast<uint32_t>(expected.size()));
        VFUZZ_CHECK(std::string(s.GetText(), s.GetLength()) == expected);
        m.position = static_cast<uint32_t>(nul == std::string::npos ? end : end + 1);
    }

    void Seek(int32_t offset, uint8_t origin, bool viaSkip)
    {
        vfuzz::ErrorMark mark;
        const bool result = viaSkip ? m_stream->Skip(offset) : m_stream->Seek(offset, static_cast<vESeekMode>(origin));
        if (!m.open)
        {
            CheckOutcome(result, mark, &kSeekNotOpen);
            return;
        }
        uint32_t target = static_cast<uint32_t>(offset);
        if (origin == vESeekMode_Current)
            target = m.position + static_cast<uint32_t>(offset);
        else if (origin == vESeekMode_End)
            target = m.Size() - static_cast<uint32_t>(offset);
        if (target > m.Size())
        {
            CheckOutcome(result, mark, &kSeekPastEnd);
            return;
        }
        if (m.shrunk && !result)
        {
            // The window's new place lies where the file has no bytes any more; the position
            // is at the target, and the next access tries again.
            CheckOutcome(result, mark, &kLoadShort);
            VFUZZ_CHECK_EQ(m_stream->Tell(), target);
            m.position = target;
            return;
        }
        CheckOutcome(result, mark, nullptr);
        m.position = target;
    }

    void Write(const std::string& bytes, bool asString)
    {
        const uint32_t n = static_cast<uint32_t>(bytes.size());
        if (m.Writable() && m.position + n > kStreamContentLimit)
            return;
        vfuzz::ErrorMark mark;
        bool result = false;
        if (asString)
        {
            vCString s;
            s.AssignBuffer(bytes.data(), n); // a length of 0 with a present text measures it: ""
            result = m_stream->WriteString(s);
        }
        else
        {
            result = m_stream->Write(bytes.data(), n);
        }
        if (!m.Writable())
        {
            CheckOutcome(result, mark, &kWriteNotWritable);
            return;
        }
        CheckOutcome(result, mark, nullptr);
        if (m.content.size() < m.position + n)
            m.content.resize(m.position + n);
        m.content.replace(m.position, n, bytes);
        m.position += n;
    }

    // Another program truncates the file while the stream reads it. Only a stream that does not
    // write: a write-back into a shortened file is a different matter (holes), not modelled here.
    void Shrink(uint32_t length)
    {
        if (!m.open || m.mode != vEOpenMode_Read || length >= m.Size())
            return;
        std::string disk = vfuzz::ReadWholeFile(m_file);
        if (length < disk.size())
            vfuzz::WriteWholeFile(m_file, disk.substr(0, length));
        m.shrunk = true;
    }

    std::string m_file;
    std::string m_missing;
    std::unique_ptr<vCFileStream> m_stream{new vCFileStream()};
    Model m;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vfuzz::Input in(data, size);
    {
        Run run;
        run.Prepare(in);
        while (!in.Empty())
            run.Step(in);
        run.Finish();
    }
    vfuzz::TrimErrorChain();
    return 0;
}
