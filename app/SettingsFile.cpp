// Settings folders and reading a settings file.
#include "app/SettingsFile.h"

#include "app/PluginSettings.h"

#include "batch/ConvertOption.h"
#include "batch/ConvertOptionIni.h"
#include "effects/Effect.h"
#include "effects/UnsharpMaskFilter.h"
#include "core/Errors.h"
#include "batch/FileNameTemplate.h"
#include "io/FormatOption.h"
#include "resample/Filter.h"
#include "color/ICCUtil.h"
#include "core/IniFile.h"
#include "io/JpegSegment.h"
#include "batch/BatchObjects.h"
#include "core/MultiThread.h"
#include "core/ProgramFolder.h"
#include "core/AsciiCase.h"
#include "lossless/WembSettings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool IsFile(const std::string &Path) {
  struct stat st;
  return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void MakeFolder(const std::string &Path) {
  std::string Partial;
  for (size_t i = 0; i < Path.size(); ++i) {
    Partial += Path[i];
    if ((Path[i] == '/' && i > 0) || i + 1 == Path.size()) ::mkdir(Partial.c_str(), 0755);
  }
}

// The 64 table values of a ".dqt" file, one byte each in zigzag order, as
// row-major values; false when the file has fewer than 64 bytes.
bool ReadQuantizationTable(const std::string &Path, uint16_t (&Table)[64]) {
  std::ifstream In(Path, std::ios::binary);
  std::vector<unsigned char> Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  if (Bytes.size() < 64) return false;
  for (int i = 0; i < 64; ++i) Table[ZigzagToNaturalIndex[i]] = Bytes[size_t(i)];
  return true;
}

}  // namespace

std::string DataFolder() {
  std::string Folder;
  if (const char *d = std::getenv("TESSIVOPLUS_DATA"); d && *d) {
    Folder = d;
  } else if (const char *x = std::getenv("XDG_DATA_HOME"); x && *x == '/') {
    Folder = std::string(x) + "/TessivoPlus";
  } else {
    const char *h = std::getenv("HOME");
    Folder = std::string(h && *h ? h : "/tmp") + "/.local/share/TessivoPlus";
  }
  if (Folder.back() != '/') Folder += '/';
  return Folder;
}

std::string SettingsFolder() { return DataFolder() + "ini/"; }
std::string LumaQTFolder() { return DataFolder() + "LumaQT/"; }
std::string ChromaQTFolder() { return DataFolder() + "ChromaQT/"; }
std::string DefaultSettingsFile() { return SettingsFolder() + "TessivoPlus.ini"; }

void CreateDataFolders() {
  for (const char *Sub : {"ini", "ToneCurve", "Levels", "LumaQT", "ChromaQT"}) MakeFolder(DataFolder() + Sub);
}

std::string ResolveSettingsFileName(const std::string &Value) {
  if (Value.find('/') == std::string::npos) return SettingsFolder() + Value;
  if (Value.front() == '/') return Value;
  char Cwd[4096];
  if (!::getcwd(Cwd, sizeof Cwd)) return Value;
  return std::string(Cwd) + "/" + Value;
}

void ReadFormatOptions(const TMemIniFile &Ini, const std::string &BinFolder) {
  TBitmapOption &B = BitmapOption;
  B.ConvertTo = Ini.ReadInteger("Bitmap", "ConvertTo", 1);
  B.AlphaChannelSupport = Ini.ReadBool("Bitmap", "AlphaChannelSupport", true);
  B.AlphaBitmapHeaderType = Ini.ReadInteger("Bitmap", "AlphaBitmapHeaderType", 1);
  // The older switch, where present, decides and the newer key is not read.
  if (Ini.ValueExists("Bitmap", "AlphaCheckStrict")) {
    B.AlphaCheckType = Ini.ReadBool("Bitmap", "AlphaCheckStrict", false) ? ALPHA_CHECK_XRGB : ALPHA_CHECK_DETECT;
  } else {
    B.AlphaCheckType = Ini.ReadInteger("Bitmap", "AlphaCheckType", ALPHA_CHECK_DETECT);
  }
  B.IndexColor = Ini.ReadBool("Bitmap", "IndexColor", false);

  TJPEGOption &J = JPEGOption;
  J.JPEGTo = Ini.ReadInteger("JPEG", "ConvertTo", 2);
  J.SampleType = Ini.ReadInteger("JPEG", "SampleType", 1);
  J.Smoothing = Ini.ReadInteger("JPEG", "Smoothing", 0);
  J.Quality = Ini.ReadInteger("JPEG", "Quality", 90);
  J.AddExifInfo = Ini.ReadBool("JPEG", "AddExifInfo", true);
  J.DecodeWithDownScaling = Ini.ReadInteger("JPEG", "DecodeWithDownScaling", 0);
  J.DownScalingLimit = Ini.ReadInteger("JPEG", "DownScalingLimit", 200);
  J.DCTMethod = Ini.ReadInteger("JPEG", "DCTMethod", 0);
  J.UpdateExif = Ini.ReadBool("JPEG", "UpdateExif", true);
  J.UpdateExifResolution = Ini.ReadBool("JPEG", "UpdateExifResolution", false);
  J.UseFileSizeLimit = Ini.ReadBool("JPEG", "UseFileSizeLimit", false);
  J.FileSizeLimit = Ini.ReadInteger("JPEG", "FileSizeLimit", 200);
  J.QualityLimit = Ini.ReadInteger("JPEG", "QualityLimit", 75);
  J.SampleTypeLimit = Ini.ReadInteger("JPEG", "SampleTypeLimit", 0);
  J.UpdateExifThumbnail = Ini.ReadBool("JPEG", "UpdateExifThumbnail", false);
  J.AlwaysRecompress = Ini.ReadBool("JPEG", "AlwaysRecompress", false);
  J.OmitAPP0Marker = Ini.ReadBool("JPEG", "RemoveAPP0Marker", true);
  J.LumaTableName = Ini.ReadString("JPEG", "LumaTableName", "");
  J.ChromaTableName = Ini.ReadString("JPEG", "ChromaTableName", "");
  J.UseQuantizationTable = Ini.ReadBool("JPEG", "UseQuantizationTable", false);
  if (J.UseQuantizationTable) {
    const bool Ok = !J.LumaTableName.empty() && !J.ChromaTableName.empty() &&
                    ReadQuantizationTable(LumaQTFolder() + J.LumaTableName, J.LumaQT) &&
                    ReadQuantizationTable(ChromaQTFolder() + J.ChromaTableName, J.ChromaQT);
    if (!Ok) J.UseQuantizationTable = 0;
  }
  J.Progressive = Ini.ReadBool("JPEG", "Progressive", false);
  J.KeepQuality = Ini.ReadBool("JEPG", "KeepQuality", false);

  TPNGOption &P = PNGOption;
  P.ConvertTo = Ini.ReadInteger("PNG", "ConvertTo", 3);
  P.Filter = Ini.ReadInteger("PNG", "Filter", 0);
  P.CompressLevel = Ini.ReadInteger("PNG", "CompressLevel", 6);
  P.WritepHYsChunk = Ini.ReadBool("PNG", "WritepHYsChunk", false);
  P.IndexColor = Ini.ReadBool("PNG", "IndexColor", true);
  P.TransparentType = Ini.ReadInteger("PNG", "TransparentType", 0);
  P.TransparentColor = uint32_t(Ini.ReadInteger("PNG", "TransparentColor", 0));
  P.UsePNGOUT = Ini.ReadBool("PNG", "UsePNGOUT", false) && IsFile(BinFolder + "/pngout");
  P.MaximumOptimization = Ini.ReadBool("PNG", "MaximumOptimization", false);
  P.FullColorOptimization = Ini.ReadBool("PNG", "FullColorOptimization", false);
  P.UsebKGDChunk = Ini.ReadBool("PNG", "UsebKGDChunk", true);
  P.Is16Bit = Ini.ReadInteger("PNG", "16Bit", 2);
  P.UseWIC = Ini.ReadBool("PNG", "UseWIC", false);

  THDPOption &H = HDPOption;
  H.UseCodecOptions = Ini.ReadBool("HDP", "UseCodecOptions", false);
  H.Quality = Ini.ReadInteger("HDP", "Quality", 11);
  H.Overlap = Ini.ReadInteger("HDP", "Overlap", 1);
  H.Subsampling = Ini.ReadInteger("HDP", "Subsampling", 3);
  H.HorizontalTileSlices = Ini.ReadInteger("HDP", "HorizontalTileSlices", 0);
  H.VerticalTileSlices = Ini.ReadInteger("HDP", "VerticalTileSlices", 0);
  H.InterleavedAlpha = Ini.ReadBool("HDP", "InterleavedAlpha", false);
  H.AlphaQuality = Ini.ReadInteger("HDP", "AlphaQuality", 11);
  H.EmbedThumbnail = Ini.ReadBool("HDP", "EmbedThumbnail", true);
  H.Is16Bit = Ini.ReadInteger("HDP", "16Bit", 2);

  TTIFFOption &T = TIFFOption;
  T.CompressionMethod = Ini.ReadInteger("TIFF", "CompressionMethod", 0);
  T.EmbedThumbnail = Ini.ReadBool("TIFF", "EmbedThumbnail", true);
  T.Is16Bit = Ini.ReadInteger("TIFF", "16Bit", 2);
  T.IndexColor = Ini.ReadBool("TIFF", "IndexColor", true);

  TMetadataOption &M = MetadataOption;
  M.KeepICCProfile = Ini.ReadBool("Metadata", "KeepICCProfile", true);
  M.KeepCreationTime = Ini.ReadBool("Metadata", "KeepCreationTime", false);
  M.KeepLastWriteTime = Ini.ReadBool("Metadata", "KeepLastWriteTime", false);
  M.Resolution = Ini.ReadInteger("Metadata", "Resolution", 72);
  M.KeepResolution = Ini.ReadBool("Metadata", "KeepResolution", true);
  M.AlwaysCopyMakerNote = Ini.ReadBool("Metadata", "AlwaysCopyMakerNote", false);
  M.KeepAllExtraMarker = Ini.ReadBool("Metadata", "KeepAllExtraMarker", false);
  M.UpdateSoftwareTag = Ini.ReadBool("Metadata", "UpdateSoftwareTag", true);
  M.UpdateTimestampFromExif = Ini.ReadBool("Metadata", "UpdateTimestampFromExif", false);
}

std::string LoadIniFile(const std::string &Path, TEffectList &Effects) {
  return LoadIniSettings(TMemIniFile(Path), Effects);
}

std::vector<TIniKeyRead> KeysTheReadersRead() {
  std::vector<TIniKeyRead> Reads;
  TMemIniFile Ini;
  Ini.SetReadObserver([&Reads](const TIniKeyRead &R) {
    for (const TIniKeyRead &Seen : Reads)
      if (Seen.Section == R.Section && Seen.Ident == R.Ident) return;
    Reads.push_back(R);
  });
  ReadConvertSettings(Ini);
  ReadFormatOptions(Ini, ProgramBinFolder());
  ReadWindowSettings(Ini, WindowSettings);
  // Every step, so the reference does not depend on the tools installed.
  TEffectList Effects;
  CreateDefaultEffects(Effects, ProgramBinFolder(), true);
  Effects.ReadIniFile(Ini);
  return Reads;
}

std::string LoadIniSettings(const TMemIniFile &Ini, TEffectList &Effects) {
  SystemOption.ProcessorCount = LogicalProcessorCount();
  ReadConvertSettings(Ini);
  NextSerialNumber = FileOption.StartNumber;
  ReadFormatOptions(Ini, ProgramBinFolder());
  ReadWindowSettings(Ini, WindowSettings);
  LoadConvertTable(Ini.ReadSectionValues("Convert"));
  Effects.ReadIniFile(Ini);
  ApplyLoadedSettings(ProgramUnsharpMask);
  // The unsharp-mask settings reach the program-wide engine, which the workers copy.
  if (const auto *U = dynamic_cast<const TUSMFilter *>(Effects.FindByID(EFFECT_UNSHARP_MASK)); U && ProgramUnsharpMask)
    U->ApplyToEngine(*ProgramUnsharpMask, SystemOption.EnabledLabMode != LongFalse);
  try {
    CMS.InitProfile(ColorManagementOption);
  } catch (const std::exception &E) {
    // A missing profile only matters for the images that need it; those fail
    // on their own with the reason.
    return std::string("colour management: ") + E.what();
  }
  return std::string();
}

void SaveStartNumber(const std::string &Path) {
  TMemIniFile Ini(Path);
  Ini.WriteInteger("File", "StartNumber", FileOption.StartNumber);
  Ini.UpdateFile();
}

bool IsSettingsText(const std::string &Bytes, std::string &Why) {
  if (Bytes.empty()) return true;
  const bool Utf16 = Bytes.size() >= 2 && ((uint8_t(Bytes[0]) == 0xFF && uint8_t(Bytes[1]) == 0xFE) ||
                                           (uint8_t(Bytes[0]) == 0xFE && uint8_t(Bytes[1]) == 0xFF));
  if (!Utf16 && Bytes.find('\0') != std::string::npos) {
    Why = "binary data, not a settings file";
    return false;
  }
  TMemIniFile Ini;
  Ini.LoadFromBytes(Bytes);
  if (Ini.ReadSections().empty()) {
    Why = "no [section] line, not a settings file";
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Writing

TWindowSettings WindowSettings;

void ReadWindowSettings(const TMemIniFile &Ini, TWindowSettings &S) {
  S.Left = Ini.ReadInteger("Window", "Left", -1000);
  S.Top = Ini.ReadInteger("Window", "Top", -1000);
  S.ClientWidth = Ini.ReadInteger("Window", "ClientWidth", 0);
  S.ClientHeight = Ini.ReadInteger("Window", "ClientHeight", 0);
  for (size_t i = 0; i < S.HeaderWidth.size(); ++i)
    S.HeaderWidth[i] = Ini.ReadInteger("ListView", "Header" + std::to_string(i), -1);
  S.UseEmbeddedThumbnail = Ini.ReadBool("ThumbnailWindow", "UseEmbeddedThumbnail", true);
  S.ThumbnailVisible = Ini.ReadBool("ThumbnailWindow", "Visible", true);
  S.ThumbnailLeft = Ini.ReadInteger("ThumbnailWindow", "Left", -65535);
  S.ThumbnailTop = Ini.ReadInteger("ThumbnailWindow", "Top", -65535);
  S.PictureFolder = NormalizeStoredPath(Ini.ReadString("Dir", "Picture", UserPictureFolder()));
  S.FontName = Ini.ReadString("Font", "P_FontName", "");
  S.FormatOptionPage = Ini.ReadInteger("Dialog", "FormatOptionPage", 0);
  S.EnvOptionPage = Ini.ReadInteger("Dialog", "EnvOptionPage", 0);
  if (S.EnvOptionPage < 0 || S.EnvOptionPage > 5) S.EnvOptionPage = 0;
  S.ShortCutDesktop = Ini.ReadBool("ShortCut", "Desktop", false);
  S.ShortCutMakeIni = Ini.ReadBool("ShortCut", "MakeIni", true);
  S.ShortCutAtOnce = Ini.ReadBool("ShortCut", "AtOnce", false);
}

void WriteWindowSettings(TMemIniFile &Ini, const TWindowSettings &S) {
  Ini.WriteInteger("Window", "Left", S.Left);
  Ini.WriteInteger("Window", "Top", S.Top);
  Ini.WriteInteger("Window", "ClientWidth", S.ClientWidth);
  Ini.WriteInteger("Window", "ClientHeight", S.ClientHeight);
  for (size_t i = 0; i < S.HeaderWidth.size(); ++i)
    Ini.WriteInteger("ListView", "Header" + std::to_string(i), S.HeaderWidth[i]);
  Ini.WriteBool("ThumbnailWindow", "UseEmbeddedThumbnail", S.UseEmbeddedThumbnail);
  // "Visible" is only read: a file that has it keeps its value.
  if (!Ini.ValueExists("ThumbnailWindow", "Visible")) Ini.WriteBool("ThumbnailWindow", "Visible", S.ThumbnailVisible);
  Ini.WriteInteger("ThumbnailWindow", "Left", S.ThumbnailLeft);
  Ini.WriteInteger("ThumbnailWindow", "Top", S.ThumbnailTop);
  Ini.WriteString("Dir", "Picture", S.PictureFolder);
  Ini.WriteString("Font", "P_FontName", S.FontName);
  Ini.WriteInteger("Dialog", "FormatOptionPage", S.FormatOptionPage);
  Ini.WriteInteger("Dialog", "EnvOptionPage", S.EnvOptionPage);
  Ini.WriteBool("ShortCut", "Desktop", S.ShortCutDesktop);
  Ini.WriteBool("ShortCut", "MakeIni", S.ShortCutMakeIni);
  Ini.WriteBool("ShortCut", "AtOnce", S.ShortCutAtOnce);
}

void WriteFormatOptions(TMemIniFile &Ini) {
  const TBitmapOption &B = BitmapOption;
  Ini.WriteInteger("Bitmap", "ConvertTo", B.ConvertTo);
  Ini.WriteBool("Bitmap", "AlphaChannelSupport", B.AlphaChannelSupport);
  Ini.WriteInteger("Bitmap", "AlphaBitmapHeaderType", B.AlphaBitmapHeaderType);
  Ini.WriteInteger("Bitmap", "AlphaCheckType", B.AlphaCheckType);
  Ini.DeleteKey("Bitmap", "AlphaCheckStrict");
  Ini.WriteBool("Bitmap", "IndexColor", B.IndexColor);

  const TJPEGOption &J = JPEGOption;
  Ini.WriteInteger("JPEG", "ConvertTo", J.JPEGTo);
  Ini.WriteInteger("JPEG", "SampleType", J.SampleType);
  Ini.WriteInteger("JPEG", "Smoothing", J.Smoothing);
  Ini.WriteInteger("JPEG", "Quality", J.Quality);
  Ini.WriteBool("JPEG", "AddExifInfo", J.AddExifInfo);
  Ini.WriteInteger("JPEG", "DecodeWithDownScaling", J.DecodeWithDownScaling);
  Ini.WriteInteger("JPEG", "DownScalingLimit", J.DownScalingLimit);
  Ini.WriteInteger("JPEG", "DCTMethod", J.DCTMethod);
  Ini.WriteBool("JPEG", "UpdateExif", J.UpdateExif);
  Ini.WriteBool("JPEG", "UpdateExifResolution", J.UpdateExifResolution);
  Ini.WriteBool("JPEG", "UseFileSizeLimit", J.UseFileSizeLimit);
  Ini.WriteInteger("JPEG", "FileSizeLimit", J.FileSizeLimit);
  Ini.WriteInteger("JPEG", "QualityLimit", J.QualityLimit);
  Ini.WriteInteger("JPEG", "SampleTypeLimit", J.SampleTypeLimit);
  Ini.WriteBool("JPEG", "UpdateExifThumbnail", J.UpdateExifThumbnail);
  Ini.WriteBool("JPEG", "AlwaysRecompress", J.AlwaysRecompress);
  Ini.WriteBool("JPEG", "RemoveAPP0Marker", J.OmitAPP0Marker);
  Ini.WriteBool("JPEG", "UseQuantizationTable", J.UseQuantizationTable);
  Ini.WriteString("JPEG", "LumaTableName", J.LumaTableName);
  Ini.WriteString("JPEG", "ChromaTableName", J.ChromaTableName);
  Ini.WriteBool("JPEG", "Progressive", J.Progressive);
  Ini.WriteBool("JEPG", "KeepQuality", J.KeepQuality);

  const TPNGOption &P = PNGOption;
  Ini.WriteInteger("PNG", "ConvertTo", P.ConvertTo);
  Ini.WriteInteger("PNG", "Filter", P.Filter);
  Ini.WriteInteger("PNG", "CompressLevel", P.CompressLevel);
  Ini.WriteBool("PNG", "WritepHYsChunk", P.WritepHYsChunk);
  Ini.WriteBool("PNG", "IndexColor", P.IndexColor);
  Ini.WriteInteger("PNG", "TransparentType", P.TransparentType);
  Ini.WriteInteger("PNG", "TransparentColor", int32_t(P.TransparentColor));
  Ini.WriteBool("PNG", "UsePNGOUT", P.UsePNGOUT);
  Ini.WriteBool("PNG", "MaximumOptimization", P.MaximumOptimization);
  Ini.WriteBool("PNG", "FullColorOptimization", P.FullColorOptimization);
  Ini.WriteBool("PNG", "UsebKGDChunk", P.UsebKGDChunk);
  Ini.WriteInteger("PNG", "16Bit", P.Is16Bit);
  Ini.WriteBool("PNG", "UseWIC", P.UseWIC);

  const THDPOption &H = HDPOption;
  Ini.WriteBool("HDP", "UseCodecOptions", H.UseCodecOptions);
  Ini.WriteInteger("HDP", "Quality", H.Quality);
  Ini.WriteInteger("HDP", "Overlap", H.Overlap);
  Ini.WriteInteger("HDP", "Subsampling", H.Subsampling);
  Ini.WriteInteger("HDP", "HorizontalTileSlices", H.HorizontalTileSlices);
  Ini.WriteInteger("HDP", "VerticalTileSlices", H.VerticalTileSlices);
  Ini.WriteBool("HDP", "InterleavedAlpha", H.InterleavedAlpha);
  Ini.WriteInteger("HDP", "AlphaQuality", H.AlphaQuality);
  Ini.WriteBool("HDP", "EmbedThumbnail", H.EmbedThumbnail);
  Ini.WriteInteger("HDP", "16Bit", H.Is16Bit);

  const TTIFFOption &T = TIFFOption;
  Ini.WriteInteger("TIFF", "CompressionMethod", T.CompressionMethod);
  Ini.WriteBool("TIFF", "EmbedThumbnail", T.EmbedThumbnail);
  Ini.WriteInteger("TIFF", "16Bit", T.Is16Bit);
  Ini.WriteBool("TIFF", "IndexColor", T.IndexColor);

  const TMetadataOption &M = MetadataOption;
  Ini.WriteBool("Metadata", "KeepICCProfile", M.KeepICCProfile);
  Ini.WriteBool("Metadata", "KeepCreationTime", M.KeepCreationTime);
  Ini.WriteBool("Metadata", "KeepLastWriteTime", M.KeepLastWriteTime);
  Ini.WriteInteger("Metadata", "Resolution", M.Resolution);
  Ini.WriteBool("Metadata", "KeepResolution", M.KeepResolution);
  Ini.WriteBool("Metadata", "AlwaysCopyMakerNote", M.AlwaysCopyMakerNote);
  Ini.WriteBool("Metadata", "KeepAllExtraMarker", M.KeepAllExtraMarker);
  Ini.WriteBool("Metadata", "UpdateSoftwareTag", M.UpdateSoftwareTag);
  Ini.WriteBool("Metadata", "UpdateTimestampFromExif", M.UpdateTimestampFromExif);
}

void WriteIniSettings(TMemIniFile &Ini, const TEffectList &Effects) {
  WriteConvertSettings(Ini);
  WriteFormatOptions(Ini);
  // The table is the section: rows the user removed must not survive.
  Ini.EraseSection("Convert");
  for (const std::string &Row : ConvertTable) {
    const size_t Eq = Row.find('=');
    if (Eq == std::string::npos) continue;
    Ini.WriteString("Convert", Row.substr(0, Eq), Row.substr(Eq + 1));
  }
  WriteWindowSettings(Ini, WindowSettings);
  Effects.WriteIniFile(Ini);
}

bool WriteWithRetries(const std::function<void()> &Write, const TAskRetry &Ask) {
  constexpr int QuietAttempts = 20;
  for (int Attempt = 1;; ++Attempt) {
    try {
      Write();
      return true;
    } catch (const std::exception &E) {
      if (Attempt >= QuietAttempts && !(Ask && Ask(E.what()))) return false;
    }
    ::usleep(50 * 1000);
  }
}

bool SaveIniFile(const std::string &Path, const TEffectList &Effects, const TAskRetry &Ask) {
  return WriteWithRetries(
      [&] {
        TMemIniFile Ini(Path);
        WriteIniSettings(Ini, Effects);
        Ini.UpdateFile();
      },
      Ask);
}

std::vector<TProfileEntry> ListProfiles() {
  std::vector<TProfileEntry> Profiles{{"Default", DefaultSettingsFile()}};
  std::vector<std::string> Names;
  if (DIR *D = ::opendir(SettingsFolder().c_str())) {
    while (const dirent *E = ::readdir(D)) {
      const std::string Name = E->d_name;
      if (Name.size() <= 4 || AsciiLower(Name.substr(Name.size() - 4)) != ".ini") continue;
      if (SettingsFolder() + Name == DefaultSettingsFile() || !IsFile(SettingsFolder() + Name)) continue;
      Names.push_back(Name);
    }
    ::closedir(D);
  }
  std::sort(Names.begin(), Names.end());
  for (const std::string &Name : Names) Profiles.push_back({Name.substr(0, Name.size() - 4), SettingsFolder() + Name});
  return Profiles;
}

bool LeaveProfile(const std::string &CurrentFile, const TAskRetry &Ask) {
  return FileOption.ResetType != 2 || WriteWithRetries([&] { SaveStartNumber(CurrentFile); }, Ask);
}

bool SaveSettingsAtExit(const std::string &CurrentFile, const TEffectList &Effects, const TAskRetry &Ask) {
  bool Saved = true;
  if (CurrentFile == DefaultSettingsFile()) {
    Saved = SaveIniFile(CurrentFile, Effects, Ask);
  } else if (FileOption.ResetType == 2) {
    Saved = WriteWithRetries([&] { SaveStartNumber(CurrentFile); }, Ask);
  }
  return SavePluginSettings(PluginSettingsFile(), SPIOption, PluginOrders, Ask) && Saved;
}
