// Small fixtures for the colour tests: images made in code and the profile
// files of the system's colour folder.
#pragma once

#include "color/ICCUtil.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// A real RGB, a second real RGB (wider gamut), a CMYK press and a gray profile.
std::string IccPath(const char *Name);
inline std::string SRGBFile() { return IccPath("srgb.icc"); }
inline std::string A98File() { return IccPath("a98.icc"); }
inline std::string CMYKFile() { return IccPath("default_cmyk.icc"); }
inline std::string GrayFile() { return IccPath("sgray.icc"); }

std::vector<uint8_t> FileBytes(const std::string &Path);

// Owns an image record for the length of a test.
struct TTestImage {
  TICCImgInfo Img{};
  TTestImage(uint32_t Width, uint32_t Height, uint32_t Channels, uint32_t BPP = BPP_8,
             uint32_t PixelFormat = 0);
  ~TTestImage() { FreeICCImgInfo(Img, true); }
  TTestImage(const TTestImage &) = delete;
  TTestImage &operator=(const TTestImage &) = delete;
  // Attaches a copy of Bytes as the embedded profile.
  void Embed(const std::vector<uint8_t> &Bytes, uint32_t Type = PROFILE_EMBEDDED);
  void FillRandom(uint32_t Seed);
  uint8_t *Px8(uint32_t X, uint32_t Y) { return ScanLine(Img, Y) + size_t(X) * Img.Channels; }
  uint16_t *Px16(uint32_t X, uint32_t Y) {
    return reinterpret_cast<uint16_t *>(ScanLine(Img, Y)) + size_t(X) * Img.Channels;
  }
  // Pixel bytes only (row padding left out), for comparing images.
  std::vector<uint8_t> Pixels() const;
};

// (Re)initialises the global profiles with colour management on or off and
// optional profile files.
void InitCMS(bool Enabled, const std::string &WorkSpace = {}, const std::string &RGB = {},
             const std::string &Gray = {});
