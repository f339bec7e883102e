// The quantised DCT coefficients of a JPEG file as libjpeg itself reads
// them, cut into the cells of the MCU grid, so that tests can say which MCUs
// of two files hold the same blocks.
#pragma once

// libjpeg's header stays out of it: its marker macros would replace the
// project's marker constants of the same names.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace wembtest {

inline constexpr int COEF_BLOCK = 64;  // coefficients of one 8 x 8 block

struct TCoefComponent {
  int H = 1, V = 1;                   // blocks of this component in one cell
  uint32_t Width = 0, Height = 0;     // in blocks, whole cells
  std::vector<int16_t> Coef;            // Width x Height blocks of 64, row by row
  const int16_t *Block(uint32_t X, uint32_t Y) const { return Coef.data() + (size_t(Y) * Width + X) * COEF_BLOCK; }
};

struct TCoefficients {
  bool Ok = false;
  uint32_t ImageWidth = 0, ImageHeight = 0;
  uint32_t CellW = 8, CellH = 8;      // one MCU in pixels (one block for a single component)
  uint32_t CellsX = 0, CellsY = 0;
  std::vector<TCoefComponent> Comp;
  std::vector<std::vector<uint16_t>> Quant;  // per component, natural order

  // Every block of cell (X, Y) in every component equals B's.
  bool SameCell(const TCoefficients &B, uint32_t X, uint32_t Y) const {
    for (size_t c = 0; c < Comp.size(); ++c) {
      const TCoefComponent &a = Comp[c], &b = B.Comp[c];
      for (int v = 0; v < a.V; ++v)
        for (int h = 0; h < a.H; ++h)
          if (std::memcmp(a.Block(X * a.H + h, Y * a.V + v), b.Block(X * b.H + h, Y * b.V + v),
                          sizeof(int16_t) * COEF_BLOCK) != 0)
            return false;
    }
    return true;
  }
};

// The coefficients as libjpeg reads them; Ok false when it cannot.
TCoefficients ReadCoefficients(const std::string &Bytes);

// The entropy-coded data of a single-scan file: from the SOS segment's end
// to the end of the file.
inline std::string ScanData(const std::string &Bytes) {
  const size_t sos = Bytes.rfind("\xFF\xDA");
  if (sos == std::string::npos || sos + 4 > Bytes.size()) return {};
  const size_t len = (uint8_t(Bytes[sos + 2]) << 8) | uint8_t(Bytes[sos + 3]);
  return Bytes.substr(sos + 2 + len);
}

}  // namespace wembtest
