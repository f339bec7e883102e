// Builders for the Exif tests: TIFF structures, JPEG files and images made in code.
#pragma once

#include "core/ImgInfo.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

struct TTestEntry {
  uint16_t Tag = 0, Type = 0;
  uint32_t Count = 0;
  std::vector<uint8_t> Value;  // raw bytes in the structure's byte order
  int Ifd = -1;                // LONG value: offset of IFD number Ifd
  int Blob = -1;               // LONG value: offset of blob number Blob
  int32_t FixedOffset = -1;    // value written at this offset instead of after the IFD
};

struct TTestIfd {
  std::vector<TTestEntry> Entries;
  int Next = -1;  // IFD number of the next IFD
};

class TTiffBuilder {
public:
  explicit TTiffBuilder(bool BE) : BE(BE) {}
  bool BE;
  std::vector<TTestIfd> Ifds{TTestIfd{}};
  std::vector<std::vector<uint8_t>> Blobs;
  size_t MinSize = 0;  // pad the result to at least this size

  TTestEntry Short(uint16_t Tag, uint16_t V) const;
  TTestEntry Long(uint16_t Tag, uint32_t V) const;
  TTestEntry Rational(uint16_t Tag, std::initializer_list<uint32_t> NumDen) const;
  TTestEntry Ascii(uint16_t Tag, const std::string &S, uint32_t Count = 0) const;  // Count 0: size + 1
  TTestEntry Undefined(uint16_t Tag, const std::vector<uint8_t> &Bytes) const;
  TTestEntry Pointer(uint16_t Tag, int Ifd) const;
  TTestEntry BlobPointer(uint16_t Tag, int Blob) const;
  int AddIfd();  // returns its number

  // The structure; BlobPos/IfdPos receive where each went.
  std::vector<uint8_t> Build(std::vector<uint32_t> *BlobPos = nullptr, std::vector<uint32_t> *IfdPos = nullptr) const;

  void Put16(std::vector<uint8_t> &V, uint16_t X) const;
  void Put32(std::vector<uint8_t> &V, uint32_t X) const;
};

// Reads a 16/32-bit value of a structure.
uint16_t TiffGet16(const std::vector<uint8_t> &T, size_t Off);
uint32_t TiffGet32(const std::vector<uint8_t> &T, size_t Off);

// An 8-bit BGR image with a gradient (bottom-up rows, record stride rule).
TICCImgInfo MakeTestImage(uint32_t Width, uint32_t Height, uint32_t Channels = 3);
// APP1 payload "Exif\0\0" + structure.
std::vector<uint8_t> ExifPayload(const std::vector<uint8_t> &Tiff);
// A minimal JPEG (SOI, the given segments, EOI): each segment is marker + payload.
std::vector<uint8_t> MakeJpeg(const std::vector<std::pair<uint16_t, std::vector<uint8_t>>> &Segments,
                              bool WithScan = true);
std::vector<uint8_t> Bytes(const std::string &S);
