// read_jpeginfo: size, colour space, MCU size and embedded ICC profile of a
// JPEG file, from its header alone.
#include "wemb/WembInternal.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace wemb {
namespace {

void ReadJpegInfo(TWembJpegInfo &Info, const uint8_t *Bytes, uint32_t Count) {
  Info = TWembJpegInfo{};
  TDecoder src(Bytes, Count);
  jpeg_save_markers(&src.Info, JPEG_APP0 + 2, 0xFFFF);
  src.ReadHeader();
  const jpeg_decompress_struct &s = src.Info;
  switch (s.jpeg_color_space) {
    case JCS_GRAYSCALE: Info.ColorSpace = WEMB_CS_GRAY; break;
    case JCS_YCbCr:
    case JCS_RGB: Info.ColorSpace = WEMB_CS_YCBCR; break;
    case JCS_CMYK:
    case JCS_YCCK: Info.ColorSpace = WEMB_CS_CMYK; break;
    default: throw TWembError("the JPEG has an unknown colour space");
  }
  Info.Width = int32_t(s.image_width);
  Info.Height = int32_t(s.image_height);
  Info.MCUWidth = s.num_components == 1 ? 1 : s.max_h_samp_factor;
  Info.MCUHeight = s.num_components == 1 ? 1 : s.max_v_samp_factor;

  JOCTET *icc = nullptr;
  unsigned int iccLen = 0;
  if (jpeg_read_icc_profile(&src.Info, &icc, &iccLen) && icc && iccLen) {
    std::unique_ptr<JOCTET, decltype(&std::free)> owned(icc, &std::free);
    void *page = mmap(nullptr, iccLen, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) throw TWembError("out of memory for the ICC profile");
    std::memcpy(page, icc, iccLen);
    Info.ICCProfile = static_cast<uint8_t *>(page);
    Info.ICCLength = iccLen;
  }
}

}  // namespace
}  // namespace wemb

extern "C" int read_jpeginfo(TWembJpegInfo *Info, const uint8_t *Bytes, uint32_t Count) {
  if (!Info) return 0;
  return wemb::Guarded([&] { wemb::ReadJpegInfo(*Info, Bytes, Count); });
}
