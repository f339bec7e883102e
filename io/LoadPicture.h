// Decoding for conversion and for the list window: a probed entry (file or
// archive member) into the image record, through the program's own BMP
// reader, the codec library (PNG, JPEG and everything the imaging service
// reads) or an image-loader plug-in; then the Exif-derived profile, alpha
// flattening for outputs that cannot keep it, and CMYK to RGB.
//
// A file that fails raises ETessivoError "Loadに失敗しました (detail)", the
// detail being the decoder's or the codec library's reason, and leaves the
// image empty; nothing here writes to the log: the one who handles the file
// puts its name in front and logs the line once.
#pragma once

#include "io/ImageProbe.h"
#include "core/ImgInfo.h"
#include "io/FormatOption.h"
#include "io/OutputType.h"
#include "core/MemoryBudget.h"
#include "core/Scale.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class TResizer;
class TTransForm;
struct TColorManagementOption;


inline constexpr const char *LOAD_FAILED_MSG = "Loadに失敗しました";

// Decodes Entry into Img (which must be empty) for conversion. Returns the
// JPEG scale denominator used (1, 2, 4 or 8; 1 for other formats); raises
// on failure (Img empty). WantExif and WantMarkers are further narrowed
// by the format options (AddExifInfo with a JPEG, HD Photo or TIFF output;
// KeepAllExtraMarker); the Exif carrier and the extra markers land in
// Img.ExifInfo / Img.Marker, so Img belongs in a TICCImgOwner. Transform is the
// worker's colour transform (used for the CMYK conversion and the background
// colour; may be null). Reduced JPEG decoding is tried only when
// AllowDownScale is set, from Scale and the JPEG options. Formats and
// ColorManagement are the run's copies of the records (the program-wide ones
// may be edited meanwhile); of the latter only CreateICCProfileFromExif is read.
// A picture whose decoded pixels (the probed size at the decode scale, times
// the bytes per pixel its header promises) would need more than a worker's
// share of Budget is refused before the decoder allocates anything.
int32_t LoadPicture(TImageProbe &Entry, TICCImgInfo &Img, const TScale &Scale, bool WantMarkers,
                    bool WantExif, TTransForm *Transform, bool AllowDownScale, int32_t OutputType,
                    const TFormatOptions &Formats, const TColorManagementOption &ColorManagement,
                    const TMemoryBudget &Budget = {});

// Bytes per pixel of the decoded image the header of a file in Format
// promises (samples per pixel times 1 or 2): the JPEG frame header's
// components, the PNG header's colour type and depth (palette and gray with
// alpha counted as four samples, as the decoder may expand them); 4 for
// other formats and for headers that cannot be read.
uint32_t DecodedBytesPerPixel(int32_t Format, std::span<const uint8_t> Bytes);

// The denominator reduced JPEG decoding uses for a scale: limit =
// DownScalingLimit x max(XScale, YScale) / 100, doubled up to
// DecodeWithDownScaling times while 1 / (2 x denominator) stays >= limit.
int32_t JPEGScaleDenominator(const TScale &Scale, int32_t DecodeWithDownScaling, int32_t DownScalingLimit);

// Whether alpha must be flattened for an output type (BMP without alpha
// support in Bitmap, or JPEG).
bool OutputDropsAlpha(int32_t OutputType, const TBitmapOption &Bitmap);

// Settings the list thumbnail reads (the list window's).
struct TListThumbnailOptions {
  int32_t ThumbnailSize = 1;            // 1: 160, 2: 320, other: 640 pixels on the long side
  bool IgnoreEmbeddedThumbnail = false; // never show the Exif thumbnail
  TTransForm *MonitorTransform = nullptr;  // scratch transform for the monitor conversion; null: own one
  TResizer *Resizer = nullptr;  // the thumbnail maker's own reduction engine; null: one made for the call
  // The thumbnail maker's copy of the format records (PNG and BMP reading,
  // the JPEG DCT method, the background), taken when it starts.
  TFormatOptions Formats{};
};

// Target long side of list thumbnails for a ThumbnailSize setting.
uint32_t ListThumbnailSide(int32_t ThumbnailSize);

// A small 8-bit picture of Entry for the list window (PIXFMT_BGR or
// PIXFMT_GRAY, in the monitor profile when colour management is on): the
// Exif thumbnail, the entry's cached thumbnail, or a reduced decode that is
// then cached in Entry.CachedThumbnail as a JPEG. Raises when nothing could
// be decoded.
void MakeListThumbnail(TICCImgInfo &Bitmap, TImageProbe &Entry, const TListThumbnailOptions &Options = {});

// Per-format decoders, each from a memory block (the whole file) into an
// empty Img. They raise ETessivoError with the reason on failure; Img is
// empty then. LoadBitmapFromMemory is in Bitmap.h.
// UseBKGDChunk (TPNGOption.UsebKGDChunk) keeps the bKGD colour in Img.BGColor.
void LoadPNGFromMemory(const uint8_t *Data, size_t Size, TICCImgInfo &Img, bool UseBKGDChunk);
// Denominator 1, 2, 4 or 8; with WantQualityInfo the source's sampling and
// tables land in Img.JPEGQualityInfo. DCTMethod is TJPEGOption.DCTMethod
// (1 floating point, else accurate integer).
// InvertedCMYK, when given, receives whether CMYK samples are stored
// inverted (Adobe: 255 means no ink), which the CMYK transform must know.
void LoadJPEGFromMemory(const uint8_t *Data, size_t Size, TICCImgInfo &Img, bool WantQualityInfo,
                        int32_t Denominator, int32_t DCTMethod, bool *InvertedCMYK = nullptr);
void LoadWICFromMemory(const uint8_t *Data, size_t Size, TICCImgInfo &Img);
void LoadWICThumbnailFromMemory(const uint8_t *Data, size_t Size, TICCImgInfo &Img);

// An image-loader plug-in's decode of a member or file; raises ETessivoError
// on failure.
using TLoadSusieImageProc = void (*)(const uint8_t *Data, size_t Size, TICCImgInfo &Img, void *Plugin);
// Registration point of the plug-in host: the host calls it once at start-up,
// before any run loads a plug-in's file (null removes it again); no static
// initialiser installs it, so without a host such files fail to load.
void RegisterLoadSusieImage(TLoadSusieImageProc Load);

// The whole source of an entry: the file, or the archive member through
// ExtractArchiveMember. Raises "Loadに失敗しました (reason)" when it
// cannot be read.
void ReadEntryBytes(const TImageProbe &Entry, std::vector<uint8_t> &Bytes);
