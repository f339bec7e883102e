// The entry points of the lossless-JPEG library bin/libwemb.so, shared by the
// library and the console tool WEMBC. Every call returns nonzero on success;
// output goes through the write callback into the stream object passed as
// "Out", and failures are reported once through the message callback.
#pragma once

#include <cstdint>

// The entry points leave the library; everything else in it stays hidden.
#define WEMB_API __attribute__((visibility("default")))

extern "C" {

// Appends Count bytes to the stream object; returns the count written.
typedef intptr_t (*TWembWriteProc)(void *Stream, const void *Bytes, intptr_t Count);
// Shows a warning with a caption and a text (the console tool prints it).
typedef void (*TWembMessageProc)(const char *Caption, const char *Text);

// Colour-space codes of read_jpeginfo.
enum : int32_t { WEMB_CS_GRAY = 1, WEMB_CS_YCBCR = 3, WEMB_CS_CMYK = 4 };

// Flags of losslesstran.
enum : int32_t { WEMB_GRAYSCALE = 1, WEMB_OPTIMIZE = 2, WEMB_PROGRESSIVE = 4 };

struct TWembJpegInfo {
  int32_t Width;
  int32_t Height;
  int32_t ColorSpace;  // WEMB_CS_*
  int32_t MCUWidth;    // in 8-pixel blocks
  int32_t MCUHeight;
  uint8_t *ICCProfile;  // page-allocated (mmap), released by the caller with munmap
  uint32_t ICCLength;
};

// A decoded picture: the five-field image header with rows stored bottom-up
// (BGR, gray or CMYK samples), and the reduction asked for (1, 2, 4 or 8).
// Mem is page-allocated (mmap) and released by the caller with
// munmap(Mem, Bpl * Height).
struct TWembImage {
  uint8_t *Mem;
  uint32_t Width;
  uint32_t Height;
  uint32_t Bpl;
  uint32_t Channels;
  int32_t Scale;
};

WEMB_API int init_jpegtran(TWembWriteProc Write, TWembMessageProc Message);
WEMB_API int read_jpeginfo(TWembJpegInfo *Info, const uint8_t *Bytes, uint32_t Count);
// Decodes at 1 / Image->Scale of the size; fills the rest of *Image.
WEMB_API int read_jpeg(TWembImage *Image, const uint8_t *Bytes, uint32_t Count);
// Crop (a zero size means none) then transform by Exif orientation code
// (1 none, 2 mirror left-right, 3 rotate 180, 4 mirror top-bottom,
// 5 transpose, 6 rotate 90 clockwise, 7 transverse, 8 rotate 270 clockwise).
// The crop's left and top edges move down to the block grid, as in any
// lossless crop; a transform that would carry a partial edge block into the
// inside of the picture drops that edge instead (the output is trimmed to
// whole MCUs on the mirrored axes), so every kept pixel is exact.
WEMB_API int losslesstran(const uint8_t *Bytes, uint32_t Count, int32_t CropWidth, int32_t CropHeight, int32_t CropX,
                 int32_t CropY, int32_t Transform, void *Out, int32_t Flags);

// Encodes Image (BGR, gray or CMYK rows, bottom-up; Scale is not read) with
// the template file's colour space, component sampling and quantisation
// tables, so that its blocks line up with the template's and a block whose
// pixels did not change decodes as the template's does.
WEMB_API int write_jpeg(const TWembImage *Image, void *Out, const uint8_t *Template, uint32_t TemplateCount);
// The input file with the MCUs marked in BlockMap taken from Modified, every
// other MCU's coefficients kept as they are, and the input's segments and
// Huffman coding kept where the new blocks allow. BlockMap holds one byte
// per MCU (nonzero: take it from Modified), rows from the top: with the MCU
// size of read_jpeginfo, ceil(Width / (MCUWidth x 8)) bytes per row and
// ceil(Height / (MCUHeight x 8)) rows. Modified must have the input's size,
// sampling and quantisation tables (as write_jpeg makes it).
WEMB_API int marge_jpeg(const uint8_t *Bytes, uint32_t Count, const uint8_t *Modified, uint32_t ModifiedCount,
                        void *Out, const uint8_t *BlockMap);
// A small baseline JPEG of Image for the Exif thumbnail: 4:2:0 for colour
// (gray stays gray), the standard tables scaled to Quality, no JFIF header.
WEMB_API int write_thumbnail(const TWembImage *Image, void *Out, int32_t Quality);

}  // extern "C"
