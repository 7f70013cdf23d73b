// Everything that differs between Windows and POSIX lives behind this header and
// ve_platform.cpp: the separator that output paths get, file opening with 64-bit offsets,
// the console, the clock and file identity. No other file of the project tests a platform macro.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#if defined(_WIN32)
inline constexpr char vPathSeparator = '\\';
#else
inline constexpr char vPathSeparator = '/';
#endif

// fopen with large-file support: files up to 4 GiB - 1 must open on 32-bit builds too. The
// file is unbuffered: its callers read and write whole windows, which the C library then passes
// to the system in one call each, without copying them through a buffer of its own.
FILE* vPlatformOpenFile(const char* path, const char* mode);

// Positions the file at an absolute 64-bit offset; false when the C library refuses.
bool vPlatformSeek(FILE* file, uint64_t offset);

// The file's length, found by seeking to its end (the file is left positioned there).
bool vPlatformFileLength(FILE* file, uint64_t& length);

// Asks the system to back the block's whole 2 MiB stretches with huge pages, so that filling a
// block of hundreds of MiB costs a few hundred page faults rather than one per 4 KiB. Call it
// before the block is first touched; where there are no huge pages it does nothing.
void vPlatformPreferHugePages(void* block, size_t size);

// Current calendar time in whole seconds since 1970-01-01 00:00:00 UTC.
int64_t vPlatformNow();

// Writes bytes to standard output unchanged, however they look (never used as a format).
void vPlatformWriteConsole(const char* text, uint32_t length);
void vPlatformFlushConsole();

// One character from standard input, or -1 at the end of input.
int vPlatformReadConsoleChar();

// True when both paths name one existing file, however they are spelled.
bool vPlatformIsSameFile(const char* pathA, const char* pathB);

// Removes a file; false when it could not be removed.
bool vPlatformRemoveFile(const char* path);

// False when command-line argument `index` reached main altered. On Windows the narrow
// arguments are the command line in the ANSI code page, where a character that the code page
// lacks becomes '?' or a look-alike ("ā.wav" arrives as "a.wav"), so the argument may name
// another file than the one dropped. Always true where arguments arrive as they were given.
bool vPlatformArgumentIsExact(int index);
