// Small JPEG encodes the Exif code needs: the carrier image and thumbnails.
// They go straight to libjpeg so that Exif handling does not wait for the
// codec library's encoders. Also the reduced thumbnail image itself, which the
// TIFF and HD Photo savers embed as pixels.
#pragma once

#include "core/ImgInfo.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class TMultiThread;
class TResizer;

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

// An 8-bit copy of Source reduced so that it fits 160 x 160 (smaller sources
// keep their size), in Source's pixel format; Thumbnail is a new record, left
// empty for a source without pixels or with more than 4 channels. Without a
// resizer (or one that cannot take the layout) pixels are averaged in boxes
// counted from the picture's top row, which is Source's first stored row when
// TopDown is set and its last one otherwise.
void MakeThumbnailImage(const TICCImgInfo &Source, TICCImgInfo &Thumbnail, TResizer *Resizer, TMultiThread *Pool,
                        bool TopDown = false);
