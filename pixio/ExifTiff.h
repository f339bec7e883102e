// Bounded access to a TIFF structure (the body of an Exif block): byte order,
// IFD entries and their values. Every offset, count and length is checked
// against the block before it is used; a violation raises EExifBroken, so a
// hostile block can never make us read or write outside it.
// Header-only so that the codec library can use it without the program's code.
#pragma once

#include "core/Errors.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

// An Exif block whose structure does not hold together.
class EExifBroken : public ETessivoError {
public:
  EExifBroken() : ETessivoError("Exif structure is damaged") {}
  using ETessivoError::ETessivoError;
};

namespace exiftiff {

enum : uint16_t {
  TAG_GPS_VERSION_ID = 0x0000,
  TAG_COMPRESSION = 0x0103,
  TAG_ORIENTATION = 0x0112,
  TAG_X_RESOLUTION = 0x011A,
  TAG_Y_RESOLUTION = 0x011B,
  TAG_RESOLUTION_UNIT = 0x0128,
  TAG_SOFTWARE = 0x0131,
  TAG_WHITE_POINT = 0x013E,
  TAG_PRIMARY_CHROMATICITIES = 0x013F,
  TAG_JPEG_IF_OFFSET = 0x0201,
  TAG_JPEG_IF_LENGTH = 0x0202,
  TAG_EXIF_IFD = 0x8769,
  TAG_GPS_IFD = 0x8825,
  TAG_DATE_TIME_ORIGINAL = 0x9003,
  TAG_MAKER_NOTE = 0x927C,
  TAG_COLOR_SPACE = 0xA001,
  TAG_PIXEL_X_DIMENSION = 0xA002,
  TAG_PIXEL_Y_DIMENSION = 0xA003,
  TAG_INTEROP_IFD = 0xA005,
  TAG_GAMMA = 0xA500,
};

enum : uint16_t {
  TYPE_BYTE = 1, TYPE_ASCII = 2, TYPE_SHORT = 3, TYPE_LONG = 4, TYPE_RATIONAL = 5,
  TYPE_SBYTE = 6, TYPE_UNDEFINED = 7, TYPE_SSHORT = 8, TYPE_SLONG = 9, TYPE_SRATIONAL = 10,
  TYPE_FLOAT = 11, TYPE_DOUBLE = 12,
  TYPE_IFD = 13,  // an IFD offset: some writers give the Exif and GPS pointers this type
};

// Bytes per value of a type; unknown types count as one 4-byte value in the entry.
inline uint32_t TypeSize(uint16_t Type) {
  switch (Type) {
    case TYPE_BYTE: case TYPE_ASCII: case TYPE_SBYTE: case TYPE_UNDEFINED: return 1;
    case TYPE_SHORT: case TYPE_SSHORT: return 2;
    case TYPE_LONG: case TYPE_SLONG: case TYPE_FLOAT: case TYPE_IFD: return 4;
    case TYPE_RATIONAL: case TYPE_SRATIONAL: case TYPE_DOUBLE: return 8;
    default: return 0;
  }
}

// One IFD entry as found, with its value located and checked.
struct TEntry {
  uint16_t Tag = 0;
  uint16_t Type = 0;
  uint32_t Count = 0;
  size_t Pos = 0;        // offset of the 12-byte entry
  uint64_t ValueSize = 0;
  size_t ValuePos = 0;   // offset of the value: inside the entry when ValueSize <= 4
  bool Outside() const { return ValueSize > 4; }
};

// A view of a TIFF structure in memory (offsets relative to the byte-order mark).
class TTiff {
public:
  TTiff(uint8_t *P, size_t Size) : FP(P), FSize(Size) {
    if (!P || Size < 8) throw EExifBroken();
    if (P[0] == 'M' && P[1] == 'M') FBE = true;
    else if (P[0] == 'I' && P[1] == 'I') FBE = false;
    else throw EExifBroken();
    if (Get16(2) != 42) throw EExifBroken();
  }

  bool BE() const { return FBE; }
  size_t Size() const { return FSize; }
  uint8_t *Data() const { return FP; }
  bool Fits(uint64_t Off, uint64_t Len) const { return Off <= FSize && Len <= FSize - Off; }
  void Check(uint64_t Off, uint64_t Len) const {
    if (!Fits(Off, Len)) throw EExifBroken();
  }

  uint16_t Get16(size_t Off) const {
    Check(Off, 2);
    return FBE ? uint16_t(FP[Off] << 8 | FP[Off + 1]) : uint16_t(FP[Off + 1] << 8 | FP[Off]);
  }
  uint32_t Get32(size_t Off) const {
    Check(Off, 4);
    const uint8_t *p = FP + Off;
    return FBE ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
               : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
  }
  void Put16(size_t Off, uint16_t V) {
    Check(Off, 2);
    if (FBE) FP[Off] = uint8_t(V >> 8), FP[Off + 1] = uint8_t(V);
    else FP[Off] = uint8_t(V), FP[Off + 1] = uint8_t(V >> 8);
  }
  void Put32(size_t Off, uint32_t V) {
    Check(Off, 4);
    for (int i = 0; i < 4; ++i) FP[Off + i] = uint8_t(FBE ? V >> (24 - 8 * i) : V >> (8 * i));
  }
  void Zero(size_t Off, uint64_t Len) {
    Check(Off, Len);
    std::memset(FP + Off, 0, size_t(Len));
  }

  uint32_t IFD0() const { return Get32(4); }

  // Entry count of the IFD at Off; the entries and the next-IFD offset must fit.
  uint16_t EntryCount(size_t Off) const {
    const uint16_t n = Get16(Off);
    Check(uint64_t(Off) + 2, uint64_t(n) * 12 + 4);
    return n;
  }
  size_t NextIFDPos(size_t Off) const { return Off + 2 + size_t(Get16(Off)) * 12; }
  uint32_t NextIFD(size_t Off) const { return Get32(NextIFDPos(Off)); }

  // Entry I of the IFD at Off (EntryCount checked first by the caller).
  TEntry Entry(size_t Off, uint32_t I) const {
    TEntry e;
    e.Pos = Off + 2 + size_t(I) * 12;
    e.Tag = Get16(e.Pos);
    e.Type = Get16(e.Pos + 2);
    e.Count = Get32(e.Pos + 4);
    const uint32_t ts = TypeSize(e.Type);
    e.ValueSize = ts ? uint64_t(ts) * e.Count : 4;
    if (e.ValueSize > 4) {
      e.ValuePos = Get32(e.Pos + 8);
      Check(e.ValuePos, e.ValueSize);
    } else {
      e.ValuePos = e.Pos + 8;
    }
    return e;
  }

  // The first value of a BYTE, SHORT or LONG entry as an unsigned number.
  uint32_t Number(const TEntry &E, uint32_t Index = 0) const {
    if (Index >= E.Count && TypeSize(E.Type)) throw EExifBroken();
    switch (E.Type) {
      case TYPE_BYTE: case TYPE_UNDEFINED: case TYPE_SBYTE: Check(E.ValuePos + Index, 1); return FP[E.ValuePos + Index];
      case TYPE_SHORT: case TYPE_SSHORT: return Get16(E.ValuePos + size_t(Index) * 2);
      case TYPE_LONG: case TYPE_SLONG: case TYPE_IFD: return Get32(E.ValuePos + size_t(Index) * 4);
      default: throw EExifBroken();
    }
  }
  // Rational I of an entry (RATIONAL or SRATIONAL) as a double; 0 over 0 gives 0.
  double Rational(const TEntry &E, uint32_t Index = 0) const {
    if ((E.Type != TYPE_RATIONAL && E.Type != TYPE_SRATIONAL) || Index >= E.Count) throw EExifBroken();
    const size_t at = E.ValuePos + size_t(Index) * 8;
    const uint32_t n = Get32(at), d = Get32(at + 4);
    if (E.Type == TYPE_SRATIONAL) return d ? double(int32_t(n)) / double(int32_t(d)) : 0.0;
    return d ? double(n) / double(d) : 0.0;
  }

  // The first value of an integer entry; nothing for other types or no values.
  std::optional<uint32_t> TryNumber(const TEntry &E) const {
    switch (E.Type) {
      case TYPE_BYTE: case TYPE_UNDEFINED: case TYPE_SBYTE: case TYPE_SHORT: case TYPE_SSHORT: case TYPE_LONG: case TYPE_SLONG:
      case TYPE_IFD:
        if (E.Count == 0) return std::nullopt;
        return Number(E);
      default: return std::nullopt;
    }
  }
  std::optional<double> TryRational(const TEntry &E, uint32_t Index = 0) const {
    if ((E.Type != TYPE_RATIONAL && E.Type != TYPE_SRATIONAL) || Index >= E.Count) return std::nullopt;
    return Rational(E, Index);
  }

  // Calls F(entry) for every entry of the IFD at Off.
  template <class F>
  void ForEach(size_t Off, F &&Fn) const {
    const uint16_t n = EntryCount(Off);
    for (uint32_t i = 0; i < n; ++i) Fn(Entry(Off, i));
  }

  // The same for what can be read of a damaged IFD: entries past the end of
  // the block and entries whose value lies outside it are passed over and set
  // Lost(); the IFD's entry count itself must be inside the block. An entry of
  // a type nobody knows is passed as it is (4 bytes in the entry): readers
  // skip it by its type, and nothing it holds is lost.
  template <class F>
  void ForEachReadable(size_t Off, F &&Fn) const {
    const uint16_t n = Get16(Off);
    const uint64_t room = (FSize - Off - 2) / 12;  // Get16 checked Off + 2 <= FSize
    if (n > room) FLost = true;
    for (uint32_t i = 0; i < std::min<uint64_t>(n, room); ++i) {
      const size_t at = Off + 2 + size_t(i) * 12;
      const uint32_t ts = TypeSize(Get16(at + 2));
      const uint64_t bytes = ts ? uint64_t(ts) * Get32(at + 4) : 4;
      if (bytes > 4 && !Fits(Get32(at + 8), bytes)) {
        FLost = true;
        continue;
      }
      Fn(Entry(Off, i));
    }
  }
  // The next-IFD offset after the IFD at Off, 0 when the block ends before it
  // or it points past the end: a thumbnail directory that is not there.
  uint32_t NextIFDOrNone(size_t Off) const {
    const uint64_t at = uint64_t(Off) + 2 + uint64_t(Get16(Off)) * 12;
    if (!Fits(at, 4)) return 0;
    const uint32_t next = Get32(size_t(at));
    return Fits(next, 2) ? next : 0;
  }
  // Something the block declares could not be read (ForEachReadable).
  bool Lost() const { return FLost; }

private:
  uint8_t *FP;
  size_t FSize;
  bool FBE = false;
  mutable bool FLost = false;
};

// "Exif\0\0" at P (the APP1 payload prefix).
inline bool IsExifPrefix(const uint8_t *P, size_t Size) {
  return P && Size >= 6 && std::memcmp(P, "Exif\0\0", 6) == 0;
}

// An APP1 payload that goes on with the Exif block of the APP1 segment before
// it: "Exif\0\0" and then no TIFF header of its own. Writers split a block
// that does not fit into one segment this way; the parts, each without its
// prefix, laid end to end are the block.
inline bool IsExifContinuation(const uint8_t *P, size_t Size) {
  if (!IsExifPrefix(P, Size) || Size == 6) return false;
  const bool tiff = Size >= 10 && ((P[6] == 'I' && P[7] == 'I' && P[8] == 42 && P[9] == 0) ||
                                   (P[6] == 'M' && P[7] == 'M' && P[8] == 0 && P[9] == 42));
  return !tiff;
}

}  // namespace exiftiff
