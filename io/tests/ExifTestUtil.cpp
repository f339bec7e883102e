#include "io/tests/ExifTestUtil.h"

#include <cstring>

TTestEntry TTiffBuilder::Short(uint16_t Tag, uint16_t V) const {
  TTestEntry e{Tag, 3, 1, {}};
  Put16(e.Value, V);
  return e;
}
TTestEntry TTiffBuilder::Long(uint16_t Tag, uint32_t V) const {
  TTestEntry e{Tag, 4, 1, {}};
  Put32(e.Value, V);
  return e;
}
TTestEntry TTiffBuilder::Rational(uint16_t Tag, std::initializer_list<uint32_t> NumDen) const {
  TTestEntry e{Tag, 5, uint32_t(NumDen.size() / 2), {}};
  for (uint32_t v : NumDen) Put32(e.Value, v);
  return e;
}
TTestEntry TTiffBuilder::Ascii(uint16_t Tag, const std::string &S, uint32_t Count) const {
  TTestEntry e{Tag, 2, Count ? Count : uint32_t(S.size() + 1), {}};
  e.Value.assign(S.begin(), S.end());
  e.Value.resize(e.Count, 0);
  return e;
}
TTestEntry TTiffBuilder::Undefined(uint16_t Tag, const std::vector<uint8_t> &Bytes) const {
  return TTestEntry{Tag, 7, uint32_t(Bytes.size()), Bytes};
}
TTestEntry TTiffBuilder::Pointer(uint16_t Tag, int Ifd) const {
  TTestEntry e{Tag, 4, 1, {0, 0, 0, 0}};
  e.Ifd = Ifd;
  return e;
}
TTestEntry TTiffBuilder::BlobPointer(uint16_t Tag, int Blob) const {
  TTestEntry e{Tag, 4, 1, {0, 0, 0, 0}};
  e.Blob = Blob;
  return e;
}
int TTiffBuilder::AddIfd() {
  Ifds.emplace_back();
  return int(Ifds.size() - 1);
}

void TTiffBuilder::Put16(std::vector<uint8_t> &V, uint16_t X) const {
  if (BE) V.push_back(uint8_t(X >> 8)), V.push_back(uint8_t(X));
  else V.push_back(uint8_t(X)), V.push_back(uint8_t(X >> 8));
}
void TTiffBuilder::Put32(std::vector<uint8_t> &V, uint32_t X) const {
  for (int i = 0; i < 4; ++i) V.push_back(uint8_t(BE ? X >> (24 - 8 * i) : X >> (8 * i)));
}

std::vector<uint8_t> TTiffBuilder::Build(std::vector<uint32_t> *BlobPos, std::vector<uint32_t> *IfdPos) const {
  // First pass: positions.
  std::vector<uint32_t> ifdPos(Ifds.size()), blobPos(Blobs.size());
  size_t at = 8;
  for (size_t i = 0; i < Ifds.size(); ++i) {
    ifdPos[i] = uint32_t(at);
    at += 2 + Ifds[i].Entries.size() * 12 + 4;
    for (const auto &e : Ifds[i].Entries)
      if (e.Value.size() > 4 && e.FixedOffset < 0) at += (e.Value.size() + 1) & ~size_t(1);
  }
  for (size_t i = 0; i < Blobs.size(); ++i) blobPos[i] = uint32_t(at), at += (Blobs[i].size() + 1) & ~size_t(1);
  std::vector<uint8_t> out;
  out.push_back(BE ? 'M' : 'I');
  out.push_back(BE ? 'M' : 'I');
  Put16(out, 42);
  Put32(out, ifdPos[0]);
  std::vector<std::pair<int32_t, std::vector<uint8_t>>> fixed;
  for (size_t i = 0; i < Ifds.size(); ++i) {
    const auto &ifd = Ifds[i];
    Put16(out, uint16_t(ifd.Entries.size()));
    size_t valueAt = ifdPos[i] + 2 + ifd.Entries.size() * 12 + 4;
    std::vector<uint8_t> values;
    for (const auto &e : ifd.Entries) {
      Put16(out, e.Tag);
      Put16(out, e.Type);
      Put32(out, e.Count);
      if (e.Ifd >= 0) Put32(out, ifdPos[e.Ifd]);
      else if (e.Blob >= 0) Put32(out, blobPos[e.Blob]);
      else if (e.Value.size() > 4 && e.FixedOffset >= 0) Put32(out, uint32_t(e.FixedOffset)), fixed.push_back({e.FixedOffset, e.Value});
      else if (e.Value.size() > 4) {
        Put32(out, uint32_t(valueAt + values.size()));
        values.insert(values.end(), e.Value.begin(), e.Value.end());
        if (values.size() & 1) values.push_back(0);
      } else {
        std::vector<uint8_t> v = e.Value;
        v.resize(4, 0);
        out.insert(out.end(), v.begin(), v.end());
      }
    }
    Put32(out, ifd.Next >= 0 ? ifdPos[ifd.Next] : 0);
    out.insert(out.end(), values.begin(), values.end());
  }
  for (const auto &b : Blobs) {
    out.insert(out.end(), b.begin(), b.end());
    if (out.size() & 1) out.push_back(0);
  }
  for (const auto &[off, v] : fixed) {
    if (out.size() < off + v.size()) out.resize(off + v.size(), 0);
    std::memcpy(out.data() + off, v.data(), v.size());
  }
  if (out.size() < MinSize) out.resize(MinSize, 0);
  if (BlobPos) *BlobPos = blobPos;
  if (IfdPos) *IfdPos = ifdPos;
  return out;
}

uint16_t TiffGet16(const std::vector<uint8_t> &T, size_t Off) {
  return T[0] == 'M' ? uint16_t(T[Off] << 8 | T[Off + 1]) : uint16_t(T[Off + 1] << 8 | T[Off]);
}
uint32_t TiffGet32(const std::vector<uint8_t> &T, size_t Off) {
  return T[0] == 'M' ? (uint32_t(TiffGet16(T, Off)) << 16 | TiffGet16(T, Off + 2))
                     : (uint32_t(TiffGet16(T, Off + 2)) << 16 | TiffGet16(T, Off));
}

TICCImgInfo MakeTestImage(uint32_t Width, uint32_t Height, uint32_t Channels) {
  TICCImgInfo img{};
  img.Width = Width, img.Height = Height, img.Channels = Channels, img.BPP = BPP_8;
  img.PixelFormat = Channels == 1 ? PIXFMT_GRAY : Channels == 4 ? PIXFMT_BGRA : PIXFMT_BGR;
  img.Bpl = GetAlignedBpl(Width, Channels);
  img.Mem = AllocPixelBlock(img.Bpl, Height);
  for (uint32_t y = 0; y < Height; ++y)
    for (uint32_t x = 0; x < Width * Channels; ++x) PictureRow(img, y)[x] = uint8_t((x * 7 + y * 13) & 0xFF);
  return img;
}

std::vector<uint8_t> ExifPayload(const std::vector<uint8_t> &Tiff) {
  std::vector<uint8_t> p = {'E', 'x', 'i', 'f', 0, 0};
  p.insert(p.end(), Tiff.begin(), Tiff.end());
  return p;
}

std::vector<uint8_t> MakeJpeg(const std::vector<std::pair<uint16_t, std::vector<uint8_t>>> &Segments, bool WithScan) {
  std::vector<uint8_t> j = {0xFF, 0xD8};
  for (const auto &[m, p] : Segments) {
    j.push_back(0xFF), j.push_back(uint8_t(m));
    j.push_back(uint8_t((p.size() + 2) >> 8)), j.push_back(uint8_t(p.size() + 2));
    j.insert(j.end(), p.begin(), p.end());
  }
  if (WithScan) j.insert(j.end(), {0xFF, 0xDA, 0x00, 0x02, 0x12, 0x34, 0x56});
  j.insert(j.end(), {0xFF, 0xD9});
  return j;
}

std::vector<uint8_t> Bytes(const std::string &S) { return std::vector<uint8_t>(S.begin(), S.end()); }
