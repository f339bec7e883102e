// Whole-image rotations and mirrorings of a TICCImgInfo, for 1 to 4 channels
// of 8-bit, 14-bit or 16-bit samples. The quarter turns allocate a new block
// with width and height swapped and transpose in tiles of 64 x 64 pixels so
// that both the rows read and the rows written stay in the cache; 8-bit
// images of 1, 3 or 4 channels go by vector blocks of 16 x 16 pixels instead
// (GeometryKernels.h), writing each destination row left to right. The half
// turn, the mirror and the flip work in place. Directions are those of the
// picture as seen, whatever the bottom-up row order.
#pragma once

#include "core/ImgInfo.h"

class TMultiThread;

// The operations of the rotation step, by the index of its operation list.
enum class TGeometryOp : int32_t {
  Rotate90CW = 0,
  Rotate180 = 1,
  Rotate90CCW = 2,
  MirrorLeftRight = 3,
  FlipTopBottom = 4,
};

// Pool may be null (one thread). An image whose pixel size is not 1 to 8
// bytes, or without pixels, raises ETessivoError.
void Rotate90CW(TICCImgInfo &Img, TMultiThread *Pool = nullptr);
void Rotate90CCW(TICCImgInfo &Img, TMultiThread *Pool = nullptr);
void Rotate180(TICCImgInfo &Img, TMultiThread *Pool = nullptr);
void MirrorLeftRight(TICCImgInfo &Img, TMultiThread *Pool = nullptr);
void FlipTopBottom(TICCImgInfo &Img, TMultiThread *Pool = nullptr);
void ApplyGeometryOp(TICCImgInfo &Img, TGeometryOp Op, TMultiThread *Pool = nullptr);

// The reference for the quarter turns: one pixel at a time in picture
// coordinates, no tiles, one thread. Tests check the tiled paths against it.
void Rotate90Plain(TICCImgInfo &Img, bool Clockwise);
