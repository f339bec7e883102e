// Reading the Netpbm files that the outside decoders of the tests write:
// PAM (ImageMagick's "pam:") and binary PGM/PPM (djpeg), 8 or 16 bits.
#pragma once

#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace testutil {

struct TNetpbm {
  uint32_t Width = 0, Height = 0;
  uint32_t Depth = 0;   // samples per pixel: 1 gray, 2 gray+alpha, 3 RGB, 4 RGBA
  uint32_t MaxVal = 0;  // 255 or 65535 (or another maximum)
  std::vector<uint32_t> Samples;  // top row first, Depth per pixel

  uint32_t At(uint32_t X, uint32_t Y, uint32_t C) const { return Samples[(size_t(Y) * Width + X) * Depth + C]; }
  // R, G, B, A of a pixel: gray widened, alpha MaxVal where the file has none.
  std::array<int, 4> Rgba(uint32_t X, uint32_t Y) const {
    const int g = int(At(X, Y, 0));
    const int a = Depth == 2 ? int(At(X, Y, 1)) : Depth == 4 ? int(At(X, Y, 3)) : int(MaxVal);
    if (Depth <= 2) return {g, g, g, a};
    return {g, int(At(X, Y, 1)), int(At(X, Y, 2)), a};
  }
};

// Parses Bytes; false when they are not a complete P5, P6 or P7 file.
inline bool ParseNetpbm(const std::string &Bytes, TNetpbm &Out) {
  std::istringstream in(Bytes);
  std::string magic;
  in >> magic;
  if (magic == "P7") {
    for (std::string key; in >> key && key != "ENDHDR";) {
      if (key == "WIDTH") in >> Out.Width;
      else if (key == "HEIGHT") in >> Out.Height;
      else if (key == "DEPTH") in >> Out.Depth;
      else if (key == "MAXVAL") in >> Out.MaxVal;
      else in.ignore(1 << 16, '\n');
    }
  } else if (magic == "P5" || magic == "P6") {
    in >> Out.Width >> Out.Height >> Out.MaxVal;
    Out.Depth = magic == "P6" ? 3 : 1;
  } else {
    return false;
  }
  in.get();  // the one white-space byte before the samples
  if (!in || Out.Depth < 1 || Out.Depth > 4 || Out.MaxVal < 1 || Out.MaxVal > 65535) return false;
  const size_t at = size_t(in.tellg());
  const size_t bytes = Out.MaxVal > 255 ? 2 : 1;
  const size_t n = size_t(Out.Width) * Out.Height * Out.Depth;
  if (Bytes.size() < at + n * bytes) return false;
  Out.Samples.resize(n);
  const auto *p = reinterpret_cast<const uint8_t *>(Bytes.data() + at);
  for (size_t i = 0; i < n; ++i) Out.Samples[i] = bytes == 2 ? uint32_t(p[2 * i] << 8 | p[2 * i + 1]) : p[i];
  return true;
}

}  // namespace testutil
