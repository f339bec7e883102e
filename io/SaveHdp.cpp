// The HD Photo (JPEG XR) writer: quality, the codec's own options or the
// defaults derived from the quality, alpha, thumbnail and Exif.
#include "io/SavePicture.h"

#include "core/TempFile.h"
#include "io/Pixio.h"
#include "io/SaveInternal.h"

using namespace saving;

void SaveHDPFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  CheckImage(Img, FileName);
  TTopDownPlan plan;
  PrepareTopDown(Img, Job, Opt.HDP.EmbedThumbnail, Opt.HDP.Is16Bit, plan);
  TPixioEncode e = BaseRecord(Img, Job);
  FillTopDownRecord(e, Img, Job);
  e.Quality = Opt.HDP.Quality;
  if (Opt.HDP.UseCodecOptions) {
    e.Overlap = Opt.HDP.Overlap;
    e.Subsampling = Opt.HDP.Subsampling;
    e.HorizontalTileSlices = Opt.HDP.HorizontalTileSlices;
    e.VerticalTileSlices = Opt.HDP.VerticalTileSlices;
    e.InterleavedAlpha = Opt.HDP.InterleavedAlpha;
    e.AlphaQuality = Opt.HDP.AlphaQuality;
  } else {
    e.Overlap = Opt.HDP.Quality == 1 ? 0 : (Opt.HDP.Quality <= 64 || Img.BPP != BPP_8) ? 1 : 2;
    e.Subsampling = 3;
    e.HorizontalTileSlices = 1;
    e.VerticalTileSlices = 1;
    e.InterleavedAlpha = 1;
    e.AlphaQuality = Opt.HDP.Quality;
  }
  auto write = Entry(Codec().write_hdp, "write_hdp");
  TOutputFile out(FileName, CommitRuleOf(Job));
  out.Close();
  TLibraryMessageCapture capture;
  if (!write(&e, plan.HasThumb ? &plan.ThumbImage : nullptr, out.TempPath().c_str(), ExifOf(Img, Opt), ExifLenOf(Img, Opt),
             Opt.Metadata.UpdateSoftwareTag ? 1 : 0))
    SaveFailed("JPEG XR", FileName, capture.Text());
  out.Commit();
}
