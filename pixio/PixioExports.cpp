// The C entry points of the codec library. Each one clears the output fields,
// runs its decoder under a guard and reports failures through the error
// callback; no exception and no libjpeg/libpng longjmp ever leaves the library.
#include "pixio/PixioInternal.h"

#include <libheif/heif.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

using namespace pixio;

namespace {

// Output fields only: whatever the caller left in them is not ours to free.
void ClearOutputs(TPixioDecode &Info) {
  Info.Mem = nullptr;
  Info.ICCProfile = nullptr;
  ReleaseImage(Info);
}

std::span<const uint8_t> Bytes(const uint8_t *Data, size_t Size) {
  if (!Data || Size == 0) throw DecodeError("no data");
  return {Data, Size};
}

int DecodeWic(TPixioDecode *Info, const uint8_t *Data, size_t Size, bool Thumbnail) {
  if (Info) ClearOutputs(*Info);
  return Guarded("WIC", Info, [&] {
    const auto d = Bytes(Data, Size);
    const WicRequest req{Thumbnail};
    switch (DetectWicFormat(d)) {
      case WicFormat::Png: DecodePng(*Info, d, PngLayout{true, true, true}); break;
      case WicFormat::Jpeg: {
        // A reduced decode is the cheap thumbnail for JPEG; the full decode ignores the JPEG-only requests.
        TPixioDecode j{};
        j.ScaleDenom = 1;
        if (Thumbnail) {
          TPixioWICInfo wi{};
          if (ReadWicInfo(wi, d))
            while (j.ScaleDenom < 8 && std::max(wi.Width, wi.Height) / uint32_t(j.ScaleDenom * 2) >= 640) j.ScaleDenom *= 2;
        }
        try {
          DecodeJpeg(j, d, true);
        } catch (...) {
          ReleaseImage(j);
          throw;
        }
        Info->Mem = j.Mem, Info->Width = j.Width, Info->Height = j.Height, Info->Bpl = j.Bpl;
        Info->Channels = j.Channels, Info->BitsPerSample = j.BitsPerSample;
        Info->ICCProfile = j.ICCProfile, Info->ProfileLen = j.ProfileLen;
        Info->IsCMYK = j.IsCMYK, Info->IsInvertedCMYK = j.IsInvertedCMYK;
        Info->XResolution = j.XResolution, Info->YResolution = j.YResolution, Info->ResolutionUnit = j.ResolutionUnit;
        break;
      }
      case WicFormat::Tiff: DecodeTiff(*Info, d, req); break;
      case WicFormat::Gif: DecodeGif(*Info, d); break;
      case WicFormat::WebP: DecodeWebP(*Info, d); break;
      case WicFormat::Heif: DecodeHeif(*Info, d, req); break;
      case WicFormat::Jxr: DecodeJxr(*Info, d); break;
      case WicFormat::Ico: DecodeIco(*Info, d); break;
      default: throw DecodeError("unknown image format");
    }
  });
}

void AppendUtf8(std::string &out, uint32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6)), out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12)), out += char(0x80 | ((c >> 6) & 0x3F)), out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18)), out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F)), out += char(0x80 | (c & 0x3F));
  }
}

std::string WideToUtf8(const wchar_t *s) {
  std::string out;
  for (; *s; ++s) {
    uint32_t c = uint32_t(*s);
    if (c >= 0xD800 && c <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {  // a UTF-16 pair, if a caller sends one
      c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(s[1]) - 0xDC00);
      ++s;
    }
    AppendUtf8(out, c > 0x10FFFF ? 0xFFFD : c);
  }
  return out;
}

// A read-only view of a whole file; probing reads only the headers of most
// formats, so the pages behind the rest are never touched.
class MappedFile {
public:
  explicit MappedFile(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw DecodeError("cannot open " + path);
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      throw DecodeError("not a regular file: " + path);
    }
    FLen = size_t(st.st_size);
    if (FLen) FBase = mmap(nullptr, FLen, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (FLen && FBase == MAP_FAILED) throw DecodeError("cannot read " + path);
  }
  ~MappedFile() {
    if (FBase != MAP_FAILED && FLen) munmap(FBase, FLen);
  }
  MappedFile(const MappedFile &) = delete;
  MappedFile &operator=(const MappedFile &) = delete;
  std::span<const uint8_t> Bytes() const {
    if (!FLen) return {};
    return {static_cast<const uint8_t *>(FBase), FLen};
  }

private:
  void *FBase = MAP_FAILED;
  size_t FLen = 0;
};

// ReadWicInfo for read_wic_info: a file that is one of the known formats by
// its first bytes but whose header gives no size is refused with that reason
// (a file of no known format is simply not one of ours).
bool ReadKnownWicInfo(TPixioWICInfo &Info, std::span<const uint8_t> Data) {
  if (ReadWicInfo(Info, Data)) return true;
  if (DetectWicFormat(Data) != WicFormat::Unknown) throw DecodeError("the file's header gives no image size");
  return false;
}

template <class F>
int GuardInfo(F &&Body) {
  try {
    return Body() ? 1 : 0;
  } catch (const std::exception &e) {
    ReportMessage("WIC", e.what());
  } catch (...) {
    ReportMessage("WIC", "unknown error");
  }
  return 0;
}

}  // namespace

extern "C" {

PIXIO_EXPORT int read_png(TPixioDecode *Info, const uint8_t *Data, size_t Size) {
  if (Info) ClearOutputs(*Info);
  return Guarded("PNG", Info, [&] { DecodePng(*Info, Bytes(Data, Size), PngLayout{}); });
}

PIXIO_EXPORT int read_jpeg(TPixioDecode *Info, const uint8_t *Data, size_t Size) {
  if (Info) ClearOutputs(*Info);
  return Guarded("JPEG", Info, [&] { DecodeJpeg(*Info, Bytes(Data, Size), false); });
}

PIXIO_EXPORT int read_wic(TPixioDecode *Info, const uint8_t *Data, size_t Size) {
  return DecodeWic(Info, Data, Size, false);
}

PIXIO_EXPORT int read_wic_thumbnail(TPixioDecode *Info, const uint8_t *Data, size_t Size) {
  return DecodeWic(Info, Data, Size, true);
}

PIXIO_EXPORT int read_wic_info(const wchar_t *FileName, TPixioWICInfo *Info) {
  if (!FileName || !Info) return 0;
  return GuardInfo([&] {
    const MappedFile file(WideToUtf8(FileName));
    return !file.Bytes().empty() && ReadKnownWicInfo(*Info, file.Bytes());
  });
}

PIXIO_EXPORT int read_wic_info2(TPixioWICInfo *Info, const uint8_t *Data, size_t Size) {
  if (!Info || !Data || !Size) return 0;
  return GuardInfo([&] { return ReadKnownWicInfo(*Info, {Data, Size}); });
}

PIXIO_EXPORT int enumextensions(TPixioExtensionProc Proc, void *Context) {
  if (!Proc) return 0;
  static const wchar_t *const fixed[] = {L".tif", L".tiff", L".gif", L".webp", L".jxr", L".wdp", L".hdp",
                                         L".ico", L".cur", L".png", L".jpg", L".jpeg", L".jpe", L".jfif"};
  for (const wchar_t *e : fixed) Proc(Context, e);
  // HEIF and AVIF only when this libheif build carries the decoder.
  if (heif_have_decoder_for_format(heif_compression_HEVC)) {
    Proc(Context, L".heic");
    Proc(Context, L".heif");
  }
  if (heif_have_decoder_for_format(heif_compression_AV1)) Proc(Context, L".avif");
  return 1;
}

PIXIO_EXPORT void set_errormsg_callback(TPixioErrorProc Proc) { SetErrorCallback(Proc); }

}  // extern "C"
