// TIFF decoding over libtiff. Gray, RGB, CMYK (with or without alpha) at
// every unsigned depth up to 16 bits, signed 16 bits and 32-bit
// integer or floating-point samples are read from strips or tiles, chunky or
// planar (8 and 16 bits sample-exact, other depths spread to 8 or 16); CIE
// L*a*b* (the CIE, ICC and ITU encodings) goes through Little CMS's Lab
// profile into sRGB; every other layout (palette, bilevel, YCbCr, old JPEG,
// ...) goes through libtiff's RGBA reader at 8 bits. The first page is read,
// or for a thumbnail the first reduced-resolution page when the file has one.
#include "pixio/PixioInternal.h"

#include <lcms2.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
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

// Bits wide samples (most significant bit first, as libtiff hands them out)
// into 16-bit values; Step is the distance between two outputs.
void Unpack(const uint8_t *Src, uint16_t *Dst, size_t Count, unsigned Bits, size_t Step) {
  uint64_t bitPos = 0;
  for (size_t i = 0; i < Count; ++i, bitPos += Bits, Dst += Step) {
    uint32_t v = 0;
    for (unsigned b = 0; b < Bits; ++b) {
      const uint64_t at = bitPos + b;
      v = (v << 1) | ((Src[at >> 3] >> (7 - (at & 7))) & 1);
    }
    *Dst = uint16_t(v);
  }
}

// Bytes one decoded sample takes in ReadSamples' result: 8-bit samples stay
// bytes, every other depth is unpacked into 16-bit values (not yet scaled).
size_t SampleBytes(const Layout &L) { return L.Bps == 8 ? 1 : L.Bps == 32 ? 4 : 2; }

// Copies Count samples of one strip or tile row to Dst (SampleBytes apart,
// Step samples between two), unpacking depths other than 8, 16 and 32.
void PutSamples(const Layout &L, const uint8_t *Src, uint8_t *Dst, size_t Count, size_t Step) {
  if (L.Bps == 8 || L.Bps == 16 || L.Bps == 32) {
    const size_t b = L.Bps / 8;
    if (Step == 1) {
      std::memcpy(Dst, Src, Count * b);
      return;
    }
    for (size_t i = 0; i < Count; ++i) std::memcpy(Dst + i * Step * b, Src + i * b, b);
    return;
  }
  Unpack(Src, reinterpret_cast<uint16_t *>(Dst), Count, L.Bps, Step);
}

// Decoded samples of the whole image: Spp interleaved samples per pixel.
std::vector<uint8_t> ReadSamples(TIFF *t, MemFile &f, const Layout &L) {
  const size_t bps = SampleBytes(L);
  const size_t pix = size_t(L.W) * L.Spp * bps;
  std::vector<uint8_t> img(pix * L.H);
  const uint16_t planes = L.Planar == PLANARCONFIG_SEPARATE ? L.Spp : 1;
  const size_t sampPerPlane = planes == 1 ? L.Spp : 1;
  // Rows of a strip or tile start on a byte boundary.
  auto rowBytes = [&](uint64_t Samples) { return (Samples * L.Bps + 7) / 8; };
  if (L.Tiled) {
    uint32_t tw = 0, th = 0;
    TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(t, TIFFTAG_TILELENGTH, &th);
    if (!tw || !th) throw DecodeError("bad tile size");
    const tmsize_t tileSize = TIFFTileSize(t);
    const uint64_t tileRow = rowBytes(uint64_t(tw) * sampPerPlane);
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
            if (planes == 1) PutSamples(L, src, dst + size_t(x0) * L.Spp * bps, size_t(cols) * L.Spp, 1);
            else PutSamples(L, src, dst + (size_t(x0) * L.Spp + p) * bps, cols, L.Spp);
          }
        }
    return img;
  }
  uint32_t rps = 0;
  if (!TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rps) || rps == 0) rps = L.H;
  rps = std::min(rps, L.H);
  const size_t planeRow = size_t(rowBytes(uint64_t(L.W) * sampPerPlane));
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
        if (planes == 1) PutSamples(L, src, dst, size_t(L.W) * L.Spp, 1);
        else PutSamples(L, src, dst + p * bps, L.W, L.Spp);
      }
    }
  return img;
}

// Samples of a depth other than 8 and 16 bits, spread over the full range
// of the depth they are delivered in: 8 bits below 8, 16 bits above.
// Signed 16- and 32-bit samples are moved up by half the range (the most negative value
// becomes 0), 32-bit integers brought to 16 bits and floating-point samples
// from 0..1 to 0..65535, as ImageMagick shows them.
void ScaleSamples(std::vector<uint8_t> &Img, const Layout &L) {
  const bool sign = L.Format == SAMPLEFORMAT_INT;
  if (L.Bps == 8) return;
  if (L.Bps == 16) {
    if (!sign) return;
    auto *d = reinterpret_cast<uint16_t *>(Img.data());
    for (size_t i = 0; i < Img.size() / 2; ++i) d[i] ^= 0x8000;
    return;
  }
  if (L.Bps == 32) {
    const size_t n = Img.size() / 4;
    std::vector<uint8_t> narrow(n * 2);
    auto *d = reinterpret_cast<uint16_t *>(narrow.data());
    for (size_t i = 0; i < n; ++i) {
      if (L.Format == SAMPLEFORMAT_IEEEFP) {
        float f;
        std::memcpy(&f, Img.data() + i * 4, 4);
        d[i] = uint16_t(std::lround(std::clamp(std::isfinite(f) ? f : 0.0f, 0.0f, 1.0f) * 65535.0f));
      } else {
        uint32_t v;
        std::memcpy(&v, Img.data() + i * 4, 4);
        if (sign) v ^= 0x80000000u;
        d[i] = uint16_t(v / 65537u);  // the top of the range stays the top: 0xFFFFFFFF / 65537 = 65535
      }
    }
    Img.swap(narrow);
    return;
  }
  const uint32_t max = (1u << L.Bps) - 1;
  const auto *s = reinterpret_cast<const uint16_t *>(Img.data());
  const size_t n = Img.size() / 2;
  if (L.Bps > 8) {
    auto *d = reinterpret_cast<uint16_t *>(Img.data());
    for (size_t i = 0; i < n; ++i) d[i] = uint16_t((uint32_t(std::min<uint32_t>(s[i], max)) * 65535u + max / 2) / max);
    return;
  }
  std::vector<uint8_t> narrow(n);
  for (size_t i = 0; i < n; ++i) narrow[i] = uint8_t((uint32_t(std::min<uint32_t>(s[i], max)) * 255u + max / 2) / max);
  Img.swap(narrow);
}

// The depth the samples are delivered in.
uint16_t OutputBits(const Layout &L) { return L.Bps > 8 ? 16 : 8; }

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
  ScaleSamples(img, L);
  const uint32_t outCh = gray ? (alpha ? 4 : 1) : cmyk ? 4 : (alpha ? 4 : 3);
  AllocImage(Info, L.W, L.H, outCh, OutputBits(L));
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
  if (OutputBits(L) == 16) convert(uint16_t(0));
  else convert(uint8_t(0));
}

struct LcmsProfile {
  cmsHPROFILE P;
  ~LcmsProfile() {
    if (P) cmsCloseProfile(P);
  }
};
struct LcmsTransform {
  cmsHTRANSFORM T;
  ~LcmsTransform() {
    if (T) cmsDeleteTransform(T);
  }
};

bool IsLab(const Layout &L) {
  return L.Photo == PHOTOMETRIC_CIELAB || L.Photo == PHOTOMETRIC_ICCLAB || L.Photo == PHOTOMETRIC_ITULAB;
}

// L*, a*, b* of one stored pixel. CIELAB keeps a* and b* as signed numbers;
// ICCLAB as unsigned with 0 at the middle (16-bit L* in the ICC version 2
// scale, 100 at 0xFF00); ITULAB spreads the default ranges L* 0..100,
// a* -85..85 and b* -75..125 over the whole sample range.
template <class T>
cmsCIELab LabOf(const T *s, uint16_t Photo) {
  constexpr bool wide = sizeof(T) == 2;
  constexpr double max = wide ? 65535.0 : 255.0;
  cmsCIELab lab;
  switch (Photo) {
    case PHOTOMETRIC_CIELAB:
      lab.L = s[0] * 100.0 / max;
      lab.a = wide ? int16_t(s[1]) / 256.0 : double(int8_t(s[1]));
      lab.b = wide ? int16_t(s[2]) / 256.0 : double(int8_t(s[2]));
      break;
    case PHOTOMETRIC_ICCLAB:
      lab.L = wide ? s[0] * 100.0 / 65280.0 : s[0] * 100.0 / 255.0;
      lab.a = wide ? s[1] / 256.0 - 128.0 : s[1] - 128.0;
      lab.b = wide ? s[2] / 256.0 - 128.0 : s[2] - 128.0;
      break;
    default:  // PHOTOMETRIC_ITULAB
      lab.L = s[0] * 100.0 / max;
      lab.a = -85.0 + s[1] * 170.0 / max;
      lab.b = -75.0 + s[2] * 200.0 / max;
      break;
  }
  return lab;
}

// L*a*b* pixels into sRGB through Little CMS (D50 Lab profile, relative
// colorimetric), 8-bit B,G,R or 16-bit R,G,B as the source depth; an alpha
// sample travels along.
void DecodeLab(TIFF *t, MemFile &f, TPixioDecode &Info, const Layout &L) {
  std::vector<uint8_t> img = ReadSamples(t, f, L);
  const bool alpha = L.Alpha && L.Spp > 3;
  const uint32_t outCh = alpha ? 4 : 3;
  const bool wide = L.Bps == 16;
  LcmsProfile lab{cmsCreateLab4Profile(nullptr)}, srgb{cmsCreate_sRGBProfile()};
  if (!lab.P || !srgb.P) throw DecodeError("cannot create the Lab colour profiles");
  LcmsTransform xf{cmsCreateTransform(lab.P, TYPE_Lab_DBL, srgb.P, wide ? TYPE_RGB_16 : TYPE_BGR_8,
                                      INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE)};
  if (!xf.T) throw DecodeError("cannot create the Lab colour transform");
  AllocImage(Info, L.W, L.H, outCh, L.Bps);
  std::vector<cmsCIELab> labRow(L.W);
  std::vector<uint8_t> out(size_t(L.W) * 3 * (wide ? 2 : 1));
  for (uint32_t y = 0; y < L.H; ++y) {
    const uint8_t *src = img.data() + size_t(y) * L.W * L.Spp * (wide ? 2 : 1);
    for (uint32_t x = 0; x < L.W; ++x)
      labRow[x] = wide ? LabOf(reinterpret_cast<const uint16_t *>(src) + size_t(x) * L.Spp, L.Photo)
                       : LabOf(src + size_t(x) * L.Spp, L.Photo);
    cmsDoTransform(xf.T, labRow.data(), out.data(), L.W);
    uint8_t *d = Row(Info, y, true);
    for (uint32_t x = 0; x < L.W; ++x) {
      if (wide) {
        auto *o = reinterpret_cast<uint16_t *>(d) + size_t(x) * outCh;
        const auto *c = reinterpret_cast<const uint16_t *>(out.data()) + size_t(x) * 3;
        o[0] = c[0], o[1] = c[1], o[2] = c[2];
        if (alpha) o[3] = reinterpret_cast<const uint16_t *>(src)[size_t(x) * L.Spp + 3];
      } else {
        uint8_t *o = d + size_t(x) * outCh;
        const uint8_t *c = out.data() + size_t(x) * 3;
        o[0] = c[0], o[1] = c[1], o[2] = c[2];
        if (alpha) o[3] = src[size_t(x) * L.Spp + 3];
      }
    }
  }
}

// libtiff's general reader for everything else, always 8-bit RGBA.
void DecodeRgba(TIFF *t, MemFile &f, TPixioDecode &Info, const Layout &L) {
  char emsg[1024] = "";
  if (!TIFFRGBAImageOK(t, emsg)) throw DecodeError(emsg[0] ? emsg : "unsupported TIFF layout");
  if (uint64_t(L.W) * L.H > MaxPixels) throw DecodeError("image is too large");
  std::vector<uint32_t> raster(size_t(L.W) * L.H);
  TIFFRGBAImage img;
  if (!TIFFRGBAImageBegin(&img, t, 0, emsg)) throw DecodeError(emsg[0] ? emsg : "unsupported TIFF layout");
  // Rows come out as stored, as on the sample-exact path: the Orientation tag
  // reaches the program through the probe, and the Exif rotation step turns
  // the picture. Left to itself the RGBA reader would flip by the tag (and
  // only flip: it cannot transpose), and the rotation step would turn a
  // picture that was already half turned.
  img.orientation = ORIENTATION_TOPLEFT;
  img.req_orientation = ORIENTATION_TOPLEFT;
  const int got = TIFFRGBAImageGet(&img, raster.data(), L.W, L.H);
  TIFFRGBAImageEnd(&img);
  if (!got) Fail(f, "image data is damaged");
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
  // Bilevel and 2- or 4-bit gray (also palette) are the RGBA reader's; every
  // other unsigned depth up to 16 bits is read here.
  const bool whole = L.Bps >= 1 && L.Bps <= 16 && L.Format == SAMPLEFORMAT_UINT;
  // Signed 8-bit samples stay with the RGBA reader, which shows their bytes
  // as stored, as ImageMagick does.
  const bool signedOr32 = (L.Format == SAMPLEFORMAT_INT && (L.Bps == 16 || L.Bps == 32)) ||
                          (L.Bps == 32 && (L.Format == SAMPLEFORMAT_UINT || L.Format == SAMPLEFORMAT_IEEEFP));
  if (!whole && !signedOr32) return false;
  const bool gray = L.Photo == PHOTOMETRIC_MINISBLACK || L.Photo == PHOTOMETRIC_MINISWHITE;
  if (gray && (L.Bps == 1 || L.Bps == 2 || L.Bps == 4)) return false;
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

bool IsLabLayout(TIFF *t, const Layout &L) {
  if (!IsLab(L) || (L.Bps != 8 && L.Bps != 16) || L.Format == SAMPLEFORMAT_IEEEFP || L.Spp < 3) return false;
  uint16_t comp = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &comp);
  return comp != COMPRESSION_OJPEG && comp != COMPRESSION_JPEG;
}

}  // namespace

namespace {

// The first page of Data opened through libtiff, errors collected in F.
TiffPtr OpenTiff(MemFile &F) {
  std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions *)> opts(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
  if (!opts) throw DecodeError("out of memory");
  TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), OnError, &F);
  TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), OnWarning, &F);
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts.get(), tmsize_t(1) << 32);
  return TiffPtr(TIFFClientOpenExt("memory", "rm", &F, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap,
                                   MemUnmap, opts.get()));
}

}  // namespace

bool ReadTiffFacts(TPixioWICInfo &Info, std::span<const uint8_t> Data) {
  MemFile f{Data, 0, {}};
  try {
    TiffPtr t = OpenTiff(f);
    if (!t) return false;
    uint32_t w = 0, h = 0;
    TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h);
    Info.Width = w, Info.Height = h;
    float xr = 0, yr = 0;
    uint16_t unit = RESUNIT_INCH;
    if (Info.XResolution == 0 && TIFFGetField(t.get(), TIFFTAG_XRESOLUTION, &xr) &&
        TIFFGetField(t.get(), TIFFTAG_YRESOLUTION, &yr) && xr > 0 && yr > 0) {
      TIFFGetFieldDefaulted(t.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
      const double toInch = unit == RESUNIT_INCH ? 1.0 : unit == RESUNIT_CENTIMETER ? 2.54 : 0.0;
      Info.XResolution = xr * toInch, Info.YResolution = yr * toInch;
    }
    return w && h;
  } catch (const std::exception &) {
    return false;
  }
}

void DecodeTiff(TPixioDecode &Info, std::span<const uint8_t> Data, const WicRequest &Req) {
  MemFile f{Data, 0, {}};
  TiffPtr t = OpenTiff(f);
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

  const bool lab = IsLabLayout(t.get(), L);
  if (lab) DecodeLab(t.get(), f, Info, L);
  else if (IsDirectLayout(t.get(), L)) DecodeDirect(t.get(), f, Info, L);
  else DecodeRgba(t.get(), f, Info, L);

  uint32_t iccLen = 0;
  void *icc = nullptr;
  // A Lab file's pixels are sRGB now; a profile it carries described the Lab samples.
  if (!lab && TIFFGetField(t.get(), TIFFTAG_ICCPROFILE, &iccLen, &icc) && icc && iccLen)
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
