// What the program learns about an image file without decoding it: the probe
// record (size, format, resolution, dates, the Exif positions and colour
// data) and the probes that fill it from a file or from an archive member
// already extracted to memory.
//
// TImageProbe carries the probe-filled fields of a list entry under the list
// entry's own names, so the list entry can take it over whole (derive from it
// or copy it); the list's own fields (check mark, output name, ...) are not
// here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Picture-format codes (PictureFormat).
enum : int32_t {
  PICTURE_UNKNOWN = 0,  // not yet probed
  PICTURE_BMP = 1,
  PICTURE_JPEG = 2,
  PICTURE_PNG = 3,
  PICTURE_WIC = 6,      // anything else the imaging service knows
  PICTURE_SPI = 7,      // decoded by an image-loader plug-in
};

// Resolution units of the header probes (FResolutionUnit as the probes set
// it): 0 aspect ratio only, 1 per inch, 2 per centimetre, 3 per metre.
enum : int32_t {
  RESUNIT_NONE = 0,
  RESUNIT_INCH = 1,
  RESUNIT_CM = 2,
  RESUNIT_METRE = 3,
};

// Output resolution, in the units above (the writers take 1 per inch, 2 per
// centimetre, 3 per metre).
struct TResolutionInfo {
  double XResolution = 0;
  double YResolution = 0;
  int32_t ResolutionUnit = 0;
};

struct TImageProbe {
  std::string FPath;             // file, or archive path without extension + '/' + member folder + name
  int32_t FExifPos = 0;          // file offset of "Exif" in the APP1 segment, 0 none
  uint32_t FExifSize = 0;        // APP1 length minus 2
  int32_t FThumbnailPos = 0;     // file offset of the Exif thumbnail
  uint32_t FThumbnailSize = 0;
  int32_t FThumbnailOffset = 0;  // position of the thumbnail-offset tag
  int32_t FThumbnailOrientationPos = 0;
  int32_t FOrientationPos = 0;
  uint16_t FOrientation = 0;     // Exif orientation 1..8, 0 none
  void *FSPI = nullptr;          // image-loader plug-in for format 7 (plug-in host)
  bool FHasExif = false;
  bool FET = false;              // Exif byte order: true for "MM"
  int32_t FXDimensionPos = 0, FYDimensionPos = 0;
  uint16_t FXDimensionType = 0, FYDimensionType = 0;
  int32_t FSoftwarePos = 0, FSoftwareLen = 0, FSoftwareLenPos = 0;
  double FXResolution = 0, FYResolution = 0;
  int32_t FXResolutionPos = 0, FYResolutionPos = 0;
  int32_t FResolutionUnit = 0;
  int32_t FResolutionUnitPos = 0;
  int32_t FColorSpace = 1;
  double FWhitePoint[2] = {0.313, 0.329};
  double FPrimaryChromaticities[6] = {0.64, 0.33, 0.21, 0.71, 0.15, 0.06};
  double FGamma = 2.2;
  bool FHasColorInfo = false;    // the colour fields above came from the file's Exif
  int32_t FHasExtraMarker = 0;   // LongBool
  int32_t FIsArchive = 0;        // LongBool
  std::string FArchivePath;
  uint32_t FArchivePosition = 0;
  uint32_t FArchiveCompSize = 0;
  void *FArchiveSPI = nullptr;   // archive plug-in that extracts the member (plug-in host)
  int32_t FExifBroken = 0;       // LongBool
  // The Exif block goes on in the APP1 segments after the one at FExifPos
  // (a block split over segments); the carrier is made from the joined parts.
  bool FExifContinued = false;
  int32_t Width = 0, Height = 0;
  int32_t Size = 0;              // file size (member size for archive members)
  int32_t PictureFormat = PICTURE_UNKNOWN;
  double DateTimeOriginal = 0;   // days since 1899-12-30, 0 none
  double DateTimeLastWrite = 0;  // local time
  int64_t DateTimeCreation = 0;  // file system time as given (nanoseconds since 1970, UTC)
  // The list thumbnail encoded as JPEG (the list's thumbnail cache keeps these).
  std::vector<uint8_t> CachedThumbnail;
};
using PImageProbe = TImageProbe *;

// An archive member as the archive plug-in reports it.
struct TArchiveMemberInfo {
  std::string Path;      // folder inside the archive, '/' separated, with a trailing '/' or empty
  std::string FileName;
  uint32_t Position = 0;
  uint32_t CompSize = 0;
  uint32_t FileSize = 0;
  int64_t TimeStamp = 0; // seconds since 1970-01-01 UTC
};

// What a probe does with a failure that has a reason (a file the imaging
// service claims but cannot read): adding files and naming log it as the
// file name, ":" and the reason; a conversion raises it as ETessivoError, so
// that the file's one log line carries it.
enum class TProbeErrors { Log, Raise };
// Fills Entry from the file at Path; true when it is an image. The entry is
// reset first; path, size and both file times are stored.
bool ProbeImageFile(const std::string &Path, TImageProbe &Entry);
// The same for an archive member whose bytes are Data (already extracted,
// or only its head when the caller tries the whole member after a failure).
bool ProbeArchiveMember(const std::string &ArchivePath, const TArchiveMemberInfo &Member,
                        void *Plugin, const uint8_t *Data, size_t Size, TImageProbe &Entry,
                        TProbeErrors Errors = TProbeErrors::Log);
// The quick probes of adding without probing: the entry is reset and gets
// path, size and both file times only (format stays 0). The full probes above
// start with them. False when the file (the archive) cannot be looked at.
bool QuickProbeFile(const std::string &Path, TImageProbe &Entry);
bool QuickProbeArchiveMember(const std::string &ArchivePath, const TArchiveMemberInfo &Member, void *Plugin,
                             TImageProbe &Entry);
// Where an archive member is listed: the archive's path without its
// extension, a '/', the member's folder and name.
std::string ArchiveVirtualPath(const std::string &ArchivePath, const TArchiveMemberInfo &Member);
// Probes an entry added without probing (format 0): the file, or the member
// through ExtractArchiveMember. True when the entry is (now) an image.
bool EnsureProbed(TImageProbe &Entry, TProbeErrors Errors = TProbeErrors::Log);

// The header probes over a memory block (each leaves Entry's other fields alone).
bool ProbeBitmapHeader(const uint8_t *Data, size_t Size, TImageProbe &Entry);
bool ProbePNGHeader(const uint8_t *Data, size_t Size, TImageProbe &Entry);
// Data is the whole file: the Exif block is handed to ParseExifIFDs (ExifReader.h).
bool ProbeJPEGHeader(const uint8_t *Data, size_t Size, TImageProbe &Entry);

// The archive plug-in's extraction of a member into memory; false, or an
// ETessivoError with the plug-in's reason, when the member cannot be read.
using TExtractArchiveMemberProc = bool (*)(const TImageProbe &Entry, std::vector<uint8_t> &Bytes);
// Registration point of the plug-in host: the host calls it once at start-up,
// before any list or run reads a member (null removes it again); no static
// initialiser installs it, so without a host archive members cannot be read.
void RegisterExtractArchiveMember(TExtractArchiveMemberProc Extract);
// A member's bytes through the registered extraction; false without one or
// when it fails.
bool ExtractArchiveMember(const TImageProbe &Entry, std::vector<uint8_t> &Bytes);

// The lower-case extensions the imaging service reads, each followed by a
// comma, ".jxr,.hdp," appended; built on first use (and again when the
// codec library is loaded later), empty without it.
std::string WICExtensionList();
// Extensions that probed successfully (with the dot, lower case).
std::vector<std::string> KnownExtensions();
// Lower-case extension of a path with its dot, empty when none.
std::string LowerExtension(const std::string &Path);

// Seconds since 1970 (UTC) as a local date-time (days since 1899-12-30) with
// the time zone's standard bias read once, no daylight-saving correction.
double ArchiveTimeStampToDateTime(int64_t TimeStamp);
// A file-system moment (seconds and nanoseconds since 1970) as a local
// date-time with the offset in force at that moment; the probes and the list
// reckon file times this way, so an unchanged file compares equal.
double UnixToLocalDateTime(int64_t Seconds, int64_t Nanos);

// Where adding files and probing report a failed file: one line, the file
// name, a colon and the message. (A file being converted is reported by the
// worker that handles it, from the exception the loader raised.) The batch
// controller points it at the error log; until then lines go to standard error.
using TPutErrorMsgProc = std::function<void(const std::string &Line)>;
void SetLoadErrorProc(TPutErrorMsgProc Proc);
void PutLoadError(const std::string &Line);
// The same for a file that is still usable (its Exif block is damaged and is
// left out); without a warning procedure the line goes where errors go.
void SetLoadWarningProc(TPutErrorMsgProc Proc);
void PutLoadWarning(const std::string &Line);
// A warning about a file being converted that still converts (a processing
// step's stand-in for something missing): collected by the capture around
// the call on this thread, which the worker reports with the file, or else
// logged as File, ": " and Message.
void PutFileWarning(const std::string &File, const std::string &Message);

// Routes the codec library's messages, as "title: message", to the capture
// of the thread the library calls from (done by the first probe, decode or
// save that needs the library; harmless to call again, also after the
// library was reloaded). A message outside any capture has no file to name
// and is dropped: every call into the library runs under a capture.
void ConnectPixioErrorLog();

// While one of these lives on a thread, the codec library's messages on that
// thread are collected into Text(); the caller raises them with its failure,
// so the failure of one file becomes one line that names it. The library
// calls back on the thread that called it, so captures of workers decoding
// at the same time never mix.
class TLibraryMessageCapture {
public:
  TLibraryMessageCapture();
  ~TLibraryMessageCapture();
  TLibraryMessageCapture(const TLibraryMessageCapture &) = delete;
  TLibraryMessageCapture &operator=(const TLibraryMessageCapture &) = delete;
  // What a capture collected also reaches the capture around it, so a caller
  // that succeeded can still hear the library's warnings.
  const std::string &Text() const { return FText; }
  void Append(const std::string &Line);
  // Forgets what was collected, for calls whose complaints are an answer
  // rather than news (a trial encode that did not fit).
  void Discard() { FText.clear(); }

private:
  TLibraryMessageCapture *FPrev;
  std::string FText;
};
