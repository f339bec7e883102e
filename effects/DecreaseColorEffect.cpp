// Colour reduction through the outside quantisers.
#include "effects/DecreaseColorEffect.h"

#include "core/ChildProcess.h"
#include "core/Errors.h"
#include "core/IniFile.h"
#include "core/PixelConvert.h"
#include "core/ProgramFolder.h"
#include "core/RunTempFolder.h"
#include "effects/RunSettings.h"
#include "io/LoadPicture.h"
#include "io/OutputType.h"
#include "io/SavePicture.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool IsExecutableFile(const std::string &Path) {
  struct stat st;
  return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(Path.c_str(), X_OK) == 0;
}
bool IsFile(const std::string &Path) {
  struct stat st;
  return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string FlaxcCopyFolder(int32_t n) { return RunTempPath("FLAXC" + std::to_string(n)); }

// The last non-empty line of a tool's standard error, for the log.
std::string LastErrorLine(const std::string &Path) {
  std::ifstream in(Path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.size() > 4096) text.erase(0, text.size() - 4096);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  const size_t nl = text.find_last_of("\r\n");
  return nl == std::string::npos ? text : text.substr(nl + 1);
}

// Working files of one reduction, deleted (with retries) on every way out.
struct TWorkFiles {
  std::vector<std::string> Paths;
  ~TWorkFiles() {
    for (const std::string &p : Paths) DeleteWorkFile(p);
  }
};

const char *ToolName(int32_t Mode) {
  return Mode == DECREASE_COLOR_FLAXC ? FLAXC_TOOL_NAME : Mode == DECREASE_COLOR_IZYINS ? IZYINS_TOOL_NAME : PNGNQI_TOOL_NAME;
}

int32_t NiceOf(const TEffectParams &Params) {
  return NiceValueOf(PriorityClassOf(Params.Settings ? Params.Settings->System.ProcessPriority : 2));
}

}  // namespace

uint32_t DetectDecreaseColorTools(const std::string &Folder) {
  uint32_t Flags = 0;
  if (IsExecutableFile(Folder + "/" + FLAXC_TOOL_NAME) && IsFile(Folder + "/" + FLAXC_COMPANION_NAME))
    Flags |= DECREASE_COLOR_HAS_FLAXC;
  if (IsExecutableFile(Folder + "/" + IZYINS_TOOL_NAME)) Flags |= DECREASE_COLOR_HAS_IZYINS;
  if (IsExecutableFile(Folder + "/" + PNGNQI_TOOL_NAME)) Flags |= DECREASE_COLOR_HAS_PNGNQI;
  return Flags;
}

std::vector<int32_t> AcceptedDitherTypes(int32_t Mode) {
  switch (Mode) {
    case DECREASE_COLOR_FLAXC: return {0, 1, 2, 3, 4};
    case DECREASE_COLOR_IZYINS: return {0, 2, 3};
    case DECREASE_COLOR_PNGNQI: return {0, 2};
    default: return {};
  }
}

int32_t DefaultDitherType(int32_t Mode) { return Mode == DECREASE_COLOR_PNGNQI ? 0 : 2; }

int32_t DitherTypeForTool(int32_t Mode, int32_t Stored) {
  const std::vector<int32_t> Offered = AcceptedDitherTypes(Mode);
  if (Offered.empty()) return Stored;
  for (const int32_t Candidate : {Stored, DefaultDitherType(Mode)})
    if (std::find(Offered.begin(), Offered.end(), Candidate) != Offered.end()) return Candidate;
  return Offered.front();
}

TDecreaseColorEffect::TDecreaseColorEffect() : TEffect(EFFECT_DECREASE_COLOR), FToolFolder(ProgramBinFolder()) {}

void TDecreaseColorEffect::ReadIniFile(const TMemIniFile &Ini) {
  TEffect::ReadIniFile(Ini);
  const std::string &s = FSectionName;
  FOption = Ini.ReadString(s, "Option", "-Y10 -C10 -G10 -O8 -I8");
  FMode = Ini.ReadInteger(s, "Mode", DECREASE_COLOR_NONE);
  FPaletteEntries = std::clamp(Ini.ReadInteger(s, "PaletteEntries", 256), 2, 256);
  FTransparentType = std::clamp(Ini.ReadInteger(s, "TransparentType", 0), 0, 4);
  FDitherType = std::clamp(Ini.ReadInteger(s, "DitherType", 2), 0, 4);
  FDitherStr = std::clamp(Ini.ReadInteger(s, "DitherStr", 8), 0, 10);
  FQuality = std::clamp(Ini.ReadInteger(s, "Quality", 9), 1, 10);
  FFlags = DetectDecreaseColorTools(FToolFolder);
  // A stored tool that is missing gives way to the first one present.
  if (FMode < DECREASE_COLOR_NONE || FMode > DECREASE_COLOR_PNGNQI) FMode = DECREASE_COLOR_NONE;
  if (FMode > DECREASE_COLOR_NONE && !(FFlags & (1u << (FMode - 1)))) FMode = DECREASE_COLOR_NONE;
  if (FMode == DECREASE_COLOR_NONE)
    for (int32_t m = DECREASE_COLOR_FLAXC; m <= DECREASE_COLOR_PNGNQI && FMode == DECREASE_COLOR_NONE; ++m)
      if (FFlags & (1u << (m - 1))) FMode = m;
  if (FMode == DECREASE_COLOR_NONE) FUse = false;
}

void TDecreaseColorEffect::WriteIniFile(TMemIniFile &Ini) const {
  TEffect::WriteIniFile(Ini);
  const std::string &s = FSectionName;
  Ini.WriteString(s, "Option", FOption);
  Ini.WriteInteger(s, "Mode", FMode);
  Ini.WriteInteger(s, "PaletteEntries", FPaletteEntries);
  Ini.WriteInteger(s, "TransparentType", FTransparentType);
  Ini.WriteInteger(s, "DitherType", FDitherType);
  Ini.WriteInteger(s, "DitherStr", FDitherStr);
  Ini.WriteInteger(s, "Quality", FQuality);
}

void TDecreaseColorEffect::InitFLAXC(int32_t ProcessorCount) const {
  const std::string Tool = FToolFolder + "/" + FLAXC_TOOL_NAME, Companion = FToolFolder + "/" + FLAXC_COMPANION_NAME;
  if (!IsExecutableFile(Tool) || !IsFile(Companion)) return;
  for (int32_t n = 1; n <= std::max(ProcessorCount, 1); ++n) {
    const std::string Folder = FlaxcCopyFolder(n);
    std::error_code ec;
    fs::create_directories(Folder, ec);
    for (const std::string *From : {&Tool, &Companion}) {
      const std::string To = Folder + "/" + fs::path(*From).filename().string();
      if (IsFile(To)) continue;
      if (!fs::copy_file(*From, To, ec) || ec)
        throw ETessivoError("FLAXCをコピーできません: " + To, ec.message());
    }
  }
}

std::string TDecreaseColorEffect::ToolPath(int32_t ThreadNum) const {
  switch (FMode) {
    case DECREASE_COLOR_FLAXC: return FlaxcCopyFolder(ThreadNum + 1) + "/" + FLAXC_TOOL_NAME;
    case DECREASE_COLOR_IZYINS: return FToolFolder + "/" + IZYINS_TOOL_NAME;
    default: return FToolFolder + "/" + PNGNQI_TOOL_NAME;
  }
}

std::vector<std::string> TDecreaseColorEffect::ToolArguments(int32_t ThreadNum, const std::string &Source,
                                                             const std::string &Dest) const {
  std::vector<std::string> Args{ToolPath(ThreadNum)};
  if (FMode == DECREASE_COLOR_PNGNQI) {
    Args.push_back("-n" + std::to_string(FPaletteEntries));
    Args.push_back("-s" + std::to_string(11 - FQuality));
    Args.push_back(FDitherType != 0 ? "-Qf" : "-Qn");
    Args.push_back(Source);
    return Args;
  }
  Args.push_back(Source);
  Args.push_back(Dest);
  for (std::string &w : SplitCommandLine(FOption)) Args.push_back(std::move(w));
  for (const std::string &w : {std::string("-R1"), std::string("-B0"), "-A" + std::to_string(FTransparentType),
                               "-P" + std::to_string(FPaletteEntries), "-D" + std::to_string(FDitherType),
                               "-L" + std::to_string(FDitherStr)})
    Args.push_back(w);
  return Args;
}

bool TDecreaseColorEffect::FlattensAlpha() const {
  return FUse && (FMode == DECREASE_COLOR_FLAXC || FMode == DECREASE_COLOR_IZYINS);
}

namespace {

// The tool's result in place of the picture's pixels; the pixel format
// follows only when the channel count changed (a gray palette from colour).
void TakeResult(TICCImgInfo &Img, const std::string &Result, const std::string &Errors, int32_t Status,
                int32_t Mode, int32_t OutType, const TEffectParams &Params) {
  TImageProbe Entry;
  if (!IsFile(Result) || !ProbeImageFile(Result, Entry)) {
    std::string Why = LastErrorLine(Errors);
    if (Why.empty()) Why = Status < 0 ? "起動できません" : "結果のファイルがありません";
    const std::string Name = ToolName(Mode);
    if (Why.starts_with(Name + ": ")) Why.erase(0, Name.size() + 2);  // the tool names itself
    throw ETessivoError("減色に失敗しました", Name + ": " + Why);
  }
  const TFormatOptions Formats = Params.Settings ? Params.Settings->Formats : TFormatOptions{};
  const TColorManagementOption Colour = Params.Settings ? Params.Settings->ColorManagement : TColorManagementOption{};
  TICCImgOwner Loaded;
  LoadPicture(Entry, *Loaded, TScale{}, false, false, nullptr, false, OutType, Formats, Colour, Params.MemoryBudget);
  TICCImgInfo &r = *Loaded;
  if (Img.Mem) PageFree(Img.Mem);
  if (r.Channels != Img.Channels) {
    Img.PixelFormat = r.PixelFormat;
    Img.IsGrayAlpha = r.IsGrayAlpha;
  }
  Img.Mem = r.Mem, Img.Bpl = r.Bpl, Img.Channels = r.Channels;
  Img.Width = r.Width, Img.Height = r.Height, Img.BPP = r.BPP;
  r.Mem = nullptr;
}

}  // namespace

void TDecreaseColorEffect::ReduceWithBitmap(TICCImgInfo &Img, TEffectParams &Params) const {
  const std::string k = std::to_string(Params.ThreadNum);
  TWorkFiles Files{{RunTempPath("srcbmp" + k + ".bmp"), RunTempPath("destbmp" + k + ".bmp"),
                    RunTempPath("decreasecolor_err" + k + ".txt")}};
  const std::string &Source = Files.Paths[0], &Dest = Files.Paths[1], &Errors = Files.Paths[2];
  DeleteWorkFile(Dest);  // a result left by an earlier file must not be taken for this one's
  TSaveContext Context;
  if (Params.Settings) Context.Formats = Params.Settings->Formats;
  Context.Formats.Bitmap.AlphaChannelSupport = 0;
  const TImageProbe Entry;
  const TSaveJob Job{&Entry, Params.RInfo, 8, &Context};
  SaveBitmapFile(Source, Img, Job);
  const int32_t Status = RunChildProcess(ToolArguments(Params.ThreadNum, Source, Dest), NiceOf(Params), Errors);
  DeleteWorkFile(Source);
  TakeResult(Img, Dest, Errors, Status, FMode, OutputTypeOf(Params.OutFileName), Params);
}

void TDecreaseColorEffect::ReduceWithPngnqi(TICCImgInfo &Img, TEffectParams &Params, int32_t OutType) const {
  const std::string k = std::to_string(Params.ThreadNum);
  const std::string Source = RunTempPath("srcpng" + k + ".png"), Result = RunTempPath("srcpng" + k + "-nq8.png");
  TWorkFiles Files{{Source, RunTempPath("decreasecolor_err" + k + ".txt")}};
  DeleteWorkFile(Result);
  TSaveContext Context;
  if (Params.Settings) Context.Formats = Params.Settings->Formats;
  Context.Formats.PNG.UsePNGOUT = 0;  // a working file: the tool reads it at once
  const TImageProbe Entry;
  const TSaveJob Job{&Entry, Params.RInfo, 8, &Context};
  SavePNGFile(Source, Img, Job);
  const int32_t Status = RunChildProcess(ToolArguments(Params.ThreadNum, Source, Result), NiceOf(Params), Files.Paths[1]);
  DeleteWorkFile(Source);
  if (OutType == OUTPUT_PNG) {
    // The tool's file becomes the output; the worker puts it in place.
    if (!IsFile(Result)) {
      TakeResult(Img, Result, Files.Paths[1], Status, FMode, OutType, Params);  // raises with the reason
    }
    Params.PreparedOutput = Result;
    return;
  }
  Files.Paths.push_back(Result);
  TakeResult(Img, Result, Files.Paths[1], Status, FMode, OutType, Params);
}

void TDecreaseColorEffect::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  if (FMode == DECREASE_COLOR_NONE || !Img.Mem) return;
  const int32_t OutType = OutputTypeOf(Params.OutFileName);
  ConvertTo8Bit(Img, true, Params.Settings ? Params.Settings->System.Dither : 0);
  if (FMode == DECREASE_COLOR_PNGNQI)
    ReduceWithPngnqi(Img, Params, OutType);
  else
    ReduceWithBitmap(Img, Params);
  Params.DecreaseColor = true;
}
