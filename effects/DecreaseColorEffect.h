// Colour reduction (減色): the picture reduced to a palette of at most 256
// colours by one of three outside tools in the program's bin folder — FLAXC
// (with its companion Zone_BorderOfColor.so), IZYINS or pngnqi — after every
// other step. The picture goes to the tool as a working file in the run's
// working folder and comes back from the tool's result file; the writers
// then store it indexed. With pngnqi and a PNG output the tool's own file
// becomes the output.
#pragma once

#include "effects/Effect.h"

#include <cstdint>
#include <string>
#include <vector>

// FMode values.
enum : int32_t {
  DECREASE_COLOR_NONE = 0,
  DECREASE_COLOR_FLAXC = 1,
  DECREASE_COLOR_IZYINS = 2,
  DECREASE_COLOR_PNGNQI = 3,
};

// FFlags bits: the tools present.
enum : uint32_t {
  DECREASE_COLOR_HAS_FLAXC = 1,   // FLAXC and Zone_BorderOfColor.so
  DECREASE_COLOR_HAS_IZYINS = 2,
  DECREASE_COLOR_HAS_PNGNQI = 4,
};

inline constexpr const char *FLAXC_TOOL_NAME = "FLAXC";
inline constexpr const char *FLAXC_COMPANION_NAME = "Zone_BorderOfColor.so";
inline constexpr const char *IZYINS_TOOL_NAME = "IZYINS";
inline constexpr const char *PNGNQI_TOOL_NAME = "pngnqi";

// The tools present in Folder, as FFlags bits.
uint32_t DetectDecreaseColorTools(const std::string &Folder);

// The dither types a tool (FMode 1 to 3) accepts, ascending, and its default.
std::vector<int32_t> AcceptedDitherTypes(int32_t Mode);
int32_t DefaultDitherType(int32_t Mode);
// The dither type the dialog selects for a tool: Stored when offered, else
// the tool's default, else the first offered.
int32_t DitherTypeForTool(int32_t Mode, int32_t Stored);

class TDecreaseColorEffect : public TEffect {
public:
  TDecreaseColorEffect();

  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  void ReadIniFile(const TMemIniFile &Ini) override;
  void WriteIniFile(TMemIniFile &Ini) const override;

  // Gives every worker 1 to ProcessorCount its own copy of FLAXC and its
  // companion ("FLAXC<n>" in the working folder); called before each run
  // while the effect is on. Raises ETessivoError when a copy cannot be made.
  void InitFLAXC(int32_t ProcessorCount) const;

  // The argument vector of the tool for worker ThreadNum (Source and Dest the
  // working files); FOption is split into words as a command line would be.
  std::vector<std::string> ToolArguments(int32_t ThreadNum, const std::string &Source, const std::string &Dest) const;
  // The tool run by worker ThreadNum: its FLAXC copy, or bin/IZYINS, bin/pngnqi.
  std::string ToolPath(int32_t ThreadNum) const;
  // Whether the loader must flatten alpha: the effect is on with FLAXC or
  // IZYINS, which take no alpha (pngnqi keeps it).
  bool FlattensAlpha() const;

  // Where the tools are looked for; the program's bin folder unless a test
  // points elsewhere before the settings are read.
  std::string FToolFolder;

  int32_t FMode = DECREASE_COLOR_NONE;
  uint32_t FFlags = 0;
  std::string FOption = "-Y10 -C10 -G10 -O8 -I8";
  int32_t FPaletteEntries = 256;
  int32_t FTransparentType = 0;
  int32_t FDitherType = 2;
  int32_t FDitherStr = 8;
  int32_t FQuality = 9;

private:
  void ReduceWithBitmap(TICCImgInfo &Img, TEffectParams &Params) const;
  void ReduceWithPngnqi(TICCImgInfo &Img, TEffectParams &Params, int32_t OutType) const;
};
