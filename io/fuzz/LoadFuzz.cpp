// libFuzzer target: arbitrary bytes through the BMP reader (as a file and as
// a plug-in DIB, under each alpha rule) and through the header probes, the
// probe order of an archive member and the Exif probe parse behind them.
#include "io/Bitmap.h"
#include "core/Errors.h"
#include "io/ExifReader.h"
#include "io/FormatOption.h"
#include "io/ImageProbe.h"

#include <cstring>

namespace {

// Every decoded pixel is read once, so a row or stride the reader got wrong
// shows up under the sanitizers.
void Touch(const TICCImgInfo &Img) {
  volatile uint32_t sum = 0;
  const size_t n = size_t(Img.Width) * Img.Channels * (Img.BPP == BPP_8 ? 1 : 2);
  for (uint32_t y = 0; y < Img.Height; ++y) {
    const uint8_t *row = ScanLine(Img, y);
    for (size_t i = 0; i < n; ++i) sum = sum + row[i];
  }
}

void Decode(const uint8_t *Data, size_t Size, int32_t AlphaCheck, bool Plugin, bool AsDIB) {
  TICCImgInfo img{};
  try {
    if (AsDIB) LoadDIBFromMemory(Data, Size, nullptr, 0, img, AlphaCheck, Plugin);
    else LoadBitmapFromMemory(Data, Size, img, AlphaCheck, Plugin);
  } catch (const ETessivoError &) {
    if (img.Mem) __builtin_trap();  // a refusal leaves nothing behind
    return;
  }
  Touch(img);
  FlipImageVertical(img);
  FreeICCImgInfo(img, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  static const bool once = [] {
    SetLoadErrorProc([](const std::string &) {});
    return true;
  }();
  (void)once;
  if (Size < 1) return 0;
  const uint8_t mode = Data[0];
  const uint8_t *d = Data + 1;
  const size_t n = Size - 1;

  // The reader sees the bytes as a file; a leading "BM" is supplied when
  // missing so that most inputs reach the headers.
  std::vector<uint8_t> file;
  if (n >= 2 && d[0] == 'B' && d[1] == 'M') {
    file.assign(d, d + n);
  } else {
    file = {'B', 'M'};
    file.insert(file.end(), d, d + n);
  }
  Decode(file.data(), file.size(), mode % 3, (mode & 4) != 0, false);
  Decode(d, n, mode % 3, (mode & 8) != 0, true);

  // Header probes on the raw bytes and with each signature in front.
  TImageProbe e;
  ProbeBitmapHeader(d, n, e);
  ProbePNGHeader(d, n, e);
  ProbeJPEGHeader(d, n, e);
  static const uint8_t png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<uint8_t> p(png, png + sizeof png);
  p.insert(p.end(), d, d + n);
  ProbePNGHeader(p.data(), p.size(), e);
  std::vector<uint8_t> j = {0xFF, 0xD8};
  j.insert(j.end(), d, d + n);
  ProbeJPEGHeader(j.data(), j.size(), e);

  // The whole probe order of an archive member.
  TArchiveMemberInfo m;
  m.FileName = (mode & 16) ? "x.jpg" : (mode & 32) ? "x.png" : "x.bmp";
  m.FileSize = uint32_t(j.size());
  TImageProbe member;
  ProbeArchiveMember("/nonexistent/archive.zip", m, nullptr, j.data(), j.size(), member);
  return 0;
}
