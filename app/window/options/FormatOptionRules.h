// The rules of the format dialog "フォーマット設定" that need no window: the
// pages' ranges, the JPEG page's table choice and the limits it
// lowers on OK, the HD Photo page's shown and stored values, the metadata
// page's enabling, the conversion-table page TPictureFormatForm and the
// quantisation-table registration TQuantizationTableForm. The dialogs copy
// these to their controls and back.
#pragma once

#include "app/window/options/NumField.h"
#include "io/FormatOption.h"
#include "io/JpegSegment.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The format pages' ranges: Min, Max, Step, Default.
inline constexpr TNumRange JPEG_QUALITY_RANGE{0, 100, 1, 90};
inline constexpr TNumRange JPEG_SMOOTHING_RANGE{0, 100, 1, 0};
inline constexpr TNumRange JPEG_DOWNSCALING_LIMIT_RANGE{100, 9999, 10, 200};
inline constexpr TNumRange JPEG_FILE_SIZE_LIMIT_RANGE{1, 9999, 10, 200};
inline constexpr TNumRange JPEG_QUALITY_LIMIT_RANGE{0, 100, 1, 75};
inline constexpr TNumRange PNG_COMPRESS_LEVEL_RANGE{0, 9, 1, 6};
inline constexpr TNumRange HDP_QUALITY_RANGE{0, 100, 1, 90};  // shown values
inline constexpr TNumRange HDP_OVERLAP_RANGE{0, 2, 1, 1};
inline constexpr TNumRange HDP_TILE_SLICES_RANGE{1, 4096, 1, 1};  // shown values
inline constexpr TNumRange METADATA_RESOLUTION_RANGE{0, 9999, 1, 72};

// The PNG page's filter boxes "None", "Sub", "Up", "Average", "Paeth" and
// their bits; no box ticked is 0, the library's choice.
inline constexpr std::array<int32_t, 5> PNG_FILTER_BITS{8, 16, 32, 64, 128};

// The HD Photo page shows what the record stores otherwise: qualities as
// 101 minus the value, the sampling as the list index + 1, tile counts as the
// value + 1, the alpha box as the opposite of InterleavedAlpha.
inline int32_t HDPQualityShown(int32_t Stored) { return std::clamp(101 - Stored, 0, 100); }
inline int32_t HDPQualityStored(int32_t Shown) { return 101 - Shown; }
inline int32_t HDPTileSlicesShown(int32_t Stored) { return std::clamp(Stored + 1, 1, 4096); }
inline int32_t HDPTileSlicesStored(int32_t Shown) { return Shown - 1; }
inline int32_t HDPSubsamplingIndex(int32_t Stored) { return Stored >= 1 && Stored <= 3 ? Stored - 1 : 2; }

// The JPEG page's OK: the lowest sampling the size search may use follows
// the sampling down (unless it is 4:1:1), the lowest quality follows the
// quality down.
void LowerJPEGLimits(TJPEGOption &J);
// "量子化テーブルを直接指定する" can be ticked only when both table folders
// hold a ".dqt" file.
bool QuantizationTablesAvailable(const std::string &DataFolder);
// Reads the named pair (LumaTableName, ChromaTableName) into LumaQT and
// ChromaQT in natural order; false, with the record's tables untouched,
// when a name is empty or a file is missing or short.
bool LoadChosenQuantizationTables(const std::string &DataFolder, TJPEGOption &J);

// The metadata page: which boxes are enabled.
struct TMetadataEnabling {
  bool UpdateExif, UpdateExifResolution, UpdateExifThumbnail, UpdateSoftwareTag, DeleteGPSInfo;
};
TMetadataEnabling MetadataEnabling(bool AddExifInfo, bool KeepResolution);

// The conversion-table page TPictureFormatForm without its window.
class TPictureFormatForm {
public:
  // The pick list of the output cell, in list order.
  static const std::array<const char *, 5> FormatList;  // "ビットマップ イメージ", ...
  static const std::array<const char *, 5> FormatExts;  // ".bmp", ".jpg", ".png", ".wdp", ".tif"
  static constexpr const char *UnknownFormat = "不明";  // shown for any other output
  static constexpr const char *UnknownExt = "???";      // and stored back as this

  struct TRow {
    std::string Inputs;  // comma-separated input extensions with their dots, or "未定義"
    int32_t Output = 0;  // index into FormatList, -1 "不明"
  };

  // One row per ConvertTable row ("inputs=output").
  explicit TPictureFormatForm(const std::vector<std::string> &Table);

  // Every input extension of every row, one per entry.
  std::vector<std::string> ExtList() const;
  // "追加" with the input box's answer: lower-cased, split at commas, a dot
  // put before each item without one. When an item is an input of some row
  // already, Warning gets "%sは登録済みの拡張子です" for the first such item
  // and nothing is added. Answers the new row's index, or -1 when nothing
  // was added (also for an empty answer).
  int32_t Add(const std::string &Answer, std::string &Warning);
  // "編集": a non-empty answer holding "." replaces the row's inputs as
  // typed. Answers whether it did.
  bool Edit(int32_t Row, const std::string &Answer);
  // "削除": answers the row selected afterwards (the row above when the last
  // row went; -1 when the table is empty).
  int32_t Delete(int32_t Row);
  // "編集" and "削除" are disabled for the row "未定義" and without a row.
  bool CanEditOrDelete(int32_t Row) const;
  // OK: "%s=%s" per row in table order, "???" for "不明".
  std::vector<std::string> Store() const;

  std::vector<TRow> Rows;
};
// "%sは登録済みの拡張子です".
std::string RegisteredExtensionWarning(const std::string &Ext);

// The quantisation-table registration TQuantizationTableForm without its
// window: a dropped JPEG gives the candidates, a name registers them into
// "LumaQT/" and "ChromaQT/" of DataFolder.
class TQuantizationTableForm {
public:
  explicit TQuantizationTableForm(std::string DataFolder);

  // A dropped file: its 8-bit tables become the candidates (none for a file
  // that is not a JPEG or holds only 16-bit tables); Label becomes
  // "%s  量子化テーブル数:%d".
  void Drop(const std::string &Path);
  // The register button: a name and a luma candidate.
  bool CanRegister(const std::string &Name) const;
  // Why Name cannot be a file name (empty when it can).
  static std::string NameFault(const std::string &Name);
  // "<name>.dqt は既に存在します。上書きしますか？" when that file is in
  // either folder, else empty.
  std::string OverwriteQuestion(const std::string &Name) const;
  // Writes the luma candidate (and the chroma one when there is one).
  // Raises ETessivoError with the reason when a file cannot be written.
  void Register(const std::string &Name);
  // "登録済みテーブル数   輝度:%d  色差:%d".
  std::string Counter() const;

  std::string Label;
  TQuantizationCandidates Candidates;

private:
  std::string FDataFolder;
};
