// Output types, from the lower-cased extension of the output name; the
// loader and the savers both decide by them.
#pragma once

#include "io/ImageProbe.h"

#include <cstdint>
#include <string>

enum : int32_t {
  OUTPUT_NONE = 0,
  OUTPUT_BMP = 1,   // ".bmp"
  OUTPUT_JPEG = 2,  // ".jpg", ".jpeg"
  OUTPUT_PNG = 3,   // ".png"
  OUTPUT_HDP = 4,   // ".wdp", ".hdp", ".jxr"
  OUTPUT_TIFF = 5,  // ".tif", ".tiff"
};

// The output type of a file name by its final extension, any case.
inline int32_t OutputTypeOf(const std::string &Path) {
  const std::string ext = LowerExtension(Path);
  if (ext == ".bmp") return OUTPUT_BMP;
  if (ext == ".jpg" || ext == ".jpeg") return OUTPUT_JPEG;
  if (ext == ".png") return OUTPUT_PNG;
  if (ext == ".wdp" || ext == ".hdp" || ext == ".jxr") return OUTPUT_HDP;
  if (ext == ".tif" || ext == ".tiff") return OUTPUT_TIFF;
  return OUTPUT_NONE;
}
