// Metadata of real-world sources through the real tessivo: damaged Exif
// blocks, the description tags of TIFF files, and JPEG copies of damaged
// sources.
#include "testutil/TestEnv.h"
#include "app/tests/TessivoFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using testrun::Capture;
using testrun::ReadFile;
using testrun::Shell;

class SourceMetadata : public testrun::TTessivoFolder<> {
protected:
  void Write(const std::string &Path, const std::string &Bytes) {
    std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
  }
};

size_t Count(const std::string &Text, const std::string &Part) {
  size_t n = 0;
  for (size_t p = Text.find(Part); p != std::string::npos; p = Text.find(Part, p + 1)) ++n;
  return n;
}

std::string BE16(uint32_t V) { return {char(V >> 8), char(V)}; }
std::string BE32(uint32_t V) { return BE16(V >> 16) + BE16(V & 0xFFFF); }
std::string Entry(uint16_t Tag, uint16_t Type, uint32_t Count, const std::string &Value) {
  return BE16(Tag) + BE16(Type) + BE32(Count) + Value;
}

// A JPEG with an APP1 segment holding Payload right after SOI.
std::string WithApp1(const std::string &Jpeg, const std::string &Payload) {
  return Jpeg.substr(0, 2) + "\xFF\xE1" + BE16(uint32_t(Payload.size() + 2)) + Payload + Jpeg.substr(2);
}

// A source whose Exif block is damaged converts to JPEG (and to every other
// format): a block that is no TIFF structure is left out, one cut short
// keeps what can be read, and the file's report has one warning naming it.
TEST_F(SourceMetadata, DamagedSourceExifIsRepairedOrLeftOutWithOneWarning) {
  TESSIVO_REQUIRE(Shell("command -v convert")) << "ImageMagick's convert not installed (imagemagick)";
  TESSIVO_REQUIRE(Shell("command -v exiftool")) << "exiftool not installed (libimage-exiftool-perl)";
  ASSERT_TRUE(Shell("convert -size 48x32 gradient:red-blue -quality 90 " + Dir + "/plain.jpg"));
  const std::string Plain = ReadFile(Dir + "/plain.jpg");
  const std::string Exif("Exif\0\0", 6);
  // IFD0 declares three entries; the block ends inside the second (Make).
  const std::string Cut = Exif + "MM" + BE16(42) + BE32(8) + BE16(3) +
                          Entry(0x0112, 3, 1, BE16(6) + BE16(0)) + Entry(0x010F, 2, 20, BE32(200)).substr(0, 6);
  struct TCase {
    const char *Name;
    std::string Payload;
    const char *Orientation;  // what exiftool reads from the JPEG output ("" no Exif)
    const char *Size;         // the output's size: turned when the orientation was read
  };
  const TCase Cases[] = {
      {"notiff.jpg", Exif + "a block that holds no TIFF structure", "", "24x16"},
      {"cut.jpg", Cut, "1\n", "16x24"},
  };
  for (const TCase &C : Cases) Write(Dir + "/p/" + C.Name, WithApp1(Plain, C.Payload));
  for (const std::string Format : {"jpg", "png", "tif"}) {
    SCOPED_TRACE(Format);
    const testrun::TRun R = Run({"--size", "50%", "--format", Format, "--out", Dir + "/" + Format, Dir + "/p"});
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(Count(R.Err, "Exif情報が破損している可能性があります"), 2u) << R.Err;
    for (const TCase &C : Cases) {
      SCOPED_TRACE(C.Name);
      const std::string Out = Dir + "/" + Format + "/" + fs::path(C.Name).stem().string() + "." + Format;
      ASSERT_TRUE(fs::exists(Out)) << R.Err;
      EXPECT_EQ(Count(R.Err, C.Name), 1u) << R.Err;
      EXPECT_EQ(Capture("identify -format %wx%h " + Out + "[0]"), C.Size);
      if (Format != "jpg") continue;
      EXPECT_EQ(Capture("exiftool -s3 -n -IFD0:Orientation " + Out), C.Orientation);
      EXPECT_EQ(Capture("exiftool -s3 -Warning -Error " + Out), "");
    }
  }
}

// An Exif block split over two APP1 segments (the second goes on without a
// TIFF header of its own) is read whole, without a warning, and its JPEG
// output carries it in one segment.
TEST_F(SourceMetadata, ExifSplitOverTwoSegmentsIsReadWhole) {
  TESSIVO_REQUIRE(Shell("command -v convert")) << "ImageMagick's convert not installed (imagemagick)";
  TESSIVO_REQUIRE(Shell("command -v exiftool")) << "exiftool not installed (libimage-exiftool-perl)";
  ASSERT_TRUE(Shell("convert -size 48x32 gradient:red-blue -quality 90 " + Dir + "/plain.jpg"));
  const std::string Plain = ReadFile(Dir + "/plain.jpg");
  // IFD0 (orientation 6, the Exif IFD pointer) in the first part; the Exif
  // IFD with the capture date, 38 bytes in, in the second.
  const std::string Tiff = "MM" + BE16(42) + BE32(8) + BE16(2) + Entry(0x0112, 3, 1, BE16(6) + BE16(0)) +
                           Entry(0x8769, 4, 1, BE32(38)) + BE32(0) + BE16(1) + Entry(0x9003, 2, 20, BE32(56)) +
                           BE32(0) + std::string("2019:08:07 06:05:04\0", 20);
  const std::string Exif("Exif\0\0", 6);
  const std::string Split = WithApp1(WithApp1(Plain, Exif + Tiff.substr(38)), Exif + Tiff.substr(0, 38));
  Write(Dir + "/p/split.jpg", Split);
  const testrun::TRun R = Run({"--size", "50%", "--out", Dir + "/out", Dir + "/p"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Err.find("split.jpg"), std::string::npos) << R.Err;  // nothing to say about it
  const std::string Out = Dir + "/out/split.jpg";
  EXPECT_EQ(Capture("identify -format %wx%h " + Out), "16x24");  // turned by the orientation
  EXPECT_EQ(Capture("exiftool -s3 -n -IFD0:Orientation -DateTimeOriginal " + Out), "1\n2019:08:07 06:05:04\n");
  EXPECT_EQ(Capture("exiftool -s3 -Warning -Error " + Out), "");
}

// The description tags of a TIFF source (IFD0, with or without an Exif IFD)
// reach the Exif of its JPEG output, as exiftool reads them.
TEST_F(SourceMetadata, TiffDescriptionTagsReachTheJpegExif) {
  TESSIVO_REQUIRE(Shell("command -v convert")) << "ImageMagick's convert not installed (imagemagick)";
  TESSIVO_REQUIRE(Shell("command -v exiftool")) << "exiftool not installed (libimage-exiftool-perl)";
  struct TCase {
    const char *Name;
    const char *Tags;      // exiftool assignments
    const char *Expected;  // exiftool -s3 -Make -Model -DateTimeOriginal of the output
  };
  const TCase Cases[] = {
      {"ifd0.tif", "-Make=Maker -Model=M1", "Maker\nM1\n"},
      {"exififd.tif", "-Make=Maker -Model=M2 -DateTimeOriginal='2021:02:03 04:05:06'", "Maker\nM2\n2021:02:03 04:05:06\n"},
  };
  for (const TCase &C : Cases) {
    const std::string Src = Dir + "/p/" + C.Name;
    ASSERT_TRUE(Shell("convert -size 40x30 gradient:green-white -depth 8 -compress none " + Src));
    ASSERT_TRUE(Shell(std::string("exiftool -q -overwrite_original ") + C.Tags + " " + Src));
  }
  const testrun::TRun R = Run({"--format", "jpg", "--out", Dir + "/jpg", Dir + "/p"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  for (const TCase &C : Cases) {
    const std::string Out = Dir + "/jpg/" + fs::path(C.Name).stem().string() + ".jpg";
    EXPECT_EQ(Capture("exiftool -s3 -Make -Model -DateTimeOriginal " + Out), C.Expected) << C.Name;
  }
}

// A JPEG that nothing changes is copied byte for byte, also when it is cut
// short; the copy of a damaged source converts with a warning that says so.
TEST_F(SourceMetadata, PassThroughCopyIsIdenticalAndADamagedSourceIsReported) {
  TESSIVO_REQUIRE(Shell("command -v convert")) << "ImageMagick's convert not installed (imagemagick)";
  ASSERT_TRUE(Shell("convert -seed 5 -size 160x120 plasma:fractal -quality 90 " + Dir + "/p/whole.jpg"));
  const std::string Whole = ReadFile(Dir + "/p/whole.jpg");
  Write(Dir + "/p/cut.jpg", Whole.substr(0, Whole.size() * 2 / 3));
  struct TCase {
    const char *Name;
    bool Warned;
  };
  const TCase Cases[] = {{"whole.jpg", false}, {"cut.jpg", true}};
  const testrun::TRun R = Run({"--out", Dir + "/out", Dir + "/p"});
  EXPECT_EQ(R.Status, 0) << R.Err;
  for (const TCase &C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(ReadFile(Dir + "/out/" + C.Name), ReadFile(Dir + "/p/" + C.Name));
    EXPECT_EQ(R.Err.find(std::string(C.Name) + ": the source itself is damaged") != std::string::npos, C.Warned)
        << R.Err;
  }
  EXPECT_NE(R.Err.find("2 of 2 files converted"), std::string::npos) << R.Err;
  EXPECT_NE(R.Err.find("1 with warnings"), std::string::npos) << R.Err;
}

}  // namespace
