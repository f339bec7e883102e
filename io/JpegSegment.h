// JPEG segments: the walk every JPEG reader of the program shares, the extra
// segments carried into re-encoded output, ICC profile chunks, segment
// replacement and deletion for the lossless tool, the user's segment list,
// and quantisation tables with their ".dqt" files.
#pragma once

#include "core/ImgInfo.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

enum : uint16_t {
  JPEG_SOI = 0xFFD8, JPEG_EOI = 0xFFD9, JPEG_SOS = 0xFFDA, JPEG_DQT = 0xFFDB,
  JPEG_APP0 = 0xFFE0, JPEG_APP1 = 0xFFE1, JPEG_APP2 = 0xFFE2, JPEG_APP13 = 0xFFED,
  JPEG_APP14 = 0xFFEE, JPEG_APP15 = 0xFFEF, JPEG_COM = 0xFFFE,
};

// One segment: marker, 16-bit length counting itself, Length - 2 payload bytes.
struct TJpegSegment {
  uint16_t Marker = 0;
  size_t Pos = 0;         // offset of the marker's 0xFF
  uint16_t Length = 0;    // as stored: counts the length field itself
  size_t PayloadPos = 0;  // Pos + 4
  size_t PayloadLen() const { return size_t(Length) - 2; }
  size_t End() const { return Pos + 2 + Length; }
};

enum class TJpegWalkEnd {
  SOS,     // EndPos is the SOS marker
  EOI,     // EndPos is the EOI marker
  Broken,  // a marker without 0xFF, a bad length or a cut-off segment at EndPos
  NotJpeg, // no SOI
};

struct TJpegWalk {
  std::vector<TJpegSegment> Segments;
  size_t EndPos = 0;
  TJpegWalkEnd End = TJpegWalkEnd::NotJpeg;
};

// Walks the segments after SOI up to SOS or EOI, never past the data.
TJpegWalk WalkJpegSegments(std::span<const uint8_t> Data);

// The entropy-coded data after the first SOS reaches an EOI marker: false for
// a file cut short inside its image data, or one that never gets to a scan.
// A marker 0xFF 0xD9 cannot stand inside entropy-coded data (a data byte
// 0xFF is followed by 0x00), so a search for it is enough.
bool JpegScanReachesEOI(std::span<const uint8_t> Data);

// The payload of a segment starts with the given bytes.
bool SegmentStartsWith(std::span<const uint8_t> Data, const TJpegSegment &Seg, std::string_view Header);

// Extra segments kept for re-encoded JPEG output: APP1 other than Exif (XMP
// among them), APP2 other than ICC profiles, APP3 to APP13 and COM, as complete
// segments end to end in a 16-byte aligned block (AlignedFree). Block null and
// Count 0 when there is nothing.
void GetExtraMarker(uint8_t *&Block, uint32_t &Count, size_t FileSize, const uint8_t *File);
// Total bytes of Count segments laid end to end in a block from GetExtraMarker.
size_t ExtraMarkerSize(const uint8_t *Block, uint32_t Count);

// Profile bytes per APP2 chunk ("ICC_PROFILE", 0, sequence, count, data).
constexpr size_t ICC_CHUNK_DATA = 65519;
// Appends the APP2 chunks of a profile; more than 255 chunks raise ETessivoError.
void WriteICCProfileSegments(std::vector<uint8_t> &Stream, const uint8_t *Profile, size_t Len);

// A copy of Jpeg with every ICC APP2 dropped, the new Exif TIFF structure (when
// given) as APP1 before the first non-APP0 segment in place of the old Exif APP1,
// and the new profile (when given) before the first segment that is neither APP0
// nor APP1. Nothing when the file cannot be walked or an Exif does not fit.
std::optional<std::vector<uint8_t>> ReplaceICCAndExif(std::span<const uint8_t> Jpeg, const uint8_t *Profile,
                                                      size_t ProfileLen, const uint8_t *Exif, size_t ExifLen);

// One entry of the user's segment list.
struct TSegmentInfo {
  uint16_t Marker = JPEG_COM;  // 0xFFE0..0xFFEF APP0..APP15, 0xFFFE COM
  std::string Header;          // the payload must start with it; empty matches all
  LongBool Check = LongFalse;
};
// The list used when the settings hold none (all unchecked), sorted.
std::vector<TSegmentInfo> DefaultSegmentList();
// Marker, then header by ordinal comparison.
void SortSegmentList(std::vector<TSegmentInfo> &List);
// Only APP0..APP15 and COM come from the settings.
bool IsAcceptedSegmentMarker(uint32_t Marker);
// "APP%d" with the header, or "COM".
std::string SegmentInfoCaption(const TSegmentInfo &Info);

// Rewrites Jpeg in place. DeleteChecked: delete only the segments that a checked
// entry matches; otherwise delete every APPn and COM segment except those that a
// checked entry matches. Other segments and the data from SOS on stay. False
// when the data is not a JPEG (left unchanged).
bool DeleteSegments(std::vector<uint8_t> &Jpeg, const std::vector<TSegmentInfo> &List, bool DeleteChecked);

// One table of a DQT segment. TableNum is the segment's byte: precision in the
// high nibble (0 for 8-bit tables), table id in the low nibble. Table holds the
// values in zigzag order; for a 16-bit table, the low bytes.
struct TQuantizationTable {
  uint8_t TableNum = 0;
  uint8_t Table[64] = {};
  bool Is8Bit() const { return (TableNum >> 4) == 0; }
};
// Tables of all DQT segments before SOS, in order; empty when not a JPEG.
std::vector<TQuantizationTable> ExtractQuantizationTables(std::span<const uint8_t> File);
std::vector<TQuantizationTable> ExtractQuantizationTables(const std::string &FileName);

// Candidates for registration: the 8-bit tables only; the first is luma, the second chroma.
struct TQuantizationCandidates {
  std::optional<TQuantizationTable> Luma;
  std::optional<TQuantizationTable> Chroma;
  int32_t TableCount = 0;  // 8-bit tables found
};
TQuantizationCandidates QuantizationCandidates(const std::vector<TQuantizationTable> &Tables);

// Index in natural (row-major) order of zigzag position i, and back.
extern const uint8_t ZigzagToNaturalIndex[64];
extern const uint8_t NaturalToZigzagIndex[64];
void ZigzagToNatural(const uint8_t Zigzag[64], uint32_t Natural[64]);
void NaturalToZigzag(const uint32_t Natural[64], uint8_t Zigzag[64]);

// ".dqt" file: 64 table bytes in zigzag order, then the display name (no terminator).
constexpr size_t DQT_NAME_SHOWN = 64;  // bytes of the name that are shown
std::vector<uint8_t> MakeDqtFile(const uint8_t Table[64], const std::string &Name);
void WriteDqtFile(const std::string &Path, const uint8_t Table[64], const std::string &Name);
// False when the file cannot be read or is shorter than 64 bytes.
bool ReadDqtFile(const std::string &Path, uint8_t Table[64], std::string &Name);

struct TDqtEntry {
  std::string FileName;  // without folder
  std::string Name;      // at most DQT_NAME_SHOWN bytes
};
// ".dqt" files of a folder that carry a name, sorted by file name.
std::vector<TDqtEntry> ListDqtFiles(const std::string &Folder);
// Number of ".dqt" files in a folder (0 when it is missing).
int32_t CountDqtFiles(const std::string &Folder);

// The registration dialog's file logic. Folders are "LumaQT/" and "ChromaQT/" of the user data folder.
std::string LumaQTFolder(const std::string &DataFolder);
std::string ChromaQTFolder(const std::string &DataFolder);
// Name with ".dqt" exists in either folder (the dialog asks before overwriting).
bool QuantizationTableExists(const std::string &DataFolder, const std::string &Name);
// Creates the folders and writes the luma table (and the chroma table when given).
void RegisterQuantizationTables(const std::string &DataFolder, const std::string &Name,
                                const TQuantizationTable &Luma, const TQuantizationTable *Chroma);
// "%s  量子化テーブル数:%d" and "登録済みテーブル数   輝度:%d  色差:%d".
std::string QuantizationTableLabel(const std::string &FileName, int32_t Count);
std::string RegisteredTableCounter(const std::string &DataFolder);
inline constexpr const char *QT_OVERWRITE_QUESTION = "は既に存在します。上書きしますか？";
inline constexpr const char *QT_DROP_PROMPT = "量子化テーブルを抽出するJPEGファイルをドラッグ&&ドロップしてください";

// Loads a registered pair into natural order (the settings load and the JPEG
// option dialog's OK). False when a name is empty or a file is missing or short.
bool LoadQuantizationTablePair(const std::string &DataFolder, const std::string &LumaTableName,
                               const std::string &ChromaTableName, uint32_t LumaQT[64], uint32_t ChromaQT[64]);
