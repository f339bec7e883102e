// Settings folders and reading a settings file.
#include "app/SettingsFile.h"

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

#include <cstdio>
#include <cstdlib>
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
