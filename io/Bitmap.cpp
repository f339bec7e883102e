// BMP decoding. Every header field, offset and length is checked against the
// bytes that are really there before it is used; a file that does not fit is
// refused with a message instead of being read past its end.
#include "io/Bitmap.h"

#include "core/Errors.h"
#include "io/FormatOption.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Longest side the reader accepts; keeps every stride and block size far
// inside 32 bits.
constexpr int64_t MaxSide = 1 << 24;
// RLE data can describe a huge picture in a few bytes (deltas, end of
// bitmap); beyond this many pixels per compressed byte such a file is taken
// as broken rather than allowed to claim gigabytes.
constexpr uint64_t MaxRLEPixelsPerByte = 1024;
constexpr uint64_t MinRLEPixelCap = uint64_t(1) << 24;
// Densities beyond this (about 25400 dpi) are not a real device's.
constexpr int32_t MaxPixelsPerMetre = 1000000;

enum : uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6 };

// The refusals carry what the reader found, in English like the codec library's reasons.
[[noreturn]] void Unsupported(const char *Why) { throw ETessivoError(BMP_UNSUPPORTED_MSG, Why); }
[[noreturn]] void Broken(const char *Why) { throw ETessivoError(BMP_BROKEN_MSG, Why); }

uint16_t U16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t *p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
int32_t I32(const uint8_t *p) { return int32_t(U32(p)); }

bool KnownHeaderSize(uint32_t Size) {
  // OS/2 1.x core header, then the Windows headers (40, 52, 56, 108, 124)
  // and the OS/2 2.x header (64), whose first 40 bytes have the same layout.
  switch (Size) {
    case 12: case 40: case 52: case 56: case 64: case 108: case 124: return true;
    default: return false;
  }
}

// One channel of a bit-field layout: where it sits and how wide it is.
struct TMaskChannel {
  uint32_t Mask = 0;
  int Shift = 0;
  int Width = 0;

  explicit TMaskChannel(uint32_t M = 0) : Mask(M) {
    if (!M) return;
    Shift = std::countr_zero(M);
    Width = std::popcount(M >> Shift);
  }
  // A narrower value goes to the top and its bits repeat downwards; a wider
  // one keeps its top 8 bits.
  uint8_t Expand(uint32_t Pixel) const {
    const uint32_t v = (Pixel & Mask) >> Shift;
    if (Width >= 8) return uint8_t(v >> (Width - 8));
    int pos = 8 - Width;
    uint32_t out = v << pos;
    while (pos > 0) {
      pos -= Width;
      out |= pos >= 0 ? v << pos : v >> -pos;
    }
    return uint8_t(out);
  }
};

struct TDibInfo {
  uint32_t HeaderSize = 0;
  int64_t Width = 0;
  int64_t Height = 0;  // absolute
  bool TopDown = false;
  uint16_t BitCount = 0;
  uint32_t Compression = BI_RGB;
  uint32_t SizeImage = 0;
  uint32_t ClrUsed = 0;
  uint32_t Masks[4] = {};     // red, green, blue, alpha
  bool HasBitFields = false;
  bool HasAlphaMask = false;  // an alpha mask the header defines and that is not 0
  size_t MaskBytesAfterHeader = 0;
};

// Reads the info header at Info (Avail bytes there) and checks every field
// that the decoding below relies on.
TDibInfo ReadInfoHeader(const uint8_t *Info, size_t Avail) {
  TDibInfo h;
  if (Avail < 4) Broken("the info header is cut short");
  h.HeaderSize = U32(Info);
  if (!KnownHeaderSize(h.HeaderSize)) Unsupported("unknown info header size");
  if (Avail < h.HeaderSize) Broken("the info header is cut short");
  uint16_t planes;
  if (h.HeaderSize == 12) {
    h.Width = U16(Info + 4);
    h.Height = U16(Info + 6);
    planes = U16(Info + 8);
    h.BitCount = U16(Info + 10);
  } else {
    h.Width = I32(Info + 4);
    const int32_t height = I32(Info + 8);
    planes = U16(Info + 12);
    h.BitCount = U16(Info + 14);
    h.Compression = U32(Info + 16);
    h.SizeImage = U32(Info + 20);
    const int32_t xppm = I32(Info + 24), yppm = I32(Info + 28);
    h.ClrUsed = U32(Info + 32);
    if (xppm < 0 || yppm < 0 || xppm > MaxPixelsPerMetre || yppm > MaxPixelsPerMetre) Broken("impossible pixel density");
    h.TopDown = height < 0;
    h.Height = height < 0 ? -int64_t(height) : int64_t(height);
  }
  if (planes != 1) Unsupported("plane count other than 1");
  // Compression codes 4 and 5 wrap a whole JPEG or PNG file (bit depth 0).
  if (h.HeaderSize != 64 && (h.Compression == 4 || h.Compression == 5))
    Unsupported(h.Compression == 4 ? "a JPEG file inside the BMP" : "a PNG file inside the BMP");
  switch (h.BitCount) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32: break;
    default: Unsupported("unknown bit depth");
  }
  switch (h.Compression) {
    case BI_RGB: break;
    case BI_RLE8: if (h.BitCount != 8) Broken("RLE8 with a bit depth other than 8"); break;
    case BI_RLE4: if (h.BitCount != 4) Broken("RLE4 with a bit depth other than 4"); break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS:
      // In the OS/2 2.x header code 3 means Huffman 1D, not bit fields.
      if (h.HeaderSize == 64) Unsupported("OS/2 Huffman compression");
      if (h.BitCount != 16 && h.BitCount != 32) Broken("bit fields with a bit depth other than 16 or 32");
      h.HasBitFields = true;
      break;
    default: Unsupported("unknown compression (OS/2 RLE24 or others)");
  }
  if (h.Width <= 0 || h.Height <= 0 || h.Width > MaxSide || h.Height > MaxSide) Broken("impossible width or height");
  if (h.TopDown && (h.Compression == BI_RLE8 || h.Compression == BI_RLE4)) Broken("a top-down file with RLE compression");

  if (h.HasBitFields) {
    const size_t count = h.Compression == BI_ALPHABITFIELDS ? 4 : 3;
    const uint8_t *at;
    if (h.HeaderSize >= 40 + 4 * count) {
      at = Info + 40;
    } else {
      // A 40-byte header keeps its masks just after it.
      h.MaskBytesAfterHeader = 4 * count;
      if (Avail < h.HeaderSize + h.MaskBytesAfterHeader) Broken("the bit-field masks are cut short");
      at = Info + h.HeaderSize;
    }
    for (size_t i = 0; i < count; ++i) h.Masks[i] = U32(at + 4 * i);
    if (count == 3 && h.HeaderSize >= 56) h.Masks[3] = U32(Info + 52);
    h.HasAlphaMask = h.Masks[3] != 0 && (count == 4 || h.HeaderSize >= 56);
    if (!h.HasAlphaMask) h.Masks[3] = 0;
    const uint32_t limit = h.BitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    for (int i = 0; i < 3; ++i)
      if (h.Masks[i] == 0 || h.Masks[i] > limit) Broken("a colour mask is empty or too wide");
    if (h.Masks[3] > limit) Broken("the alpha mask is too wide");
  }
  return h;
}

struct TPalette {
  uint8_t BGR[256][3] = {};
  uint32_t Count = 0;
  bool Gray = true;
  bool Identity = false;  // 256 entries, entry i is gray level i
};

class TDibDecoder {
public:
  TDibDecoder(const TDibInfo &H, const TPalette &P, const uint8_t *Bits, size_t BitsSize, TICCImgInfo &Img)
      : FH(H), FPal(P), FBits(Bits), FSize(BitsSize), FImg(Img) {}

  void Decode(int32_t AlphaCheckType, bool FromPlugin) {
    if (FH.SizeImage != 0 && FH.SizeImage > FSize) Broken("the pixel data is shorter than the header says");
    if (FH.BitCount <= 8) {
      if (FPal.Count == 0) Broken("no palette");
      Allocate(FPal.Gray ? 1 : 3);
      if (FH.Compression == BI_RLE8 || FH.Compression == BI_RLE4) DecodeRLE();
      else DecodeIndexed();
    } else if (FH.BitCount == 24) {
      Allocate(3);
      for (int64_t r = 0; r < FH.Height; ++r) std::memcpy(Row(r), FileRow(r), size_t(FH.Width) * 3);
    } else if (FH.HasBitFields) {
      DecodeBitFields();
    } else if (FH.BitCount == 16) {
      DecodeMasked(TMaskChannel(0x7C00), TMaskChannel(0x03E0), TMaskChannel(0x001F), TMaskChannel(), 2);
    } else {
      Decode32(AlphaCheckType, FromPlugin);
    }
  }

private:
  const TDibInfo &FH;
  const TPalette &FPal;
  const uint8_t *FBits;
  size_t FSize;
  TICCImgInfo &FImg;
  size_t FStride = 0;

  void Allocate(uint32_t Channels) {
    const uint64_t stride = ((uint64_t(FH.Width) * FH.BitCount + 31) / 32) * 4;
    if (FH.Compression != BI_RLE8 && FH.Compression != BI_RLE4) {
      // The last row may lack its padding; everything else must be present.
      const uint64_t last = (uint64_t(FH.Width) * FH.BitCount + 7) / 8;
      if (stride * uint64_t(FH.Height - 1) + last > FSize) Broken("the pixel data is cut short");
    } else {
      const uint64_t cap = std::max(MinRLEPixelCap, uint64_t(FSize) * MaxRLEPixelsPerByte);
      if (uint64_t(FH.Width) * uint64_t(FH.Height) > cap) Broken("an RLE picture far larger than its data could describe");
    }
    FStride = size_t(stride);
    FImg.Width = uint32_t(FH.Width);
    FImg.Height = uint32_t(FH.Height);
    FImg.Channels = Channels;
    FImg.Bpl = GetAlignedBpl(FImg.Width, Channels);
    FImg.Mem = AllocPixelBlock(FImg.Bpl, FImg.Height);
  }
  // Memory row of the r-th row in file order (files are bottom-up unless top-down).
  uint8_t *Row(int64_t R) const {
    return ScanLine(FImg, uint32_t(FH.TopDown ? FH.Height - 1 - R : R));
  }
  const uint8_t *FileRow(int64_t R) const { return FBits + size_t(R) * FStride; }

  void PutIndex(uint8_t *Dst, uint32_t Index) const {
    if (Index >= FPal.Count) Broken("a pixel index outside the palette");
    if (FImg.Channels == 1) {
      *Dst = FPal.BGR[Index][0];
    } else {
      Dst[0] = FPal.BGR[Index][0], Dst[1] = FPal.BGR[Index][1], Dst[2] = FPal.BGR[Index][2];
    }
  }

  void DecodeIndexed() {
    const int bits = FH.BitCount;
    const uint32_t mask = (1u << bits) - 1;
    const size_t w = size_t(FH.Width);
    for (int64_t r = 0; r < FH.Height; ++r) {
      const uint8_t *src = FileRow(r);
      uint8_t *dst = Row(r);
      if (bits == 8 && FPal.Identity) {
        std::memcpy(dst, src, w);
        continue;
      }
      for (size_t x = 0; x < w; ++x) {
        const size_t bit = x * bits;
        const uint32_t index = (src[bit >> 3] >> (8 - bits - (bit & 7))) & mask;
        PutIndex(dst + x * FImg.Channels, index);
      }
    }
  }

  // Runs and absolute stretches of RLE8 and RLE4. Pixels the data skips
  // (deltas, early ends of line or bitmap) stay black; a run or stretch that
  // reaches past the end of its row is cut there (the other readers drop
  // those pixels too), while a code that would write below the last row or
  // a delta out of the picture makes the file broken. Data that ends without
  // an end-of-bitmap code ends the picture there.
  void DecodeRLE() {
    const bool rle4 = FH.Compression == BI_RLE4;
    const int64_t w = FH.Width, h = FH.Height;
    int64_t x = 0, y = 0;
    size_t i = 0;
    const size_t ch = FImg.Channels;
    auto put = [&](uint32_t index) {
      if (y >= h) Broken("RLE data writes below the last row");
      if (x < w) PutIndex(Row(y) + size_t(x++) * ch, index);
    };
    while (i + 1 < FSize) {
      const uint8_t count = FBits[i], value = FBits[i + 1];
      i += 2;
      if (count > 0) {
        if (y >= h) Broken("RLE data writes below the last row");
        for (uint32_t k = 0; k < count; ++k)
          put(rle4 ? ((k & 1) ? value & 0x0F : value >> 4) : value);
        continue;
      }
      switch (value) {
        case 0:  // end of line
          x = 0, ++y;
          break;
        case 1:  // end of bitmap
          return;
        case 2: {  // delta
          if (i + 1 >= FSize) return;
          x += FBits[i], y += FBits[i + 1];
          i += 2;
          if (x > w || y > h) Broken("an RLE delta leaves the picture");
          break;
        }
        default: {  // absolute stretch, padded to a 16-bit boundary
          const size_t n = value;
          const size_t bytes = rle4 ? (n + 1) / 2 : n;
          if (i + bytes > FSize) Broken("an RLE stretch runs past the end of the data");
          if (y >= h) Broken("RLE data writes below the last row");
          for (size_t k = 0; k < n; ++k)
            put(rle4 ? ((k & 1) ? FBits[i + k / 2] & 0x0F : FBits[i + k / 2] >> 4) : FBits[i + k]);
          i += (bytes + 1) & ~size_t(1);
          break;
        }
      }
    }
  }

  void DecodeBitFields() {
    const TMaskChannel r(FH.Masks[0]), g(FH.Masks[1]), b(FH.Masks[2]), a(FH.Masks[3]);
    const size_t bytes = FH.BitCount / 8;
    if (bytes == 4 && FH.Masks[0] == 0xFF0000 && FH.Masks[1] == 0xFF00 && FH.Masks[2] == 0xFF &&
        (FH.Masks[3] == 0 || FH.Masks[3] == 0xFF000000u)) {
      // Already B, G, R(, A) in memory order.
      Allocate(FH.HasAlphaMask ? 4 : 3);
      CopyBGRX(FImg.Channels == 4);
      return;
    }
    DecodeMasked(r, g, b, a, bytes);
  }

  void DecodeMasked(const TMaskChannel &R, const TMaskChannel &G, const TMaskChannel &B,
                    const TMaskChannel &A, size_t Bytes) {
    Allocate(A.Mask ? 4 : 3);
    const size_t ch = FImg.Channels, w = size_t(FH.Width);
    for (int64_t row = 0; row < FH.Height; ++row) {
      const uint8_t *src = FileRow(row);
      uint8_t *dst = Row(row);
      for (size_t x = 0; x < w; ++x, src += Bytes, dst += ch) {
        const uint32_t p = Bytes == 2 ? U16(src) : U32(src);
        dst[0] = B.Expand(p), dst[1] = G.Expand(p), dst[2] = R.Expand(p);
        if (ch == 4) dst[3] = A.Expand(p);
      }
    }
  }

  void CopyBGRX(bool KeepAlpha) {
    const size_t w = size_t(FH.Width);
    for (int64_t row = 0; row < FH.Height; ++row) {
      const uint8_t *src = FileRow(row);
      uint8_t *dst = Row(row);
      if (KeepAlpha) {
        std::memcpy(dst, src, w * 4);
      } else {
        for (size_t x = 0; x < w; ++x, src += 4, dst += 3) dst[0] = src[0], dst[1] = src[1], dst[2] = src[2];
      }
    }
  }

  // Without bit fields the fourth byte may be alpha or padding.
  void Decode32(int32_t AlphaCheckType, bool FromPlugin) {
    bool alpha;
    if (FromPlugin || AlphaCheckType == ALPHA_CHECK_ARGB) {
      alpha = true;
    } else if (AlphaCheckType == ALPHA_CHECK_XRGB) {
      alpha = false;
    } else {
      alpha = DetectAlpha();
    }
    Allocate(alpha ? 4 : 3);
    CopyBGRX(alpha);
  }

  // Alpha is real when the first pixel's alpha byte is 0 or 255 and some
  // other pixel's differs from it (padding bytes are all one value).
  bool DetectAlpha() const {
    const uint64_t stride = ((uint64_t(FH.Width) * 32 + 31) / 32) * 4;
    if (stride * uint64_t(FH.Height) > FSize) Broken("the pixel data is cut short");
    const uint8_t first = FBits[3];
    if (first != 0 && first != 255) return false;
    for (int64_t row = 0; row < FH.Height; ++row) {
      const uint8_t *src = FBits + size_t(row * stride);
      for (int64_t x = 0; x < FH.Width; ++x)
        if (src[size_t(x) * 4 + 3] != first) return true;
    }
    return false;
  }
};

// Palette of Count entries at P (EntrySize 3 or 4 bytes, B, G, R first).
TPalette ReadPalette(const uint8_t *P, size_t Avail, uint32_t Count, size_t EntrySize) {
  TPalette pal;
  Count = uint32_t(std::min<size_t>(Count, Avail / EntrySize));
  pal.Count = Count;
  for (uint32_t i = 0; i < Count; ++i) {
    const uint8_t *e = P + size_t(i) * EntrySize;
    pal.BGR[i][0] = e[0], pal.BGR[i][1] = e[1], pal.BGR[i][2] = e[2];
    if (e[0] != e[1] || e[1] != e[2]) pal.Gray = false;
  }
  if (Count == 256 && pal.Gray) {
    pal.Identity = true;
    for (uint32_t i = 0; i < 256 && pal.Identity; ++i) pal.Identity = pal.BGR[i][0] == i;
  }
  return pal;
}

// The shared part of file and plug-in decoding. Info points at the info
// header with InfoAvail bytes after it; PaletteEnd (from Info) bounds the
// palette when the pixel data starts right after it.
void DecodeDIB(const TDibInfo &H, const uint8_t *Info, size_t PaletteAvail, const uint8_t *Bits,
               size_t BitsSize, TICCImgInfo &Img, int32_t AlphaCheckType, bool FromPlugin) {
  TPalette pal;
  if (H.BitCount <= 8) {
    const uint32_t full = 1u << H.BitCount;
    uint32_t count = H.ClrUsed ? H.ClrUsed : full;
    if (count > full) {
      // A palette longer than the depth can index is read as far as the
      // indexes reach when it really is there; a count the file cannot hold
      // is a broken header.
      if (uint64_t(count) * (H.HeaderSize == 12 ? 3 : 4) > PaletteAvail) Broken("the palette is longer than the file");
      count = full;
    }
    const size_t entry = H.HeaderSize == 12 ? 3 : 4;
    pal = ReadPalette(Info + H.HeaderSize + H.MaskBytesAfterHeader, PaletteAvail, count, entry);
  }
  Img = TICCImgInfo{};
  // The pixel block stays only when the decode has succeeded.
  TICCImgOwner decoded;
  TDibDecoder(H, pal, Bits, BitsSize, *decoded).Decode(AlphaCheckType, FromPlugin);
  decoded->BPP = BPP_8;
  decoded->PixelFormat = decoded->Channels == 1 ? PIXFMT_GRAY : decoded->Channels == 3 ? PIXFMT_BGR : PIXFMT_BGRA;
  decoded->ProfileType = decoded->Channels == 1 ? PROFILE_DEFAULT_GRAY : PROFILE_DEFAULT_RGB;
  Img = decoded.Detach();
}

size_t PaletteBytes(const TDibInfo &H) {
  if (H.BitCount > 8) return 0;
  const uint32_t full = 1u << H.BitCount;
  const uint32_t count = H.ClrUsed && H.ClrUsed <= full ? H.ClrUsed : full;
  return size_t(count) * (H.HeaderSize == 12 ? 3 : 4);
}

}  // namespace

bool ReadDIBHeaderFacts(const uint8_t *Data, size_t Size, TDIBFacts &Facts) {
  if (!Data || Size < 4 || !KnownHeaderSize(U32(Data))) return false;
  try {
    const TDibInfo h = ReadInfoHeader(Data, Size);
    Facts.Width = int32_t(h.Width);
    Facts.Height = int32_t(h.Height);
    Facts.XPelsPerMeter = h.HeaderSize == 12 ? 0 : I32(Data + 24);
    Facts.YPelsPerMeter = h.HeaderSize == 12 ? 0 : I32(Data + 28);
    return true;
  } catch (const ETessivoError &) {
    return false;
  }
}

void LoadBitmapFromMemory(const uint8_t *Data, size_t Size, TICCImgInfo &Img, int32_t AlphaCheckType,
                          bool FromPlugin) {
  constexpr size_t FileHeader = 14;
  // A ".dib" file may be the info header, palette and pixels without the file header.
  if (Data && Size >= 4 && !(Data[0] == 'B' && Data[1] == 'M') && KnownHeaderSize(U32(Data))) {
    LoadDIBFromMemory(Data, Size, nullptr, 0, Img, AlphaCheckType, FromPlugin);
    return;
  }
  if (!Data || Size < 2 || Data[0] != 'B' || Data[1] != 'M') Unsupported("no BMP file header");
  if (Size < FileHeader + 4) Broken("the file header is cut short");
  const uint32_t fileSize = U32(Data + 2);
  if (fileSize > Size) Broken("the file is shorter than its header says");
  const uint32_t offset = U32(Data + 10);
  const uint8_t *info = Data + FileHeader;
  const size_t infoAvail = Size - FileHeader;
  const TDibInfo h = ReadInfoHeader(info, infoAvail);
  const size_t paletteStart = h.HeaderSize + h.MaskBytesAfterHeader;  // from info
  size_t bitsStart;
  if (offset == 0) {
    bitsStart = FileHeader + paletteStart + PaletteBytes(h);
  } else {
    bitsStart = offset;
  }
  if (bitsStart < FileHeader + paletteStart || bitsStart >= Size) Broken("the pixel data offset lies outside the file");
  // The palette ends where the pixels begin (OS/2 files may carry a short one).
  const size_t paletteAvail = bitsStart - FileHeader - paletteStart;
  DecodeDIB(h, info, paletteAvail, Data + bitsStart, Size - bitsStart, Img, AlphaCheckType, FromPlugin);
}

void LoadDIBFromMemory(const uint8_t *Info, size_t InfoSize, const uint8_t *Bits, size_t BitsSize,
                       TICCImgInfo &Img, int32_t AlphaCheckType, bool FromPlugin) {
  if (!Info) Broken("no info header");
  const TDibInfo h = ReadInfoHeader(Info, InfoSize);
  const size_t paletteStart = h.HeaderSize + h.MaskBytesAfterHeader;
  if (paletteStart > InfoSize) Broken("the info header is cut short");
  size_t paletteAvail = InfoSize - paletteStart;
  if (!Bits) {
    // Pixels follow the palette in the same block.
    const size_t start = paletteStart + PaletteBytes(h);
    if (start >= InfoSize) Broken("no pixel data after the palette");
    paletteAvail = start - paletteStart;
    Bits = Info + start;
    BitsSize = InfoSize - start;
  }
  DecodeDIB(h, Info, paletteAvail, Bits, BitsSize, Img, AlphaCheckType, FromPlugin);
}

void FlipImageVertical(TICCImgInfo &Img) {
  if (!Img.Mem || Img.Height < 2) return;
  std::vector<uint8_t> tmp(Img.Bpl);
  for (uint32_t top = 0, bottom = Img.Height - 1; top < bottom; ++top, --bottom) {
    uint8_t *a = ScanLine(Img, top), *b = ScanLine(Img, bottom);
    std::memcpy(tmp.data(), a, Img.Bpl);
    std::memcpy(a, b, Img.Bpl);
    std::memcpy(b, tmp.data(), Img.Bpl);
  }
}
