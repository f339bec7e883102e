// The lossless-JPEG parameter block that the batch run hands to every WEMBC
// process: TWembOption's sixteen 32-bit fields as 64 raw bytes, the four file
// names, the segment list and the trimming, colour-adjustment, tone-curve and
// text steps. Both programs build and read it with these functions, so they
// agree byte for byte.
#pragma once

#include "core/ImgInfo.h"
#include "effects/AddTextEffect.h"
#include "effects/ToneCurve.h"
#include "io/JpegSegment.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class TEffectList;

struct TWembOption {
  int32_t Rotation = 0;            // 0 none, 1 by Exif, 2 90, 3 180, 4 270, 5 mirror left-right, 6 mirror top-bottom
  int32_t ExifOrientation = 0;     // 0 leave it, 1..8 write this value
  int32_t Grayscale = 0;           // 0 no, 1 every colour JPEG, 2 only when every pixel is gray
  LongBool Trimming = LongFalse;
  int32_t ICCProfileRevision = 0;  // 0 none, 1 colour adjustment, 2 tone curve
  LongBool AddText = LongFalse;
  LongBool ExifExport = LongFalse;
  LongBool ICCExport = LongFalse;
  LongBool ExifImport = LongFalse;
  LongBool ICCImport = LongFalse;
  int32_t SegmentDeleteMode = 0;   // 0 delete the checked, 1 keep only the checked
  int32_t OptimizeMode = 0;        // 0 none, 1 optimised baseline, 2 progressive, 3 the smaller
  LongBool DeleteExifThumbnail = LongFalse;
  LongBool UpdateExifThumbnail = LongFalse;
  LongBool DeleteMakerNote = LongFalse;
  LongBool DeleteGPSInfoIFD = LongFalse;
  std::string ExifExportName = "export\\<name>.dat";
  std::string ICCExportName = "export\\<name>.icc";
  std::string ExifImportName = "<name>.dat";
  std::string ICCImportName = "<name>.icc";
};
static_assert(offsetof(TWembOption, DeleteGPSInfoIFD) == 60 && offsetof(TWembOption, ExifExportName) == 64,
              "the sixteen fields travel as the first 64 bytes of the block");

// Size of the shared-memory block; a parameter block never grows past it.
inline constexpr size_t WEMB_PARAM_SIZE = 0x100000;

// Everything the tool reads from the block.
struct TWembParam {
  TWembOption Option;
  std::vector<TSegmentInfo> Segments;
  int32_t TrimType = 0;
  std::array<std::string, 8> TrimValues;  // four for landscape, four for portrait pictures
  double RGBGamma = 1.0;
  int32_t LumaMin = 0, LumaMax = 255, Hue = 0, Contrast = 0;
  std::array<TCurvePoints, 4> CurvePoints;  // master, red, green, blue
  TAddTextParam TextParam;
  std::string Text;
  TFont Font;
};

// The whole block for a run: options, segment list, then the chain's steps.
std::vector<uint8_t> WriteWembParam(const TWembOption &Option, const std::vector<TSegmentInfo> &Segments,
                                    const TEffectList &Effects);
// The same block with the steps given directly (for the tool's tests and for a
// chain without those members).
std::vector<uint8_t> WriteWembParam(const TWembOption &Option, const std::vector<TSegmentInfo> &Segments,
                                    std::span<const uint8_t> Steps);
// Parses a block; ETessivoError naming the part that runs past the data.
TWembParam ReadWembParam(std::span<const uint8_t> Block);

// A name pattern for an input file: "<name>" (any case) becomes the input's
// name without extension, "\" reads as "/", and a relative result lies in
// the input's folder.
std::string ExpandWembName(const std::string &Pattern, const std::string &InputFile);
