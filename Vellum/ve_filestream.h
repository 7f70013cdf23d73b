// vCFileStream: a stream over a file on disk with a window of at most 8191 bytes in memory.
//
// Reads are served from the window and writes are gathered in it. Two operations alone touch
// the window's place and the file: MoveWindow is the only one that changes the window start
// (and loads the bytes a readable stream needs through the virtual ReadFromFile), FlushWindow
// the only one that writes bytes to the file. Read, Write, Seek and Close do position
// arithmetic and call those two.
//
// States of the window:
//   not open   mode 0, window empty, positions 0.
//   clean      the window holds file bytes (readable modes) or leftovers of an earlier place
//              (write-only, never served), nothing to write back.
//   dirty      bytes from m_dirtyStart up to m_position are not in the file yet.
// Invariants: m_position <= window size <= 8191; in a readable mode a window shorter than
// 8191 bytes reaches the end of the stream.
//
// Positions and sizes are unsigned 32-bit: files up to 4 GiB - 1 are handled, larger ones are
// refused when they are opened.
#pragma once

#include "ve_bytebuffer.h"
#include "ve_error.h"
#include "ve_stream.h"
#include "ve_string.h"

#include <cstdint>
#include <cstdio>

class vCFileStream : public vTIOStream<0>
{
public:
    vCFileStream();
    ~vCFileStream() override;
    vCFileStream(const vCFileStream&) = delete;
    vCFileStream& operator=(const vCFileStream&) = delete;

    // Input table, in slot order.
    bool ReadString(vCString& s) override;
    bool ReadString(vCString& s, uint32_t length) override;
    // Refused on a stream that is not readable (its window is never loaded from the file). A
    // read that needs bytes the file no longer delivers (shortened behind the stream) fails.
    bool Read(void* destination, uint32_t n) override;
    bool ReservedInput(uint32_t, uint32_t) override { return true; }
    uint32_t GetSize() override;
    bool Seek(int32_t offset, vESeekMode origin) override;
    uint32_t Tell() override;
    // Reads straight from the file, past the window; the count the file delivered.
    virtual uint32_t ReadFromFile(void* destination, uint32_t fileOffset, uint32_t n);
    // Takes the open handle over (an open stream is written back and closed first). A file of
    // 4 GiB or more, or one that cannot be measured, is closed again and the stream stays not
    // open, with GetOpenFailure() telling why.
    virtual void Attach(FILE* file, const vCString& path, uint32_t mode);

    // Output table.
    bool WriteString(const vCString& s) override;
    // False when the stream is not writable, when the stream would pass 4 GiB - 1 bytes, or when
    // a write-back of the gathered bytes inside it failed.
    bool Write(const void* source, uint32_t n) override;
    bool ReservedOutput(uint32_t, uint32_t) override { return true; }

    // An open stream is written back and closed first, also when the new file cannot be opened.
    // Mode 0 is refused without touching the file.
    bool Open(const vCString& path, uint32_t mode);
    // Writes back and closes. False when bytes gathered since opening did not all reach the
    // file (a write, flush or close failed); nothing to do on a stream that is not open.
    bool Close();
    const vCString& GetFilePath() const { return m_path; }
    // Why the most recent Open or Attach failed (vEErrorCode_CannotOpen or
    // vEErrorCode_FileTooLarge); 0 when it succeeded.
    int32_t GetOpenFailure() const { return m_openFailure; }

protected:
    void Reset();
    // Writes the dirty bytes back; false when they did not all reach the file.
    bool FlushWindow();
    // Places the window around `target` (never above GetSize()); false when the write-back
    // before the move failed or the file delivered fewer bytes than the new window needs. After
    // a short load the window is empty and starts at `target`, with the position there.
    bool MoveWindow(uint32_t target);

    vCByteBuffer m_window;
    vCString m_path;
    uint32_t m_mode = 0;
    FILE* m_file = nullptr;
    uint32_t m_fileSize = 0;
    uint32_t m_windowStart = 0;
    uint32_t m_position = 0;
    uint32_t m_dirtyStart = 0;
    bool m_dirty = false;
    bool m_writeFailed = false; // a write-back or flush failed since the file was opened
    int32_t m_openFailure = 0;
};
