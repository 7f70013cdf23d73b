// 64-bit offsets for fopen/fseeko/ftello on 32-bit glibc; must precede every system header.
#if !defined(_WIN32) && !defined(_FILE_OFFSET_BITS)
#define _FILE_OFFSET_BITS 64
#endif

#include "ve_platform.h"

#include <cstdio>
#include <ctime>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

FILE* vPlatformOpenFile(const char* path, const char* mode)
{
    return std::fopen(path, mode);
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

int64_t vPlatformNow()
{
    return static_cast<int64_t>(std::time(nullptr));
}

void vPlatformWriteConsole(const char* text, uint32_t length)
{
    std::fwrite(text, 1, length, stdout);
}

void vPlatformFlushConsole()
{
    std::fflush(stdout);
}

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
