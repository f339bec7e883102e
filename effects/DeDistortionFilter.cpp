// Lens correction through a reprojection tool.
#include "effects/DeDistortionFilter.h"

#include "core/ChildProcess.h"
#include "core/Errors.h"
#include "core/IniFile.h"
#include "core/ProgramFolder.h"
#include "core/RunTempFolder.h"
#include "core/SizeExpression.h"
#include "effects/FisheyeLibrary.h"
#include "effects/Geometry.h"
#include "effects/RunSettings.h"
#include "io/LoadPicture.h"
#include "io/OutputType.h"
#include "io/SavePicture.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// Codes of the script language by tool (PTStitcherNG, dedistortion): the
// orthographic source reaches PTStitcherNG remapped to a circular fisheye.
constexpr int32_t LensCodes[4][2] = {{2, 2}, {3, 3}, {5, 21}, {2, 8}};
constexpr int32_t PanoramaCodes[6][2] = {{0, 0}, {1, 1}, {2, 2}, {19, 19}, {3, 3}, {5, 15}};
constexpr int32_t PaniniCode = 19;
constexpr int32_t RectilinearCode = 0;
constexpr double RectilinearLimit = 179;
constexpr int32_t MinScriptWidth = 500;

int32_t ToolIndex(int32_t Tool) { return Tool == DEDISTORTION_TOOL_PTSTITCHER ? 0 : 1; }

std::string Fixed2(double V) {
  char b[64];
  std::snprintf(b, sizeof b, "%.2f", V);
  return b;
}

std::string ReadSmallFile(const std::string &Path) {
  std::ifstream in(Path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.size() > 4096) text.resize(4096);
  return text;
}

// The last non-empty line of a tool's standard error.
std::string LastLine(std::string Text) {
  while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r' || Text.back() == ' ')) Text.pop_back();
  const size_t nl = Text.find_last_of("\r\n");
  return nl == std::string::npos ? Text : Text.substr(nl + 1);
}

void WriteScriptFile(const std::string &Path, const std::string &Text) {
  TOutputFile out(Path);
  out.Write(std::span(reinterpret_cast<const uint8_t *>(Text.data()), Text.size()));
  out.Commit();
}

// The working files of one worker, deleted (with retries) when it goes.
struct TWorkFiles {
  std::string Source, Script, Result, Errors;
  explicit TWorkFiles(int32_t K)
      : Source(RunTempPath("dedistortion_src" + std::to_string(K) + ".tif")),
        Script(RunTempPath("script" + std::to_string(K) + ".txt")),
        Result(RunTempPath("dedistortion_dest" + std::to_string(K) + ".tif")),
        Errors(RunTempPath("dedistortion_err" + std::to_string(K) + ".txt")) {}
  ~TWorkFiles() {
    for (const std::string *p : {&Source, &Script, &Result, &Errors}) DeleteWorkFile(*p);
  }
  TWorkFiles(const TWorkFiles &) = delete;
  TWorkFiles &operator=(const TWorkFiles &) = delete;
};

}  // namespace

int32_t DeDistortionLensCode(int32_t Tool, int32_t SrcProjection) {
  if (SrcProjection < 0 || SrcProjection > 3) return -1;
  return LensCodes[SrcProjection][ToolIndex(Tool)];
}

int32_t DeDistortionPanoramaCode(int32_t Tool, int32_t DestProjection) {
  if (DestProjection < 0 || DestProjection > 5) return -1;
  return PanoramaCodes[DestProjection][ToolIndex(Tool)];
}

TDeDistortionSize DeDistortionResultSize(const std::string &WidthExpression, const std::string &HeightExpression,
                                         int32_t W, int32_t H) {
  TDeDistortionSize s;
  try {
    const double w = EvaluateSizeExpression(SubstituteSizeVariables(WidthExpression, W, H));
    const double h = EvaluateSizeExpression(SubstituteSizeVariables(HeightExpression, W, H));
    // Sizes beyond what an image can have count as failures too.
    if (w < 2147483648.0 && h < 2147483648.0) s = {int32_t(std::trunc(w)), int32_t(std::trunc(h))};
  } catch (const ETessivoError &) {
    s = {};
  }
  if (s.Width < 1 || s.Height < 1) s = {W, W / 2};
  return s;
}

double DeDistortionResultAngle(int32_t Tool, int32_t PanoCode, double DestHFOV) {
  if (PanoCode == PaniniCode && Tool == DEDISTORTION_TOOL_PTSTITCHER) {
    const double g = DestHFOV;
    return ((((1.71997497997294e-10 * g - 3.68764080713067e-8) * g + 1.04523593746105e-5) * g -
             1.85347411404754e-4) * g + 1.00248227910585) * g + 1.72066929187101e-3;
  }
  if (PanoCode == RectilinearCode && DestHFOV > RectilinearLimit) return RectilinearLimit;
  return DestHFOV;
}

std::string DeDistortionScriptText(const TDeDistortionScript &S) {
  std::string o = "o y" + Fixed2(S.Yaw) + " p" + Fixed2(S.Pitch) + " r" + Fixed2(S.Roll) + " f" +
                  std::to_string(S.LensCode) + " v" + Fixed2(S.SrcHFOV);
  if (S.Tool == DEDISTORTION_TOOL_PTSTITCHER) o += " n\"" + S.SourceFile + "\"";
  std::string p = "p w" + std::to_string(std::max(S.Width, MinScriptWidth)) + " h" + std::to_string(S.Height) + " f" +
                  std::to_string(S.PanoCode) + " v" + Fixed2(S.Angle);
  if (S.PanoCode == PaniniCode) p += " P\"100 0 0\"";
  return o + "\r\n" + p + "\r\nm i1\r\n";
}

TDeDistortionFilter::TDeDistortionFilter(std::string BinFolder)
    : TEffect(EFFECT_DEDISTORTION), FBinFolder(BinFolder.empty() ? ProgramBinFolder() : std::move(BinFolder)) {}

std::string TDeDistortionFilter::ToolPath(int32_t Tool) const {
  return FBinFolder + "/" + (Tool == DEDISTORTION_TOOL_PTSTITCHER ? PTSTITCHER_TOOL_NAME : DEDISTORTION_TOOL_NAME);
}

bool TDeDistortionFilter::ToolExists(int32_t Tool) const {
  std::error_code ec;
  return std::filesystem::is_regular_file(ToolPath(Tool), ec);
}

TDeDistortionScript TDeDistortionFilter::ScriptFor(int32_t W, int32_t H, const std::string &SourceFile) const {
  TDeDistortionScript s;
  s.Tool = FTool == DEDISTORTION_TOOL_PTSTITCHER ? DEDISTORTION_TOOL_PTSTITCHER : DEDISTORTION_TOOL_DEDISTORTION;
  s.Yaw = FYaw, s.Pitch = FPitch, s.Roll = FRoll;
  s.LensCode = DeDistortionLensCode(s.Tool, FSrcProjection), s.SrcHFOV = FSrcHFOV, s.SourceFile = SourceFile;
  const TDeDistortionSize size = DeDistortionResultSize(FWidth, FHeight, W, H);
  s.Width = size.Width, s.Height = size.Height;
  s.PanoCode = DeDistortionPanoramaCode(s.Tool, FDestProjection);
  s.Angle = DeDistortionResultAngle(s.Tool, s.PanoCode, std::atomic_ref<double>(FDestHFOV).load());
  return s;
}

void TDeDistortionFilter::ReadIniFile(const TMemIniFile &Ini) {
  TEffect::ReadIniFile(Ini);
  FMode = Ini.ReadInteger(FSectionName, "Mode", 0);
  FTool = Ini.ReadInteger(FSectionName, "Tool", 0);
  FSrcProjection = Ini.ReadInteger(FSectionName, "SrcProjection", 0);
  FSrcHFOV = Ini.ReadFloat(FSectionName, "SrcHFOV", 180);
  FDestProjection = Ini.ReadInteger(FSectionName, "DestProjection", 3);
  std::atomic_ref<double>(FDestHFOV).store(Ini.ReadFloat(FSectionName, "DestHFOV", 180));
  FWidth = Ini.ReadString(FSectionName, "Width", "w");
  FHeight = Ini.ReadString(FSectionName, "Height", "w*0.75");
  FRoll = Ini.ReadFloat(FSectionName, "Roll", 0);
  FPitch = Ini.ReadFloat(FSectionName, "Pitch", 0);
  FYaw = Ini.ReadFloat(FSectionName, "Yaw", 0);
  if (!ToolExists(DEDISTORTION_TOOL_PTSTITCHER)) FTool = DEDISTORTION_TOOL_DEDISTORTION;
  if (!ToolExists(DEDISTORTION_TOOL_DEDISTORTION)) FTool = DEDISTORTION_TOOL_PTSTITCHER;
}

void TDeDistortionFilter::WriteIniFile(TMemIniFile &Ini) const {
  TEffect::WriteIniFile(Ini);
  Ini.WriteInteger(FSectionName, "Mode", FMode);
  Ini.WriteInteger(FSectionName, "Tool", FTool);
  Ini.WriteInteger(FSectionName, "SrcProjection", FSrcProjection);
  Ini.WriteFloat(FSectionName, "SrcHFOV", FSrcHFOV);
  Ini.WriteInteger(FSectionName, "DestProjection", FDestProjection);
  Ini.WriteFloat(FSectionName, "DestHFOV", std::atomic_ref<double>(FDestHFOV).load());
  Ini.WriteString(FSectionName, "Width", FWidth);
  Ini.WriteString(FSectionName, "Height", FHeight);
  Ini.WriteFloat(FSectionName, "Roll", FRoll);
  Ini.WriteFloat(FSectionName, "Pitch", FPitch);
  Ini.WriteFloat(FSectionName, "Yaw", FYaw);
}

void TDeDistortionFilter::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  if (Img.Channels != 3 || !Img.Mem) return;
  const int32_t tool = FTool == DEDISTORTION_TOOL_PTSTITCHER ? DEDISTORTION_TOOL_PTSTITCHER : DEDISTORTION_TOOL_DEDISTORTION;
  const int32_t lens = DeDistortionLensCode(tool, FSrcProjection);
  const int32_t pano = DeDistortionPanoramaCode(tool, FDestProjection);
  if (lens < 0 || pano < 0) throw ETessivoError("歪み補正: 投影法の設定が不正です");

  // The tool gets a copy, so that the picture stays as it was when no
  // result comes back.
  TICCImgOwner work;
  CopyICCImgInfo(Img, *work, false);
  if (tool == DEDISTORTION_TOOL_PTSTITCHER && FSrcProjection == 3) OrthographicRemap(*work, FSrcHFOV, Params.MT);

  const TWorkFiles files(Params.ThreadNum);
  const TDeDistortionScript script = ScriptFor(int32_t(work->Width), int32_t(work->Height), files.Source);
  std::atomic_ref<double> destHFOV(FDestHFOV);
  if (pano == RectilinearCode && destHFOV.load() > RectilinearLimit) destHFOV.store(RectilinearLimit);
  WriteScriptFile(files.Script, DeDistortionScriptText(script));

  FlipTopBottom(*work, Params.MT);
  const TFormatOptions formats = Params.Settings ? Params.Settings->Formats : TFormatOptions{};
  SaveTIFFForTool(files.Source, *work, formats.Metadata);
  work.Release();

  const std::vector<std::string> args =
      tool == DEDISTORTION_TOOL_PTSTITCHER
          ? std::vector<std::string>{ToolPath(tool), "-o" + files.Result, "-c", "-q", "-f" + files.Script}
          : std::vector<std::string>{ToolPath(tool), "-o" + files.Result, "-i" + files.Source, "-s" + files.Script};
  const int32_t priority = Params.Settings ? Params.Settings->System.ProcessPriority : 2;
  const int32_t status = RunChildProcess(args, NiceValueOf(PriorityClassOf(priority)), files.Errors);
  DeleteWorkFile(files.Source);
  DeleteWorkFile(files.Script);

  // The exit status is not judged: a result file is taken as it is.
  TImageProbe entry;
  if (!ProbeImageFile(files.Result, entry)) {
    std::string why = LastLine(ReadSmallFile(files.Errors));
    if (why.empty()) why = status < 0 ? "起動できません" : "結果のファイルがありません";
    const std::string name = tool == DEDISTORTION_TOOL_PTSTITCHER ? PTSTITCHER_TOOL_NAME : DEDISTORTION_TOOL_NAME;
    if (why.starts_with(name + ": ")) why.erase(0, name.size() + 2);  // the tool names itself
    PutFileWarning(Params.InFileName, "歪み補正: " + name + ": " + why);
    return;
  }
  TICCImgOwner loaded;
  const TColorManagementOption colour = Params.Settings ? Params.Settings->ColorManagement : TColorManagementOption{};
  LoadPicture(entry, *loaded, TScale{}, false, false, nullptr, false, OUTPUT_JPEG, formats, colour,
              Params.MemoryBudget);
  // The picture takes the result's pixels; its format, profile and metadata stay.
  TICCImgInfo &r = *loaded;
  if (Img.Mem) PageFree(Img.Mem);
  Img.Mem = r.Mem, Img.Bpl = r.Bpl, Img.Channels = r.Channels;
  Img.Width = r.Width, Img.Height = r.Height, Img.BPP = r.BPP;
  r.Mem = nullptr;
}
