#include "io/tests/SaveTestUtil.h"

#include "io/Pixio.h"
#include "core/PixelConvert.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>

#include <unistd.h>

namespace savetest {

TImage::TImage(uint32_t W, uint32_t H, uint32_t Channels, uint32_t BPP,
               const std::function<uint32_t(uint32_t, uint32_t, uint32_t)> &Fill) {
  Img.Width = W, Img.Height = H, Img.Channels = Channels, Img.BPP = BPP;
  Img.PixelFormat = Channels == 1 ? PIXFMT_GRAY : Channels == 2 ? PIXFMT_GRAYALPHA : Channels == 3 ? PIXFMT_BGR : PIXFMT_BGRA;
  Img.Bpl = BPP == BPP_8 ? GetAlignedBpl(W, Channels) : GetAlignedBpl16(W, Channels);
  Img.Mem = AllocPixelBlock(Img.Bpl, H);
  for (uint32_t y = 0; y < H; ++y) {
    uint8_t *row = PictureRow(Img, y);
    for (uint32_t x = 0; x < W; ++x)
      for (uint32_t c = 0; c < Channels; ++c) {
        const uint32_t v = Fill(x, y, c);
        if (BPP == BPP_8) row[size_t(x) * Channels + c] = uint8_t(v);
        else reinterpret_cast<uint16_t *>(row)[size_t(x) * Channels + c] = uint16_t(v);
      }
  }
}

uint32_t TImage::Sample(uint32_t X, uint32_t Y, uint32_t C) const {
  const uint8_t *row = PictureRow(Img, Y);
  if (Img.BPP == BPP_8) return row[size_t(X) * Img.Channels + C];
  return reinterpret_cast<const uint16_t *>(row)[size_t(X) * Img.Channels + C];
}

TScratch::TScratch() {
  static std::atomic<int> Serial{0};
  FDir = std::filesystem::temp_directory_path() /
         ("tessivo-save-" + std::to_string(getpid()) + "-" + std::to_string(Serial++));
  std::filesystem::remove_all(FDir);
  std::filesystem::create_directories(FDir);
}

TScratch::~TScratch() {
  if (getenv("TESSIVO_KEEP_SCRATCH")) return;  // for looking at the files of a failed case
  std::error_code ec;
  std::filesystem::permissions(FDir, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(FDir, ec);
}

std::vector<std::string> TScratch::Names() const {
  std::vector<std::string> out;
  for (const auto &e : std::filesystem::directory_iterator(FDir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<uint8_t> ReadFile(const std::string &Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string &Path, const std::vector<uint8_t> &Data) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(Data.data()), std::streamsize(Data.size()));
}

bool DecodePNG(const std::string &Path, TDecoded &Out, bool Want16) {
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, Path.c_str())) return false;
  const bool color = img.format & PNG_FORMAT_FLAG_COLOR;
  const bool alpha = img.format & PNG_FORMAT_FLAG_ALPHA;
  img.format = (color ? PNG_FORMAT_FLAG_COLOR : 0) | (alpha ? PNG_FORMAT_FLAG_ALPHA : 0) |
               (Want16 ? PNG_FORMAT_FLAG_LINEAR : 0);
  Out.Width = img.width, Out.Height = img.height, Out.Channels = PNG_IMAGE_SAMPLE_CHANNELS(img.format);
  Out.Bits = Want16 ? 16 : 8;
  const size_t n = size_t(img.width) * img.height * Out.Channels;
  Out.Samples.assign(n, 0);
  bool ok;
  if (Want16) {
    // The simplified reader's 16-bit output is linear; read the raw samples instead.
    png_image_free(&img);
    FILE *f = fopen(Path.c_str(), "rb");
    if (!f) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
      png_destroy_read_struct(&png, &info, nullptr);
      fclose(f);
      return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_set_swap(png);  // little-endian samples
    png_read_update_info(png, info);
    Out.Channels = png_get_channels(png, info);
    Out.Samples.assign(size_t(Out.Width) * Out.Height * Out.Channels, 0);
    std::vector<uint8_t> row(png_get_rowbytes(png, info));
    for (uint32_t y = 0; y < Out.Height; ++y) {
      png_read_row(png, row.data(), nullptr);
      for (size_t i = 0; i < size_t(Out.Width) * Out.Channels; ++i)
        Out.Samples[size_t(y) * Out.Width * Out.Channels + i] = uint16_t(row[2 * i] | row[2 * i + 1] << 8);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(f);
    return true;
  }
  std::vector<uint8_t> buf(n);
  ok = png_image_finish_read(&img, nullptr, buf.data(), 0, nullptr) != 0;
  std::copy(buf.begin(), buf.end(), Out.Samples.begin());
  return ok;
}

std::vector<std::string> PNGChunks(const std::vector<uint8_t> &Png) {
  std::vector<std::string> out;
  for (size_t at = 8; at + 12 <= Png.size();) {
    const uint32_t len = uint32_t(Png[at]) << 24 | uint32_t(Png[at + 1]) << 16 | uint32_t(Png[at + 2]) << 8 | Png[at + 3];
    out.emplace_back(reinterpret_cast<const char *>(Png.data() + at + 4), 4);
    at += 12 + size_t(len);
  }
  return out;
}

std::vector<uint8_t> PNGChunk(const std::vector<uint8_t> &Png, const std::string &Type) {
  for (size_t at = 8; at + 12 <= Png.size();) {
    const uint32_t len = uint32_t(Png[at]) << 24 | uint32_t(Png[at + 1]) << 16 | uint32_t(Png[at + 2]) << 8 | Png[at + 3];
    if (std::memcmp(Png.data() + at + 4, Type.data(), 4) == 0 && at + 8 + len <= Png.size())
      return {Png.begin() + ptrdiff_t(at + 8), Png.begin() + ptrdiff_t(at + 8 + len)};
    at += 12 + size_t(len);
  }
  return {};
}

bool DecodeTIFF(const std::string &Path, TDecoded &Out) {
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  TIFF *t = TIFFOpen(Path.c_str(), "r");
  if (!t) return false;
  uint32_t w = 0, h = 0;
  uint16_t spp = 1, bps = 8, photo = 0, planar = 1;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
  Out.Width = w, Out.Height = h;
  std::vector<uint8_t> row(size_t(TIFFScanlineSize(t)));
  if (photo == PHOTOMETRIC_PALETTE) {
    uint16_t *r, *g, *b;
    if (!TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b)) return TIFFClose(t), false;
    Out.Channels = 3, Out.Bits = 8;
    Out.Samples.assign(size_t(w) * h * 3, 0);
    for (uint32_t y = 0; y < h; ++y) {
      if (TIFFReadScanline(t, row.data(), y) < 0) return TIFFClose(t), false;
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t bit = x * bps;
        const uint32_t idx = (row[bit / 8] >> (8 - bps - bit % 8)) & ((1u << bps) - 1);
        uint16_t *o = &Out.Samples[(size_t(y) * w + x) * 3];
        o[0] = uint16_t(r[idx] / 257), o[1] = uint16_t(g[idx] / 257), o[2] = uint16_t(b[idx] / 257);
      }
    }
    TIFFClose(t);
    return true;
  }
  if (planar != PLANARCONFIG_CONTIG || (bps != 8 && bps != 16)) return TIFFClose(t), false;
  Out.Channels = spp, Out.Bits = bps;
  Out.Samples.assign(size_t(w) * h * spp, 0);
  for (uint32_t y = 0; y < h; ++y) {
    if (TIFFReadScanline(t, row.data(), y) < 0) return TIFFClose(t), false;
    for (size_t i = 0; i < size_t(w) * spp; ++i)
      Out.Samples[size_t(y) * w * spp + i] =
          bps == 8 ? row[i] : reinterpret_cast<const uint16_t *>(row.data())[i];
  }
  TIFFClose(t);
  return true;
}

void SaveTest::SetUp() {
  JPEGOption = TJPEGOption{};
  BitmapOption = TBitmapOption{};
  PNGOption = TPNGOption{};
  TIFFOption = TTIFFOption{};
  HDPOption = THDPOption{};
  MetadataOption = TMetadataOption{};
  SetDitherOption(DITHER_NONE);
  if (!Pixio()) LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  Context.PNGOutPath = Scratch.Path("no-such-pngout");
}

uint32_t Read32LE(const std::vector<uint8_t> &B, size_t At) {
  return uint32_t(B[At]) | uint32_t(B[At + 1]) << 8 | uint32_t(B[At + 2]) << 16 | uint32_t(B[At + 3]) << 24;
}
uint16_t Read16LE(const std::vector<uint8_t> &B, size_t At) { return uint16_t(B[At] | B[At + 1] << 8); }

}  // namespace savetest
