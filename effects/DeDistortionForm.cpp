// The lens correction dialog's rules.
#include "effects/DeDistortionForm.h"

#include "core/Errors.h"
#include "core/SizeExpression.h"

#include <atomic>

namespace {

// Passes CheckSizeExpression and evaluates for a 2000 x 2000 picture.
bool UsableExpression(std::string &Text) {
  if (!CheckSizeExpression(Text)) return false;
  try {
    EvaluateSizeExpression(SubstituteSizeVariables(Text, 2000, 2000));
    return true;
  } catch (const ETessivoError &) {
    return false;
  }
}

}  // namespace

TDeDistortionFormValues DeDistortionFormValues(const TDeDistortionFilter &E) {
  TDeDistortionFormValues v;
  v.Mode = E.FMode, v.Tool = E.FTool, v.SrcProjection = E.FSrcProjection, v.SrcHFOV = E.FSrcHFOV;
  v.Roll = E.FRoll, v.Pitch = E.FPitch, v.Yaw = E.FYaw;
  v.DestProjection = E.FDestProjection, v.DestHFOV = std::atomic_ref<double>(E.FDestHFOV).load();
  v.Width = E.FWidth, v.Height = E.FHeight;
  return v;
}

bool DeDistortionToolEnabled(const TDeDistortionFilter &E, int32_t Tool) { return E.ToolExists(Tool); }

std::string CheckDeDistortionForm(TDeDistortionFormValues &V) {
  // Both are cleaned, even when the first already fails.
  const bool width = UsableExpression(V.Width);
  const bool height = UsableExpression(V.Height);
  if (!width || !height) return DEDISTORTION_EXPRESSION_ERROR;
  if (V.DestProjection == 0 && V.DestHFOV > 179) return DEDISTORTION_RECTILINEAR_ERROR;
  if (V.Tool == DEDISTORTION_TOOL_DEDISTORTION && (V.SrcProjection == 0 || V.SrcProjection == 1) && V.SrcHFOV > 179)
    return DEDISTORTION_EQUIDISTANT_ERROR;
  return {};
}

void StoreDeDistortionForm(const TDeDistortionFormValues &V, TDeDistortionFilter &E) {
  E.FMode = V.Mode, E.FTool = V.Tool, E.FSrcProjection = V.SrcProjection, E.FSrcHFOV = V.SrcHFOV;
  E.FRoll = V.Roll, E.FPitch = V.Pitch, E.FYaw = V.Yaw;
  E.FDestProjection = V.DestProjection;
  std::atomic_ref<double>(E.FDestHFOV).store(V.DestHFOV);
  E.FWidth = V.Width, E.FHeight = V.Height;
}
