// Path helpers: split a path at its last separator, '/' or '\\' alike, whichever comes later.
// They work on bytes only: no drive letters, no case rules, no check that the path exists.
// Each returns a new string; the path itself is not changed.
#pragma once

#include "ve_string.h"

// The characters after the last separator; the whole path when there is none.
vCString GetFileName(const vCString& path);

// The file name without its last extension: "a.b.c" -> "a.b", ".wav" -> "".
vCString GetFileNameWithoutExtension(const vCString& path);

// The characters before the last separator; empty when there is none or it is the first byte.
vCString GetDirectory(const vCString& path);

// True when the path holds a separator at all. "\\file.wav" has an empty directory part but
// still names a folder (the root); "file.wav" names none.
bool HasSeparator(const vCString& path);
