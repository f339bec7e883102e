// Writing the converted image: the output type from the file name, the BMP,
// JPEG (with the file-size search), PNG (with the external optimiser), TIFF
// and HD Photo writers with their indexed variants, the JPEG copy without
// recompression, the thumbnail for TIFF and HD Photo, and the hand-over TIFF
// for external tools.
//
// Every writer goes to a temporary file in the output folder that replaces
// the target only after the whole file was written, so a failed save leaves
// no partial file behind and an earlier output stays as it was. A read-only
// output is made writable for the save and read-only again afterwards.
//
// The option records of FormatOption.h are read, never written. Failures
// raise ETessivoError with the message the worker logs after the file name.
#pragma once

#include "color/ColorManagementOption.h"
#include "io/ExifJpeg.h"
#include "io/FormatOption.h"
#include "io/ImageProbe.h"
#include "core/ImgInfo.h"
#include "io/OutputType.h"
#include "core/TempFile.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TMultiThread;
class TResizer;
class TTransForm;

inline constexpr const char *ATTRIBUTE_CHANGE_FAILED = "ファイル属性の変更に失敗";

// Conversions the writers use. Dots per inch: any other unit gives 1 and 1.
// Pixels per metre: any other unit gives 0 and 0.
void ResolutionToDPI(const TResolutionInfo &R, int32_t &X, int32_t &Y);
void ResolutionToPPM(const TResolutionInfo &R, int32_t &X, int32_t &Y);
// The configured dpi as pixels per metre: (dpi x 10000 + 127) / 254.
int32_t DPIToPPM(int32_t DPI);

// One attempt of the JPEG file-size search, for tests and benchmarks.
struct TJPEGAttempt {
  int32_t Quality;
  int32_t SampleType;     // 0 4:2:0, 1 4:2:2, 2 4:4:4, 3 4:1:1
  bool ExplicitTables;    // registered or kept quantisation tables were used
  bool ToMemory;          // false: the final write regardless of size
  bool Fitted;            // a memory attempt that fitted
};

// What the saver needs besides the image, the entry and the option records:
// the per-worker context of the conversion and of the effect chain.
struct TSaveContext {
  bool AutoRotation = false;            // the Exif-rotation step is in use
  bool DecreaseColor = false;           // the colour reduction produced the pixels
  bool GrayscaleDecreaseColor = false;  // the grayscale step asked for gray levels
  bool DeleteGPSInfoIFD = false;        // lossless option, honoured when Exif is written
  TFormatOptions Formats;               // the run's copy of the format records and the background
  TColorManagementOption ColorManagement;  // the run's copy (CreateICCProfileFromExif is read)
  int32_t ProcessPriority = 2;          // for the external PNG optimiser
  int32_t ThreadNum = 0;
  TResizer *ThumbnailResizer = nullptr; // null: a box reduction
  TMultiThread *MT = nullptr;
  TTransForm *ColorTransform = nullptr; // working-space colours into the output profile
  std::string PNGOutPath;               // empty: bin/pngout beside the program
  TCommitRule *Commit = nullptr;        // how the output takes its name; null replaces
  // Called for every encode of the file-size search, in order.
  std::function<void(const TJPEGAttempt &)> OnJPEGAttempt;
};

// Writes Img as OutPutFileName in the format of its extension (type 0 writes
// nothing). Img is converted on the way (depth, layout, row order) and must
// only be freed afterwards; its Exif, marker and profile blocks are read.
// LoadedBitsPerSample is the sample depth the source file had.
void SavePicture(TICCImgInfo &Img, const TImageProbe &Entry, const std::string &OutPutFileName,
                 const TResolutionInfo &RInfo, uint32_t LoadedBitsPerSample, const TSaveContext &Context);

// The writers. Each takes the file to write, the image (converted in place as
// its format needs), the entry and the context; the indexed variants answer
// false, writing nothing, when the palette search fails.
struct TSaveJob {
  const TImageProbe *Entry = nullptr;
  TResolutionInfo RInfo;
  uint32_t LoadedBitsPerSample = 8;
  const TSaveContext *Context = nullptr;
};
void SaveBitmapFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job);
bool SaveIndexedBitmapFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job);
// With the given quality, sampling and smoothing, no size search (the
// combining mode calls it so).
void SaveJPEGFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job, int32_t Quality,
                  int32_t SampleType, int32_t Smoothing);
// The file-size search: memory encodes until one fits FileSizeLimit KB.
void SaveJPEGFileWithSizeLimit(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job);
// One memory encode of an image SaveJPEGFile would write; false when it does
// not fit Capacity (Length then holds the bytes produced).
bool SaveJPEGToMemory(TICCImgInfo &Img, const TSaveJob &Job, int32_t Quality, int32_t SampleType,
                      int32_t Smoothing, bool AllowTables, uint8_t *Buffer, uint32_t Capacity, uint32_t &Length);
void SavePNGFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job);
bool SaveIndexedPNGFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job);
void SaveTIFFFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job);
bool SaveIndexedTIFFFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job);
void SaveHDPFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job);

// Palette search over an 8-bit image: up to 256 exact colours (3 channels) or
// 16 levels (1 channel) in order of first appearance in memory order. The
// image becomes indexes (1 channel) packed to 1 or 4 bits for 2 or 16 colours
// or fewer unless Keep8Bit, most significant bits first, rows padded to 4
// bytes. False, image unchanged, for more colours or other layouts.
struct TPaletteInfo {
  std::array<uint32_t, 256> Colors{};  // 0x00RRGGBB
  uint32_t Count = 0;
  uint32_t Bits = 8;                   // 1, 4 or 8
};
bool BuildPalette(TICCImgInfo &Img, bool Keep8Bit, TPaletteInfo &Palette);

// The profile bytes to embed for Img by its profile type (none when
// KeepICCProfile is off); the bytes stay owned by Img or the colour system.
TICCInfo OutputICCProfile(const TICCImgInfo &Img, const TMetadataOption &Metadata,
                          const TColorManagementOption &ColorManagement);

// The JPEG copy without recompression: Bytes is the whole source. Writes the
// result to OutputPath when a segment was changed or the paths differ
// (ignoring case); deletes the source afterwards when DeleteInputFile is set
// and the paths differ. Answers whether an output was written.
// Output times are set by the caller afterwards, as for every output.
struct TCopyOptions {
  bool DeleteInputFile = false;
  bool DeleteGPSInfoIFD = false;
  TFormatOptions Formats;  // the run's copy of the records the copy reads
  // Removes the source (the worker's delete or trash move); null deletes it for good.
  std::function<void(const std::string &)> DeleteSource;
  TCommitRule *Commit = nullptr;  // how the output takes its name; null replaces
};
bool CopyJPEGWithoutRecompression(const std::vector<uint8_t> &Bytes, const std::string &InputPath,
                                  const std::string &OutputPath, const TImageProbe &Entry,
                                  const TResolutionInfo &RInfo, const TCopyOptions &Options);

// An uncompressed TIFF for an external tool; Img has top-down rows. 14-bit
// data is widened to 16 bits and 16-bit colour goes red first (Img changes).
void SaveTIFFForTool(const std::string &FileName, TICCImgInfo &Img, const TMetadataOption &Metadata);

// Recompresses a PNG in place with bin/pngout; a missing tool leaves it alone.
// Answers whether the tool ran and succeeded.
bool OptimizePNG(const std::string &FileName, const TSaveContext &Context);
// Puts a PNG made elsewhere (the colour reduction's tool file) in place of
// OutPutFileName through a temporary file under Context.Commit, optimised by
// pngout first when UsePNGOUT is on. Raises ETessivoError when the file
// cannot be read or is no complete PNG; the target is untouched then.
void SavePreparedPNG(const std::string &Prepared, const std::string &OutPutFileName, const TSaveContext &Context);
// The argument vector handed to the tool (after the program name).
std::vector<std::string> PNGOutArguments(const std::string &FileName, const TFormatOptions &Formats);

// The output's read-only state for one save: an existing output without
// write permission is made writable (ATTRIBUTE_CHANGE_FAILED when that
// fails) and gets its mode back when the guard ends, also after an error.
class TReadOnlyGuard {
public:
  explicit TReadOnlyGuard(const std::string &FileName);
  ~TReadOnlyGuard();
  TReadOnlyGuard(const TReadOnlyGuard &) = delete;
  TReadOnlyGuard &operator=(const TReadOnlyGuard &) = delete;
  bool WasReadOnly() const { return FReadOnly; }

private:
  std::string FFileName;
  bool FReadOnly = false;
  uint32_t FMode = 0;
};
