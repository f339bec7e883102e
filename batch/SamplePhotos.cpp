// Generated photo-like JPEG files with Exif.
#include "batch/SamplePhotos.h"

#include "core/Errors.h"
#include "io/ExifReader.h"
#include "core/ImgInfo.h"
#include "effects/Geometry.h"
#include "effects/RotationFilter.h"
#include "io/Pixio.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A big-endian TIFF structure built entry by entry; values longer than four
// bytes go to a data area after the IFDs.
class TTiffBuilder {
public:
  struct TEntry {
    uint16_t Tag, Type;
    uint32_t Count;
    std::vector<uint8_t> Value;
  };
  void Ascii(std::vector<TEntry> &Ifd, uint16_t Tag, const std::string &Text) {
    std::vector<uint8_t> v(Text.begin(), Text.end());
    v.push_back(0);
    Ifd.push_back({Tag, 2, uint32_t(v.size()), v});
  }
  void Short(std::vector<TEntry> &Ifd, uint16_t Tag, uint16_t V) {
    Ifd.push_back({Tag, 3, 1, {uint8_t(V >> 8), uint8_t(V), 0, 0}});
  }
  void Long(std::vector<TEntry> &Ifd, uint16_t Tag, uint32_t V) { Ifd.push_back({Tag, 4, 1, Be32(V)}); }
  void Rational(std::vector<TEntry> &Ifd, uint16_t Tag, uint32_t N, uint32_t D) {
    auto v = Be32(N);
    const auto d = Be32(D);
    v.insert(v.end(), d.begin(), d.end());
    Ifd.push_back({Tag, 5, 1, v});
  }
  static std::vector<uint8_t> Be32(uint32_t V) {
    return {uint8_t(V >> 24), uint8_t(V >> 16), uint8_t(V >> 8), uint8_t(V)};
  }

  // IFD0 followed by the Exif IFD; Ifd0 gets the pointer entry here.
  std::vector<uint8_t> Build(std::vector<TEntry> Ifd0, std::vector<TEntry> ExifIfd) {
    auto Size = [](const std::vector<TEntry> &Ifd) { return uint32_t(2 + Ifd.size() * 12 + 4); };
    Ifd0.push_back({0x8769, 4, 1, Be32(0)});
    std::sort(Ifd0.begin(), Ifd0.end(), [](auto &a, auto &b) { return a.Tag < b.Tag; });
    std::sort(ExifIfd.begin(), ExifIfd.end(), [](auto &a, auto &b) { return a.Tag < b.Tag; });
    const uint32_t Ifd0Pos = 8, ExifPos = Ifd0Pos + Size(Ifd0);
    uint32_t DataPos = ExifPos + Size(ExifIfd);
    for (auto &e : Ifd0)
      if (e.Tag == 0x8769) e.Value = Be32(ExifPos);
    std::vector<uint8_t> Out = {'M', 'M', 0, 42, 0, 0, 0, 8};
    std::vector<uint8_t> Data;
    auto Emit = [&](const std::vector<TEntry> &Ifd) {
      Out.push_back(uint8_t(Ifd.size() >> 8));
      Out.push_back(uint8_t(Ifd.size()));
      for (const auto &e : Ifd) {
        const uint8_t Head[8] = {uint8_t(e.Tag >> 8), uint8_t(e.Tag), uint8_t(e.Type >> 8), uint8_t(e.Type),
                                 uint8_t(e.Count >> 24), uint8_t(e.Count >> 16), uint8_t(e.Count >> 8),
                                 uint8_t(e.Count)};
        Out.insert(Out.end(), Head, Head + 8);
        if (e.Value.size() <= 4) {
          std::vector<uint8_t> v = e.Value;
          v.resize(4, 0);
          Out.insert(Out.end(), v.begin(), v.end());
        } else {
          const auto p = Be32(DataPos + uint32_t(Data.size()));
          Out.insert(Out.end(), p.begin(), p.end());
          Data.insert(Data.end(), e.Value.begin(), e.Value.end());
          if (Data.size() % 2) Data.push_back(0);
        }
      }
      Out.insert(Out.end(), 4, 0);  // no next IFD
    };
    Emit(Ifd0);
    Emit(ExifIfd);
    Out.insert(Out.end(), Data.begin(), Data.end());
    return Out;
  }
};

uint32_t NextRandom(uint32_t &State) {
  State ^= State << 13;
  State ^= State >> 17;
  State ^= State << 5;
  return State;
}

uint8_t Clamp8(double V) { return uint8_t(std::clamp(V, 0.0, 255.0)); }

// Paints a landscape into a bottom-up BGR block.
void PaintLandscape(uint8_t *Mem, uint32_t Bpl, uint32_t W, uint32_t H, uint32_t Seed) {
  uint32_t Rnd = Seed * 2654435761u + 12345u;
  if (Rnd == 0) Rnd = 1;
  const double Phase = (Seed % 97) * 0.37;
  const double SunX = W * (0.2 + 0.6 * ((Seed * 37) % 100) / 100.0), SunY = H * 0.22, SunR = std::min(W, H) * 0.07;
  std::vector<double> Ridge(W), Ridge2(W);
  for (uint32_t x = 0; x < W; ++x) {
    const double u = double(x) / W;
    Ridge[x] = H * (0.55 + 0.08 * std::sin(u * 7.0 + Phase) + 0.03 * std::sin(u * 23.0 + 2 * Phase));
    Ridge2[x] = H * (0.70 + 0.05 * std::sin(u * 11.0 - Phase) + 0.02 * std::sin(u * 41.0));
  }
  for (uint32_t y = 0; y < H; ++y) {
    uint8_t *Row = Mem + size_t(H - 1 - y) * Bpl;  // rows are stored bottom-up
    const double v = double(y) / H;
    for (uint32_t x = 0; x < W; ++x) {
      double r, g, b;
      if (y < Ridge[x]) {  // sky, brighter towards the horizon, with the sun
        r = 90 + 120 * v;
        g = 140 + 90 * v;
        b = 230 - 20 * v;
        const double dx = x - SunX, dy = y - SunY, d = std::sqrt(dx * dx + dy * dy);
        if (d < SunR) r = g = 250, b = 215;
        else if (d < SunR * 3) {
          const double k = 1 - (d - SunR) / (SunR * 2);
          r += 60 * k, g += 50 * k, b += 10 * k;
        }
      } else if (y < Ridge2[x]) {  // far hills
        const double t = (y - Ridge[x]) / std::max(1.0, Ridge2[x] - Ridge[x]);
        r = 70 + 30 * t, g = 100 + 40 * t, b = 90 - 20 * t;
      } else {  // meadow with stripes of texture
        const double t = std::sin(x * 0.05 + y * 0.11) * std::sin(y * 0.031 - x * 0.013);
        r = 80 + 40 * t + 60 * v, g = 130 + 50 * t, b = 40 + 20 * t;
      }
      const double n = double(int32_t(NextRandom(Rnd) & 31) - 16) * 0.6;  // sensor noise
      Row[3 * x + 0] = Clamp8(b + n);
      Row[3 * x + 1] = Clamp8(g + n);
      Row[3 * x + 2] = Clamp8(r + n);
    }
  }
}

}  // namespace

std::vector<uint8_t> MakeSampleExif(const TSamplePhotoSpec &Desc) {
  TTiffBuilder B;
  std::vector<TTiffBuilder::TEntry> Ifd0, ExifIfd;
  B.Ascii(Ifd0, 0x010F, "TessivoPlus");
  B.Ascii(Ifd0, 0x0110, "Sample Camera");
  B.Short(Ifd0, 0x0112, 1);  // written below through the Exif writer
  B.Rational(Ifd0, 0x011A, 72, 1);
  B.Rational(Ifd0, 0x011B, 72, 1);
  B.Short(Ifd0, 0x0128, 2);
  if (!Desc.DateTimeOriginal.empty()) {
    B.Ascii(Ifd0, 0x0132, Desc.DateTimeOriginal);
    B.Ascii(ExifIfd, 0x9003, Desc.DateTimeOriginal);
    B.Ascii(ExifIfd, 0x9004, Desc.DateTimeOriginal);
  }
  ExifIfd.push_back({0x9000, 7, 4, {'0', '2', '3', '0'}});
  B.Short(ExifIfd, 0xA001, 1);
  B.Long(ExifIfd, 0xA002, Desc.Width);
  B.Long(ExifIfd, 0xA003, Desc.Height);
  if (!Desc.MakerNote.empty())
    ExifIfd.push_back({0x927C, 7, uint32_t(Desc.MakerNote.size()), {Desc.MakerNote.begin(), Desc.MakerNote.end()}});
  const std::vector<uint8_t> Tiff = B.Build(Ifd0, ExifIfd);
  TExifReader Reader;
  if (!Reader.SetStream(Tiff)) throw ETessivoError("sample Exif block is not a TIFF structure");
  TExifInfo Info;
  Info.Flags = EXIFINFO_ORIENTATION | EXIFINFO_COLORSPACE;
  Info.Orientation = Desc.Orientation;
  Info.ColorSpace = 1;
  return Reader.OverWriteExifInfo(Info, TExifWriteOptions{});
}

namespace {

// Paints the landscape upright as a viewer shows it, then stores it the way
// a camera held on its side does: turned so that the orientation tag brings
// it upright again. Desc.Width x Desc.Height is the stored size.
void StoreAsCameraDoes(TICCImgInfo &Img, const TSamplePhotoSpec &Desc) {
  const TOrientationFix Fix = OrientationFix(Desc.Orientation);
  const bool Swaps = Desc.Orientation >= 5 && Desc.Orientation <= 8;
  Img.Width = Swaps ? Desc.Height : Desc.Width;
  Img.Height = Swaps ? Desc.Width : Desc.Height;
  Img.Channels = 3;
  Img.BPP = BPP_8;
  Img.PixelFormat = PIXFMT_BGR;
  Img.Bpl = GetAlignedBpl(Img.Width, 3);
  Img.Mem = AllocPixelBlock(Img.Bpl, Img.Height);
  PaintLandscape(Img.Mem, Img.Bpl, Img.Width, Img.Height, Desc.Seed);
  // The inverse of the fix: its steps backwards, each quarter turn the other way.
  for (int i = Fix.Count - 1; i >= 0; --i) {
    const TGeometryOp Op = Fix.Ops[i] == TGeometryOp::Rotate90CW    ? TGeometryOp::Rotate90CCW
                           : Fix.Ops[i] == TGeometryOp::Rotate90CCW ? TGeometryOp::Rotate90CW
                                                                    : Fix.Ops[i];
    ApplyGeometryOp(Img, Op);
  }
}

}  // namespace

void WriteSamplePhoto(const std::string &Path, const TSamplePhotoSpec &Desc) {
  TPixio *Lib = Pixio();
  if (!Lib || !Lib->write_jpeg) throw ETessivoError("the codec library with its JPEG writer is not loaded");
  if (Desc.Width == 0 || Desc.Height == 0) throw ETessivoError("sample photo without pixels");
  TICCImgInfo Img{};
  StoreAsCameraDoes(Img, Desc);
  uint8_t *Mem = Img.Mem;
  const uint32_t Bpl = Img.Bpl;
  TPixioEncode E;
  std::memset(&E, 0, sizeof E);
  E.Mem = Mem;
  E.Width = Desc.Width;
  E.Height = Desc.Height;
  E.Bpl = Bpl;
  E.Channels = 3;
  E.BitsPerSample = 8;
  E.Quality = Desc.Quality;
  E.HSamp = Desc.Subsample420 ? 2 : 1;
  E.VSamp = Desc.Subsample420 ? 2 : 1;
  E.XDensity = E.YDensity = 72;
  E.DensityUnit = 1;
  std::vector<uint8_t> Exif;
  if (Desc.Orientation != 0) {
    const std::vector<uint8_t> Tiff = MakeSampleExif(Desc);
    Exif = {'E', 'x', 'i', 'f', 0, 0};
    Exif.insert(Exif.end(), Tiff.begin(), Tiff.end());
    E.Flags |= PIXIO_FLAG_OMIT_APP0;
  }
  const int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (Fd < 0) {
    PageFree(Mem);
    throw ETessivoError("cannot create " + Path);
  }
  const int Ok = Lib->write_jpeg(&E, Fd, Exif.empty() ? nullptr : Exif.data(), uint32_t(Exif.size()));
  const bool Closed = ::close(Fd) == 0;
  PageFree(Mem);
  if (!Ok || !Closed) throw ETessivoError("cannot write " + Path);
}
