// The JPEG writer with the file-size search, and the JPEG copy without
// recompression that rewrites only the header segments.
#include "io/SavePicture.h"

#include "color/ICCUtil.h"
#include "core/Errors.h"
#include "core/PixelConvert.h"
#include "core/TempFile.h"
#include "io/ExifReader.h"
#include "io/JpegSegment.h"
#include "io/Pixio.h"
#include "io/SaveInternal.h"
#include "pixio/ExifTiff.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace saving;

namespace {

void SamplingOf(int32_t SampleType, int32_t &H, int32_t &V) {
  switch (SampleType) {
    case 0: H = 2, V = 2; break;
    case 2: H = 1, V = 1; break;
    case 3: H = 4, V = 1; break;
    default: H = 2, V = 1; break;
  }
}

bool UsableTable(const uint16_t *T) {
  return std::all_of(T, T + 64, [](uint16_t v) { return v >= 1 && v <= 32767; });
}

// The image as the JPEG encoder takes it, the Exif to write and the record
// fields that stay the same across the attempts of a size search.
struct TJPEGPlan {
  const TFormatOptions *Opt = nullptr;
  std::vector<uint8_t> Exif;
  TPixioEncode Base{};
};

TJPEGPlan PrepareJPEG(TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  const TSaveContext &ctx = *Job.Context;
  // JPEG keeps no alpha: it goes onto the background (the loader usually did this already).
  if (Img.Channels == 2 || (Img.Channels == 4 && Img.PixelFormat != PIXFMT_CMYK))
    FlattenAlpha(Img, ctx.Formats.Background, BackgroundColorInto(ctx.ColorTransform));
  TJPEGPlan plan;
  plan.Opt = &Opt;
  plan.Exif = ExifPayloadOf(Img, Job);
  if (Img.BPP == BPP_14 && Img.Channels == 3 && GetDitherOption() == DITHER_NONE) {
    ConvertBGR14ToYCC8(Img);
    Img.BPP = BPP_8;
    Img.PixelFormat = PIXFMT_YCC;
  } else {
    ConvertTo8Bit(Img, true);
  }
  TPixioEncode &e = plan.Base;
  e = BaseRecord(Img, Job);
  e.BitsPerSample = 8;
  if (Img.PixelFormat == PIXFMT_YCC) e.Flags |= PIXIO_FLAG_YCBCR_INPUT;
  if (!plan.Exif.empty() && Opt.JPEG.OmitAPP0Marker) e.Flags |= PIXIO_FLAG_OMIT_APP0;
  e.DCTMethod = Opt.JPEG.DCTMethod == 1 ? 2 : 0;
  if (Opt.Metadata.KeepResolution) {
    int32_t x, y;
    ResolutionToDPI(Job.RInfo, x, y);
    if (x > 1 && y > 1 && x <= 65535 && y <= 65535) {
      e.XDensity = uint32_t(x), e.YDensity = uint32_t(y), e.DensityUnit = 1;
    } else {
      e.XDensity = e.YDensity = 1, e.DensityUnit = 0;
    }
  } else {
    const uint32_t dpi = uint32_t(std::clamp(Opt.Metadata.Resolution, 1, 65535));
    e.XDensity = e.YDensity = dpi, e.DensityUnit = 1;
  }
  if (Img.Marker && Img.MarkerCount) {
    e.Marker = Img.Marker;
    e.MarkerCount = Img.MarkerCount;
    e.MarkerSize = uint32_t(ExtraMarkerSize(Img.Marker, Img.MarkerCount));
  }
  e.Progressive = Opt.JPEG.Progressive ? 1 : 0;
  return plan;
}

// The record of one attempt: quality, sampling, smoothing and the tables
// (the source's own when kept, else the registered ones while allowed).
TPixioEncode AttemptRecord(const TJPEGPlan &Plan, const TICCImgInfo &Img, int32_t Quality, int32_t SampleType,
                           int32_t Smoothing, bool AllowTables, bool &UsedTables) {
  const TFormatOptions &Opt = *Plan.Opt;
  TPixioEncode e = Plan.Base;
  e.Quality = std::clamp(Quality, 0, 100);
  SamplingOf(SampleType, e.HSamp, e.VSamp);
  e.Smoothing = std::clamp(Smoothing, 0, 100);
  UsedTables = false;
  if (!AllowTables) return e;
  const uint32_t comps = std::min<uint32_t>(Img.Channels, 3);
  if (Img.HasJPEGQualityInfo) {
    const TJPEGQualityInfo &q = Img.JPEGQualityInfo;
    if (q.QTCount < 1 || q.QTCount > 3) return e;
    for (int t = 0; t < q.QTCount; ++t)
      if (!UsableTable(q.QT[t])) return e;
    for (uint32_t c = 0; c < comps; ++c)
      if (q.CompInfo[c][1] < 0 || q.CompInfo[c][1] >= q.QTCount) return e;
    e.QTCount = q.QTCount;
    e.QTChannels = int32_t(comps);
    for (uint32_t c = 0; c < comps; ++c) e.QTIndex[c] = q.CompInfo[c][1];
    for (int t = 0; t < q.QTCount; ++t)
      for (int k = 0; k < 64; ++k) e.QT[t][k] = q.QT[t][k];
    if (q.HSamp >= 1 && q.HSamp <= 4 && q.VSamp >= 1 && q.VSamp <= 4) e.HSamp = q.HSamp, e.VSamp = q.VSamp;
  } else if (Opt.JPEG.UseQuantizationTable) {
    if (!UsableTable(Opt.JPEG.LumaQT) || (comps > 1 && !UsableTable(Opt.JPEG.ChromaQT))) return e;
    e.QTCount = comps > 1 ? 2 : 1;
    e.QTChannels = int32_t(comps);
    e.QTIndex[0] = 0, e.QTIndex[1] = 1, e.QTIndex[2] = 1;
    for (int k = 0; k < 64; ++k) {
      e.QT[0][k] = Opt.JPEG.LumaQT[k];
      e.QT[1][k] = Opt.JPEG.ChromaQT[k];
    }
  } else {
    return e;
  }
  e.Flags |= PIXIO_FLAG_EXPLICIT_TABLES;
  UsedTables = true;
  return e;
}

const uint8_t *ExifData(const TJPEGPlan &Plan) { return Plan.Exif.empty() ? nullptr : Plan.Exif.data(); }

void WriteJPEGRecord(const std::string &FileName, const TJPEGPlan &Plan, const TPixioEncode &Record,
                     TCommitRule *Rule) {
  auto write = Entry(Codec().write_jpeg, "write_jpeg");
  TOutputFile out(FileName, Rule);
  TLibraryMessageCapture capture;
  if (!write(&Record, out.Fd(), ExifData(Plan), uint32_t(Plan.Exif.size())))
    SaveFailed("JPEG", FileName, capture.Text());
  out.Commit();
}

bool EncodeToMemory(const TJPEGPlan &Plan, const TPixioEncode &Record, uint8_t *Buffer, uint32_t Capacity,
                    uint32_t &Length) {
  auto write = Entry(Codec().write_jpeg_to_memory, "write_jpeg_to_memory");
  Length = Capacity;
  // Not fitting is an answer of the size search, not a failure to report.
  TLibraryMessageCapture capture;
  const bool Fits = write(&Record, Buffer, &Length, ExifData(Plan), uint32_t(Plan.Exif.size())) != 0;
  capture.Discard();
  return Fits;
}

}  // namespace

void SaveJPEGFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job, int32_t Quality,
                  int32_t SampleType, int32_t Smoothing) {
  CheckImage(Img, FileName);
  const TJPEGPlan plan = PrepareJPEG(Img, Job);
  bool tables;
  const TPixioEncode rec = AttemptRecord(plan, Img, Quality, SampleType, Smoothing, true, tables);
  WriteJPEGRecord(FileName, plan, rec, CommitRuleOf(Job));
}

bool SaveJPEGToMemory(TICCImgInfo &Img, const TSaveJob &Job, int32_t Quality, int32_t SampleType, int32_t Smoothing,
                      bool AllowTables, uint8_t *Buffer, uint32_t Capacity, uint32_t &Length) {
  if (!Img.Mem) throw ETessivoError("保存する画像がありません");
  const TJPEGPlan plan = PrepareJPEG(Img, Job);
  bool tables;
  const TPixioEncode rec = AttemptRecord(plan, Img, Quality, SampleType, Smoothing, AllowTables, tables);
  return EncodeToMemory(plan, rec, Buffer, Capacity, Length);
}

void SaveJPEGFileWithSizeLimit(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  CheckImage(Img, FileName);
  const TSaveContext &ctx = *Job.Context;
  const TJPEGPlan plan = PrepareJPEG(Img, Job);
  const uint32_t capacity = uint32_t(std::clamp<int64_t>(int64_t(Opt.JPEG.FileSizeLimit) * 1024, 1024, 0x7FFFFC00));
  std::vector<uint8_t> buffer(capacity);
  int32_t q = std::clamp(Opt.JPEG.Quality, 0, 100);
  int32_t s = std::clamp(Opt.JPEG.SampleType, 0, 3);
  // A limit outside the four codes would never be met by the sampling steps
  // below and the search would cycle for ever; such a value reads as 4:2:0.
  const int32_t limit = Opt.JPEG.SampleTypeLimit >= 0 && Opt.JPEG.SampleTypeLimit <= 3
                            ? Opt.JPEG.SampleTypeLimit : 0;
  const int32_t qualityLimit = std::clamp(Opt.JPEG.QualityLimit, 0, 100);
  bool allowTables = true;
  for (;;) {
    bool used;
    TPixioEncode rec = AttemptRecord(plan, Img, q, s, Opt.JPEG.Smoothing, allowTables, used);
    uint32_t length = 0;
    const bool fitted = EncodeToMemory(plan, rec, buffer.data(), capacity, length);
    if (ctx.OnJPEGAttempt) ctx.OnJPEGAttempt({q, s, used, true, fitted});
    if (fitted) {
      if (length > capacity) SaveFailed("JPEG", FileName);
      TOutputFile out(FileName, ctx.Commit);
      out.Write({buffer.data(), length});
      out.Commit();
      return;
    }
    if (limit != 3 && s < limit) s = limit;
    if (s == limit) {
      if (qualityLimit >= q) {
        // Nothing fits: the file is written at the lowest quality allowed, over the limit.
        rec = AttemptRecord(plan, Img, q, s, Opt.JPEG.Smoothing, allowTables, used);
        if (ctx.OnJPEGAttempt) ctx.OnJPEGAttempt({q, s, used, false, false});
        WriteJPEGRecord(FileName, plan, rec, CommitRuleOf(Job));
        return;
      }
      --q;
      allowTables = false;
      continue;
    }
    switch (s) {
      case 2: s = 1; break;
      case 1: s = 0; break;
      case 0: s = 3; break;
      default: s = 0; break;
    }
  }
}

// ---------------------------------------------------------------------------
// JPEG copy without recompression

namespace {

bool SameFile(const std::string &A, const std::string &B) {
  if (A == B) return true;
  struct stat sa, sb;
  // On this system letter case matters, so two names are one file only when
  // the file system says so (which also covers case-insensitive mounts).
  return ::stat(A.c_str(), &sa) == 0 && ::stat(B.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void PutBE16(std::vector<uint8_t> &B, size_t At, uint32_t V) {
  B[At] = uint8_t(V >> 8), B[At + 1] = uint8_t(V);
}

// The 18-byte JFIF APP0 that stands in for a dropped Exif APP1.
std::vector<uint8_t> JfifSegment(uint32_t X, uint32_t Y) {
  std::vector<uint8_t> s{0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 1, 0, 0, 0, 0, 0, 0};
  PutBE16(s, 12, X);
  PutBE16(s, 14, Y);
  return s;
}

bool StartsWith(const uint8_t *P, size_t Len, std::string_view Head) {
  return Len >= Head.size() && std::memcmp(P, Head.data(), Head.size()) == 0;
}

}  // namespace

bool CopyJPEGWithoutRecompression(const std::vector<uint8_t> &Bytes, const std::string &InputPath,
                                  const std::string &OutputPath, const TImageProbe &Entry,
                                  const TResolutionInfo &RInfo, const TCopyOptions &Options) {
  const TFormatOptions &Opt = Options.Formats;
  (void)Entry;
  const size_t n = Bytes.size();
  if (n < 4 || Bytes[0] != 0xFF || Bytes[1] != 0xD8) throw ETessivoError("JPEGファイルではありません: " + InputPath);
  const uint32_t dpi = uint32_t(std::clamp(Opt.Metadata.Resolution, 1, 65535));
  std::vector<uint8_t> out{0xFF, 0xD8};
  out.reserve(n + 32);
  bool modified = false, sawAPP0 = false, complete = false;
  size_t pos = 2;
  while (pos + 4 <= n) {
    if (Bytes[pos] != 0xFF) break;  // not a marker: the file counts as unmodified
    const uint16_t marker = uint16_t(Bytes[pos] << 8 | Bytes[pos + 1]);
    // From the scan on, everything is copied as it is; so are stand-alone
    // markers that carry no length. Frame headers and tables are walked like
    // any segment: application segments (an ICC profile among them) may stand
    // after them, up to the scan.
    if (marker == 0xFFDA || (marker >= 0xFFD0 && marker <= 0xFFD9) || marker == 0xFF01) {
      out.insert(out.end(), Bytes.begin() + ptrdiff_t(pos), Bytes.end());
      complete = true;
      break;
    }
    const size_t len = size_t(Bytes[pos + 2]) << 8 | Bytes[pos + 3];
    if (len < 2 || pos + 2 + len > n) break;  // a segment past the end of the file
    const uint8_t *payload = Bytes.data() + pos + 4;
    const size_t plen = len - 2;
    std::vector<uint8_t> seg(Bytes.begin() + ptrdiff_t(pos), Bytes.begin() + ptrdiff_t(pos + 2 + len));
    bool keep = true;
    if (marker == 0xFFE0) {
      sawAPP0 = true;
      // "JFIF\0", version, unit, X density, Y density.
      if (!Opt.Metadata.KeepResolution && StartsWith(payload, plen, std::string_view("JFIF\0", 5)) && plen >= 12) {
        seg[4 + 7] = 1;
        PutBE16(seg, 4 + 8, dpi);
        PutBE16(seg, 4 + 10, dpi);
        modified = true;
      }
    } else if (marker == 0xFFE1 && StartsWith(payload, plen, "Exif")) {
      if (!Opt.JPEG.AddExifInfo) {
        keep = false;
        modified = true;
        if (!sawAPP0) {
          uint32_t x = dpi, y = dpi;
          if (Opt.Metadata.KeepResolution) {
            int32_t rx, ry;
            ResolutionToDPI(RInfo, rx, ry);
            if (rx > 1 && ry > 1) x = uint32_t(std::min(rx, 65535)), y = uint32_t(std::min(ry, 65535));
          }
          const auto jfif = JfifSegment(x, y);
          out.insert(out.end(), jfif.begin(), jfif.end());
          sawAPP0 = true;
        }
      } else if (Options.DeleteGPSInfoIFD) {
        try {
          if (BlankGPSInfo(std::span<uint8_t>(seg.data() + 4, plen))) modified = true;
        } catch (const EExifBroken &) {
          seg.assign(Bytes.begin() + ptrdiff_t(pos), Bytes.begin() + ptrdiff_t(pos + 2 + len));
        }
      }
    } else if (marker == 0xFFE2 && StartsWith(payload, plen, "ICC_PROFILE") && !Opt.Metadata.KeepICCProfile) {
      keep = false;
      modified = true;
    }
    if (keep) out.insert(out.end(), seg.begin(), seg.end());
    pos += 2 + len;
  }
  // A walk that did not reach the scan leaves the file as it is.
  if (!complete) modified = false;
  const bool samePath = SameFile(InputPath, OutputPath);
  if (!modified && samePath) return false;
  {
    TReadOnlyGuard readOnly(OutputPath);
    TOutputFile file(OutputPath, Options.Commit);
    if (modified) file.Write(out);
    else file.Write(Bytes);
    file.Commit();
  }
  if (Options.DeleteInputFile && !samePath) {
    if (Options.DeleteSource) Options.DeleteSource(InputPath);
    else ::unlink(InputPath.c_str());
  }
  return true;
}
