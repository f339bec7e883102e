// Conversions of TICCImgInfo images between sample depths (8, 14, 16), between
// layouts (gray+alpha and BGRA, alpha and no alpha, red-first and blue-first),
// between colour representations (BGR and YCbCr, colour and luma), and the
// application of the lookup tables that tone and colour effects build.
//
// Every function works on the calling thread and changes the record it is given.
// A conversion that changes the sample size or the channel count allocates a new
// block by the stride rule, fills it, releases the old one and stores the new
// Mem and Bpl; the others work in place. Images of other depths or layouts than
// a function handles are left unchanged. Profile, Exif, marker and JPEG-quality
// fields are never touched.
#pragma once

#include "core/ImgInfo.h"

#include <cstdint>
#include <functional>
#include <span>

class TTransForm;

// Dithering used when 14- or 16-bit data goes down to 8 bits for output:
// 0 none, 1 random threshold, 2 error diffusion ("なし", "ランダム", "誤差拡散").
enum : int32_t {
  DITHER_NONE = 0,
  DITHER_RANDOM = 1,
  DITHER_DIFFUSION = 2,
};

// The program-wide Dither setting read by ConvertTo8Bit(Img, UseDither). It is
// written on the main thread while no batch runs (settings load, option dialog)
// and read by the workers; it starts as DITHER_NONE.
void SetDitherOption(int32_t Dither);
int32_t GetDitherOption();

// Depth conversions; all keep Channels and PixelFormat.
void Convert16To14(TICCImgInfo &Img);  // in place: round(v * 16320 / 65535)
void Convert14To16(TICCImgInfo &Img);  // in place: round(v * 65535 / 16320) = v*4 + (v+32)>>6, v clamped to 0..16320 first
void Convert16To8(TICCImgInfo &Img);   // new block: (v*255 + 32895) >> 16
void Convert14To8(TICCImgInfo &Img);   // new block: (clamp(v, 0, 16320) + 32) >> 6
void Convert16To8Random(TICCImgInfo &Img);
void Convert14To8Random(TICCImgInfo &Img);
// Floyd-Steinberg; the source block is consumed as scratch before it is released.
void Convert16To8Diffusion(TICCImgInfo &Img);
void Convert14To8Diffusion(TICCImgInfo &Img);
// Nothing for 8-bit images; otherwise the random variant when UseDither and
// Dither is DITHER_RANDOM, the diffusion variant when UseDither and Dither is any
// other non-zero value, else the plain variant.
void ConvertTo8Bit(TICCImgInfo &Img, bool UseDither, int32_t Dither);
// The same with the program-wide Dither setting.
void ConvertTo8Bit(TICCImgInfo &Img, bool UseDither);

// Layout conversions.
void SwapRedBlue16(TICCImgInfo &Img);      // 14/16-bit, 3 or 4 channels, in place
void SwapRedBlue32(TICCImgInfo &Img);      // 8-bit, 4 channels, in place
void ExpandGrayAlpha(TICCImgInfo &Img);    // 2 channels -> PIXFMT_BGRA; the caller sets IsGrayAlpha
void NarrowToGrayAlpha(TICCImgInfo &Img);  // 4 channels -> PIXFMT_GRAYALPHA (gray = B)
// Alpha (the last sample) of a 2- or 4-channel 8- or 14-bit image into a new
// 1-channel 14-bit record; for other images Alpha is left all zero.
void ExtractAlpha14(const TICCImgInfo &Img, TICCImgInfo &Alpha);
// Writes a record from ExtractAlpha14 back into the last sample of a 14-bit
// image of the same size, then releases Alpha's block (always).
void RestoreAlpha14(TICCImgInfo &Img, TICCImgInfo &Alpha);
// Converts a colour of the working space into Img's profile (the colour
// library makes one from the worker's transform: BackgroundColorInto).
using TBackgroundColorFunc = std::function<uint32_t(const TICCImgInfo &Img, uint32_t Color)>;
// Composites PIXFMT_BGRA / PIXFMT_GRAYALPHA over the background colour (BGColor
// when hasBGColor, else BackgroundColor, both COLORREF order) and drops alpha.
// 16-bit images come out 14-bit. BackgroundColor is in the working space;
// ToImageProfile, when given, carries it into the image's profile.
void FlattenAlpha(TICCImgInfo &Img, uint32_t BackgroundColor = 0xFFFFFF,
                  const TBackgroundColorFunc &ToImageProfile = {});

// Colour representations.
// Rec. 601 luma of an 8- or 14-bit 3/4-channel image as a new 8-bit gray record
// (PixelFormat and ProfileType 0); Luma is left all zero for other images.
void MakeLumaImage(const TICCImgInfo &Img, TICCImgInfo &Luma);
// BGR(A) -> Y, Cb, Cr on the 14-bit scale, chroma centred on 0; BPP becomes 14.
void ConvertToYCC14(TICCImgInfo &Img);
void ConvertFromYCC14(TICCImgInfo &Img);
// Luminance-only work on a 3-channel 8- or 14-bit BGR image without a YCC14
// copy of it, rows [First, Last) at a time so that callers can split the
// rows across threads and keep them in cache. LumaRows writes the Y that
// ConvertToYCC14 gives Img into a 1-channel 14-bit record of Img's size;
// RowsWithLuma writes into Dst (3-channel 14-bit, Img's size; Dst may be Img
// when Img is 14-bit) what ConvertFromYCC14 makes of Img's Cb and Cr with
// the record's samples as Y. Records of other shapes raise ETessivoError.
void LumaRows(const TICCImgInfo &Img, TICCImgInfo &Luma, uint32_t First, uint32_t Last);
void RowsWithLuma(const TICCImgInfo &Img, const TICCImgInfo &Luma, uint32_t First, uint32_t Last, TICCImgInfo &Dst);
// 14-bit BGR -> 8-bit JPEG YCbCr; the caller sets PixelFormat to PIXFMT_YCC.
void ConvertBGR14ToYCC8(TICCImgInfo &Img);
// Sample 0 of 1- or 3-channel 16-bit-sample images: (v + 2) >> 2 and back (x4).
void Channel0To14(TICCImgInfo &Img);
void Channel0From14(TICCImgInfo &Img);

// Lookup-table layouts (signed 16-bit entries holding 14-bit results).
constexpr size_t LUT8_SIZE = 1024;         // B at 0, G at 256, R at 512, gray at 768
constexpr size_t LUT14_ENTRIES = 16321;    // one table, indexed by 0..16320
constexpr size_t LUT14_SIZE = 4 * 16321;   // B, G, R, gray
constexpr size_t YCC_LUT14_SIZE = 2 * 16321;  // Y, then chroma indexed by C + 8160

// Samples are taken as table indices; values outside the table's range are
// clamped to it. A table shorter than its layout raises ETessivoError.
void ApplyLUT8To14(TICCImgInfo &Img, std::span<const int16_t> LUT);      // 1, 3, 4 ch -> 14-bit
void ApplyGrayLUT8To14(TICCImgInfo &Img, std::span<const int16_t> LUT);  // gray, 256 entries
void ApplyLUT14(TICCImgInfo &Img, std::span<const int16_t> LUT);         // 1, 3, 4 ch
void ApplyLUT14Channel0(TICCImgInfo &Img, std::span<const int16_t> LUT); // 16321 entries
void ApplyYCCLUT14(TICCImgInfo &Img, std::span<const int16_t> LUT);      // YCC14 or gray
