// Decoding a list entry for conversion and for the list window. The bytes of
// the whole source are read first (a file or an archive member), handed to
// the decoder of the probed format, and released before the image is
// prepared for its output: Exif-derived profile, alpha flattening, CMYK.
#include "io/LoadPicture.h"

#include "io/Bitmap.h"
#include "color/ColorManagementOption.h"
#include "core/Errors.h"
#include "io/ExifJpeg.h"
#include "io/ExifReader.h"
#include "io/FormatOption.h"
#include "color/ICCUtil.h"
#include "io/JpegSegment.h"
#include "core/PixelConvert.h"
#include "io/Pixio.h"
#include "resample/Resize.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <string>

namespace {

TLoadSusieImageProc LoadSusieImageHook = nullptr;

class TLibraryCall {
public:
  [[noreturn]] void Fail(const char *Fallback) const {
    throw ETessivoError(FCapture.Text().empty() ? std::string(Fallback) : FCapture.Text());
  }

private:
  TLibraryMessageCapture FCapture;
};

TPixio &Library() {
  TPixio *lib = Pixio();
  if (!lib) throw ETessivoError("コーデックライブラリが読み込まれていません");
  ConnectPixioErrorLog();
  return *lib;
}

// Frees what a failed decode left in a decode record.
void ReleaseDecode(TPixioDecode &D) {
  if (D.Mem) PageFree(D.Mem);
  if (D.ICCProfile) PageFree(D.ICCProfile);
  D.Mem = nullptr;
  D.ICCProfile = nullptr;
}

// Moves the pixels and the profile of a decode record into Img.
void TakeDecode(TPixioDecode &D, TICCImgInfo &Img) {
  if (!D.Mem || !D.Width || !D.Height || D.Channels < 1 || D.Channels > 4 ||
      (D.BitsPerSample != 8 && D.BitsPerSample != 16)) {
    ReleaseDecode(D);
    throw ETessivoError("デコード結果が不正です");
  }
  // The library's copy of the page allocator made these blocks; they are the program's now.
  AdoptPageBlock(D.Mem);
  AdoptPageBlock(D.ICCProfile);
  Img.Mem = D.Mem;
  Img.Width = D.Width;
  Img.Height = D.Height;
  Img.Bpl = D.Bpl;
  Img.Channels = D.Channels;
  Img.BPP = D.BitsPerSample == 16 ? BPP_16 : BPP_8;
  D.Mem = nullptr;
  if (D.ICCProfile && D.ProfileLen) {
    Img.ICCProfile = D.ICCProfile;
    Img.ProfileLen = D.ProfileLen;
    Img.ProfileType = PROFILE_EMBEDDED;
  } else if (D.ICCProfile) {
    PageFree(D.ICCProfile);
  }
  D.ICCProfile = nullptr;
}

void SetDefaultProfile(TICCImgInfo &Img, bool Gray) {
  if (Img.ProfileType == PROFILE_EMBEDDED) return;
  Img.ProfileType = Gray ? PROFILE_DEFAULT_GRAY : PROFILE_DEFAULT_RGB;
}

void DecodeWIC(const uint8_t *Data, size_t Size, TICCImgInfo &Out, bool Thumbnail, bool *Inverted) {
  TPixio &lib = Library();
  Out = TICCImgInfo{};
  TPixioDecode d{};
  {
    TLibraryCall call;
    const int ok = Thumbnail ? lib.read_wic_thumbnail(&d, Data, Size) : lib.read_wic(&d, Data, Size);
    if (!ok) {
      ReleaseDecode(d);
      call.Fail("画像の読み込みに失敗しました");
    }
  }
  TICCImgOwner loaded;
  TICCImgInfo &Img = *loaded;
  TakeDecode(d, Img);
  if (Inverted) *Inverted = d.IsCMYK && d.IsInvertedCMYK;
  if (Img.Channels == 4) {
    Img.PixelFormat = d.IsCMYK ? PIXFMT_CMYK : PIXFMT_BGRA;
  } else if (Img.Channels == 3) {
    Img.PixelFormat = PIXFMT_BGR;
  } else if (Img.Channels == 1) {
    Img.PixelFormat = PIXFMT_GRAY;
  } else {
    throw ETessivoError("対応していない画像形式です");
  }
  Img.IsGrayAlpha = (d.IsGrayAlpha && Img.Channels == 4 && !d.IsCMYK) ? LongTrue : LongFalse;
  // 16-bit colour comes red first from the imaging service. CMYK samples
  // keep their order: the CMYK transform reads them as C, M, Y, K.
  if (Img.BPP == BPP_16 && Img.Channels >= 3 && Img.PixelFormat != PIXFMT_CMYK) SwapRedBlue16(Img);
  SetDefaultProfile(Img, Img.Channels == 1 || Img.IsGrayAlpha);
  if (d.IsCMYK && Img.ProfileType != PROFILE_EMBEDDED) Img.ProfileType = PROFILE_NONE;
  // The imaging service delivers rows top-down.
  FlipImageVertical(Img);
  Out = loaded.Detach();
}

// The whole file at Path, read into the buffer Reserve(size) hands out
// (null when there is no memory for it); Got receives the bytes read.
template <class TReserve>
bool ReadWholeFile(const std::string &Path, TReserve &&Reserve, size_t &Got, std::string &Error) {
  Got = 0;
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Error = "ファイルを開けません (" + std::string(std::strerror(errno)) + ")";
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    Error = "ファイルを開けません";
    return false;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  const size_t size = size_t(st.st_size);
  uint8_t *buf = size ? Reserve(size) : nullptr;
  if (size && !buf) {
    ::close(fd);
    Error = "メモリが不足しています";
    return false;
  }
  while (Got < size) {
    const ssize_t n = ::read(fd, buf + Got, size - Got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    Got += size_t(n);
  }
  ::close(fd);
  // A file that shrank while being read is decoded as far as it goes.
  if (Got == 0) {
    Error = "ファイルが空です";
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::string &Path, std::vector<uint8_t> &Bytes, std::string &Error) {
  size_t got = 0;
  const bool ok = ReadWholeFile(
      Path,
      [&Bytes](size_t n) -> uint8_t * {
        try {
          Bytes.resize(n);
        } catch (const std::bad_alloc &) {
          return nullptr;
        }
        return Bytes.data();
      },
      got, Error);
  Bytes.resize(got);
  return ok;
}

// The source bytes of an entry being decoded. A file is read into a buffer
// that is not cleared first (every byte of it up to Size comes from the file);
// an archive member comes from the extraction hook.
struct TSourceBytes {
  std::unique_ptr<uint8_t[]> File;
  std::vector<uint8_t> Member;
  size_t Size = 0;
  std::span<const uint8_t> View() const { return {File ? File.get() : Member.data(), Size}; }
  void Release() {
    File.reset();
    std::vector<uint8_t>().swap(Member);
    Size = 0;
  }
};

// The byte range [Pos, Pos + Len) of a file, or false.
bool ReadFileRange(const std::string &Path, size_t Pos, size_t Len, std::vector<uint8_t> &Bytes) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && Pos <= size_t(st.st_size) && Len <= size_t(st.st_size) - Pos;
  if (ok) {
    Bytes.resize(Len);
    size_t got = 0;
    while (got < Len) {
      const ssize_t n = ::pread(fd, Bytes.data() + got, Len - got, off_t(Pos + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += size_t(n);
    }
    ok = got == Len;
  }
  ::close(fd);
  return ok;
}

// Every output format that holds Exif: JPEG, HD Photo and TIFF, and PNG in its eXIf chunk.
bool ExifWanted(int32_t OutputType, const TJPEGOption &JPEG) {
  return JPEG.AddExifInfo && (OutputType == OUTPUT_JPEG || OutputType == OUTPUT_HDP ||
                              OutputType == OUTPUT_TIFF || OutputType == OUTPUT_PNG);
}

// The Exif carrier of a JPEG source: the APP1 payload the probe found.
void AttachJPEGExif(const TImageProbe &Entry, std::span<const uint8_t> Bytes, TICCImgInfo &Img) {
  if (!Entry.FHasExif || Entry.FExifPos <= 0 || Entry.FExifSize == 0) return;
  const size_t pos = size_t(Entry.FExifPos);
  if (pos > Bytes.size() || Entry.FExifSize > Bytes.size() - pos) return;  // the file changed since probing
  MakeExifImage(Entry, Img.ExifInfo, Img.ExifLen, Entry.FExifSize, Bytes.data() + pos);
}

// The Exif carrier of another source (a PNG's eXIf chunk, or what the imaging
// service finds), made by the codec library.
void AttachLibraryExif(const TImageProbe &Entry, std::span<const uint8_t> Bytes, TICCImgInfo &Img,
                   bool UpdateSoftwareTag) {
  if (!Entry.FHasExif) return;
  TPixio *lib = Pixio();
  if (!lib || !lib->create_exif) return;
  auto *block = static_cast<uint8_t *>(AlignedAlloc(EXIF_CARRIER_SIZE, 16));
  int n;
  {
    TLibraryCall call;
    n = lib->create_exif(block, EXIF_CARRIER_SIZE, Bytes.data(), Bytes.size(), UpdateSoftwareTag ? 1 : 0);
  }
  if (n <= 1 || uint32_t(n) > EXIF_CARRIER_SIZE) {
    AlignedFree(block);
    return;
  }
  Img.ExifInfo = block;
  Img.ExifLen = uint32_t(n);
}

bool HasAlpha(const TICCImgInfo &Img) {
  return (Img.PixelFormat == PIXFMT_BGRA && Img.Channels == 4) ||
         (Img.PixelFormat == PIXFMT_GRAYALPHA && Img.Channels == 2);
}

// CMYK pixels become BGR in the working space through the CMYK transform.
void ConvertCMYK(TICCImgInfo &Img, TTransForm *Transform, bool Inverted) {
  if (Img.PixelFormat != PIXFMT_CMYK) return;
  if (Img.BPP != BPP_8) ConvertTo8Bit(Img, false);
  std::unique_ptr<TTransForm> own;
  if (!Transform) {
    own = std::make_unique<TTransForm>();
    Transform = own.get();
  }
  if (!Transform->InitCMYKTransform(Img, Inverted)) throw ETessivoError("CMYK画像を変換できません");
  Transform->DoTransform(Img);
  Transform->ResetTransform();
  if (Img.PixelFormat == PIXFMT_CMYK || Img.Channels != 3) throw ETessivoError("CMYK画像を変換できません");
}

void ApplyExifProfile(const TImageProbe &Entry, TICCImgInfo &Img, bool CreateICCProfileFromExif) {
  if (!CreateICCProfileFromExif || !Entry.FHasColorInfo) return;
  if (Img.PixelFormat == PIXFMT_CMYK || Img.ProfileType == PROFILE_EMBEDDED) return;
  if (Img.Channels < 3 || Img.IsGrayAlpha) return;  // the Exif primaries describe colour images
  TExifColorInfo info;
  info.ColorSpace = Entry.FColorSpace;
  std::copy(Entry.FWhitePoint, Entry.FWhitePoint + 2, info.WhitePoint);
  std::copy(Entry.FPrimaryChromaticities, Entry.FPrimaryChromaticities + 6, info.PrimaryChromaticities);
  info.Gamma = Entry.FGamma;
  AttachProfileFromExif(Img, info);
}

// Decodes the source bytes by format into Img. Inverted receives whether
// CMYK pixels are stored inverted (Adobe JPEG).
void DecodeByFormat(const TImageProbe &Entry, std::span<const uint8_t> Bytes, TICCImgInfo &Img,
                    bool WantQuality, int32_t Denominator, bool Thumbnail, const TFormatOptions &Formats,
                    bool &Inverted) {
  Inverted = false;
  switch (Entry.PictureFormat) {
    case PICTURE_BMP:
      LoadBitmapFromMemory(Bytes.data(), Bytes.size(), Img, Formats.Bitmap.AlphaCheckType);
      break;
    case PICTURE_JPEG:
      LoadJPEGFromMemory(Bytes.data(), Bytes.size(), Img, WantQuality, Denominator, Formats.JPEG.DCTMethod, &Inverted);
      break;
    case PICTURE_PNG:
      if (Formats.PNG.UseWIC) DecodeWIC(Bytes.data(), Bytes.size(), Img, false, nullptr);
      else LoadPNGFromMemory(Bytes.data(), Bytes.size(), Img, Formats.PNG.UsebKGDChunk != 0);
      break;
    case PICTURE_WIC:
      DecodeWIC(Bytes.data(), Bytes.size(), Img, Thumbnail, &Inverted);
      break;
    case PICTURE_SPI:
      if (!LoadSusieImageHook || !Entry.FSPI) throw ETessivoError("プラグインが読み込まれていません");
      LoadSusieImageHook(Bytes.data(), Bytes.size(), Img, Entry.FSPI);
      break;
    default:
      throw ETessivoError(BMP_UNSUPPORTED_MSG);
  }
}

// 8-bit BGR or gray in the monitor profile (when colour management is on).
void ToMonitor(TICCImgInfo &Img, TTransForm *Transform) {
  std::unique_ptr<TTransForm> own;
  if (!Transform) {
    own = std::make_unique<TTransForm>();
    Transform = own.get();
  }
  try {
    if (Transform->InitTo(Img, TARGET_MONITOR, -1, true)) Transform->DoTransform(Img);
  } catch (const std::exception &) {
    // The picture is still worth showing without the display conversion.
  }
  Transform->ResetTransform();
}

}  // namespace

void RegisterLoadSusieImage(TLoadSusieImageProc Load) { LoadSusieImageHook = Load; }

namespace {

// An archive member's bytes through the registered extraction.
void ExtractMember(const TImageProbe &Entry, std::vector<uint8_t> &Bytes) {
  Bytes.clear();
  if (!ExtractArchiveMember(Entry, Bytes) || Bytes.empty())
    throw ETessivoError("書庫から取り出せません");
}

// The source bytes for decoding: a file's bytes land in an uncleared buffer.
void ReadSourceBytes(const TImageProbe &Entry, TSourceBytes &Src) {
  Src.Release();
  if (Entry.FIsArchive) {
    ExtractMember(Entry, Src.Member);
    Src.Size = Src.Member.size();
    return;
  }
  std::string error;
  const bool ok = ReadWholeFile(
      Entry.FPath,
      [&Src](size_t n) -> uint8_t * {
        Src.File.reset(new (std::nothrow) uint8_t[n]);
        return Src.File.get();
      },
      Src.Size, error);
  if (!ok) {
    Src.Release();
    throw ETessivoError(error);
  }
}

}  // namespace

void ReadEntryBytes(const TImageProbe &Entry, std::vector<uint8_t> &Bytes) {
  try {
    if (Entry.FIsArchive) {
      ExtractMember(Entry, Bytes);
      return;
    }
    std::string error;
    if (!ReadWholeFile(Entry.FPath, Bytes, error)) throw ETessivoError(error);
  } catch (const std::exception &e) {
    throw ETessivoError(LOAD_FAILED_MSG, e.what());
  }
}

void LoadPNGFromMemory(const uint8_t *Data, size_t Size, TICCImgInfo &Out, bool UseBKGDChunk) {
  TPixio &lib = Library();
  Out = TICCImgInfo{};
  TPixioDecode d{};
  d.WantBGColor = UseBKGDChunk ? 1 : 0;
  {
    TLibraryCall call;
    if (!lib.read_png(&d, Data, Size)) {
      ReleaseDecode(d);
      call.Fail("PNG画像の読み込みに失敗しました");
    }
  }
  TICCImgOwner loaded;
  TICCImgInfo &Img = *loaded;
  TakeDecode(d, Img);
  if (UseBKGDChunk && d.HasBGColor) {
    Img.BGColor = d.BGColor & 0xFFFFFF;
    Img.hasBGColor = LongTrue;
  }
  switch (Img.Channels) {
    case 1: Img.PixelFormat = PIXFMT_GRAY; break;
    case 2:
      Img.PixelFormat = PIXFMT_GRAYALPHA;
      ExpandGrayAlpha(Img);
      if (Img.Channels != 4) throw ETessivoError("PNG画像の読み込みに失敗しました");
      Img.PixelFormat = PIXFMT_BGRA;
      Img.IsGrayAlpha = LongTrue;
      break;
    case 3: Img.PixelFormat = PIXFMT_BGR; break;
    default: Img.PixelFormat = PIXFMT_BGRA; break;
  }
  SetDefaultProfile(Img, Img.Channels == 1 || Img.IsGrayAlpha);
  Out = loaded.Detach();
}

void LoadJPEGFromMemory(const uint8_t *Data, size_t Size, TICCImgInfo &Out, bool WantQualityInfo,
                        int32_t Denominator, int32_t DCTMethod, bool *InvertedCMYK) {
  TPixio &lib = Library();
  Out = TICCImgInfo{};
  if (Denominator != 1 && Denominator != 2 && Denominator != 4 && Denominator != 8) Denominator = 1;
  TPixioDecode d{};
  TJPEGQualityInfo quality{};
  d.ScaleDenom = Denominator;
  d.DCTMethod = DCTMethod == 1 ? 2 : 0;
  // The previous image's block, when one is kept, saves mapping and clearing a new one.
  d.SpareMem = static_cast<uint8_t *>(TakeSpareBlock());
  if (WantQualityInfo) {
    d.WantQualityInfo = 1;
    d.QualityInfo = reinterpret_cast<TPixioQualityInfo *>(&quality);
  }
  {
    TLibraryCall call;
    const bool ok = lib.read_jpeg(&d, Data, Size);
    PageFree(d.SpareMem);
    d.SpareMem = nullptr;
    if (!ok) {
      ReleaseDecode(d);
      call.Fail("JPEG画像の読み込みに失敗しました");
    }
  }
  TICCImgOwner loaded;
  TICCImgInfo &Img = *loaded;
  TakeDecode(d, Img);
  if (Img.BPP != BPP_8) throw ETessivoError("JPEG画像の読み込みに失敗しました");
  switch (Img.Channels) {
    case 1: Img.PixelFormat = PIXFMT_GRAY; break;
    case 3: Img.PixelFormat = d.IsYCbCr ? PIXFMT_YCC : PIXFMT_BGR; break;
    case 4: Img.PixelFormat = PIXFMT_CMYK; break;
    default: throw ETessivoError("対応していない画像形式です");
  }
  if (Img.PixelFormat == PIXFMT_CMYK) {
    if (Img.ProfileType != PROFILE_EMBEDDED) Img.ProfileType = PROFILE_NONE;
  } else {
    SetDefaultProfile(Img, Img.Channels == 1);
  }
  if (InvertedCMYK) *InvertedCMYK = d.IsCMYK && d.IsInvertedCMYK;
  if (WantQualityInfo && quality.QTCount >= 1 && quality.QTCount <= 3) {
    Img.JPEGQualityInfo = quality;
    Img.HasJPEGQualityInfo = LongTrue;
  }
  Out = loaded.Detach();
}

void LoadWICFromMemory(const uint8_t *Data, size_t Size, TICCImgInfo &Img) {
  DecodeWIC(Data, Size, Img, false, nullptr);
}

void LoadWICThumbnailFromMemory(const uint8_t *Data, size_t Size, TICCImgInfo &Img) {
  DecodeWIC(Data, Size, Img, true, nullptr);
}

int32_t JPEGScaleDenominator(const TScale &Scale, int32_t DecodeWithDownScaling, int32_t DownScalingLimit) {
  const double s = std::max(Scale.XScale, Scale.YScale);
  if (!(s > 0)) return 1;
  const double limit = double(DownScalingLimit) * s / 100.0;
  int32_t denominator = 1;
  for (int32_t i = 0; i < std::min(DecodeWithDownScaling, 3); ++i)
    if (1.0 / (2.0 * denominator) >= limit) denominator *= 2;
  return denominator;
}

bool OutputDropsAlpha(int32_t OutputType, const TBitmapOption &Bitmap) {
  if (OutputType == OUTPUT_BMP && !Bitmap.AlphaChannelSupport) return true;
  return OutputType == OUTPUT_JPEG;
}

namespace {

// Refuses a decode whose pixels would not fit a worker's share of Budget.
void CheckDecodeBudget(const TImageProbe &Entry, std::span<const uint8_t> Bytes, int32_t Denominator,
                       const TMemoryBudget &Budget) {
  if (Budget.Total == 0 || Entry.Width <= 0 || Entry.Height <= 0) return;
  const uint64_t d = uint64_t(std::max(1, Denominator));
  const uint64_t w = (uint64_t(Entry.Width) + d - 1) / d, h = (uint64_t(Entry.Height) + d - 1) / d;
  const uint64_t Need = w * h * DecodedBytesPerPixel(Entry.PictureFormat, Bytes);
  CheckMemoryBudget(Need, Budget, "画像サイズが大きすぎます",
                    "decoding " + std::to_string(w) + " x " + std::to_string(h) + " pixels");
}

// LoadPicture without the framing of its failure.
int32_t DecodeEntry(TImageProbe &Entry, TICCImgInfo &Img, const TScale &Scale, bool WantMarkers, bool WantExif,
                    TTransForm *Transform, bool AllowDownScale, int32_t OutputType, const TFormatOptions &Formats,
                    const TColorManagementOption &ColorManagement, const TMemoryBudget &Budget) {
  const TJPEGOption &JPEG = Formats.JPEG;
  if (Entry.PictureFormat == PICTURE_UNKNOWN && !EnsureProbed(Entry, TProbeErrors::Raise))
    throw ETessivoError(BMP_UNSUPPORTED_MSG);
  TSourceBytes src;
  ReadSourceBytes(Entry, src);
  const std::span<const uint8_t> bytes = src.View();
  const bool wantExif = WantExif && ExifWanted(OutputType, JPEG);
  const bool wantQuality = JPEG.KeepQuality && OutputType == OUTPUT_JPEG && !JPEG.UseFileSizeLimit;
  int32_t denominator = 1;
  if (Entry.PictureFormat == PICTURE_JPEG && AllowDownScale)
    denominator = JPEGScaleDenominator(Scale, JPEG.DecodeWithDownScaling, JPEG.DownScalingLimit);
  CheckDecodeBudget(Entry, bytes, denominator, Budget);
  TICCImgOwner loaded;
  bool inverted = false;
  DecodeByFormat(Entry, bytes, *loaded, wantQuality, denominator, false, Formats, inverted);
  if (Entry.PictureFormat == PICTURE_JPEG) {
    // A damaged block is rebuilt from what can be read of it (the probe has
    // already warned), one with nothing readable is left out, and the parts
    // of a split block are joined.
    if (wantExif && (Entry.FExifBroken || Entry.FExifContinued)) AttachLibraryExif(Entry, bytes, *loaded, Formats.Metadata.UpdateSoftwareTag != 0);
    else if (wantExif) AttachJPEGExif(Entry, bytes, *loaded);
    if (WantMarkers && Formats.Metadata.KeepAllExtraMarker)
      GetExtraMarker(loaded->Marker, loaded->MarkerCount, bytes.size(), bytes.data());
  } else if ((Entry.PictureFormat == PICTURE_WIC || Entry.PictureFormat == PICTURE_PNG) && wantExif) {
    AttachLibraryExif(Entry, bytes, *loaded, Formats.Metadata.UpdateSoftwareTag != 0);
  }
  src.Release();
  ApplyExifProfile(Entry, *loaded, ColorManagement.CreateICCProfileFromExif != 0);
  if (HasAlpha(*loaded) && (OutputDropsAlpha(OutputType, Formats.Bitmap) || Formats.ReductionFlattensAlpha))
    FlattenAlpha(*loaded, Formats.Background, BackgroundColorInto(Transform));
  ConvertCMYK(*loaded, Transform, inverted);
  Img = loaded.Detach();
  return denominator;
}

}  // namespace

int32_t LoadPicture(TImageProbe &Entry, TICCImgInfo &Img, const TScale &Scale, bool WantMarkers, bool WantExif,
                    TTransForm *Transform, bool AllowDownScale, int32_t OutputType, const TFormatOptions &Formats,
                    const TColorManagementOption &ColorManagement, const TMemoryBudget &Budget) {
  Img = TICCImgInfo{};
  try {
    return DecodeEntry(Entry, Img, Scale, WantMarkers, WantExif, Transform, AllowDownScale, OutputType, Formats,
                       ColorManagement, Budget);
  } catch (const std::exception &e) {
    throw ETessivoError(LOAD_FAILED_MSG, e.what());
  }
}

uint32_t DecodedBytesPerPixel(int32_t Format, std::span<const uint8_t> Bytes) {
  if (Format == PICTURE_JPEG) {
    const TJpegWalk Walk = WalkJpegSegments(Bytes);
    for (const TJpegSegment &Seg : Walk.Segments) {
      const bool Sof = (Seg.Marker >= 0xFFC0 && Seg.Marker <= 0xFFC3) || (Seg.Marker >= 0xFFC5 && Seg.Marker <= 0xFFC7) ||
                       (Seg.Marker >= 0xFFC9 && Seg.Marker <= 0xFFCB);
      if (!Sof || Seg.PayloadLen() < 6) continue;
      const uint8_t Precision = Bytes[Seg.PayloadPos], Components = Bytes[Seg.PayloadPos + 5];
      if (Components >= 1 && Components <= 4) return Components * (Precision > 8 ? 2u : 1u);
    }
  } else if (Format == PICTURE_PNG && Bytes.size() >= 26) {
    // IHDR comes first: bit depth at 24, colour type at 25.
    const uint8_t Depth = Bytes[24], ColourType = Bytes[25];
    const uint32_t Samples = ColourType == 0 ? 1 : ColourType == 2 ? 3 : 4;
    return Samples * (Depth == 16 ? 2u : 1u);
  }
  return 4;
}

uint32_t ListThumbnailSide(int32_t ThumbnailSize) {
  return ThumbnailSize == 1 ? 160 : ThumbnailSize == 2 ? 320 : 640;
}

namespace {

// MakeListThumbnail's reduced decode of the picture, without the framing of its failure.
void DecodeListThumbnail(TICCImgInfo &Out, TImageProbe &Entry, const TListThumbnailOptions &Options,
                         uint32_t Side) {
  if (Entry.PictureFormat == PICTURE_UNKNOWN && !EnsureProbed(Entry, TProbeErrors::Raise))
    throw ETessivoError(BMP_UNSUPPORTED_MSG);
  TSourceBytes src;
  ReadSourceBytes(Entry, src);
  const std::span<const uint8_t> bytes = src.View();
  TICCImgOwner loaded;
  TICCImgInfo &Bitmap = *loaded;
  int32_t denominator = 1;
  if (Entry.PictureFormat == PICTURE_JPEG) {
    const uint32_t longSide = uint32_t(std::max(Entry.Width, Entry.Height));
    for (int i = 1; i <= 3; ++i)
      if ((longSide >> i) >= Side) denominator *= 2;
  }
  bool inverted = false;
  DecodeByFormat(Entry, bytes, Bitmap, false, denominator, true, Options.Formats, inverted);
  src.Release();
  const uint32_t w = Bitmap.Width, h = Bitmap.Height;
  const bool shrink = std::max(w, h) > Side;
  if (shrink) {
    uint32_t nw, nh;
    if (w >= h) {
      nw = Side;
      nh = std::max<uint32_t>(1, uint32_t((uint64_t(h) * Side + w / 2) / w));
    } else {
      nh = Side;
      nw = std::max<uint32_t>(1, uint32_t((uint64_t(w) * Side + h / 2) / h));
    }
    std::unique_ptr<TResizer> own;
    TResizer *resizer = Options.Resizer;
    if (!resizer) {
      const TCreatedWeightSetter s = CreateWeightSetter(RESIZE_SPLINE16, 0);
      s.Setter->AddRef();
      own = std::make_unique<TResizer>(RESIZE_SPLINE16, s.Setter, LongFalse, RESIZE_SPLINE16, s.Setter, LongFalse);
      resizer = own.get();
    }
    resizer->ResizeImage(Bitmap, nw, nullptr, false, Bitmap.PixelFormat == PIXFMT_BGRA, nh);
  }
  ConvertTo8Bit(Bitmap, false);
  if (HasAlpha(Bitmap)) FlattenAlpha(Bitmap, Options.Formats.Background);
  ConvertCMYK(Bitmap, nullptr, inverted);
  if (Bitmap.PixelFormat == PIXFMT_YCC) throw ETessivoError("対応していない画像形式です");
  ToMonitor(Bitmap, Options.MonitorTransform);
  if (shrink) {
    TJpegEncodeParams p;
    p.Quality = 80;
    std::vector<uint8_t> jpeg;
    if (EncodeJpegToMemory(Bitmap, p, jpeg, 1 << 20)) Entry.CachedThumbnail = std::move(jpeg);
  }
  Out = loaded.Detach();
}

}  // namespace

void MakeListThumbnail(TICCImgInfo &Bitmap, TImageProbe &Entry, const TListThumbnailOptions &Options) {
  Bitmap = TICCImgInfo{};
  const uint32_t side = ListThumbnailSide(Options.ThumbnailSize);
  // 1. The Exif thumbnail of a file, at the smallest list size.
  if (Entry.FThumbnailPos > 0 && Entry.FThumbnailSize > 0 && !Options.IgnoreEmbeddedThumbnail && side == 160 &&
      !Entry.FIsArchive) {
    std::vector<uint8_t> thumb;
    if (ReadFileRange(Entry.FPath, size_t(Entry.FThumbnailPos), Entry.FThumbnailSize, thumb)) {
      try {
        TICCImgOwner loaded;
        bool inverted = false;
        LoadJPEGFromMemory(thumb.data(), thumb.size(), *loaded, false, 1, Options.Formats.JPEG.DCTMethod, &inverted);
        ConvertCMYK(*loaded, nullptr, inverted);
        ToMonitor(*loaded, Options.MonitorTransform);
        Bitmap = loaded.Detach();
        return;
      } catch (const std::exception &) {
        // A damaged thumbnail: decode the picture instead.
      }
    }
  }
  // 2. A thumbnail made before.
  if (!Entry.CachedThumbnail.empty()) {
    try {
      LoadJPEGFromMemory(Entry.CachedThumbnail.data(), Entry.CachedThumbnail.size(), Bitmap, false, 1,
                         Options.Formats.JPEG.DCTMethod);
      return;
    } catch (const std::exception &) {
      Entry.CachedThumbnail.clear();
    }
  }
  // 3. A reduced decode of the picture, cached when it had to be shrunk.
  try {
    DecodeListThumbnail(Bitmap, Entry, Options, side);
  } catch (const std::exception &e) {
    throw ETessivoError(LOAD_FAILED_MSG, e.what());
  }
}
