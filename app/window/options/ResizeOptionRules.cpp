// The resize dialog's rules: kernel lists, parameter groups, data path.
#include "app/window/options/ResizeOptionRules.h"

#include "resample/Weight.h"

#include <algorithm>

namespace {

int32_t IndexOrFirst(const std::vector<int32_t> &Kernels, int32_t Kernel) {
  const auto It = std::find(Kernels.begin(), Kernels.end(), Kernel);
  return It == Kernels.end() ? 0 : int32_t(It - Kernels.begin());
}

}  // namespace

TResizeOptionRules::TResizeOptionRules(const TResizeOption &Option)
    : DecimationIndex(IndexOrFirst(DecimationKernels(), Option.DecimationMode)),
      InterpolationIndex(IndexOrFirst(InterpolationKernels(), Option.InterpolationMode)),
      DecimationRadius(NumFieldValue(std::to_string(Option.DecimationRadius), DECIMATION_RADIUS_RANGE)),
      DecimationSharp(NumFieldValue(std::to_string(Option.DecimationSharp), DECIMATION_SHARP_RANGE)),
      DecimationBlur(NumFieldValue(std::to_string(Option.DecimationBlur), DECIMATION_BLUR_RANGE)),
      InterpolationRadius(NumFieldValue(std::to_string(Option.InterpolationRadius), INTERPOLATION_RADIUS_RANGE)),
      InterpolationSharp(NumFieldValue(std::to_string(Option.InterpolationSharp), INTERPOLATION_SHARP_RANGE)),
      InterpolationBlur(NumFieldValue(std::to_string(Option.InterpolationBlur), INTERPOLATION_BLUR_RANGE)),
      MaxThread(NumFieldValue(std::to_string(Option.MaxThread), RESIZE_THREAD_RANGE)),
      Degamma(Option.Degamma), NoExpand(Option.NoExpand), Limiter(Option.Limiter) {
  SIMDIndex = Option.SIMDMode == 3 && SIMDChoices(Degamma).size() > 1 ? 1 : 0;
}

const std::vector<int32_t> &TResizeOptionRules::DecimationKernels() {
  static const std::vector<int32_t> K{1, 2, 3, 4, 5, 6, 7, 8, 9};
  return K;
}

const std::vector<int32_t> &TResizeOptionRules::InterpolationKernels() {
  static const std::vector<int32_t> K{2, 3, 4, 5, 6, 7, 8, 9};
  return K;
}

std::string TResizeOptionRules::KernelCaption(int32_t Kernel) {
  const TResizeModeInfo *M = FindResizeMode(uint32_t(Kernel));
  return M ? M->ListName : std::string();
}

TKernelGroup TResizeOptionRules::GroupOf(int32_t Kernel) {
  const TResizeModeInfo *M = FindResizeMode(uint32_t(Kernel));
  if (!M) return TKernelGroup::None;
  switch (M->Param) {
    case TResizeModeParam::Radius: return TKernelGroup::Radius;
    case TResizeModeParam::Sharp: return TKernelGroup::Sharp;
    case TResizeModeParam::Blur: return TKernelGroup::Blur;
    default: return TKernelGroup::None;
  }
}

std::vector<std::string> TResizeOptionRules::SIMDChoices(bool Degamma) {
  // The integer path has no linear-light variant.
  if (Degamma) return {SIMD_FLOAT_CAPTION};
  return {SIMD_FLOAT_CAPTION, SIMD_INTEGER_CAPTION};
}

void TResizeOptionRules::SetDegamma(bool On) {
  Degamma = On;
  SIMDIndex = 0;
}

int32_t TResizeOptionRules::SIMDMode() const {
  const std::vector<std::string> Choices = SIMDChoices(Degamma);
  return size_t(SIMDIndex) < Choices.size() && Choices[size_t(SIMDIndex)] == SIMD_INTEGER_CAPTION ? 3 : 2;
}

void TResizeOptionRules::StoreTo(TResizeOption &Option) const {
  Option.DecimationMode = DecimationMode();
  Option.InterpolationMode = InterpolationMode();
  Option.DecimationRadius = DecimationRadius;
  Option.DecimationSharp = DecimationSharp;
  Option.DecimationBlur = DecimationBlur;
  Option.InterpolationRadius = InterpolationRadius;
  Option.InterpolationSharp = InterpolationSharp;
  Option.InterpolationBlur = InterpolationBlur;
  Option.SIMDMode = SIMDMode();
  Option.MaxThread = uint32_t(MaxThread);
  Option.Degamma = Degamma;
  Option.NoExpand = NoExpand;
  Option.Limiter = Limiter;
}
