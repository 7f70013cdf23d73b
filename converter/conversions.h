// The two conversions. Each takes the open input stream (opened for reading, positioned after
// its first four bytes) and returns an empty string when the output was written, otherwise one
// sentence for the user. The input stays open; the caller closes it.
#pragma once

#include "ve_filestream.h"
#include "ve_string.h"

vCString ConvertWavToXsnd(vCFileStream& input);
vCString ConvertXsndToWav(vCFileStream& input);
