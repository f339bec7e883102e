// ifraw.spi: the image-loader plug-in ("00IN") for camera RAW files over
// LibRaw: DNG, CR2, CR3, NEF, ARW, ORF, RW2, RAF and PEF, decoded with the
// camera's white balance into an 8-bit sRGB picture (sRGB primaries and the
// sRGB tone curve, no automatic brightening) handed over as a 24-bit DIB.
//
// The picture is not turned: the host reads the orientation the file
// records the way it reads any Exif orientation, so the rotation step turns
// it (or not) like every other photo.
#include "io/SusieABI.h"
#include "plugins/PluginInfo.h"

#include <libraw/libraw.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const char *const Info[] = {
    SPI_VERSION_IMAGE,
    "ifraw.spi 1.0 (LibRaw): camera RAW files",
    "*.dng;*.cr2;*.cr3;*.nef;*.arw;*.orf;*.rw2;*.raf;*.pef",
    "Camera RAW files",
};

bool Starts(const uint8_t *H, size_t At, const char *Magic, size_t Len) { return std::memcmp(H + At, Magic, Len) == 0; }

// The containers by their first bytes: TIFF (DNG, CR2, NEF, ARW, PEF) in
// either byte order, Olympus' and Panasonic's TIFF variants, Fujifilm's
// RAF and Canon's CR3 (an ISO media file of brand "crx ").
bool KnownContainer(const uint8_t *H) {
  return Starts(H, 0, "II*\0", 4) || Starts(H, 0, "MM\0*", 4) || Starts(H, 0, "IIRO", 4) ||
         Starts(H, 0, "IIRS", 4) || Starts(H, 0, "MMOR", 4) || Starts(H, 0, "IIU\0", 4) ||
         Starts(H, 0, "FUJIFILMCCD-RAW", 15) || (Starts(H, 4, "ftyp", 4) && Starts(H, 8, "crx ", 4));
}

// A LibRaw decoder set up for our output, with the source opened.
std::unique_ptr<LibRaw> Open(const char *Buf, intptr_t Len, unsigned Flag, int &Result) {
  auto raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
  libraw_output_params_t &p = raw->imgdata.params;
  p.use_camera_wb = 1;
  p.output_color = 1;  // sRGB
  p.output_bps = 8;
  p.gamm[0] = 1 / 2.4;  // the sRGB curve: power 1/2.4 with a linear toe of slope 12.92
  p.gamm[1] = 12.92;
  p.no_auto_bright = 1;
  p.user_flip = 0;
  int r;
  if ((Flag & SPI_INPUT_MASK) == SPI_INPUT_MEMORY) {
    if (Len <= 0) {
      Result = SPI_BROKEN_DATA;
      return nullptr;
    }
    r = raw->open_buffer(const_cast<char *>(Buf), size_t(Len));
  } else {
    r = raw->open_file(Buf);
  }
  if (r != LIBRAW_SUCCESS) {
    Result = r == LIBRAW_FILE_UNSUPPORTED ? SPI_UNKNOWN_FORMAT
             : r == LIBRAW_IO_ERROR      ? SPI_FILE_READ_ERROR
             : r == LIBRAW_UNSUFFICIENT_MEMORY ? SPI_NO_MEMORY
                                               : SPI_BROKEN_DATA;
    return nullptr;
  }
  Result = SPI_SUCCESS;
  return raw;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int GetPluginInfo(int infono, char *buf, int buflen) {
  return AnswerPluginInfo(Info, sizeof Info / sizeof Info[0], infono, buf, buflen);
}

__attribute__((visibility("default"))) int IsSupported(const char *, const void *head) {
  return head && KnownContainer(static_cast<const uint8_t *>(head)) ? 1 : 0;
}

__attribute__((visibility("default"))) int GetPictureInfo(const char *buf, intptr_t len, unsigned int flag,
                                                          SusiePictureInfo *lpInfo) {
  if (!buf || !lpInfo) return SPI_INTERNAL_ERROR;
  try {
    int r;
    std::unique_ptr<LibRaw> raw = Open(buf, len, flag, r);
    if (!raw) return r;
    raw->adjust_sizes_info_only();
    const libraw_image_sizes_t &s = raw->imgdata.sizes;
    if (s.iwidth == 0 || s.iheight == 0) return SPI_BROKEN_DATA;
    *lpInfo = {};
    lpInfo->width = s.iwidth;
    lpInfo->height = s.iheight;
    lpInfo->colorDepth = 24;
    return SPI_SUCCESS;
  } catch (...) {
    return SPI_INTERNAL_ERROR;
  }
}

__attribute__((visibility("default"))) int GetPicture(const char *buf, intptr_t len, unsigned int flag,
                                                      void **pHBInfo, void **pHBm, SusieProgressCallback, intptr_t) {
  if (!buf || !pHBInfo || !pHBm) return SPI_INTERNAL_ERROR;
  *pHBInfo = *pHBm = nullptr;
  try {
    int r;
    std::unique_ptr<LibRaw> raw = Open(buf, len, flag, r);
    if (!raw) return r;
    if (raw->unpack() != LIBRAW_SUCCESS) return SPI_BROKEN_DATA;
    if (raw->dcraw_process() != LIBRAW_SUCCESS) return SPI_BROKEN_DATA;
    int err = 0;
    libraw_processed_image_t *img = raw->dcraw_make_mem_image(&err);
    if (!img) return err == ENOMEM ? SPI_NO_MEMORY : SPI_BROKEN_DATA;
    std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t *)> owned(
        img, [](libraw_processed_image_t *p) { LibRaw::dcraw_clear_mem(p); });
    if (img->type != LIBRAW_IMAGE_BITMAP || img->bits != 8 || (img->colors != 3 && img->colors != 1))
      return SPI_BROKEN_DATA;
    const uint32_t w = img->width, h = img->height;
    // DIB rows are bottom-up, BGR, padded to four bytes.
    const size_t stride = (size_t(w) * 3 + 3) & ~size_t(3);
    auto *info = static_cast<SusieBitmapInfoHeader *>(std::calloc(1, sizeof(SusieBitmapInfoHeader)));
    auto *bits = static_cast<uint8_t *>(std::calloc(stride * h, 1));
    if (!info || !bits) {
      std::free(info);
      std::free(bits);
      return SPI_NO_MEMORY;
    }
    info->biSize = sizeof(SusieBitmapInfoHeader);
    info->biWidth = int32_t(w);
    info->biHeight = int32_t(h);
    info->biPlanes = 1;
    info->biBitCount = 24;
    info->biSizeImage = uint32_t(stride * h);
    for (uint32_t y = 0; y < h; ++y) {
      const uint8_t *src = img->data + size_t(y) * w * img->colors;
      uint8_t *dst = bits + size_t(h - 1 - y) * stride;
      for (uint32_t x = 0; x < w; ++x, src += img->colors, dst += 3) {
        const uint8_t r8 = src[0], g8 = img->colors == 3 ? src[1] : src[0], b8 = img->colors == 3 ? src[2] : src[0];
        dst[0] = b8;
        dst[1] = g8;
        dst[2] = r8;
      }
    }
    *pHBInfo = info;
    *pHBm = bits;
    return SPI_SUCCESS;
  } catch (...) {
    return SPI_INTERNAL_ERROR;
  }
}

}  // extern "C"
