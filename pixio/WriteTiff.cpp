// TIFF encoding over libtiff: gray, colour and colour+alpha at 8 or 16 bits,
// palette images of 1, 2, 4 or 8 bits, compression none, LZW, ZIP or LZW with
// horizontal differencing, resolution, ICC profile, a reduced-resolution
// second page as thumbnail, and the source's Exif as Exif and GPS directories.
#include "pixio/WriteInternal.h"

#include <tiffio.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <memory>

namespace pixio {

namespace {

struct TiffErrors {
  std::string Error;
};

int OnError(TIFF *, void *user, const char *module, const char *fmt, va_list ap) {
  auto *e = static_cast<TiffErrors *>(user);
  char buf[512];
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  if (e->Error.empty()) e->Error = module ? std::string(module) + ": " + buf : buf;
  return 1;
}
int OnWarning(TIFF *, void *, const char *, const char *, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF *t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

[[noreturn]] void Fail(const TiffErrors &e, const std::string &what) {
  throw EncodeError(e.Error.empty() ? what : e.Error);
}

uint16_t CompressionOf(int32_t code) {
  switch (code) {
    case 0: case 1: return COMPRESSION_NONE;
    case 4: case 7: return COMPRESSION_LZW;
    case 6: return COMPRESSION_ADOBE_DEFLATE;
    default: throw EncodeError("unsupported TIFF compression code " + std::to_string(code));
  }
}

// One page: tags, then the rows (8-bit colour turned from B,G,R to R,G,B on the way).
void WritePage(TIFF *t, const TiffErrors &err, const TPixioImage &img, uint32_t bits, const TPixioEncode *Info,
               bool thumbnail) {
  const bool palette = Info && Info->Palette;
  const uint32_t ch = img.Channels;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, img.Width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, img.Height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, ch);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, palette ? PHOTOMETRIC_PALETTE : ch >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  if (ch == 2 || ch == 4) {
    const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  if (thumbnail) {
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  } else {
    TIFFSetField(t, TIFFTAG_COMPRESSION, CompressionOf(Info->Compression));
    if (Info->Compression == 7 && !palette && bits >= 8) TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (Info->Compression == 6) TIFFSetField(t, TIFFTAG_ZIPQUALITY, 6);
    if (Info->XResolution > 0 && Info->YResolution > 0) {
      TIFFSetField(t, TIFFTAG_XRESOLUTION, float(Info->XResolution));
      TIFFSetField(t, TIFFTAG_YRESOLUTION, float(Info->YResolution));
      TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    if (Info->ICCProfile && Info->ProfileLen) TIFFSetField(t, TIFFTAG_ICCPROFILE, Info->ProfileLen, Info->ICCProfile);
    if (palette) {
      const size_t n = size_t(1) << bits;
      std::vector<uint16_t> map(3 * n, 0);
      for (int i = 0; i < Info->PaletteCount; ++i)
        for (int c = 0; c < 3; ++c) map[c * n + size_t(i)] = uint16_t(Info->Palette[3 * i + c] * 257);
      TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
    }
  }
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));

  const size_t rowBytes = (size_t(img.Width) * ch * bits + 7) / 8;
  const bool swap = bits == 8 && ch >= 3 && !palette;
  std::vector<uint8_t> row(rowBytes);
  for (uint32_t y = 0; y < img.Height; ++y) {
    const uint8_t *src = img.Mem + size_t(y) * img.Bpl;
    std::memcpy(row.data(), src, rowBytes);
    if (swap)
      for (size_t x = 0; x < img.Width; ++x) std::swap(row[x * ch], row[x * ch + 2]);
    if (TIFFWriteScanline(t, row.data(), y, 0) < 0) Fail(err, "cannot write the TIFF rows");
  }
  if (!TIFFWriteDirectory(t)) Fail(err, "cannot write the TIFF directory");
}

// Sets one copied Exif entry in the current (custom) directory when libtiff
// knows the tag there; entries it cannot represent are left out.
void SetEntry(TIFF *t, const ExifEntry &e, bool be) {
  const TIFFField *f = TIFFFindField(t, e.Tag, TIFF_ANY);
  if (!f || e.Count == 0) return;
  const TIFFDataType type = TIFFFieldDataType(f);
  const int passCount = TIFFFieldPassCount(f);
  const int writeCount = TIFFFieldWriteCount(f);
  const int size = TIFFFieldSetGetSize(f);
  const uint32_t n = e.Count;
  if (!passCount && writeCount > 1 && uint32_t(writeCount) != n) return;  // a fixed-size array of another size
  auto withCount = [&](auto *values) {
    if (!passCount) return writeCount == 1 ? false : TIFFSetField(t, e.Tag, values) == 1;
    if (TIFFFieldSetGetCountSize(f) == 2) return n <= 0xFFFF && TIFFSetField(t, e.Tag, int(n), values) == 1;
    return TIFFSetField(t, e.Tag, n, values) == 1;
  };
  switch (type) {
    case TIFF_ASCII: {
      std::string s(e.Value.begin(), e.Value.end());
      s = s.c_str();  // up to the first terminator
      TIFFSetField(t, e.Tag, s.c_str());
      return;
    }
    case TIFF_UNDEFINED:
    case TIFF_BYTE:
    case TIFF_SBYTE: {
      if (e.Type != 1 && e.Type != 6 && e.Type != 7 && e.Type != 2) return;
      std::vector<uint8_t> v(e.Value);
      if (!passCount && writeCount == 1) TIFFSetField(t, e.Tag, int(v[0]));
      else withCount(v.data());
      return;
    }
    case TIFF_SHORT:
    case TIFF_SSHORT: {
      std::vector<uint16_t> v(n);
      for (uint32_t i = 0; i < n; ++i) v[i] = uint16_t(int32_t(ExifNumber(e, be, i)));
      if (!passCount && writeCount == 1) TIFFSetField(t, e.Tag, int(v[0]));
      else withCount(v.data());
      return;
    }
    case TIFF_LONG:
    case TIFF_SLONG: {
      std::vector<uint32_t> v(n);
      for (uint32_t i = 0; i < n; ++i) v[i] = uint32_t(int64_t(ExifNumber(e, be, i)));
      if (!passCount && writeCount == 1) TIFFSetField(t, e.Tag, v[0]);
      else withCount(v.data());
      return;
    }
    case TIFF_RATIONAL:
    case TIFF_SRATIONAL:
    case TIFF_FLOAT:
    case TIFF_DOUBLE: {
      if (!passCount && writeCount == 1) {
        TIFFSetField(t, e.Tag, ExifNumber(e, be, 0));
      } else if (size == 8) {
        std::vector<double> v(n);
        for (uint32_t i = 0; i < n; ++i) v[i] = ExifNumber(e, be, i);
        withCount(v.data());
      } else {
        std::vector<float> v(n);
        for (uint32_t i = 0; i < n; ++i) v[i] = float(ExifNumber(e, be, i));
        withCount(v.data());
      }
      return;
    }
    default: return;
  }
}

// The image's own description tags taken over from the Exif IFD0.
void SetIfd0Tags(TIFF *t, const ExifDirs &d) {
  for (const ExifEntry &e : d.Ifd0) {
    switch (e.Tag) {
      case TIFFTAG_IMAGEDESCRIPTION: case TIFFTAG_MAKE: case TIFFTAG_MODEL: case TIFFTAG_SOFTWARE:
      case TIFFTAG_DATETIME: case TIFFTAG_ARTIST: case TIFFTAG_COPYRIGHT:
        if (e.Type == 2) {
          std::string s(e.Value.begin(), e.Value.end());
          TIFFSetField(t, e.Tag, s.c_str());
        }
        break;
      case TIFFTAG_ORIENTATION: {
        const int o = int(ExifNumber(e, d.BigEndian, 0));
        if (o >= 1 && o <= 8) TIFFSetField(t, TIFFTAG_ORIENTATION, o);
        break;
      }
      default: break;
    }
  }
}

// libtiff passes rationals through floating point, so 1/250 would come back
// as 4194304/1048576000-like approximations. Once the file is complete, the
// rationals of the Exif and GPS directories get the source's exact values
// again (same tag, type and count, hence the same size and place).
void RestoreRationals(const char *FileName, const ExifDirs &d) {
  const int fd = open(FileName, O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  struct Closer {
    int Fd;
    ~Closer() { close(Fd); }
  } closer{fd};
  auto readAt = [&](uint64_t off, void *buf, size_t n) { return pread(fd, buf, n, off_t(off)) == ssize_t(n); };
  uint8_t head[8];
  if (!readAt(0, head, 8) || head[2] + head[3] != 42) return;  // classic TIFF only
  const bool be = head[0] == 'M';
  auto u16 = [be](const uint8_t *p) { return be ? uint32_t(p[0] << 8 | p[1]) : uint32_t(p[1] << 8 | p[0]); };
  auto u32 = [be](const uint8_t *p) {
    return be ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
              : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  };
  // The entries of the directory at Off: (tag, type, count, value or offset).
  auto entries = [&](uint32_t off, std::vector<std::array<uint32_t, 4>> &out) {
    uint8_t n2[2];
    if (!off || !readAt(off, n2, 2)) return false;
    const uint32_t n = u16(n2);
    std::vector<uint8_t> raw(size_t(n) * 12);
    if (n > 4096 || !readAt(off + 2, raw.data(), raw.size())) return false;
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t *e = raw.data() + size_t(i) * 12;
      out.push_back({u16(e), u16(e + 2), u32(e + 4), u32(e + 8)});
    }
    return true;
  };
  std::vector<std::array<uint32_t, 4>> ifd0;
  if (!entries(u32(head + 4), ifd0)) return;
  for (const auto &p : ifd0) {
    if (p[0] != TIFFTAG_EXIFIFD && p[0] != TIFFTAG_GPSIFD) continue;
    const std::vector<ExifEntry> &src = p[0] == TIFFTAG_EXIFIFD ? d.Exif : d.Gps;
    std::vector<std::array<uint32_t, 4>> dir;
    if (!entries(p[3], dir)) continue;
    for (const auto &e : dir) {
      if (e[1] != 5 && e[1] != 10) continue;
      const auto it = std::find_if(src.begin(), src.end(), [&](const ExifEntry &s) {
        return s.Tag == e[0] && s.Type == e[1] && s.Count == e[2] && s.Value.size() == size_t(e[2]) * 8;
      });
      if (it == src.end()) continue;
      std::vector<uint8_t> v = it->Value;
      if (be != d.BigEndian)
        for (size_t at = 0; at + 4 <= v.size(); at += 4) std::reverse(v.begin() + long(at), v.begin() + long(at + 4));
      if (pwrite(fd, v.data(), v.size(), off_t(e[3])) != ssize_t(v.size())) return;
    }
  }
}

void Encode(const TPixioEncode &Info, const TPixioImage *Thumb, const char *FileName, const uint8_t *Exif,
            uint32_t ExifLen, bool UpdateSoftware) {
  if (!FileName || !*FileName) throw EncodeError("no file name");
  if (Info.Palette) CheckImage(Info, {1}, {1, 2, 4, 8});
  else CheckImage(Info, {1, 2, 3, 4}, {8, 16});
  CheckPalette(Info);
  CompressionOf(Info.Compression);
  if (Thumb && (!Thumb->Mem || Thumb->Width == 0 || Thumb->Height == 0 || Thumb->Width > 4096 || Thumb->Height > 4096 ||
                (Thumb->Channels != 1 && Thumb->Channels != 3 && Thumb->Channels != 4) ||
                Thumb->Bpl < Thumb->Width * Thumb->Channels))
    throw EncodeError("unusable thumbnail");

  ExifDirs dirs;
  bool haveExif = false;
  if (Exif && ExifLen) {
    haveExif = ParseExifDirs(FindExifTiff({Exif, ExifLen}), dirs);
    if (!haveExif) ReportMessage("TIFF", "the Exif block is unreadable and was left out");
  }
  if (haveExif) UpdateExifDirs(dirs, Info, UpdateSoftware);

  TiffErrors err;
  std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions *)> opts(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
  if (!opts) throw EncodeError("out of memory");
  TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), OnError, &err);
  TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), OnWarning, &err);
  // Classic TIFF addresses 4 GB; larger pictures go to BigTIFF.
  const uint64_t raw = uint64_t(Info.Width) * Info.Height * Info.Channels * SampleBits(Info) / 8;
  TiffPtr t(TIFFOpenExt(FileName, raw > 0xE0000000ull ? "w8" : "w", opts.get()));
  if (!t) Fail(err, std::string("cannot create ") + FileName);

  if (haveExif) SetIfd0Tags(t.get(), dirs);
  else if (UpdateSoftware) TIFFSetField(t.get(), TIFFTAG_SOFTWARE, SoftwareName);
  const TPixioImage main{Info.Mem, Info.Width, Info.Height, Info.Bpl, Info.Channels};
  WritePage(t.get(), err, main, SampleBits(Info), &Info, false);
  if (Thumb) WritePage(t.get(), err, *Thumb, 8, nullptr, true);

  if (haveExif && (!dirs.Exif.empty() || !dirs.Gps.empty())) {
    uint64_t exifOff = 0, gpsOff = 0;
    if (!dirs.Exif.empty()) {
      // These two return 0 on success.
      if (TIFFCreateEXIFDirectory(t.get()) != 0) Fail(err, "cannot create the Exif directory");
      for (const ExifEntry &e : dirs.Exif) SetEntry(t.get(), e, dirs.BigEndian);
      if (!TIFFWriteCustomDirectory(t.get(), &exifOff)) Fail(err, "cannot write the Exif directory");
      // libtiff 4.5 does not release a written custom directory's values when
      // the next directory is created; it is released here.
      TIFFFreeDirectory(t.get());
    }
    if (!dirs.Gps.empty()) {
      if (TIFFCreateGPSDirectory(t.get()) != 0) Fail(err, "cannot create the GPS directory");
      for (const ExifEntry &e : dirs.Gps) SetEntry(t.get(), e, dirs.BigEndian);
      if (!TIFFWriteCustomDirectory(t.get(), &gpsOff)) Fail(err, "cannot write the GPS directory");
      TIFFFreeDirectory(t.get());
    }
    // The pointers go into the first page, which libtiff rewrites at the end of the file.
    if (!TIFFSetDirectory(t.get(), 0)) Fail(err, "cannot reopen the first TIFF directory");
    if (exifOff) TIFFSetField(t.get(), TIFFTAG_EXIFIFD, exifOff);
    if (gpsOff) TIFFSetField(t.get(), TIFFTAG_GPSIFD, gpsOff);
    if (!TIFFRewriteDirectory(t.get())) Fail(err, "cannot rewrite the first TIFF directory");
  }
  TIFFClose(t.release());
  if (!err.Error.empty()) throw EncodeError(err.Error);
  if (haveExif) RestoreRationals(FileName, dirs);
}

}  // namespace

}  // namespace pixio

using namespace pixio;

extern "C" PIXIO_EXPORT int write_tiff(const TPixioEncode *Info, const TPixioImage *Thumbnail, const char *FileName,
                                       const uint8_t *Exif, uint32_t ExifLen, int UpdateSoftware) {
  return GuardedEncode("TIFF", [&] {
    if (!Info) throw EncodeError("no encode record");
    Encode(*Info, Thumbnail, FileName, Exif, ExifLen, UpdateSoftware != 0);
  });
}
