// The settings dialog of the lens correction without its window: the values
// it shows, the checks of its OK button in their order with their messages,
// and the copy back into the effect. The window only moves values between
// this record and its controls.
#pragma once

#include "effects/DeDistortionFilter.h"

#include <cstdint>
#include <string>

inline constexpr const char *DEDISTORTION_FORM_CAPTION = "歪み補正";
inline constexpr const char *DEDISTORTION_ERROR_TITLE = "Error";
inline constexpr const char *DEDISTORTION_EXPRESSION_ERROR = "入力されたパラメータの評価でエラーが発生しました";
inline constexpr const char *DEDISTORTION_RECTILINEAR_ERROR = "心射方位の画角は179が上限です";
inline constexpr const char *DEDISTORTION_EQUIDISTANT_ERROR = "入力側の等距離射影の画角は179が上限です(PTMender.exe)";

struct TDeDistortionFormValues {
  int32_t Mode = 0;
  int32_t Tool = DEDISTORTION_TOOL_PTSTITCHER;
  int32_t SrcProjection = 0;
  double SrcHFOV = 180;      // 1 to 360
  double Roll = 0, Pitch = 0, Yaw = 0;  // -180 to 180
  int32_t DestProjection = 3;
  double DestHFOV = 180;     // 1 to 360
  std::string Width = "w", Height = "w*0.75";
};

// The effect's values as the dialog opens.
TDeDistortionFormValues DeDistortionFormValues(const TDeDistortionFilter &E);
// Which tool radio buttons are enabled: each only when its file exists.
bool DeDistortionToolEnabled(const TDeDistortionFilter &E, int32_t Tool);
// The OK checks in order: removes the spaces from both expressions, then
// answers the message of the first failure (to show in a warning box titled
// DEDISTORTION_ERROR_TITLE, the dialog staying open), or empty when all pass.
std::string CheckDeDistortionForm(TDeDistortionFormValues &V);
// OK after the checks passed: the values go into the effect.
void StoreDeDistortionForm(const TDeDistortionFormValues &V, TDeDistortionFilter &E);
