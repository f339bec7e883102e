// Header facts for read_wic_info: size, resolution in dpi and the Exif fields
// the image list shows, read from each format's own structures. Every offset
// is checked against the data before it is followed.
#include "pixio/PixioInternal.h"

#include <libheif/heif.h>
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace pixio {

namespace {

// Bounds-checked reader over a TIFF structure in either byte order.
struct TiffReader {
  std::span<const uint8_t> D;
  bool Big = false;
  bool Has(uint64_t at, uint64_t n) const { return at <= D.size() && n <= D.size() - at; }
  uint16_t U16(uint64_t at) const {
    if (!Has(at, 2)) return 0;
    return Big ? uint16_t((D[at] << 8) | D[at + 1]) : uint16_t(D[at] | (D[at + 1] << 8));
  }
  uint32_t U32(uint64_t at) const {
    if (!Has(at, 4)) return 0;
    const uint32_t a = D[at], b = D[at + 1], c = D[at + 2], d = D[at + 3];
    return Big ? (a << 24) | (b << 16) | (c << 8) | d : a | (b << 8) | (c << 16) | (d << 24);
  }
};

struct IfdEntry {
  uint16_t Type = 0;
  uint32_t Count = 0;
  uint64_t ValuePos = 0;  // where the value bytes are (inline or at the offset)
};

constexpr uint32_t TypeSize(uint16_t t) {
  switch (t) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;  // 13: an IFD offset, as some writers type the Exif pointer
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

// Walks one IFD, calling F(tag, entry) for each well-formed entry.
template <class F>
void WalkIfd(const TiffReader &r, uint64_t ifd, F &&f) {
  if (!r.Has(ifd, 2)) return;
  const uint32_t n = r.U16(ifd);
  if (!r.Has(ifd + 2, uint64_t(n) * 12)) return;
  for (uint32_t i = 0; i < n; ++i) {
    const uint64_t at = ifd + 2 + uint64_t(i) * 12;
    IfdEntry e;
    e.Type = r.U16(at + 2);
    e.Count = r.U32(at + 4);
    const uint64_t bytes = uint64_t(TypeSize(e.Type)) * e.Count;
    if (bytes == 0) continue;
    e.ValuePos = bytes <= 4 ? at + 8 : r.U32(at + 8);
    if (!r.Has(e.ValuePos, bytes)) continue;
    f(r.U16(at), e);
  }
}

uint32_t Integer(const TiffReader &r, const IfdEntry &e) {
  return e.Type == 3 ? r.U16(e.ValuePos) : (e.Type == 4 || e.Type == 13) ? r.U32(e.ValuePos) : 0;
}

double Rational(const TiffReader &r, const IfdEntry &e, uint32_t i) {
  if (e.Type != 5 || i >= e.Count) return 0;
  const uint32_t num = r.U32(e.ValuePos + uint64_t(i) * 8), den = r.U32(e.ValuePos + uint64_t(i) * 8 + 4);
  return den ? double(num) / den : 0;
}

void SetDefaults(TPixioWICInfo &Info) {
  Info.ColorSpace = 1;
  Info.WhitePoint[0] = 0.313, Info.WhitePoint[1] = 0.329;
  const double prim[6] = {0.64, 0.33, 0.21, 0.71, 0.15, 0.06};
  std::copy(prim, prim + 6, Info.PrimaryChromaticities);
  Info.Gamma = 2.2;
}

void SetDpi(TPixioWICInfo &Info, double x, double y, int unit) {  // unit: 1 inch, 2 cm, 3 m
  const double f = unit == 1 ? 1 : unit == 2 ? 2.54 : unit == 3 ? 0.0254 : 0;
  if (f == 0 || x <= 0 || y <= 0) return;
  Info.XResolution = x * f;
  Info.YResolution = y * f;
}

uint32_t BE32(std::span<const uint8_t> d, size_t at) {
  return (uint32_t(d[at]) << 24) | (uint32_t(d[at + 1]) << 16) | (uint32_t(d[at + 2]) << 8) | d[at + 3];
}
uint16_t BE16(std::span<const uint8_t> d, size_t at) { return uint16_t((d[at] << 8) | d[at + 1]); }

// An Exif payload may carry the "Exif\0\0" prefix of the JPEG segment.
std::span<const uint8_t> SkipExifPrefix(std::span<const uint8_t> d) {
  static const uint8_t p[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (d.size() >= 6 && std::equal(p, p + 6, d.begin())) return d.subspan(6);
  return d;
}

bool PngInfo(TPixioWICInfo &Info, std::span<const uint8_t> d) {
  size_t pos = 8;
  bool size = false;
  while (pos + 8 <= d.size()) {
    const uint32_t len = BE32(d, pos);
    const uint32_t type = BE32(d, pos + 4);
    if (len > d.size() - pos - 8) break;
    const auto body = d.subspan(pos + 8, len);
    if (type == 0x49484452 && len >= 8) {  // IHDR
      Info.Width = BE32(body, 0), Info.Height = BE32(body, 4);
      size = true;
    } else if (type == 0x70485973 && len >= 9) {  // pHYs
      if (body[8] == 1) SetDpi(Info, BE32(body, 0), BE32(body, 4), 3);
    } else if (type == 0x65584966) {  // eXIf
      ParseExifTiff(Info, SkipExifPrefix(body), false);
    } else if (type == 0x49454E44) {
      break;
    }
    pos += size_t(len) + 12;
  }
  return size;
}

bool JpegInfo(TPixioWICInfo &Info, std::span<const uint8_t> d) {
  size_t pos = 2;
  while (pos + 4 <= d.size()) {
    if (d[pos] != 0xFF) return false;
    const uint8_t m = d[pos + 1];
    if (m == 0xFF) {
      ++pos;
      continue;
    }
    if (m == 0xD9 || m == 0xDA) break;
    const uint16_t len = BE16(d, pos + 2);
    if (len < 2 || len > d.size() - pos - 2) return false;
    const auto body = d.subspan(pos + 4, len - 2);
    if ((m >= 0xC0 && m <= 0xCF) && m != 0xC4 && m != 0xC8 && m != 0xCC) {
      if (body.size() < 5) return false;
      Info.Height = BE16(body, 1), Info.Width = BE16(body, 3);
      return Info.Width && Info.Height;
    }
    if (m == 0xE0 && body.size() >= 12 && std::equal(body.begin(), body.begin() + 5, "JFIF")) {
      if (Info.XResolution == 0) SetDpi(Info, BE16(body, 8), BE16(body, 10), body[7]);
    } else if (m == 0xE1 && !Info.HasExif && body.size() > 6 && std::equal(body.begin(), body.begin() + 6, "Exif\0")) {
      ParseExifTiff(Info, body.subspan(6), true);
    }
    pos += size_t(len) + 2;
  }
  return false;
}

bool GifInfo(TPixioWICInfo &Info, std::span<const uint8_t> d) {
  if (d.size() < 10) return false;
  Info.Width = uint32_t(d[6] | (d[7] << 8)), Info.Height = uint32_t(d[8] | (d[9] << 8));
  return Info.Width && Info.Height;
}

bool WebPInfo(TPixioWICInfo &Info, std::span<const uint8_t> d) {
  WebPBitstreamFeatures f;
  if (WebPGetFeatures(d.data(), d.size(), &f) != VP8_STATUS_OK) return false;
  Info.Width = uint32_t(f.width), Info.Height = uint32_t(f.height);
  const WebPData whole{d.data(), d.size()};
  std::unique_ptr<WebPDemuxer, void (*)(WebPDemuxer *)> demux(WebPDemux(&whole), WebPDemuxDelete);
  WebPChunkIterator it;
  if (demux && WebPDemuxGetChunk(demux.get(), "EXIF", 1, &it)) {
    ParseExifTiff(Info, SkipExifPrefix({it.chunk.bytes, it.chunk.size}), true);
    WebPDemuxReleaseChunkIterator(&it);
  }
  if (demux) {
    const uint32_t cw = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH), chh = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);
    if (cw && chh) Info.Width = cw, Info.Height = chh;
  }
  return true;
}

bool HeifInfo(TPixioWICInfo &Info, std::span<const uint8_t> d) {
  std::unique_ptr<heif_context, void (*)(heif_context *)> ctx(heif_context_alloc(), heif_context_free);
  if (!ctx || heif_context_read_from_memory_without_copy(ctx.get(), d.data(), d.size(), nullptr).code != heif_error_Ok)
    return false;
  heif_image_handle *raw = nullptr;
  if (heif_context_get_primary_image_handle(ctx.get(), &raw).code != heif_error_Ok) return false;
  std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle *)> h(raw, heif_image_handle_release);
  Info.Width = uint32_t(std::max(heif_image_handle_get_width(h.get()), 0));
  Info.Height = uint32_t(std::max(heif_image_handle_get_height(h.get()), 0));
  heif_item_id id = 0;
  if (heif_image_handle_get_list_of_metadata_block_IDs(h.get(), "Exif", &id, 1) == 1) {
    const size_t n = heif_image_handle_get_metadata_size(h.get(), id);
    if (n > 4 && n < (16u << 20)) {
      std::vector<uint8_t> buf(n);
      if (heif_image_handle_get_metadata(h.get(), id, buf.data()).code == heif_error_Ok) {
        const std::span<const uint8_t> all(buf);
        const uint32_t off = BE32(all, 0);  // offset of the TIFF header after this field
        if (off <= n - 4) ParseExifTiff(Info, all.subspan(4 + off), true);
      }
    }
  }
  // The decoder already applies the container's rotation and mirroring, and
  // HEIF readers must not apply the Exif orientation on top of it.
  if (Info.Orientation) Info.Orientation = 1;
  return Info.Width && Info.Height;
}

bool JxrInfo(TPixioWICInfo &Info, std::span<const uint8_t> d) {
  JxrFacts f;
  if (!ParseJxrContainer(d, f, nullptr)) return false;
  Info.Width = f.Width, Info.Height = f.Height;
  if (f.XResolution > 0 && f.YResolution > 0) Info.XResolution = f.XResolution, Info.YResolution = f.YResolution;
  // The container is a little-endian IFD like TIFF's; its Exif pointer leads to the usual fields.
  ParseExifTiff(Info, d, false, ExifSource::FileIfd0);
  return true;
}

bool IcoInfo(TPixioWICInfo &Info, std::span<const uint8_t> d) {
  if (d.size() < 6) return false;
  const uint32_t n = uint32_t(d[4] | (d[5] << 8));
  for (uint32_t i = 0; i < n && 6 + size_t(i + 1) * 16 <= d.size(); ++i) {
    const uint32_t w = d[6 + i * 16] ? d[6 + i * 16] : 256, h = d[7 + i * 16] ? d[7 + i * 16] : 256;
    if (uint64_t(w) * h > uint64_t(Info.Width) * Info.Height) Info.Width = w, Info.Height = h;
  }
  return Info.Width && Info.Height;
}

}  // namespace

void ParseExifTiff(TPixioWICInfo &Info, std::span<const uint8_t> Tiff, bool ResolutionToo, ExifSource Source) {
  if (Tiff.size() < 8) return;
  TiffReader r{Tiff, Tiff[0] == 'M'};
  if (!((Tiff[0] == 'I' && Tiff[1] == 'I') || (Tiff[0] == 'M' && Tiff[1] == 'M'))) return;
  const uint16_t magic = r.U16(2);
  if (magic != 42 && magic != 0x01BC) return;
  const uint32_t ifd0 = r.U32(4);
  uint32_t exifIfd = 0;
  bool carried = false;  // an IFD0 entry create_exif would carry
  double xr = 0, yr = 0;
  uint32_t unit = 2;
  bool colour = false;
  SetDefaults(Info);
  WalkIfd(r, ifd0, [&](uint16_t tag, const IfdEntry &e) {
    // A file's resolution travels in the resolution record; its other
    // description tags (Make, Model, DateTime, Orientation...) are Exif.
    if (Source == ExifSource::Block || (!DescribesSourceFile(tag) && tag != 0x011A && tag != 0x011B && tag != 0x0128))
      carried = true;
    switch (tag) {
      case 0x0112: Info.Orientation = int32_t(Integer(r, e)); break;
      case 0x011A: xr = Rational(r, e, 0); break;
      case 0x011B: yr = Rational(r, e, 0); break;
      case 0x0128: unit = Integer(r, e); break;
      case 0x013E:
        if (e.Count >= 2) Info.WhitePoint[0] = Rational(r, e, 0), Info.WhitePoint[1] = Rational(r, e, 1), colour = true;
        break;
      case 0x013F:
        if (e.Count >= 6) {
          for (uint32_t i = 0; i < 6; ++i) Info.PrimaryChromaticities[i] = Rational(r, e, i);
          colour = true;
        }
        break;
      case 0x8769: exifIfd = Integer(r, e); break;
      default: break;
    }
  });
  if (ResolutionToo && Info.XResolution == 0) SetDpi(Info, xr, yr, unit == 3 ? 2 : unit == 2 ? 1 : 0);
  if (exifIfd) {
    Info.HasExif = 1;
    WalkIfd(r, exifIfd, [&](uint16_t tag, const IfdEntry &e) {
      switch (tag) {
        case 0x9003:
          if (e.Type == 2 && e.Count >= 19) {
            std::memcpy(Info.DateTimeOriginal, Tiff.data() + e.ValuePos, 19);
            Info.DateTimeOriginal[19] = 0;
          }
          break;
        case 0xA001: Info.ColorSpace = int32_t(Integer(r, e)); break;
        case 0xA500: Info.Gamma = Rational(r, e, 0); break;
        default: break;
      }
    });
  }
  if (Info.Orientation < 0 || Info.Orientation > 8) Info.Orientation = 0;
  Info.HasColorInfo = Info.HasExif || colour;
  if (carried) Info.HasExif = 1;
}

bool ReadWicInfo(TPixioWICInfo &Info, std::span<const uint8_t> Data) {
  std::memset(&Info, 0, sizeof Info);
  SetDefaults(Info);
  switch (DetectWicFormat(Data)) {
    case WicFormat::Png: return PngInfo(Info, Data);
    case WicFormat::Jpeg: return JpegInfo(Info, Data);
    case WicFormat::Tiff: {
      ParseExifTiff(Info, Data, true, ExifSource::FileIfd0);
      TiffReader r{Data, Data[0] == 'M'};
      WalkIfd(r, r.U32(4), [&](uint16_t tag, const IfdEntry &e) {
        if (tag == 256) Info.Width = Integer(r, e);
        if (tag == 257) Info.Height = Integer(r, e);
      });
      Info.HasExif = Info.HasExif ? 1 : 0;
      // A BigTIFF (64-bit offsets) is beyond the quick walk; libtiff reads its size.
      if (!Info.Width || !Info.Height) ReadTiffFacts(Info, Data);
      return Info.Width && Info.Height;
    }
    case WicFormat::Gif: return GifInfo(Info, Data);
    case WicFormat::WebP: return WebPInfo(Info, Data);
    case WicFormat::Heif: return HeifInfo(Info, Data);
    case WicFormat::Jxr: return JxrInfo(Info, Data);
    case WicFormat::Ico: return IcoInfo(Info, Data);
    default: return false;
  }
}

}  // namespace pixio
