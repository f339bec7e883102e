// PNG decoding over libpng: 8 or 16 bits per sample, palette and tRNS expanded,
// bKGD, iCCP and pHYs reported; libpng errors come back through longjmp.
#include "pixio/PixioInternal.h"

#include <png.h>

#include <csetjmp>
#include <vector>

namespace pixio {

namespace {

struct PngSource {
  std::span<const uint8_t> Data;
  size_t Pos = 0;
};

struct PngState {
  std::string Error;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t len) {
  auto *src = static_cast<PngSource *>(png_get_io_ptr(png));
  if (len > src->Data.size() - src->Pos) png_error(png, "file is truncated");
  std::memcpy(out, src->Data.data() + src->Pos, len);
  src->Pos += len;
}

void OnError(png_structp png, png_const_charp msg) {
  auto *st = static_cast<PngState *>(png_get_error_ptr(png));
  st->Error = msg ? msg : "libpng error";
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp msg) { ReportMessage("PNG", msg ? msg : "warning"); }

// Scales a bKGD sample of the given bit depth to 8 bits.
uint32_t Scale8(uint32_t v, int depth) {
  if (depth >= 16) return v >> 8;
  if (depth == 8) return v & 0xFF;
  const uint32_t max = (1u << depth) - 1;
  return (v & max) * 255 / max;
}

struct PngHandles {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngHandles() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

// The libpng calls live in these two functions, each arming its own setjmp,
// with no C++ objects that a longjmp could skip.
bool ReadHeader(PngHandles &h, PngSource &src, TPixioDecode &Info, const PngLayout &Layout) {
  if (setjmp(png_jmpbuf(h.png))) return false;
  png_set_read_fn(h.png, &src, ReadFromMemory);
  png_read_info(h.png, h.info);
  png_set_expand(h.png);  // palette to RGB, gray below 8 bits to 8, tRNS to alpha
  if (png_get_bit_depth(h.png, h.info) == 16) png_set_swap(h.png);
  png_set_interlace_handling(h.png);
  if (!(Layout.Rgb16 && png_get_bit_depth(h.png, h.info) == 16)) png_set_bgr(h.png);
  if (Layout.WidenGrayAlpha) {
    const int ct = png_get_color_type(h.png, h.info);
    if (ct == PNG_COLOR_TYPE_GRAY_ALPHA ||
        (ct == PNG_COLOR_TYPE_GRAY && png_get_valid(h.png, h.info, PNG_INFO_tRNS))) {
      png_set_gray_to_rgb(h.png);
      Info.IsGrayAlpha = 1;
    }
  }
  png_read_update_info(h.png, h.info);
  return true;
}

bool ReadPixels(PngHandles &h, png_bytep *rows) {
  if (setjmp(png_jmpbuf(h.png))) return false;
  png_read_image(h.png, rows);
  return true;
}

// What follows the image data: the rest of the last IDAT's stream, later
// chunks and IEND.
bool ReadEnd(PngHandles &h) {
  if (setjmp(png_jmpbuf(h.png))) return false;
  png_read_end(h.png, nullptr);
  return true;
}

}  // namespace

void DecodePng(TPixioDecode &Info, std::span<const uint8_t> Data, const PngLayout &Layout) {
  if (Data.size() < 8 || png_sig_cmp(Data.data(), 0, 8) != 0) throw DecodeError("not a PNG file");
  PngState st;
  PngSource src{Data, 0};
  PngHandles h;
  h.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &st, OnError, OnWarning);
  if (!h.png) throw DecodeError("libpng initialisation failed");
  h.info = png_create_info_struct(h.png);
  if (!h.info) throw DecodeError("libpng initialisation failed");
  png_set_user_limits(h.png, MaxSide, MaxSide);
  png_set_chunk_malloc_max(h.png, 64u << 20);

  if (!ReadHeader(h, src, Info, Layout)) throw DecodeError(st.Error);
  const uint32_t w = png_get_image_width(h.png, h.info);
  const uint32_t ht = png_get_image_height(h.png, h.info);
  const uint32_t ch = png_get_channels(h.png, h.info);
  const uint32_t depth = png_get_bit_depth(h.png, h.info);
  AllocImage(Info, w, ht, ch, depth == 16 ? 16 : 8);
  if (png_get_rowbytes(h.png, h.info) > size_t(w) * ch * (depth == 16 ? 2 : 1))
    throw DecodeError("unexpected row size");

  png_byte *iccData = nullptr;
  png_uint_32 iccLen = 0;
  png_charp iccName = nullptr;
  int iccComp = 0;
  if (png_get_iCCP(h.png, h.info, &iccName, &iccComp, &iccData, &iccLen) && iccData)
    AttachProfile(Info, iccData, iccLen);

  if (Info.WantBGColor) {
    png_color_16p bg = nullptr;
    if (png_get_bKGD(h.png, h.info, &bg) && bg) {
      const int ct = png_get_color_type(h.png, h.info);
      const int bd = png_get_bit_depth(h.png, h.info);
      uint32_t r, g, b;
      if (ct == PNG_COLOR_TYPE_PALETTE) {
        png_colorp pal = nullptr;
        int n = 0;
        if (png_get_PLTE(h.png, h.info, &pal, &n) && bg->index < n) {
          r = pal[bg->index].red, g = pal[bg->index].green, b = pal[bg->index].blue;
          Info.BGColor = r | (g << 8) | (b << 16);
          Info.HasBGColor = 1;
        }
      } else if (ct & PNG_COLOR_MASK_COLOR) {
        r = Scale8(bg->red, bd), g = Scale8(bg->green, bd), b = Scale8(bg->blue, bd);
        Info.BGColor = r | (g << 8) | (b << 16);
        Info.HasBGColor = 1;
      } else {
        g = Scale8(bg->gray, bd);
        Info.BGColor = g | (g << 8) | (g << 16);
        Info.HasBGColor = 1;
      }
    }
  }

  png_uint_32 rx = 0, ry = 0;
  int unit = 0;
  if (png_get_pHYs(h.png, h.info, &rx, &ry, &unit)) {
    Info.XResolution = rx;
    Info.YResolution = ry;
    Info.ResolutionUnit = unit == PNG_RESOLUTION_METER ? 3 : 0;
  }

  std::vector<png_bytep> rows(ht);
  for (uint32_t y = 0; y < ht; ++y) rows[y] = Row(Info, y, Layout.TopDown);
  if (!ReadPixels(h, rows.data())) throw DecodeError(st.Error);
  // Every row is there: damage after the image data costs no pixel.
  if (!ReadEnd(h)) ReportMessage("PNG", "damaged data after the complete image was ignored: " + st.Error);
}

}  // namespace pixio
