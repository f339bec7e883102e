// The program's own BMP reader: every bit depth (1, 2, 4, 8, 16, 24, 32),
// bit fields with or without alpha, RLE4 and RLE8, bottom-up and top-down
// files, and the plug-in DIBs that share its pixel rules.
#pragma once

#include "core/ImgInfo.h"

#include <cstddef>
#include <cstdint>

// The reader's refusals. Both are ETessivoError messages.
inline constexpr const char *BMP_UNSUPPORTED_MSG = "対応していない画像形式です";
inline constexpr const char *BMP_BROKEN_MSG = "画像ファイルが壊れています";

// Decodes a whole BMP file into Img (which must be empty): 8 bits per sample,
// PIXFMT_GRAY (gray palettes), PIXFMT_BGR or PIXFMT_BGRA, rows bottom-up.
// AlphaCheckType (ALPHA_CHECK_*) decides for 32-bit files without bit fields;
// FromPlugin keeps their alpha byte always. Raises ETessivoError with
// BMP_UNSUPPORTED_MSG for what the reader does not read and BMP_BROKEN_MSG
// for offsets, lengths or codes that do not fit the file; Img stays empty then.
void LoadBitmapFromMemory(const uint8_t *Data, size_t Size, TICCImgInfo &Img,
                          int32_t AlphaCheckType, bool FromPlugin = false);

// A DIB without file header (an info header, masks, palette, then pixels in
// one block), as image-loader plug-ins hand them over; pixels may also lie in
// a separate block (Bits, BitsSize).
void LoadDIBFromMemory(const uint8_t *Info, size_t InfoSize, const uint8_t *Bits, size_t BitsSize,
                       TICCImgInfo &Img, int32_t AlphaCheckType, bool FromPlugin);

// Size and densities of a header-less DIB at Data (its info header first);
// false when the bytes do not start with an info header this reader reads.
struct TDIBFacts {
  int32_t Width = 0, Height = 0;
  int32_t XPelsPerMeter = 0, YPelsPerMeter = 0;
};
bool ReadDIBHeaderFacts(const uint8_t *Data, size_t Size, TDIBFacts &Facts);

// Reverses the row order of Img in place (any depth and layout).
void FlipImageVertical(TICCImgInfo &Img);
