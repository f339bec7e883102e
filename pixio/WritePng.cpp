// PNG encoding over libpng into a file descriptor: 8 or 16 bits per sample,
// gray, gray+alpha, colour, colour+alpha or palette (with index 0 transparent
// on request and small palettes packed below 8 bits), filters and level,
// bKGD, iCCP and pHYs.
#include "pixio/WriteInternal.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace pixio {

namespace {

struct PngState {
  int Fd = -1;
  std::string Error;
};

void WriteToFd(png_structp png, png_bytep p, png_size_t n) {
  auto *st = static_cast<PngState *>(png_get_io_ptr(png));
  while (n) {
    const ssize_t w = ::write(st->Fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      // The error path leaves by longjmp, so the text lives in a buffer of the thread.
      thread_local char Message[160];
      std::snprintf(Message, sizeof Message, "cannot write the PNG file: %s",
                    w < 0 ? std::strerror(errno) : "nothing was written");
      png_error(png, Message);
    }
    p += w, n -= size_t(w);
  }
}
void FlushNothing(png_structp) {}

void OnError(png_structp png, png_const_charp msg) {
  auto *st = static_cast<PngState *>(png_get_error_ptr(png));
  st->Error = msg ? msg : "libpng error";
  png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp msg) { ReportMessage("PNG", msg ? msg : "warning"); }

struct PngHandles {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngHandles() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

// Everything the libpng calls need, prepared before the setjmp.
struct PngPlan {
  int ColorType = 0;
  int Depth = 8;
  std::vector<png_bytep> Rows;
  std::vector<uint8_t> Packed;  // repacked palette indexes, when packing applies
  std::vector<png_color> Palette;
  png_byte Trans = 0;
  png_color_16 Background{};
  bool HasBackground = false;
};

// Index I of a row of packed indexes.
inline uint32_t IndexAt(const uint8_t *row, uint32_t x, uint32_t bits) {
  if (bits == 8) return row[x];
  const uint32_t perByte = 8 / bits, shift = 8 - bits * (x % perByte + 1);
  return (row[x / perByte] >> shift) & ((1u << bits) - 1);
}

// The palette entry closest to a colour (the bKGD of a palette image is an index).
png_byte NearestEntry(const std::vector<png_color> &pal, uint32_t rgb) {
  const int r = rgb & 0xFF, g = (rgb >> 8) & 0xFF, b = (rgb >> 16) & 0xFF;
  int best = 0, bestD = INT32_MAX;
  for (size_t i = 0; i < pal.size(); ++i) {
    const int d = (pal[i].red - r) * (pal[i].red - r) + (pal[i].green - g) * (pal[i].green - g) +
                  (pal[i].blue - b) * (pal[i].blue - b);
    if (d < bestD) best = int(i), bestD = d;
  }
  return png_byte(best);
}

void PlanPalette(const TPixioEncode &Info, PngPlan &plan) {
  CheckPalette(Info);
  const uint32_t bits = SampleBits(Info), count = uint32_t(Info.PaletteCount);
  plan.ColorType = PNG_COLOR_TYPE_PALETTE;
  plan.Palette.resize(count);
  for (uint32_t i = 0; i < count; ++i)
    plan.Palette[i] = {Info.Palette[3 * i], Info.Palette[3 * i + 1], Info.Palette[3 * i + 2]};
  uint32_t depth = bits;
  if (Info.SmallPalette && bits == 8 && count <= 16) depth = count <= 2 ? 1 : count <= 4 ? 2 : 4;
  plan.Depth = int(depth);
  const size_t rowBytes = (size_t(Info.Width) * depth + 7) / 8;
  if (depth != bits) plan.Packed.assign(rowBytes * Info.Height, 0);
  for (uint32_t y = 0; y < Info.Height; ++y) {
    const uint8_t *src = EncodeRow(Info, y, false);
    uint8_t *dst = depth != bits ? plan.Packed.data() + rowBytes * y : nullptr;
    for (uint32_t x = 0; x < Info.Width; ++x) {
      const uint32_t v = IndexAt(src, x, bits);
      // An index past the palette would make a file every reader rejects.
      if (v >= count) throw EncodeError("palette index out of range");
      if (dst) dst[x * depth / 8] |= uint8_t(v << (8 - depth - (x * depth) % 8));
    }
    plan.Rows[y] = dst ? dst : const_cast<png_bytep>(src);
  }
  if (Info.WriteBGColor) {
    plan.Background.index = NearestEntry(plan.Palette, Info.BGColor);
    plan.HasBackground = true;
  }
}

void PlanPlain(const TPixioEncode &Info, PngPlan &plan) {
  plan.Depth = int(SampleBits(Info));
  plan.ColorType = Info.Channels == 1   ? PNG_COLOR_TYPE_GRAY
                   : Info.Channels == 2 ? PNG_COLOR_TYPE_GRAY_ALPHA
                   : Info.Channels == 3 ? PNG_COLOR_TYPE_RGB
                                        : PNG_COLOR_TYPE_RGB_ALPHA;
  for (uint32_t y = 0; y < Info.Height; ++y) plan.Rows[y] = const_cast<png_bytep>(EncodeRow(Info, y, false));
  if (Info.WriteBGColor) {
    const uint32_t scale = plan.Depth == 16 ? 257 : 1;
    plan.Background.red = png_uint_16((Info.BGColor & 0xFF) * scale);
    plan.Background.green = png_uint_16(((Info.BGColor >> 8) & 0xFF) * scale);
    plan.Background.blue = png_uint_16(((Info.BGColor >> 16) & 0xFF) * scale);
    plan.Background.gray = png_uint_16((Info.BGColor & 0xFF) * scale);
    plan.HasBackground = true;
  }
}

bool WriteAll(PngHandles &h, PngState &st, const TPixioEncode &Info, PngPlan &plan) {
  if (setjmp(png_jmpbuf(h.png))) return false;
  png_set_write_fn(h.png, &st, WriteToFd, FlushNothing);
  // A damaged or unusual profile costs a warning, never the whole file.
  png_set_benign_errors(h.png, 1);
  png_set_option(h.png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
  png_set_IHDR(h.png, h.info, Info.Width, Info.Height, plan.Depth, plan.ColorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!plan.Palette.empty()) {
    png_set_PLTE(h.png, h.info, plan.Palette.data(), int(plan.Palette.size()));
    if (Info.TransparentIndex0) png_set_tRNS(h.png, h.info, &plan.Trans, 1, nullptr);
  }
  if (Info.ICCProfile && Info.ProfileLen)
    png_set_iCCP(h.png, h.info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE, Info.ICCProfile, Info.ProfileLen);
  if (plan.HasBackground) png_set_bKGD(h.png, h.info, &plan.Background);
  if (const std::span<const uint8_t> exif = FindExifTiff({Info.Exif, Info.Exif ? Info.ExifLen : 0}); !exif.empty())
    png_set_eXIf_1(h.png, h.info, png_uint_32(exif.size()), const_cast<png_bytep>(exif.data()));
  if (Info.PhysX > 0 && Info.PhysY > 0)
    png_set_pHYs(h.png, h.info, png_uint_32(Info.PhysX), png_uint_32(Info.PhysY),
                 Info.PhysUnit == 1 ? PNG_RESOLUTION_METER : PNG_RESOLUTION_UNKNOWN);
  png_set_compression_level(h.png, std::clamp(Info.CompressLevel, 0, 9));
  if (Info.Filter & PNG_ALL_FILTERS) png_set_filter(h.png, PNG_FILTER_TYPE_BASE, Info.Filter & PNG_ALL_FILTERS);
  png_write_info(h.png, h.info);
  if (plan.Palette.empty()) {
    if (Info.Channels >= 3) png_set_bgr(h.png);
    if (plan.Depth == 16) png_set_swap(h.png);
  }
  png_write_image(h.png, plan.Rows.data());
  png_write_end(h.png, h.info);
  return true;
}

}  // namespace

}  // namespace pixio

using namespace pixio;

extern "C" PIXIO_EXPORT int write_png(const TPixioEncode *Info, int Fd) {
  return GuardedEncode("PNG", [&] {
    if (!Info) throw EncodeError("no encode record");
    if (Fd < 0) throw EncodeError("no file to write");
    if (Info->Palette) CheckImage(*Info, {1}, {1, 2, 4, 8});
    else CheckImage(*Info, {1, 2, 3, 4}, {8, 16});
    PngPlan plan;
    plan.Rows.resize(Info->Height);
    if (Info->Palette) PlanPalette(*Info, plan);
    else PlanPlain(*Info, plan);
    PngState st;
    st.Fd = Fd;
    PngHandles h;
    h.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &st, OnError, OnWarning);
    if (!h.png) throw EncodeError("libpng initialisation failed");
    h.info = png_create_info_struct(h.png);
    if (!h.info) throw EncodeError("libpng initialisation failed");
    if (!WriteAll(h, st, *Info, plan)) throw EncodeError(st.Error);
  });
}
