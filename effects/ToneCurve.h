// Tone curve: six curves through control points (RGB, red, green, blue, luma,
// chroma), each a chain of cubic Bézier segments sampled into tables. The RGB
// curve and the channel curves are composed into one table set; luma and
// chroma run on the YCbCr form, or the luma curve on L* in Lab mode. Tables
// are built once when the settings change and only read by the workers.
#pragma once

#include "core/PixelConvert.h"
#include "effects/Effect.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TCurvePoint {
  int32_t X = 0, Y = 0;
  bool operator==(const TCurvePoint &) const = default;
};
using TCurvePoints = std::vector<TCurvePoint>;

enum : int32_t { CURVE_RGB = 0, CURVE_RED = 1, CURVE_GREEN = 2, CURVE_BLUE = 3, CURVE_LUMA = 4, CURVE_CHROMA = 5 };
inline constexpr int32_t CURVE_COUNT = 6;
using TCurveSet = std::array<TCurvePoints, CURVE_COUNT>;

// Keys of the curves in the settings and preset files, and their defaults.
extern const char *const CurveKeys[CURVE_COUNT];
const char *DefaultCurveText(int32_t Curve);
TCurveSet DefaultCurves();

// "x0,y0,x1,y1,...": none for an odd or zero number of items, an item that is
// not an integer, a coordinate outside 0 to 255 or X not strictly increasing.
std::optional<TCurvePoints> ParseCurve(std::string_view Text);
std::string CurveText(const TCurvePoints &Points);

// The curve's value at X (0 to 255 scale) by the Bézier construction, with
// each segment sampled in 32 steps per unit of X.
class TCurveEvaluator {
public:
  explicit TCurveEvaluator(const TCurvePoints &Points);
  double Value(double X) const;

private:
  struct TSegment {
    double P0x, P0y, C1x, C1y, C2x, C2y, P1x, P1y;
    int32_t Steps;
  };
  TCurvePoints FPoints;
  std::vector<TSegment> FSegments;
};

// 256 entries at x = i, or 16321 entries at x = j * 255 / 16320; each entry
// clamp(round(y * 16320 / 255), 0, 16320).
std::vector<int16_t> CurveTable256(const TCurvePoints &Points);
std::vector<int16_t> CurveTable16321(const TCurvePoints &Points);

bool IsIdentityCurve(const TCurvePoints &Points);
bool IsIdentityChromaCurve(const TCurvePoints &Points);

struct TToneCurveTables {
  bool SkipRGB = true, SkipYCC = true;
  std::vector<int16_t> RGB8;    // LUT8_SIZE: the channel curves after the RGB curve
  std::vector<int16_t> RGB14;   // LUT14_SIZE
  std::vector<int16_t> Luma8;   // 256 entries of the luma curve, then 256 of the chroma curve
  std::vector<int16_t> YCC14;   // YCC_LUT14_SIZE
};
TToneCurveTables MakeToneCurveTables(const TCurveSet &Curves);

class TToneCurveEffect : public TEffect {
public:
  TToneCurveEffect();

  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  void ReadIniFile(const TMemIniFile &Ini) override;
  void WriteIniFile(TMemIniFile &Ini) const override;
  // The control points of curves 0 to 3: count, then X and Y of each.
  void WriteParamToStream(std::vector<uint8_t> &S) const override;

  // Rebuilds the tables and the skip flags from the curves (main thread).
  void UpdateTables();
  const TToneCurveTables &Tables() const { return FTables; }

  // Preset files: section "ToneCurve" of an INI text file. Saving writes
  // all six curves; loading replaces them only when the whole file reads
  // cleanly, else it raises ETessivoError naming the file and the key and
  // leaves the curves as they were.
  void SavePreset(const std::string &FileName) const;
  void LoadPreset(const std::string &FileName);

  TCurveSet FControlPoints = DefaultCurves();
  bool FPreview = true;
  bool FSkipRGB = true, FSkipYCC = true;
  bool FHistogram = true;
  int32_t FHistogramType = 0;
  bool FLab = false;

private:
  TToneCurveTables FTables;
};
