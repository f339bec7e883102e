// JPEG XR. The container is read and checked here; jxrlib sees only a copy
// reduced to the entries it needs for the pixels, and runs in a child process,
// because it asserts (aborting the whole program) or misbehaves on damaged
// streams. Output follows the read_wic layout: 8-bit B,G,R(,A), 16-bit
// R,G,B(,A), CMYK flagged.
#include "pixio/JxrDecode.h"
#include "pixio/PixioInternal.h"

#include <chrono>

namespace pixio {

namespace {

uint16_t LE16(std::span<const uint8_t> d, size_t at) { return uint16_t(d[at] | (d[at + 1] << 8)); }
uint32_t LE32(std::span<const uint8_t> d, size_t at) {
  return uint32_t(d[at]) | (uint32_t(d[at + 1]) << 8) | (uint32_t(d[at + 2]) << 16) | (uint32_t(d[at + 3]) << 24);
}

bool InRange(std::span<const uint8_t> d, uint64_t off, uint64_t len) { return off <= d.size() && len <= d.size() - off; }

// The entries of the container that decoding needs; everything else (descriptive
// metadata, XMP, Exif, ...) stays out of the decoder's way.
bool KeptForDecoding(uint16_t tag) {
  switch (tag) {
    case 0xBC01: case 0xBC02: case 0xBC03: case 0xBC04: case 0xBC80: case 0xBC81: case 0xBC82: case 0xBC83:
    case 0xBCC0: case 0xBCC1: case 0xBCC2: case 0xBCC3: case 0xBCC4: case 0xBCC5: return true;
    default: return false;
  }
}

}  // namespace

bool ParseJxrContainer(std::span<const uint8_t> d, JxrFacts &f, std::vector<uint8_t> *Clean) {
  f = JxrFacts{};
  if (d.size() < 16 || d[0] != 'I' || d[1] != 'I' || d[2] != 0xBC || d[3] > 1) return false;
  const uint32_t ifd = LE32(d, 4);
  if (!InRange(d, ifd, 2)) return false;
  const uint32_t n = LE16(d, ifd);
  if (n == 0 || n == 0xFFFF || !InRange(d, uint64_t(ifd) + 2, uint64_t(n) * 12 + 4)) return false;
  bool format = false;
  uint64_t imgOff = 0, imgLen = 0, alphaOff = 0, alphaLen = 0;
  if (Clean) Clean->assign(d.begin(), d.end());
  uint32_t kept = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const size_t at = ifd + 2 + size_t(i) * 12;
    const uint16_t tag = LE16(d, at), type = LE16(d, at + 2);
    const uint32_t count = LE32(d, at + 4), value = LE32(d, at + 8);
    switch (tag) {
      case 0xBC01:  // pixel format: a 16-byte GUID at the offset
        if (type != 1 || count != 16 || !InRange(d, value, 16)) return false;
        std::memcpy(f.Guid, d.data() + value, 16);
        format = true;
        break;
      case 0xBC02:
        if (count != 1 || value >= 8) continue;  // an orientation jxrlib cannot represent: dropped
        break;
      case 0xBC80: f.Width = type == 3 ? (value & 0xFFFF) : value; break;
      case 0xBC81: f.Height = type == 3 ? (value & 0xFFFF) : value; break;
      case 0xBC82:
      case 0xBC83: {
        if (type != 11 || count != 1) continue;
        float v;
        std::memcpy(&v, &value, 4);
        (tag == 0xBC82 ? f.XResolution : f.YResolution) = v;
        break;
      }
      case 0xBCC0: imgOff = value; break;
      case 0xBCC1: imgLen = value; break;
      case 0xBCC2: alphaOff = value; break;
      case 0xBCC3: alphaLen = value; break;
      case 0x8773:
        if (InRange(d, value, count)) f.ProfileOffset = value, f.ProfileLen = count;
        break;
      case 0x8769: f.ExifIfd = value; break;
      default: break;
    }
    if (Clean && KeptForDecoding(tag)) std::memcpy(Clean->data() + ifd + 2 + size_t(kept++) * 12, d.data() + at, 12);
  }
  // Byte counts are not checked against the file: encoders are known to write
  // padded ones, and the stream reader stops at the end of the data anyway.
  (void)imgLen, (void)alphaLen;
  if (!format || f.Width == 0 || f.Height == 0 || imgOff == 0 || !InRange(d, imgOff, 1)) return false;
  if (alphaOff && !InRange(d, alphaOff, 1)) return false;
  if (Clean) {
    // Fewer entries, same place: the next-IFD offset moves up behind them and reads 0.
    (*Clean)[ifd] = uint8_t(kept), (*Clean)[ifd + 1] = uint8_t(kept >> 8);
    std::memset(Clean->data() + ifd + 2 + size_t(kept) * 12, 0, size_t(n - kept) * 12 + 4);
  }
  return true;
}

void DecodeJxr(TPixioDecode &Info, std::span<const uint8_t> Data) {
  JxrFacts f;
  std::vector<uint8_t> clean;
  if (!ParseJxrContainer(Data, f, &clean)) throw DecodeError("not a readable JPEG XR file");
  if (f.Width > MaxSide || f.Height > MaxSide || uint64_t(f.Width) * f.Height > MaxPixels)
    throw DecodeError("image is too large");
  uint32_t bytes = 0;
  const int layout = JxrLayoutOfGuid(f.Guid, &bytes);
  if (!layout) throw DecodeError("unsupported JPEG XR pixel format");

  // Macroblocks are 16x16; padding to whole blocks keeps the decoder's edge writes inside.
  const size_t padW = (size_t(f.Width) + 15) & ~size_t(15), padH = (size_t(f.Height) + 15) & ~size_t(15);
  const size_t stride = (padW * bytes + 127) & ~size_t(127);
  // Shared memory the child decodes into: the status block, then the pixel rows.
  const size_t head = 4096;
  const SharedBlock shm(head + padH * stride);
  if (!shm.Data()) throw DecodeError("out of memory");
  auto *status = reinterpret_cast<ChildStatus *>(shm.Data());
  uint8_t *pixels = shm.Data() + head;
  // Generous for any real image, but a looping decoder does not hold up the batch forever.
  const std::chrono::seconds limit(30 + uint64_t(f.Width) * f.Height / 200000);
  std::string failure;
  if (!RunInChild(*status, limit, "JPEG XR decoder", "damaged JPEG XR image data",
                  [&](char *Message, size_t MessageLen) {
                    return JxrDecodeInto(clean.data(), clean.size(), pixels, uint32_t(stride), f.Width, f.Height,
                                         layout, Message, MessageLen);
                  },
                  failure))
    throw DecodeError(failure);

  uint32_t ch = 3, bits = 8;
  switch (layout) {
    case JXR_GRAY8: ch = 1; break;
    case JXR_GRAY16: ch = 1, bits = 16; break;
    case JXR_BGRA8: case JXR_RGBA8: ch = 4; break;
    case JXR_RGB16: bits = 16; break;
    case JXR_RGBA16: ch = 4, bits = 16; break;
    case JXR_CMYK8: ch = 4; Info.IsCMYK = 1; break;
    case JXR_CMYK16: ch = 4, bits = 16; Info.IsCMYK = 1; break;
    default: break;
  }
  AllocImage(Info, f.Width, f.Height, ch, bits);
  const size_t rowBytes = size_t(f.Width) * ch * (bits / 8);
  for (uint32_t y = 0; y < f.Height; ++y) {
    const uint8_t *s = pixels + size_t(y) * stride;
    uint8_t *d = Row(Info, y, true);
    switch (layout) {
      case JXR_RGB8:
        for (uint32_t x = 0; x < f.Width; ++x) d[x * 3] = s[x * 3 + 2], d[x * 3 + 1] = s[x * 3 + 1], d[x * 3 + 2] = s[x * 3];
        break;
      case JXR_BGRX8:
        for (uint32_t x = 0; x < f.Width; ++x) std::memcpy(d + x * 3, s + x * 4, 3);
        break;
      case JXR_RGBA8:
        for (uint32_t x = 0; x < f.Width; ++x)
          d[x * 4] = s[x * 4 + 2], d[x * 4 + 1] = s[x * 4 + 1], d[x * 4 + 2] = s[x * 4], d[x * 4 + 3] = s[x * 4 + 3];
        break;
      default: std::memcpy(d, s, rowBytes); break;  // already in the output layout
    }
  }
  if (f.ProfileLen) AttachProfile(Info, Data.data() + f.ProfileOffset, f.ProfileLen);
  if (f.XResolution > 0 && f.YResolution > 0) {
    Info.XResolution = f.XResolution;
    Info.YResolution = f.YResolution;
    Info.ResolutionUnit = 1;
  }
}

}  // namespace pixio
