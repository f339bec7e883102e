// The TIFF writer with its palette variant and thumbnail page, and the
// uncompressed hand-over TIFF for external tools.
#include "io/SavePicture.h"

#include "core/PixelConvert.h"
#include "core/TempFile.h"
#include "io/Pixio.h"
#include "io/SaveInternal.h"

#include <vector>

using namespace saving;

namespace {

int32_t TIFFCompression(const TFormatOptions &Opt) {
  switch (Opt.TIFF.CompressionMethod) {
    case 1: return 4;
    case 2: return 6;
    case 3: return 7;
    default: return 1;
  }
}

void WriteTIFF(const std::string &FileName, const TPixioEncode &Record, const TPixioImage *Thumb,
               const uint8_t *Exif, uint32_t ExifLen, bool UpdateSoftwareTag, TCommitRule *Rule) {
  auto write = Entry(Codec().write_tiff, "write_tiff");
  TOutputFile out(FileName, Rule);
  out.Close();
  TLibraryMessageCapture capture;
  if (!write(&Record, Thumb, out.TempPath().c_str(), Exif, ExifLen, UpdateSoftwareTag ? 1 : 0))
    SaveFailed("TIFF", FileName, capture.Text());
  out.Commit();
}

}  // namespace

void SaveTIFFFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  CheckImage(Img, FileName);
  TTopDownPlan plan;
  PrepareTopDown(Img, Job, Opt.TIFF.EmbedThumbnail, Opt.TIFF.Is16Bit, plan);
  TPixioEncode e = BaseRecord(Img, Job);
  FillTopDownRecord(e, Img, Job);
  e.Compression = TIFFCompression(Opt);
  WriteTIFF(FileName, e, plan.HasThumb ? &plan.ThumbImage : nullptr, ExifOf(Img, Opt), ExifLenOf(Img, Opt),
            Opt.Metadata.UpdateSoftwareTag != 0, CommitRuleOf(Job));
}

bool SaveIndexedTIFFFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  CheckImage(Img, FileName);
  if (Img.BPP != BPP_8) {
    // Indexes are 8-bit: an image that keeps 16 bits is written by the plain variant.
    if (Keeps16Bit(Img, Opt.TIFF.Is16Bit, Job.LoadedBitsPerSample)) return false;
    ConvertTo8Bit(Img, true);
  }
  TPaletteInfo pal;
  std::vector<uint8_t> index;
  if (!CollectPalette(Img, pal, index)) return false;
  pal.Bits = PaletteBits(pal.Count, false);
  const bool gray = Img.Channels == 1;
  TTopDownPlan plan;
  if (Opt.TIFF.EmbedThumbnail) {
    // The thumbnail comes from the colour pixels, before they become indexes.
    TICCImgOwner flipped;
    CopyICCImgInfo(Img, *flipped, false);
    FlipRows(*flipped);
    MakeThumbnailImage(*flipped, *plan.Thumb, Job.Context->ThumbnailResizer, Job.Context->MT, true);
    const TICCImgInfo &t = *plan.Thumb;
    plan.ThumbImage = {t.Mem, t.Width, t.Height, t.Bpl, t.Channels};
    plan.HasThumb = t.Mem != nullptr;
  }
  const TPixioEncode base = BaseRecord(Img, Job);
  PackIndexes(Img, pal, index);
  FlipRows(Img);
  const uint32_t entries = 1u << pal.Bits;
  std::vector<uint8_t> rgb = PaletteTriplets(pal, entries);
  TPixioEncode e = base;
  e.Mem = Img.Mem, e.Bpl = Img.Bpl, e.Channels = 1, e.BitsPerSample = pal.Bits;
  // An indexed file holds RGB entries, so only an RGB profile fits it.
  if (gray) e.ICCProfile = nullptr, e.ProfileLen = 0;
  FillTopDownRecord(e, Img, Job);
  e.Compression = TIFFCompression(Opt);
  e.Palette = rgb.data();
  e.PaletteCount = int32_t(entries);
  WriteTIFF(FileName, e, plan.HasThumb ? &plan.ThumbImage : nullptr, ExifOf(Img, Opt), ExifLenOf(Img, Opt),
            Opt.Metadata.UpdateSoftwareTag != 0, CommitRuleOf(Job));
  return true;
}

void SaveTIFFForTool(const std::string &FileName, TICCImgInfo &Img, const TMetadataOption &Metadata) {
  CheckImage(Img, FileName);
  if (Img.BPP == BPP_14) {
    Convert14To16(Img);
    Img.BPP = BPP_16;
  }
  if (Img.BPP == BPP_16 && Img.Channels >= 3) SwapRedBlue16(Img);
  TPixioEncode e{};
  e.Mem = Img.Mem, e.Width = Img.Width, e.Height = Img.Height, e.Bpl = Img.Bpl, e.Channels = Img.Channels;
  e.BitsPerSample = Img.BPP == BPP_8 ? 8 : 16;
  e.Compression = 1;
  e.XResolution = e.YResolution = Metadata.Resolution;
  WriteTIFF(FileName, e, nullptr, nullptr, 0, Metadata.UpdateSoftwareTag != 0, nullptr);
}
