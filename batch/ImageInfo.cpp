// The input list: entries, the owning list and its sorts, the refresh after
// a sort or a batch, the type-name and thumbnail caches and the list-view
// texts.
#include "batch/ImageInfo.h"

#include "core/AsciiCase.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

// ---------------------------------------------------------------------------
// Helpers

namespace {


std::string AsciiUpper(std::string S) {
  for (char &c : S) c = char(std::toupper(static_cast<unsigned char>(c)));
  return S;
}

}  // namespace

bool FileLastWriteDateTime(const std::string &Path, double &DateTime) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0) return false;
  DateTime = UnixToLocalDateTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  return true;
}

bool FileExists(const std::string &Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}


std::string FormatDateTimeMinutes(double DateTime) {
  const TDateTimeParts p = DecodeDateTime(DateTime);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d", p.Year, p.Month, p.Day, p.Hour, p.Minute);
  return buf;
}

std::string ZeroFillNameOf(const std::string &Name) {
  std::string out;
  out.reserve(Name.size() + 32);
  size_t i = 0;
  while (i < Name.size()) {
    if (!std::isdigit(static_cast<unsigned char>(Name[i]))) {
      out += Name[i++];
      continue;
    }
    size_t j = i;
    while (j < Name.size() && std::isdigit(static_cast<unsigned char>(Name[j]))) ++j;
    const size_t len = j - i;
    if (len < 16) out.append(16 - len, '0');
    out.append(Name, i, len);
    i = j;
  }
  return out;
}

bool TargetExtContains(const std::string &TargetExt, const std::string &Path) {
  const size_t slash = Path.find_last_of('/');
  const size_t dot = Path.find_last_of('.');
  std::string ext;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ext = Path.substr(dot + 1);
  ext.erase(std::remove(ext.begin(), ext.end(), '.'), ext.end());
  std::string list = TargetExt;
  list.erase(std::remove(list.begin(), list.end(), '.'), list.end());
  list.erase(std::remove(list.begin(), list.end(), ' '), list.end());
  return ("," + AsciiLower(list) + ",").find("," + AsciiLower(ext) + ",") != std::string::npos;
}

// ---------------------------------------------------------------------------
// TImageInfo

TImageInfo::~TImageInfo() {
  if (IsTempFile && !FPath.empty()) ::unlink(FPath.c_str());
}

std::string TImageInfo::GetName() const {
  const size_t slash = FPath.find_last_of('/');
  return slash == std::string::npos ? FPath : FPath.substr(slash + 1);
}

std::string TImageInfo::GetExt() const {
  const std::string name = GetName();
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string TImageInfo::GetImageType() const {
  switch (PictureFormat) {
    case PICTURE_BMP: return ExtInfoList().GetExtType(".bmp");
    case PICTURE_JPEG: return ExtInfoList().GetExtType(".jpg");
    case PICTURE_PNG: return ExtInfoList().GetExtType(".png");
    default: {
      const std::string ext = GetExt();
      return ExtInfoList().GetExtType(ext.empty() ? std::string() : "." + ext);
    }
  }
}

const std::vector<uint8_t> *TImageInfo::GetThumbnail() const {
  return FThumbnail < 0 ? nullptr : ThumbnailCacheList().GetThumbnail(FThumbnail);
}

void TImageInfo::SetThumbnail(std::vector<uint8_t> Stream) {
  FThumbnail = ThumbnailCacheList().AddThumbnail(std::move(Stream));
}

void TImageInfo::ResetParam() {
  std::string path = std::move(FPath);
  static_cast<TImageProbe &>(*this) = TImageProbe{};
  FPath = std::move(path);
  FThumbnail = -1;
}

void TImageInfo::FillSortKeys() {
  const size_t slash = FPath.find_last_of('/');
  Folder = slash == std::string::npos ? std::string() : FPath.substr(0, slash);
  ZeroFillName = ZeroFillNameOf(GetName());
}

// ---------------------------------------------------------------------------
// TImageInfoList

std::unique_ptr<TImageInfo> TImageInfoList::SetItems(int32_t Index, std::unique_ptr<TImageInfo> Info) {
  std::swap(FItems[size_t(Index)], Info);
  return Info;
}

int32_t TImageInfoList::Add(std::unique_ptr<TImageInfo> Info) {
  Dictionary.insert(Info->FPath);
  FItems.push_back(std::move(Info));
  return Count() - 1;
}

void TImageInfoList::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) return;
  Dictionary.erase(FItems[size_t(Index)]->FPath);
  FItems.erase(FItems.begin() + Index);
}

void TImageInfoList::Clear() {
  FItems.clear();
  Dictionary.clear();
}

bool TImageInfoList::Contains(const std::string &Path) const { return Dictionary.count(Path) != 0; }

void TImageInfoList::Move(int32_t From, int32_t To) {
  if (From < 0 || From >= Count() || To < 0 || To >= Count() || From == To) return;
  auto item = std::move(FItems[size_t(From)]);
  FItems.erase(FItems.begin() + From);
  FItems.insert(FItems.begin() + To, std::move(item));
}

namespace {

template <typename T>
int32_t Compare3(T A, T B) {
  return A < B ? -1 : (B < A ? 1 : 0);
}

// Ordinal, case-sensitive (byte order of the UTF-8 text).
int32_t Compare3(const std::string &A, const std::string &B) {
  const int c = A.compare(B);
  return (c > 0) - (c < 0);
}

int32_t CompareKey(const TImageInfo &A, const TImageInfo &B, int32_t Key, bool HeightMajor) {
  switch (Key) {
    case 0: return Compare3(A.GetName(), B.GetName());  // SortList uses names taken out once
    case 1:
      if (HeightMajor) {
        if (int32_t c = Compare3(A.Height, B.Height)) return c;
        return Compare3(A.Width, B.Width);
      } else {
        if (int32_t c = Compare3(A.Width, B.Width)) return c;
        return Compare3(A.Height, B.Height);
      }
    case 2: return Compare3(A.Size, B.Size);
    case 3: return Compare3(A.PictureFormat, B.PictureFormat);
    case 4: return Compare3(A.DateTimeLastWrite, B.DateTimeLastWrite);
    case 5: return Compare3(A.DateTimeOriginal, B.DateTimeOriginal);
    case 6: return Compare3(A.FPath, B.FPath);
    default: return 0;
  }
}

double EntryDate(const TImageInfo &Info) {
  return Info.DateTimeOriginal != 0 ? Info.DateTimeOriginal : Info.DateTimeLastWrite;
}

}  // namespace

void TImageInfoList::SortList(int32_t Key) {
  if (Key < 0 || Key >= SortKeyCount) return;
  const bool heightMajor = Key == 1 && SD2 == 1;
  const int32_t dir = SD[size_t(Key)];
  // A stable sort gives exactly the order of moving each entry left while
  // its left neighbour compares greater, without the quadratic walk. Names
  // are taken out of the paths once, not in every comparison.
  std::vector<std::string> names;
  if (Key == 0) {
    names.reserve(FItems.size());
    for (const auto &item : FItems) names.push_back(item->GetName());
  }
  std::vector<size_t> order(FItems.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t A, size_t B) {
    const int32_t c = Key == 0 ? Compare3(names[A], names[B]) : CompareKey(*FItems[A], *FItems[B], Key, heightMajor);
    return dir * c < 0;
  });
  std::vector<std::unique_ptr<TImageInfo>> sorted;
  sorted.reserve(FItems.size());
  for (size_t i : order) sorted.push_back(std::move(FItems[i]));
  FItems = std::move(sorted);
  if (Key == 1) {
    SD2 = heightMajor ? 0 : 1;
    if (heightMajor) SD[1] = -SD[1];
  } else {
    SD[size_t(Key)] = -SD[size_t(Key)];
  }
}

void TImageInfoList::SortByFolderAndName() {
  // Entries added before this sort was chosen have no keys yet; without
  // them they would all gather at the front.
  for (auto &item : FItems) item->FillSortKeys();
  std::sort(FItems.begin(), FItems.end(), [](const auto &A, const auto &B) {
    if (const int c = A->Folder.compare(B->Folder)) return c < 0;
    return A->ZeroFillName.compare(B->ZeroFillName) < 0;
  });
}

void TImageInfoList::SortByDate() {
  std::sort(FItems.begin(), FItems.end(),
            [](const auto &A, const auto &B) { return EntryDate(*A) < EntryDate(*B); });
}

void TImageInfoList::RemoveChecked() {
  for (int32_t i = Count() - 1; i >= 0; --i)
    if (FItems[size_t(i)]->Checked) Delete(i);
}

int32_t TImageInfoList::Refresh() {
  int32_t removed = 0;
  int32_t i = 0;
  while (i < Count()) {
    TImageInfo &info = *FItems[size_t(i)];
    bool keep;
    if (info.FIsArchive) {
      keep = FileExists(info.FArchivePath);
    } else {
      double lastWrite = 0;
      keep = FileExists(info.FPath) && FileLastWriteDateTime(info.FPath, lastWrite);
      if (keep && lastWrite != info.DateTimeLastWrite) {
        // The file changed: it stays only as long as it is still an image.
        const std::string path = info.FPath;
        keep = ProbeImageFile(path, info);
        info.FThumbnail = -1;
      }
    }
    if (keep) {
      ++i;
    } else {
      Delete(i);
      ++removed;
    }
  }
  return removed;
}

// ---------------------------------------------------------------------------
// TExtInfoList

namespace {

std::vector<std::string> DefaultDataDirs() {
  std::vector<std::string> dirs;
  if (const char *home = std::getenv("XDG_DATA_HOME"); home && *home) {
    dirs.emplace_back(home);
  } else if (const char *h = std::getenv("HOME"); h && *h) {
    dirs.push_back(std::string(h) + "/.local/share");
  }
  std::string list = "/usr/local/share:/usr/share";
  if (const char *d = std::getenv("XDG_DATA_DIRS"); d && *d) list = d;
  std::stringstream ss(list);
  for (std::string item; std::getline(ss, item, ':');)
    if (!item.empty()) dirs.push_back(item);
  return dirs;
}

std::string DecodeXmlText(const std::string &S) {
  std::string out;
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] != '&') {
      out += S[i];
      continue;
    }
    static const std::pair<const char *, char> entities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    bool done = false;
    for (const auto &[name, ch] : entities) {
      const size_t len = std::char_traits<char>::length(name);
      if (S.compare(i, len, name) == 0) {
        out += ch;
        i += len - 1;
        done = true;
        break;
      }
    }
    if (!done) out += '&';
  }
  return out;
}

std::string Trim(const std::string &S) {
  size_t b = 0, e = S.size();
  while (b < e && std::isspace(static_cast<unsigned char>(S[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(S[e - 1]))) --e;
  return S.substr(b, e - b);
}

// The MIME type whose literal "*.ext" glob matches best (highest weight;
// case-sensitive globs only when the case matches).
std::string MimeTypeOfExt(const std::vector<std::string> &Dirs, const std::string &Ext) {
  const std::string lowerGlob = "*" + AsciiLower(Ext);
  const std::string exactGlob = "*" + Ext;
  std::string best;
  int bestWeight = -1;
  for (const std::string &dir : Dirs) {
    std::ifstream in(dir + "/mime/globs2");
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line[0] == '#') continue;
      const size_t c1 = line.find(':');
      const size_t c2 = c1 == std::string::npos ? c1 : line.find(':', c1 + 1);
      if (c2 == std::string::npos) continue;
      const size_t c3 = line.find(':', c2 + 1);
      const std::string glob = line.substr(c2 + 1, c3 == std::string::npos ? std::string::npos : c3 - c2 - 1);
      const bool caseSensitive = c3 != std::string::npos && line.find("cs", c3) != std::string::npos;
      const bool match = caseSensitive ? glob == exactGlob : AsciiLower(glob) == lowerGlob;
      if (!match) continue;
      const int weight = std::atoi(line.substr(0, c1).c_str());
      if (weight > bestWeight) {
        bestWeight = weight;
        best = line.substr(c1 + 1, c2 - c1 - 1);
      }
    }
    if (!best.empty()) break;  // the first folder that knows the extension decides
  }
  return best;
}

// The description of a MIME type: Japanese when present, else the default.
std::string MimeComment(const std::vector<std::string> &Dirs, const std::string &Type) {
  if (Type.find("..") != std::string::npos) return {};
  for (const std::string &dir : Dirs) {
    std::ifstream in(dir + "/mime/" + Type + ".xml");
    if (!in) continue;
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string xml = ss.str();
    std::string plain, japanese;
    size_t pos = 0;
    while ((pos = xml.find("<comment", pos)) != std::string::npos) {
      const size_t close = xml.find('>', pos);
      if (close == std::string::npos) break;
      const size_t end = xml.find("</comment>", close);
      if (end == std::string::npos) break;
      const std::string attrs = xml.substr(pos + 8, close - pos - 8);
      const std::string text = Trim(DecodeXmlText(xml.substr(close + 1, end - close - 1)));
      if (attrs.find("xml:lang") == std::string::npos) {
        if (plain.empty()) plain = text;
      } else if (attrs.find("\"ja\"") != std::string::npos) {
        japanese = text;
      }
      pos = end;
    }
    if (!japanese.empty()) return japanese;
    if (!plain.empty()) return plain;
  }
  return {};
}

}  // namespace

void TExtInfoList::SetDataDirs(std::vector<std::string> Dirs) {
  std::lock_guard lock(FLock);
  FDataDirs = std::move(Dirs);
  FDirsSet = true;
  FPairs.clear();
}

std::string TExtInfoList::GetExtType(const std::string &Ext) {
  {
    std::lock_guard lock(FLock);
    for (const std::string &pair : FPairs)
      if (pair.size() > Ext.size() && pair.compare(0, Ext.size(), Ext) == 0 && pair[Ext.size()] == '=')
        return pair.substr(Ext.size() + 1);
  }
  return AddExt(Ext);
}

std::string TExtInfoList::AddExt(const std::string &Ext) {
  std::lock_guard lock(FLock);
  for (const std::string &pair : FPairs)
    if (pair.size() > Ext.size() && pair.compare(0, Ext.size(), Ext) == 0 && pair[Ext.size()] == '=')
      return pair.substr(Ext.size() + 1);
  if (!FDirsSet) {
    FDataDirs = DefaultDataDirs();
    FDirsSet = true;
  }
  const std::string name = LookUp(Ext);
  FPairs.push_back(Ext + "=" + name);
  return name;
}

std::vector<std::string> TExtInfoList::Pairs() const {
  std::lock_guard lock(FLock);
  return FPairs;
}

std::string TExtInfoList::LookUp(const std::string &Ext) const {
  if (Ext.size() > 1 && Ext.find('/') == std::string::npos) {
    const std::string type = MimeTypeOfExt(FDataDirs, Ext);
    if (!type.empty()) {
      const std::string comment = MimeComment(FDataDirs, type);
      if (!comment.empty()) return comment;
    }
  }
  // What the desktop shows for a type it does not know.
  const std::string bare = Ext.size() > 1 && Ext[0] == '.' ? Ext.substr(1) : Ext;
  return bare.empty() ? "ファイル" : AsciiUpper(bare) + " ファイル";
}

TExtInfoList &ExtInfoList() {
  static TExtInfoList list;
  return list;
}

void PrimeExtInfoList() {
  for (const char *ext : {".bmp", ".jpg", ".png", ".tif"}) ExtInfoList().AddExt(ext);
}

// ---------------------------------------------------------------------------
// TThumbnailCacheList

int32_t TThumbnailCacheList::AddThumbnail(std::vector<uint8_t> Stream) {
  FStreams.push_back(std::make_unique<std::vector<uint8_t>>(std::move(Stream)));
  IDList.push_back(NextID);
  if (FStreams.size() > MaxCount) {
    FStreams.erase(FStreams.begin());
    IDList.erase(IDList.begin());
  }
  return NextID++;
}

const std::vector<uint8_t> *TThumbnailCacheList::GetThumbnail(int32_t ID) const {
  for (size_t i = 0; i < IDList.size(); ++i)
    if (IDList[i] == ID) return FStreams[i].get();
  return nullptr;
}

void TThumbnailCacheList::ClearThumbnail() {
  FStreams.clear();
  IDList.clear();
}

TThumbnailCacheList &ThumbnailCacheList() {
  static TThumbnailCacheList cache;
  return cache;
}

// ---------------------------------------------------------------------------
// List view texts

namespace ImageListView {

const char *ColumnCaption(int32_t Column) {
  static const char *const captions[ColumnCount] = {"名前", "大きさ", "サイズ", "種類",
                                                     "更新日時", "写真の撮影日", "パス"};
  return Column >= 0 && Column < ColumnCount ? captions[Column] : "";
}

int32_t DefaultColumnWidth(int32_t Column) {
  static const int32_t widths[ColumnCount] = {120, 80, 80, 100, 110, 110, 180};
  return Column >= 0 && Column < ColumnCount ? widths[Column] : 0;
}

bool ColumnRightAligned(int32_t Column) { return Column == 2; }

std::string FormatSizeKB(int64_t Size) {
  const int64_t kb = (std::max<int64_t>(Size, 0) + 1023) / 1024;
  std::string digits = std::to_string(kb);
  std::string out;
  const size_t n = digits.size();
  for (size_t i = 0; i < n; ++i) {
    out += digits[i];
    if ((n - i - 1) % 3 == 0 && i + 1 < n) out += ',';
  }
  return out + " KB";
}

std::string CellText(const TImageInfo &Info, int32_t Column) {
  const bool probed = Info.PictureFormat != PICTURE_UNKNOWN;
  switch (Column) {
    case 0: return Info.GetName();
    case 1: return probed ? std::to_string(Info.Width) + " x " + std::to_string(Info.Height) : std::string();
    case 2: return FormatSizeKB(Info.Size);
    case 3: return probed ? Info.GetImageType() : std::string();
    case 4: return FormatDateTimeMinutes(Info.DateTimeLastWrite);
    case 5:
      return probed && Info.DateTimeOriginal != 0 ? FormatDateTimeMinutes(Info.DateTimeOriginal) : std::string();
    case 6: return Info.FPath;
    default: return {};
  }
}

}  // namespace ImageListView
