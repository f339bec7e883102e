// Record checks and the Exif walk shared by the encoders.
#include "pixio/WriteInternal.h"

#include "pixio/ExifTiff.h"

#include <algorithm>
#include <cstring>

namespace pixio {

void CheckImage(const TPixioEncode &Info, std::initializer_list<uint32_t> Channels,
                std::initializer_list<uint32_t> Bits) {
  if (!Info.Mem) throw EncodeError("no pixels");
  if (Info.Width == 0 || Info.Height == 0) throw EncodeError("image has no pixels");
  if (Info.Width > MaxSide || Info.Height > MaxSide || uint64_t(Info.Width) * Info.Height > MaxPixels)
    throw EncodeError("image is too large");
  const uint32_t bits = SampleBits(Info);
  if (std::find(Channels.begin(), Channels.end(), Info.Channels) == Channels.end())
    throw EncodeError("unsupported channel count " + std::to_string(Info.Channels));
  if (std::find(Bits.begin(), Bits.end(), bits) == Bits.end())
    throw EncodeError("unsupported bits per sample " + std::to_string(bits));
  const uint64_t rowBits = uint64_t(Info.Width) * Info.Channels * bits;
  if (uint64_t(Info.Bpl) * 8 < rowBits) throw EncodeError("row stride is shorter than a row");
}

void CheckPalette(const TPixioEncode &Info) {
  if (!Info.Palette) return;
  const uint32_t bits = SampleBits(Info);
  if (Info.Channels != 1 || (bits != 1 && bits != 2 && bits != 4 && bits != 8))
    throw EncodeError("palette images have one channel of 1, 2, 4 or 8 bits");
  if (Info.PaletteCount < 1 || Info.PaletteCount > (1 << bits))
    throw EncodeError("palette size does not suit the index bits");
}

namespace {

uint16_t Get16(const uint8_t *p, bool be) { return be ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]); }
uint32_t Get32(const uint8_t *p, bool be) {
  return be ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
            : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
void Put16(uint8_t *p, uint16_t v, bool be) {
  if (be) p[0] = uint8_t(v >> 8), p[1] = uint8_t(v);
  else p[0] = uint8_t(v), p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t *p, uint32_t v, bool be) {
  for (int i = 0; i < 4; ++i) p[be ? 3 - i : i] = uint8_t(v >> (8 * i));
}

bool IsTiff(std::span<const uint8_t> d) {
  return d.size() >= 8 && ((d[0] == 'I' && d[1] == 'I' && d[2] == 42 && d[3] == 0) ||
                           (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && d[3] == 42));
}

bool IsExifPayload(std::span<const uint8_t> d) {
  return d.size() >= 14 && std::memcmp(d.data(), "Exif\0\0", 6) == 0 && IsTiff(d.subspan(6));
}

// The APP1 "Exif" payload of a JPEG stream, walking the segments before SOS;
// Continued receives the payloads of the APP1 segments right after it that
// go on with its block (exiftiff::IsExifContinuation).
std::span<const uint8_t> JpegExifPayload(std::span<const uint8_t> d,
                                         std::vector<std::span<const uint8_t>> *Continued = nullptr) {
  size_t at = 2;
  std::span<const uint8_t> first;
  while (at + 4 <= d.size() && d[at] == 0xFF) {
    const uint8_t code = d[at + 1];
    if (code == 0xDA || code == 0xD9) break;
    const size_t len = size_t(d[at + 2]) << 8 | d[at + 3];
    if (len < 2 || at + 2 + len > d.size()) break;
    auto payload = d.subspan(at + 4, len - 2);
    if (!first.empty()) {
      if (code != 0xE1 || !exiftiff::IsExifContinuation(payload.data(), payload.size()) || !Continued) break;
      Continued->push_back(payload);
    } else if (code == 0xE1 && IsExifPayload(payload)) {
      first = payload;
    }
    at += 2 + len;
  }
  return first;
}

constexpr uint16_t TagExifIfd = 0x8769, TagGpsIfd = 0x8825, TagInteropIfd = 0xA005;

bool ReadIfd(std::span<const uint8_t> t, bool be, uint32_t off, std::vector<ExifEntry> &out, uint32_t *exif,
             uint32_t *gps) {
  if (off < 8 || off > t.size() || t.size() - off < 2) return false;
  // A block cut short inside the IFD gives the entries it still holds.
  const uint32_t n = uint32_t(std::min<uint64_t>(Get16(t.data() + off, be), (t.size() - off - 2) / 12));
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t *e = t.data() + off + 2 + size_t(i) * 12;
    ExifEntry en;
    en.Tag = Get16(e, be);
    en.Type = Get16(e + 2, be);
    en.Count = Get32(e + 4, be);
    if (en.Tag == TagExifIfd || en.Tag == TagGpsIfd) {
      const uint32_t v = Get32(e + 8, be);
      if (en.Tag == TagExifIfd && exif) *exif = v;
      if (en.Tag == TagGpsIfd && gps) *gps = v;
      continue;
    }
    if (en.Tag == TagInteropIfd) continue;
    const uint32_t size = ExifTypeSize(en.Type);
    if (size == 0) continue;  // a type nobody can copy faithfully
    const uint64_t bytes = uint64_t(size) * en.Count;
    if (bytes > t.size()) continue;
    const uint8_t *v = e + 8;
    if (bytes > 4) {
      const uint32_t at = Get32(e + 8, be);
      if (uint64_t(at) + bytes > t.size()) continue;
      v = t.data() + at;
    }
    en.Value.assign(v, v + bytes);
    out.push_back(std::move(en));
  }
  return true;
}

ExifEntry *Find(std::vector<ExifEntry> &dir, uint16_t tag) {
  for (auto &e : dir)
    if (e.Tag == tag) return &e;
  return nullptr;
}

}  // namespace

std::span<const uint8_t> FindExifTiff(std::span<const uint8_t> b) {
  if (IsTiff(b)) return b;
  if (IsExifPayload(b)) return b.subspan(6);
  if (b.size() >= 4 && b[0] == 0xFF && b[1] == 0xD8) {
    auto p = JpegExifPayload(b);
    if (!p.empty()) return p.subspan(6);
  }
  return {};
}

std::vector<uint8_t> JpegExifTiff(std::span<const uint8_t> Jpeg) {
  std::vector<std::span<const uint8_t>> continued;
  const auto first = JpegExifPayload(Jpeg, &continued);
  if (first.empty()) return {};
  std::vector<uint8_t> out(first.begin() + 6, first.end());
  for (const auto &c : continued) out.insert(out.end(), c.begin() + 6, c.end());
  return out;
}

std::vector<uint8_t> ExifApp1Payload(std::span<const uint8_t> b) {
  const auto tiff = FindExifTiff(b);
  if (tiff.empty()) return {};
  std::vector<uint8_t> out{'E', 'x', 'i', 'f', 0, 0};
  out.insert(out.end(), tiff.begin(), tiff.end());
  return out;
}

uint32_t ExifTypeSize(uint16_t Type) {
  switch (Type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

double ExifNumber(const ExifEntry &E, bool be, uint32_t I) {
  const uint32_t size = ExifTypeSize(E.Type);
  if (I >= E.Count || size == 0 || size_t(I + 1) * size > E.Value.size()) return 0;
  const uint8_t *p = E.Value.data() + size_t(I) * size;
  switch (E.Type) {
    case 1: case 7: return p[0];
    case 6: return int8_t(p[0]);
    case 3: return Get16(p, be);
    case 8: return int16_t(Get16(p, be));
    case 4: return Get32(p, be);
    case 9: return int32_t(Get32(p, be));
    case 5: {
      const uint32_t d = Get32(p + 4, be);
      return d ? double(Get32(p, be)) / d : 0;
    }
    case 10: {
      const int32_t d = int32_t(Get32(p + 4, be));
      return d ? double(int32_t(Get32(p, be))) / d : 0;
    }
    case 11: {
      uint32_t u = Get32(p, be);
      float f;
      std::memcpy(&f, &u, 4);
      return f;
    }
    default: return 0;
  }
}

bool ParseExifDirs(std::span<const uint8_t> t, ExifDirs &d) {
  d = ExifDirs{};
  if (!IsTiff(t)) return false;
  d.BigEndian = t[0] == 'M';
  uint32_t exif = 0, gps = 0;
  if (!ReadIfd(t, d.BigEndian, Get32(t.data() + 4, d.BigEndian), d.Ifd0, &exif, &gps)) return false;
  if (exif) ReadIfd(t, d.BigEndian, exif, d.Exif, nullptr, nullptr);
  if (gps) ReadIfd(t, d.BigEndian, gps, d.Gps, nullptr, nullptr);
  return true;
}

void UpdateExifDirs(ExifDirs &d, const TPixioEncode &Info, bool UpdateSoftware) {
  const bool be = d.BigEndian;
  if (Info.NewWidth && Info.NewHeight) {
    for (uint16_t tag : {uint16_t(0xA002), uint16_t(0xA003)}) {
      ExifEntry *e = Find(d.Exif, tag);
      if (!e) {
        d.Exif.push_back(ExifEntry{tag, 4, 1, {}});
        e = &d.Exif.back();
      }
      e->Type = 4, e->Count = 1, e->Value.assign(4, 0);
      Put32(e->Value.data(), tag == 0xA002 ? Info.NewWidth : Info.NewHeight, be);
    }
  }
  if (Info.ResetOrientation)
    if (ExifEntry *e = Find(d.Ifd0, 0x0112)) e->Type = 3, e->Count = 1, e->Value.assign(2, 0), Put16(e->Value.data(), 1, be);
  if (!Info.CopyMakerNote) std::erase_if(d.Exif, [](const ExifEntry &e) { return e.Tag == 0x927C; });
  if (Info.DeleteGPS) d.Gps.clear();
  if (UpdateSoftware) {
    ExifEntry *e = Find(d.Ifd0, 0x0131);
    if (!e) {
      d.Ifd0.push_back(ExifEntry{0x0131, 2, 0, {}});
      e = &d.Ifd0.back();
    }
    e->Type = 2;
    e->Value.assign(SoftwareName, SoftwareName + std::strlen(SoftwareName) + 1);
    e->Count = uint32_t(e->Value.size());
  }
  for (auto *dir : {&d.Ifd0, &d.Exif, &d.Gps})
    std::sort(dir->begin(), dir->end(), [](const ExifEntry &a, const ExifEntry &b) { return a.Tag < b.Tag; });
}

}  // namespace pixio
