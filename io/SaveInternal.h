// What the format writers share, inside the savers only: the codec library's
// entry points, the checks and conversions every writer makes, the palette
// search, and the preparation TIFF and HD Photo have in common. Defined in
// SavePicture.cpp, except the two preparations the dispatch runs before it
// picks a writer, which live with their formats.
#pragma once

#include "core/Errors.h"
#include "io/Pixio.h"
#include "io/SavePicture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace saving {

// The codec library, with its error log connected; fails when it is not loaded.
TPixio &Codec();

// An entry point of the codec library; fails naming it when it is missing.
template <class F>
F Entry(F Fn, const char *Name) {
  if (!Fn) throw ETessivoError(std::string("コーデックライブラリに ") + Name + " がありません");
  return Fn;
}

TCommitRule *CommitRuleOf(const TSaveJob &Job);
[[noreturn]] void SaveFailed(const char *Format, const std::string &FileName, const std::string &Detail = {});
bool Keeps16Bit(const TICCImgInfo &Img, int32_t Is16Bit, uint32_t LoadedBitsPerSample);
void ApplyDepth(TICCImgInfo &Img, bool Keep16);
void FlipRows(TICCImgInfo &Img);
// The encode record's image, depth and profile fields.
TPixioEncode BaseRecord(const TICCImgInfo &Img, const TSaveJob &Job);
// Fails for an image with no pixels or a row width too small for its layout.
void CheckImage(const TICCImgInfo &Img, const std::string &FileName);

// The steps of BuildPalette, for writers that need the colours before the
// pixels become indexes.
bool CollectPalette(const TICCImgInfo &Img, TPaletteInfo &Palette, std::vector<uint8_t> &Index);
void PackIndexes(TICCImgInfo &Img, const TPaletteInfo &Palette, const std::vector<uint8_t> &Index);
uint32_t PaletteBits(uint32_t Count, bool Keep8Bit);
std::vector<uint8_t> PaletteTriplets(const TPaletteInfo &Palette, uint32_t Entries);

// Flip, thumbnail, Exif update fields, depth and resolution: what TIFF and HD Photo share.
struct TTopDownPlan {
  TICCImgOwner Thumb;
  bool HasThumb = false;
  TPixioImage ThumbImage{};
};
void ResolutionDoubles(const TSaveJob &Job, double &X, double &Y);
void PrepareTopDown(TICCImgInfo &Img, const TSaveJob &Job, int32_t EmbedThumbnail, int32_t Is16Bit,
                    TTopDownPlan &Plan);
void FillTopDownRecord(TPixioEncode &e, const TICCImgInfo &Img, const TSaveJob &Job);
// The source's Exif when the options keep it, else none.
const uint8_t *ExifOf(const TICCImgInfo &Img, const TFormatOptions &Opt);
uint32_t ExifLenOf(const TICCImgInfo &Img, const TFormatOptions &Opt);
// The APP1 payload a JPEG or PNG output carries (GetExifInfo over the image's
// carrier with the run's options); empty when there is none to write.
std::vector<uint8_t> ExifPayloadOf(const TICCImgInfo &Img, const TSaveJob &Job);

// Run by the dispatch before it picks the plain or the indexed writer
// (SaveBmp.cpp and SavePng.cpp).
void PrepareBitmap(TICCImgInfo &Img, const TSaveJob &Job);
void PreparePNG(TICCImgInfo &Img);

}  // namespace saving
