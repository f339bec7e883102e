// Settings-file keys of the program-wide records.
#include "batch/ConvertOptionIni.h"

#include "batch/CombineOption.h"

#include "io/FormatOption.h"
#include "lossless/WembSettings.h"

#include "core/IniFile.h"
#include "core/PixelConvert.h"
#include "core/RunTempFolder.h"
#include "resample/Resize.h"
#include "batch/SizeRule.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>


namespace {

constexpr int32_t White = 16777215;

LongBool ToLongBool(bool b) { return b ? LongTrue : LongFalse; }

LongBool ReadLongBool(const TMemIniFile &Ini, std::string_view Section, std::string_view Ident, bool Default) {
  return ToLongBool(Ini.ReadBool(Section, Ident, Default));
}

std::string EnvOr(const char *Name, const std::string &Fallback) {
  const char *v = std::getenv(Name);
  return v && *v ? std::string(v) : Fallback;
}

}  // namespace

std::string UserDirsFolder(const char *Name, const char *Fallback) {
  const std::string home = EnvOr("HOME", "/tmp");
  // The XDG user-dirs file names the folders as
  // XDG_PICTURES_DIR="$HOME/Pictures"; only $HOME is expanded there.
  std::ifstream f(EnvOr("XDG_CONFIG_HOME", home + "/.config") + "/user-dirs.dirs");
  std::string line;
  const std::string key = std::string(Name) + "=\"";
  while (std::getline(f, line)) {
    if (line.compare(0, key.size(), key) != 0) continue;
    std::string v = line.substr(key.size());
    const size_t q = v.find('"');
    if (q == std::string::npos) break;
    v.resize(q);
    if (v.compare(0, 5, "$HOME") == 0) v = home + v.substr(5);
    if (!v.empty() && v.front() == '/') return ExcludeTrailingDelimiter(v);
    break;
  }
  return home + "/" + Fallback;
}

std::string UserPictureFolder() { return UserDirsFolder("XDG_PICTURES_DIR", "Pictures"); }

// ---------------------------------------------------------------------------

void ReadSystemOption(const TMemIniFile &Ini, TSystemOption &Option, uint32_t &Background) {
  const char *s = "System";
  ApplySystemThreadRules(Option, Ini.ReadInteger(s, "MaxThread", 0), Ini.ReadBool(s, "Parallel", true));
  Option.MemReserve = Ini.ReadBool(s, "MemReserve", false);
  Option.MemoryBudgetMB = Ini.ReadInteger(s, "MemoryBudgetMB", 0);
  Option.UseExternalTool = Ini.ReadBool(s, "UseExternalTool", false);
  Option.Command = Ini.ReadString(s, "Command", "");
  Option.Dither = Ini.ReadInteger(s, "Dither", 0);
  Option.Multiple = ReadLongBool(Ini, s, "Multiple", false);
  Option.Caption = Ini.ReadString(s, "Caption", "%ini");
  Option.ThumbnailSize = Ini.ReadInteger(s, "ThumbnailSize", 1);
  Option.UseAVX = ReadLongBool(Ini, s, "AVX", true);
  Option.DeleteFile = ReadLongBool(Ini, s, "DeleteFile", false);
  Option.DeleteFileName = Ini.ReadString(s, "DeleteFileName", "");
  Option.WatchClipBoard = ReadLongBool(Ini, s, "WatchClipBoard", false);
  Option.EnabledLabMode = ReadLongBool(Ini, s, "EnabledLabMode", false);
  Option.SoundFile = Ini.ReadString(s, "SoundFile", "");
  Option.ProcessPriority = Ini.ReadInteger(s, "Priority", 2);
  for (int i = 0; i < 16; ++i)
    Option.CustomPalette[i] = Ini.ReadInteger(s, "CustomPalette" + std::to_string(i + 1), White);
  Background = uint32_t(Ini.ReadInteger(s, "Background", White)) & 0xFFFFFF;
  Option.Notify = ReadLongBool(Ini, "Stsrem", "NotifySound", false);
}

void WriteSystemOption(TMemIniFile &Ini, const TSystemOption &Option, uint32_t Background) {
  const char *s = "System";
  Ini.WriteInteger(s, "MaxThread", Option.MaxThreadSetting);
  Ini.WriteBool(s, "Parallel", Option.ParallelProcessing);
  Ini.WriteBool(s, "MemReserve", Option.MemReserve);
  // Only a budget someone chose is stored: profiles written with the automatic one stay as they were.
  if (Option.MemoryBudgetMB != 0) Ini.WriteInteger(s, "MemoryBudgetMB", Option.MemoryBudgetMB);
  Ini.WriteBool(s, "UseExternalTool", Option.UseExternalTool);
  Ini.WriteString(s, "Command", Option.Command);
  Ini.WriteInteger(s, "Dither", Option.Dither);
  Ini.WriteBool(s, "Multiple", Option.Multiple);
  Ini.WriteString(s, "Caption", Option.Caption);
  Ini.WriteInteger(s, "ThumbnailSize", Option.ThumbnailSize);
  Ini.WriteBool(s, "AVX", Option.UseAVX);
  Ini.WriteBool(s, "DeleteFile", Option.DeleteFile);
  Ini.WriteString(s, "DeleteFileName", Option.DeleteFileName);
  Ini.WriteBool(s, "WatchClipBoard", Option.WatchClipBoard);
  Ini.WriteBool(s, "EnabledLabMode", Option.EnabledLabMode);
  Ini.WriteString(s, "SoundFile", Option.SoundFile);
  Ini.WriteInteger(s, "Priority", Option.ProcessPriority);
  for (int i = 0; i < 16; ++i) Ini.WriteInteger(s, "CustomPalette" + std::to_string(i + 1), Option.CustomPalette[i]);
  Ini.WriteInteger(s, "Background", int32_t(Background & 0xFFFFFF));
  Ini.WriteBool("Stsrem", "NotifySound", Option.Notify);
}

// ---------------------------------------------------------------------------

void ReadFileOption(const TMemIniFile &Ini, TFileOption &Option) {
  const char *s = "File";
  Option.OutputDirectory = Ini.ReadString(s, "OutPutDirectory", UserPictureFolder() + "/TessivoPlus");
  Option.ShowDirectory = Ini.ReadBool(s, "ShowDirectory", true);
  ApplyStoredTemplate(Option, Ini.ReadString(s, "FileNameFormat", "resize/<old>"),
                      Ini.ReadBool(s, "SameDirectory", true));
  Option.NotOverwrite = Ini.ReadBool(s, "NotOverwrite", true);
  Option.RenameOnly = Ini.ReadBool(s, "RenameOnly", false);
  Option.AddSubFolder = Ini.ReadBool(s, "AddSubFolder", true);
  Option.AtOnce = Ini.ReadBool(s, "AtOnce", false);
  Option.RemoveList = Ini.ReadBool(s, "RemoveList", false);
  Option.Skip = Ini.ReadBool(s, "Skip", false);
  Option.StartNumber = Ini.ReadInteger(s, "StartNumber", 1);
  Option.ResetType = Ini.ReadInteger(s, "NumberResetType", 0);
  Option.IgnoreReadOnlyAttr = ReadLongBool(Ini, s, "IgnoreReadOnlyAttr", false);
  Option.ClipBoardTempDir = NormalizeStoredPath(Ini.ReadString(s, "ClipBoardTemp", SystemTempFolder()));
  Option.SkipImageCheck = ReadLongBool(Ini, s, "SkipImageCheck", false);
  Option.OpenCheck = Ini.ReadBool(s, "OpenCheck", true);
  Option.DeleteInputFile = ReadLongBool(Ini, s, "DeleteInputFile", false);
  Option.AutoSortMode = Ini.ReadInteger(s, "AutoSortMode", 0);
  Option.AllowUndo = ReadLongBool(Ini, s, "AllowUndo", false);
  std::string ext = Ini.ReadString(s, "TargetExt", "jpg,png,bmp,tif,gif,ico,wdp,jxr,hdp");
  ext.erase(std::remove(ext.begin(), ext.end(), '.'), ext.end());
  Option.TargetExt = ext;
  Option.CheckExt = ReadLongBool(Ini, s, "CheckExt", false);
}

void WriteFileOption(TMemIniFile &Ini, const TFileOption &Option) {
  const char *s = "File";
  Ini.WriteString(s, "OutPutDirectory", SplitTemplate(Option).Folder);
  Ini.WriteBool(s, "ShowDirectory", Option.ShowDirectory);
  Ini.WriteString(s, "FileNameFormat", Option.FileNameFormat);
  Ini.WriteBool(s, "SameDirectory", Option.SameDirectory);
  Ini.WriteBool(s, "NotOverwrite", Option.NotOverwrite);
  Ini.WriteBool(s, "RenameOnly", Option.RenameOnly);
  Ini.WriteBool(s, "AddSubFolder", Option.AddSubFolder);
  Ini.WriteBool(s, "AtOnce", Option.AtOnce);
  Ini.WriteBool(s, "RemoveList", Option.RemoveList);
  Ini.WriteBool(s, "Skip", Option.Skip);
  Ini.WriteInteger(s, "StartNumber", Option.StartNumber);
  Ini.WriteInteger(s, "NumberResetType", Option.ResetType);
  Ini.WriteBool(s, "IgnoreReadOnlyAttr", Option.IgnoreReadOnlyAttr);
  Ini.WriteString(s, "ClipBoardTemp", Option.ClipBoardTempDir);
  Ini.WriteBool(s, "SkipImageCheck", Option.SkipImageCheck);
  Ini.WriteBool(s, "OpenCheck", Option.OpenCheck);
  Ini.WriteBool(s, "DeleteInputFile", Option.DeleteInputFile);
  Ini.WriteInteger(s, "AutoSortMode", Option.AutoSortMode);
  Ini.WriteBool(s, "AllowUndo", Option.AllowUndo);
  Ini.WriteString(s, "TargetExt", Option.TargetExt);
  Ini.WriteBool(s, "CheckExt", Option.CheckExt);
}

// ---------------------------------------------------------------------------

void ReadResizeOption(const TMemIniFile &Ini, TResizeOption &Option, int32_t ProcessorCount) {
  const char *s = "Resize";
  Option.Rule = Ini.ReadInteger(s, "Rule", 0);
  if (Option.Rule < 0 || Option.Rule >= SIZE_RULE_COUNT) Option.Rule = 0;
  ParseSizeList(Ini.ReadString(s, "Size1", DefaultSizeList(false)), Option.Size1, false);
  ParseSizeList(Ini.ReadString(s, "Size2", DefaultSizeList(true)), Option.Size2, true);
  std::string history = Ini.ReadString(s, "History", TSizeRuleHistory::DefaultText);
  // A value written by hand as a bare entry is one entry.
  if (!history.empty() && history.front() != '"') history = JoinCommaText({history}, true);
  Option.History = history;
  // The kernels and their parameters default to those of a fresh record.
  const TResizeOption Defaults;
  Option.DecimationMode = Ini.ReadInteger(s, "DecimationType", Defaults.DecimationMode);
  Option.DecimationRadius = Ini.ReadInteger(s, "DecimationRadius", Defaults.DecimationRadius);
  Option.DecimationSharp = Ini.ReadInteger(s, "DecimationSharp", Defaults.DecimationSharp);
  Option.DecimationBlur = Ini.ReadInteger(s, "DecimationBlur", Defaults.DecimationBlur);
  Option.InterpolationMode = Ini.ReadInteger(s, "InterpolationType", Defaults.InterpolationMode);
  Option.InterpolationRadius = Ini.ReadInteger(s, "InterpolationRadius", Defaults.InterpolationRadius);
  Option.InterpolationSharp = Ini.ReadInteger(s, "InterpolationSharp", Defaults.InterpolationSharp);
  Option.InterpolationBlur = Ini.ReadInteger(s, "InterpolationBlur", Defaults.InterpolationBlur);
  Option.SIMDMode = Ini.ReadInteger(s, "SIMD", 3);
  if (Option.SIMDMode != int32_t(SIMD_MODE_FLOAT) && Option.SIMDMode != int32_t(SIMD_MODE_INTEGER))
    Option.SIMDMode = SIMD_MODE_INTEGER;
  Option.MaxThread = ResizeThreadCountOf(Ini.ReadInteger(s, "MaxThread", ProcessorCount), ProcessorCount);
  Option.Degamma = Ini.ReadBool(s, "Degamma", false);
  Option.NoExpand = Ini.ReadBool(s, "NoExpand", false);
  Option.Limiter = Ini.ReadBool(s, "Limiter", false);
}

void WriteResizeOption(TMemIniFile &Ini, const TResizeOption &Option) {
  const char *s = "Resize";
  Ini.WriteInteger(s, "Rule", Option.Rule);
  Ini.WriteString(s, "Size1", FormatSizeList(Option.Size1));
  Ini.WriteString(s, "Size2", FormatSizeList(Option.Size2));
  Ini.WriteString(s, "History", Option.History);
  Ini.WriteInteger(s, "DecimationType", Option.DecimationMode);
  Ini.WriteInteger(s, "DecimationRadius", Option.DecimationRadius);
  Ini.WriteInteger(s, "DecimationSharp", Option.DecimationSharp);
  Ini.WriteInteger(s, "DecimationBlur", Option.DecimationBlur);
  Ini.WriteInteger(s, "InterpolationType", Option.InterpolationMode);
  Ini.WriteInteger(s, "InterpolationRadius", Option.InterpolationRadius);
  Ini.WriteInteger(s, "InterpolationSharp", Option.InterpolationSharp);
  Ini.WriteInteger(s, "InterpolationBlur", Option.InterpolationBlur);
  Ini.WriteInteger(s, "SIMD", Option.SIMDMode);
  Ini.WriteInteger(s, "MaxThread", int32_t(std::min<uint32_t>(Option.MaxThread, INT32_MAX)));
  Ini.WriteBool(s, "Degamma", Option.Degamma);
  Ini.WriteBool(s, "NoExpand", Option.NoExpand);
  Ini.WriteBool(s, "Limiter", Option.Limiter);
}

// ---------------------------------------------------------------------------

void ReadPreviewOption(const TMemIniFile &Ini, TPreviewOption &Option, int32_t WorkAreaWidth,
                       int32_t WorkAreaHeight) {
  const char *s = "Preview";
  Option.ViewerPath = Ini.ReadString(s, "ViewerPath", "");
  Option.ViewerOption = Ini.ReadString(s, "ViewerOption", "/getclip /user=tessivo");
  Option.ViewerOption2 = Ini.ReadString(s, "ViewerOption2", "/getclip /newwnd /user=tessivo");
  Option.Width = Ini.ReadInteger(s, "Width", 800);
  Option.Height = Ini.ReadInteger(s, "Height", 600);
  if (WorkAreaWidth > 0) Option.Width = std::min(Option.Width, WorkAreaWidth);
  if (WorkAreaHeight > 0) Option.Height = std::min(Option.Height, WorkAreaHeight);
  Option.Left = Ini.ReadInteger(s, "Left", -1);
  Option.Top = Ini.ReadInteger(s, "Top", -1);
  Option.HistogramType = Ini.ReadInteger(s, "HistogramType", 0);
  Option.HistogramChannel = Ini.ReadInteger(s, "HistogramChannel", 0);
  Option.ResizeMode = Ini.ReadInteger(s, "ResizeMode", 2);
  Option.ViewMode = Ini.ReadInteger(s, "ViewMode", 1);
}

void WritePreviewOption(TMemIniFile &Ini, const TPreviewOption &Option) {
  const char *s = "Preview";
  Ini.WriteString(s, "ViewerPath", Option.ViewerPath);
  Ini.WriteString(s, "ViewerOption", Option.ViewerOption);
  Ini.WriteString(s, "ViewerOption2", Option.ViewerOption2);
  Ini.WriteInteger(s, "Width", Option.Width);
  Ini.WriteInteger(s, "Height", Option.Height);
  Ini.WriteInteger(s, "Left", Option.Left);
  Ini.WriteInteger(s, "Top", Option.Top);
  Ini.WriteInteger(s, "HistogramType", Option.HistogramType);
  Ini.WriteInteger(s, "HistogramChannel", Option.HistogramChannel);
  Ini.WriteInteger(s, "ResizeMode", Option.ResizeMode);
  Ini.WriteInteger(s, "ViewMode", Option.ViewMode);
}

// ---------------------------------------------------------------------------

void ReadSPIOption(const TMemIniFile &Ini, TSPIOption &Option) {
  Option.SPITo = Ini.ReadInteger("SPI", "ConvertTo", 3);
  Option.WICTo = Ini.ReadInteger("WIC", "ConvertTo", 2);
}

void WriteSPIOption(TMemIniFile &Ini, const TSPIOption &Option) {
  Ini.WriteInteger("SPI", "ConvertTo", Option.SPITo);
  Ini.WriteInteger("WIC", "ConvertTo", Option.WICTo);
}

void ReadPluginFolderOption(const TMemIniFile &Ini, TSPIOption &Option, const std::string &ProgramFolder) {
  Option.SPIDirectory = NormalizeStoredPath(Ini.ReadString("SPI", "SPIDirectory", ""));
  if (Option.SPIDirectory.empty()) Option.SPIDirectory = IncludeTrailingDelimiter(ProgramFolder) + "SusiePlugin";
  Option.ThreadSafeSPI = ReadLongBool(Ini, "SPI", "ThreadSafeSPI", false);
}

void WritePluginFolderOption(TMemIniFile &Ini, const TSPIOption &Option) {
  Ini.WriteString("SPI", "SPIDirectory", Option.SPIDirectory);
  Ini.WriteBool("SPI", "ThreadSafeSPI", Option.ThreadSafeSPI);
}

// ---------------------------------------------------------------------------

void ReadColorManagementOption(const TMemIniFile &Ini, TColorManagementOption &Option) {
  const char *s = "ColorManagement";
  Option.Enabled = ReadLongBool(Ini, s, "Enabled", true);
  Option.MonitorProfile = Ini.ReadString(s, "MonitorProfile", "");
  Option.CMYKProfile = Ini.ReadString(s, "CMYKProfile", "");
  Option.WorkSpaceProfile = Ini.ReadString(s, "WorkSpaceProfile", "");
  Option.CreateICCProfileFromExif = ReadLongBool(Ini, s, "CreateICCProfileFromExif", true);
  Option.RenderingIntent = Ini.ReadInteger(s, "RenderingIntent", 0);
  Option.RGBProfile = Ini.ReadString(s, "RGBProfile", "");
  Option.GrayscaleProfile = Ini.ReadString(s, "GrayscaleProfile", "");
  Option.ColorProfileDir = NormalizeStoredPath(Ini.ReadString("ColorSpaceConvert", "ColorProfileDir", ""));
}

void WriteColorManagementOption(TMemIniFile &Ini, const TColorManagementOption &Option) {
  const char *s = "ColorManagement";
  Ini.WriteBool(s, "Enabled", Option.Enabled);
  Ini.WriteString(s, "MonitorProfile", Option.MonitorProfile);
  Ini.WriteString(s, "CMYKProfile", Option.CMYKProfile);
  Ini.WriteString(s, "WorkSpaceProfile", Option.WorkSpaceProfile);
  Ini.WriteBool(s, "CreateICCProfileFromExif", Option.CreateICCProfileFromExif);
  Ini.WriteInteger(s, "RenderingIntent", Option.RenderingIntent);
  Ini.WriteString(s, "RGBProfile", Option.RGBProfile);
  Ini.WriteString(s, "GrayscaleProfile", Option.GrayscaleProfile);
  Ini.WriteString("ColorSpaceConvert", "ColorProfileDir", Option.ColorProfileDir);
}

// ---------------------------------------------------------------------------

int32_t ReadConvertMode(const TMemIniFile &Ini, TFileOption &Option) {
  TConvertModeSwitches sw;
  sw.RenameOnly = Ini.ReadBool("File", "RenameOnly", false);
  sw.JPEGTranUse = Ini.ReadBool("JPEGTran", "Use", false);
  sw.CombineUse = Ini.ReadBool("Combine", "Use", false);
  const int32_t mode = DeriveConvertMode(sw);
  Option.RenameOnly = sw.RenameOnly;
  return mode;
}

void WriteConvertMode(TMemIniFile &Ini, int32_t Mode) {
  const TConvertModeSwitches sw = SwitchesOfConvertMode(Mode);
  Ini.WriteBool("File", "RenameOnly", sw.RenameOnly);
  Ini.WriteBool("JPEGTran", "Use", sw.JPEGTranUse);
  Ini.WriteBool("Combine", "Use", sw.CombineUse);
}

void ReadConvertSettings(const TMemIniFile &Ini) {
  ReadSystemOption(Ini, SystemOption, Background);
  ReadFileOption(Ini, FileOption);
  ReadResizeOption(Ini, ResizeOption, SystemOption.ProcessorCount);
  ReadPreviewOption(Ini, PreviewOption);
  ReadSPIOption(Ini, SPIOption);
  ReadColorManagementOption(Ini, ColorManagementOption);
  ReadCombineOption(Ini, CombineOption);
  ReadWembSettings(Ini, WembSettings);
  ConvertMode = ReadConvertMode(Ini, FileOption);
}

void WriteConvertSettings(TMemIniFile &Ini) {
  WriteSystemOption(Ini, SystemOption, Background);
  WriteFileOption(Ini, FileOption);
  WriteResizeOption(Ini, ResizeOption);
  WritePreviewOption(Ini, PreviewOption);
  WriteSPIOption(Ini, SPIOption);
  WriteColorManagementOption(Ini, ColorManagementOption);
  WriteCombineOption(Ini, CombineOption);
  WriteWembSettings(Ini, WembSettings);
  WriteConvertMode(Ini, ConvertMode);
}

void ApplyLoadedSettings(TUnsharpMask *USM) {
  if (MainResizer)
    ApplyResizeKernels(ResizeOption.DecimationMode, ResizeOption.InterpolationMode, ResizeOption.SIMDMode);
  ApplyResizeThreadCount(ResizeOption, true, USM);
  SetDitherOption(SystemOption.Dither);
  ApplyProcessPriority(SystemOption.ProcessPriority);
}
