// The JPEG segment walk and everything built on it: extra segments, ICC
// chunks, segment replacement and deletion, quantisation tables.
#include "io/JpegSegment.h"

#include "core/AsciiCase.h"
#include "core/Errors.h"
#include "core/TempFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

TJpegWalk WalkJpegSegments(std::span<const uint8_t> Data) {
  TJpegWalk w;
  if (Data.size() < 2 || Data[0] != 0xFF || Data[1] != 0xD8) return w;
  size_t pos = 2;
  for (;;) {
    w.EndPos = pos;
    if (pos + 2 > Data.size() || Data[pos] != 0xFF) {
      w.End = TJpegWalkEnd::Broken;
      return w;
    }
    const uint16_t marker = uint16_t(0xFF00 | Data[pos + 1]);
    if (marker == 0xFFFF) {  // fill byte before a marker
      ++pos;
      continue;
    }
    if (marker == JPEG_SOS || marker == JPEG_EOI) {
      w.End = marker == JPEG_SOS ? TJpegWalkEnd::SOS : TJpegWalkEnd::EOI;
      return w;
    }
    if (pos + 4 > Data.size()) {
      w.End = TJpegWalkEnd::Broken;
      return w;
    }
    TJpegSegment s;
    s.Marker = marker;
    s.Pos = pos;
    s.Length = uint16_t(Data[pos + 2] << 8 | Data[pos + 3]);
    s.PayloadPos = pos + 4;
    if (s.Length < 2 || s.End() > Data.size()) {
      w.End = TJpegWalkEnd::Broken;
      return w;
    }
    w.Segments.push_back(s);
    pos = s.End();
  }
}

bool JpegScanReachesEOI(std::span<const uint8_t> Data) {
  const TJpegWalk Walk = WalkJpegSegments(Data);
  if (Walk.End != TJpegWalkEnd::SOS) return false;
  for (size_t i = Walk.EndPos + 2; i + 1 < Data.size(); ++i) {
    const void *Ff = std::memchr(Data.data() + i, 0xFF, Data.size() - 1 - i);
    if (!Ff) return false;
    i = size_t(static_cast<const uint8_t *>(Ff) - Data.data());
    if (Data[i + 1] == 0xD9) return true;
  }
  return false;
}

bool SegmentStartsWith(std::span<const uint8_t> Data, const TJpegSegment &Seg, std::string_view Header) {
  return Seg.PayloadLen() >= Header.size() && std::memcmp(Data.data() + Seg.PayloadPos, Header.data(), Header.size()) == 0;
}

namespace {

bool IsICCSegment(std::span<const uint8_t> d, const TJpegSegment &s) {
  return s.Marker == JPEG_APP2 && SegmentStartsWith(d, s, "ICC_PROFILE");
}
bool IsExifSegment(std::span<const uint8_t> d, const TJpegSegment &s) {
  return s.Marker == JPEG_APP1 && SegmentStartsWith(d, s, "Exif");
}

bool IsExtraMarker(std::span<const uint8_t> d, const TJpegSegment &s) {
  if (s.Marker == JPEG_APP1) return !IsExifSegment(d, s);
  if (s.Marker == JPEG_APP2) return !IsICCSegment(d, s);
  return (s.Marker >= 0xFFE3 && s.Marker <= JPEG_APP13) || s.Marker == JPEG_COM;
}

void Append(std::vector<uint8_t> &Out, std::span<const uint8_t> d, size_t From, size_t To) {
  Out.insert(Out.end(), d.begin() + ptrdiff_t(From), d.begin() + ptrdiff_t(To));
}

void PutSegmentHeader(std::vector<uint8_t> &Out, uint16_t Marker, size_t Length) {
  Out.push_back(0xFF);
  Out.push_back(uint8_t(Marker));
  Out.push_back(uint8_t(Length >> 8));
  Out.push_back(uint8_t(Length));
}

}  // namespace

void GetExtraMarker(uint8_t *&Block, uint32_t &Count, size_t FileSize, const uint8_t *File) {
  Block = nullptr;
  Count = 0;
  if (!File) return;
  const std::span<const uint8_t> d(File, FileSize);
  const TJpegWalk w = WalkJpegSegments(d);
  size_t total = 0;
  uint32_t n = 0;
  for (const auto &s : w.Segments)
    if (IsExtraMarker(d, s)) total += s.End() - s.Pos, ++n;
  if (!n) return;
  auto *p = static_cast<uint8_t *>(AlignedAlloc(total, 16));
  size_t at = 0;
  for (const auto &s : w.Segments)
    if (IsExtraMarker(d, s)) {
      std::memcpy(p + at, File + s.Pos, s.End() - s.Pos);
      at += s.End() - s.Pos;
    }
  Block = p;
  Count = n;
}

size_t ExtraMarkerSize(const uint8_t *Block, uint32_t Count) {
  size_t at = 0;
  for (uint32_t i = 0; i < Count; ++i) at += 2 + size_t(Block[at + 2] << 8 | Block[at + 3]);
  return at;
}

void WriteICCProfileSegments(std::vector<uint8_t> &Stream, const uint8_t *Profile, size_t Len) {
  if (!Profile || !Len) return;
  const size_t chunks = (Len + ICC_CHUNK_DATA - 1) / ICC_CHUNK_DATA;
  if (chunks > 255) throw ETessivoError("ICC profile too large for JPEG");
  for (size_t i = 0; i < chunks; ++i) {
    const size_t n = std::min(ICC_CHUNK_DATA, Len - i * ICC_CHUNK_DATA);
    PutSegmentHeader(Stream, JPEG_APP2, n + 16);
    static const char id[12] = "ICC_PROFILE";
    Stream.insert(Stream.end(), id, id + 12);  // with its zero byte
    Stream.push_back(uint8_t(i + 1));
    Stream.push_back(uint8_t(chunks));
    Stream.insert(Stream.end(), Profile + i * ICC_CHUNK_DATA, Profile + i * ICC_CHUNK_DATA + n);
  }
}

std::optional<std::vector<uint8_t>> ReplaceICCAndExif(std::span<const uint8_t> Jpeg, const uint8_t *Profile,
                                                      size_t ProfileLen, const uint8_t *Exif, size_t ExifLen) {
  const TJpegWalk w = WalkJpegSegments(Jpeg);
  if (w.End != TJpegWalkEnd::SOS && w.End != TJpegWalkEnd::EOI) return std::nullopt;
  const bool newExif = Exif && ExifLen;
  const bool newICC = Profile && ProfileLen;
  if (newExif && ExifLen + 8 > 0xFFFF) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(Jpeg.size() + ExifLen + ProfileLen + 64);
  out.push_back(0xFF);
  out.push_back(0xD8);
  bool exifDone = !newExif, iccDone = !newICC;
  // Called before each segment (and before SOS/EOI) with its marker.
  auto insertBefore = [&](uint16_t Marker) {
    if (!exifDone && Marker != JPEG_APP0) {
      PutSegmentHeader(out, JPEG_APP1, ExifLen + 8);
      out.insert(out.end(), {'E', 'x', 'i', 'f', 0, 0});
      out.insert(out.end(), Exif, Exif + ExifLen);
      exifDone = true;
    }
    if (!iccDone && Marker != JPEG_APP0 && Marker != JPEG_APP1) {
      WriteICCProfileSegments(out, Profile, ProfileLen);
      iccDone = true;
    }
  };
  for (const auto &s : w.Segments) {
    insertBefore(s.Marker);
    if (IsICCSegment(Jpeg, s)) continue;
    if (newExif && IsExifSegment(Jpeg, s)) continue;
    Append(out, Jpeg, s.Pos, s.End());
  }
  insertBefore(uint16_t(0xFF00 | Jpeg[w.EndPos + 1]));
  Append(out, Jpeg, w.EndPos, Jpeg.size());
  return out;
}

std::vector<TSegmentInfo> DefaultSegmentList() {
  std::vector<TSegmentInfo> l = {
      {JPEG_COM, "", LongFalse},           {JPEG_APP0, "JFIF", LongFalse},  {JPEG_APP1, "Exif", LongFalse},
      {JPEG_APP2, "ICC_PROFILE", LongFalse}, {JPEG_APP13, "Photoshop", LongFalse}, {JPEG_APP14, "Adobe", LongFalse},
      {JPEG_APP1, "http", LongFalse},      {0xFFEC, "Ducky", LongFalse},
  };
  SortSegmentList(l);
  return l;
}

void SortSegmentList(std::vector<TSegmentInfo> &List) {
  std::stable_sort(List.begin(), List.end(), [](const TSegmentInfo &a, const TSegmentInfo &b) {
    if (a.Marker != b.Marker) return a.Marker < b.Marker;
    return a.Header < b.Header;  // std::string compares bytes: ordinal
  });
}

bool IsAcceptedSegmentMarker(uint32_t Marker) {
  return (Marker >= JPEG_APP0 && Marker <= JPEG_APP15) || Marker == JPEG_COM;
}

std::string SegmentInfoCaption(const TSegmentInfo &Info) {
  if (Info.Marker == JPEG_COM || !IsAcceptedSegmentMarker(Info.Marker)) return "COM";
  return "APP" + std::to_string(Info.Marker - JPEG_APP0) + (Info.Header.empty() ? "" : " " + Info.Header);
}

bool DeleteSegments(std::vector<uint8_t> &Jpeg, const std::vector<TSegmentInfo> &List, bool DeleteChecked) {
  const std::span<const uint8_t> d(Jpeg);
  const TJpegWalk w = WalkJpegSegments(d);
  if (w.End == TJpegWalkEnd::NotJpeg) return false;
  std::vector<uint8_t> out;
  out.reserve(Jpeg.size());
  out.push_back(0xFF);
  out.push_back(0xD8);
  for (const auto &s : w.Segments) {
    bool remove = false;
    if (IsAcceptedSegmentMarker(s.Marker)) {
      remove = !DeleteChecked;
      const TSegmentInfo *decider = nullptr;
      for (const auto &e : List)
        if (e.Marker == s.Marker && !e.Header.empty() && size_t(s.Length) >= e.Header.size() + 2 &&
            SegmentStartsWith(d, s, e.Header)) {
          decider = &e;
          break;
        }
      if (!decider)
        for (const auto &e : List)
          if (e.Marker == s.Marker && e.Header.empty()) {
            decider = &e;
            break;
          }
      if (decider && decider->Check) remove = !remove;
    }
    if (!remove) Append(out, d, s.Pos, s.End());
  }
  Append(out, d, w.EndPos, d.size());
  Jpeg.swap(out);
  return true;
}

std::vector<TQuantizationTable> ExtractQuantizationTables(std::span<const uint8_t> File) {
  std::vector<TQuantizationTable> tables;
  const TJpegWalk w = WalkJpegSegments(File);
  for (const auto &s : w.Segments) {
    if (s.Marker != JPEG_DQT) continue;
    size_t at = s.PayloadPos;
    const size_t end = s.End();
    while (at < end) {
      TQuantizationTable t;
      t.TableNum = File[at];
      const size_t bytes = t.Is8Bit() ? 1 : 2;
      if (end - at - 1 < 64 * bytes) break;  // cut-off table: ignore the rest of the segment
      for (size_t i = 0; i < 64; ++i) t.Table[i] = File[at + 1 + i * bytes + (bytes - 1)];
      tables.push_back(t);
      at += 1 + 64 * bytes;
    }
  }
  return tables;
}

namespace {
bool ReadWholeFile(const std::string &Path, std::vector<uint8_t> &Bytes) {
  std::ifstream f(Path, std::ios::binary);
  if (!f) return false;
  Bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return !f.bad();
}
}  // namespace

std::vector<TQuantizationTable> ExtractQuantizationTables(const std::string &FileName) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(FileName, bytes)) return {};
  return ExtractQuantizationTables(std::span<const uint8_t>(bytes));
}

TQuantizationCandidates QuantizationCandidates(const std::vector<TQuantizationTable> &Tables) {
  TQuantizationCandidates c;
  for (const auto &t : Tables) {
    if (!t.Is8Bit()) continue;
    ++c.TableCount;
    if (!c.Luma) c.Luma = t;
    else if (!c.Chroma) c.Chroma = t;
  }
  return c;
}

const uint8_t ZigzagToNaturalIndex[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
const uint8_t NaturalToZigzagIndex[64] = {
    0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42, 3,  8,  12, 17, 25, 30,
    41, 43, 9,  11, 18, 24, 31, 40, 44, 53, 10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38,
    46, 51, 55, 60, 21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63};

void ZigzagToNatural(const uint8_t Zigzag[64], uint32_t Natural[64]) {
  for (int i = 0; i < 64; ++i) Natural[ZigzagToNaturalIndex[i]] = Zigzag[i];
}
void NaturalToZigzag(const uint32_t Natural[64], uint8_t Zigzag[64]) {
  for (int i = 0; i < 64; ++i) Zigzag[i] = uint8_t(std::min<uint32_t>(Natural[ZigzagToNaturalIndex[i]], 255));
}

std::vector<uint8_t> MakeDqtFile(const uint8_t Table[64], const std::string &Name) {
  std::vector<uint8_t> f(Table, Table + 64);
  f.insert(f.end(), Name.begin(), Name.end());
  return f;
}

void WriteDqtFile(const std::string &Path, const uint8_t Table[64], const std::string &Name) {
  // A table file that cannot be written completely leaves the old one as it was.
  try {
    TOutputFile f(Path, {.MakeFolder = false});
    f.Write(MakeDqtFile(Table, Name));
    f.Commit();
  } catch (const ETessivoError &) {
    throw ETessivoError("ファイルの書き込みに失敗しました: " + Path);
  }
}

bool ReadDqtFile(const std::string &Path, uint8_t Table[64], std::string &Name) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(Path, bytes) || bytes.size() < 64) return false;
  std::memcpy(Table, bytes.data(), 64);
  Name.assign(bytes.begin() + 64, bytes.end());
  return true;
}

namespace {
bool IsDqtName(const fs::path &P) {
  return AsciiLower(P.extension().string()) == ".dqt";
}
}  // namespace

std::vector<TDqtEntry> ListDqtFiles(const std::string &Folder) {
  std::vector<TDqtEntry> list;
  std::error_code ec;
  for (const auto &de : fs::directory_iterator(Folder, ec)) {
    if (!de.is_regular_file(ec) || !IsDqtName(de.path())) continue;
    uint8_t t[64];
    std::string name;
    if (!ReadDqtFile(de.path().string(), t, name) || name.empty()) continue;
    if (name.size() > DQT_NAME_SHOWN) name.resize(DQT_NAME_SHOWN);
    list.push_back({de.path().filename().string(), name});
  }
  std::sort(list.begin(), list.end(), [](const TDqtEntry &a, const TDqtEntry &b) { return a.FileName < b.FileName; });
  return list;
}

int32_t CountDqtFiles(const std::string &Folder) {
  int32_t n = 0;
  std::error_code ec;
  for (const auto &de : fs::directory_iterator(Folder, ec))
    if (de.is_regular_file(ec) && IsDqtName(de.path())) ++n;
  return n;
}

std::string LumaQTFolder(const std::string &DataFolder) { return (fs::path(DataFolder) / "LumaQT").string() + "/"; }
std::string ChromaQTFolder(const std::string &DataFolder) { return (fs::path(DataFolder) / "ChromaQT").string() + "/"; }

bool QuantizationTableExists(const std::string &DataFolder, const std::string &Name) {
  std::error_code ec;
  return fs::exists(LumaQTFolder(DataFolder) + Name + ".dqt", ec) ||
         fs::exists(ChromaQTFolder(DataFolder) + Name + ".dqt", ec);
}

void RegisterQuantizationTables(const std::string &DataFolder, const std::string &Name,
                                const TQuantizationTable &Luma, const TQuantizationTable *Chroma) {
  fs::create_directories(LumaQTFolder(DataFolder));
  fs::create_directories(ChromaQTFolder(DataFolder));
  WriteDqtFile(LumaQTFolder(DataFolder) + Name + ".dqt", Luma.Table, Name);
  if (Chroma) WriteDqtFile(ChromaQTFolder(DataFolder) + Name + ".dqt", Chroma->Table, Name);
}

std::string QuantizationTableLabel(const std::string &FileName, int32_t Count) {
  return FileName + "  量子化テーブル数:" + std::to_string(Count);
}

std::string RegisteredTableCounter(const std::string &DataFolder) {
  return "登録済みテーブル数   輝度:" + std::to_string(CountDqtFiles(LumaQTFolder(DataFolder))) +
         "  色差:" + std::to_string(CountDqtFiles(ChromaQTFolder(DataFolder)));
}

bool LoadQuantizationTablePair(const std::string &DataFolder, const std::string &LumaTableName,
                               const std::string &ChromaTableName, uint32_t LumaQT[64], uint32_t ChromaQT[64]) {
  if (LumaTableName.empty() || ChromaTableName.empty()) return false;
  uint8_t l[64], c[64];
  std::string ln, cn;
  if (!ReadDqtFile(LumaQTFolder(DataFolder) + LumaTableName, l, ln) ||
      !ReadDqtFile(ChromaQTFolder(DataFolder) + ChromaTableName, c, cn))
    return false;
  ZigzagToNatural(l, LumaQT);
  ZigzagToNatural(c, ChromaQT);
  return true;
}
