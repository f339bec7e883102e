// A small owned image record for the resampling tests.
#pragma once

#include "core/ImgInfo.h"

#include <cstdint>

struct TTestImage {
  TICCImgInfo I{};
  TTestImage(uint32_t W, uint32_t H, uint32_t C, uint32_t BPP) {
    I.Width = W;
    I.Height = H;
    I.Channels = C;
    I.BPP = BPP;
    I.Bpl = BPP == BPP_8 ? GetAlignedBpl(W, C) : GetAlignedBpl16(W, C);
    I.Mem = AllocPixelBlock(I.Bpl, H);
    I.PixelFormat = C == 1 ? PIXFMT_GRAY : C == 3 ? PIXFMT_BGR : PIXFMT_BGRA;
  }
  ~TTestImage() { FreeICCImgInfo(I, false); }
  TTestImage(const TTestImage &) = delete;
  TTestImage &operator=(const TTestImage &) = delete;

  // Sample c of pixel (x, y), y counted in memory rows; 14-bit samples signed.
  int32_t Get(uint32_t x, uint32_t y, uint32_t c) const {
    const uint8_t *row = ScanLine(I, y);
    if (I.BPP == BPP_8) return row[x * I.Channels + c];
    if (I.BPP == BPP_14) return reinterpret_cast<const int16_t *>(row)[x * I.Channels + c];
    return reinterpret_cast<const uint16_t *>(row)[x * I.Channels + c];
  }
  void Set(uint32_t x, uint32_t y, uint32_t c, int32_t v) {
    uint8_t *row = ScanLine(I, y);
    if (I.BPP == BPP_8)
      row[x * I.Channels + c] = uint8_t(v);
    else
      reinterpret_cast<uint16_t *>(row)[x * I.Channels + c] = uint16_t(v);
  }
  template <class F>
  void Fill(F Value) {
    for (uint32_t y = 0; y < I.Height; ++y)
      for (uint32_t x = 0; x < I.Width; ++x)
        for (uint32_t c = 0; c < I.Channels; ++c) Set(x, y, c, Value(x, y, c));
  }
};
