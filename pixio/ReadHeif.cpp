// HEIF and AVIF decoding over libheif: the primary image (or its thumbnail on
// request), 8-bit as B,G,R(,A), deeper sources widened to 16 bits in R,G,B(,A).
#include "pixio/PixioInternal.h"

#include <libheif/heif.h>

#include <memory>

namespace pixio {

namespace {

struct CtxCloser {
  void operator()(heif_context *c) const { heif_context_free(c); }
};
struct HandleCloser {
  void operator()(heif_image_handle *h) const { heif_image_handle_release(h); }
};
struct ImageCloser {
  void operator()(heif_image *i) const { heif_image_release(i); }
};
using HandlePtr = std::unique_ptr<heif_image_handle, HandleCloser>;

void Check(const heif_error &e) {
  if (e.code != heif_error_Ok) throw DecodeError(e.message ? e.message : "damaged HEIF file");
}

}  // namespace

void DecodeHeif(TPixioDecode &Info, std::span<const uint8_t> Data, const WicRequest &Req) {
  std::unique_ptr<heif_context, CtxCloser> ctx(heif_context_alloc());
  if (!ctx) throw DecodeError("out of memory");
  heif_context_set_maximum_image_size_limit(ctx.get(), int(MaxSide));
  Check(heif_context_read_from_memory_without_copy(ctx.get(), Data.data(), Data.size(), nullptr));
  heif_image_handle *raw = nullptr;
  Check(heif_context_get_primary_image_handle(ctx.get(), &raw));
  HandlePtr primary(raw);
  HandlePtr thumb;
  if (Req.Thumbnail && heif_image_handle_get_number_of_thumbnails(primary.get()) > 0) {
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_thumbnail_IDs(primary.get(), &id, 1) == 1) {
      heif_image_handle *t = nullptr;
      if (heif_image_handle_get_thumbnail(primary.get(), id, &t).code == heif_error_Ok) thumb.reset(t);
    }
  }
  heif_image_handle *h = thumb ? thumb.get() : primary.get();
  const bool alpha = heif_image_handle_has_alpha_channel(h);
  const int bits = heif_image_handle_get_luma_bits_per_pixel(h);
  const bool deep = bits > 8;
  const heif_chroma chroma = deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                  : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
  heif_image *imgRaw = nullptr;
  Check(heif_decode_image(h, &imgRaw, heif_colorspace_RGB, chroma, nullptr));
  std::unique_ptr<heif_image, ImageCloser> img(imgRaw);
  int stride = 0;
  const uint8_t *plane = heif_image_get_plane_readonly(img.get(), heif_channel_interleaved, &stride);
  const int w = heif_image_get_width(img.get(), heif_channel_interleaved);
  const int ht = heif_image_get_height(img.get(), heif_channel_interleaved);
  if (!plane || w <= 0 || ht <= 0 || stride <= 0) throw DecodeError("decoder delivered no pixels");
  const uint32_t ch = alpha ? 4 : 3;
  if (size_t(stride) < size_t(w) * ch * (deep ? 2 : 1)) throw DecodeError("decoder delivered short rows");
  AllocImage(Info, uint32_t(w), uint32_t(ht), ch, deep ? 16 : 8);
  const int planeBits = deep ? heif_image_get_bits_per_pixel_range(img.get(), heif_channel_interleaved) : 8;
  for (uint32_t y = 0; y < Info.Height; ++y) {
    const uint8_t *s = plane + size_t(y) * size_t(stride);
    uint8_t *d = Row(Info, y, true);
    if (!deep) {
      for (uint32_t x = 0; x < Info.Width; ++x, s += ch, d += ch) {
        d[0] = s[2], d[1] = s[1], d[2] = s[0];
        if (ch == 4) d[3] = s[3];
      }
      continue;
    }
    // Samples of 10 or 12 bits are widened by repeating their top bits.
    const int shift = 16 - (planeBits > 8 && planeBits <= 16 ? planeBits : 16);
    const auto *s16 = reinterpret_cast<const uint16_t *>(s);
    auto *d16 = reinterpret_cast<uint16_t *>(d);
    for (size_t i = 0; i < size_t(Info.Width) * ch; ++i) {
      const uint32_t v = s16[i];
      d16[i] = shift ? uint16_t((v << shift) | (v >> (planeBits - shift))) : uint16_t(v);
    }
  }
  const size_t iccLen = heif_image_handle_get_raw_color_profile_size(primary.get());
  if (iccLen > 0 && iccLen < (64u << 20)) {
    std::string icc(iccLen, '\0');
    if (heif_image_handle_get_raw_color_profile(primary.get(), icc.data()).code == heif_error_Ok)
      AttachProfile(Info, reinterpret_cast<const uint8_t *>(icc.data()), iccLen);
  }
}

}  // namespace pixio
