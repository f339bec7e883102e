// The input list of a run: one TImageInfo per source file or archive member,
// the owning list with its duplicate dictionary and sorts, the type-name
// cache of the type column, the thumbnail cache and the texts of the list
// view (a GUI-free table model that the window and the terminal share).
#pragma once

#include "effects/TextTemplate.h"
#include "io/ImageProbe.h"
#include "core/ImgInfo.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

// One list entry. The probe fields come from TImageProbe under their own
// names; the ones below are the list's own.
struct TImageInfo : TImageProbe {
  int32_t FThumbnail = -1;        // identifier in the thumbnail cache, -1 none
  bool Checked = false;           // convert this entry
  std::string Dir;                // folder relative to Base, with trailing "/", or empty
  std::string Base;               // folder that held what the user added, with trailing "/"
  std::string OutPutFileName;     // output path of the current run; empty: not converted
  bool Named = false;             // the user gave this file itself, not a folder holding it
  std::string UnnumberedOutput;   // the same before "[k]" numbering, where further numbers start from
  LongBool IsTempFile = LongFalse;  // a temporary file of this program, deleted with the entry
  int32_t Number = 0;             // index in the list when a worker took it
  std::string ZeroFillName;       // natural-sort key of the name (folder-and-name sort)
  std::string Folder;             // folder of FPath without trailing "/" (same sort)

  TImageInfo() = default;
  // An entry owns its temporary file, so entries are not copied.
  TImageInfo(const TImageInfo &) = delete;
  TImageInfo &operator=(const TImageInfo &) = delete;
  ~TImageInfo();

  std::string GetName() const;    // file name of FPath
  std::string GetExt() const;     // extension of FPath without the dot, as written
  // Type name for the type column: of ".bmp", ".jpg", ".png" for the formats
  // 1, 2, 3, else of the file's own extension.
  std::string GetImageType() const;
  // The encoded list thumbnail of this entry (null when none or evicted);
  // SetThumbnail hands Stream to the cache and remembers its identifier.
  const std::vector<uint8_t> *GetThumbnail() const;
  void SetThumbnail(std::vector<uint8_t> Stream);
  // Every probe field back to its default, FThumbnail -1, sizes, dates and
  // the archive flags 0. Path and the list's own fields stay.
  void ResetParam();
  // Fills Folder and ZeroFillName for the folder-and-name sort.
  void FillSortKeys();
};
using PImageInfo = TImageInfo *;

// Natural-sort key of a file name: every run of fewer than 16 decimal digits
// is left-padded with zeros to 16 digits, so img2 sorts before img10.
std::string ZeroFillNameOf(const std::string &Name);

// The owning list of entries with the dictionary of their paths.
class TImageInfoList {
public:
  static constexpr int32_t SortKeyCount = 7;
  std::array<int32_t, SortKeyCount> SD{1, 1, 1, 1, 1, 1, 1};  // per-column sort direction, +1 or -1
  int32_t SD2 = 0;  // size column: 0 width-major next, 1 height-major next

  TImageInfoList() = default;
  TImageInfoList(const TImageInfoList &) = delete;
  TImageInfoList &operator=(const TImageInfoList &) = delete;

  int32_t Count() const { return int32_t(FItems.size()); }
  TImageInfo *Items(int32_t Index) const { return FItems[size_t(Index)].get(); }
  TImageInfo *operator[](int32_t Index) const { return Items(Index); }
  // Replaces the entry at Index and answers the old one; the dictionary is
  // left as it is (the caller keeps the paths consistent).
  std::unique_ptr<TImageInfo> SetItems(int32_t Index, std::unique_ptr<TImageInfo> Info);

  // Appends and records the path; answers the index.
  int32_t Add(std::unique_ptr<TImageInfo> Info);
  // Removes and frees the entry (nothing when Index is out of range).
  void Delete(int32_t Index);
  void Clear();
  // Exact path text, case included.
  bool Contains(const std::string &Path) const;
  // Moves one entry to another index (drag inside the list view).
  void Move(int32_t From, int32_t To);

  // Column sort from a click on column Key (0 name, 1 dimensions, 2 file
  // size, 3 type, 4 modified, 5 shooting date, 6 path): stable; the next
  // click sorts the other way; column 1 cycles width ascending, height
  // ascending, width descending, height descending.
  void SortList(int32_t Key);
  // The automatic sorts after adding: folder then natural name, or date
  // (shooting date, else modification date), both ascending.
  void SortByFolderAndName();
  void SortByDate();

  // Deletes every checked entry (after a batch with RemoveList).
  void RemoveChecked();
  // Drops entries whose source vanished: an archive member stays while its
  // archive exists; a file stays when its modification time is unchanged or
  // the full probe succeeds again (which updates the entry). Answers the
  // number of entries deleted.
  int32_t Refresh();

private:
  std::vector<std::unique_ptr<TImageInfo>> FItems;
  std::unordered_set<std::string> Dictionary;
};

// Extension (with the dot, as given) to a human-readable type name, from
// the shared MIME database: the Japanese description when the database has
// one, else its default one, else "XXX ファイル". Thread-safe.
class TExtInfoList {
public:
  std::string GetExtType(const std::string &Ext);
  std::string AddExt(const std::string &Ext);
  // The cached pairs "ext=name" in the order they were added.
  std::vector<std::string> Pairs() const;
  // Folders searched for "mime/globs2" and the descriptions; the default is
  // $XDG_DATA_HOME, then $XDG_DATA_DIRS (or /usr/local/share:/usr/share).
  void SetDataDirs(std::vector<std::string> Dirs);

private:
  std::string LookUp(const std::string &Ext) const;
  mutable std::mutex FLock;
  std::vector<std::string> FPairs;  // "%s=%s"
  std::vector<std::string> FDataDirs;
  bool FDirsSet = false;
};

// The program-wide type-name cache; start-up fills it for ".bmp", ".jpg",
// ".png" and ".tif" (PrimeExtInfoList).
TExtInfoList &ExtInfoList();
void PrimeExtInfoList();

// The last 20 encoded list thumbnails with their identifiers.
class TThumbnailCacheList {
public:
  static constexpr size_t MaxCount = 20;
  // Takes the stream; answers its identifier. The oldest stream is freed
  // when more than MaxCount are held.
  int32_t AddThumbnail(std::vector<uint8_t> Stream);
  // The stream, or null when it was evicted (or never existed).
  const std::vector<uint8_t> *GetThumbnail(int32_t ID) const;
  void ClearThumbnail();
  int32_t NextID = 0;

private:
  std::vector<std::unique_ptr<std::vector<uint8_t>>> FStreams;
  std::vector<int32_t> IDList;
};

TThumbnailCacheList &ThumbnailCacheList();

// Whether the extension of Path, without dots and lower-cased, is one of
// the comma-separated TargetExt (dots allowed, any case).
bool TargetExtContains(const std::string &TargetExt, const std::string &Path);

// "yyyy/mm/dd hh:nn".
std::string FormatDateTimeMinutes(double DateTime);

// The modification time of a file as the probes store it (local date-time);
// false when the file cannot be read.
bool FileLastWriteDateTime(const std::string &Path, double &DateTime);
// A regular file (after following links) exists at Path.
bool FileExists(const std::string &Path);

// The list view as a table: captions, default widths, alignment and the
// text of every cell.
namespace ImageListView {
constexpr int32_t ColumnCount = 7;
const char *ColumnCaption(int32_t Column);   // "名前", "大きさ", ...
int32_t DefaultColumnWidth(int32_t Column);  // 120, 80, 80, 100, 110, 110, 180
bool ColumnRightAligned(int32_t Column);     // the size column
std::string CellText(const TImageInfo &Info, int32_t Column);
// "%.0n KB" of the size rounded up to whole KiB, with thousands separators.
std::string FormatSizeKB(int64_t Size);
}  // namespace ImageListView
