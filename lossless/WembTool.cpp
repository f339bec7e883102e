// The console tool's flow for one file.
#include "lossless/WembTool.h"

#include "core/Errors.h"
#include "core/MultiThread.h"
#include "core/PixelConvert.h"
#include "core/ProgramFolder.h"
#include "core/TempFile.h"
#include "lossless/ICCRevision.h"
#include "effects/AddTextEffect.h"
#include "effects/SizeValues.h"
#include "io/ExifReader.h"
#include "io/ImageProbe.h"
#include "io/JpegSegment.h"
#include "resample/Filter.h"
#include "resample/Resize.h"
#include "resample/Weight.h"
#include "resample/WeightedMean.h"
#include "wemb/WembApi.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace fs = std::filesystem;

namespace {

using TBytes = std::vector<uint8_t>;

intptr_t AppendToBytes(void *Stream, const void *Bytes, intptr_t Count) {
  auto *out = static_cast<TBytes *>(Stream);
  const auto *p = static_cast<const uint8_t *>(Bytes);
  out->insert(out->end(), p, p + Count);
  return Count;
}

std::optional<TBytes> ReadWholeFile(const std::string &Path) {
  std::ifstream f(Path, std::ios::binary | std::ios::ate);
  if (!f) return std::nullopt;
  const std::streamoff size = f.tellg();
  if (size < 0) return std::nullopt;
  TBytes bytes(static_cast<size_t>(size));
  f.seekg(0);
  if (!f.read(reinterpret_cast<char *>(bytes.data()), size)) return std::nullopt;
  return bytes;
}

// Writes a file through a temporary file in its folder (created when missing),
// so that a failed write leaves no partial file and an existing one intact.
void WriteWholeFile(const std::string &Path, std::span<const uint8_t> Bytes) {
  TOutputFile out(Path);
  out.Write(Bytes);
  out.Commit();
}

bool SameExifInfo(const TExifInfo &A, const TExifInfo &B) {
  auto same = [](const TRational &X, const TRational &Y) { return X.UValue == Y.UValue && X.DValue == Y.DValue; };
  auto same2 = [&](const TRational_X2 &X, const TRational_X2 &Y) { return same(X.X, Y.X) && same(X.Y, Y.Y); };
  return A.Flags == B.Flags && A.Orientation == B.Orientation && same2(A.WhitePoint, B.WhitePoint) &&
         same2(A.PCRed, B.PCRed) && same2(A.PCGreen, B.PCGreen) && same2(A.PCBlue, B.PCBlue) &&
         A.ColorSpace == B.ColorSpace && same(A.Gamma, B.Gamma);
}

// The library reports through a plain function; it forwards to the message
// function of the run in progress (one per process).
const TWembMessage *GMessage = nullptr;
void ForwardLibraryMessage(const char *, const char *Text) {
  if (GMessage) (*GMessage)(Text);
}

// One losslesstran call on the current stream; the library has already said why when it fails.
bool Transform(TBytes &Jpeg, const TWembRect *Crop, int32_t Code, int32_t Flags) {
  TBytes out;
  // Room for a result a little larger than the source, so that the stream
  // is not copied over and over while it grows.
  out.reserve(Jpeg.size() + Jpeg.size() / 8 + 65536);
  const int ok = losslesstran(Jpeg.data(), uint32_t(Jpeg.size()), Crop ? Crop->Width : 0, Crop ? Crop->Height : 0,
                              Crop ? Crop->X : 0, Crop ? Crop->Y : 0, Code, &out, Flags);
  if (!ok) return false;
  Jpeg = std::move(out);
  return true;
}

// A picture decoded by read_jpeg, released with it.
struct TDecoded {
  TWembImage Img{};
  TDecoded() = default;
  TDecoded(const TDecoded &) = delete;
  TDecoded &operator=(const TDecoded &) = delete;
  ~TDecoded() {
    if (Img.Mem) munmap(Img.Mem, size_t(Img.Bpl) * Img.Height);
  }
  bool Decode(const TBytes &Jpeg, int32_t Scale) {
    Img.Scale = Scale;
    return read_jpeg(&Img, Jpeg.data(), uint32_t(Jpeg.size())) != 0;
  }
};

// Every pixel of the decoded picture has equal red, green and blue.
bool DecodesAsGray(const TBytes &Jpeg) {
  TDecoded d;
  if (!d.Decode(Jpeg, 1)) return false;
  const TWembImage &img = d.Img;
  if (img.Channels != 3) return img.Channels == 1;
  for (uint32_t y = 0; y < img.Height; ++y) {
    const uint8_t *row = img.Mem + size_t(y) * img.Bpl;
    for (uint32_t x = 0; x < img.Width; ++x, row += 3)
      if (row[0] != row[1] || row[1] != row[2]) return false;
  }
  return true;
}

// An 8-bit image record holding a copy of a decoded picture (both keep
// their rows bottom-up), for the engines that work on image records.
void CopyToImgInfo(const TWembImage &From, TICCImgInfo &To) {
  To.Width = From.Width;
  To.Height = From.Height;
  To.Channels = From.Channels;
  To.BPP = BPP_8;
  To.PixelFormat = From.Channels == 1 ? PIXFMT_GRAY : From.Channels == 4 ? PIXFMT_CMYK : PIXFMT_BGR;
  To.Bpl = GetAlignedBpl(From.Width, From.Channels);
  To.Mem = AllocPixelBlock(To.Bpl, From.Height);
  for (uint32_t r = 0; r < From.Height; ++r)
    std::memcpy(ScanLine(To, r), From.Mem + size_t(r) * From.Bpl, size_t(From.Width) * From.Channels);
}

TWembImage ViewOf(const TICCImgInfo &Img) {
  return {Img.Mem, Img.Width, Img.Height, Img.Bpl, Img.Channels, 1};
}

// The engines of the text and thumbnail steps, made on first use, so that
// runs without those steps never load the resampling library. Text is
// shrunk from its 4x drawing with Mitchell-Netravali (B = C = 1/3) and
// thumbnails with Lanczos-3, both on the floating-point path and one thread.
class TWembEngines {
public:
  TResizer &Antialiasing() {
    Load();
    if (!FAntialiasing) FAntialiasing = BothWays(RESIZE_BICUBIC, new TMitchellNetravali(1.0 / 3, 1.0 / 3));
    return *FAntialiasing;
  }
  TResizer &Thumbnail() {
    Load();
    if (!FThumbnail) FThumbnail = BothWays(RESIZE_LANCZOS, CreateWeightSetter(RESIZE_LANCZOS, 3).Setter);
    return *FThumbnail;
  }
  TGaussianBlur &Blur() {
    Load();
    if (!FBlur) FBlur = std::make_unique<TGaussianBlur>();
    return *FBlur;
  }

private:
  static void Load() {
    if (!ResizeLibrary()) LoadResizeLibrary(ProgramFolder());
  }
  // One setter for both directions: the resizer holds two references.
  static std::unique_ptr<TResizer> BothWays(uint32_t Mode, TWeightSetter *Setter) {
    Setter->AddRef();
    return std::make_unique<TResizer>(Mode, Setter, LongFalse, Mode, Setter, LongFalse, SIMD_MODE_FLOAT, false, 1);
  }
  std::unique_ptr<TResizer> FAntialiasing, FThumbnail;
  std::unique_ptr<TGaussianBlur> FBlur;
};

// A 0x00BBGGRR colour as the gray of its luminance in every byte, for
// drawing on a gray picture.
int32_t GrayOf(int32_t Color) {
  const uint32_t c = uint32_t(Color);
  const uint32_t r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
  const uint32_t y = (r * 19595 + g * 38470 + b * 7471 + 32768) >> 16;
  return int32_t(y * 0x010101u);
}

// Step 15: the text drawn on the decoded picture, the picture encoded again
// with the file's own tables, and only the MCUs whose pixels changed taken
// from it; every other MCU keeps its coefficients. False with a message when
// a step fails; a text that changes no pixel leaves the file as it is.
bool DrawText(TBytes &Jpeg, const TWembParam &Param, double Captured, const std::string &Input,
              const std::string &Output, TWembEngines &Engines, const TWembMessage &Message) {
  TWembJpegInfo info{};
  if (!read_jpeginfo(&info, Jpeg.data(), uint32_t(Jpeg.size()))) return false;
  if (info.ICCProfile) munmap(info.ICCProfile, info.ICCLength);
  if (info.ColorSpace == WEMB_CS_CMYK) return true;  // no text on CMYK pictures
  TDecoded src;
  if (!src.Decode(Jpeg, 1)) return false;
  TICCImgOwner drawn(false);
  CopyToImgInfo(src.Img, *drawn);

  TAddTextEffect text;
  text.FText = Param.Text;
  text.FFont = Param.Font;
  text.FParam = Param.TextParam;
  if (src.Img.Channels == 1) {
    TAddTextParam &p = text.FParam;
    text.FFont.Color = uint32_t(GrayOf(int32_t(text.FFont.Color)));
    p.BackColor = GrayOf(p.BackColor);
    p.ShadowColor = GrayOf(p.ShadowColor);
    p.GlowColor = GrayOf(p.GlowColor);
  }
  TEffectParams params;
  params.Antialiasing = &Engines.Antialiasing();
  params.GaussianBlur = &Engines.Blur();
  params.InFileName = Input;
  params.OutFileName = Output;
  params.Time = Captured;
  text.DoEffect(*drawn, params);
  if (params.FontCache)
    for (const std::string &notice : params.FontCache->TakeNotices()) Message(notice);
  if (drawn->BPP != BPP_8 || drawn->Channels != src.Img.Channels) throw ETessivoError("the text step changed the picture's layout");

  // Mark every MCU in which any byte changed.
  const uint32_t w = src.Img.Width, h = src.Img.Height, ch = src.Img.Channels;
  const uint32_t cellW = uint32_t(info.MCUWidth) * 8, cellH = uint32_t(info.MCUHeight) * 8;
  const uint32_t mapW = (w + cellW - 1) / cellW, mapH = (h + cellH - 1) / cellH;
  std::vector<uint8_t> map(size_t(mapW) * mapH, 0);
  bool changed = false;
  for (uint32_t r = 0; r < h; ++r) {
    const uint8_t *a = src.Img.Mem + size_t(r) * src.Img.Bpl, *b = ScanLine(*drawn, r);
    uint8_t *marks = map.data() + size_t((h - 1 - r) / cellH) * mapW;
    for (uint32_t m = 0; m < mapW; ++m) {
      if (marks[m]) continue;
      const size_t from = size_t(m) * cellW * ch, len = size_t(std::min(cellW, w - m * cellW)) * ch;
      if (std::memcmp(a + from, b + from, len) != 0) marks[m] = 1, changed = true;
    }
  }
  if (!changed) return true;

  const TWembImage view = ViewOf(*drawn);
  TBytes encoded, merged;
  if (!write_jpeg(&view, &encoded, Jpeg.data(), uint32_t(Jpeg.size()))) return false;
  if (!marge_jpeg(Jpeg.data(), uint32_t(Jpeg.size()), encoded.data(), uint32_t(encoded.size()), &merged, map.data()))
    return false;
  Jpeg = std::move(merged);
  return true;
}

// The longest side of a new Exif thumbnail.
constexpr uint32_t ThumbnailSide = 160;

// Step 17's thumbnail: the current file decoded at a reduced size, brought
// to ThumbnailSide with Lanczos-3, encoded by write_thumbnail at the
// quality the Exif writer asks (it tries lower ones until the old space
// holds it). Made once, on the first request.
class TThumbnailMaker {
public:
  TThumbnailMaker(const TBytes &Jpeg, TWembEngines &Engines) : FJpeg(Jpeg), FEngines(Engines) {}
  std::vector<uint8_t> Encode(int32_t Quality) {
    if (!FTried) Make();
    if (!FPixels->Mem) return {};
    const TWembImage view = ViewOf(*FPixels);
    TBytes out;
    if (!write_thumbnail(&view, &out, Quality)) return {};
    return out;
  }

private:
  void Make() {
    FTried = true;
    TWembJpegInfo info{};
    if (!read_jpeginfo(&info, FJpeg.data(), uint32_t(FJpeg.size()))) return;
    if (info.ICCProfile) munmap(info.ICCProfile, info.ICCLength);
    if (info.ColorSpace == WEMB_CS_CMYK) return;  // a CMYK thumbnail would not show: the old one stays
    const int32_t side = std::max(info.Width, info.Height);
    TDecoded d;
    if (!d.Decode(FJpeg, side > 1279 ? 8 : side > 639 ? 4 : 1)) return;
    TICCImgOwner src(false);
    CopyToImgInfo(d.Img, *src);
    const uint32_t w = src->Width, h = src->Height, longSide = std::max(w, h);
    if (longSide <= ThumbnailSide) {
      *FPixels = src.Detach();
      return;
    }
    const uint32_t tw = std::max<uint32_t>(1, uint32_t((uint64_t(w) * ThumbnailSide + longSide / 2) / longSide));
    const uint32_t th = std::max<uint32_t>(1, uint32_t((uint64_t(h) * ThumbnailSide + longSide / 2) / longSide));
    TICCImgInfo &t = *FPixels;
    FEngines.Thumbnail().ResizeImage(*src, t, nullptr, false, false, th, tw);
    t.PixelFormat = src->PixelFormat;
    ConvertTo8Bit(t, false);
  }
  const TBytes &FJpeg;
  TWembEngines &FEngines;
  bool FTried = false;
  TICCImgOwner FPixels{false};
};

// The file's last-write time as days since 30 December 1899, local time; 0
// when it cannot be read.
double LastWriteTime(const std::string &Path) {
  struct stat st {};
  if (stat(Path.c_str(), &st) != 0) return 0;
  return UnixToLocalDateTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

}  // namespace

bool WembTrimRect(const TWembParam &Param, int32_t W, int32_t H, TWembRect &Rect) {
  TValueSet q;
  try {
    // Condition 0: portrait pictures (width < height) take the last four values.
    q = EvaluateValueSet(Param.TrimValues, 0, W, H);
  } catch (const std::exception &) {
    return false;
  }
  int32_t v[4];
  for (size_t i = 0; i < 4; ++i) v[i] = RoundSize(q[i]);
  switch (Param.TrimType) {
    case 0: {
      const int32_t x = std::clamp(v[0], 0, W), y = std::clamp(v[1], 0, H);
      Rect = {x, y, std::min(v[2], W - x), std::min(v[3], H - y)};
      break;
    }
    case 1: Rect = {v[0], v[1], W - v[0] - v[2], H - v[1] - v[3]}; break;
    case 2: {
      const int32_t left = RoundSize(W * q[0] / 100.0), top = RoundSize(H * q[1] / 100.0);
      Rect = {left, top, W - left - RoundSize(W * q[2] / 100.0), H - top - RoundSize(H * q[3] / 100.0)};
      break;
    }
    case 3: {
      if (q[0] <= 0 || q[1] <= 0) return false;
      // The largest rectangle of ratio value1 : value2 inside the picture.
      int32_t w = W, h = RoundSize(W * q[1] / q[0]);
      if (h > H) {
        h = H;
        w = RoundSize(H * q[0] / q[1]);
      }
      Rect = {RoundSize((W - w) * q[2] / 100.0), RoundSize((H - h) * q[3] / 100.0), w, h};
      break;
    }
    default: return false;
  }
  return true;
}

int32_t WembRotationTransform(int32_t Rotation, int32_t ExifOrientation) {
  switch (Rotation) {
    case 1: return ExifOrientation >= 1 && ExifOrientation <= 8 ? ExifOrientation : 0;
    case 2: return 6;
    case 3: return 3;
    case 4: return 8;
    case 5: return 2;
    case 6: return 4;
    default: return 0;
  }
}

bool RunWembTool(const TWembParam &Param, const std::string &Input, const std::string &Output,
                 const TWembMessage &Message) {
  const TWembOption &o = Param.Option;
  GMessage = &Message;
  init_jpegtran(AppendToBytes, ForwardLibraryMessage);
  // 2: the input must be a JPEG whose header the library reads.
  std::optional<TBytes> file = ReadWholeFile(Input);
  if (!file) {
    Message("cannot read the file");
    return false;
  }
  TBytes jpeg = std::move(*file);
  if (!TExifReader::IsJPEGImage(jpeg)) {
    Message("not a JPEG file");
    return false;
  }
  TWembJpegInfo info{};
  if (!read_jpeginfo(&info, jpeg.data(), uint32_t(jpeg.size()))) return false;
  TBytes profile;
  if (info.ICCProfile) {
    profile.assign(info.ICCProfile, info.ICCProfile + info.ICCLength);
    munmap(info.ICCProfile, info.ICCLength);
  }
  bool profileChanged = false;

  // 3: trimming rectangle.
  TWembRect trim;
  const bool trimming = o.Trimming && WembTrimRect(Param, info.Width, info.Height, trim);

  // 4: Exif.
  TExifReader exif;
  std::optional<TBytes> exifStream = TExifReader::GetExifStream(jpeg);
  if (exifStream) exif.SetStream(*exifStream);
  TExifInfo sourceInfo, workInfo;
  double captured = 0;
  if (!exif.ReadExifInfo(sourceInfo, captured) && exif.FHasExif) {
    Message("the Exif block is damaged");
    return false;
  }
  workInfo = sourceInfo;
  bool exifImported = false;

  // 5, 6: exports.
  if (o.ExifExport && exif.FHasExif) {
    TBytes out{0xFF, 0xD8, 0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    const size_t len = exif.FStream.size() + 8;
    if (len > 0xFFFF) {
      Message("the Exif block is too large to export");
    } else {
      out[4] = uint8_t(len >> 8);
      out[5] = uint8_t(len);
      out.insert(out.end(), exif.FStream.begin(), exif.FStream.end());
      out.insert(out.end(), {0xFF, 0xD9});
      WriteWholeFile(ExpandWembName(o.ExifExportName, Input), out);
    }
  }
  if (o.ICCExport && !profile.empty()) WriteWholeFile(ExpandWembName(o.ICCExportName, Input), profile);

  // 7: Exif import.
  if (o.ExifImport) {
    if (std::optional<TBytes> imported = ReadWholeFile(ExpandWembName(o.ExifImportName, Input))) {
      if (std::optional<TBytes> stream = TExifReader::GetExifStream(*imported); stream && exif.SetStream(*stream)) {
        exif.ReadExifInfo(sourceInfo, captured);
        workInfo = sourceInfo;
        exifImported = true;
      }
    }
  }

  // 8: the date the text overlay shows.
  if (captured == 0) captured = LastWriteTime(Input);

  // 9: grayscale decision.
  bool grayPending = false;
  if (info.ColorSpace == WEMB_CS_YCBCR &&
      (o.Grayscale == 1 || (o.Grayscale == 2 && DecodesAsGray(jpeg)))) {
    grayPending = true;
    profile.clear();
    profileChanged = true;
    info.ColorSpace = WEMB_CS_GRAY;
  }

  // 10: ICC import.
  if (o.ICCImport) {
    if (std::optional<TBytes> icc = ReadWholeFile(ExpandWembName(o.ICCImportName, Input)); icc && !icc->empty()) {
      profile = std::move(*icc);
      profileChanged = true;
    }
  }

  // 11: crop.
  if (trimming && trim.Width > 0 && trim.Height > 0 &&
      !(trim.X == 0 && trim.Y == 0 && trim.Width == info.Width && trim.Height == info.Height)) {
    if (!Transform(jpeg, &trim, 1, grayPending ? WEMB_GRAYSCALE : 0)) return false;
    grayPending = false;
  } else if (trimming && (trim.Width < 1 || trim.Height < 1)) {
    Message("the trimming rectangle is empty");
    return false;
  }

  // 12, 13: rotation and the orientation written.
  int32_t code = WembRotationTransform(o.Rotation, (workInfo.Flags & EXIFINFO_ORIENTATION) ? workInfo.Orientation : 0);
  if (o.Rotation == 1 && code != 0) {
    workInfo.Orientation = 1;
    workInfo.Flags |= EXIFINFO_ORIENTATION;
  }
  if (code >= 2 && code <= 8) {
    if (!Transform(jpeg, nullptr, code, grayPending ? WEMB_GRAYSCALE : 0)) return false;
    grayPending = false;
  }
  if (o.ExifOrientation >= 1 && o.ExifOrientation <= 8) {
    workInfo.Orientation = o.ExifOrientation;
    workInfo.Flags |= EXIFINFO_ORIENTATION;
  }
  // 14: grayscale when nothing else ran.
  if (grayPending && !Transform(jpeg, nullptr, 1, WEMB_GRAYSCALE)) return false;

  // 15: text overlay.
  TWembEngines engines;
  if (o.AddText && !Param.Text.empty()) {
    try {
      if (!DrawText(jpeg, Param, captured, Input, Output, engines, Message)) return false;
    } catch (const std::exception &e) {
      Message(std::string("text: ") + e.what());
      return false;
    }
  }

  // 16: optimisation.
  if (o.OptimizeMode == 1 || o.OptimizeMode == 2) {
    if (!Transform(jpeg, nullptr, 1, o.OptimizeMode == 1 ? WEMB_OPTIMIZE : WEMB_OPTIMIZE | WEMB_PROGRESSIVE))
      return false;
  } else if (o.OptimizeMode == 3) {
    TBytes optimized = jpeg, progressive = jpeg;
    if (!Transform(optimized, nullptr, 1, WEMB_OPTIMIZE)) return false;
    if (!Transform(progressive, nullptr, 1, WEMB_OPTIMIZE | WEMB_PROGRESSIVE)) return false;
    if (progressive.size() < optimized.size() && progressive.size() < jpeg.size()) jpeg = std::move(progressive);
    else if (optimized.size() < progressive.size() && optimized.size() < jpeg.size()) jpeg = std::move(optimized);
  }

  // 17: Exif rewrite.
  std::optional<TBytes> newExif;
  std::optional<TThumbnailMaker> thumbnail;
  const bool exifChanged = !SameExifInfo(workInfo, sourceInfo);
  if (exifChanged || o.DeleteGPSInfoIFD || o.DeleteMakerNote || o.DeleteExifThumbnail || o.UpdateExifThumbnail) {
    TExifWriteOptions w;
    w.DeleteGPSInfo = o.DeleteGPSInfoIFD != 0;
    w.DeleteThumbnail = o.DeleteExifThumbnail != 0;
    w.UpdateThumbnail = o.UpdateExifThumbnail && !o.DeleteExifThumbnail;
    thumbnail.emplace(jpeg, engines);
    w.EncodeThumbnail = [&](int32_t Quality) { return thumbnail->Encode(Quality); };
    try {
      if (o.DeleteMakerNote) newExif = exif.WriteExifInfoWithoutMakerNote(workInfo, w);
      else if (workInfo.Flags != sourceInfo.Flags || o.DeleteGPSInfoIFD || o.DeleteExifThumbnail)
        newExif = exif.WriteExifInfo(workInfo, w);
      else newExif = exif.OverWriteExifInfo(workInfo, w);
    } catch (const std::exception &e) {
      Message(std::string("Exif: ") + e.what());
      return false;
    }
  } else if (exifImported) {
    newExif = exif.FStream;
  }

  // 18: the step folded into the profile's tone curves (not for CMYK).
  if (o.ICCProfileRevision == 1 || o.ICCProfileRevision == 2) {
    TWembJpegInfo now{};
    if (!read_jpeginfo(&now, jpeg.data(), uint32_t(jpeg.size()))) return false;
    if (now.ICCProfile) munmap(now.ICCProfile, now.ICCLength);
    if (now.ColorSpace != WEMB_CS_CMYK) {
      std::optional<TBytes> revised = ReviseICCProfile(profile, now.ColorSpace == WEMB_CS_GRAY,
                                                       WembRevisionCurves(Param, o.ICCProfileRevision));
      if (!revised) {
        Message("the ICC profile cannot be revised");
        return false;
      }
      profile = std::move(*revised);
      profileChanged = true;
    }
  }

  // 19: profile and Exif into the file, then the segment list.
  if (profileChanged || newExif) {
    std::optional<TBytes> replaced = ReplaceICCAndExif(jpeg, profile.empty() ? nullptr : profile.data(),
                                                       profile.size(), newExif ? newExif->data() : nullptr,
                                                       newExif ? newExif->size() : 0);
    if (!replaced) {
      Message("the segments cannot be rewritten");
      return false;
    }
    jpeg = std::move(*replaced);
  }
  if (!Param.Segments.empty()) {
    std::vector<TSegmentInfo> list = Param.Segments;
    for (TSegmentInfo &s : list)
      if (s.Marker == JPEG_COM) s.Header.clear();  // a COM entry matches every comment
    if (!DeleteSegments(jpeg, list, o.SegmentDeleteMode == 0)) {
      Message("the segments cannot be read");
      return false;
    }
  }

  // 20: the output.
  WriteWholeFile(Output, jpeg);
  return true;
}
