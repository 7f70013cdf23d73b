#include "ve_filestream.h"

#include "ve_platform.h"

#include <algorithm>
#include <cstring>

namespace {

// The largest window, and the limit up to which writes are gathered. 8191, not 8192, is
// deliberate: every window place and every write-back size of this stream follows from it.
constexpr uint32_t kWindowSize = 8191;
// Bytes a readable stream keeps in memory in front of its position when the window moves, so a
// short step back is served without touching the file.
constexpr uint32_t kBackMargin = 2730;
// Bytes a read-write stream keeps free behind the end of the file, to append into.
constexpr uint32_t kEndRoom = 2730;
static_assert(kWindowSize - kBackMargin == 5461, "a moved reading window loads 5461 new bytes");
static_assert(kEndRoom < kWindowSize, "a read-write window must still hold file bytes");

// Positions are unsigned 32-bit: the last addressable byte is at 4 GiB - 2.
constexpr uint64_t kLargestStreamSize = 0xFFFFFFFFu;

constexpr const char* kSourceFile = ".\\Vellum\\ve_filestream";

// Every failure this stream reports. The line values are fixed identifiers of the records,
// not positions in this file; never derive them from __LINE__.
enum class Failure : uint32_t
{
    ReadNotReadable,
    ReadPastEnd,
    ReadStringNotReadable,
    ReadStringAtEnd,
    SeekNotOpen,
    SeekPastEnd,
    WriteNotWritable,
    WriteTooLarge,
    WriteBackSeek,
    WriteBackShort,
    WriteBackFlush,
    LoadShort,
    CloseFailed,
    OpenForReading,
    OpenForWriting,
    OpenUnmeasurable,
    OpenTooLarge,
};

struct FailureRow
{
    Failure which;
    int32_t code;
    int32_t line;
    const char* message; // the whole sentence, or the part in front of the path
    const char* suffix;  // the part behind the path; null when the message names no path
};

constexpr FailureRow kFailures[] = {
    {Failure::ReadNotReadable, vEErrorCode_NotOpen, 43, "File is not open for reading operations.", nullptr},
    {Failure::ReadPastEnd, vEErrorCode_SizeExceeded, 48, "File size exceeded when reading binary data.", nullptr},
    {Failure::ReadStringNotReadable, vEErrorCode_NotOpen, 77, "File is not open for reading operations.", nullptr},
    {Failure::ReadStringAtEnd, vEErrorCode_SizeExceeded, 82, "File size exceeded when reading binary data.", nullptr},
    {Failure::SeekNotOpen, vEErrorCode_NotOpen, 109, "File is not open.", nullptr},
    {Failure::SeekPastEnd, vEErrorCode_SizeExceeded, 128, "File size exceeded when seeking.", nullptr},
    {Failure::WriteNotWritable, vEErrorCode_NotOpen, 160, "File is not open for writing operations.", nullptr},
    {Failure::WriteTooLarge, vEErrorCode_FileTooLarge, 165,
     "File size limit of 4 GiB - 1 bytes exceeded when writing.", nullptr},
    {Failure::WriteBackSeek, vEErrorCode_WriteFailed, 196,
     "Could not seek to the place of buffered data in the file; the data was not written.", nullptr},
    {Failure::WriteBackShort, vEErrorCode_WriteFailed, 201,
     "Could not write all buffered data to the file; the file is incomplete.", nullptr},
    {Failure::WriteBackFlush, vEErrorCode_WriteFailed, 206,
     "Could not flush buffered data to the file; the file is incomplete.", nullptr},
    {Failure::LoadShort, vEErrorCode_ReadFailed, 230,
     "File ended before its known size when reading binary data; it may have been truncated.", nullptr},
    {Failure::CloseFailed, vEErrorCode_WriteFailed, 270, "Could not close the file; written data may be lost.",
     nullptr},
    {Failure::OpenForReading, vEErrorCode_CannotOpen, 289, "Can't open the file \"", "\" for reading."},
    {Failure::OpenForWriting, vEErrorCode_CannotOpen, 289, "Can't open the file \"", "\" for writing."},
    {Failure::OpenUnmeasurable, vEErrorCode_CannotOpen, 292, "Can't determine the length of the file \"", "\"."},
    {Failure::OpenTooLarge, vEErrorCode_FileTooLarge, 294, "Can't open the file \"",
     "\": it is 4 GiB or larger."},
};

constexpr bool RowsInOrder()
{
    for (uint32_t i = 0; i < sizeof(kFailures) / sizeof(kFailures[0]); ++i)
        if (static_cast<uint32_t>(kFailures[i].which) != i)
            return false;
    return true;
}
static_assert(RowsInOrder(), "kFailures is indexed by Failure");

// Pushes the record of `which`; always false, so a failing operation can `return Fail(...)`.
bool Fail(Failure which)
{
    const FailureRow& row = kFailures[static_cast<uint32_t>(which)];
    PushStreamError(row.code, row.message, kSourceFile, row.line);
    return false;
}

// The same for a record whose sentence names a file.
bool Fail(Failure which, const vCString& path)
{
    const FailureRow& row = kFailures[static_cast<uint32_t>(which)];
    const vCString front = Concat(row.message, path);
    const vCString message = Concat(front, row.suffix);
    PushStreamError(row.code, message.GetText(), kSourceFile, row.line);
    return false;
}

bool IsReadable(uint32_t mode) { return (mode & vEOpenMode_Read) != 0; }
bool IsWritable(uint32_t mode) { return (mode & vEOpenMode_Write) != 0; }

} // namespace

vCFileStream::vCFileStream() { Reset(); }

vCFileStream::~vCFileStream() { Close(); }

void vCFileStream::Reset()
{
    m_window.Reserve(1);
    m_window.Clear();
    m_path.AssignText("");
    m_mode = 0;
    m_file = nullptr;
    m_fileSize = 0;
    m_windowStart = 0;
    m_position = 0;
    m_dirtyStart = 0;
    m_dirty = false;
    m_writeFailed = false;
}

bool vCFileStream::Open(const vCString& path, uint32_t mode)
{
    // Closing empties m_path, which may be the very string passed in.
    const vCString openPath(path);
    Close();

    // Mode 0 would open (and empty) the file yet leave the stream "not open"; refuse it.
    FILE* file = nullptr;
    if (mode == vEOpenMode_Read)
        file = vPlatformOpenFile(openPath.GetText(), "rb");
    else if (mode == vEOpenMode_ReadWrite)
    {
        file = vPlatformOpenFile(openPath.GetText(), "rb+");
        if (file == nullptr)
            file = vPlatformOpenFile(openPath.GetText(), "wb+");
    }
    else if (mode != 0)
        file = vPlatformOpenFile(openPath.GetText(), "wb");

    if (file == nullptr)
    {
        m_openFailure = vEErrorCode_CannotOpen;
        return Fail(mode == vEOpenMode_Read ? Failure::OpenForReading : Failure::OpenForWriting, openPath);
    }
    Attach(file, openPath, mode);
    return m_mode != 0;
}

void vCFileStream::Attach(FILE* file, const vCString& path, uint32_t mode)
{
    const vCString attachPath(path);
    Close();

    uint64_t length = 0;
    const bool measured = vPlatformFileLength(file, length);
    if (!measured || length > kLargestStreamSize)
    {
        // Taken modulo 2^32 the length would be a lie; the stream stays not open.
        std::fclose(file);
        m_openFailure = measured ? vEErrorCode_FileTooLarge : vEErrorCode_CannotOpen;
        Fail(measured ? Failure::OpenTooLarge : Failure::OpenUnmeasurable, attachPath);
        return;
    }

    m_file = file;
    m_fileSize = static_cast<uint32_t>(length);
    m_mode = mode;
    m_path.Assign(attachPath);
    m_openFailure = 0;
    MoveWindow(0);
}

bool vCFileStream::Close()
{
    if (m_file == nullptr)
        return true;
    FlushWindow();
    bool complete = !m_writeFailed;
    // A failed write-back has been reported already. Some C libraries (Windows') also make
    // fclose fail while the file's error indicator is set, which would report it twice.
    std::clearerr(m_file);
    if (std::fclose(m_file) != 0)
        complete = Fail(Failure::CloseFailed);
    Reset();
    return complete;
}

uint32_t vCFileStream::GetSize() { return std::max(m_fileSize, Tell()); }

uint32_t vCFileStream::Tell() { return m_windowStart + m_position; }

uint32_t vCFileStream::ReadFromFile(void* destination, uint32_t fileOffset, uint32_t n)
{
    if (!vPlatformSeek(m_file, fileOffset))
        return 0;
    return static_cast<uint32_t>(std::fread(destination, 1, n, m_file));
}

bool vCFileStream::FlushWindow()
{
    if (!m_dirty)
        return true;
    m_fileSize = GetSize();
    m_dirty = false;

    const uint32_t count = m_position - m_dirtyStart;
    bool complete = true;
    if (!vPlatformSeek(m_file, static_cast<uint64_t>(m_windowStart) + m_dirtyStart))
        complete = Fail(Failure::WriteBackSeek);
    else
    {
        const size_t written = std::fwrite(m_window.GetData() + m_dirtyStart, 1, count, m_file);
        const bool flushed = std::fflush(m_file) == 0;
        if (written != count)
            complete = Fail(Failure::WriteBackShort);
        else if (!flushed)
            complete = Fail(Failure::WriteBackFlush);
    }
    // The bytes are not kept for another attempt: the failure is reported once here, and Close
    // reports that the file is incomplete.
    if (!complete)
        m_writeFailed = true;
    return complete;
}

bool vCFileStream::MoveWindow(uint32_t target)
{
    const bool flushed = FlushWindow();

    const bool readable = IsReadable(m_mode);
    const uint32_t backMargin = readable ? kBackMargin : 0;
    const uint32_t endRoom = !readable ? kWindowSize : IsWritable(m_mode) ? kEndRoom : 0;

    const uint32_t size = GetSize();
    const uint32_t lastStart = size - std::min(size, kWindowSize - endRoom);
    const uint32_t oldStart = m_windowStart;
    const uint32_t newStart = target <= backMargin ? 0 : std::min(target - backMargin, lastStart);
    m_position = target - newStart;
    m_windowStart = newStart;

    // A write-only stream never reads the file: its window keeps whatever it held and is never
    // served, since reading such a stream is refused.
    if (!readable)
        return flushed;

    const uint32_t fill = std::min(GetSize() - newStart, kWindowSize);
    uint32_t needed = 0;
    uint32_t loaded = 0;
    if (m_window.GetSize() == 0)
    {
        m_window.Resize(fill);
        needed = fill;
        if (needed != 0)
            loaded = ReadFromFile(m_window.GetData(), newStart, needed);
    }
    else
    {
        // The bytes both windows share stay in memory; only the missing ones are read.
        m_window.Resize(kWindowSize);
        unsigned char* data = m_window.GetData();
        const int64_t delta =
            std::clamp<int64_t>(static_cast<int64_t>(newStart) - static_cast<int64_t>(oldStart),
                                -static_cast<int64_t>(kWindowSize), kWindowSize);
        if (delta >= 0)
        {
            const uint32_t kept = kWindowSize - static_cast<uint32_t>(delta);
            std::memmove(data, data + delta, kept);
            // Behind the kept bytes, only what lies before the end of the stream is in the file.
            needed = fill > kept ? fill - kept : 0;
            if (needed != 0)
                loaded = ReadFromFile(data + kept, newStart + kept, needed);
        }
        else
        {
            const uint32_t shift = static_cast<uint32_t>(-delta);
            std::memmove(data + shift, data, kWindowSize - shift);
            needed = std::min(shift, fill);
            loaded = ReadFromFile(data, newStart, needed);
        }
        m_window.Resize(fill);
    }

    if (loaded < needed)
    {
        // The file is shorter than the stream knows (truncated behind its back). Serve none of
        // the missing bytes: leave an empty window at the target, so the next access loads anew.
        m_window.Clear();
        m_windowStart = target;
        m_position = 0;
        Fail(Failure::LoadShort);
        return false;
    }
    return flushed;
}

bool vCFileStream::Read(void* destination, uint32_t n)
{
    if (n == 0)
        return true;
    // A write-only window holds leftovers of earlier places, not the file's bytes.
    if (!IsReadable(m_mode))
        return Fail(Failure::ReadNotReadable);
    if (n > GetSize() - Tell())
        return Fail(Failure::ReadPastEnd);

    unsigned char* out = static_cast<unsigned char*>(destination);
    for (;;)
    {
        const uint32_t piece = std::min(n, m_window.GetSize() - m_position);
        std::memcpy(out, m_window.GetData() + m_position, piece);
        m_position += piece;
        out += piece;
        n -= piece;
        if (n == 0)
            return true;
        if (!MoveWindow(Tell()))
            return false;
    }
}

bool vCFileStream::ReadString(vCString& s, uint32_t length)
{
    s.AssignBuffer(nullptr, length);
    return Read(s.GetText(), length);
}

bool vCFileStream::ReadString(vCString& s)
{
    if (!IsReadable(m_mode))
        return Fail(Failure::ReadStringNotReadable);
    if (Tell() == GetSize())
        return Fail(Failure::ReadStringAtEnd);

    bool first = true;
    for (;;)
    {
        // The window's NUL behind its last byte ends the scan at the latest.
        const char* start = reinterpret_cast<const char*>(m_window.GetData() + m_position);
        const uint32_t available = m_window.GetSize() - m_position;
        const void* nul = std::memchr(start, 0, available);
        const uint32_t length = nul != nullptr ? static_cast<uint32_t>(static_cast<const char*>(nul) - start) : available;
        const char* text = length != 0 ? start : nullptr;
        if (first)
            s.AssignBuffer(text, length);
        else
        {
            vCString rest;
            rest.AssignBuffer(text, length);
            s.Append(rest);
        }
        m_position += length;

        if (m_position < m_window.GetSize())
        {
            ++m_position; // the NUL
            return true;
        }
        if (Tell() == GetSize())
            return true; // the string ends with the file
        if (!MoveWindow(Tell()))
            return false;
        first = false;
    }
}

bool vCFileStream::Seek(int32_t offset, vESeekMode origin)
{
    if (m_mode == 0)
        return Fail(Failure::SeekNotOpen);
    if (!FlushWindow())
        return false;

    // Unsigned arithmetic with wrap-around: a negative offset from the current place moves back.
    uint32_t target = static_cast<uint32_t>(offset);
    if (origin == vESeekMode_Current)
        target = Tell() + static_cast<uint32_t>(offset);
    else if (origin == vESeekMode_End)
        target = GetSize() - static_cast<uint32_t>(offset);
    if (target > GetSize())
        return Fail(Failure::SeekPastEnd);

    // Just behind the window's last byte still counts as inside: the next access moves it.
    if (target >= m_windowStart && target - m_windowStart <= m_window.GetSize())
    {
        m_position = target - m_windowStart;
        return true;
    }
    return MoveWindow(target);
}

bool vCFileStream::Write(const void* source, uint32_t n)
{
    if (!IsWritable(m_mode))
        return Fail(Failure::WriteNotWritable);
    if (n > kLargestStreamSize - Tell())
        return Fail(Failure::WriteTooLarge);

    const unsigned char* in = static_cast<const unsigned char*>(source);
    for (;;)
    {
        if (!m_dirty)
        {
            m_dirtyStart = m_position;
            m_dirty = true;
        }
        const uint32_t piece = std::min(n, kWindowSize - m_position);
        m_window.WriteAt(m_position, in, piece);
        m_position += piece;
        in += piece;
        n -= piece;
        if (n == 0)
            return true;
        if (!MoveWindow(Tell()))
            return false;
    }
}

bool vCFileStream::WriteString(const vCString& s) { return Write(s.GetText(), s.GetLength()); }
