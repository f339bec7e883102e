// The console tool's Exif classes: TExifReader reads, patches and rebuilds a
// TIFF structure; TExifMM keeps the rebuilt layout clear of the bytes that
// must stay where they were (the maker note, data nobody points at).
#include "io/ExifReader.h"

#include "io/JpegSegment.h"

#include <algorithm>
#include <array>
#include <cstring>

using namespace exiftiff;

// ---------------------------------------------------------------------------
// TExifMM

TExifMM::TExifMM() : FStream(EXIF_MAX_TIFF_SIZE, 0xFF) {}

void TExifMM::SetReserveArea(uint64_t Offset, uint64_t Size) {
  if (Offset >= FStream.size()) return;
  const uint64_t end = std::min<uint64_t>(FStream.size(), Offset + std::min<uint64_t>(Size, FStream.size()));
  std::fill(FStream.begin() + ptrdiff_t(Offset), FStream.begin() + ptrdiff_t(end), 0);
}

void TExifMM::Analyze() {
  FMemoryInfo.clear();
  FSize = 0;
  const uint32_t n = uint32_t(FStream.size());
  uint32_t i = 0;
  while (i < n) {
    if (FStream[i]) {
      FSize = i + 1;
      ++i;
      continue;
    }
    uint32_t j = i;
    while (j < n && !FStream[j]) ++j;
    FMemoryInfo.push_back({i, j - i});
    i = j;
  }
}

std::optional<uint32_t> TExifMM::GetOffset(uint32_t Size) {
  for (auto &b : FMemoryInfo) {
    // Values and IFDs start on a word boundary, as TIFF asks.
    const uint32_t pad = b.Offset & 1;
    if (uint64_t(b.Size) < uint64_t(Size) + pad) continue;
    const uint32_t at = b.Offset + pad;
    b.Offset += pad + Size;
    b.Size -= pad + Size;
    FSize = std::max(FSize, at + Size);
    return at;
  }
  return std::nullopt;
}

void TExifMM::CopyUnknownBlock(uint8_t *Dest, std::span<const uint8_t> Src) const {
  const size_t n = std::min(Src.size(), FStream.size());
  for (size_t i = 0; i < n; ++i)
    if (FStream[i]) Dest[i] = Src[i];
}

// ---------------------------------------------------------------------------
// Reading the whole structure

namespace {

enum TIfdKind { IFD_0, IFD_EXIF, IFD_GPS, IFD_INTEROP, IFD_1, IFD_COUNT };
constexpr int TO_THUMBNAIL = IFD_COUNT;  // pointer target: the thumbnail bytes

struct TParsed {
  uint32_t Off[IFD_COUNT] = {};
  std::vector<TEntry> Entries[IFD_COUNT];
  std::optional<TEntry> MakerNote;
  bool HasCompression = false;
  uint32_t ThumbOff = 0, ThumbLen = 0;
  bool HasThumb = false;
};

void ReadIFD(const TTiff &T, TParsed &P, TIfdKind K, uint32_t Off) {
  P.Off[K] = Off;
  T.ForEach(Off, [&](const TEntry &e) { P.Entries[K].push_back(e); });
}

uint32_t PointerOf(const TTiff &T, const std::vector<TEntry> &Entries, uint16_t Tag) {
  for (const auto &e : Entries)
    if (e.Tag == Tag) return T.TryNumber(e).value_or(0);
  return 0;
}

TParsed ParseAll(const TTiff &T) {
  TParsed p;
  ReadIFD(T, p, IFD_0, T.IFD0());
  if (const uint32_t o = PointerOf(T, p.Entries[IFD_0], TAG_EXIF_IFD)) ReadIFD(T, p, IFD_EXIF, o);
  if (const uint32_t o = PointerOf(T, p.Entries[IFD_0], TAG_GPS_IFD)) ReadIFD(T, p, IFD_GPS, o);
  if (p.Off[IFD_EXIF])
    if (const uint32_t o = PointerOf(T, p.Entries[IFD_EXIF], TAG_INTEROP_IFD)) ReadIFD(T, p, IFD_INTEROP, o);
  if (const uint32_t o = T.NextIFD(p.Off[IFD_0])) ReadIFD(T, p, IFD_1, o);
  for (const auto &e : p.Entries[IFD_EXIF])
    if (e.Tag == TAG_MAKER_NOTE) p.MakerNote = e;
  bool off = false, len = false;
  for (const auto &e : p.Entries[IFD_1]) {
    if (e.Tag == TAG_COMPRESSION) p.HasCompression = true;
    if (e.Tag == TAG_JPEG_IF_OFFSET)
      if (const auto v = T.TryNumber(e)) p.ThumbOff = *v, off = true;
    if (e.Tag == TAG_JPEG_IF_LENGTH)
      if (const auto v = T.TryNumber(e)) p.ThumbLen = *v, len = true;
  }
  if (off && len) {
    T.Check(p.ThumbOff, p.ThumbLen);
    p.HasThumb = true;
  }
  return p;
}

// ---------------------------------------------------------------------------
// The selection of entries to write

struct TOut {
  TOut(uint16_t ATag, uint16_t AType, uint32_t ACount) : Tag(ATag), Type(AType), Count(ACount) {}
  uint16_t Tag = 0, Type = 0;
  uint32_t Count = 0;
  std::vector<uint8_t> Value;  // raw bytes in the output byte order
  int PointTo = -1;            // IFD kind or TO_THUMBNAIL: a LONG offset filled in at layout
  std::optional<uint32_t> FixedOffset;  // value stays at this offset (maker note)
};

struct TSelection {
  bool BE = true;
  std::vector<TOut> Ifd[IFD_COUNT];
  bool Keep[IFD_COUNT] = {};
  std::vector<uint8_t> Thumbnail;
};

class TValueWriter {
public:
  explicit TValueWriter(bool BE) : FBE(BE) {}
  void U16(std::vector<uint8_t> &V, uint16_t X) const {
    if (FBE) V.push_back(uint8_t(X >> 8)), V.push_back(uint8_t(X));
    else V.push_back(uint8_t(X)), V.push_back(uint8_t(X >> 8));
  }
  void U32(std::vector<uint8_t> &V, uint32_t X) const {
    for (int i = 0; i < 4; ++i) V.push_back(uint8_t(FBE ? X >> (24 - 8 * i) : X >> (8 * i)));
  }
  TOut Short(uint16_t Tag, uint16_t X) const {
    TOut o(Tag, TYPE_SHORT, 1);
    U16(o.Value, X);
    return o;
  }
  TOut Rationals(uint16_t Tag, std::initializer_list<TRational> R) const {
    TOut o(Tag, TYPE_RATIONAL, uint32_t(R.size()));
    for (const auto &r : R) U32(o.Value, r.UValue), U32(o.Value, r.DValue);
    return o;
  }
  TOut Pointer(uint16_t Tag, int Target) const {
    TOut o(Tag, TYPE_LONG, 1);
    o.Value.assign(4, 0);
    o.PointTo = Target;
    return o;
  }

private:
  bool FBE;
};

bool Replaced(uint16_t Tag, TIfdKind K, uint32_t Flags) {
  if (K == IFD_0) {
    if (Tag == TAG_ORIENTATION) return Flags & EXIFINFO_ORIENTATION;
    if (Tag == TAG_WHITE_POINT) return Flags & EXIFINFO_WHITEPOINT;
    if (Tag == TAG_PRIMARY_CHROMATICITIES) return (Flags & EXIFINFO_PRIMARIES) == EXIFINFO_PRIMARIES;
  } else if (K == IFD_EXIF) {
    if (Tag == TAG_COLOR_SPACE) return Flags & EXIFINFO_COLORSPACE;
    if (Tag == TAG_GAMMA) return Flags & EXIFINFO_GAMMA;
  }
  return false;
}

bool IsPointerTag(uint16_t Tag, TIfdKind K) {
  return (K == IFD_0 && (Tag == TAG_EXIF_IFD || Tag == TAG_GPS_IFD)) || (K == IFD_EXIF && Tag == TAG_INTEROP_IFD) ||
         (K == IFD_1 && (Tag == TAG_JPEG_IF_OFFSET || Tag == TAG_JPEG_IF_LENGTH));
}

std::vector<uint8_t> NewThumbnail(const TExifWriteOptions &Opt, uint32_t MaxLen) {
  if (!Opt.EncodeThumbnail) return {};
  for (int32_t q = 90; q >= 5; q -= 5) {
    auto j = Opt.EncodeThumbnail(q);
    if (!j.empty() && j.size() <= MaxLen) return j;
  }
  return {};
}

// The orientation of the written image: a thumbnail made from its pixels has the same.
uint16_t WrittenOrientation(const TTiff &T, const TParsed &P, const TExifInfo &Info) {
  if (Info.Flags & EXIFINFO_ORIENTATION) return uint16_t(Info.Orientation);
  for (const auto &e : P.Entries[IFD_0])
    if (e.Tag == TAG_ORIENTATION)
      if (const auto v = T.TryNumber(e)) return uint16_t(*v);
  return 1;
}

// Builds the selection from the parsed input (T may be null: no input).
TSelection Select(const TTiff *T, const TParsed &P, const TExifInfo &Info, const TExifWriteOptions &Opt,
                  bool KeepMakerNote) {
  TSelection s;
  s.BE = T ? T->BE() : true;
  const TValueWriter w(s.BE);
  s.Keep[IFD_0] = true;
  s.Keep[IFD_GPS] = P.Off[IFD_GPS] && !Opt.DeleteGPSInfo;
  s.Keep[IFD_INTEROP] = P.Off[IFD_INTEROP] != 0;
  s.Keep[IFD_1] = P.Off[IFD_1] && !Opt.DeleteThumbnail;
  std::vector<uint8_t> fresh;
  if (s.Keep[IFD_1] && P.HasThumb && T && Opt.UpdateThumbnail) fresh = NewThumbnail(Opt, P.ThumbLen);
  for (int k = 0; k < IFD_COUNT; ++k) {
    if (!T || !P.Off[k] || (k != IFD_0 && k != IFD_EXIF && !s.Keep[k])) continue;
    for (const auto &e : P.Entries[k]) {
      if (IsPointerTag(e.Tag, TIfdKind(k)) || Replaced(e.Tag, TIfdKind(k), Info.Flags)) continue;
      if (k == IFD_EXIF && e.Tag == TAG_MAKER_NOTE) continue;
      if (k == IFD_1 && e.Tag == TAG_COMPRESSION && Opt.UpdateThumbnail && P.HasThumb) continue;
      // A new thumbnail is made from the stored pixels: the old IFD1 orientation no longer describes it.
      if (k == IFD_1 && e.Tag == TAG_ORIENTATION && !fresh.empty()) {
        s.Ifd[k].push_back(w.Short(TAG_ORIENTATION, WrittenOrientation(*T, P, Info)));
        continue;
      }
      TOut o(e.Tag, e.Type, e.Count);
      const uint8_t *v = T->Data() + e.ValuePos;
      o.Value.assign(v, v + (e.Outside() ? size_t(e.ValueSize) : 4));
      s.Ifd[k].push_back(std::move(o));
    }
  }
  if (Info.Flags & EXIFINFO_ORIENTATION) s.Ifd[IFD_0].push_back(w.Short(TAG_ORIENTATION, uint16_t(Info.Orientation)));
  if (Info.Flags & EXIFINFO_WHITEPOINT)
    s.Ifd[IFD_0].push_back(w.Rationals(TAG_WHITE_POINT, {Info.WhitePoint.X, Info.WhitePoint.Y}));
  if ((Info.Flags & EXIFINFO_PRIMARIES) == EXIFINFO_PRIMARIES)
    s.Ifd[IFD_0].push_back(w.Rationals(TAG_PRIMARY_CHROMATICITIES, {Info.PCRed.X, Info.PCRed.Y, Info.PCGreen.X,
                                                                     Info.PCGreen.Y, Info.PCBlue.X, Info.PCBlue.Y}));
  if (Info.Flags & EXIFINFO_COLORSPACE) s.Ifd[IFD_EXIF].push_back(w.Short(TAG_COLOR_SPACE, uint16_t(Info.ColorSpace)));
  if (Info.Flags & EXIFINFO_GAMMA) s.Ifd[IFD_EXIF].push_back(w.Rationals(TAG_GAMMA, {Info.Gamma}));
  if (KeepMakerNote && P.MakerNote && T) {
    const TEntry &m = *P.MakerNote;
    TOut o(TAG_MAKER_NOTE, TYPE_UNDEFINED, uint32_t(m.ValueSize));
    if (m.Outside()) {
      // Kept at its offset so that offsets inside it stay valid; it must lie inside the output map.
      if (m.ValuePos + m.ValueSize <= EXIF_MAX_TIFF_SIZE) o.FixedOffset = uint32_t(m.ValuePos), s.Ifd[IFD_EXIF].push_back(o);
    } else {
      o.Value.assign(T->Data() + m.ValuePos, T->Data() + m.ValuePos + 4);
      s.Ifd[IFD_EXIF].push_back(o);
    }
  }
  if (s.Keep[IFD_INTEROP]) s.Ifd[IFD_EXIF].push_back(w.Pointer(TAG_INTEROP_IFD, IFD_INTEROP));
  s.Keep[IFD_EXIF] = !s.Ifd[IFD_EXIF].empty();
  if (s.Keep[IFD_EXIF]) s.Ifd[IFD_0].push_back(w.Pointer(TAG_EXIF_IFD, IFD_EXIF));
  if (s.Keep[IFD_GPS]) s.Ifd[IFD_0].push_back(w.Pointer(TAG_GPS_IFD, IFD_GPS));
  if (s.Keep[IFD_1] && P.HasThumb && T) {
    if (!fresh.empty()) {
      s.Thumbnail = std::move(fresh);
      s.Ifd[IFD_1].push_back(w.Short(TAG_COMPRESSION, 6));
    } else {
      // The old thumbnail stays when no new one fits.
      s.Thumbnail.assign(T->Data() + P.ThumbOff, T->Data() + P.ThumbOff + P.ThumbLen);
      if (Opt.UpdateThumbnail && P.HasCompression) s.Ifd[IFD_1].push_back(w.Short(TAG_COMPRESSION, 6));
    }
    s.Ifd[IFD_1].push_back(w.Pointer(TAG_JPEG_IF_OFFSET, TO_THUMBNAIL));
    TOut len(TAG_JPEG_IF_LENGTH, TYPE_LONG, 1);
    w.U32(len.Value, uint32_t(s.Thumbnail.size()));
    s.Ifd[IFD_1].push_back(len);
  }
  if (s.Ifd[IFD_1].empty()) s.Keep[IFD_1] = false;
  for (auto &l : s.Ifd)
    std::stable_sort(l.begin(), l.end(), [](const TOut &a, const TOut &b) { return a.Tag < b.Tag; });
  return s;
}

class TOutTiff {
public:
  TOutTiff(std::vector<uint8_t> &Out, bool BE) : FOut(Out), FBE(BE) {}
  void U16(size_t At, uint16_t V) {
    if (FBE) FOut[At] = uint8_t(V >> 8), FOut[At + 1] = uint8_t(V);
    else FOut[At] = uint8_t(V), FOut[At + 1] = uint8_t(V >> 8);
  }
  void U32(size_t At, uint32_t V) {
    for (int i = 0; i < 4; ++i) FOut[At + i] = uint8_t(FBE ? V >> (24 - 8 * i) : V >> (8 * i));
  }

private:
  std::vector<uint8_t> &FOut;
  bool FBE;
};

// Writes the selection; Take(size) gives each block's offset or raises the size-over error.
template <class TTake>
void WriteSelection(const TSelection &S, std::vector<uint8_t> &Out, TTake &&Take) {
  TOutTiff o(Out, S.BE);
  if (Take(8) != 0) throw ETessivoError(EXIF_SIZE_OVER_MESSAGE);
  Out[0] = Out[1] = S.BE ? 'M' : 'I';
  o.U16(2, 42);
  uint32_t off[IFD_COUNT + 1] = {};
  for (int k = 0; k < IFD_COUNT; ++k)
    if (S.Keep[k]) off[k] = Take(2 + S.Ifd[k].size() * 12 + 4);
  if (!S.Thumbnail.empty() && S.Keep[IFD_1]) off[TO_THUMBNAIL] = Take(S.Thumbnail.size());
  o.U32(4, off[IFD_0]);
  for (int k = 0; k < IFD_COUNT; ++k) {
    if (!S.Keep[k]) continue;
    const size_t base = off[k];
    o.U16(base, uint16_t(S.Ifd[k].size()));
    for (size_t i = 0; i < S.Ifd[k].size(); ++i) {
      const TOut &e = S.Ifd[k][i];
      const size_t p = base + 2 + i * 12;
      o.U16(p, e.Tag);
      o.U16(p + 2, e.Type);
      o.U32(p + 4, e.Count);
      if (e.PointTo >= 0) {
        o.U32(p + 8, off[e.PointTo]);
      } else if (e.FixedOffset) {
        o.U32(p + 8, *e.FixedOffset);
      } else if (e.Value.size() > 4) {
        const uint32_t at = Take(e.Value.size());
        std::memcpy(Out.data() + at, e.Value.data(), e.Value.size());
        o.U32(p + 8, at);
      } else {
        std::memset(Out.data() + p + 8, 0, 4);
        std::memcpy(Out.data() + p + 8, e.Value.data(), e.Value.size());
      }
    }
    // IFD0 links to IFD1; every other chain ends.
    o.U32(base + 2 + S.Ifd[k].size() * 12, k == IFD_0 && S.Keep[IFD_1] ? off[IFD_1] : 0);
  }
  if (off[TO_THUMBNAIL]) std::memcpy(Out.data() + off[TO_THUMBNAIL], S.Thumbnail.data(), S.Thumbnail.size());
}

}  // namespace

// ---------------------------------------------------------------------------
// TExifReader

bool TExifReader::SetStream(std::span<const uint8_t> Stream) {
  FStream.clear();
  FHasExif = false;
  FExifSize = 0;
  FET = false;
  if (Stream.size() < 8) return false;
  const bool mm = Stream[0] == 'M' && Stream[1] == 'M', ii = Stream[0] == 'I' && Stream[1] == 'I';
  if (!mm && !ii) return false;
  const uint16_t magic = mm ? uint16_t(Stream[2] << 8 | Stream[3]) : uint16_t(Stream[3] << 8 | Stream[2]);
  if (magic != 42) return false;
  FStream.assign(Stream.begin(), Stream.end());
  FET = mm;
  FHasExif = true;
  FExifSize = uint32_t(std::min<size_t>(Stream.size(), UINT32_MAX));
  return true;
}

bool TExifReader::IsJPEGImage(std::span<const uint8_t> Data) {
  return Data.size() >= 3 && Data[0] == 0xFF && Data[1] == 0xD8 && Data[2] == 0xFF;
}

bool TExifReader::IsExifStream(std::span<const uint8_t> Data) {
  return Data.size() >= 6 && std::memcmp(Data.data(), "Exif\0\0", 6) == 0;
}

std::optional<std::vector<uint8_t>> TExifReader::GetExifStream(std::span<const uint8_t> Jpeg) {
  const TJpegWalk w = WalkJpegSegments(Jpeg);
  for (const auto &s : w.Segments)
    if (s.Marker == JPEG_APP1 && s.Length > 21 && SegmentStartsWith(Jpeg, s, "Exif"))
      return std::vector<uint8_t>(Jpeg.begin() + ptrdiff_t(s.PayloadPos + 6), Jpeg.begin() + ptrdiff_t(s.End()));
  return std::nullopt;
}

bool TExifReader::ReadExifInfo(TExifInfo &Info, double &DateTimeOriginal) const {
  Info = TExifInfo{};
  DateTimeOriginal = 0;
  if (!FHasExif) return false;
  try {
    std::vector<uint8_t> copy(FStream);
    TTiff t(copy.data(), copy.size());
    const TParsed p = ParseAll(t);
    auto rational = [&](const TEntry &e, uint32_t i) {
      const size_t at = e.ValuePos + size_t(i) * 8;
      return TRational{t.Get32(at), t.Get32(at + 4)};
    };
    for (const auto &e : p.Entries[IFD_0]) {
      if (e.Tag == TAG_ORIENTATION)
        if (const auto v = t.TryNumber(e)) Info.Orientation = int32_t(*v), Info.Flags |= EXIFINFO_ORIENTATION;
      if (e.Tag == TAG_WHITE_POINT && e.Type == TYPE_RATIONAL && e.Count >= 2) {
        Info.WhitePoint = {rational(e, 0), rational(e, 1)};
        Info.Flags |= EXIFINFO_WHITEPOINT;
      }
      if (e.Tag == TAG_PRIMARY_CHROMATICITIES && e.Type == TYPE_RATIONAL && e.Count >= 6) {
        Info.PCRed = {rational(e, 0), rational(e, 1)};
        Info.PCGreen = {rational(e, 2), rational(e, 3)};
        Info.PCBlue = {rational(e, 4), rational(e, 5)};
        Info.Flags |= EXIFINFO_PRIMARIES;
      }
    }
    for (const auto &e : p.Entries[IFD_EXIF]) {
      if (e.Tag == TAG_COLOR_SPACE)
        if (const auto v = t.TryNumber(e)) Info.ColorSpace = int32_t(*v), Info.Flags |= EXIFINFO_COLORSPACE;
      if (e.Tag == TAG_GAMMA && e.Type == TYPE_RATIONAL && e.Count >= 1) Info.Gamma = rational(e, 0), Info.Flags |= EXIFINFO_GAMMA;
      if (e.Tag == TAG_DATE_TIME_ORIGINAL && e.Type == TYPE_ASCII)
        DateTimeOriginal = ParseExifDate(
            std::string_view(reinterpret_cast<const char *>(copy.data() + e.ValuePos), std::min<uint64_t>(e.ValueSize, 20)));
    }
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

std::vector<uint8_t> TExifReader::OverWriteExifInfo(const TExifInfo &Info, const TExifWriteOptions &Options) const {
  std::vector<uint8_t> out(FStream);
  if (!FHasExif) return out;
  TTiff t(out.data(), out.size());
  const TParsed p = ParseAll(t);
  auto putRationals = [&](const TEntry &e, std::initializer_list<TRational> R) {
    if (e.Type != TYPE_RATIONAL || e.Count < R.size()) return;
    size_t at = e.ValuePos;
    for (const auto &r : R) t.Put32(at, r.UValue), t.Put32(at + 4, r.DValue), at += 8;
  };
  auto putShort = [&](const TEntry &e, uint32_t V) {
    if (e.Type == TYPE_SHORT) t.Put16(e.ValuePos, uint16_t(V));
    else if (e.Type == TYPE_LONG) t.Put32(e.ValuePos, V);
  };
  for (const auto &e : p.Entries[IFD_0]) {
    if (e.Tag == TAG_ORIENTATION && (Info.Flags & EXIFINFO_ORIENTATION)) putShort(e, uint32_t(Info.Orientation));
    if (e.Tag == TAG_WHITE_POINT && (Info.Flags & EXIFINFO_WHITEPOINT)) putRationals(e, {Info.WhitePoint.X, Info.WhitePoint.Y});
    if (e.Tag == TAG_PRIMARY_CHROMATICITIES && (Info.Flags & EXIFINFO_PRIMARIES) == EXIFINFO_PRIMARIES)
      putRationals(e, {Info.PCRed.X, Info.PCRed.Y, Info.PCGreen.X, Info.PCGreen.Y, Info.PCBlue.X, Info.PCBlue.Y});
  }
  for (const auto &e : p.Entries[IFD_EXIF]) {
    if (e.Tag == TAG_COLOR_SPACE && (Info.Flags & EXIFINFO_COLORSPACE)) putShort(e, uint32_t(Info.ColorSpace));
    if (e.Tag == TAG_GAMMA && (Info.Flags & EXIFINFO_GAMMA)) putRationals(e, {Info.Gamma});
  }
  if (Options.UpdateThumbnail && p.HasThumb) {
    const auto fresh = NewThumbnail(Options, p.ThumbLen);
    if (!fresh.empty()) {
      t.Zero(p.ThumbOff, p.ThumbLen);
      std::memcpy(out.data() + p.ThumbOff, fresh.data(), fresh.size());
      const uint16_t orientation = WrittenOrientation(t, p, Info);
      for (const auto &e : p.Entries[IFD_1]) {
        if (e.Tag == TAG_JPEG_IF_LENGTH) putShort(e, uint32_t(fresh.size()));
        if (e.Tag == TAG_ORIENTATION) putShort(e, orientation);
      }
    }
  }
  return out;
}

std::vector<uint8_t> TExifReader::WriteExifInfo(const TExifInfo &Info, const TExifWriteOptions &Options) const {
  if (!FHasExif) return CreateExifInfo(Info);
  std::vector<uint8_t> in(FStream);
  TTiff t(in.data(), in.size());
  const TParsed p = ParseAll(t);
  TExifMM mm;
  mm.SetReserveArea(FExifSize, EXIF_MAX_TIFF_SIZE);
  mm.SetReserveArea(0, 8);
  for (int k = 0; k < IFD_COUNT; ++k) {
    if (!p.Off[k]) continue;
    mm.SetReserveArea(p.Off[k], 2 + p.Entries[k].size() * 12 + 4);
    for (const auto &e : p.Entries[k])
      if (e.Outside() && !(k == IFD_EXIF && e.Tag == TAG_MAKER_NOTE)) mm.SetReserveArea(e.ValuePos, e.ValueSize);
  }
  if (p.HasThumb) mm.SetReserveArea(p.ThumbOff, p.ThumbLen);
  // A value that overlapped the maker note must not free its bytes.
  if (p.MakerNote && p.MakerNote->Outside() && p.MakerNote->ValuePos < EXIF_MAX_TIFF_SIZE)
    std::fill_n(mm.FStream.begin() + ptrdiff_t(p.MakerNote->ValuePos),
                std::min<uint64_t>(p.MakerNote->ValueSize, EXIF_MAX_TIFF_SIZE - p.MakerNote->ValuePos), 0xFF);
  const TSelection s = Select(&t, p, Info, Options, true);
  std::vector<uint8_t> out(EXIF_MAX_TIFF_SIZE, 0);
  mm.CopyUnknownBlock(out.data(), in);
  mm.Analyze();
  WriteSelection(s, out, [&](size_t Size) -> uint32_t {
    const auto at = Size <= EXIF_MAX_TIFF_SIZE ? mm.GetOffset(uint32_t(Size)) : std::nullopt;
    if (!at) throw ETessivoError(EXIF_SIZE_OVER_MESSAGE);
    return *at;
  });
  out.resize(mm.FSize);
  return out;
}

namespace {

std::vector<uint8_t> WriteCompact(const TSelection &S) {
  std::vector<uint8_t> out(EXIF_MAX_TIFF_SIZE, 0);
  size_t end = 0;
  WriteSelection(S, out, [&](size_t Size) -> uint32_t {
    const size_t at = (end + 1) & ~size_t(1);
    if (at + Size > EXIF_MAX_TIFF_SIZE) throw ETessivoError(EXIF_SIZE_OVER_MESSAGE);
    end = at + Size;
    return uint32_t(at);
  });
  out.resize(end);
  return out;
}

}  // namespace

std::vector<uint8_t> TExifReader::WriteExifInfoWithoutMakerNote(const TExifInfo &Info,
                                                                const TExifWriteOptions &Options) const {
  if (!FHasExif) return CreateExifInfo(Info);
  std::vector<uint8_t> in(FStream);
  TTiff t(in.data(), in.size());
  const TParsed p = ParseAll(t);
  return WriteCompact(Select(&t, p, Info, Options, false));
}

std::vector<uint8_t> TExifReader::CreateExifInfo(const TExifInfo &Info) {
  const TParsed none;
  return WriteCompact(Select(nullptr, none, Info, TExifWriteOptions{}, false));
}
