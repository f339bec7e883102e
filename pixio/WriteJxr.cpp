// HD Photo (JPEG XR) encoding over jxrlib: gray, colour and colour+alpha at 8
// or 16 bits, quantisation, overlap, chroma subsampling, tiles, interleaved or
// planar alpha, resolution, ICC profile, the descriptive text of the source's
// IFD0 and its Exif and GPS directories. jxrlib asserts (aborting the whole
// program) on some inputs, so it runs in a child process that writes the file.
#include "pixio/JxrEncode.h"
#include "pixio/WriteInternal.h"

#include <algorithm>
#include <chrono>

namespace pixio {

namespace {

void Put16LE(std::vector<uint8_t> &b, size_t at, uint16_t v) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); }
void Put32LE(std::vector<uint8_t> &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// An entry's value bytes in little-endian order (jxrlib copies the directory as Intel data).
std::vector<uint8_t> LittleEndianValue(const ExifEntry &e, bool be) {
  std::vector<uint8_t> v = e.Value;
  if (!be) return v;
  const uint32_t size = ExifTypeSize(e.Type);
  // Rationals are two 32-bit halves; the rest swap as one unit of their size.
  const uint32_t unit = (e.Type == 5 || e.Type == 10) ? 4 : size;
  if (unit > 1)
    for (size_t at = 0; at + unit <= v.size(); at += unit) std::reverse(v.begin() + long(at), v.begin() + long(at + unit));
  return v;
}

// One directory as jxrlib takes it: the IFD at offset 0, values behind it,
// offsets counted from the start of the buffer, no next-directory link.
std::vector<uint8_t> BuildIfd(const std::vector<ExifEntry> &dir, bool be) {
  std::vector<const ExifEntry *> entries;
  for (const ExifEntry &e : dir)
    if (ExifTypeSize(e.Type) && e.Count && e.Value.size() == size_t(ExifTypeSize(e.Type)) * e.Count) entries.push_back(&e);
  if (entries.empty()) return {};
  const size_t head = 2 + 12 * entries.size() + 4;
  std::vector<uint8_t> out(head, 0);
  Put16LE(out, 0, uint16_t(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const ExifEntry &e = *entries[i];
    const size_t at = 2 + 12 * i;
    const std::vector<uint8_t> v = LittleEndianValue(e, be);
    Put16LE(out, at, e.Tag);
    Put16LE(out, at + 2, e.Type);
    Put32LE(out, at + 4, e.Count);
    if (v.size() <= 4) {
      std::copy(v.begin(), v.end(), out.begin() + long(at + 8));
    } else {
      if (out.size() & 1) out.push_back(0);  // values start on a word boundary
      Put32LE(out, at + 8, uint32_t(out.size()));
      out.insert(out.end(), v.begin(), v.end());
    }
  }
  if (out.size() > 0xFFFF0000u) return {};
  return out;
}

// The text of an ASCII entry up to its first terminator; empty when absent.
std::string TextOf(const std::vector<ExifEntry> &dir, uint16_t tag) {
  for (const ExifEntry &e : dir)
    if (e.Tag == tag && e.Type == 2) return std::string(e.Value.begin(), std::find(e.Value.begin(), e.Value.end(), 0));
  return {};
}

int LayoutOf(uint32_t channels, uint32_t bits) {
  if (bits == 8) return channels == 1 ? JXR_GRAY8 : channels == 3 ? JXR_BGR8 : JXR_BGRA8;
  return channels == 1 ? JXR_GRAY16 : channels == 3 ? JXR_RGB16 : JXR_RGBA16;
}

// Runs the encoder in a child process; a crash or a hang fails the call instead of the program.
void EncodeInChild(const char *FileName, const JxrEncodeParams &P) {
  const SharedBlock shm(4096);
  if (!shm.Data()) throw EncodeError("out of memory");
  auto *status = reinterpret_cast<ChildStatus *>(shm.Data());
  const std::chrono::seconds limit(60 + uint64_t(P.Width) * P.Height / 100000);
  std::string failure;
  if (!RunInChild(*status, limit, "JPEG XR encoder", "the JPEG XR encoder stopped on this image",
                  [&](char *Message, size_t MessageLen) { return JxrEncodeFile(FileName, &P, Message, MessageLen); },
                  failure))
    throw EncodeError(failure);
}

void Encode(const TPixioEncode &Info, const char *FileName, const uint8_t *Exif, uint32_t ExifLen,
            bool UpdateSoftware) {
  if (!FileName || !*FileName) throw EncodeError("no file name");
  if (Info.Palette) throw EncodeError("HD Photo has no palette images");
  CheckImage(Info, {1, 3, 4}, {8, 16});
  const uint32_t bits = SampleBits(Info);

  ExifDirs dirs;
  bool haveExif = false;
  if (Exif && ExifLen) {
    haveExif = ParseExifDirs(FindExifTiff({Exif, ExifLen}), dirs);
    if (!haveExif) ReportMessage("HD Photo", "the Exif block is unreadable and was left out");
  }
  if (haveExif) UpdateExifDirs(dirs, Info, UpdateSoftware);

  std::vector<uint8_t> exifIfd, gpsIfd;
  std::string text[7];
  if (haveExif) {
    exifIfd = BuildIfd(dirs.Exif, dirs.BigEndian);
    gpsIfd = BuildIfd(dirs.Gps, dirs.BigEndian);
    const uint16_t tags[7] = {0x010E, 0x010F, 0x0110, 0x0131, 0x0132, 0x013B, 0x8298};
    for (int i = 0; i < 7; ++i) text[i] = TextOf(dirs.Ifd0, tags[i]);
  } else if (UpdateSoftware) {
    text[3] = SoftwareName;
  }

  JxrEncodeParams p{};
  p.Pixels = Info.Mem;
  p.Stride = Info.Bpl;
  p.Width = Info.Width;
  p.Height = Info.Height;
  p.Layout = LayoutOf(Info.Channels, bits);
  p.QP = std::clamp(Info.Quality, 1, 255);
  p.AlphaQP = std::clamp(Info.AlphaQuality ? Info.AlphaQuality : Info.Quality, 1, 255);
  p.Overlap = std::clamp(Info.Overlap, 0, 2);
  p.ColorFormat = Info.Subsampling >= 1 && Info.Subsampling <= 3 ? Info.Subsampling : 3;
  // More tiles than macroblocks (or than the format's 4096) cannot be coded: the count is capped.
  const uint32_t mbW = (Info.Width + 15) / 16, mbH = (Info.Height + 15) / 16;
  p.TilesAcrossMinus1 = std::min<uint32_t>({uint32_t(std::max(Info.HorizontalTileSlices, 0)), mbW - 1, 4095});
  p.TilesDownMinus1 = std::min<uint32_t>({uint32_t(std::max(Info.VerticalTileSlices, 0)), mbH - 1, 4095});
  p.InterleavedAlpha = Info.InterleavedAlpha;
  if (Info.XResolution > 0 && Info.YResolution > 0) {
    p.XResolution = float(Info.XResolution);
    p.YResolution = float(Info.YResolution);
  }
  if (Info.ICCProfile && Info.ProfileLen) p.Profile = Info.ICCProfile, p.ProfileLen = Info.ProfileLen;
  if (!exifIfd.empty()) p.Exif = exifIfd.data(), p.ExifLen = uint32_t(exifIfd.size());
  if (!gpsIfd.empty()) p.Gps = gpsIfd.data(), p.GpsLen = uint32_t(gpsIfd.size());
  for (int i = 0; i < 7; ++i) p.Text[i] = text[i].empty() ? nullptr : text[i].c_str();
  EncodeInChild(FileName, p);
}

}  // namespace

}  // namespace pixio

using namespace pixio;

extern "C" PIXIO_EXPORT int write_hdp(const TPixioEncode *Info, const TPixioImage *Thumbnail, const char *FileName,
                                      const uint8_t *Exif, uint32_t ExifLen, int UpdateSoftware) {
  // The container has no place for a reduced image: the thumbnail is not stored.
  (void)Thumbnail;
  return GuardedEncode("HD Photo", [&] {
    if (!Info) throw EncodeError("no encode record");
    Encode(*Info, FileName, Exif, ExifLen, UpdateSoftware != 0);
  });
}
