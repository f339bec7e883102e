// Reading and writing the lossless-mode settings.
#include "lossless/WembSettings.h"

#include "core/IniFile.h"

TWembSettings WembSettings;

namespace {
constexpr const char *W = "WEMB";
constexpr int32_t OPTIMIZE_MODE_UNSET = -1;
}  // namespace

void ReadWembSettings(const TMemIniFile &Ini, TWembSettings &S) {
  TWembOption &o = S.Option;
  auto flag = [&](const char *Key) { return Ini.ReadBool(W, Key, false) ? LongTrue : LongFalse; };
  o.Rotation = Ini.ReadInteger(W, "Rotation", 0);
  o.ExifOrientation = Ini.ReadInteger(W, "ExifOrientation", 0);
  o.OptimizeMode = Ini.ReadInteger(W, "OptimizeMode", OPTIMIZE_MODE_UNSET);
  if (o.OptimizeMode == OPTIMIZE_MODE_UNSET) {
    const bool optimize = Ini.ReadBool(W, "Optimize", true), progressive = Ini.ReadBool(W, "Progressizve", false);
    o.OptimizeMode = optimize && progressive ? 3 : optimize ? 1 : progressive ? 2 : 0;
  }
  o.Grayscale = Ini.ReadInteger(W, "Grayscale", 0);
  o.Trimming = flag("Trimming");
  o.ICCProfileRevision = Ini.ReadInteger(W, "ICCProfileRevision", 0);
  o.AddText = flag("AddText");
  o.DeleteExifThumbnail = flag("DeleteThumbnail");
  o.UpdateExifThumbnail = flag("UpdateThumbnail");
  o.DeleteMakerNote = flag("DeleteMakerNote");
  o.DeleteGPSInfoIFD = flag("DeleteGPSInfo");
  o.ExifExport = flag("ExifExport");
  o.ICCExport = flag("ICCExport");
  o.ExifImport = flag("ExifImport");
  o.ICCImport = flag("ICCImport");
  o.ExifExportName = Ini.ReadString(W, "ExifExportName", "export\\<name>.dat");
  o.ICCExportName = Ini.ReadString(W, "ICCExportName", "export\\<name>.icc");
  o.ExifImportName = Ini.ReadString(W, "ExifImportName", "<name>.dat");
  o.ICCImportName = Ini.ReadString(W, "ICCImportName", "<name>.icc");
  o.SegmentDeleteMode = Ini.ReadInteger(W, "DeleteType", 0);

  S.Segments.clear();
  for (int32_t i = 1;; ++i) {
    const std::string section = "Segment" + std::to_string(i);
    if (!Ini.SectionExists(section)) break;
    const uint32_t marker = uint32_t(Ini.ReadInteger(section, "Marker", 0)) & 0xFFFF;
    if (!IsAcceptedSegmentMarker(marker)) continue;
    TSegmentInfo seg;
    seg.Marker = uint16_t(marker);
    seg.Header = marker == JPEG_COM ? std::string() : Ini.ReadString(section, "Header", "");
    seg.Check = Ini.ReadBool(section, "Check", false) ? LongTrue : LongFalse;
    S.Segments.push_back(std::move(seg));
  }
  if (S.Segments.empty()) S.Segments = DefaultSegmentList();
  SortSegmentList(S.Segments);
}

void WriteWembSettings(TMemIniFile &Ini, const TWembSettings &S) {
  const TWembOption &o = S.Option;
  Ini.WriteInteger(W, "Rotation", o.Rotation);
  Ini.WriteInteger(W, "ExifOrientation", o.ExifOrientation);
  Ini.WriteInteger(W, "OptimizeMode", o.OptimizeMode);
  Ini.DeleteKey(W, "Optimize");
  Ini.DeleteKey(W, "Progressizve");
  Ini.WriteInteger(W, "Grayscale", o.Grayscale);
  Ini.WriteBool(W, "Trimming", o.Trimming);
  Ini.WriteInteger(W, "ICCProfileRevision", o.ICCProfileRevision);
  Ini.WriteBool(W, "AddText", o.AddText);
  Ini.WriteBool(W, "DeleteThumbnail", o.DeleteExifThumbnail);
  Ini.WriteBool(W, "UpdateThumbnail", o.UpdateExifThumbnail);
  Ini.WriteBool(W, "DeleteMakerNote", o.DeleteMakerNote);
  Ini.WriteBool(W, "DeleteGPSInfo", o.DeleteGPSInfoIFD);
  Ini.WriteBool(W, "ExifExport", o.ExifExport);
  Ini.WriteBool(W, "ICCExport", o.ICCExport);
  Ini.WriteBool(W, "ExifImport", o.ExifImport);
  Ini.WriteBool(W, "ICCImport", o.ICCImport);
  Ini.WriteString(W, "ExifExportName", o.ExifExportName);
  Ini.WriteString(W, "ICCExportName", o.ICCExportName);
  Ini.WriteString(W, "ExifImportName", o.ExifImportName);
  Ini.WriteString(W, "ICCImportName", o.ICCImportName);
  Ini.WriteInteger(W, "DeleteType", o.SegmentDeleteMode);
  for (int32_t i = 1; Ini.SectionExists("Segment" + std::to_string(i)); ++i) Ini.EraseSection("Segment" + std::to_string(i));
  for (size_t i = 0; i < S.Segments.size(); ++i) {
    const std::string section = "Segment" + std::to_string(i + 1);
    Ini.WriteInteger(section, "Marker", S.Segments[i].Marker);
    Ini.WriteString(section, "Header", S.Segments[i].Header);
    Ini.WriteBool(section, "Check", S.Segments[i].Check);
  }
}

void SwitchSegmentDeleteMode(TWembSettings &S, int32_t NewMode) {
  if (NewMode == S.Option.SegmentDeleteMode) return;
  S.Option.SegmentDeleteMode = NewMode;
  for (TSegmentInfo &seg : S.Segments) seg.Check = seg.Check ? LongFalse : LongTrue;
}
