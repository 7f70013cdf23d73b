#include "conversions.h"

vCString ConvertXsndToWav(vCFileStream&)
{
    return vCString("The conversion from ._xsnd to .wav is not built yet.");
}
