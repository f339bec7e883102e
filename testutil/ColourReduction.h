// What the colour-reduction tests share: the public-domain photographs of
// scikit-image, a drawing with flat colours made by ImageMagick, and the
// outside measures (ImageMagick's PSNR and colour count, pngquant and
// ImageMagick's own reductions as peers).
#pragma once

#include "testutil/OutsideTool.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace quanttest {

inline const std::string PhotoFolder = "/usr/lib/python3/dist-packages/skimage/data";

inline std::string Q(const std::string &Path) { return testenv::ShellQuoted(Path); }

inline bool Shell(const std::string &Command) { return std::system((Command + " >/dev/null 2>&1").c_str()) == 0; }

// ImageMagick's PSNR of B against A in dB (compare exits 1 when they differ,
// so its status is not looked at); -1 when it gives no number.
inline double Psnr(const std::string &A, const std::string &B) {
  const std::string Out = testenv::Capture("compare -metric PSNR " + Q(A) + " " + Q(B) + " null: 2>&1; true");
  if (Out.empty()) return -1;
  if (Out.rfind("inf", 0) == 0) return 99;
  return std::atof(Out.c_str());
}

// Distinct colours of a picture (or of a region "WxH+X+Y" of it) as ImageMagick counts them.
inline long ColourCount(const std::string &Path, const std::string &Region = "") {
  const std::string Crop = Region.empty() ? "" : " -crop " + Region + " +repage";
  const std::string Out = testenv::Capture("convert " + Q(Path) + Crop + " -format %k info:");
  return Out.empty() ? -1 : std::atol(Out.c_str());
}

// The photographs the quality tests use (scikit-image, public domain) as
// 24-bit BMP and PNG copies in Dir; false when they are not installed.
inline bool MakePhotoCopies(const std::string &Dir, const std::string &Name) {
  const std::string Src = PhotoFolder + "/" + Name + ".png";
  if (!std::filesystem::exists(Src)) return false;
  return Shell("convert " + Q(Src) + " -alpha off BMP3:" + Q(Dir + "/" + Name + ".bmp")) &&
         Shell("convert " + Q(Src) + " -alpha off " + Q(Dir + "/" + Name + ".png"));
}

// A drawing with flat areas: 24 rectangles of distinct colours on a light
// background, and below them a gradient band with an outlined,
// anti-aliased circle. Cell k's interior (for 0 <= k < 24) is
// FlatCell(k).
inline constexpr const char *DrawingColours[24] = {
    "#d7263d", "#f46036", "#2e294e", "#1b998b", "#c5d86d", "#8e44ad", "#3a7bd5", "#f4d03f",
    "#e67e22", "#16a085", "#7f8c8d", "#c0392b", "#2980b9", "#27ae60", "#d35400", "#9b59b6",
    "#34495e", "#f39c12", "#1abc9c", "#e84393", "#6c5ce7", "#00b894", "#fdcb6e", "#636e72"};
inline std::string FlatCell(int k) {
  const int x = (k % 6) * 80 + 16, y = (k / 6) * 60 + 16;
  return "40x24+" + std::to_string(x) + "+" + std::to_string(y);
}
inline bool MakeDrawing(const std::string &Path) {
  std::string Cmd = "convert -size 480x300 xc:'#f5f1e8'";
  for (int k = 0; k < 24; ++k) {
    const int x = (k % 6) * 80 + 6, y = (k / 6) * 60 + 6;
    Cmd += " -fill '" + std::string(DrawingColours[k]) + "' -draw 'rectangle " + std::to_string(x) + "," +
           std::to_string(y) + " " + std::to_string(x + 66) + "," + std::to_string(y + 46) + "'";
  }
  Cmd += " \\( -size 480x60 gradient:'#ffffff'-'#1b3a6b' \\) -geometry +0+240 -composite";
  Cmd += " -fill '#ff7f50' -stroke '#202020' -strokewidth 3 -draw 'circle 400,270 400,250'";
  return Shell(Cmd + " -alpha off " + Q(Path));
}

}  // namespace quanttest
