// Fixtures of the saver tests: images made in code, a scratch folder, the
// codec library, and independent decoders (libpng, libtiff, a BMP reader) to
// check what was written.
#pragma once

#include "io/FormatOption.h"
#include "core/ImgInfo.h"
#include "io/SavePicture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace savetest {

// An image record that frees itself.
struct TImage {
  TICCImgInfo Img{};
  TImage() = default;
  // Width x Height, Channels, BPP 8/14/16; Fill(x, y, c) gives the sample at picture row y (top = 0).
  TImage(uint32_t W, uint32_t H, uint32_t Channels, uint32_t BPP, const std::function<uint32_t(uint32_t, uint32_t, uint32_t)> &Fill);
  ~TImage() { FreeICCImgInfo(Img, false); }
  TImage(const TImage &) = delete;
  TImage &operator=(const TImage &) = delete;
  uint32_t Sample(uint32_t X, uint32_t Y, uint32_t C) const;
};

// A fresh folder under the system temporary folder, removed afterwards.
class TScratch {
public:
  TScratch();
  ~TScratch();
  std::string Path(const std::string &Name) const { return (FDir / Name).string(); }
  std::vector<std::string> Names() const;  // files in the folder, sorted
private:
  std::filesystem::path FDir;
};

std::vector<uint8_t> ReadFile(const std::string &Path);
void WriteFile(const std::string &Path, const std::vector<uint8_t> &Data);

// Decoded with libpng's simplified reader (palettes and transparency expanded).
struct TDecoded {
  uint32_t Width = 0, Height = 0, Channels = 0, Bits = 8;
  std::vector<uint16_t> Samples;  // top-down, R,G,B(,A) or gray(,alpha)
  uint32_t At(uint32_t X, uint32_t Y, uint32_t C) const { return Samples[(size_t(Y) * Width + X) * Channels + C]; }
};
bool DecodePNG(const std::string &Path, TDecoded &Out, bool Want16);
// The chunk types of a PNG in file order and the payload of one of them.
std::vector<std::string> PNGChunks(const std::vector<uint8_t> &Png);
std::vector<uint8_t> PNGChunk(const std::vector<uint8_t> &Png, const std::string &Type);
// libtiff: 8- or 16-bit contiguous samples as stored, palette expanded to RGB.
bool DecodeTIFF(const std::string &Path, TDecoded &Out);

// Resets every option record to its defaults and loads the codec library.
class SaveTest : public ::testing::Test {
protected:
  void SetUp() override;
  TSaveContext Context;
  TImageProbe Entry;
  TResolutionInfo RInfo{72, 72, 1};
  TScratch Scratch;
};

uint32_t Read32LE(const std::vector<uint8_t> &B, size_t At);
uint16_t Read16LE(const std::vector<uint8_t> &B, size_t At);

}  // namespace savetest
