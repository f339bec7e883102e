// The console tool WEMBC as the batch run starts it: the block published in
// shared memory, its name in the environment, "-m input output". Results are
// checked with jpegtran, djpeg and exiftool.
#include "effects/Effect.h"
#include "io/JpegSegment.h"
#include "lossless/WembOption.h"
#include "lossless/WembShared.h"
#include "lossless/tests/LosslessTestUtil.h"
#include "testutil/TestEnv.h"
#include "wemb/tests/WembTestUtil.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

namespace fs = std::filesystem;
using namespace wembtest;

using losslesstest::DefaultSteps;

// The trimming step's part of the steps: type 1 (margins) with the given values.
std::vector<uint8_t> StepsWithMargins(const std::string &Margin) {
  std::vector<uint8_t> s;
  StreamWriteInt32(s, 1);
  for (int i = 0; i < 8; ++i) StreamWriteString(s, Margin);
  const std::vector<uint8_t> rest = DefaultSteps();
  // The default trimming step is its type and eight strings; skip them.
  size_t at = 4;
  for (int i = 0; i < 8; ++i) at += 4 + 2 * size_t(rest[at] | rest[at + 1] << 8);
  s.insert(s.end(), rest.begin() + std::ptrdiff_t(at), rest.end());
  return s;
}

class Wembc : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("wembc-" + std::to_string(getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }

  bool HaveTools() const {
    return !testenv::BinFile("WEMBC").empty() && HaveProgram("cjpeg") && HaveProgram("jpegtran") &&
           HaveProgram("djpeg") && HaveProgram("exiftool");
  }

  // Runs the tool with the block under its own name; returns standard error.
  std::string RunTool(const TWembOption &O, const fs::path &In, const fs::path &Out,
                      const std::vector<TSegmentInfo> &Segments = {}, const std::vector<uint8_t> &Steps = {}) {
    const std::vector<uint8_t> block = WriteWembParam(O, Segments, Steps.empty() ? DefaultSteps() : Steps);
    TWembSharedBlock shared(block);
    setenv(WEMB_PARAM_ENV, shared.Name().c_str(), 1);
    int st = -1;
    const std::string err = RunProgram({testenv::BinFile("WEMBC"), "-m", In.string(), Out.string()}, &st, true);
    unsetenv(WEMB_PARAM_ENV);
    EXPECT_EQ(st, 0);
    return err;
  }

  std::string Exif(const fs::path &File, const std::string &Tag) {
    std::string v = RunProgram({"exiftool", "-s3", "-n", "-" + Tag, File.string()});
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
    return v;
  }

  // A phone-like 4:2:0 photo with Make, a capture date and, when given, an orientation.
  fs::path Photo(const std::string &Name, int Orientation, int W = 643, int H = 479) {
    const fs::path p = MakeJpeg(Dir, Name, W, H, {"-sample", "2x2"});
    std::vector<std::string> args{"exiftool", "-q", "-overwrite_original", "-Make=TestCam",
                                  "-DateTimeOriginal=2024:05:06 07:08:09"};
    if (Orientation) args.push_back("-Orientation#=" + std::to_string(Orientation));
    args.push_back(p.string());
    RunProgram(args);
    return p;
  }

  fs::path Jpegtran(const fs::path &In, const std::vector<std::string> &Options) {
    const fs::path out = Dir / (In.stem().string() + "-ref.jpg");
    std::vector<std::string> args{"jpegtran", "-copy", "all"};
    args.insert(args.end(), Options.begin(), Options.end());
    args.insert(args.end(), {"-outfile", out.string(), In.string()});
    RunProgram(args);
    return out;
  }

  static bool SamePixels(const fs::path &A, const fs::path &B) {
    const testutil::TNetpbm a = Decode(A.string()), b = Decode(B.string());
    return a.Width > 0 && a.Width == b.Width && a.Height == b.Height && a.Depth == b.Depth && a.Samples == b.Samples;
  }

  fs::path Dir;
};

struct TRotationCase {
  const char *Name;
  int Orientation;         // of the input, 0 none
  int32_t Rotation, ExifOrientation;
  std::vector<std::string> Jpegtran;  // the same turn by jpegtran
  const char *OrientationAfter;       // exiftool's reading of the output
};

const TRotationCase RotationCases[] = {
    {"AutomaticWithOrientation6TurnsClockwiseAndWrites1", 6, 1, 0, {"-rotate", "90", "-trim"}, "1"},
    {"AutomaticWithOrientation3TurnsHalfWay", 3, 1, 0, {"-rotate", "180", "-trim"}, "1"},
    {"AutomaticWithoutOrientationDoesNothing", 0, 1, 0, {}, ""},
    {"Rotation90KeepsTheOrientationTag", 8, 2, 0, {"-rotate", "90", "-trim"}, "8"},
    {"MirrorLeftRight", 0, 5, 0, {"-flip", "horizontal", "-trim"}, ""},
    {"MirrorTopBottom", 0, 6, 0, {"-flip", "vertical", "-trim"}, ""},
    {"OrientationOverrideOnly", 6, 0, 3, {}, "3"},
    {"AutomaticThenOverride", 6, 1, 2, {"-rotate", "90", "-trim"}, "2"},
};

class WembcRotation : public Wembc, public ::testing::WithParamInterface<TRotationCase> {};

TEST_P(WembcRotation, TurnsAsJpegtranAndWritesTheOrientation) {
  TESSIVO_REQUIRE(HaveTools());
  const TRotationCase &c = GetParam();
  const fs::path in = Photo("IMG_0001", c.Orientation), out = Dir / "out" / "IMG_0001.jpg";
  fs::create_directories(out.parent_path());
  const std::string before = ReadFile(in);
  TWembOption o;
  o.Rotation = c.Rotation;
  o.ExifOrientation = c.ExifOrientation;
  const std::string err = RunTool(o, in, out);
  ASSERT_TRUE(fs::exists(out)) << err;
  EXPECT_TRUE(SamePixels(out, Jpegtran(in, c.Jpegtran)));
  EXPECT_EQ(Exif(out, "Orientation"), c.OrientationAfter);
  EXPECT_EQ(Exif(out, "DateTimeOriginal"), "2024:05:06 07:08:09");
  EXPECT_EQ(Exif(out, "Make"), "TestCam");
  EXPECT_EQ(ReadFile(in), before) << "the source changed";
}

INSTANTIATE_TEST_SUITE_P(Cases, WembcRotation, ::testing::ValuesIn(RotationCases),
                         [](const ::testing::TestParamInfo<TRotationCase> &P) { return std::string(P.param.Name); });

// A little-endian Exif block as cameras write it: orientation 6, a capture
// date and a maker note of the camera's own format.
std::string CameraExif(const std::string &MakerNote) {
  auto u16 = [](uint32_t V) { return std::string{char(V & 0xFF), char(V >> 8)}; };
  auto u32 = [&](uint32_t V) { return u16(V & 0xFFFF) + u16(V >> 16); };
  auto entry = [&](uint32_t Tag, uint32_t Type, uint32_t Count, uint32_t Value) {
    return u16(Tag) + u16(Type) + u32(Count) + u32(Value);
  };
  const uint32_t exifIfd = 8 + 2 + 2 * 12 + 4, data = exifIfd + 2 + 2 * 12 + 4;
  const std::string date("2022:02:03 04:05:06\0", 20);
  std::string tiff = std::string("II*\0", 4) + u32(8);
  tiff += u16(2) + entry(0x0112, 3, 1, 6) + entry(0x8769, 4, 1, exifIfd) + u32(0);
  tiff += u16(2) + entry(0x9003, 2, 20, data) + entry(0x927C, 7, uint32_t(MakerNote.size()), data + 20) + u32(0);
  tiff += date + MakerNote;
  return std::string("Exif\0\0", 6) + tiff;
}

struct TMakerNoteCase {
  const char *Name;
  LongBool DeleteMakerNote;
  bool Kept;
};

const TMakerNoteCase MakerNoteCases[] = {
    {"AutomaticTurnKeepsTheMakerNote", LongFalse, true},
    {"DeleteMakerNoteDropsIt", LongTrue, false},
};

class WembcMakerNote : public Wembc, public ::testing::WithParamInterface<TMakerNoteCase> {};

TEST_P(WembcMakerNote, FollowsTheSwitchAndKeepsTheDate) {
  TESSIVO_REQUIRE(HaveTools());
  std::string note = "TestMakerNote";
  note.push_back('\0');
  for (int i = 0; i < 40; ++i) note.push_back(char(i * 5));
  const std::string app1 = CameraExif(note);
  const std::string plain = ReadFile(MakeJpeg(Dir, "camera", 96, 64, {"-sample", "2x2"}));
  const fs::path in = Dir / "camera.jpg", out = Dir / "camera-out.jpg";
  WriteFile(in, plain.substr(0, 2) + "\xFF\xE1" + char((app1.size() + 2) >> 8) + char((app1.size() + 2) & 0xFF) + app1 +
                    plain.substr(2));
  ASSERT_EQ(Exif(in, "Orientation"), "6");
  TWembOption o;
  o.Rotation = 1;
  o.DeleteMakerNote = GetParam().DeleteMakerNote;
  const std::string err = RunTool(o, in, out);
  ASSERT_TRUE(fs::exists(out)) << err;
  EXPECT_EQ(Exif(out, "Orientation"), "1");
  EXPECT_EQ(Exif(out, "DateTimeOriginal"), "2022:02:03 04:05:06");
  const std::string kept = RunProgram({"exiftool", "-U", "-b", "-MakerNoteUnknown", out.string()});
  EXPECT_EQ(kept, GetParam().Kept ? note : std::string());
  EXPECT_TRUE(SamePixels(out, Jpegtran(in, {"-rotate", "90", "-trim"})));
}

INSTANTIATE_TEST_SUITE_P(Cases, WembcMakerNote, ::testing::ValuesIn(MakerNoteCases),
                         [](const ::testing::TestParamInfo<TMakerNoteCase> &P) { return std::string(P.param.Name); });

struct TExifRewriteCase {
  const char *Name;
  LongBool DeleteGPS, DeleteThumbnail;
  bool GPSKept, ThumbnailKept;
};

const TExifRewriteCase ExifRewriteCases[] = {
    {"NothingAskedKeepsGPSAndThumbnail", LongFalse, LongFalse, true, true},
    {"DeleteGPSInfo", LongTrue, LongFalse, false, true},
    {"DeleteThumbnail", LongFalse, LongTrue, true, false},
    {"DeleteBoth", LongTrue, LongTrue, false, false},
};

class WembcExifRewrite : public Wembc, public ::testing::WithParamInterface<TExifRewriteCase> {};

TEST_P(WembcExifRewrite, DropsWhatIsAskedAndKeepsTheRest) {
  TESSIVO_REQUIRE(HaveTools());
  const fs::path in = Photo("gps", 6), out = Dir / "gps-out.jpg";
  const fs::path thumb = MakeJpeg(Dir, "thumb", 40, 30, {"-sample", "2x2"});
  RunProgram({"exiftool", "-q", "-overwrite_original", "-GPSLatitude=35.5", "-GPSLatitudeRef=N",
              "-GPSLongitude=139.7", "-GPSLongitudeRef=E", "-ThumbnailImage<=" + thumb.string(), in.string()});
  ASSERT_EQ(Exif(in, "GPSLatitude"), "35.5");
  ASSERT_FALSE(Exif(in, "ThumbnailLength").empty());
  TWembOption o;
  o.Rotation = 1;
  o.DeleteGPSInfoIFD = GetParam().DeleteGPS;
  o.DeleteExifThumbnail = GetParam().DeleteThumbnail;
  const std::string err = RunTool(o, in, out);
  ASSERT_TRUE(fs::exists(out)) << err;
  EXPECT_EQ(Exif(out, "Orientation"), "1");
  EXPECT_EQ(Exif(out, "DateTimeOriginal"), "2024:05:06 07:08:09");
  EXPECT_EQ(Exif(out, "Make"), "TestCam");
  EXPECT_EQ(Exif(out, "GPSLatitude"), GetParam().GPSKept ? "35.5" : "");
  EXPECT_EQ(Exif(out, "ThumbnailLength").empty(), !GetParam().ThumbnailKept);
  if (GetParam().ThumbnailKept) {
    EXPECT_EQ(RunProgram({"exiftool", "-b", "-ThumbnailImage", out.string()}), ReadFile(thumb));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, WembcExifRewrite, ::testing::ValuesIn(ExifRewriteCases),
                         [](const ::testing::TestParamInfo<TExifRewriteCase> &P) { return std::string(P.param.Name); });

TEST_F(Wembc, AWholeImageTrimRunsNoCropAndCopiesTheFile) {
  TESSIVO_REQUIRE(HaveTools());
  const fs::path in = Photo("whole", 0), out = Dir / "whole-out.jpg";
  TWembOption o;
  o.Trimming = LongTrue;
  RunTool(o, in, out, {}, StepsWithMargins("0"));
  ASSERT_TRUE(fs::exists(out));
  EXPECT_EQ(ReadFile(out), ReadFile(in));
}

TEST_F(Wembc, MarginTrimCropsLikeJpegtran) {
  TESSIVO_REQUIRE(HaveTools());
  const fs::path in = Photo("margin", 0), out = Dir / "margin-out.jpg";
  TWembOption o;
  o.Trimming = LongTrue;
  RunTool(o, in, out, {}, StepsWithMargins("w/10"));
  // Margins of 64 pixels (643 / 10 rounded) on every side.
  EXPECT_TRUE(SamePixels(out, Jpegtran(in, {"-crop", "515x351+64+64"})));
}

TEST_F(Wembc, AutomaticGrayscaleKeepsColourForOneColouredPixel) {
  TESSIVO_REQUIRE(HaveTools());
  for (bool coloured : {false, true}) {
    std::string ppm = "P6\n64 48\n255\n";
    for (int i = 0; i < 64 * 48; ++i) ppm.append(3, char(i % 251));
    if (coloured) ppm[ppm.size() - 3 * 100] = char(255), ppm[ppm.size() - 3 * 100 + 1] = 0;
    WriteFile(Dir / "g.ppm", ppm);
    const fs::path in = Dir / "g.jpg", out = Dir / (coloured ? "colour-out.jpg" : "gray-out.jpg");
    RunProgram({"cjpeg", "-quality", "95", "-sample", "1x1", "-outfile", in.string(), (Dir / "g.ppm").string()});
    TWembOption o;
    o.Grayscale = 2;
    RunTool(o, in, out);
    ASSERT_TRUE(fs::exists(out));
    EXPECT_EQ(Exif(out, "ColorComponents"), coloured ? "3" : "1");
    if (!coloured) {
      EXPECT_TRUE(SamePixels(out, Jpegtran(in, {"-grayscale"})));
    }
  }
}

TEST_F(Wembc, SmallerOfTwoWaysKeepsTheBaselineWhenProgressiveGrows) {
  TESSIVO_REQUIRE(HaveTools());
  // On a tiny picture the scans of a progressive file cost more than they save.
  const fs::path in = Photo("tiny", 0, 24, 16), out = Dir / "tiny-out.jpg";
  TWembOption o;
  o.OptimizeMode = 3;
  RunTool(o, in, out);
  const fs::path progressive = Jpegtran(in, {"-progressive"});
  ASSERT_TRUE(fs::exists(out));
  EXPECT_GT(fs::file_size(progressive), fs::file_size(out));
  EXPECT_LE(fs::file_size(out), fs::file_size(in));
  EXPECT_EQ(Exif(out, "EncodingProcess"), "0");  // baseline DCT
  EXPECT_TRUE(SamePixels(out, in));
}

TEST_F(Wembc, ProgressiveModeWritesAProgressiveFileNoLargerThanJpegtrans) {
  TESSIVO_REQUIRE(HaveTools());
  const fs::path in = Photo("prog", 0), out = Dir / "prog-out.jpg";
  TWembOption o;
  o.OptimizeMode = 2;
  RunTool(o, in, out);
  ASSERT_TRUE(fs::exists(out));
  EXPECT_EQ(Exif(out, "EncodingProcess"), "2");  // progressive DCT, Huffman coding
  EXPECT_LE(double(fs::file_size(out)), double(fs::file_size(Jpegtran(in, {"-progressive"}))) * 1.005);
  EXPECT_TRUE(SamePixels(out, in));
}

size_t CountMarkers(const fs::path &File, uint16_t Marker) {
  const std::string b = ReadFile(File);
  const TJpegWalk walk = WalkJpegSegments({reinterpret_cast<const uint8_t *>(b.data()), b.size()});
  return size_t(std::count_if(walk.Segments.begin(), walk.Segments.end(),
                              [&](const TJpegSegment &S) { return S.Marker == Marker; }));
}

TEST_F(Wembc, ACommentEntryWithAHeaderMatchesEveryComment) {
  TESSIVO_REQUIRE(HaveTools() && HaveProgram("wrjpgcom"));
  const fs::path in = Photo("com", 0), one = Dir / "com1.jpg", two = Dir / "com2.jpg";
  RunProgram({"sh", "-c", "wrjpgcom -comment first '" + in.string() + "' > '" + one.string() + "'"});
  RunProgram({"sh", "-c", "wrjpgcom -comment second '" + one.string() + "' > '" + two.string() + "'"});
  ASSERT_EQ(CountMarkers(two, JPEG_COM), 2u);
  TWembOption o;
  const fs::path out = Dir / "com-out.jpg", kept = Dir / "com-kept.jpg";
  RunTool(o, two, out, {{JPEG_COM, "no comment starts like this", LongTrue}});
  ASSERT_TRUE(fs::exists(out));
  EXPECT_EQ(CountMarkers(out, JPEG_COM), 0u);
  EXPECT_EQ(CountMarkers(out, JPEG_APP1), 1u);
  // An empty list copies every segment.
  RunTool(o, two, kept, {});
  EXPECT_EQ(ReadFile(kept), ReadFile(two));
}

TEST_F(Wembc, ExifExportWithACapitalNameCreatesTheFolder) {
  TESSIVO_REQUIRE(HaveTools());
  const fs::path in = Photo("IMG_1", 6), out = Dir / "IMG_1-out.jpg";
  TWembOption o;
  o.ExifExport = LongTrue;
  o.ExifExportName = "export\\<NAME>.dat";
  RunTool(o, in, out);
  const fs::path dat = Dir / "export" / "IMG_1.dat";
  ASSERT_TRUE(fs::exists(dat));
  EXPECT_EQ(Exif(dat, "Make"), "TestCam");
  EXPECT_EQ(Exif(dat, "Orientation"), "6");
}

struct TBadCase {
  const char *Name;
  std::function<std::string(const std::string &Good)> Make;
};

const TBadCase BadCases[] = {
    {"Truncated", [](const std::string &G) { return G.substr(0, G.size() * 2 / 3); }},
    {"PngRenamedJpg",
     [](const std::string &) { return std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + std::string(64, 'x'); }},
    {"HostileExif",
     [](const std::string &G) {
       // An APP1 Exif whose first IFD lies far past the end of the block.
       const std::string tiff = std::string("II*\0", 4) + std::string("\xF0\xFF\xFF\x7F", 4) + std::string(8, '\0');
       const std::string payload = std::string("Exif\0\0", 6) + tiff;
       const size_t len = payload.size() + 2;
       return G.substr(0, 2) + "\xFF\xE1" + char(len >> 8) + char(len & 0xFF) + payload + G.substr(2);
     }},
    {"ArithmeticCoded", [](const std::string &) { return std::string(); }},
};

class WembcBadInput : public Wembc, public ::testing::WithParamInterface<TBadCase> {};

TEST_P(WembcBadInput, GivesAMessageAndNoOutputAndLeavesTheSource) {
  TESSIVO_REQUIRE(HaveTools());
  const fs::path good = MakeJpeg(Dir, "good", 96, 64, {"-sample", "2x2"});
  std::string bytes = GetParam().Make(ReadFile(good));
  if (bytes.empty()) bytes = ReadFile(MakeJpeg(Dir, "arith", 96, 64, {"-arithmetic"}));
  const fs::path in = Dir / "bad.jpg", out = Dir / "bad-out.jpg";
  WriteFile(in, bytes);
  TWembOption o;
  o.Rotation = 2;
  const std::string err = RunTool(o, in, out);
  EXPECT_FALSE(fs::exists(out));
  EXPECT_NE(err.find("WEMBC: " + in.string() + ": "), std::string::npos) << err;
  EXPECT_EQ(ReadFile(in), bytes);
  for (const fs::directory_entry &e : fs::directory_iterator(Dir))
    EXPECT_EQ(e.path().filename().string().find("bad-out"), std::string::npos) << "left behind: " << e.path();
}

INSTANTIATE_TEST_SUITE_P(Files, WembcBadInput, ::testing::ValuesIn(BadCases),
                         [](const ::testing::TestParamInfo<TBadCase> &P) { return std::string(P.param.Name); });

TEST_F(Wembc, TwoRunsAtOnceEachReadTheirOwnBlock) {
  TESSIVO_REQUIRE(HaveTools());
  const fs::path in = Photo("two", 0);
  TWembOption right, left;
  right.Rotation = 2;
  left.Rotation = 4;
  TWembSharedBlock a(WriteWembParam(right, {}, DefaultSteps())), b(WriteWembParam(left, {}, DefaultSteps()));
  for (auto [block, name] : {std::pair{&a, "a.jpg"}, std::pair{&b, "b.jpg"}}) {
    setenv(WEMB_PARAM_ENV, block->Name().c_str(), 1);
    RunProgram({testenv::BinFile("WEMBC"), "-m", in.string(), (Dir / name).string()});
  }
  unsetenv(WEMB_PARAM_ENV);
  EXPECT_TRUE(SamePixels(Dir / "a.jpg", Jpegtran(in, {"-rotate", "90", "-trim"})));
  EXPECT_TRUE(SamePixels(Dir / "b.jpg", Jpegtran(in, {"-rotate", "270", "-trim"})));
}

TEST_F(Wembc, WithoutABlockTheToolDoesNothing) {
  TESSIVO_REQUIRE(HaveTools());
  const fs::path in = Photo("none", 0), out = Dir / "none-out.jpg";
  setenv(WEMB_PARAM_ENV, ("/QuzenParam-absent-" + std::to_string(getpid())).c_str(), 1);
  int st = -1;
  RunProgram({testenv::BinFile("WEMBC"), "-m", in.string(), out.string()}, &st);
  unsetenv(WEMB_PARAM_ENV);
  EXPECT_EQ(st, 0);
  EXPECT_FALSE(fs::exists(out));
  // Fewer than three arguments, or a first one other than "-m": nothing either.
  RunProgram({testenv::BinFile("WEMBC"), "-x", in.string(), out.string()}, &st);
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
