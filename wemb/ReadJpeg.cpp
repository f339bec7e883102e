// read_jpeg: decodes a JPEG into page-allocated memory with bottom-up rows,
// optionally reduced by 2, 4 or 8 in the decoder's DCT.
#include "wemb/WembInternal.h"

#include <sys/mman.h>

namespace wemb {
namespace {

void ReadJpeg(TWembImage &Image, const uint8_t *Bytes, uint32_t Count) {
  const int scale = Image.Scale;
  if (scale != 1 && scale != 2 && scale != 4 && scale != 8) throw TWembError("scale must be 1, 2, 4 or 8");
  Image.Mem = nullptr;
  TDecoder src(Bytes, Count);
  src.ReadHeader();
  jpeg_decompress_struct &s = src.Info;
  switch (s.jpeg_color_space) {
    case JCS_GRAYSCALE: s.out_color_space = JCS_GRAYSCALE; break;
    case JCS_CMYK:
    case JCS_YCCK: s.out_color_space = JCS_CMYK; break;
    default: s.out_color_space = JCS_EXT_BGR; break;
  }
  s.scale_num = 1;
  s.scale_denom = unsigned(scale);
  jpeg_start_decompress(&s);
  const uint32_t w = s.output_width, h = s.output_height, ch = uint32_t(s.output_components);
  const uint32_t bpl = (w * ch + 3) & ~3u;
  const size_t bytes = size_t(bpl) * h;
  void *page = mmap(nullptr, bytes ? bytes : 1, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) throw TWembError("out of memory for the decoded picture");
  auto *mem = static_cast<uint8_t *>(page);
  try {
    while (s.output_scanline < h) {
      JSAMPROW row = mem + size_t(h - 1 - s.output_scanline) * bpl;  // bottom-up
      jpeg_read_scanlines(&s, &row, 1);
    }
    jpeg_finish_decompress(&s);
    src.CheckWarnings();
  } catch (...) {
    munmap(page, bytes ? bytes : 1);
    throw;
  }
  Image.Mem = mem;
  Image.Width = w;
  Image.Height = h;
  Image.Bpl = bpl;
  Image.Channels = ch;
}

}  // namespace
}  // namespace wemb

extern "C" int read_jpeg(TWembImage *Image, const uint8_t *Bytes, uint32_t Count) {
  if (!Image) return 0;
  return wemb::Guarded([&] { wemb::ReadJpeg(*Image, Bytes, Count); });
}
