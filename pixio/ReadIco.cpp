// ICO and CUR decoding: the largest, deepest entry of the directory, either an
// embedded PNG or a DIB with its AND mask, always delivered as B,G,R,A.
#include "pixio/PixioInternal.h"

#include <algorithm>

namespace pixio {

namespace {

uint16_t U16(std::span<const uint8_t> d, size_t at) { return uint16_t(d[at] | (d[at + 1] << 8)); }
uint32_t U32(std::span<const uint8_t> d, size_t at) {
  return uint32_t(d[at]) | (uint32_t(d[at + 1]) << 8) | (uint32_t(d[at + 2]) << 16) | (uint32_t(d[at + 3]) << 24);
}

struct Entry {
  uint32_t Width, Height, Bits, Size, Offset;
};

void DecodeDib(TPixioDecode &Info, std::span<const uint8_t> d) {
  if (d.size() < 40) throw DecodeError("icon image is truncated");
  const uint32_t hdr = U32(d, 0);
  if (hdr < 40 || hdr > d.size()) throw DecodeError("bad icon bitmap header");
  const int32_t w = int32_t(U32(d, 4)), h2 = int32_t(U32(d, 8));
  const uint32_t bits = U16(d, 14), comp = U32(d, 16), used = U32(d, 32);
  if (w <= 0 || h2 <= 1 || w > 4096 || h2 > 8192) throw DecodeError("bad icon size");
  if (comp != 0 && !(comp == 3 && bits == 32)) throw DecodeError("compressed icon bitmaps are not supported");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) throw DecodeError("bad icon bit depth");
  const uint32_t width = uint32_t(w), height = uint32_t(h2) / 2;
  uint32_t colours = bits <= 8 ? (used ? used : 1u << bits) : 0;
  if (colours > 256) throw DecodeError("bad icon palette");
  size_t pos = hdr + (comp == 3 && hdr == 40 ? 12 : 0);
  const size_t palPos = pos;
  pos += size_t(colours) * 4;
  const size_t xorStride = (size_t(width) * bits + 31) / 32 * 4;
  const size_t andStride = (size_t(width) + 31) / 32 * 4;
  const size_t xorPos = pos, andPos = pos + xorStride * height;
  if (andPos > d.size()) throw DecodeError("icon image is truncated");
  // The AND mask is stored bottom row first like the colours; rows the data
  // does not reach are shown opaque.
  const uint32_t maskRows = uint32_t(std::min<size_t>(height, (d.size() - andPos) / andStride));
  const bool hasMask = maskRows > 0;
  AllocImage(Info, width, height, 4, 8);
  bool anyAlpha = false;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t *s = d.data() + xorPos + size_t(height - 1 - y) * xorStride;  // DIB rows are bottom-up
    uint8_t *o = Row(Info, y, true);
    for (uint32_t x = 0; x < width; ++x, o += 4) {
      uint32_t idx = 0;
      switch (bits) {
        case 1: idx = (s[x >> 3] >> (7 - (x & 7))) & 1; break;
        case 4: idx = (s[x >> 1] >> ((x & 1) ? 0 : 4)) & 15; break;
        case 8: idx = s[x]; break;
        case 24: o[0] = s[x * 3], o[1] = s[x * 3 + 1], o[2] = s[x * 3 + 2], o[3] = 255; continue;
        case 32:
          std::memcpy(o, s + x * 4, 4);
          anyAlpha |= o[3] != 0;
          continue;
      }
      if (idx < colours) {
        const uint8_t *p = d.data() + palPos + idx * 4;
        o[0] = p[0], o[1] = p[1], o[2] = p[2];
      }
      o[3] = 255;
    }
  }
  // 32-bit icons carry their own alpha; all others (and 32-bit ones whose alpha is empty) use the mask.
  if ((bits != 32 || !anyAlpha) && hasMask) {
    for (uint32_t y = 0; y < height; ++y) {
      const uint32_t fileRow = height - 1 - y;
      uint8_t *o = Row(Info, y, true);
      if (fileRow >= maskRows) {
        for (uint32_t x = 0; x < width; ++x) o[x * 4 + 3] = 255;
        continue;
      }
      const uint8_t *m = d.data() + andPos + size_t(fileRow) * andStride;
      for (uint32_t x = 0; x < width; ++x) o[x * 4 + 3] = ((m[x >> 3] >> (7 - (x & 7))) & 1) ? 0 : 255;
    }
    if (maskRows < height)
      ReportMessage("ICO", "the transparency mask is cut short; " + std::to_string(height - maskRows) +
                               " rows are shown opaque");
  } else if (bits == 32 && !anyAlpha) {
    for (uint32_t y = 0; y < height; ++y) {
      uint8_t *o = Row(Info, y, true);
      for (uint32_t x = 0; x < width; ++x) o[x * 4 + 3] = 255;
    }
  }
}

}  // namespace

void DecodeIco(TPixioDecode &Info, std::span<const uint8_t> Data) {
  if (Data.size() < 6 || U16(Data, 0) != 0 || (U16(Data, 2) != 1 && U16(Data, 2) != 2))
    throw DecodeError("not an icon file");
  const uint32_t count = U16(Data, 4);
  if (count == 0 || 6 + size_t(count) * 16 > Data.size()) throw DecodeError("icon directory is truncated");
  const Entry *best = nullptr;
  Entry pick{};
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = 6 + size_t(i) * 16;
    Entry e{Data[at] ? Data[at] : 256u, Data[at + 1] ? Data[at + 1] : 256u, U16(Data, at + 6), U32(Data, at + 8),
            U32(Data, at + 12)};
    if (e.Offset >= Data.size()) continue;
    // An entry that claims more bytes than the file has is read as far as it goes.
    e.Size = uint32_t(std::min<size_t>(e.Size, Data.size() - e.Offset));
    if (e.Size < 8) continue;
    const uint64_t area = uint64_t(e.Width) * e.Height, bestArea = best ? uint64_t(pick.Width) * pick.Height : 0;
    if (!best || area > bestArea || (area == bestArea && e.Bits > pick.Bits)) {
      pick = e;
      best = &pick;
    }
  }
  if (!best) throw DecodeError("icon file has no readable image");
  const std::span<const uint8_t> img = Data.subspan(pick.Offset, pick.Size);
  static const uint8_t pngSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (std::equal(pngSig, pngSig + 8, img.begin())) {
    DecodePng(Info, img, PngLayout{true, true, true});
    return;
  }
  DecodeDib(Info, img);
}

}  // namespace pixio
