// What the colour-reduction tools FLAXC and IZYINS share: their command line
// ("SRC.bmp DEST.bmp [options]", every option a letter and a number), the
// BMP they read, the indexed BMP they write, and the transparent corner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One RGBA colour; the pictures are rows of these, top row first.
struct TRgba {
  uint8_t R = 0, G = 0, B = 0, A = 255;
  bool operator==(const TRgba &) const = default;
};
static_assert(sizeof(TRgba) == 4, "rows of TRgba are handed to libimagequant as RGBA bytes");

struct TPicture {
  uint32_t Width = 0, Height = 0;
  std::vector<TRgba> Pixels;  // Width x Height, top row first
  TRgba &At(uint32_t x, uint32_t y) { return Pixels[size_t(y) * Width + x]; }
  const TRgba &At(uint32_t x, uint32_t y) const { return Pixels[size_t(y) * Width + x]; }
};

// The picture as palette indexes.
struct TIndexed {
  uint32_t Width = 0, Height = 0;
  std::vector<TRgba> Palette;   // at most 256 entries
  std::vector<uint8_t> Indexes;  // Width x Height, top row first
};

struct TQuantCommand {
  std::string Source, Dest;
  int32_t Colours = 256;         // -P: 2 to 256
  int32_t DitherType = 2;        // -D: 0 none, 1 along a space-filling curve, 2 error diffusion, 3 ordered, 4 drawings
  int32_t DitherStrength = 8;    // -L: 0 to 10
  int32_t TransparentCorner = 0; // -A: 0 none, 1 top-left, 2 bottom-left, 3 top-right, 4 bottom-right
  int32_t Result = 1;            // -R: 1 an indexed BMP, 0 a 24-bit BMP of the reduced colours
  int32_t Bits = 0;              // -B: 0 the fewest bits per index that hold the palette (1, 4 or 8), 8 always 8
  int32_t Quality = 10;          // -Y: the palette search aims at quality 10 x n (1 to 10)
  int32_t MinQuality = 10;       // -C: the search gives up below 10 x (10 - n) (0 to 10; 10 never gives up)
  int32_t Gamma = 10;            // -G: gamma of the pixel values in tenths of sRGB's (1 to 30; 10 sRGB)
  int32_t Precision = 8;         // -O: bits per channel of the palette colours (4 to 8)
  int32_t Effort = 8;            // -I: effort of the search, 1 (fast) to 10 (thorough)
};

// Whether the command line asks for the help text (--help or -h anywhere).
bool AsksForHelp(int argc, char **argv);

// The option letters, their ranges and meanings, for --help.
std::string QuantOptionsHelp();

// Parses argv[1..]; the first two words that are no option are the source
// and the destination. Answers an error text, empty when the line is good.
std::string ParseQuantCommand(int argc, char **argv, TQuantCommand &Command);

// Reads a BMP of any depth the program's reader takes (gray, palette, 24- and
// 32-bit); raises std::runtime_error with the reason.
TPicture ReadBmpPicture(const std::string &Path);

// Writes Indexed as an 8-bit (or, with Bits 0, a 1- or 4-bit when the
// palette is that small) BMP, or with Result 0 as a 24-bit BMP of the palette
// colours; through a temporary file renamed over Path. Raises
// std::runtime_error with the reason.
void WriteBmpResult(const std::string &Path, const TIndexed &Indexed, const TQuantCommand &Command);

// The colour of the transparent corner (1 to 4), or nothing for 0.
bool TransparentColour(const TPicture &Picture, int32_t Corner, TRgba &Colour);

// The picture's distinct colours, up to Limit + 1 of them (so a caller learns
// that there are more than Limit).
std::vector<TRgba> DistinctColours(const TPicture &Picture, size_t Limit);
