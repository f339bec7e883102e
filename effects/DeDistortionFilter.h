// The lens correction step: reprojects a fisheye photograph into another
// projection by handing it to a reprojection tool in the program's bin
// folder (PTStitcherNG, or our own dedistortion) as a TIFF with a small
// script, and reading the tool's result back. An orthographic source given
// to PTStitcherNG is first remapped by the lens library. The step exists
// only where one of the tools does.
#pragma once

#include "effects/Effect.h"

#include <cstdint>
#include <string>

// FTool.
enum : int32_t {
  DEDISTORTION_TOOL_PTSTITCHER = 0,
  DEDISTORTION_TOOL_DEDISTORTION = 1,
};
// The tools' file names in the bin folder.
inline constexpr const char *PTSTITCHER_TOOL_NAME = "PTStitcherNG";
inline constexpr const char *DEDISTORTION_TOOL_NAME = "dedistortion";

// The lens code of the script's "o" line for source projection 0 to 3
// ("等距離射影(円周)", "等距離射影(対角)", "等立体角射影", "正射影"), and the
// projection code of its "p" line for result projection 0 to 5 ("心射方位",
// "心射円筒", "正距円筒", "パニーニ", "等距離射影", "等立体角射影"); -1 out of range.
int32_t DeDistortionLensCode(int32_t Tool, int32_t SrcProjection);
int32_t DeDistortionPanoramaCode(int32_t Tool, int32_t DestProjection);

struct TDeDistortionSize {
  int32_t Width = 0, Height = 0;
};
// The result size from the width and height expressions over the image's W
// and H (truncated); an expression that fails gives 0 for both, and a size
// below 1 either way falls back to W x (W / 2).
TDeDistortionSize DeDistortionResultSize(const std::string &WidthExpression, const std::string &HeightExpression,
                                         int32_t W, int32_t H);
// The result angle written into the "p" line for projection code PanoCode:
// PTStitcherNG's Panini takes a polynomial of the angle, a rectilinear
// result at most 179 degrees.
double DeDistortionResultAngle(int32_t Tool, int32_t PanoCode, double DestHFOV);

struct TDeDistortionScript {
  int32_t Tool = DEDISTORTION_TOOL_DEDISTORTION;
  double Yaw = 0, Pitch = 0, Roll = 0;
  int32_t LensCode = 0;
  double SrcHFOV = 0;
  std::string SourceFile;  // named in PTStitcherNG's "o" line
  int32_t Width = 0, Height = 0;
  int32_t PanoCode = 0;
  double Angle = 0;
};
// The three script lines, CR LF each, numbers with two decimals; the width
// is written as at least 500.
std::string DeDistortionScriptText(const TDeDistortionScript &S);

class TDeDistortionFilter : public TEffect {
public:
  // Looks for the tools in BinFolder (empty: the program's bin folder).
  explicit TDeDistortionFilter(std::string BinFolder = std::string());

  // 3-channel images only (others pass unchanged). When the tool leaves no
  // result the picture stays as it was and the tool's message becomes a
  // warning of the file.
  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  // Reads the keys, then the tool: PTStitcherNG missing -> 1; then
  // dedistortion missing -> 0.
  void ReadIniFile(const TMemIniFile &Ini) override;
  void WriteIniFile(TMemIniFile &Ini) const override;

  // The script for a picture of W x H (as it reaches the tool, after any
  // remap) handed over as SourceFile; the tool is FTool as it is.
  TDeDistortionScript ScriptFor(int32_t W, int32_t H, const std::string &SourceFile) const;

  const std::string &BinFolder() const { return FBinFolder; }
  std::string ToolPath(int32_t Tool) const;
  bool ToolExists(int32_t Tool) const;

  int32_t FMode = 0;  // 0 "魚眼レンズ"
  int32_t FTool = DEDISTORTION_TOOL_PTSTITCHER;
  int32_t FSrcProjection = 0;
  double FSrcHFOV = 180;
  int32_t FDestProjection = 3;
  // A worker may lower a rectilinear angle above 179 to 179 (the only value
  // it ever writes), so the field is read and written atomically while a
  // run goes on.
  mutable double FDestHFOV = 180;
  std::string FWidth = "w";
  std::string FHeight = "w*0.75";
  double FRoll = 0;
  double FPitch = 0;
  double FYaw = 0;

private:
  std::string FBinFolder;
};
