// libFuzzer target: arbitrary bytes as an Exif TIFF structure through the
// probe parse, the save-time patch of the carrier and the console tool's
// rebuilds. A rebuilt structure must read back as sound.
#include "io/ExifReader.h"
#include "io/JpegSegment.h"

#include <cstdlib>
#include <cstring>

namespace {

TICCImgInfo SmallImage() {
  TICCImgInfo img{};
  img.Width = 5, img.Height = 3, img.Channels = 3, img.BPP = BPP_8, img.PixelFormat = PIXFMT_BGR;
  img.Bpl = GetAlignedBpl(5, 3);
  img.Mem = AllocPixelBlock(img.Bpl, 3);
  return img;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 1) return 0;
  const uint8_t mode = Data[0];
  const std::span<const uint8_t> tiff(Data + 1, std::min<size_t>(Size - 1, EXIF_MAX_TIFF_SIZE));
  static TICCImgInfo img = SmallImage();
  SetLoadErrorProc([](const std::string &) {});

  // Probe parse.
  TImageProbe e;
  ParseExifIFDs(e, tiff.data(), tiff.size(), 0, tiff.size());

  // Save-time patch of a carrier holding the structure.
  std::vector<uint8_t> carrier = {0xFF, 0xD8, 0xFF, 0xE1};
  const size_t len = tiff.size() + 8;
  carrier.push_back(uint8_t(len >> 8));
  carrier.push_back(uint8_t(len));
  carrier.insert(carrier.end(), {'E', 'x', 'i', 'f', 0, 0});
  carrier.insert(carrier.end(), tiff.begin(), tiff.end());
  carrier.insert(carrier.end(), {0xFF, 0xD9});
  TExifSaveOptions opt;
  opt.DeleteGPSInfoIFD = mode & 1;
  opt.UpdateExifThumbnail = mode & 2;
  opt.UpdateSoftwareTag = mode & 4;
  e.FExifPos = (mode & 8) ? 0 : 2;
  const auto payload = GetExifInfo(e, carrier.data(), carrier.size(), mode & 16, img, nullptr, mode & 32, mode & 64,
                                   nullptr, opt);
  if (!payload.empty() && payload.size() > EXIF_MAX_PAYLOAD) abort();

  std::vector<uint8_t> block(tiff.begin(), tiff.end());
  try {
    BlankGPSInfo(block);
  } catch (const EExifBroken &) {
  }

  // Console tool.
  TExifReader r;
  if (!r.SetStream(tiff)) return 0;
  TExifInfo info;
  double date;
  r.ReadExifInfo(info, date);
  info.Flags = mode & 0x7F;
  TExifWriteOptions wo;
  wo.DeleteGPSInfo = mode & 1;
  wo.DeleteThumbnail = mode & 128;
  wo.UpdateThumbnail = mode & 2;
  wo.EncodeThumbnail = [](int32_t Q) { return std::vector<uint8_t>(size_t(200 - Q), 0xAB); };
  auto check = [](const std::vector<uint8_t> &Out) {
    if (Out.size() > EXIF_MAX_TIFF_SIZE) abort();
    TExifReader again;
    if (!again.SetStream(Out)) abort();
    TExifInfo i2;
    double d2;
    if (!again.ReadExifInfo(i2, d2)) abort();
    // A rebuilt structure must rebuild again.
    try {
      again.WriteExifInfoWithoutMakerNote(i2, TExifWriteOptions{});
    } catch (const EExifBroken &) {
      abort();
    }
  };
  try {
    r.OverWriteExifInfo(info, wo);
  } catch (const EExifBroken &) {
  }
  for (int pass = 0; pass < 2; ++pass) {
    try {
      check(pass ? r.WriteExifInfoWithoutMakerNote(info, wo) : r.WriteExifInfo(info, wo));
    } catch (const EExifBroken &) {
    } catch (const ETessivoError &x) {
      if (std::strcmp(x.what(), EXIF_SIZE_OVER_MESSAGE) != 0) abort();
    }
  }
  return 0;
}
