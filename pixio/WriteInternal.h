// Helpers shared by the encoders inside the codec library: the guard that turns
// every failure into a 0 result, checks of the encode record, and the Exif
// block as the TIFF and HD Photo writers take it apart.
#pragma once

#include "pixio/PixioInternal.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace pixio {

class EncodeError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Runs an encoder; any exception is reported under Title and becomes 0.
template <class F>
int GuardedEncode(const char *Title, F &&Body) {
  return Reported(Title, Body) ? 1 : 0;
}

// Bits per sample with 0 read as 8.
inline uint32_t SampleBits(const TPixioEncode &Info) { return Info.BitsPerSample ? Info.BitsPerSample : 8; }

// Checks geometry, stride and sample layout; Channels and Bits list what the format takes.
void CheckImage(const TPixioEncode &Info, std::initializer_list<uint32_t> Channels,
                std::initializer_list<uint32_t> Bits);
// Checks the palette fields when Info.Palette is set (indexes of 1, 2, 4 or 8 bits, 1 channel).
void CheckPalette(const TPixioEncode &Info);

// Row Y counted from the top.
inline const uint8_t *EncodeRow(const TPixioEncode &Info, uint32_t Y, bool TopDown) {
  return Info.Mem + size_t(TopDown ? Y : Info.Height - 1 - Y) * Info.Bpl;
}

// The TIFF structure inside an Exif block given as an APP1 payload ("Exif\0\0"),
// a bare TIFF structure or a small JPEG file carrying it; empty when none is found.
std::span<const uint8_t> FindExifTiff(std::span<const uint8_t> Block);
// The Exif TIFF structure of a JPEG file, with the parts of a block split
// over several APP1 segments joined; empty when there is none.
std::vector<uint8_t> JpegExifTiff(std::span<const uint8_t> Jpeg);
// The APP1 payload ("Exif\0\0" + TIFF structure) for a JPEG; empty when none is found.
std::vector<uint8_t> ExifApp1Payload(std::span<const uint8_t> Block);

// One directory entry, its value bytes in the block's byte order.
struct ExifEntry {
  uint16_t Tag = 0;
  uint16_t Type = 0;
  uint32_t Count = 0;
  std::vector<uint8_t> Value;
};

// IFD0, Exif and GPS directories of a TIFF structure, every offset checked;
// the pointer entries themselves (Exif, GPS, Interoperability) are left out.
struct ExifDirs {
  bool BigEndian = false;
  std::vector<ExifEntry> Ifd0, Exif, Gps;
};
bool ParseExifDirs(std::span<const uint8_t> Tiff, ExifDirs &Dirs);

// The updates the savers ask for: pixel dimensions, orientation reset,
// maker note, GPS and the software name.
void UpdateExifDirs(ExifDirs &Dirs, const TPixioEncode &Info, bool UpdateSoftware);

// Bytes per value of a TIFF field type (0 for unknown types).
uint32_t ExifTypeSize(uint16_t Type);
// The I-th value of an integer or rational entry as a double (rationals divided out).
double ExifNumber(const ExifEntry &E, bool BigEndian, uint32_t I);

// The program name written into the Software tag.
constexpr const char *SoftwareName = "TessivoPlus";

}  // namespace pixio
