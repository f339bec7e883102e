// TIFF decoding over libtiff. 8- and 16-bit gray, RGB, CMYK (with or without
// alpha) are read sample-exact from strips or tiles, chunky or planar; every
// other layout (palette, bilevel, YCbCr, old JPEG, ...) goes through libtiff's
// RGBA reader at 8 bits. The first page is read, or for a thumbnail the first
// reduced-resolution page when the file has one.
#include "pixio/PixioInternal.h"

#include <tiffio.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace pixio {

namespace {

struct MemFile {
  std::span<const uint8_t> Data;
  uint64_t Pos = 0;
  std::string Error;
};

tsize_t MemRead(thandle_t h, tdata_t buf, tsize_t size) {
  auto *f = static_cast<MemFile *>(h);
  if (size <= 0 || f->Pos >= f->Data.size()) return 0;
  const uint64_t n = std::min<uint64_t>(uint64_t(size), f->Data.size() - f->Pos);
  std::memcpy(buf, f->Data.data() + f->Pos, size_t(n));
  f->Pos += n;
  return tsize_t(n);
}
tsize_t MemWrite(thandle_t, tdata_t, tsize_t) { return -1; }
toff_t MemSeek(thandle_t h, toff_t off, int whence) {
  auto *f = static_cast<MemFile *>(h);
  uint64_t base = whence == SEEK_CUR ? f->Pos : whence == SEEK_END ? f->Data.size() : 0;
  if (off > UINT64_MAX - base) return toff_t(-1);
  f->Pos = base + off;
  return f->Pos;
}
int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t h) { return static_cast<MemFile *>(h)->Data.size(); }
int MemMap(thandle_t, tdata_t *, toff_t *) { return 0; }
void MemUnmap(thandle_t, tdata_t, toff_t) {}

int OnError(TIFF *, void *user, const char *module, const char *fmt, va_list ap) {
  auto *f = static_cast<MemFile *>(user);
  char buf[512];
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  if (f->Error.empty()) f->Error = module ? std::string(module) + ": " + buf : buf;
  return 1;
}
int OnWarning(TIFF *, void *, const char *, const char *, va_list) { return 1; }  // unknown tags and the like

struct TiffCloser {
  void operator()(TIFF *t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

[[noreturn]] void Fail(MemFile &f, const char *what) {
  throw DecodeError(f.Error.empty() ? std::string(what) : f.Error);
}

struct Layout {
  uint32_t W = 0, H = 0;
  uint16_t Bps = 0, Spp = 0, Photo = 0, Planar = PLANARCONFIG_CONTIG, Format = SAMPLEFORMAT_UINT;
  uint16_t Alpha = 0;  // EXTRASAMPLE_* of the first extra sample, when it is alpha
  bool Tiled = false;
};

// Decoded samples of the whole image: Spp interleaved samples per pixel.
std::vector<uint8_t> ReadSamples(TIFF *t, MemFile &f, const Layout &L) {
  const size_t bps = L.Bps / 8;
  const size_t pix = size_t(L.W) * L.Spp * bps;
  std::vector<uint8_t> img(pix * L.H);
  const uint16_t planes = L.Planar == PLANARCONFIG_SEPARATE ? L.Spp : 1;
  const size_t sampPerPlane = planes == 1 ? L.Spp : 1;
  if (L.Tiled) {
    uint32_t tw = 0, th = 0;
    TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(t, TIFFTAG_TILELENGTH, &th);
    if (!tw || !th) throw DecodeError("bad tile size");
    const tmsize_t tileSize = TIFFTileSize(t);
    const uint64_t tileRow = uint64_t(tw) * sampPerPlane * bps;
    if (tileSize <= 0 || uint64_t(tileSize) < tileRow * th) throw DecodeError("bad tile size");
    std::vector<uint8_t> tile(static_cast<size_t>(tileSize));
    for (uint16_t p = 0; p < planes; ++p)
      for (uint32_t y0 = 0; y0 < L.H; y0 += th)
        for (uint32_t x0 = 0; x0 < L.W; x0 += tw) {
          const ttile_t idx = TIFFComputeTile(t, x0, y0, 0, p);
          if (TIFFReadEncodedTile(t, idx, tile.data(), tileSize) < 0) Fail(f, "tile is damaged");
          const uint32_t rows = std::min(th, L.H - y0), cols = std::min(tw, L.W - x0);
          for (uint32_t y = 0; y < rows; ++y) {
            const uint8_t *src = tile.data() + size_t(y) * tileRow;
            uint8_t *dst = img.data() + size_t(y0 + y) * pix;
            if (planes == 1) {
              std::memcpy(dst + size_t(x0) * L.Spp * bps, src, size_t(cols) * L.Spp * bps);
            } else {
              for (uint32_t x = 0; x < cols; ++x)
                std::memcpy(dst + (size_t(x0 + x) * L.Spp + p) * bps, src + size_t(x) * bps, bps);
            }
          }
        }
    return img;
  }
  uint32_t rps = 0;
  if (!TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rps) || rps == 0) rps = L.H;
  rps = std::min(rps, L.H);
  const size_t planeRow = size_t(L.W) * sampPerPlane * bps;
  std::vector<uint8_t> strip(planeRow * rps);
  for (uint16_t p = 0; p < planes; ++p)
    for (uint32_t y0 = 0; y0 < L.H; y0 += rps) {
      const uint32_t rows = std::min(rps, L.H - y0);
      const tstrip_t idx = TIFFComputeStrip(t, y0, p);
      const tmsize_t need = tmsize_t(planeRow * rows);
      const tmsize_t got = TIFFReadEncodedStrip(t, idx, strip.data(), need);
      if (got < need) Fail(f, "strip is damaged or truncated");
      for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t *src = strip.data() + size_t(y) * planeRow;
        uint8_t *dst = img.data() + size_t(y0 + y) * pix;
        if (planes == 1) {
          std::memcpy(dst, src, planeRow);
        } else {
          for (uint32_t x = 0; x < L.W; ++x)
            std::memcpy(dst + (size_t(x) * L.Spp + p) * bps, src + size_t(x) * bps, bps);
        }
      }
    }
  return img;
}

template <class T>
void Unpremultiply(T *px, uint32_t colour, uint32_t max) {
  const uint32_t a = px[colour];
  if (a == 0 || a == max) return;
  for (uint32_t c = 0; c < colour; ++c) px[c] = T(std::min<uint32_t>(max, (uint32_t(px[c]) * max + a / 2) / a));
}

// Sample-exact path: gray, RGB and CMYK at 8 or 16 bits.
void DecodeDirect(TIFF *t, MemFile &f, TPixioDecode &Info, const Layout &L) {
  const bool gray = L.Photo == PHOTOMETRIC_MINISBLACK || L.Photo == PHOTOMETRIC_MINISWHITE;
  const uint32_t colour = gray ? 1 : L.Photo == PHOTOMETRIC_SEPARATED ? 4 : 3;
  const bool alpha = L.Alpha && L.Spp > colour;
  const bool cmyk = colour == 4;
  std::vector<uint8_t> img = ReadSamples(t, f, L);
  const uint32_t outCh = gray ? (alpha ? 4 : 1) : cmyk ? 4 : (alpha ? 4 : 3);
  AllocImage(Info, L.W, L.H, outCh, L.Bps);
  Info.IsCMYK = cmyk;
  Info.IsGrayAlpha = gray && alpha;
  const bool invert = L.Photo == PHOTOMETRIC_MINISWHITE;
  const bool assoc = L.Alpha == EXTRASAMPLE_ASSOCALPHA;
  auto convert = [&](auto zero) {
    using T = decltype(zero);
    const uint32_t max = sizeof(T) == 1 ? 255 : 65535;
    for (uint32_t y = 0; y < L.H; ++y) {
      const T *s = reinterpret_cast<const T *>(img.data() + size_t(y) * L.W * L.Spp * sizeof(T));
      T *d = reinterpret_cast<T *>(Row(Info, y, true));
      for (uint32_t x = 0; x < L.W; ++x, s += L.Spp, d += outCh) {
        T px[4];
        if (gray) {
          const T g = invert ? T(max - s[0]) : s[0];
          px[0] = px[1] = px[2] = g;
          px[3] = alpha ? s[1] : T(max);
          if (alpha && assoc) {
            T ga[2] = {g, px[3]};
            Unpremultiply(ga, 1, max);
            px[0] = px[1] = px[2] = ga[0];
          }
        } else if (cmyk) {
          px[0] = s[0], px[1] = s[1], px[2] = s[2], px[3] = s[3];
        } else {
          px[0] = s[0], px[1] = s[1], px[2] = s[2];
          px[3] = alpha ? s[3] : T(max);
          if (alpha && assoc) Unpremultiply(px, 3, max);
        }
        if (outCh == 1) {
          d[0] = px[0];
        } else if (cmyk || sizeof(T) == 2) {  // CMYK as stored; 16-bit colour in R,G,B order
          for (uint32_t c = 0; c < outCh; ++c) d[c] = px[c];
        } else {
          d[0] = px[2], d[1] = px[1], d[2] = px[0];
          if (outCh == 4) d[3] = px[3];
        }
      }
    }
  };
  if (L.Bps == 16) convert(uint16_t(0));
  else convert(uint8_t(0));
}

// libtiff's general reader for everything else, always 8-bit RGBA.
void DecodeRgba(TIFF *t, MemFile &f, TPixioDecode &Info, const Layout &L) {
  char emsg[1024] = "";
  if (!TIFFRGBAImageOK(t, emsg)) throw DecodeError(emsg[0] ? emsg : "unsupported TIFF layout");
  if (uint64_t(L.W) * L.H > MaxPixels) throw DecodeError("image is too large");
  std::vector<uint32_t> raster(size_t(L.W) * L.H);
  if (!TIFFReadRGBAImageOriented(t, L.W, L.H, raster.data(), ORIENTATION_TOPLEFT, 0))
    Fail(f, "image data is damaged");
  const bool alpha = L.Alpha != 0;
  const bool gray = !alpha && (L.Photo == PHOTOMETRIC_MINISBLACK || L.Photo == PHOTOMETRIC_MINISWHITE);
  const uint32_t ch = gray ? 1 : alpha ? 4 : 3;
  AllocImage(Info, L.W, L.H, ch, 8);
  for (uint32_t y = 0; y < L.H; ++y) {
    const uint32_t *s = raster.data() + size_t(y) * L.W;
    uint8_t *d = Row(Info, y, true);
    for (uint32_t x = 0; x < L.W; ++x, d += ch) {
      const uint32_t p = s[x];
      const uint8_t r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p), a = TIFFGetA(p);
      if (ch == 1) {
        d[0] = r;
        continue;
      }
      d[0] = b, d[1] = g, d[2] = r;
      if (ch == 4) {
        d[3] = a;
        Unpremultiply(d, 3, 255);  // the RGBA reader always premultiplies
      }
    }
  }
}

Layout ReadLayout(TIFF *t) {
  Layout L;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &L.W);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &L.H);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &L.Bps);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &L.Spp);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &L.Planar);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &L.Format);
  if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &L.Photo)) L.Photo = L.Spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  uint16_t extra = 0;
  uint16_t *types = nullptr;
  if (TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &extra, &types) && extra > 0 && types &&
      (types[0] == EXTRASAMPLE_ASSOCALPHA || types[0] == EXTRASAMPLE_UNASSALPHA))
    L.Alpha = types[0];
  L.Tiled = TIFFIsTiled(t);
  return L;
}

bool IsDirectLayout(TIFF *t, const Layout &L) {
  if ((L.Bps != 8 && L.Bps != 16) || L.Format != SAMPLEFORMAT_UINT) return false;
  uint16_t comp = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &comp);
  if (comp == COMPRESSION_OJPEG) return false;
  switch (L.Photo) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE: return L.Spp >= 1;
    case PHOTOMETRIC_RGB: return L.Spp >= 3;
    case PHOTOMETRIC_SEPARATED: {
      uint16_t ink = INKSET_CMYK;
      TIFFGetFieldDefaulted(t, TIFFTAG_INKSET, &ink);
      return ink == INKSET_CMYK && L.Spp >= 4;
    }
    default: return false;
  }
}

}  // namespace

void DecodeTiff(TPixioDecode &Info, std::span<const uint8_t> Data, const WicRequest &Req) {
  MemFile f{Data, 0, {}};
  std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions *)> opts(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
  if (!opts) throw DecodeError("out of memory");
  TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), OnError, &f);
  TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), OnWarning, &f);
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts.get(), tmsize_t(1) << 32);
  TiffPtr t(TIFFClientOpenExt("memory", "rm", &f, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap,
                              MemUnmap, opts.get()));
  if (!t) Fail(f, "not a readable TIFF file");
  if (Req.Thumbnail) {
    // A reduced-resolution page stands in for the image when there is one.
    const tdir_t first = TIFFCurrentDirectory(t.get());
    bool found = false;
    for (int guard = 0; guard < 64 && TIFFReadDirectory(t.get()); ++guard) {
      uint32_t type = 0;
      if (TIFFGetField(t.get(), TIFFTAG_SUBFILETYPE, &type) && (type & FILETYPE_REDUCEDIMAGE)) {
        found = true;
        break;
      }
    }
    if (!found && !TIFFSetDirectory(t.get(), first)) Fail(f, "cannot read the first page");
  }
  const Layout L = ReadLayout(t.get());
  if (L.W == 0 || L.H == 0) throw DecodeError("image has no pixels");
  if (L.W > MaxSide || L.H > MaxSide || uint64_t(L.W) * L.H > MaxPixels) throw DecodeError("image is too large");
  if (L.Spp == 0 || L.Spp > 16) throw DecodeError("unsupported sample count");

  if (IsDirectLayout(t.get(), L)) DecodeDirect(t.get(), f, Info, L);
  else DecodeRgba(t.get(), f, Info, L);

  uint32_t iccLen = 0;
  void *icc = nullptr;
  if (TIFFGetField(t.get(), TIFFTAG_ICCPROFILE, &iccLen, &icc) && icc && iccLen)
    AttachProfile(Info, static_cast<const uint8_t *>(icc), iccLen);
  float xr = 0, yr = 0;
  uint16_t unit = RESUNIT_INCH;
  if (TIFFGetField(t.get(), TIFFTAG_XRESOLUTION, &xr) && TIFFGetField(t.get(), TIFFTAG_YRESOLUTION, &yr) &&
      xr > 0 && yr > 0) {
    TIFFGetFieldDefaulted(t.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
    Info.XResolution = xr;
    Info.YResolution = yr;
    Info.ResolutionUnit = unit == RESUNIT_INCH ? 1 : unit == RESUNIT_CENTIMETER ? 2 : 0;
  }
}

}  // namespace pixio
