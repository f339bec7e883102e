// The resize settings that the resize step reads: the size-rule table (the
// 14 ways a target size is named, with their captions and defaults), the
// kernels, radii and switches of the resampling, and how they are installed
// in a resizer. The settings file fills the program-wide record on the main
// thread; workers only read it while a run is shown.
#pragma once

#include <array>
#include <cstdint>
#include <string>

class TResizer;

constexpr int32_t SIZE_RULE_COUNT = 14;

struct TSizeRuleInfo {
  const char *Caption;        // in the rule list
  const char *FirstCaption;   // before the first field
  const char *SecondCaption;  // before the second field (rules with two values)
  const char *Unit;           // after each field
  double Default1;
  double Default2;
};
extern const TSizeRuleInfo SizeRuleTable[SIZE_RULE_COUNT];

// The stored history when there is none: "8,640,480" and "0,50,50", quoted.
inline constexpr char SIZE_RULE_DEFAULT_HISTORY[] = "\"8,640,480\",\"0,50,50\"";

struct TResizeOption {
  // The kernels (RESIZE_* codes of resample/Weight.h) and their parameters.
  int32_t DecimationMode = 7;      // key "DecimationType", 1 to 9
  int32_t DecimationRadius = 3;    // 1 to 32
  int32_t DecimationSharp = 2;     // -4 to 8
  int32_t DecimationBlur = 10;     // 1 to 24
  int32_t InterpolationMode = 7;   // key "InterpolationType", 2 to 9
  int32_t InterpolationRadius = 3; // 1 to 8
  int32_t InterpolationSharp = 0;
  int32_t InterpolationBlur = 11;
  int32_t SIMDMode = 3;            // 2 floating point ("実数"), 3 integer ("整数")
  uint32_t MaxThread = 1;          // threads of one resize, unsharp mask or blur
  std::array<double, SIZE_RULE_COUNT> Size1{};  // first value of each size rule
  std::array<double, SIZE_RULE_COUNT> Size2{};
  int32_t Rule = 0;                // 0 to 13
  std::string History;             // comma text of quoted entries, newest first
  bool Degamma = false;            // "リニアな色空間で処理する"
  bool NoExpand = false;           // "拡大しない"
  bool Limiter = false;            // "リミッター"

  TResizeOption();  // the size values start at the rule table's defaults
};

// The program-wide record.
extern TResizeOption ResizeOption;

// Installs the kernels of the resize options in Resizer: the reduction
// kernel for Decimation 1 to 9, the enlargement kernel for Interpolation 2
// to 9 (each with its radius, sharpness or blur and its limiter flag), and
// the data path with linear light when SIMD is not 0. Other values leave
// that part as it is.
void ApplyResizeKernels(TResizer &Resizer, const TResizeOption &Option, int32_t Decimation,
                        int32_t Interpolation, int32_t SIMD);
