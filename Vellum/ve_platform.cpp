// 64-bit offsets for fopen/fseeko/ftello on 32-bit glibc; must precede every system header.
#if !defined(_WIN32) && !defined(_FILE_OFFSET_BITS)
#define _FILE_OFFSET_BITS 64
#endif

#include "ve_platform.h"

#include <cstdio>
#include <ctime>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#else
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

FILE* vPlatformOpenFile(const char* path, const char* mode)
{
    FILE* file = std::fopen(path, mode);
#if !defined(_WIN32)
    // POSIX opens a directory for reading, as Windows does not. It holds no bytes to convert, and
    // what seeking to its end reports (on ext4 nearly 2^63) is no length.
    struct stat status;
    if (file != nullptr && fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode))
    {
        std::fclose(file);
        return nullptr;
    }
#endif
    // With its default buffer of 4096 bytes the C library would split each 8191-byte write into
    // two system calls and read in 4096-byte pieces, copying every byte once more on the way.
    if (file != nullptr)
        std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

bool vPlatformSeek(FILE* file, uint64_t offset)
{
#if defined(_WIN32)
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool vPlatformFileLength(FILE* file, uint64_t& length)
{
#if defined(_WIN32)
    if (_fseeki64(file, 0, SEEK_END) != 0)
        return false;
    const __int64 end = _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0)
        return false;
    const off_t end = ftello(file);
#endif
    if (end < 0)
        return false;
    length = static_cast<uint64_t>(end);
    return true;
}

void vPlatformPreferHugePages(void* block, size_t size)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Only whole, aligned huge pages inside the block can be advised; the ends keep small pages.
    const uintptr_t hugePage = uintptr_t(2) << 20;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(block) + hugePage - 1) & ~(hugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(hugePage - 1);
    // Advice only: when it is refused, the block works the same with small pages.
    if (block != nullptr && end > first)
        madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)size;
#endif
}

int64_t vPlatformNow()
{
    return static_cast<int64_t>(std::time(nullptr));
}

#if defined(_WIN32)
// Arguments arrive exactly as the command line spells them: the C runtime must not expand
// wildcards (a name passed as "*.wav" is reported as passed, not replaced by some other file).
extern "C" {
int _dowildcard = 0;
}

namespace {

// A console window shows narrow text in its own (OEM) code page, while arguments and so the
// paths in messages are in the ANSI code page. Text for a console is therefore widened from the
// ANSI code page and written as UTF-16, so that every character appears as it was passed.
// Redirected output (a pipe or a file) gets the bytes themselves.
bool StandardOutputIsConsole(HANDLE& handle)
{
    handle = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

void WriteWide(HANDLE console, const wchar_t* text, uint32_t length)
{
    while (length > 0)
    {
        DWORD written = 0;
        if (!WriteConsoleW(console, text, length, &written, nullptr) || written == 0)
            return;
        text += written;
        length -= written;
    }
}

// Widens one run of text that holds no line feed.
void WriteConsoleRun(HANDLE console, const char* text, uint32_t length)
{
    if (length == 0)
        return;
    const int inLength = static_cast<int>(length);
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, text, inLength, nullptr, 0);
    if (wideLength <= 0)
        return;
    wchar_t* wide = new wchar_t[static_cast<size_t>(wideLength)];
    MultiByteToWideChar(CP_ACP, 0, text, inLength, wide, wideLength);
    WriteWide(console, wide, static_cast<uint32_t>(wideLength));
    delete[] wide;
}

} // namespace

void vPlatformWriteConsole(const char* text, uint32_t length)
{
    HANDLE console;
    if (!StandardOutputIsConsole(console))
    {
        // Text mode: each "\n" reaches the file or pipe as "\r\n", every other byte unchanged.
        std::fwrite(text, 1, length, stdout);
        return;
    }
    std::fflush(stdout);
    // A line feed becomes carriage return and line feed, as text-mode output would write it.
    uint32_t runStart = 0;
    for (uint32_t i = 0; i < length; ++i)
    {
        if (text[i] != '\n')
            continue;
        WriteConsoleRun(console, text + runStart, i - runStart);
        WriteWide(console, L"\r\n", 2);
        runStart = i + 1;
    }
    WriteConsoleRun(console, text + runStart, length - runStart);
}
#else
void vPlatformWriteConsole(const char* text, uint32_t length)
{
    std::fwrite(text, 1, length, stdout);
}
#endif

void vPlatformFlushConsole()
{
    std::fflush(stdout);
}

// In text mode the C runtime turns the "\r\n" that ENTER gives into "\n" on Windows.
int vPlatformReadConsoleChar()
{
    const int c = std::getchar();
    return c == EOF ? -1 : c;
}

bool vPlatformIsSameFile(const char* pathA, const char* pathB)
{
#if defined(_WIN32)
    auto identify = [](const char* path, BY_HANDLE_FILE_INFORMATION& info) {
        HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        const BOOL ok = GetFileInformationByHandle(h, &info);
        CloseHandle(h);
        return ok != 0;
    };
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    if (!identify(pathA, a) || !identify(pathB, b))
        return false;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
#else
    struct stat a{}, b{};
    if (stat(pathA, &a) != 0 || stat(pathB, &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
#endif
}

bool vPlatformRemoveFile(const char* path)
{
    return std::remove(path) == 0;
}

#if defined(_WIN32)
bool vPlatformArgumentIsExact(int index)
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr)
        return true; // nothing to compare with
    bool exact = true;
    if (index >= 0 && index < count)
    {
        // Converted without best-fit look-alikes, a character that the code page lacks shows.
        BOOL lacking = FALSE;
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, arguments[index], -1, nullptr, 0, nullptr, &lacking);
        exact = lacking == FALSE;
    }
    LocalFree(arguments);
    return exact;
}
#else
bool vPlatformArgumentIsExact(int) { return true; }
#endif
