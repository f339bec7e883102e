// Nearest-colour search and the five dithers of the colour-reduction tools.
#include "tools/quant/Remap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

int32_t Dist2(const TRgba &c, int32_t R, int32_t G, int32_t B) {
  const int32_t dr = int32_t(c.R) - R, dg = int32_t(c.G) - G, db = int32_t(c.B) - B;
  return dr * dr + dg * dg + db * db;
}

// Squared distance from v to the interval [Lo, Hi] and to its far end.
int32_t NearSpan(int32_t v, int32_t Lo, int32_t Hi) {
  const int32_t d = v < Lo ? Lo - v : v > Hi ? v - Hi : 0;
  return d * d;
}
int32_t FarSpan(int32_t v, int32_t Lo, int32_t Hi) {
  const int32_t d = std::max(std::abs(v - Lo), std::abs(v - Hi));
  return d * d;
}

uint8_t Clamp8(float v) { return uint8_t(std::clamp(v, 0.0f, 255.0f) + 0.5f); }

// Cell (x, y) of an n x n Hilbert curve at distance d along it.
void HilbertPoint(uint32_t n, uint64_t d, uint32_t &x, uint32_t &y) {
  x = y = 0;
  for (uint32_t s = 1; s < n; s *= 2) {
    const uint32_t rx = uint32_t(1 & (d / 2));
    const uint32_t ry = uint32_t(1 & (d ^ rx));
    if (ry == 0) {
      if (rx == 1) {
        x = s - 1 - x;
        y = s - 1 - y;
      }
      std::swap(x, y);
    }
    x += s * rx;
    y += s * ry;
    d /= 4;
  }
}

// The typical distance between neighbouring palette colours: the mean over
// the entries of the distance to the nearest other entry. Ordered dithering
// spreads its thresholds over this much.
float PaletteSpacing(const std::vector<TRgba> &Palette) {
  if (Palette.size() < 2) return 0;
  double Sum = 0;
  for (size_t i = 0; i < Palette.size(); ++i) {
    int32_t Best = std::numeric_limits<int32_t>::max();
    for (size_t j = 0; j < Palette.size(); ++j)
      if (i != j) Best = std::min(Best, Dist2(Palette[j], Palette[i].R, Palette[i].G, Palette[i].B));
    Sum += std::sqrt(double(Best));
  }
  return float(Sum / double(Palette.size()));
}

// The 8 x 8 ordered-dither thresholds, 0 to 63.
constexpr std::array<uint8_t, 64> Bayer8 = {
    0,  32, 8,  40, 2,  34, 10, 42, 48, 16, 56, 24, 50, 18, 58, 26, 12, 44, 4,  36, 14, 46,
    6,  38, 60, 28, 52, 20, 62, 30, 54, 22, 3,  35, 11, 43, 1,  33, 9,  41, 51, 19, 59, 27,
    49, 17, 57, 25, 15, 47, 7,  39, 13, 45, 5,  37, 63, 31, 55, 23, 61, 29, 53, 21};

// An error larger than this (squared) is damped before it is passed on, so
// that a colour the palette lacks altogether does not smear streaks.
constexpr float MAX_CARRIED_ERROR2 = 48.0f * 48.0f;

struct TError {
  float R = 0, G = 0, B = 0;
};

void Damp(TError &e) {
  const float d2 = e.R * e.R + e.G * e.G + e.B * e.B;
  if (d2 > MAX_CARRIED_ERROR2) {
    const float k = std::sqrt(MAX_CARRIED_ERROR2 / d2);
    e.R *= k;
    e.G *= k;
    e.B *= k;
  }
}

class TRemapper {
public:
  TRemapper(const TPicture &P, const std::vector<TRgba> &Palette, const TRemapOptions &O)
      : Pic(P), Pal(Palette), Opt(O), Nearest(Palette, O.Reserved) {
    Out.Width = P.Width;
    Out.Height = P.Height;
    Out.Palette = Palette;
    Out.Indexes.assign(P.Pixels.size(), 0);
  }

  TIndexed Run() {
    switch (Opt.DitherType) {
      case DITHER_CURVE: AlongCurve(); break;
      case DITHER_DIFFUSION: Diffuse(false); break;
      case DITHER_ORDERED: Ordered(); break;
      case DITHER_DRAWING: Diffuse(true); break;
      default: Plain(); break;
    }
    return std::move(Out);
  }

private:
  bool IsReserved(const TRgba &p) const {
    return Opt.Reserved >= 0 && p.R == Opt.ReservedColour.R && p.G == Opt.ReservedColour.G &&
           p.B == Opt.ReservedColour.B;
  }
  size_t At(uint32_t x, uint32_t y) const { return size_t(y) * Pic.Width + x; }

  // Maps the pixel at i wanting (R, G, B) and answers the error left over.
  TError Put(size_t i, float R, float G, float B) {
    const uint8_t k = Nearest.Find(Clamp8(R), Clamp8(G), Clamp8(B));
    Out.Indexes[i] = k;
    const TRgba &c = Pal[k];
    return {std::clamp(R, 0.0f, 255.0f) - c.R, std::clamp(G, 0.0f, 255.0f) - c.G, std::clamp(B, 0.0f, 255.0f) - c.B};
  }

  // How much of the error each pixel passes on: dithering pays where the
  // undithered mapping gives whole areas one index (bands in a gradient)
  // and only adds noise where neighbours map to different entries anyway
  // (edges and texture).
  std::vector<float> DitherMap() {
    std::vector<uint8_t> Idx(Pic.Pixels.size());
    for (size_t i = 0; i < Idx.size(); ++i) {
      const TRgba &p = Pic.Pixels[i];
      Idx[i] = Nearest.Find(p.R, p.G, p.B);
    }
    std::vector<float> Map(Idx.size(), 1.0f);
    for (uint32_t y = 0; y < Pic.Height; ++y)
      for (uint32_t x = 0; x < Pic.Width; ++x) {
        const uint8_t c = Idx[At(x, y)];
        int32_t Same = 0, All = 0;
        for (int32_t dy = -1; dy <= 1; ++dy)
          for (int32_t dx = -1; dx <= 1; ++dx) {
            const int32_t u = int32_t(x) + dx, v = int32_t(y) + dy;
            if ((dx == 0 && dy == 0) || u < 0 || v < 0 || u >= int32_t(Pic.Width) || v >= int32_t(Pic.Height)) continue;
            ++All;
            Same += Idx[At(uint32_t(u), uint32_t(v))] == c;
          }
        // Squared, so that a pixel with a few differing neighbours already passes on much less.
        const float Share = All ? float(Same) / float(All) : 1.0f;
        Map[At(x, y)] = Share * Share;
      }
    return Map;
  }

  void Plain() {
    for (size_t i = 0; i < Pic.Pixels.size(); ++i) {
      const TRgba &p = Pic.Pixels[i];
      Out.Indexes[i] = IsReserved(p) ? uint8_t(Opt.Reserved) : Nearest.Find(p.R, p.G, p.B);
    }
  }

  // Floyd-Steinberg, alternating direction per row. For drawings a pixel in
  // a flat area takes its nearest colour undithered and passes nothing on.
  void Diffuse(bool Drawing) {
    const uint32_t W = Pic.Width;
    const std::vector<float> Map = DitherMap();
    std::vector<TError> Cur(W + 2), Next(W + 2);
    const float k = Opt.Strength;
    for (uint32_t y = 0; y < Pic.Height; ++y) {
      const bool Rtl = y % 2 == 1;
      std::fill(Next.begin(), Next.end(), TError{});
      for (uint32_t n = 0; n < W; ++n) {
        const uint32_t x = Rtl ? W - 1 - n : n;
        const size_t i = At(x, y);
        const TRgba &p = Pic.Pixels[i];
        if (IsReserved(p)) {
          Out.Indexes[i] = uint8_t(Opt.Reserved);
          continue;
        }
        if (Drawing && IsFlatPixel(Pic, x, y, FLAT_TOLERANCE)) {
          Out.Indexes[i] = Nearest.Find(p.R, p.G, p.B);
          continue;
        }
        const TError &In = Cur[x + 1];
        TError e = Put(i, p.R + In.R, p.G + In.G, p.B + In.B);
        const float kk = k * Map[i];
        e.R *= kk;
        e.G *= kk;
        e.B *= kk;
        Damp(e);
        const int32_t Ahead = Rtl ? -1 : 1;
        auto Add = [](TError &t, const TError &s, float w) {
          t.R += s.R * w;
          t.G += s.G * w;
          t.B += s.B * w;
        };
        Add(Cur[size_t(int32_t(x) + 1 + Ahead)], e, 7.0f / 16);
        Add(Next[size_t(int32_t(x) + 1 - Ahead)], e, 3.0f / 16);
        Add(Next[x + 1], e, 5.0f / 16);
        Add(Next[size_t(int32_t(x) + 1 + Ahead)], e, 1.0f / 16);
      }
      std::swap(Cur, Next);
    }
  }

  // Riemersma's dither: the pixels are visited along a Hilbert curve and
  // each takes the last QUEUE errors, the most recent weighing most.
  void AlongCurve() {
    constexpr int32_t QUEUE = 16;
    std::array<float, QUEUE> Weight;
    // The oldest error weighs 1/16 of the newest, geometrically in between.
    const float Ratio = std::pow(1.0f / 16, 1.0f / float(QUEUE - 1));
    float Sum = 0;
    for (int32_t i = 0; i < QUEUE; ++i) Sum += (Weight[size_t(i)] = std::pow(Ratio, float(QUEUE - 1 - i)));
    for (float &w : Weight) w /= Sum;
    std::array<TError, QUEUE> Queue{};
    uint32_t n = 1;
    while (n < Pic.Width || n < Pic.Height) n *= 2;
    const uint64_t Points = uint64_t(n) * n;
    const float k = Opt.Strength;
    for (uint64_t d = 0; d < Points; ++d) {
      uint32_t x, y;
      HilbertPoint(n, d, x, y);
      if (x >= Pic.Width || y >= Pic.Height) continue;
      const size_t i = At(x, y);
      const TRgba &p = Pic.Pixels[i];
      TError e{};
      if (IsReserved(p)) {
        Out.Indexes[i] = uint8_t(Opt.Reserved);
      } else {
        TError In{};
        for (int32_t q = 0; q < QUEUE; ++q) {
          In.R += Queue[size_t(q)].R * Weight[size_t(q)];
          In.G += Queue[size_t(q)].G * Weight[size_t(q)];
          In.B += Queue[size_t(q)].B * Weight[size_t(q)];
        }
        e = Put(i, p.R + In.R * k, p.G + In.G * k, p.B + In.B * k);
        Damp(e);
      }
      std::move(Queue.begin() + 1, Queue.end(), Queue.begin());
      Queue[QUEUE - 1] = e;
    }
  }

  void Ordered() {
    const float Spread = PaletteSpacing(Pal) * Opt.Strength;
    for (uint32_t y = 0; y < Pic.Height; ++y)
      for (uint32_t x = 0; x < Pic.Width; ++x) {
        const size_t i = At(x, y);
        const TRgba &p = Pic.Pixels[i];
        if (IsReserved(p)) {
          Out.Indexes[i] = uint8_t(Opt.Reserved);
          continue;
        }
        const float t = (float(Bayer8[(y % 8) * 8 + x % 8]) + 0.5f) / 64.0f - 0.5f;
        Put(i, p.R + t * Spread, p.G + t * Spread, p.B + t * Spread);
      }
  }

  static constexpr int32_t FLAT_TOLERANCE = 3;

  const TPicture &Pic;
  const std::vector<TRgba> &Pal;
  const TRemapOptions &Opt;
  TNearestColour Nearest;
  TIndexed Out;
};

}  // namespace

namespace {

// The entries of From that can be nearest to some colour of the box
// [Lo, Hi] per channel: those whose nearest point of the box is no farther
// than the farthest point of the box is from the best entry.
void BoxCandidates(const std::vector<TRgba> &Palette, const uint8_t *From, size_t Count, const int32_t Lo[3],
                   const int32_t Hi[3], std::vector<uint8_t> &Out, std::vector<int32_t> &Near) {
  Near.resize(Count);
  int32_t BestFar = std::numeric_limits<int32_t>::max();
  for (size_t k = 0; k < Count; ++k) {
    const TRgba &c = Palette[From[k]];
    Near[k] = NearSpan(c.R, Lo[0], Hi[0]) + NearSpan(c.G, Lo[1], Hi[1]) + NearSpan(c.B, Lo[2], Hi[2]);
    BestFar = std::min(BestFar, FarSpan(c.R, Lo[0], Hi[0]) + FarSpan(c.G, Lo[1], Hi[1]) + FarSpan(c.B, Lo[2], Hi[2]));
  }
  for (size_t k = 0; k < Count; ++k)
    if (Near[k] <= BestFar) Out.push_back(From[k]);
}

}  // namespace

TNearestColour::TNearestColour(const std::vector<TRgba> &Palette, int32_t Skip) : FPalette(Palette) {
  for (size_t i = 0; i < Palette.size() && i < 256; ++i)
    if (int32_t(i) != Skip) FUsable.push_back(uint8_t(i));
  if (FUsable.empty() && !Palette.empty()) FUsable.push_back(0);
  FCells.resize(size_t(CELLS) * CELLS * CELLS);
  FBlocks.resize(size_t(BLOCKS) * BLOCKS * BLOCKS);
}

// Two levels, made when first asked for: the candidates of a coarse block,
// then those of each cell among its block's (a cell's candidates are always
// among its block's), which spares testing every entry against every cell;
// a picture touches only a part of the colour cube.
const std::vector<uint8_t> &TNearestColour::Cell(int32_t R, int32_t G, int32_t B) const {
  const int32_t cr = R >> CELL_BITS, cg = G >> CELL_BITS, cb = B >> CELL_BITS;
  TList &C = FCells[(size_t(cr) * CELLS + size_t(cg)) * CELLS + size_t(cb)];
  if (C.Made) return C.Entries;
  const int32_t br = R >> BLOCK_BITS, bg = G >> BLOCK_BITS, bb = B >> BLOCK_BITS;
  TList &Bl = FBlocks[(size_t(br) * BLOCKS + size_t(bg)) * BLOCKS + size_t(bb)];
  if (!Bl.Made) {
    constexpr int32_t BlockStep = 1 << BLOCK_BITS;
    const int32_t Lo[3] = {br * BlockStep, bg * BlockStep, bb * BlockStep};
    const int32_t Hi[3] = {Lo[0] + BlockStep - 1, Lo[1] + BlockStep - 1, Lo[2] + BlockStep - 1};
    BoxCandidates(FPalette, FUsable.data(), FUsable.size(), Lo, Hi, Bl.Entries, FNear);
    Bl.Made = true;
  }
  constexpr int32_t Step = 1 << CELL_BITS;
  const int32_t Lo[3] = {cr * Step, cg * Step, cb * Step};
  const int32_t Hi[3] = {Lo[0] + Step - 1, Lo[1] + Step - 1, Lo[2] + Step - 1};
  BoxCandidates(FPalette, Bl.Entries.data(), Bl.Entries.size(), Lo, Hi, C.Entries, FNear);
  C.Made = true;
  return C.Entries;
}

uint8_t TNearestColour::Find(int32_t R, int32_t G, int32_t B) const {
  int32_t Best = std::numeric_limits<int32_t>::max();
  uint8_t Answer = 0;
  // Candidates are in palette order, so the first of equals wins as in the scan.
  for (const uint8_t e : Cell(R, G, B)) {
    const int32_t d = Dist2(FPalette[e], R, G, B);
    if (d < Best) {
      Best = d;
      Answer = e;
    }
  }
  return Answer;
}

uint8_t TNearestColour::FindByScan(int32_t R, int32_t G, int32_t B) const {
  int32_t Best = std::numeric_limits<int32_t>::max();
  uint8_t Answer = 0;
  for (const uint8_t e : FUsable) {
    const int32_t d = Dist2(FPalette[e], R, G, B);
    if (d < Best) {
      Best = d;
      Answer = e;
    }
  }
  return Answer;
}

bool IsFlatPixel(const TPicture &Picture, uint32_t x, uint32_t y, int32_t Tolerance) {
  const TRgba &c = Picture.At(x, y);
  const uint32_t x0 = x ? x - 1 : x, y0 = y ? y - 1 : y;
  const uint32_t x1 = std::min(x + 1, Picture.Width - 1), y1 = std::min(y + 1, Picture.Height - 1);
  for (uint32_t v = y0; v <= y1; ++v)
    for (uint32_t u = x0; u <= x1; ++u) {
      const TRgba &n = Picture.At(u, v);
      if (std::abs(int32_t(n.R) - c.R) > Tolerance || std::abs(int32_t(n.G) - c.G) > Tolerance ||
          std::abs(int32_t(n.B) - c.B) > Tolerance)
        return false;
    }
  return true;
}

TIndexed RemapPicture(const TPicture &Picture, const std::vector<TRgba> &Palette, const TRemapOptions &Options) {
  return TRemapper(Picture, Palette, Options).Run();
}
