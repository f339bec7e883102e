// Wu's colour quantiser (X. Wu, "Efficient statistical computations for
// optimal color quantization", Graphics Gems II) with k-means refinement.
#include "tools/quant/WuPalette.h"

#include "tools/quant/Remap.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// 5 bits per channel and a zero plane in front of each axis, so that the
// cumulative moments can be read at index 0.
constexpr int32_t SIDE = 33;

struct TMoments {
  std::vector<int64_t> W, R, G, B;
  std::vector<double> Q;  // sum of squared values
  TMoments() : W(SIDE * SIDE * SIDE), R(W.size()), G(W.size()), B(W.size()), Q(W.size()) {}
  static size_t At(int32_t r, int32_t g, int32_t b) { return (size_t(r) * SIDE + size_t(g)) * SIDE + size_t(b); }
};

struct TBox {
  int32_t R0, R1, G0, G1, B0, B1;  // lower bounds exclusive, upper inclusive
  int32_t Volume;
};

enum TAxis { RED, GREEN, BLUE };

template <class T>
T Vol(const TBox &c, const std::vector<T> &m) {
  return m[TMoments::At(c.R1, c.G1, c.B1)] - m[TMoments::At(c.R1, c.G1, c.B0)] - m[TMoments::At(c.R1, c.G0, c.B1)] +
         m[TMoments::At(c.R1, c.G0, c.B0)] - m[TMoments::At(c.R0, c.G1, c.B1)] + m[TMoments::At(c.R0, c.G1, c.B0)] +
         m[TMoments::At(c.R0, c.G0, c.B1)] - m[TMoments::At(c.R0, c.G0, c.B0)];
}

// The part of Vol that does not depend on the cut position along Axis.
int64_t Bottom(const TBox &c, TAxis Axis, const std::vector<int64_t> &m) {
  switch (Axis) {
    case RED:
      return -m[TMoments::At(c.R0, c.G1, c.B1)] + m[TMoments::At(c.R0, c.G1, c.B0)] +
             m[TMoments::At(c.R0, c.G0, c.B1)] - m[TMoments::At(c.R0, c.G0, c.B0)];
    case GREEN:
      return -m[TMoments::At(c.R1, c.G0, c.B1)] + m[TMoments::At(c.R1, c.G0, c.B0)] +
             m[TMoments::At(c.R0, c.G0, c.B1)] - m[TMoments::At(c.R0, c.G0, c.B0)];
    default:
      return -m[TMoments::At(c.R1, c.G1, c.B0)] + m[TMoments::At(c.R1, c.G0, c.B0)] +
             m[TMoments::At(c.R0, c.G1, c.B0)] - m[TMoments::At(c.R0, c.G0, c.B0)];
  }
}

// The rest of Vol with the box's upper bound along Axis at Pos.
int64_t Top(const TBox &c, TAxis Axis, int32_t Pos, const std::vector<int64_t> &m) {
  switch (Axis) {
    case RED:
      return m[TMoments::At(Pos, c.G1, c.B1)] - m[TMoments::At(Pos, c.G1, c.B0)] - m[TMoments::At(Pos, c.G0, c.B1)] +
             m[TMoments::At(Pos, c.G0, c.B0)];
    case GREEN:
      return m[TMoments::At(c.R1, Pos, c.B1)] - m[TMoments::At(c.R1, Pos, c.B0)] - m[TMoments::At(c.R0, Pos, c.B1)] +
             m[TMoments::At(c.R0, Pos, c.B0)];
    default:
      return m[TMoments::At(c.R1, c.G1, Pos)] - m[TMoments::At(c.R1, c.G0, Pos)] - m[TMoments::At(c.R0, c.G1, Pos)] +
             m[TMoments::At(c.R0, c.G0, Pos)];
  }
}

class TWu {
public:
  explicit TWu(const TRgba *Pixels, size_t Count) {
    for (size_t i = 0; i < Count; ++i) {
      const TRgba &p = Pixels[i];
      const size_t k = TMoments::At((p.R >> 3) + 1, (p.G >> 3) + 1, (p.B >> 3) + 1);
      ++M.W[k];
      M.R[k] += p.R;
      M.G[k] += p.G;
      M.B[k] += p.B;
      M.Q[k] += double(p.R) * p.R + double(p.G) * p.G + double(p.B) * p.B;
    }
    Accumulate();
  }

  std::vector<TRgba> Boxes(int32_t Wanted) {
    std::vector<TBox> Cubes(size_t(std::max(Wanted, 1)));
    std::vector<double> Variance(Cubes.size(), 0);
    Cubes[0] = {0, SIDE - 1, 0, SIDE - 1, 0, SIDE - 1, 0};
    int32_t Made = 1;
    size_t Next = 0;
    for (int32_t i = 1; i < Wanted; ++i) {
      if (Cut(Cubes[Next], Cubes[size_t(i)])) {
        Variance[Next] = Cubes[Next].Volume > 1 ? Var(Cubes[Next]) : 0;
        Variance[size_t(i)] = Cubes[size_t(i)].Volume > 1 ? Var(Cubes[size_t(i)]) : 0;
        Made = i + 1;
      } else {
        Variance[Next] = 0;  // this box cannot be split
        --i;
      }
      Next = size_t(std::max_element(Variance.begin(), Variance.begin() + Made) - Variance.begin());
      if (Variance[Next] <= 0) break;
    }
    std::vector<TRgba> Palette;
    for (int32_t i = 0; i < Made; ++i) {
      const TBox &c = Cubes[size_t(i)];
      const int64_t w = Vol(c, M.W);
      if (w <= 0) continue;
      const auto Mean = [&](const std::vector<int64_t> &m) { return uint8_t((Vol(c, m) + w / 2) / w); };
      Palette.push_back(TRgba{Mean(M.R), Mean(M.G), Mean(M.B), 255});
    }
    return Palette;
  }

private:
  void Accumulate() {
    std::vector<int64_t> AreaW(SIDE), AreaR(SIDE), AreaG(SIDE), AreaB(SIDE);
    std::vector<double> AreaQ(SIDE);
    for (int32_t r = 1; r < SIDE; ++r) {
      std::fill(AreaW.begin(), AreaW.end(), 0), std::fill(AreaR.begin(), AreaR.end(), 0);
      std::fill(AreaG.begin(), AreaG.end(), 0), std::fill(AreaB.begin(), AreaB.end(), 0);
      std::fill(AreaQ.begin(), AreaQ.end(), 0.0);
      for (int32_t g = 1; g < SIDE; ++g) {
        int64_t LineW = 0, LineR = 0, LineG = 0, LineB = 0;
        double LineQ = 0;
        for (int32_t b = 1; b < SIDE; ++b) {
          const size_t k = TMoments::At(r, g, b), up = TMoments::At(r - 1, g, b);
          LineW += M.W[k], LineR += M.R[k], LineG += M.G[k], LineB += M.B[k], LineQ += M.Q[k];
          AreaW[size_t(b)] += LineW, AreaR[size_t(b)] += LineR, AreaG[size_t(b)] += LineG;
          AreaB[size_t(b)] += LineB, AreaQ[size_t(b)] += LineQ;
          M.W[k] = M.W[up] + AreaW[size_t(b)];
          M.R[k] = M.R[up] + AreaR[size_t(b)];
          M.G[k] = M.G[up] + AreaG[size_t(b)];
          M.B[k] = M.B[up] + AreaB[size_t(b)];
          M.Q[k] = M.Q[up] + AreaQ[size_t(b)];
        }
      }
    }
  }

  // Weighted variance of a box (times its weight).
  double Var(const TBox &c) const {
    const double r = double(Vol(c, M.R)), g = double(Vol(c, M.G)), b = double(Vol(c, M.B));
    const double w = double(Vol(c, M.W));
    return w > 0 ? Vol(c, M.Q) - (r * r + g * g + b * b) / w : 0;
  }

  // The best cut of Box along Axis between First and Last (exclusive), as
  // the sum of the two halves' squared means times weight; Cut gets -1 when
  // no cut leaves both halves non-empty.
  double Maximize(const TBox &c, TAxis Axis, int32_t First, int32_t Last, int32_t &CutAt, int64_t WholeR,
                  int64_t WholeG, int64_t WholeB, int64_t WholeW) const {
    const int64_t BaseR = Bottom(c, Axis, M.R), BaseG = Bottom(c, Axis, M.G), BaseB = Bottom(c, Axis, M.B),
                  BaseW = Bottom(c, Axis, M.W);
    double Best = 0;
    CutAt = -1;
    for (int32_t i = First; i < Last; ++i) {
      int64_t hr = BaseR + Top(c, Axis, i, M.R), hg = BaseG + Top(c, Axis, i, M.G), hb = BaseB + Top(c, Axis, i, M.B);
      int64_t hw = BaseW + Top(c, Axis, i, M.W);
      if (hw == 0) continue;
      double t = (double(hr) * hr + double(hg) * hg + double(hb) * hb) / double(hw);
      hr = WholeR - hr, hg = WholeG - hg, hb = WholeB - hb, hw = WholeW - hw;
      if (hw == 0) continue;
      t += (double(hr) * hr + double(hg) * hg + double(hb) * hb) / double(hw);
      if (t > Best) {
        Best = t;
        CutAt = i;
      }
    }
    return Best;
  }

  bool Cut(TBox &Set1, TBox &Set2) const {
    const int64_t WholeR = Vol(Set1, M.R), WholeG = Vol(Set1, M.G), WholeB = Vol(Set1, M.B), WholeW = Vol(Set1, M.W);
    int32_t CutR, CutG, CutB;
    const double MaxR = Maximize(Set1, RED, Set1.R0 + 1, Set1.R1, CutR, WholeR, WholeG, WholeB, WholeW);
    const double MaxG = Maximize(Set1, GREEN, Set1.G0 + 1, Set1.G1, CutG, WholeR, WholeG, WholeB, WholeW);
    const double MaxB = Maximize(Set1, BLUE, Set1.B0 + 1, Set1.B1, CutB, WholeR, WholeG, WholeB, WholeW);
    TAxis Dir;
    if (MaxR >= MaxG && MaxR >= MaxB) {
      Dir = RED;
      if (CutR < 0) return false;
    } else {
      Dir = MaxG >= MaxB ? GREEN : BLUE;
    }
    Set2.R1 = Set1.R1, Set2.G1 = Set1.G1, Set2.B1 = Set1.B1;
    switch (Dir) {
      case RED:
        Set2.R0 = Set1.R1 = CutR, Set2.G0 = Set1.G0, Set2.B0 = Set1.B0;
        break;
      case GREEN:
        Set2.G0 = Set1.G1 = CutG, Set2.R0 = Set1.R0, Set2.B0 = Set1.B0;
        break;
      default:
        Set2.B0 = Set1.B1 = CutB, Set2.R0 = Set1.R0, Set2.G0 = Set1.G0;
        break;
    }
    Set1.Volume = (Set1.R1 - Set1.R0) * (Set1.G1 - Set1.G0) * (Set1.B1 - Set1.B0);
    Set2.Volume = (Set2.R1 - Set2.R0) * (Set2.G1 - Set2.G0) * (Set2.B1 - Set2.B0);
    return true;
  }

  TMoments M;
};

// A bin of the refinement histogram: its pixel count and the sum of their colours.
struct TBin {
  double R, G, B;
  double Weight;
};

std::vector<TBin> FineBins(const TRgba *Pixels, size_t Count) {
  constexpr int32_t Bits = 6;
  std::vector<TBin> Grid(size_t(1) << (3 * Bits), TBin{0, 0, 0, 0});
  for (size_t i = 0; i < Count; ++i) {
    const TRgba &p = Pixels[i];
    TBin &b = Grid[(size_t(p.R >> (8 - Bits)) << (2 * Bits)) | (size_t(p.G >> (8 - Bits)) << Bits) | size_t(p.B >> (8 - Bits))];
    b.R += p.R, b.G += p.G, b.B += p.B, b.Weight += 1;
  }
  std::vector<TBin> Bins;
  for (const TBin &b : Grid)
    if (b.Weight > 0) Bins.push_back(TBin{b.R / b.Weight, b.G / b.Weight, b.B / b.Weight, b.Weight});
  return Bins;
}

uint8_t Round8(double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

std::vector<TRgba> WuPalette(const TRgba *Pixels, size_t Count, int32_t Colours, int32_t Passes, bool HasFixed,
                             TRgba Fixed) {
  Fixed.A = 255;
  const int32_t Boxes = std::max(1, std::min(Colours, 256) - (HasFixed ? 1 : 0));
  std::vector<TRgba> Palette = TWu(Pixels, Count).Boxes(Boxes);
  if (HasFixed) Palette.insert(Palette.begin(), Fixed);
  const std::vector<TBin> Bins = Passes > 0 ? FineBins(Pixels, Count) : std::vector<TBin>{};
  for (int32_t Pass = 0; Pass < Passes; ++Pass) {
    const TNearestColour Nearest(Palette);
    std::vector<TBin> Sum(Palette.size(), TBin{0, 0, 0, 0});
    for (const TBin &b : Bins) {
      TBin &s = Sum[Nearest.Find(Round8(b.R), Round8(b.G), Round8(b.B))];
      s.R += b.R * b.Weight, s.G += b.G * b.Weight, s.B += b.B * b.Weight, s.Weight += b.Weight;
    }
    bool Moved = false;
    for (size_t i = HasFixed ? 1 : 0; i < Palette.size(); ++i) {
      if (Sum[i].Weight <= 0) continue;  // nothing nearest to it: it stays
      const TRgba c{Round8(Sum[i].R / Sum[i].Weight), Round8(Sum[i].G / Sum[i].Weight), Round8(Sum[i].B / Sum[i].Weight), 255};
      Moved = Moved || !(c == Palette[i]);
      Palette[i] = c;
    }
    if (!Moved) break;
  }
  return Palette;
}
