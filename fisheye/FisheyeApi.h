// The record shared by the lens library (bin/libfisheye.so) and the lens
// correction effect: "even_4tap" and "odd_4tap" are pool jobs that turn a
// square orthographic fisheye picture into an equidistant one of the same
// side and angle of view, interpolating with 4 x 4 taps from the phase
// tables the program builds at start-up.
//
// Geometry of one call, with N = 2 x HalfSize (+1 for "odd_4tap"):
//  - Src points at the first row of a bordered source: N + 6 rows of
//    N + 6 pixels, 3 bytes each, the picture at 3 pixels from the left and
//    3 rows from the first row, the border black;
//  - Dest points at the first row of an N x N square, 3 bytes a pixel;
//  - both squares share their centre and their angle of view SrcHFOV
//    (degrees, across the width). A result pixel at distance r from the
//    centre looks at theta = r x SrcHFOV / N; it is taken from the source at
//    radius F sin(theta), F = (N / 2) / sin(min(SrcHFOV, 180) / 2); a theta
//    beyond 90 degrees, or a point outside the source, gives black.
//  - An even square has its centre on a pixel corner, so positions are
//    counted from pixel edges and the EvenTaps phases apply; an odd one has
//    it on the middle pixel's centre, positions count from pixel centres and
//    the OddTaps phases apply. The phase of a position is its fraction in
//    1/128 steps.
#pragma once

#include <cstdint>

using TFisheyeProc = void (*)(int32_t ThreadIndex, int32_t ThreadCount, void *Param);

// Phases and taps of each table.
constexpr int32_t FisheyePhases = 128;
constexpr int32_t FisheyeTaps = 4;
// Black pixels around the source square (enough for a 4-tap kernel at a
// position up to one pixel outside the square).
constexpr int32_t FisheyeBorder = 3;

#pragma pack(push, 4)
struct TFisheyeParam {
  const uint8_t *Src;
  uint8_t *Dest;
  int32_t HalfSize;
  int32_t SrcBpl;
  int32_t DestBpl;
  const double (*Taps)[FisheyeTaps];  // FisheyePhases rows
  double SrcHFOV;
};
#pragma pack(pop)
using PFisheyeParam = TFisheyeParam *;
