// The orientation table, end to end through the real tessivo: every source
// format that can carry an Exif orientation, in each of the eight
// orientations, converted into every output format. With the Exif rotation
// step on, each output shows the picture as ImageMagick's -auto-orient shows
// the source; with it off, the pixels stay as stored and every output format
// that holds Exif carries the tag.
#include "testutil/TestEnv.h"
#include "app/tests/TessivoFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using testrun::Capture;
using testrun::Shell;

// How a source of one format is made from the 8-bit base picture "{base}"
// into "{out}", and how it carries orientation "{o}".
struct TOrientedSource {
  const char *Name;
  const char *Ext;
  const char *Make;  // command lines, joined with " && "
  // This ImageMagick reads no orientation from the format's Exif (WebP, PNG):
  // the tag exiftool reads from the file is handed to -auto-orient with -orient.
  bool HintOrientation;
  // HEIF turns pictures by its own transform boxes, which the decoder applies;
  // its readers ignore the Exif tag, and so do we: the picture shows as decoded.
  bool TagTurns;
};

const TOrientedSource Sources[] = {
    {"Jpeg", "jpg", "convert {base} -sampling-factor 1x1 -quality 95 {out} && exiftool -q -overwrite_original -n -Orientation={o} {out}", false, true},
    // Read sample by sample.
    {"TiffRgb", "tif", "convert {base} -compress none {out} && tiffset -s 274 {o} {out}", false, true},
    // Read through libtiff's RGBA reader.
    {"TiffPalette", "tif", "convert {base} -colors 200 -type palette -compress lzw {out} && tiffset -s 274 {o} {out}", false, true},
    {"WebP", "webp", "cwebp -quiet -lossless {base} -o {out} && exiftool -q -overwrite_original -n -Orientation={o} {out}", true, true},
    {"Heif", "heic", "heif-enc -q 90 {base} -o {out} && exiftool -q -overwrite_original -n -Orientation={o} {out}", false, false},
    {"Png", "png", "convert {base} {out} && exiftool -q -overwrite_original -n -Orientation={o} {out}", true, true},
};

void PrintTo(const TOrientedSource &S, std::ostream *Out) { *Out << S.Name; }

const char *const OrientationNames[9] = {"",         "TopLeft",  "TopRight",    "BottomRight", "BottomLeft",
                                         "LeftTop",  "RightTop", "RightBottom", "LeftBottom"};

std::string Replace(std::string Text, const std::string &Key, const std::string &Value) {
  for (size_t p; (p = Text.find(Key)) != std::string::npos;) Text.replace(p, Key.size(), Value);
  return Text;
}

// An 8-bit RGB picture as ImageMagick decodes it.
struct TPixels {
  int Width = 0, Height = 0;
  std::string Rgb;
};

TPixels Decode(const std::string &Command) {
  TPixels P;
  const std::string Ppm = Capture(Command + " -depth 8 -colorspace sRGB -type TrueColor ppm:-");
  std::istringstream In(Ppm);
  std::string Magic;
  int Max = 0;
  In >> Magic >> P.Width >> P.Height >> Max;
  In.get();
  if (Magic != "P6" || Max != 255) return {};
  P.Rgb.assign(std::istreambuf_iterator<char>(In), {});
  if (P.Rgb.size() != size_t(P.Width) * P.Height * 3) return {};
  return P;
}

// Root mean square and largest difference of two pictures, in levels of 255.
struct TDifference {
  double Rms = 0;
  int Max = 0;
};

TDifference Compare(const TPixels &A, const TPixels &B) {
  TDifference D;
  double Sum = 0;
  for (size_t i = 0; i < A.Rgb.size(); ++i) {
    const int d = std::abs(int(uint8_t(A.Rgb[i])) - int(uint8_t(B.Rgb[i])));
    Sum += double(d) * d;
    D.Max = std::max(D.Max, d);
  }
  D.Rms = A.Rgb.empty() ? 0 : std::sqrt(Sum / double(A.Rgb.size()));
  return D;
}

// What an output may differ from the reference by. Lossless outputs: one
// level, on a share of the samples (libtiff and ImageMagick widen a palette's
// 16-bit colours to 8 bits, and libheif's colour conversion rounds, each a
// little differently). JPEG output at quality 95, 4:4:4: an RMS of 5 levels
// (a palette source's hard steps cost the most, about 4). A picture turned
// the wrong way is off by an RMS of 30 levels and more.
TDifference Tolerance(const std::string &Format) {
  return Format == "jpg" ? TDifference{5.0, 48} : TDifference{1.0, 1};
}

class OrientationTable : public testrun::TTessivoFolder<::testing::TestWithParam<TOrientedSource>> {};

TEST_P(OrientationTable, EveryOrientationIsUprightInEveryOutputFormat) {
  const TOrientedSource &S = GetParam();
  for (const char *Tool : {"convert", "exiftool", "tiffset", "cwebp", "heif-enc"})
    TESSIVO_REQUIRE(Shell(std::string("command -v ") + Tool)) << Tool << " not installed (scripts/install-deps)";
  // An asymmetric, smooth picture, wider than tall.
  const std::string Base = Dir + "/base.png";
  ASSERT_TRUE(Shell("convert -seed 3 -size 72x44 plasma:fractal -blur 0x1.5 -depth 8 " + Base));
  std::vector<std::string> Names;
  for (int o = 1; o <= 8; ++o) {
    const std::string Name = "o" + std::to_string(o);
    const std::string Src = Dir + "/p/" + Name + "." + S.Ext;
    ASSERT_TRUE(Shell(Replace(Replace(Replace(S.Make, "{base}", Base), "{out}", Src), "{o}", std::to_string(o))))
        << S.Name << " orientation " << o;
    ASSERT_EQ(Capture("exiftool -s3 -n -Orientation " + Src), std::to_string(o) + "\n") << Src;
    Names.push_back(Name);
  }

  const std::vector<std::string> Formats = {"jpg", "png", "tif", "bmp"};
  const std::vector<std::string> Quality = {"--quality", "95", "--set", "JPEG.SampleType=2"};
  for (const std::string &F : Formats) {
    std::vector<std::string> Args = Quality;
    Args.insert(Args.end(), {"--format", F, "--out", Dir + "/on-" + F, Dir + "/p"});
    const testrun::TRun R = Run(Args);
    ASSERT_EQ(R.Status, 0) << R.Err;
  }
  // Without the rotation step, into the formats that hold Exif.
  for (const std::string &F : {"jpg", "png", "tif"}) {
    std::vector<std::string> Args = Quality;
    Args.insert(Args.end(), {"--set", "ExifRotationFilter.Use=0", "--format", F, "--out", Dir + "/off-" + F, Dir + "/p"});
    const testrun::TRun R = Run(Args);
    ASSERT_EQ(R.Status, 0) << R.Err;
  }

  for (int o = 1; o <= 8; ++o) {
    const std::string Src = Dir + "/p/" + Names[size_t(o - 1)] + "." + S.Ext;
    const std::string Hint = S.HintOrientation ? std::string(" -orient ") + OrientationNames[o] : "";
    const TPixels Upright = Decode("convert " + Src + Hint + " -auto-orient");
    const TPixels Stored = Decode("convert " + Src);
    ASSERT_GT(Upright.Width, 0) << Src;
    const bool Turns = S.TagTurns && o >= 5;
    EXPECT_EQ(Upright.Width, Turns ? 44 : 72) << "orientation " << o;
    for (const std::string &F : Formats) {
      SCOPED_TRACE(std::string(S.Name) + " orientation " + std::to_string(o) + " to " + F);
      // As a viewer shows the output: turned by whatever tag it carries.
      const std::string Out = Dir + "/on-" + F + "/" + Names[size_t(o - 1)] + "." + F;
      const TPixels Got = Decode("convert " + Out + "[0] -auto-orient");
      ASSERT_EQ(Got.Width, Upright.Width);
      ASSERT_EQ(Got.Height, Upright.Height);
      const TDifference D = Compare(Got, Upright), Limit = Tolerance(F);
      EXPECT_LE(D.Rms, Limit.Rms);
      EXPECT_LE(D.Max, Limit.Max);
      if (F == "bmp") continue;
      // Turned outputs say so: their tag is 1 (or there is none).
      const std::string Tag = Capture("exiftool -s3 -n -Orientation " + Out);
      EXPECT_TRUE(Tag.empty() || Tag == "1\n") << Tag;

      // Without the rotation step: the stored pixels and the source's tag.
      const std::string Off = Dir + "/off-" + F + "/" + Names[size_t(o - 1)] + "." + F;
      const TPixels Kept = Decode("convert " + Off + "[0]");
      ASSERT_EQ(Kept.Width, Stored.Width);
      ASSERT_EQ(Kept.Height, Stored.Height);
      const TDifference K = Compare(Kept, Stored);
      EXPECT_LE(K.Rms, Limit.Rms);
      EXPECT_LE(K.Max, Limit.Max);
      EXPECT_EQ(Capture("exiftool -s3 -n -Orientation " + Off), std::to_string(S.TagTurns ? o : 1) + "\n");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, OrientationTable, ::testing::ValuesIn(Sources),
                         [](const ::testing::TestParamInfo<TOrientedSource> &I) { return std::string(I.param.Name); });

}  // namespace
