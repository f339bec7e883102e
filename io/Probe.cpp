// Header probes: BMP, PNG and JPEG headers read by hand (bounded by the
// bytes that are there), everything else asked of the imaging service, and
// the order in which they are tried.
#include "io/ImageProbe.h"

#include "core/AsciiCase.h"
#include "core/Errors.h"
#include "core/ImgInfo.h"
#include "io/Bitmap.h"
#include "io/ExifReader.h"
#include "pixio/ExifTiff.h"
#include "io/Pixio.h"
#include "io/SusiePlugin.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>

using exiftiff::IsExifContinuation;

namespace {

TExtractArchiveMemberProc ExtractArchiveMemberHook = nullptr;

std::mutex ErrorProcLock;
TPutErrorMsgProc ErrorProc;
TPutErrorMsgProc WarningProc;

std::mutex KnownLock;
std::set<std::string> Known;

uint16_t BE16(const uint8_t *p) { return uint16_t((p[0] << 8) | p[1]); }
uint32_t BE32(const uint8_t *p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
uint32_t LE32(const uint8_t *p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
int32_t AbsInt32(uint32_t v) {
  const int64_t s = int32_t(v);
  return int32_t(std::min<int64_t>(s < 0 ? -s : s, INT32_MAX));
}

// A read-only mapping of a whole file.
class TMappedFile {
public:
  explicit TMappedFile(const std::string &Path) {
    FFd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (FFd < 0) return;
    struct stat st {};
    if (::fstat(FFd, &st) != 0 || !S_ISREG(st.st_mode)) return;
    FSize = size_t(st.st_size);
    if (FSize == 0) return;
    void *p = ::mmap(nullptr, FSize, PROT_READ, MAP_PRIVATE, FFd, 0);
    if (p != MAP_FAILED) FData = static_cast<const uint8_t *>(p);
  }
  ~TMappedFile() {
    if (FData) ::munmap(const_cast<uint8_t *>(FData), FSize);
    if (FFd >= 0) ::close(FFd);
  }
  TMappedFile(const TMappedFile &) = delete;
  TMappedFile &operator=(const TMappedFile &) = delete;
  const uint8_t *Data() const { return FData; }
  size_t Size() const { return FData ? FSize : 0; }

private:
  int FFd = -1;
  const uint8_t *FData = nullptr;
  size_t FSize = 0;
};

// Size, modification time (local date-time) and birth time (else the
// modification time) in nanoseconds since 1970, as the entries keep them.
bool StatTimes(const std::string &Path, int64_t &Size, double &LastWrite, int64_t &Creation) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0) return false;
  Size = int64_t(st.st_size);
  LastWrite = UnixToLocalDateTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  Creation = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#ifdef STATX_BTIME
  struct statx sx {};
  if (::statx(AT_FDCWD, Path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
    Creation = int64_t(sx.stx_btime.tv_sec) * 1000000000 + sx.stx_btime.tv_nsec;
#endif
  return true;
}

// "yyyy:mm:dd hh:nn:ss" as a date-time, 0 when it is not one.
double ExifDateString(const char *S) {
  int v[6];
  char tail;
  if (std::sscanf(S, "%d:%d:%d %d:%d:%d%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &tail) != 6) return 0;
  if (v[0] < 1 || v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[3] > 23 || v[4] > 59 || v[5] > 59 ||
      v[3] < 0 || v[4] < 0 || v[5] < 0)
    return 0;
  struct tm tm {};
  tm.tm_year = v[0] - 1900, tm.tm_mon = v[1] - 1, tm.tm_mday = v[2];
  const time_t t = timegm(&tm);
  struct tm back {};
  gmtime_r(&t, &back);
  if (back.tm_mday != v[2]) return 0;  // 31 April and the like
  return double(t) / 86400.0 + 25569.0 + (v[3] * 3600.0 + v[4] * 60.0 + v[5]) / 86400.0;
}

bool ProbeWIC(const std::string *File, const uint8_t *Data, size_t Size, TImageProbe &Entry) {
  TPixio *lib = Pixio();
  if (!lib) return false;
  ConnectPixioErrorLog();
  TLibraryMessageCapture capture;
  TPixioWICInfo info{};
  int ok;
  if (File) {
    // The library takes wide names; on this system wchar_t holds code points.
    std::wstring wide;
    std::mbstate_t state{};
    const char *src = File->c_str();
    std::vector<wchar_t> buf(File->size() + 1);
    const size_t n = std::mbsrtowcs(buf.data(), &src, buf.size(), &state);
    if (n == size_t(-1)) {
      wide.assign(File->begin(), File->end());
    } else {
      wide.assign(buf.data(), n);
    }
    ok = lib->read_wic_info(wide.c_str(), &info);
  } else {
    ok = lib->read_wic_info2(&info, Data, Size);
  }
  // The file has an extension the imaging service reads but cannot be read:
  // its reason is the probe's error.
  if (!ok) {
    if (!capture.Text().empty()) throw ETessivoError(capture.Text());
    return false;
  }
  Entry.Width = int32_t(std::min<uint32_t>(info.Width, INT32_MAX));
  Entry.Height = int32_t(std::min<uint32_t>(info.Height, INT32_MAX));
  Entry.FXResolution = info.XResolution;
  Entry.FYResolution = info.YResolution;
  Entry.FResolutionUnit = RESUNIT_INCH;
  Entry.FOrientation = uint16_t(info.Orientation >= 1 && info.Orientation <= 8 ? info.Orientation : 0);
  char date[21] = {};
  std::memcpy(date, info.DateTimeOriginal, sizeof info.DateTimeOriginal);
  Entry.DateTimeOriginal = ExifDateString(date);
  Entry.FHasExif = info.HasExif != 0;
  if (info.HasColorInfo) {
    Entry.FHasColorInfo = true;
    Entry.FColorSpace = info.ColorSpace;
    std::copy(info.WhitePoint, info.WhitePoint + 2, Entry.FWhitePoint);
    std::copy(info.PrimaryChromaticities, info.PrimaryChromaticities + 6, Entry.FPrimaryChromaticities);
    Entry.FGamma = info.Gamma;
  }
  Entry.PictureFormat = PICTURE_WIC;
  return true;
}

// A ".dib" file: a BMP, or the same without its file header.
bool ProbeDIBHeader(const uint8_t *Data, size_t Size, TImageProbe &Entry) {
  if (ProbeBitmapHeader(Data, Size, Entry)) return true;
  TDIBFacts facts;
  if (!ReadDIBHeaderFacts(Data, Size, facts)) return false;
  Entry.Width = facts.Width;
  Entry.Height = facts.Height;
  Entry.FXResolution = facts.XPelsPerMeter;
  Entry.FYResolution = facts.YPelsPerMeter;
  Entry.FResolutionUnit = RESUNIT_METRE;
  Entry.PictureFormat = PICTURE_BMP;
  return true;
}

using TProbe = bool (*)(const uint8_t *, size_t, TImageProbe &);

// The probe order over the bytes of a file or member; File is the path for
// the imaging service when the bytes come from a file.
bool ProbeBytes(const std::string &Ext, const std::string *File, const uint8_t *Data, size_t Size,
                TImageProbe &Entry) {
  TProbe first = nullptr;
  if (Ext == ".bmp") first = ProbeBitmapHeader;
  else if (Ext == ".dib") first = ProbeDIBHeader;
  else if (Ext == ".png") first = ProbePNGHeader;
  else if (Ext == ".jpg" || Ext == ".jpeg" || Ext == ".jfif" || Ext == ".exif" || Ext == ".jpe")
    first = ProbeJPEGHeader;
  if (first && first(Data, Size, Entry)) return true;
  for (TProbe p : {ProbeBitmapHeader, ProbePNGHeader, ProbeJPEGHeader})
    if (p(Data, Size, Entry)) return true;
  if (ProbeSusieImage(Ext, File, Data, Size, Entry)) return true;
  if (!Ext.empty() && WICExtensionList().find(Ext + ",") != std::string::npos)
    return ProbeWIC(File, Data, Size, Entry);
  return false;
}

void RegisterExtension(const std::string &Ext) {
  if (Ext.empty()) return;
  std::lock_guard lock(KnownLock);
  Known.insert(Ext);
}

// Runs the probes; an exception is logged as "name:message" or raised again.
bool GuardedProbe(const std::string &Name, const std::string &Ext, const std::string *File,
                  const uint8_t *Data, size_t Size, TImageProbe &Entry, TProbeErrors Errors = TProbeErrors::Log) {
  try {
    if (!Data || !Size) return false;
    if (!ProbeBytes(Ext, File, Data, Size, Entry)) return false;
  } catch (const std::exception &e) {
    Entry.PictureFormat = PICTURE_UNKNOWN;
    if (Errors == TProbeErrors::Raise) throw;
    PutLoadError(Name + ":" + e.what());
    return false;
  }
  RegisterExtension(Ext);
  return true;
}

}  // namespace

namespace {
thread_local TLibraryMessageCapture *CurrentCapture = nullptr;

void OnLibraryMessage(const char *Title, const char *Message) {
  if (CurrentCapture) CurrentCapture->Append(std::string(Title ? Title : "") + ": " + (Message ? Message : ""));
}
}  // namespace

TLibraryMessageCapture::TLibraryMessageCapture() : FPrev(CurrentCapture) { CurrentCapture = this; }
TLibraryMessageCapture::~TLibraryMessageCapture() {
  CurrentCapture = FPrev;
  if (FPrev && !FText.empty()) FPrev->Append(FText);
}

void PutFileWarning(const std::string &File, const std::string &Message) {
  if (CurrentCapture) CurrentCapture->Append(Message);
  else PutLoadWarning(File + ": " + Message);
}

void TLibraryMessageCapture::Append(const std::string &Line) {
  if (!FText.empty()) FText += " / ";
  FText += Line;
}

void ConnectPixioErrorLog() {
  static std::mutex lock;
  static TPixio *connected = nullptr;
  TPixio *lib = Pixio();
  if (!lib) return;
  std::lock_guard guard(lock);
  if (connected == lib) return;
  lib->set_errormsg_callback(OnLibraryMessage);
  connected = lib;
}

void SetLoadErrorProc(TPutErrorMsgProc Proc) {
  std::lock_guard lock(ErrorProcLock);
  ErrorProc = std::move(Proc);
}

void SetLoadWarningProc(TPutErrorMsgProc Proc) {
  std::lock_guard lock(ErrorProcLock);
  WarningProc = std::move(Proc);
}

void PutLoadWarning(const std::string &Line) {
  {
    std::lock_guard lock(ErrorProcLock);
    if (WarningProc) {
      WarningProc(Line);
      return;
    }
  }
  PutLoadError(Line);
}

void PutLoadError(const std::string &Line) {
  std::lock_guard lock(ErrorProcLock);
  if (ErrorProc) ErrorProc(Line);
  else std::fprintf(stderr, "%s\n", Line.c_str());
}

std::string LowerExtension(const std::string &Path) {
  const size_t slash = Path.find_last_of("/\\");
  const size_t dot = Path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return AsciiLower(Path.substr(dot));
}

std::string WICExtensionList() {
  static std::mutex lock;
  static std::string list;
  static TPixio *builtFor = nullptr;
  TPixio *lib = Pixio();
  std::lock_guard guard(lock);
  if (!lib) return {};
  if (builtFor != lib) {
    list.clear();
    lib->enumextensions(
        [](void *Context, const wchar_t *Ext) {
          auto &out = *static_cast<std::string *>(Context);
          for (const wchar_t *p = Ext; p && *p; ++p)
            out += *p < 128 ? AsciiLower(char(*p)) : '?';
          out += ',';
        },
        &list);
    list += ".jxr,.hdp,";
    builtFor = lib;
  }
  return list;
}

std::vector<std::string> KnownExtensions() {
  std::lock_guard lock(KnownLock);
  return {Known.begin(), Known.end()};
}

double ArchiveTimeStampToDateTime(int64_t TimeStamp) {
  // The standard bias (minutes west of UTC) is read once; daylight saving is
  // deliberately not applied to archive times.
  static const int64_t BiasMinutes = [] {
    tzset();
    return int64_t(timezone) / 60;
  }();
  return double(TimeStamp) / 86400.0 + 25569.0 - double(BiasMinutes) / 1440.0;
}

bool ProbeBitmapHeader(const uint8_t *Data, size_t Size, TImageProbe &Entry) {
  if (Size < 18 || BE16(Data) != 0x424D) return false;
  const uint32_t header = LE32(Data + 14);
  if (header == 12) {
    // OS/2 1.x: 16-bit sizes, no densities.
    if (Size < 26) return false;
    Entry.Width = Data[18] | (Data[19] << 8);
    Entry.Height = Data[20] | (Data[21] << 8);
    Entry.FXResolution = Entry.FYResolution = 0;
    Entry.FResolutionUnit = RESUNIT_NONE;
  } else {
    if (Size < 46) return false;
    Entry.Width = AbsInt32(LE32(Data + 18));
    Entry.Height = AbsInt32(LE32(Data + 22));
    Entry.FXResolution = int32_t(LE32(Data + 38));
    Entry.FYResolution = int32_t(LE32(Data + 42));
    Entry.FResolutionUnit = RESUNIT_METRE;
  }
  Entry.PictureFormat = PICTURE_BMP;
  return true;
}

bool ProbePNGHeader(const uint8_t *Data, size_t Size, TImageProbe &Entry) {
  if (Size < 8 || BE32(Data) != 0x89504E47) return false;
  size_t pos = 8;
  bool found = false, densities = false;
  size_t exifTiff = 0, exifTiffLen = 0;
  // The walk goes on to IEND: writers put eXIf before or after the image data.
  while (pos + 8 <= Size) {
    const uint32_t len = BE32(Data + pos);
    const uint8_t *type = Data + pos + 4;
    const size_t body = pos + 8;
    if (std::memcmp(type, "IEND", 4) == 0 || len > Size - body) break;
    if (std::memcmp(type, "IHDR", 4) == 0 && len >= 8) {
      Entry.Width = AbsInt32(BE32(Data + body));
      Entry.Height = AbsInt32(BE32(Data + body + 4));
      Entry.PictureFormat = PICTURE_PNG;
      found = true;
    } else if (std::memcmp(type, "pHYs", 4) == 0 && len >= 9 && !densities) {
      Entry.FXResolution = BE32(Data + body);
      Entry.FYResolution = BE32(Data + body + 4);
      Entry.FResolutionUnit = Data[body + 8] == 1 ? RESUNIT_METRE : RESUNIT_NONE;
      densities = true;
    } else if (std::memcmp(type, "eXIf", 4) == 0 && !exifTiffLen && len >= 8) {
      // A bare TIFF structure; some writers keep the APP1 segment's "Exif\0\0" in front.
      const size_t skip = len >= 14 && std::memcmp(Data + body, "Exif\0\0", 6) == 0 ? 6 : 0;
      exifTiff = body + skip, exifTiffLen = len - skip;
    }
    pos = body + size_t(len) + 4;  // data and CRC
  }
  if (found && exifTiffLen) {
    // The codec library makes the carrier from the chunk (there is no APP1
    // segment to copy), so FExifPos stays 0.
    Entry.FHasExif = true;
    ParseExifIFDs(Entry, Data, Size, exifTiff, exifTiffLen);
  }
  return found;
}

bool ProbeJPEGHeader(const uint8_t *Data, size_t Size, TImageProbe &Entry) {
  if (Size < 4 || BE16(Data) != 0xFFD8) return false;
  size_t pos = 2;
  bool seenExif = false, continuing = false;
  bool found = false;
  size_t exifTiff = 0, exifTiffLen = 0;
  std::vector<uint8_t> continued;  // the later parts of a split Exif block
  // The walk resynchronises as libjpeg does: bytes between segments that are
  // not a marker are skipped, and a segment length below 2 covers only the
  // length field itself.
  while (pos + 2 <= Size) {
    if (Data[pos] != 0xFF) {
      ++pos;
      continue;
    }
    const uint8_t marker = Data[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0x00) {  // a stuffed 0xFF is no marker either
      pos += 2;
      continue;
    }
    if (marker == 0xD9) break;  // EOI before any frame header
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // no length
      pos += 2;
      continue;
    }
    if (pos + 4 > Size) break;
    const size_t len = BE16(Data + pos + 2);
    if (len < 2) {
      pos += 4;
      continue;
    }
    if (len > Size - pos - 2) break;
    const uint8_t *p = Data + pos + 4;  // segment payload
    const size_t n = len - 2;
    // Only the APP1 segments right after the first Exif one go on with its block.
    const bool wasContinuing = continuing;
    continuing = false;
    const bool sof = (marker >= 0xC0 && marker <= 0xC3) || (marker >= 0xC5 && marker <= 0xC7) ||
                     (marker >= 0xC9 && marker <= 0xCB);
    if (sof) {
      if (n < 5) break;
      Entry.Height = BE16(p + 1);
      Entry.Width = BE16(p + 3);
      Entry.PictureFormat = PICTURE_JPEG;
      found = true;
      break;
    }
    if (marker == 0xE0) {
      if (n >= 12 && std::memcmp(p, "JFIF\0", 5) == 0) {
        const uint8_t unit = p[7];
        Entry.FResolutionUnit = unit == 1 ? RESUNIT_INCH : unit == 2 ? RESUNIT_CM : RESUNIT_NONE;
        Entry.FXResolution = BE16(p + 8);
        Entry.FYResolution = BE16(p + 10);
      }
    } else if (marker == 0xE1) {
      if (wasContinuing && IsExifContinuation(p, n)) {
        continued.insert(continued.end(), p + 6, p + n);
        continuing = true;
      } else if (!seenExif && n >= 4 && std::memcmp(p, "Exif", 4) == 0) {
        seenExif = continuing = true;
        Entry.FHasExif = true;
        Entry.FExifPos = int32_t(pos + 4);
        Entry.FExifSize = uint32_t(n);
        if (n > 6) exifTiff = pos + 10, exifTiffLen = n - 6;
      } else {
        Entry.FHasExtraMarker = -1;
      }
    } else if (marker == 0xE2) {
      if (n < 11 || std::memcmp(p, "ICC_PROFILE", 11) != 0) Entry.FHasExtraMarker = -1;
    } else if ((marker >= 0xE3 && marker <= 0xED) || marker == 0xEF || marker == 0xFE) {
      Entry.FHasExtraMarker = -1;
    }
    pos += 2 + len;
  }
  if (found && exifTiffLen && continued.empty()) ParseExifIFDs(Entry, Data, Size, exifTiff, exifTiffLen);
  if (found && exifTiffLen && !continued.empty()) {
    Entry.FExifContinued = true;
    continued.insert(continued.begin(), Data + exifTiff, Data + exifTiff + exifTiffLen);
    ParseExifIFDs(Entry, continued.data(), continued.size(), 0, continued.size());
    // A thumbnail is read from the file by its offset: one that lies in the
    // first segment is where the joined block says, one beyond is not kept.
    if (Entry.FThumbnailSize && size_t(Entry.FThumbnailPos) + Entry.FThumbnailSize <= exifTiffLen)
      Entry.FThumbnailPos += int32_t(exifTiff);
    else
      Entry.FThumbnailPos = 0, Entry.FThumbnailSize = 0;
  }
  return found;
}

double UnixToLocalDateTime(int64_t Seconds, int64_t Nanos) {
  const time_t t = time_t(Seconds);
  struct tm tm {};
  localtime_r(&t, &tm);
  return (double(Seconds + tm.tm_gmtoff) + double(Nanos) * 1e-9) / 86400.0 + 25569.0;
}

std::string ArchiveVirtualPath(const std::string &ArchivePath, const TArchiveMemberInfo &Member) {
  std::string base = ArchivePath;
  const std::string ext = LowerExtension(ArchivePath);
  if (!ext.empty()) base.resize(base.size() - ext.size());
  return base + "/" + Member.Path + Member.FileName;
}

bool QuickProbeFile(const std::string &Path, TImageProbe &Entry) {
  Entry = TImageProbe{};
  Entry.FPath = Path;
  int64_t size = 0;
  if (!StatTimes(Path, size, Entry.DateTimeLastWrite, Entry.DateTimeCreation)) return false;
  Entry.Size = int32_t(std::min<int64_t>(size, INT32_MAX));
  return true;
}

bool QuickProbeArchiveMember(const std::string &ArchivePath, const TArchiveMemberInfo &Member, void *Plugin,
                             TImageProbe &Entry) {
  Entry = TImageProbe{};
  Entry.FPath = ArchiveVirtualPath(ArchivePath, Member);
  Entry.FIsArchive = LongTrue;
  Entry.FArchivePath = ArchivePath;
  Entry.FArchivePosition = Member.Position;
  Entry.FArchiveCompSize = Member.CompSize;
  Entry.FArchiveSPI = Plugin;
  Entry.Size = int32_t(std::min<uint32_t>(Member.FileSize, INT32_MAX));
  Entry.DateTimeLastWrite = ArchiveTimeStampToDateTime(Member.TimeStamp);
  int64_t archiveSize = 0;
  double archiveWrite = 0;
  return StatTimes(ArchivePath, archiveSize, archiveWrite, Entry.DateTimeCreation);
}

namespace {
bool ProbeFile(const std::string &Path, TImageProbe &Entry, TProbeErrors Errors) {
  if (!QuickProbeFile(Path, Entry)) return false;
  const TMappedFile file(Path);
  return GuardedProbe(Path, LowerExtension(Path), &Path, file.Data(), file.Size(), Entry, Errors);
}
}  // namespace

bool ProbeImageFile(const std::string &Path, TImageProbe &Entry) { return ProbeFile(Path, Entry, TProbeErrors::Log); }

bool ProbeArchiveMember(const std::string &ArchivePath, const TArchiveMemberInfo &Member, void *Plugin,
                        const uint8_t *Data, size_t Size, TImageProbe &Entry, TProbeErrors Errors) {
  // The member is probed from its bytes even when the archive's own times
  // cannot be read.
  QuickProbeArchiveMember(ArchivePath, Member, Plugin, Entry);
  return GuardedProbe(Entry.FPath, LowerExtension(Member.FileName), nullptr, Data, Size, Entry, Errors);
}

void RegisterExtractArchiveMember(TExtractArchiveMemberProc Extract) { ExtractArchiveMemberHook = Extract; }

bool ExtractArchiveMember(const TImageProbe &Entry, std::vector<uint8_t> &Bytes) {
  return ExtractArchiveMemberHook && ExtractArchiveMemberHook(Entry, Bytes);
}

bool EnsureProbed(TImageProbe &Entry, TProbeErrors Errors) {
  if (Entry.PictureFormat != PICTURE_UNKNOWN) return true;
  if (!Entry.FIsArchive) {
    const std::string path = Entry.FPath;
    return ProbeFile(path, Entry, Errors);
  }
  std::vector<uint8_t> bytes;
  try {
    if (!ExtractArchiveMember(Entry, bytes)) return false;
  } catch (const std::exception &e) {
    if (Errors == TProbeErrors::Raise) throw;
    PutLoadError(Entry.FPath + ":" + e.what());
    return false;
  }
  // Path, archive location and times are already the entry's; only the
  // image fields are learned again.
  TImageProbe fresh = Entry;
  const size_t slash = Entry.FPath.find_last_of('/');
  const std::string name = slash == std::string::npos ? Entry.FPath : Entry.FPath.substr(slash + 1);
  if (!GuardedProbe(Entry.FPath, LowerExtension(name), nullptr, bytes.data(), bytes.size(), fresh, Errors))
    return false;
  Entry = std::move(fresh);
  return true;
}
