// The main program's Exif handling: the probe parse, the capture date, the
// save-time patch of the carrier, GPS blanking and the appended thumbnail.
#include "io/ExifReader.h"

#include "io/ExifJpeg.h"
#include "color/ICCUtil.h"
#include "io/JpegSegment.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace exiftiff;

// ---------------------------------------------------------------------------
// Capture date

namespace {

bool IsLeapYear(int Y) { return (Y % 4 == 0 && Y % 100 != 0) || Y % 400 == 0; }

// Days since 1899-12-30 of a valid calendar date (years 1..9999).
std::optional<double> EncodeDateTime(int Y, int M, int D, int H, int N, int S) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (Y < 1 || Y > 9999 || M < 1 || M > 12 || D < 1) return std::nullopt;
  if (D > days[M - 1] + (M == 2 && IsLeapYear(Y) ? 1 : 0)) return std::nullopt;
  if (H < 0 || H > 23 || N < 0 || N > 59 || S < 0 || S > 59) return std::nullopt;
  // Day number from 0001-01-01 (proleptic Gregorian), then shifted to 1899-12-30.
  int64_t y = Y - 1;
  int64_t n = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < M; ++m) n += days[m - 1] + (m == 2 && IsLeapYear(Y) ? 1 : 0);
  n += D - 1;
  const int64_t epoch = 693593;  // days from 0001-01-01 to 1899-12-30
  return double(n - epoch) + (H * 3600 + N * 60 + S) / 86400.0;
}

}  // namespace

double ParseExifDate(std::string_view Text) {
  // The value may carry its terminating zero.
  if (const size_t z = Text.find('\0'); z != std::string_view::npos) Text = Text.substr(0, z);
  int parts[6];
  int count = 0;
  size_t i = 0;
  while (i <= Text.size()) {
    size_t j = i;
    while (j < Text.size() && Text[j] != ':' && Text[j] != ' ') ++j;
    const std::string_view part = Text.substr(i, j - i);
    if (count == 6 || part.empty() || part.size() > 4) return 0;
    int v = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return 0;
      v = v * 10 + (c - '0');
    }
    parts[count++] = v;
    i = j + 1;
  }
  if (count != 6) return 0;
  return EncodeDateTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]).value_or(0);
}

// ---------------------------------------------------------------------------
// Probe parse

namespace {

void ParseProbe(TImageProbe &E, TTiff &T, size_t TiffPos) {
  // Positions are relative to "Exif", six bytes before the structure.
  auto rel = [&](size_t Off) { return int32_t(Off + 6); };
  E.FET = T.BE();
  const uint32_t ifd0 = T.IFD0();
  uint32_t exifIFD = 0;
  bool hasX = false, hasY = false, hasUnit = false;
  double x = 0, y = 0;
  int32_t xPos = 0, yPos = 0, unit = 0, unitPos = 0;
  T.ForEachReadable(ifd0, [&](const TEntry &e) {
    switch (e.Tag) {
      case TAG_ORIENTATION:
        if (const auto v = T.TryNumber(e)) E.FOrientationPos = rel(e.ValuePos), E.FOrientation = uint16_t(*v);
        break;
      case TAG_X_RESOLUTION:
        if (const auto v = T.TryRational(e)) x = *v, xPos = rel(e.ValuePos), hasX = true;
        break;
      case TAG_Y_RESOLUTION:
        if (const auto v = T.TryRational(e)) y = *v, yPos = rel(e.ValuePos), hasY = true;
        break;
      case TAG_RESOLUTION_UNIT:
        if (const auto v = T.TryNumber(e)) unit = int32_t(*v), unitPos = rel(e.ValuePos), hasUnit = true;
        break;
      case TAG_SOFTWARE:
        E.FSoftwareLen = int32_t(std::min<uint32_t>(e.Count, INT32_MAX));
        E.FSoftwareLenPos = rel(e.Pos + 4);
        E.FSoftwarePos = rel(e.ValuePos);
        break;
      case TAG_WHITE_POINT:
        if (T.TryRational(e, 1)) {
          for (uint32_t i = 0; i < 2; ++i) E.FWhitePoint[i] = T.Rational(e, i);
          E.FHasColorInfo = true;
        }
        break;
      case TAG_PRIMARY_CHROMATICITIES:
        if (T.TryRational(e, 5)) {
          for (uint32_t i = 0; i < 6; ++i) E.FPrimaryChromaticities[i] = T.Rational(e, i);
          E.FHasColorInfo = true;
        }
        break;
      case TAG_EXIF_IFD:
        exifIFD = T.TryNumber(e).value_or(0);
        break;
    }
  });
  if (hasX && hasY && hasUnit) {
    E.FXResolution = x, E.FYResolution = y;
    E.FXResolutionPos = xPos, E.FYResolutionPos = yPos;
    E.FResolutionUnit = unit == 2 ? 1 : unit == 3 ? 2 : 0;
    E.FResolutionUnitPos = unitPos;
  }
  if (exifIFD) {
    T.ForEachReadable(exifIFD, [&](const TEntry &e) {
      switch (e.Tag) {
        case TAG_DATE_TIME_ORIGINAL:
          if (e.Type == TYPE_ASCII)
            E.DateTimeOriginal = ParseExifDate(
                std::string_view(reinterpret_cast<const char *>(T.Data() + e.ValuePos), std::min<uint64_t>(e.ValueSize, 20)));
          break;
        case TAG_COLOR_SPACE:
          if (const auto v = T.TryNumber(e)) E.FColorSpace = int32_t(*v), E.FHasColorInfo = true;
          break;
        case TAG_PIXEL_X_DIMENSION:
          E.FXDimensionPos = rel(e.ValuePos), E.FXDimensionType = e.Type;
          break;
        case TAG_PIXEL_Y_DIMENSION:
          E.FYDimensionPos = rel(e.ValuePos), E.FYDimensionType = e.Type;
          break;
        case TAG_GAMMA:
          if (const auto v = T.TryRational(e)) E.FGamma = *v, E.FHasColorInfo = true;
          break;
      }
    });
  }
  const uint32_t ifd1 = T.NextIFDOrNone(ifd0);
  if (ifd1) {
    bool hasComp = false, hasOff = false, hasLen = false;
    uint32_t comp = 0, off = 0, len = 0;
    T.ForEachReadable(ifd1, [&](const TEntry &e) {
      switch (e.Tag) {
        case TAG_COMPRESSION: if (const auto v = T.TryNumber(e)) comp = *v, hasComp = true; break;
        case TAG_ORIENTATION: E.FThumbnailOrientationPos = rel(e.ValuePos); break;
        case TAG_JPEG_IF_OFFSET: if (const auto v = T.TryNumber(e)) off = *v, hasOff = true; break;
        case TAG_JPEG_IF_LENGTH: if (const auto v = T.TryNumber(e)) len = *v, hasLen = true; break;
      }
    });
    if (hasComp && hasOff && hasLen && comp == 6 && T.Fits(off, len)) {
      E.FThumbnailPos = int32_t(TiffPos + off);
      E.FThumbnailSize = len;
      E.FThumbnailOffset = rel(off);
    }
  }
}

}  // namespace

void ParseExifIFDs(TImageProbe &Entry, const uint8_t *Data, size_t Size, size_t TiffPos, size_t TiffLen) {
  try {
    if (!Data || TiffPos > Size || TiffLen > Size - TiffPos) throw EExifBroken();
    // The parse works on its own copy: nothing else may change the bytes under it.
    std::vector<uint8_t> copy(Data + TiffPos, Data + TiffPos + TiffLen);
    TTiff t(copy.data(), copy.size());
    ParseProbe(Entry, t, TiffPos);
    // What was readable has been read; a block that declares more than it
    // holds has lost data, and the file's report says so.
    if (t.Lost()) throw EExifBroken();
  } catch (const std::exception &) {
    Entry.FExifBroken = LongTrue;
    PutLoadWarning(Entry.FPath + EXIF_BROKEN_MESSAGE);
  }
}

// ---------------------------------------------------------------------------
// GPS blanking and the appended thumbnail

namespace {

// Offset of the IFD a pointer tag of IFD0 names, 0 when absent.
uint32_t IFD0Pointer(const TTiff &T, uint16_t Tag) {
  uint32_t r = 0;
  T.ForEach(T.IFD0(), [&](const TEntry &e) {
    if (e.Tag == Tag) r = T.TryNumber(e).value_or(0);
  });
  return r;
}

void BlankGPSIFD(TTiff &T, uint32_t GPS) {
  const uint16_t n = T.EntryCount(GPS);
  for (uint32_t i = 0; i < n; ++i) {
    const TEntry e = T.Entry(GPS, i);
    if (e.Outside()) T.Zero(e.ValuePos, e.ValueSize);
  }
  T.Put32(T.NextIFDPos(GPS), 0);
  if (n >= 1) {
    T.Zero(GPS + 2, size_t(n) * 12);
    T.Put16(GPS, 1);
    T.Put16(GPS + 2, TAG_GPS_VERSION_ID);
    T.Put16(GPS + 4, TYPE_BYTE);
    T.Put32(GPS + 6, 4);
    uint8_t *v = T.Data() + GPS + 10;
    v[0] = 2, v[1] = 2, v[2] = 0, v[3] = 0;
  }
}

}  // namespace

bool BlankGPSInfo(std::span<uint8_t> Block) {
  const size_t skip = IsExifPrefix(Block.data(), Block.size()) ? 6 : 0;
  TTiff t(Block.data() + skip, Block.size() - skip);
  const uint32_t gps = IFD0Pointer(t, TAG_GPS_IFD);
  if (!gps) return false;
  BlankGPSIFD(t, gps);
  return true;
}

bool AppendExifThumbnail(std::vector<uint8_t> &Payload, std::span<const uint8_t> Thumbnail, uint16_t Orientation,
                         uint32_t *ThumbnailPos) {
  if (!IsExifPrefix(Payload.data(), Payload.size()) || Thumbnail.empty()) return false;
  const size_t tiffSize = Payload.size() - 6;
  const size_t ifd1 = (tiffSize + 1) & ~size_t(1);  // IFDs start on a word boundary
  const size_t rationals = ifd1 + 2 + 7 * 12 + 4;
  const size_t thumb = rationals + 16;
  const size_t end = thumb + Thumbnail.size();
  if (end + 6 > EXIF_MAX_PAYLOAD) return false;
  std::vector<uint8_t> out(Payload);
  out.resize(end + 6, 0);
  TTiff t(out.data() + 6, end);
  t.EntryCount(t.IFD0());  // IFD0 must be sound before we link to it
  struct TNew {
    uint16_t Tag, Type;
    uint32_t Count, Value;
  };
  const TNew entries[7] = {
      {TAG_COMPRESSION, TYPE_SHORT, 1, 6},
      {TAG_ORIENTATION, TYPE_SHORT, 1, Orientation},
      {TAG_X_RESOLUTION, TYPE_RATIONAL, 1, uint32_t(rationals)},
      {TAG_Y_RESOLUTION, TYPE_RATIONAL, 1, uint32_t(rationals + 8)},
      {TAG_RESOLUTION_UNIT, TYPE_SHORT, 1, 2},
      {TAG_JPEG_IF_OFFSET, TYPE_LONG, 1, uint32_t(thumb)},
      {TAG_JPEG_IF_LENGTH, TYPE_LONG, 1, uint32_t(Thumbnail.size())},
  };
  t.Put16(ifd1, 7);
  for (int i = 0; i < 7; ++i) {
    const size_t p = ifd1 + 2 + size_t(i) * 12;
    t.Put16(p, entries[i].Tag);
    t.Put16(p + 2, entries[i].Type);
    t.Put32(p + 4, entries[i].Count);
    if (entries[i].Type == TYPE_SHORT) t.Put16(p + 8, uint16_t(entries[i].Value)), t.Put16(p + 10, 0);
    else t.Put32(p + 8, entries[i].Value);
  }
  t.Put32(ifd1 + 2 + 7 * 12, 0);
  for (int i = 0; i < 2; ++i) t.Put32(rationals + i * 8, 96), t.Put32(rationals + i * 8 + 4, 1);
  std::memcpy(out.data() + 6 + thumb, Thumbnail.data(), Thumbnail.size());
  t.Put32(t.NextIFDPos(t.IFD0()), uint32_t(ifd1));
  Payload.swap(out);
  if (ThumbnailPos) *ThumbnailPos = uint32_t(thumb);
  return true;
}

// ---------------------------------------------------------------------------
// Save-time patch

namespace {

bool FindExifAPP1(std::span<const uint8_t> Carrier, TJpegSegment &Seg) {
  const TJpegWalk w = WalkJpegSegments(Carrier);
  for (const auto &s : w.Segments)
    if (s.Marker == JPEG_APP1 && s.PayloadLen() >= 6 && IsExifPrefix(Carrier.data() + s.PayloadPos, s.PayloadLen())) {
      Seg = s;
      return true;
    }
  return false;
}

void ResetOrientation(TTiff &T, const TEntry &E) {
  if (E.Type == TYPE_LONG) T.Put32(E.ValuePos, 1);
  else if (E.Type == TYPE_SHORT) T.Put16(E.ValuePos, 1);
}

// Orientation needs resetting: automatic rotation was applied and it was not 0 or 1.
bool NeedsReset(const TTiff &T, const TEntry &E, bool AutoRotation) {
  if (!AutoRotation || (E.Type != TYPE_SHORT && E.Type != TYPE_LONG) || E.Count == 0) return false;
  const uint32_t v = T.Number(E);
  return v != 0 && v != 1;
}

void PatchStructure(TTiff &T, bool AutoRotation, const TICCImgInfo &Src, bool UpdateResolution, bool UpdateSize,
                    const TExifSaveOptions &Opt, uint32_t &GPS, uint32_t &IFD1) {
  const uint32_t ifd0 = T.IFD0();
  uint32_t exif = 0;
  const size_t nameLen = std::strlen(PROGRAM_NAME);
  T.ForEachReadable(ifd0, [&](const TEntry &e) {
    switch (e.Tag) {
      case TAG_ORIENTATION:
        if (NeedsReset(T, e, AutoRotation)) ResetOrientation(T, e);
        break;
      case TAG_X_RESOLUTION:
      case TAG_Y_RESOLUTION:
        if (UpdateResolution && e.Type == TYPE_RATIONAL && e.Count >= 1)
          T.Put32(e.ValuePos, Opt.Resolution), T.Put32(e.ValuePos + 4, 1);
        break;
      case TAG_RESOLUTION_UNIT:
        if (UpdateResolution && e.Type == TYPE_SHORT) T.Put16(e.ValuePos, 2);
        break;
      case TAG_SOFTWARE:
        if (Opt.UpdateSoftwareTag && e.Type == TYPE_ASCII && e.Count > nameLen) {
          T.Zero(e.ValuePos, e.ValueSize);
          T.Put32(e.Pos + 4, uint32_t(nameLen + 1));
          std::memcpy(T.Data() + e.ValuePos, PROGRAM_NAME, nameLen);  // still outside the entry: Count > 4
        }
        break;
      case TAG_EXIF_IFD: exif = T.TryNumber(e).value_or(0); break;
      case TAG_GPS_IFD: GPS = T.TryNumber(e).value_or(0); break;
    }
  });
  if (exif && UpdateSize) {
    T.ForEachReadable(exif, [&](const TEntry &e) {
      if (e.Tag != TAG_PIXEL_X_DIMENSION && e.Tag != TAG_PIXEL_Y_DIMENSION) return;
      T.Put16(e.Pos + 2, TYPE_LONG);
      T.Put32(e.Pos + 4, 1);
      T.Put32(e.Pos + 8, e.Tag == TAG_PIXEL_X_DIMENSION ? Src.Width : Src.Height);
    });
  }
  if (GPS && Opt.DeleteGPSInfoIFD) BlankGPSIFD(T, GPS);
  IFD1 = T.NextIFDOrNone(ifd0);
}

// Re-renders the IFD1 thumbnail in place when a new one fits the old length.
void UpdateThumbnailInPlace(TTiff &T, uint32_t IFD1, bool AutoRotation, const TICCImgInfo &Src, TMultiThread *Pool,
                            TResizer *Resizer) {
  bool hasComp = false, hasOff = false, hasLen = false;
  uint32_t comp = 0, off = 0, len = 0;
  T.ForEachReadable(IFD1, [&](const TEntry &e) {
    switch (e.Tag) {
      case TAG_COMPRESSION: if (const auto v = T.TryNumber(e)) comp = *v, hasComp = true; break;
      case TAG_ORIENTATION:
        if (NeedsReset(T, e, AutoRotation)) ResetOrientation(T, e);
        break;
      case TAG_JPEG_IF_OFFSET: if (const auto v = T.TryNumber(e)) off = *v, hasOff = true; break;
      case TAG_JPEG_IF_LENGTH: if (const auto v = T.TryNumber(e)) len = *v, hasLen = true; break;
    }
  });
  if (!hasComp || !hasOff || !hasLen || comp != 6 || len == 0) return;
  T.Check(off, len);
  const auto jpeg = MakeFittingExifThumbnail(Src, Resizer, Pool, 90, 10, 5, 2, 2, len);
  if (jpeg.empty()) return;
  T.Zero(off, len);
  std::memcpy(T.Data() + off, jpeg.data(), jpeg.size());
}

}  // namespace

std::vector<uint8_t> GetExifInfo(const TImageProbe &Entry, const uint8_t *Carrier, size_t CarrierLen,
                                 bool AutoRotation, const TICCImgInfo &Src, TMultiThread *Pool,
                                 bool UpdateResolution, bool UpdateSize, TResizer *Resizer,
                                 const TExifSaveOptions &Options) {
  if (!Carrier) return {};
  const std::span<const uint8_t> c(Carrier, CarrierLen);
  TJpegSegment seg;
  if (!FindExifAPP1(c, seg)) return {};
  std::vector<uint8_t> payload(Carrier + seg.PayloadPos, Carrier + seg.PayloadPos + seg.PayloadLen());
  const bool hasImage = Src.Mem && Src.Width && Src.Height;
  // A damaged source block was repaired when the carrier was made; a block
  // that is no TIFF structure at all is not written.
  try {
    TTiff(payload.data() + 6, payload.size() - 6);
  } catch (const EExifBroken &) {
    return {};
  }
  try {
    TTiff t(payload.data() + 6, payload.size() - 6);
    uint32_t gps = 0, ifd1 = 0;
    PatchStructure(t, AutoRotation, Src, UpdateResolution, UpdateSize, Options, gps, ifd1);
    if (Entry.FExifPos == 0) {
      if (hasImage) {
        const auto jpeg = MakeExifThumbnail(Src, Resizer, Pool, 90, 2, 1, 0xFFFF);
        if (!jpeg.empty()) AppendExifThumbnail(payload, jpeg, 1);
      }
    } else if (Options.UpdateExifThumbnail && ifd1 && hasImage) {
      UpdateThumbnailInPlace(t, ifd1, AutoRotation, Src, Pool, Resizer);
    }
  } catch (const std::exception &) {
    // The patch keeps what it has done; every write above stayed inside the block.
  }
  return payload;
}

TICCInfo GetICCProfileFromExif(const TImageProbe &Entry) {
  TExifColorInfo c;
  c.ColorSpace = Entry.FColorSpace;
  std::copy(std::begin(Entry.FWhitePoint), std::end(Entry.FWhitePoint), c.WhitePoint);
  std::copy(std::begin(Entry.FPrimaryChromaticities), std::end(Entry.FPrimaryChromaticities), c.PrimaryChromaticities);
  c.Gamma = Entry.FGamma;
  return CreateProfileFromExif(c);
}
