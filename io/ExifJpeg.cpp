// The carrier JPEG, thumbnail images (for Exif and for the TIFF and HD Photo
// savers) and the libjpeg encoder behind the JPEG ones.
#include "io/ExifJpeg.h"

#include "core/Errors.h"
#include "io/ExifReader.h"
#include "core/PixelConvert.h"
#include "resample/Resize.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>

namespace {

struct TErrorMgr {
  jpeg_error_mgr Pub;
  jmp_buf Jump;
};

void ErrorExit(j_common_ptr Info) { longjmp(reinterpret_cast<TErrorMgr *>(Info->err)->Jump, 1); }
void NoMessage(j_common_ptr) {}

}  // namespace

bool EncodeJpegToMemory(const TICCImgInfo &Img, const TJpegEncodeParams &P, std::vector<uint8_t> &Out, size_t Limit) {
  Out.clear();
  if (!Img.Mem || !Img.Width || !Img.Height || Img.BPP != BPP_8 || Img.Width > 65500 || Img.Height > 65500) return false;
  // volatile: both are read after the setjmp below.
  volatile J_COLOR_SPACE cs;
  volatile int comps;
  switch (Img.Channels) {
    case 1: cs = JCS_GRAYSCALE; comps = 1; break;
    case 3: cs = Img.PixelFormat == PIXFMT_YCC ? JCS_YCbCr : JCS_EXT_BGR; comps = 3; break;
    case 4: cs = JCS_EXT_BGRX; comps = 4; break;
    default: return false;
  }
  jpeg_compress_struct cinfo;
  TErrorMgr err;
  cinfo.err = jpeg_std_error(&err.Pub);
  err.Pub.error_exit = ErrorExit;
  err.Pub.output_message = NoMessage;
  unsigned char *buf = nullptr;
  unsigned long size = 0;
  // Everything below that longjmp can skip is plain C state released after the jump.
  if (setjmp(err.Jump)) {
    jpeg_destroy_compress(&cinfo);
    free(buf);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &buf, &size);
  cinfo.image_width = Img.Width;
  cinfo.image_height = Img.Height;
  cinfo.input_components = comps;
  cinfo.in_color_space = cs;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, std::clamp(P.Quality, 1, 100), TRUE);
  if (cinfo.num_components == 3) {
    cinfo.comp_info[0].h_samp_factor = std::clamp(P.HSamp, 1, 4);
    cinfo.comp_info[0].v_samp_factor = std::clamp(P.VSamp, 1, 4);
  }
  cinfo.write_JFIF_header = P.OmitAPP0 ? FALSE : TRUE;
  cinfo.density_unit = P.DensityUnit;
  cinfo.X_density = P.XDensity;
  cinfo.Y_density = P.YDensity;
  jpeg_start_compress(&cinfo, TRUE);
  if (P.App1 && P.App1Len) jpeg_write_marker(&cinfo, JPEG_APP0 + 1, P.App1, unsigned(P.App1Len));
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(PictureRow(Img, cinfo.next_scanline));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  const bool fits = size <= Limit;
  if (fits) Out.assign(buf, buf + size);
  free(buf);
  return fits;
}

namespace {

// Size of a thumbnail: the long side becomes 160, smaller images keep theirs.
void ThumbnailSize(uint32_t W, uint32_t H, uint32_t &TW, uint32_t &TH) {
  TW = W, TH = H;
  if (W <= 160 && H <= 160) return;
  TW = 160;
  TH = std::max<uint32_t>(1, uint32_t(std::lround(double(H) * 160 / W)));
  if (TH > 160) {
    TH = 160;
    TW = std::max<uint32_t>(1, uint32_t(std::lround(double(W) * 160 / H)));
  }
}

// Averages every source pixel into the destination pixel it falls on (8-bit).
// Row groups are counted from the picture's top row.
void BoxReduce(const TICCImgInfo &Src, TICCImgInfo &Dst, uint32_t TW, uint32_t TH, bool TopDown) {
  const uint32_t ch = Src.Channels;
  Dst = TICCImgInfo{};
  Dst.Width = TW, Dst.Height = TH, Dst.Channels = ch, Dst.BPP = BPP_8, Dst.PixelFormat = Src.PixelFormat;
  Dst.Bpl = GetAlignedBpl(TW, ch);
  Dst.Mem = AllocPixelBlock(Dst.Bpl, TH);
  const auto rowOf = [TopDown](const TICCImgInfo &Img, uint32_t Y) { return TopDown ? ScanLine(Img, Y) : PictureRow(Img, Y); };
  std::vector<uint64_t> sum(size_t(TW) * ch);
  std::vector<uint32_t> cnt(TW);
  for (uint32_t ty = 0; ty < TH; ++ty) {
    const uint32_t y0 = uint32_t(uint64_t(ty) * Src.Height / TH);
    const uint32_t y1 = std::max(y0 + 1, uint32_t(uint64_t(ty + 1) * Src.Height / TH));
    std::fill(sum.begin(), sum.end(), 0);
    std::fill(cnt.begin(), cnt.end(), 0);
    for (uint32_t y = y0; y < y1; ++y) {
      const uint8_t *row = rowOf(Src, y);
      for (uint32_t x = 0; x < Src.Width; ++x) {
        const uint32_t tx = uint32_t(uint64_t(x) * TW / Src.Width);
        for (uint32_t c = 0; c < ch; ++c) sum[size_t(tx) * ch + c] += row[size_t(x) * ch + c];
        ++cnt[tx];
      }
    }
    uint8_t *out = rowOf(Dst, ty);
    for (uint32_t tx = 0; tx < TW; ++tx)
      for (uint32_t c = 0; c < ch; ++c)
        out[size_t(tx) * ch + c] = uint8_t((sum[size_t(tx) * ch + c] + cnt[tx] / 2) / std::max<uint32_t>(cnt[tx], 1));
  }
}

}  // namespace

void MakeThumbnailImage(const TICCImgInfo &Source, TICCImgInfo &Thumbnail, TResizer *Resizer, TMultiThread *Pool,
                        bool TopDown) {
  Thumbnail = TICCImgInfo{};
  if (!Source.Mem || !Source.Width || !Source.Height || !Source.Channels || Source.Channels > 4) return;
  uint32_t w, h;
  ThumbnailSize(Source.Width, Source.Height, w, h);
  // The copy and the reductions carry no profile.
  TICCImgOwner copy;
  CopyICCImgInfo(Source, *copy, false);
  ConvertTo8Bit(*copy, false);
  if (w == Source.Width && h == Source.Height) {
    Thumbnail = copy.Detach();
    return;
  }
  if (Resizer && copy->PixelFormat != PIXFMT_YCC) {
    TICCImgOwner small;
    try {
      Resizer->ResizeImage(*copy, *small, Pool, false, copy->PixelFormat == PIXFMT_BGRA, h, w);
      small->PixelFormat = copy->PixelFormat;
      ConvertTo8Bit(*small, false);
      Thumbnail = small.Detach();
      return;
    } catch (const EOutOfMemory &) {
      throw;
    } catch (const std::exception &) {
      // A resizer that cannot take this layout: the box reduction below does.
    }
  }
  BoxReduce(*copy, Thumbnail, w, h, TopDown);
}

std::vector<uint8_t> MakeExifThumbnail(const TICCImgInfo &Src, TResizer *Resizer, TMultiThread *Pool,
                                       int32_t Quality, int32_t HSamp, int32_t VSamp, size_t Limit) {
  return MakeFittingExifThumbnail(Src, Resizer, Pool, Quality, Quality, 1, HSamp, VSamp, Limit);
}

std::vector<uint8_t> MakeFittingExifThumbnail(const TICCImgInfo &Src, TResizer *Resizer, TMultiThread *Pool,
                                              int32_t FirstQuality, int32_t LastQuality, int32_t Step,
                                              int32_t HSamp, int32_t VSamp, size_t Limit) {
  // Gray with alpha has no JPEG layout.
  if (Src.Channels == 2 || Step <= 0) return {};
  // The reduction is the costly part: it is made once and only the encode is
  // repeated for each quality.
  TICCImgOwner small;
  MakeThumbnailImage(Src, *small, Resizer, Pool);
  if (!small->Mem) return {};
  for (int32_t q = FirstQuality; q >= LastQuality; q -= Step) {
    TJpegEncodeParams p;
    p.Quality = q, p.HSamp = HSamp, p.VSamp = VSamp, p.OmitAPP0 = true;
    std::vector<uint8_t> out;
    if (EncodeJpegToMemory(*small, p, out, Limit)) return out;
  }
  return {};
}

bool MakeExifImage(const TImageProbe &Entry, uint8_t *&Dest, uint32_t &DestLen, uint32_t SrcLen, const uint8_t *Src) {
  Dest = nullptr;
  DestLen = 0;
  if (!Src || SrcLen == 0 || SrcLen > EXIF_MAX_PAYLOAD) return false;
  TICCImgOwner img;
  img->Width = img->Height = 8;
  img->Channels = 1;
  img->BPP = BPP_8;
  img->PixelFormat = PIXFMT_GRAY;
  img->Bpl = GetAlignedBpl(8, 1);
  img->Mem = AllocPixelBlock(img->Bpl, 8);
  TJpegEncodeParams p;
  p.Quality = 80, p.HSamp = 2, p.VSamp = 2, p.OmitAPP0 = false;
  p.App1 = Src, p.App1Len = SrcLen;
  // The JFIF densities carry the entry's resolution (units of the probe: 1 dpi, 2 dpcm).
  const double x = std::round(Entry.FXResolution), y = std::round(Entry.FYResolution);
  if ((Entry.FResolutionUnit == 1 || Entry.FResolutionUnit == 2) && x >= 1 && y >= 1 && x <= 65535 && y <= 65535)
    p.DensityUnit = uint8_t(Entry.FResolutionUnit), p.XDensity = uint16_t(x), p.YDensity = uint16_t(y);
  std::vector<uint8_t> out;
  if (!EncodeJpegToMemory(*img, p, out, EXIF_CARRIER_SIZE)) return false;
  Dest = static_cast<uint8_t *>(AlignedAlloc(EXIF_CARRIER_SIZE, 16));
  std::memcpy(Dest, out.data(), out.size());
  DestLen = uint32_t(out.size());
  return true;
}
