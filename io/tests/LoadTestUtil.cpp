#include "io/tests/LoadTestUtil.h"

#include "core/Errors.h"
#include "io/LoadPicture.h"
#include "color/ColorManagementOption.h"
#include "io/Pixio.h"
#include "testutil/Netpbm.h"
#include "testutil/TestEnv.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace loadtest {

std::string TestDataDir(const std::string &Sub) { return testenv::TestDataDir(Sub); }

std::vector<uint8_t> ReadFile(const std::string &Path) {
  std::ifstream f(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string &Path, const std::vector<uint8_t> &Bytes) {
  std::ofstream f(Path, std::ios::binary);
  f.write(reinterpret_cast<const char *>(Bytes.data()), std::streamsize(Bytes.size()));
}

std::vector<std::filesystem::path> ListFiles(const std::string &Dir, const std::string &Ext) {
  std::vector<std::filesystem::path> out;
  std::error_code ec;
  for (const auto &e : std::filesystem::directory_iterator(Dir, ec))
    if (e.is_regular_file() && e.path().extension() == Ext) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

TTempDir::TTempDir() {
  std::random_device rd;
  Path = std::filesystem::temp_directory_path() / ("tessivo-load-" + std::to_string(rd()) + std::to_string(rd()));
  std::filesystem::create_directories(Path);
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(Path, ec);
}

bool BindPixio() {
  if (Pixio()) return true;
  try {
    LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  } catch (const std::exception &) {
    return false;
  }
  return Pixio() != nullptr;
}

TImg::~TImg() { ReleaseICCImgInfo(I); }

std::string LoadFailure(TImageProbe &Entry, TImg &Img) {
  try {
    LoadPicture(Entry, Img.I, {}, false, false, nullptr, false, OUTPUT_PNG, TFormatOptions{}, TColorManagementOption{});
  } catch (const ETessivoError &e) {
    return e.what();
  }
  return {};
}

std::array<int, 4> PixelAt(const TICCImgInfo &Img, uint32_t X, uint32_t Y) {
  const uint8_t *row = PictureRow(Img, Y);
  const bool wide = Img.BPP != BPP_8;
  auto sample = [&](uint32_t c) -> int {
    if (!wide) return row[X * Img.Channels + c];
    const uint8_t *p = row + 2 * (X * Img.Channels + c);
    return p[1];
  };
  switch (Img.Channels) {
    case 1: { const int g = sample(0); return {g, g, g, 255}; }
    case 2: { const int g = sample(0); return {g, g, g, sample(1)}; }
    case 3: return {sample(0), sample(1), sample(2), 255};
    default: return {sample(0), sample(1), sample(2), sample(3)};
  }
}

TCompare CompareImages(const TICCImgInfo &Got, const TICCImgInfo &Ref) {
  TCompare c;
  c.SameSize = Got.Width == Ref.Width && Got.Height == Ref.Height;
  if (!c.SameSize) return c;
  for (uint32_t y = 0; y < Ref.Height; ++y)
    for (uint32_t x = 0; x < Ref.Width; ++x) {
      const auto g = PixelAt(Got, x, y), r = PixelAt(Ref, x, y);
      c.MaxAlpha = std::max(c.MaxAlpha, std::abs(g[3] - r[3]));
      if (r[3] == 255)
        for (int k = 0; k < 3; ++k) c.MaxColor = std::max(c.MaxColor, std::abs(g[k] - r[k]));
    }
  return c;
}

namespace {
void Put16(std::vector<uint8_t> &v, size_t at, uint32_t x) {
  v[at] = uint8_t(x), v[at + 1] = uint8_t(x >> 8);
}
void Put32(std::vector<uint8_t> &v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(x >> (8 * i));
}
}  // namespace

std::vector<uint8_t> MakeBmp(const TBmpSpec &S) {
  const size_t afterMasks = (S.HeaderSize == 40 && !S.Masks.empty()) ? 4 * S.Masks.size() : 0;
  const size_t paletteAt = 14 + S.HeaderSize + afterMasks;
  const size_t pixelsAt = paletteAt + 4 * S.Palette.size();
  std::vector<uint8_t> f(pixelsAt + S.Pixels.size());
  f[0] = 'B', f[1] = 'M';
  Put32(f, 2, uint32_t(f.size()));
  Put32(f, 10, uint32_t(S.OffsetOverride >= 0 ? S.OffsetOverride : int64_t(pixelsAt)));
  Put32(f, 14, S.HeaderSize);
  Put32(f, 18, uint32_t(S.Width));
  Put32(f, 22, uint32_t(S.Height));
  Put16(f, 26, 1);
  Put16(f, 28, S.BitCount);
  if (S.HeaderSize >= 40) {
    Put32(f, 30, S.Compression);
    Put32(f, 34, uint32_t(S.Pixels.size()));
    Put32(f, 38, 2835);
    Put32(f, 42, 2835);
    Put32(f, 46, S.ClrUsed);
  }
  const size_t masksAt = afterMasks ? 14 + S.HeaderSize : 14 + 40;
  for (size_t i = 0; i < S.Masks.size(); ++i)
    if (afterMasks || 40 + 4 * (i + 1) <= S.HeaderSize) Put32(f, masksAt + 4 * i, S.Masks[i]);
  for (size_t i = 0; i < S.Palette.size(); ++i) Put32(f, paletteAt + 4 * i, S.Palette[i]);
  std::copy(S.Pixels.begin(), S.Pixels.end(), f.begin() + long(pixelsAt));
  return f;
}

std::vector<uint8_t> Pixels32(const std::vector<std::array<uint8_t, 4>> &Px) {
  std::vector<uint8_t> out;
  for (const auto &p : Px) out.insert(out.end(), p.begin(), p.end());
  return out;
}

bool MagickDecode(const std::string &Source, TMagickPicture &Out) {
  const TTempDir dir;
  const std::string pam = dir / "magick.pam";
  if (!RunCommand("convert '" + Source + "[0]' -depth 8 pam:'" + pam + "'")) return false;
  const auto d = ReadFile(pam);
  testutil::TNetpbm p;
  if (!testutil::ParseNetpbm(std::string(d.begin(), d.end()), p) || p.MaxVal != 255) return false;
  Out.Width = p.Width, Out.Height = p.Height;
  Out.Pixels.resize(size_t(p.Width) * p.Height);
  for (uint32_t y = 0; y < p.Height; ++y)
    for (uint32_t x = 0; x < p.Width; ++x) Out.Pixels[size_t(y) * p.Width + x] = p.Rgba(x, y);
  return true;
}

int MagickDifference(const TICCImgInfo &Img, const TMagickPicture &Ref) {
  if (Img.Width != Ref.Width || Img.Height != Ref.Height) return -1;
  int worst = 0;
  for (uint32_t y = 0; y < Img.Height; ++y)
    for (uint32_t x = 0; x < Img.Width; ++x) {
      const auto g = PixelAt(Img, x, y);  // B, G, R, A
      const auto r = Ref.At(x, y);        // R, G, B, A
      worst = std::max(worst, std::abs(g[3] - r[3]));
      if (r[3] == 0) continue;
      for (int k = 0; k < 3; ++k) worst = std::max(worst, std::abs(g[k] - r[2 - k]));
    }
  return worst;
}

bool HaveProgram(const std::string &Name) {
  return std::system(("command -v " + Name + " >/dev/null 2>&1").c_str()) == 0;
}

bool RunCommand(const std::string &Command) { return std::system((Command + " >/dev/null 2>&1").c_str()) == 0; }

}  // namespace loadtest
