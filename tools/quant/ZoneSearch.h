// The palette search that bin/Zone_BorderOfColor.so exports and FLAXC loads
// at run time: a plain C interface, so that the library and the tool only
// share this record and one function.
#pragma once

#include <cstdint>

extern "C" {

struct TZoneSearch {
  const uint8_t *Rgba;       // Width x Height pixels, R, G, B, A, top row first
  uint32_t Width, Height;
  int32_t Colours;           // 2 to 256
  int32_t QualityMax;        // 0 to 100
  int32_t QualityMin;        // 0 to 100; the search fails below it
  int32_t Effort;            // 1 fast to 10 thorough
  int32_t Precision;         // bits per channel of the palette, 4 to 8
  double Gamma;              // of the pixel values; 0.45455 for sRGB
  int32_t HasFixed;          // 1: FixedColour must be an entry of the palette
  uint8_t FixedColour[4];
};

// Fills Palette (4 bytes an entry, R, G, B, A) and Count; answers 0, or a
// non-zero code with Message (a NUL-terminated text of at most MessageSize
// bytes) saying why.
typedef int32_t (*TZoneFindPalette)(const TZoneSearch *Search, uint8_t *Palette, uint32_t *Count, char *Message,
                                    uint32_t MessageSize);
int32_t ZoneFindPalette(const TZoneSearch *Search, uint8_t *Palette, uint32_t *Count, char *Message,
                        uint32_t MessageSize);
}
