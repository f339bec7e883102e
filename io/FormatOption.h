// The per-format option records that loading and saving read: JPEG, BMP, PNG,
// TIFF, HD Photo and metadata. Each is one program-wide instance, filled from
// the settings file and changed only by the option dialogs while no
// conversion runs, so the workers read them without locks.
#pragma once

#include "core/ImgInfo.h"

#include <cstdint>
#include <string>

// Section "JPEG" (KeepQuality lives in section "JEPG").
struct TJPEGOption {
  int32_t JPEGTo = 2;                 // key "ConvertTo": output choice for JPEG sources
  int32_t Smoothing = 0;              // 0..100
  int32_t SampleType = 1;             // 0 4:2:0, 1 4:2:2, 2 4:4:4, 3 4:1:1
  int32_t Quality = 90;               // 0..100
  bool AddExifInfo = true;            // carry Exif to JPEG, TIFF and HD Photo output
  int32_t DecodeWithDownScaling = 0;  // most halvings the decoder may apply: 0..3
  int32_t DownScalingLimit = 200;     // percent of the output size the decode must keep
  int32_t DCTMethod = 0;              // 0 accurate integer, 1 floating point
  bool AlwaysRecompress = false;
  bool UpdateExif = true;
  bool UpdateExifResolution = false;
  bool UseFileSizeLimit = false;
  int32_t FileSizeLimit = 200;        // KB of 1024 bytes
  int32_t QualityLimit = 75;
  int32_t SampleTypeLimit = 0;
  bool UpdateExifThumbnail = false;
  int32_t OmitAPP0Marker = 1;         // key "RemoveAPP0Marker"
  int32_t UseQuantizationTable = 0;
  std::string LumaTableName;
  std::string ChromaTableName;
  uint16_t LumaQT[64] = {};           // natural (row-major) order
  uint16_t ChromaQT[64] = {};
  int32_t KeepQuality = 0;            // section "JEPG"
  bool Progressive = false;
};

// AlphaCheckType: how 32-bit files without bit fields are read.
enum : int32_t {
  ALPHA_CHECK_DETECT = 0,
  ALPHA_CHECK_ARGB = 1,
  ALPHA_CHECK_XRGB = 2,
};

// Section "Bitmap".
struct TBitmapOption {
  int32_t ConvertTo = 1;
  int32_t AlphaChannelSupport = 1;    // write 32-bit BMP with alpha
  int32_t AlphaBitmapHeaderType = 1;  // 0 BITMAPINFOHEADER, 1 BITMAPV4HEADER
  int32_t AlphaCheckType = ALPHA_CHECK_DETECT;
  int32_t IndexColor = 0;
};

// Section "PNG". The settings key of Is16Bit is "16Bit".
struct TPNGOption {
  int32_t ConvertTo = 3;
  int32_t Filter = 0;                 // 8 None, 16 Sub, 32 Up, 64 Average, 128 Paeth; 0 the library's choice
  int32_t CompressLevel = 6;
  int32_t WritepHYsChunk = 0;
  int32_t IndexColor = 1;
  int32_t TransparentType = 0;        // 0 none, 1..4 a corner pixel, 5 TransparentColor
  uint32_t TransparentColor = 0;      // 0x00BBGGRR
  int32_t UsePNGOUT = 0;
  int32_t MaximumOptimization = 0;
  int32_t FullColorOptimization = 0;
  int32_t UsebKGDChunk = 1;           // read bKGD for flattening, write it into PNG output
  int32_t Is16Bit = 2;                // 0 off, 1 on, 2 only for 16-bit sources
  int32_t UseWIC = 0;                 // decode PNG through the imaging service
};

// Section "TIFF".
struct TTIFFOption {
  int32_t CompressionMethod = 0;      // 0 none, 1 LZW, 2 ZIP, 3 LZW with differencing
  int32_t EmbedThumbnail = 1;
  int32_t Is16Bit = 2;                // key "16Bit"
  int32_t IndexColor = 1;
};

// Section "HDP". Qualities are stored as 101 minus the quality shown.
struct THDPOption {
  int32_t UseCodecOptions = 0;
  int32_t Quality = 11;
  int32_t Overlap = 1;                // 0..2
  int32_t Subsampling = 3;            // 1 4:2:0, 2 4:2:2, 3 4:4:4
  int32_t HorizontalTileSlices = 0;   // shown as value + 1
  int32_t VerticalTileSlices = 0;
  int32_t InterleavedAlpha = 0;
  int32_t AlphaQuality = 11;
  int32_t EmbedThumbnail = 1;
  int32_t Is16Bit = 2;                // key "16Bit"
};

// Section "Metadata".
struct TMetadataOption {
  bool KeepICCProfile = true;
  int32_t Resolution = 72;            // dpi
  bool KeepResolution = true;
  int32_t AlwaysCopyMakerNote = 0;
  int32_t UpdateSoftwareTag = 1;
  int32_t KeepCreationTime = 0;
  int32_t KeepLastWriteTime = 0;
  int32_t UpdateTimestampFromExif = 0;
  int32_t KeepAllExtraMarker = 0;
};

// Section "System": the colour alpha is flattened onto when the source
// declares none (COLORREF order, red in the low byte).
inline constexpr uint32_t DEFAULT_BACKGROUND = 0xFFFFFF;

// The format records as one run reads them: a copy taken when the run starts
// travels with every save, so a dialog may edit the program-wide records
// while a conversion, a preview or a thumbnail is being computed.
struct TFormatOptions {
  TJPEGOption JPEG;
  TBitmapOption Bitmap;
  TPNGOption PNG;
  TTIFFOption TIFF;
  THDPOption HDP;
  TMetadataOption Metadata;
  uint32_t Background = DEFAULT_BACKGROUND;  // key "Background" of section "System"
  // Not stored: set for a run whose colour reduction uses a tool that takes
  // no alpha, so that the loader flattens it whatever the output type.
  bool ReductionFlattensAlpha = false;
};

extern TJPEGOption JPEGOption;
extern TBitmapOption BitmapOption;
extern TPNGOption PNGOption;
extern TTIFFOption TIFFOption;
extern THDPOption HDPOption;
extern TMetadataOption MetadataOption;
// The background colour; the settings file keeps it in section "System".
extern uint32_t Background;

// A copy of the program-wide records (taken on the thread that edits them).
TFormatOptions CurrentFormatOptions();
