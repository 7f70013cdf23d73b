// The two conversions. Each takes the open input stream (opened for reading, positioned after
// its first four bytes) and returns an empty string when the output was written, otherwise one
// sentence for the user. The input stays open; the caller closes it.
//
// Neither ever changes its input, and neither leaves a file behind when it refuses: every check
// that can refuse comes before the output is opened, and an output whose bytes did not all
// reach the disk is removed again.
#pragma once

#include "ve_filestream.h"
#include "ve_string.h"

vCString ConvertWavToXsnd(vCFileStream& input);
vCString ConvertXsndToWav(vCFileStream& input);

// The path the output of `inputPath` goes to: its directory, the platform's separator, its file
// name without extension, then `extension`. A path without any separator stays without one, so
// that the output lands in the current directory, not at the root of a drive.
vCString MakeOutputPath(const vCString& inputPath, const char* extension);
