// The resize dialog "リサイズ設定" without its window: the two kernel lists,
// which parameter group each kernel shows, the ranges of the six parameter
// fields and the thread count, the "演算方法" list that loses "整数" in linear
// light, and what OK stores into TResizeOption.
#pragma once

#include "app/window/options/NumField.h"
#include "effects/ResizeOption.h"

#include <cstdint>
#include <string>
#include <vector>

// The parameter group shown below a kernel list.
enum class TKernelGroup { None, Radius, Sharp, Blur };  // "半径", "シャープ", "ぼかし"

inline constexpr TNumRange DECIMATION_RADIUS_RANGE{1, 32, 1, 3};
inline constexpr TNumRange INTERPOLATION_RADIUS_RANGE{1, 8, 1, 3};
inline constexpr TNumRange DECIMATION_SHARP_RANGE{-4, 8, 1, 2};
inline constexpr TNumRange INTERPOLATION_SHARP_RANGE{-4, 8, 1, 0};
inline constexpr TNumRange DECIMATION_BLUR_RANGE{1, 24, 1, 10};
inline constexpr TNumRange INTERPOLATION_BLUR_RANGE{1, 24, 1, 11};
inline constexpr TNumRange RESIZE_THREAD_RANGE{1, 16, 1, 1};

inline constexpr const char *SIMD_FLOAT_CAPTION = "実数";
inline constexpr const char *SIMD_INTEGER_CAPTION = "整数";

class TResizeOptionRules {
public:
  // Copies the record in: each list selects its stored kernel (the first
  // entry when that is not listed), the "演算方法" list is built for the
  // stored Degamma and selects "整数" when SIMDMode is 3 and it is listed.
  explicit TResizeOptionRules(const TResizeOption &Option);

  // Kernel codes of "縮小アルゴリズム" (1 to 9) and "拡大アルゴリズム" (2 to 9).
  static const std::vector<int32_t> &DecimationKernels();
  static const std::vector<int32_t> &InterpolationKernels();
  static std::string KernelCaption(int32_t Kernel);
  static TKernelGroup GroupOf(int32_t Kernel);
  // The entries of "演算方法" while linear light is on or off.
  static std::vector<std::string> SIMDChoices(bool Degamma);

  // "リニアな色空間で処理する" changed: the list is rebuilt and "実数" selected.
  void SetDegamma(bool On);

  // The controls' values.
  int32_t DecimationIndex = 0;
  int32_t InterpolationIndex = 0;
  int32_t DecimationRadius, DecimationSharp, DecimationBlur;
  int32_t InterpolationRadius, InterpolationSharp, InterpolationBlur;
  int32_t SIMDIndex = 0;
  int32_t MaxThread;
  bool Degamma, NoExpand, Limiter;

  int32_t DecimationMode() const { return DecimationKernels()[size_t(DecimationIndex)]; }
  int32_t InterpolationMode() const { return InterpolationKernels()[size_t(InterpolationIndex)]; }
  // 3 when "整数" is selected, else 2.
  int32_t SIMDMode() const;

  // OK: the kernels, all six parameters whichever groups are shown, the
  // data path, threads and switches into Option; the size rules stay.
  void StoreTo(TResizeOption &Option) const;
};
