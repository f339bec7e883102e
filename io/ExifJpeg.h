// Small JPEG encodes the Exif code needs: the carrier image and thumbnails.
// They go straight to libjpeg so that Exif handling does not wait for the
// codec library's encoders.
#pragma once

#include "ImgInfo.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct TJpegEncodeParams {
  int32_t Quality = 90;
  int32_t HSamp = 2, VSamp = 2;  // luma sampling factors
  bool OmitAPP0 = true;
  const uint8_t *App1 = nullptr;  // APP1 payload written after the header
  size_t App1Len = 0;
  uint8_t DensityUnit = 0;        // JFIF: 0 aspect ratio, 1 dpi, 2 dpcm
  uint16_t XDensity = 1, YDensity = 1;
};

// Encodes an 8-bit image (gray, BGR, BGRA with alpha ignored, or YCC) with
// bottom-up rows. False when libjpeg refuses or the result exceeds Limit bytes.
bool EncodeJpegToMemory(const TICCImgInfo &Img, const TJpegEncodeParams &Params, std::vector<uint8_t> &Out,
                        size_t Limit);
