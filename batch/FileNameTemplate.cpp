// Expansion of the output-name and overlay-text templates, the start-number
// directive, the conversion table and the per-run folder counts.
#include "batch/FileNameTemplate.h"

#include "core/AsciiCase.h"
#include "batch/ConvertOption.h"
#include "batch/ImageInfo.h"
#include "resample/Resize.h"
#include "resample/Weight.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>


const char *const ConvertUndefined = "未定義";
const char *const InvalidFileNameMessage = "ファイル名に使用できない文字が含まれています";

namespace {
std::map<std::string, std::string> ExpandConvertRows(const std::vector<std::string> &Rows);
}  // namespace

// The default rows until the settings are read.
std::vector<std::string> ConvertTable = DefaultConvertRows();
std::map<std::string, std::string> ConvertMap = ExpandConvertRows(ConvertTable);

namespace {


std::string TrimSpaces(const std::string &S) {
  size_t b = 0, e = S.size();
  while (b < e && (S[b] == ' ' || S[b] == '\t')) ++b;
  while (e > b && (S[e - 1] == ' ' || S[e - 1] == '\t' || S[e - 1] == '\r')) --e;
  return S.substr(b, e - b);
}


std::string Two(int32_t V) { return PaddedNumber(V, 2); }
std::string Four(int32_t V) { return PaddedNumber(V, 4); }

// The entry's date: shooting date, else modification date.
double EntryDate(const TImageInfo &Info) {
  return Info.DateTimeOriginal != 0 ? Info.DateTimeOriginal : Info.DateTimeLastWrite;
}


// Extension of the file-name part of a path with its dot, empty when none.
std::string ExtensionOf(const std::string &Path) {
  const size_t slash = Path.find_last_of('/');
  const size_t dot = Path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return Path.substr(dot);
}

bool IsImageExtension(const std::string &LowerExt) {
  static const char *const known[] = {".bmp", ".jpg", ".jpeg", ".png", ".wdp",
                                      ".tif", ".tiff", ".hdp",  ".jxr"};
  for (const char *k : known)
    if (LowerExt == k) return true;
  return false;
}

bool IsTableOutput(const std::string &LowerExt) {
  static const char *const outputs[] = {".bmp", ".jpg", ".png", ".wdp", ".tif"};
  for (const char *k : outputs)
    if (LowerExt == k) return true;
  return false;
}

std::mutex FolderCountLock;
std::map<std::string, int32_t> FolderCounts;

int32_t CountFilesIn(const std::string &Folder) {
  DIR *d = ::opendir(Folder.empty() ? "." : Folder.c_str());
  if (!d) return 0;
  int32_t n = 0;
  while (const dirent *e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    struct stat st {};
    const std::string path = IncludeTrailingDelimiter(Folder) + e->d_name;
    if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ++n;
  }
  ::closedir(d);
  return n;
}

}  // namespace

// ---------------------------------------------------------------------------
// Serial numbers


// ---------------------------------------------------------------------------
// Conversion table

const std::vector<std::string> &DefaultConvertRows() {
  static const std::vector<std::string> rows = {".bmp=.bmp", ".jpg,.jpeg=.jpg", ".png=.png",
                                                ".tif,.tiff=.tif", ".wdp,.hdp,.jxr=.wdp", "未定義=.jpg"};
  return rows;
}

namespace {

std::map<std::string, std::string> ExpandConvertRows(const std::vector<std::string> &Rows) {
  std::map<std::string, std::string> map;
  for (const std::string &row : Rows) {
    const size_t eq = row.find('=');
    if (eq == std::string::npos) continue;
    const std::string output = AsciiLower(TrimSpaces(row.substr(eq + 1)));
    if (!IsTableOutput(output)) continue;
    const std::string inputs = row.substr(0, eq);
    size_t start = 0;
    while (start <= inputs.size()) {
      size_t comma = inputs.find(',', start);
      if (comma == std::string::npos) comma = inputs.size();
      const std::string input = AsciiLower(TrimSpaces(inputs.substr(start, comma - start)));
      if (!input.empty()) map[input] = output;
      start = comma + 1;
    }
  }
  return map;
}

}  // namespace

void RebuildConvertMap() { ConvertMap = ExpandConvertRows(ConvertTable); }

void LoadConvertTable(std::vector<std::string> Rows) {
  ConvertTable = std::move(Rows);
  RebuildConvertMap();
  if (ConvertMap.count(ConvertUndefined)) return;
  // The default rows fill in only what the stored rows leave out: appended
  // whole they would take back every extension the stored rows had chosen.
  for (const std::string &Row : DefaultConvertRows()) {
    const size_t Eq = Row.find('=');
    std::string Inputs;
    size_t Start = 0;
    while (Start < Eq) {
      size_t Comma = Row.find(',', Start);
      if (Comma == std::string::npos || Comma > Eq) Comma = Eq;
      const std::string Input = Row.substr(Start, Comma - Start);
      if (!ConvertMap.count(Input)) Inputs += (Inputs.empty() ? "" : ",") + Input;
      Start = Comma + 1;
    }
    if (!Inputs.empty()) ConvertTable.push_back(Inputs + Row.substr(Eq));
  }
  RebuildConvertMap();
}

std::string LookUpConvertMap(const std::string &Ext) {
  const auto it = ConvertMap.find(AsciiLower(Ext));
  return it == ConvertMap.end() ? std::string() : it->second;
}

// ---------------------------------------------------------------------------
// Folder counts

int32_t NextFolderCount(const std::string &Folder) {
  std::lock_guard lock(FolderCountLock);
  const auto it = FolderCounts.find(Folder);
  if (it != FolderCounts.end()) return ++it->second;
  const int32_t first = 1 + CountFilesIn(Folder);
  FolderCounts[Folder] = first;
  return first;
}

void ClearFolderCountCache() {
  std::lock_guard lock(FolderCountLock);
  FolderCounts.clear();
}

// ---------------------------------------------------------------------------
// Expansion

std::string ResizeModeText(const TScale &Scale, const TResizeOption &Resize) {
  if (Scale.XScale == 1 && Scale.YScale == 1) return "None";
  const bool enlarge = Scale.XScale >= 1 && (Scale.XScale != 1 || Scale.YScale >= 1);
  const TResizeOption &o = Resize;
  const int32_t mode = enlarge ? o.InterpolationMode : o.DecimationMode;
  const int32_t radius = enlarge ? o.InterpolationRadius : o.DecimationRadius;
  const int32_t sharp = enlarge ? o.InterpolationSharp : o.DecimationSharp;
  const int32_t blur = enlarge ? o.InterpolationBlur : o.DecimationBlur;
  // An unknown mode names nothing, only the arithmetic.
  std::string s = ResizeModeDescriptor(uint32_t(mode), ModeParam(uint32_t(mode), radius, sharp, blur));
  s += o.SIMDMode == 2 ? "_float" : "_int";
  if (o.Degamma) s += "_degamma";
  return s;
}

std::string ExpandFileNameTemplate(const std::string &TemplateText, const TImageInfo &Info, int32_t Number,
                                   const TScale &Scale, const TRunSettings &Settings, std::string *Fault) {
  const auto Invalid = [Fault](std::string Why) {
    if (Fault) *Fault = std::move(Why);
    return std::string();
  };
  const std::string T = NormalizeStoredPath(TemplateText);
  std::string targetExt = AsciiLower(ExtensionOf(T));
  const std::string sourceExt = Info.GetExt();
  if (targetExt == ".<ext>") {
    targetExt = ".";
    targetExt += AsciiLower(sourceExt);
  }

  // Relative templates are put after the source folder; the "c" tokens count
  // files in the folder the name lands in.
  const std::string prefix = IsAbsoluteTemplate(T) ? std::string() : ExtractFilePath(Info.FPath);
  const TDateTimeParts d = DecodeDateTime(EntryDate(Info));
  const std::string name = Info.GetName();

  std::string R;
  for (size_t i = 0; i < T.size(); ++i) {
    const char ch = T[i];
    if (ch == '*' || ch == '?' || ch == '"' || ch == '>' || ch == '|')
      return Invalid(std::string("\"") + ch + "\" is not allowed in a file name");
    if (ch != '<') {
      R += ch;
      continue;
    }
    const size_t close = T.find('>', i + 1);
    if (close == std::string::npos) return Invalid("unterminated token " + T.substr(i));
    const std::string token = T.substr(i + 1, close - i - 1);
    i = close;
    if (token.empty()) return Invalid("empty token <>");
    if (token == "old") R += NameWithoutExtension(name);
    else if (token == "ext") R += sourceExt;
    else if (token == "ymd") R += Two(d.Year % 100) + Two(d.Month) + Two(d.Day);
    else if (token == "ymdhns") R += Four(d.Year) + Two(d.Month) + Two(d.Day) + Two(d.Hour) + Two(d.Minute) + Two(d.Second);
    // Not given by the shared table for names: the same digits as ymdhns
    // without the seconds, so names sort like the dates they carry.
    else if (token == "ymdhn") R += Four(d.Year) + Two(d.Month) + Two(d.Day) + Two(d.Hour) + Two(d.Minute);
    else if (AppendDateField(token, d, R)) continue;
    else if (token == "dir") R += Info.Dir;
    else if (token == "pdir") {
      std::string folder = ExtractFilePath(Info.FPath);
      if (!folder.empty()) folder.pop_back();
      const size_t slash = folder.find_last_of('/');
      R += slash == std::string::npos ? folder : folder.substr(slash + 1);
    } else if (token == "base") {
      std::string base = Info.Base;
      while (!base.empty() && base.back() == '/') base.pop_back();
      R += base;
    } else if (token == "arcname") {
      if (Info.FIsArchive) {
        const size_t slash = Info.FArchivePath.find_last_of('/');
        R += NameWithoutExtension(slash == std::string::npos ? Info.FArchivePath : Info.FArchivePath.substr(slash + 1));
      } else {
        R += "NotArchive";
      }
    } else if (token == "resizemode") R += ResizeModeText(Scale, Settings.Resize);
    else if (token == "n") R += std::to_string(Number);
    else if (token == "c") R += std::to_string(NextFolderCount(ExtractFilePath(prefix + R)));
    else if ((token[0] == 'n' || token[0] == 'c') && token.size() >= 2 && token[1] >= '1' && token[1] <= '9') {
      // Only the digit right after the letter counts.
      const int width = token[1] - '0';
      if (token[0] == 'n') R += PaddedNumber(Number, width);
      else R += PaddedNumber(NextFolderCount(ExtractFilePath(prefix + R)), width);
    } else {
      return Invalid("unknown token <" + token + ">");
    }
  }

  if (IsImageExtension(targetExt)) return R;
  std::string E;
  if (Settings.ConvertMode == CONVERT_MODE_JPEGTRAN) {
    E = ".jpg";
  } else {
    switch (Info.PictureFormat) {
      case PICTURE_BMP: E = LookUpConvertMap(".bmp"); break;
      case PICTURE_JPEG: E = LookUpConvertMap(".jpg"); break;
      case PICTURE_PNG: E = LookUpConvertMap(".png"); break;
      default: E = LookUpConvertMap("." + sourceExt); break;
    }
    if (E.empty()) E = LookUpConvertMap(ConvertUndefined);
  }
  return R + E;
}

std::string FileNameTemplateFault(const std::string &Template, const TImageInfo &Info,
                                  const TRunSettings &Settings) {
  std::string T = NormalizeStoredPath(Template);
  const int32_t Start = ParseStartNumber(T, Settings.File);
  std::string Fault;
  const std::string Name = ExpandFileNameTemplate(T, Info, Start, TScale{}, Settings, &Fault);
  ClearFolderCountCache();
  if (!Fault.empty()) return Fault;
  // A name like "out/.jpg": an extension with no file name before it.
  const size_t Slash = Name.find_last_of('/');
  const std::string File = Slash == std::string::npos ? Name : Name.substr(Slash + 1);
  if (File.find_last_of('.') == 0 || File.empty()) return "no file name before the extension";
  return {};
}


std::string PreviewOutputFileName(const std::string &Template, const TImageInfo &Info, int32_t Index,
                                  const TScale &Scale, const TRunSettings &Settings) {
  std::string copy = NormalizeStoredPath(Template);
  const int32_t start = ParseStartNumber(copy, Settings.File);
  std::string name = ExpandFileNameTemplate(copy, Info, int32_t(int64_t(start) + Index), Scale, Settings);
  ClearFolderCountCache();
  if (name.empty() || IsAbsoluteTemplate(copy)) return name;
  return ExtractFilePath(Info.FPath) + name;
}
