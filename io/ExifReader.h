// Exif reading and writing. The main program parses the Exif block of a JPEG
// at probe time, carries it with the image as a small JPEG (the carrier) and
// patches it in place at save time; the lossless console tool rebuilds the
// structure with TExifReader and TExifMM, keeping unknown data and the maker
// note at their offsets so that offsets inside them stay valid.
//
// Every offset, count and length inside a block is checked against the block:
// a structure that does not hold together is reported as broken and carried
// unchanged, never read or written outside its bytes.
#pragma once

#include "pixio/ExifTiff.h"
#include "io/ImageProbe.h"
#include "core/ImgInfo.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class TMultiThread;
class TResizer;

inline constexpr const char *EXIF_BROKEN_MESSAGE = ":Exif情報が破損している可能性があります";
inline constexpr const char *EXIF_SIZE_OVER_MESSAGE = "ExifInfoのサイズオーバー";
// Written into the Software tag.
inline constexpr const char *PROGRAM_NAME = "TessivoPlus";
// Largest TIFF structure we write: the APP1 segment then stays within 65535 bytes.
constexpr uint32_t EXIF_MAX_TIFF_SIZE = 0xFFF7;
// Largest APP1 payload ("Exif\0\0" and the structure).
constexpr uint32_t EXIF_MAX_PAYLOAD = 0xFFFD;
// Size of the block that holds the carrier (the image record's Exif capacity).
constexpr uint32_t EXIF_CARRIER_SIZE = 0x20000;

// ---------------------------------------------------------------------------
// Main program

// The 20-character Exif date "yyyy:mm:dd hh:nn:ss" as days since 1899-12-30;
// 0 when it does not split into six numbers or is no valid date.
double ParseExifDate(std::string_view Text);

// The probe parse (ProbeJPEGHeader calls it): Data/Size is the whole file, TiffPos
// the TIFF structure's offset, TiffLen its length. Fills the Exif fields of
// Entry; on a damaged structure sets FExifBroken and reports the file name
// followed by EXIF_BROKEN_MESSAGE through PutLoadWarning.
void ParseExifIFDs(TImageProbe &Entry, const uint8_t *Data, size_t Size, size_t TiffPos, size_t TiffLen);

// Builds the carrier: a small JPEG (8x8 gray, quality 80) whose APP1 is the
// source's APP1 payload Src/SrcLen ("Exif\0\0" and the structure), with the
// entry's resolution in its JFIF header. Dest is a 16-byte aligned block of
// EXIF_CARRIER_SIZE bytes (AlignedFree). False, Dest null, when it cannot be made.
bool MakeExifImage(const TImageProbe &Entry, uint8_t *&Dest, uint32_t &DestLen, uint32_t SrcLen, const uint8_t *Src);

// The save-time settings GetExifInfo applies (from the JPEG, metadata and
// lossless option records).
struct TExifSaveOptions {
  bool UpdateSoftwareTag = true;    // TMetadataOption.UpdateSoftwareTag
  uint32_t Resolution = 72;         // TMetadataOption.Resolution (dpi)
  bool DeleteGPSInfoIFD = false;    // lossless option, also honoured by the saver
  bool UpdateExifThumbnail = false; // TJPEGOption.UpdateExifThumbnail
};

// The APP1 payload to write for Entry ("Exif\0\0" and the structure), from the
// carrier Carrier/CarrierLen: orientation reset after automatic rotation,
// resolution and pixel dimensions rewritten on request, Software replaced,
// GPS blanked, and the thumbnail made from Src (appended for non-JPEG
// sources, re-rendered in place when asked). Empty when the carrier holds no
// Exif. Resizer may be null (a box reduction makes the thumbnail then).
std::vector<uint8_t> GetExifInfo(const TImageProbe &Entry, const uint8_t *Carrier, size_t CarrierLen,
                                 bool AutoRotation, const TICCImgInfo &Src, TMultiThread *Pool,
                                 bool UpdateResolution, bool UpdateSize, TResizer *Resizer,
                                 const TExifSaveOptions &Options);

// The profile made from the entry's Exif colour data (Profile null when the
// data describes sRGB or is unusable); PageFree the profile.
TICCInfo GetICCProfileFromExif(const TImageProbe &Entry);

// Blanks the GPS IFD of an APP1 payload ("Exif\0\0" and the structure) or a
// bare TIFF structure: values over 4 bytes zeroed, the IFD rewritten as the
// single entry GPSVersionID 2.2.0.0 (when it had entries), next-IFD offset 0.
// True when a GPS IFD was found. A damaged structure raises EExifBroken.
bool BlankGPSInfo(std::span<uint8_t> Block);

// Appends a new IFD1 (Compression 6, Orientation, 96 dpi, thumbnail offset and
// length) and the thumbnail JPEG to an APP1 payload, and points IFD0's
// next-IFD offset at it. False, payload unchanged, when the result would not
// fit into an APP1 segment. ThumbnailPos receives the thumbnail's offset in
// the TIFF structure.
bool AppendExifThumbnail(std::vector<uint8_t> &Payload, std::span<const uint8_t> Thumbnail, uint16_t Orientation,
                         uint32_t *ThumbnailPos = nullptr);

// The 160-pixel thumbnail of an image as a JPEG without APP0: 8-bit copy,
// reduced through Resizer (or a box reduction without one) so that the long
// side is 160, encoded at Quality with the given sampling; empty when it does
// not fit into Limit bytes.
std::vector<uint8_t> MakeExifThumbnail(const TICCImgInfo &Src, TResizer *Resizer, TMultiThread *Pool,
                                       int32_t Quality, int32_t HSamp, int32_t VSamp, size_t Limit);
// The same over one reduction, trying the qualities FirstQuality,
// FirstQuality - Step, ... down to LastQuality; the first JPEG that fits into
// Limit bytes, empty when none does.
std::vector<uint8_t> MakeFittingExifThumbnail(const TICCImgInfo &Src, TResizer *Resizer, TMultiThread *Pool,
                                              int32_t FirstQuality, int32_t LastQuality, int32_t Step,
                                              int32_t HSamp, int32_t VSamp, size_t Limit);

// ---------------------------------------------------------------------------
// Console tool

struct TRational {
  uint32_t UValue = 0;  // numerator
  uint32_t DValue = 1;  // denominator
};
struct TRational_X2 {
  TRational X, Y;
};

enum : uint32_t {
  EXIFINFO_ORIENTATION = 1,
  EXIFINFO_COLORSPACE = 2,
  EXIFINFO_WHITEPOINT = 4,
  EXIFINFO_PCRED = 8,
  EXIFINFO_PCGREEN = 16,
  EXIFINFO_PCBLUE = 32,
  EXIFINFO_PRIMARIES = EXIFINFO_PCRED | EXIFINFO_PCGREEN | EXIFINFO_PCBLUE,
  EXIFINFO_GAMMA = 64,
};

struct TExifInfo {
  uint32_t Flags = 0;
  int32_t Orientation = 0;
  TRational_X2 WhitePoint;
  TRational_X2 PCRed, PCGreen, PCBlue;
  int32_t ColorSpace = 0;
  TRational Gamma;
};

// What a rebuild keeps besides the TExifInfo values.
struct TExifWriteOptions {
  bool DeleteGPSInfo = false;
  bool DeleteThumbnail = false;
  bool UpdateThumbnail = false;
  // Encodes the new thumbnail at a quality; empty when it cannot.
  std::function<std::vector<uint8_t>(int32_t Quality)> EncodeThumbnail;
};

// Occupation map of a rebuilt structure: one byte per output offset, 0xFF
// where unknown input data must stay, 0 where space is free.
class TExifMM {
public:
  struct TMemoryInfo {
    uint32_t Offset;
    uint32_t Size;
  };
  TExifMM();
  // Marks [Offset, Offset + Size) free, clipped to the map.
  void SetReserveArea(uint64_t Offset, uint64_t Size);
  // Collects the free runs in order; FSize becomes the end of the last occupied byte.
  void Analyze();
  // Start of the first free block that holds Size bytes at an even offset (the
  // block shrinks from the front, FSize grows to cover it); nothing when none does.
  std::optional<uint32_t> GetOffset(uint32_t Size);
  // Copies every still-occupied byte of Src to the same offset of Dest.
  void CopyUnknownBlock(uint8_t *Dest, std::span<const uint8_t> Src) const;

  std::vector<uint8_t> FStream;
  std::vector<TMemoryInfo> FMemoryInfo;
  uint32_t FSize = 0;
};

class TExifReader {
public:
  TExifReader() = default;
  ~TExifReader() = default;

  // Takes a TIFF structure ("MM" or "II", 42); false (and no Exif) otherwise.
  bool SetStream(std::span<const uint8_t> Stream);
  // 0xFFD8 followed by a byte 0xFF.
  static bool IsJPEGImage(std::span<const uint8_t> Data);
  // "Exif" and a zero 16-bit word.
  static bool IsExifStream(std::span<const uint8_t> Data);
  // The TIFF structure of the first APP1 longer than 21 bytes starting "Exif";
  // nothing when SOS, EOI or a broken marker comes first.
  static std::optional<std::vector<uint8_t>> GetExifStream(std::span<const uint8_t> Jpeg);

  // Values of the tags the tool uses, and the capture date (0 none). False
  // without Exif or when the structure is damaged (Info then holds what was read).
  bool ReadExifInfo(TExifInfo &Info, double &DateTimeOriginal) const;
  // The structure with Info's values written in place (tags that exist only),
  // and the thumbnail replaced when a new one fits the old length.
  std::vector<uint8_t> OverWriteExifInfo(const TExifInfo &Info, const TExifWriteOptions &Options) const;
  // Rebuild keeping unknown data and the maker note at their input offsets.
  // Raises ETessivoError(EXIF_SIZE_OVER_MESSAGE) when space runs out and
  // EExifBroken for a damaged input. Without Exif: CreateExifInfo.
  std::vector<uint8_t> WriteExifInfo(const TExifInfo &Info, const TExifWriteOptions &Options) const;
  // The same selection without the maker note, laid out compactly.
  std::vector<uint8_t> WriteExifInfoWithoutMakerNote(const TExifInfo &Info, const TExifWriteOptions &Options) const;
  // A new big-endian structure holding only Info's values.
  static std::vector<uint8_t> CreateExifInfo(const TExifInfo &Info);

  std::vector<uint8_t> FStream;
  bool FET = false;  // true for "MM"
  bool FHasExif = false;
  uint32_t FExifSize = 0;
};
