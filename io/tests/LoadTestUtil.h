// Helpers of the loader tests: files, the test-data folder, an owning image
// record, pixel access in picture coordinates and a BMP file builder.
#pragma once

#include "core/ImgInfo.h"
#include "io/ImageProbe.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace loadtest {

// The shared conformance data; empty when the folder is missing (the tests
// that need it skip at run time).
std::string TestDataDir(const std::string &Sub);
std::vector<uint8_t> ReadFile(const std::string &Path);
void WriteFile(const std::string &Path, const std::vector<uint8_t> &Bytes);
// Files of a folder in name order, with the given extension.
std::vector<std::filesystem::path> ListFiles(const std::string &Dir, const std::string &Ext);
// A fresh temporary folder, removed by the destructor.
struct TTempDir {
  std::filesystem::path Path;
  TTempDir();
  ~TTempDir();
  std::string operator/(const std::string &Name) const { return (Path / Name).string(); }
};

// Binds the codec library from the build's bin/ folder; false when it is missing.
bool BindPixio();

// Owns an image record and everything a load attached to it.
struct TImg {
  TICCImgInfo I{};
  TImg() = default;
  ~TImg();
  TImg(const TImg &) = delete;
  TImg &operator=(const TImg &) = delete;
};

// What LoadPicture raised for Entry, decoded into Img as for a PNG output
// (no markers, no Exif); empty when it loaded.
std::string LoadFailure(TImageProbe &Entry, TImg &Img);

// B, G, R, A of the pixel at (X, Y), Y counted from the top; gray repeats,
// missing alpha reads 255, 16-bit samples give their high byte.
std::array<int, 4> PixelAt(const TICCImgInfo &Img, uint32_t X, uint32_t Y);

// Largest per-sample difference of colour (where the reference is opaque)
// and of alpha, and whether the sizes match.
struct TCompare {
  bool SameSize = false;
  int MaxColor = 0;
  int MaxAlpha = 0;
};
TCompare CompareImages(const TICCImgInfo &Got, const TICCImgInfo &Ref);

// A BMP file: 14-byte file header, an info header of HeaderSize bytes
// (fields past 40 bytes zero except the masks), optional masks after a
// 40-byte header, palette, then Pixels at the file header's offset.
struct TBmpSpec {
  uint32_t HeaderSize = 40;
  int32_t Width = 1;
  int32_t Height = 1;  // negative: top-down
  uint16_t BitCount = 24;
  uint32_t Compression = 0;
  uint32_t ClrUsed = 0;
  std::vector<uint32_t> Masks;          // R, G, B(, A): in the header (>= 52) or after a 40-byte one
  std::vector<uint32_t> Palette;        // 0x00RRGGBB entries
  std::vector<uint8_t> Pixels;
  int64_t OffsetOverride = -1;          // bfOffBits, when set
};
std::vector<uint8_t> MakeBmp(const TBmpSpec &Desc);

// Rows of 32-bit pixels (B, G, R, X) for MakeBmp, bottom row first.
std::vector<uint8_t> Pixels32(const std::vector<std::array<uint8_t, 4>> &Px);

// A picture as ImageMagick decodes it (its PAM output at 8 bits): samples in
// R, G, B, A order, gray widened, alpha 255 where the file has none.
struct TMagickPicture {
  uint32_t Width = 0, Height = 0;
  std::vector<std::array<int, 4>> Pixels;  // top row first
  std::array<int, 4> At(uint32_t X, uint32_t Y) const { return Pixels[size_t(Y) * Width + X]; }
};
// Reads Source through ImageMagick's convert (it may carry a format prefix,
// "dib:name"); false when convert fails or its output cannot be read.
bool MagickDecode(const std::string &Source, TMagickPicture &Out);
// Largest per-sample difference between Img and ImageMagick's picture
// (colour where the reference is opaque, and alpha); -1 when the sizes differ.
int MagickDifference(const TICCImgInfo &Img, const TMagickPicture &Ref);

// Whether a program is on the PATH.
bool HaveProgram(const std::string &Name);
// Runs a command line through the shell; true when it exits with 0.
bool RunCommand(const std::string &Command);

}  // namespace loadtest
