// Output types, from the lower-cased extension of the output name; the
// loader and the savers both decide by them.
#pragma once

#include <cstdint>

enum : int32_t {
  OUTPUT_NONE = 0,
  OUTPUT_BMP = 1,   // ".bmp"
  OUTPUT_JPEG = 2,  // ".jpg", ".jpeg"
  OUTPUT_PNG = 3,   // ".png"
  OUTPUT_HDP = 4,   // ".wdp", ".hdp", ".jxr"
  OUTPUT_TIFF = 5,  // ".tif", ".tiff"
};
