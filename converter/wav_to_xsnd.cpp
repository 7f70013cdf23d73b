#include "conversions.h"

vCString ConvertWavToXsnd(vCFileStream&)
{
    return vCString("The conversion from .wav to ._xsnd is not built yet.");
}
