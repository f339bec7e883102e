// Mapping a picture onto a palette: the nearest colour, found through a grid
// of candidate lists, and the dithers of the colour-reduction tools.
#pragma once

#include "tools/quant/QuantTool.h"

#include <cstdint>
#include <vector>

// The nearest palette entry (squared RGB distance; the first of equals) to
// any colour. The RGB cube is cut into cells; each cell keeps the entries
// that can be nearest to some colour inside it, so a search looks at a few
// entries instead of all of them. Alpha is not looked at. The lists are
// made when first needed.
class TNearestColour {
public:
  // Skip: an entry never answered (the transparent one), or -1.
  explicit TNearestColour(const std::vector<TRgba> &Palette, int32_t Skip = -1);
  uint8_t Find(int32_t R, int32_t G, int32_t B) const;
  // The plain search over every entry, which the grid must agree with.
  uint8_t FindByScan(int32_t R, int32_t G, int32_t B) const;

private:
  static constexpr int32_t CELL_BITS = 3;  // cells of 8 x 8 x 8 values
  static constexpr int32_t CELLS = 256 >> CELL_BITS;
  static constexpr int32_t BLOCK_BITS = 5;  // blocks of 4 x 4 x 4 cells
  static constexpr int32_t BLOCKS = 256 >> BLOCK_BITS;
  struct TList {
    bool Made = false;
    std::vector<uint8_t> Entries;  // in palette order
  };
  const std::vector<uint8_t> &Cell(int32_t R, int32_t G, int32_t B) const;
  std::vector<TRgba> FPalette;
  std::vector<uint8_t> FUsable;  // indexes of the entries searched
  // Made on first use; a search is not to be shared between threads.
  mutable std::vector<TList> FCells, FBlocks;
  mutable std::vector<int32_t> FNear;
};

enum : int32_t {
  DITHER_NONE = 0,
  DITHER_CURVE = 1,      // error carried along a Hilbert curve
  DITHER_DIFFUSION = 2,  // Floyd-Steinberg, serpentine
  DITHER_ORDERED = 3,    // 8 x 8 thresholds scaled to the palette's spacing
  DITHER_DRAWING = 4,    // flat areas undithered, gradients diffused
};

struct TRemapOptions {
  int32_t DitherType = DITHER_DIFFUSION;
  float Strength = 0.8f;    // 0 to 1
  int32_t Reserved = -1;    // an entry only pixels of exactly ReservedColour take
  TRgba ReservedColour{};
};

// Every pixel as an index into Palette (at most 256 entries).
TIndexed RemapPicture(const TPicture &Picture, const std::vector<TRgba> &Palette, const TRemapOptions &Options);

// Whether the pixel at (x, y) lies in a flat area: no neighbour of its 3 x 3
// block differs from it by more than Tolerance in any channel.
bool IsFlatPixel(const TPicture &Picture, uint32_t x, uint32_t y, int32_t Tolerance);
