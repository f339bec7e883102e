// The console tool WEMBC as the batch run starts it: the block published in
// shared memory, its name in the environment, "-m input output". Results are
// checked with jpegtran, djpeg and exiftool.
#include "effects/AddTextEffect.h"
#include "effects/ColorAdjust.h"
#include "effects/Effect.h"
#include "effects/FontCache.h"
#include "effects/ToneCurve.h"
#include "io/JpegSegment.h"
#include "lossless/WembOption.h"
#include "lossless/WembShared.h"
#include "lossless/tests/LosslessTestUtil.h"
#include "resample/Filter.h"
#include "resample/Resize.h"
#include "testutil/TestEnv.h"
#include "wemb/tests/CoefTestUtil.h"
#include "wemb/tests/WembTestUtil.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <sstream>

#include <lcms2.h>

namespace {

namespace fs = std::filesystem;
using namespace wembtest;

using losslesstest::DefaultSteps;
using losslesstest::StepsOf;

// The steps with the trimming step of Type and the four Values, for
// landscape and portrait pictures alike.
std::vector<uint8_t> StepsWithTrim(int32_t Type, const std::array<std::string, 4> &Values) {
  std::vector<uint8_t> s;
  StreamWriteInt32(s, Type);
  for (int i = 0; i < 8; ++i) StreamWriteString(s, Values[size_t(i % 4)]);
  const std::vector<uint8_t> rest = DefaultSteps();
  // The default trimming step is its type and eight strings; skip them.
  size_t at = 4;
  for (int i = 0; i < 8; ++i) at += 4 + 2 * size_t(rest[at] | rest[at + 1] << 8);
  s.insert(s.end(), rest.begin() + std::ptrdiff_t(at), rest.end());
  return s;
}

// The trimming step's part of the steps: type 1 (margins) with the given values.
std::vector<uint8_t> StepsWithMargins(const std::string &Margin) {
  return StepsWithTrim(1, {Margin, Margin, Margin, Margin});
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

// The text overlay. The text box is where the text effect draws: its mask
// (text, margins, shadow and glow room) at the anchored place, and the same
// rectangle at the shadow's offset.
struct TTextCase {
  const char *Name;
  int W, H;
  std::vector<std::string> Options;  // cjpeg's
};

const TTextCase TextCases[] = {
    {"Sampled420OffTheGrid", 643, 479, {"-sample", "2x2"}},
    {"Sampled422", 400, 301, {"-sample", "2x1"}},
    {"Full444", 331, 250, {"-sample", "1x1"}},
    {"Gray", 301, 203, {"-grayscale"}},
    {"Progressive", 643, 479, {"-sample", "2x2", "-progressive"}},
};

class WembcText : public Wembc, public ::testing::WithParamInterface<TTextCase> {
 protected:
  static void SetUpTestSuite() {
    LoadResizeLibrary(TESSIVO_BIN_DIR);
    CreateProgramResizers(1);
  }
  static void TearDownTestSuite() {
    FreeProgramResizers();
    FreeResizeLibrary();
  }
};

void SetText(TAddTextEffect &E) {
  E.FText = "Lossless 2024";
  E.FFont.Name = "DejaVu Sans";
  E.FFont.Size = 14;
  E.FFont.Color = 0xF0F8FF;
  E.FParam.Position = 0;
  E.FParam.XOffset = 37;
  E.FParam.YOffset = 45;
}

struct TBox {
  int64_t X0, Y0, X1, Y1;
  bool Meets(int64_t X0b, int64_t Y0b, int64_t X1b, int64_t Y1b) const {
    return X0 < X1b && X0b < X1 && Y0 < Y1b && Y0b < Y1;
  }
};

// The rectangles the effect may change on a W x H picture.
std::vector<TBox> TextBoxes(const TAddTextEffect &E, int32_t W, int32_t H) {
  TFontCache cache;
  TICCImgOwner mask(false);
  const TTextMargins m = TextMargins(E.FParam);
  cache.GetAntialiasingText(E.FText, E.FFont, nullptr, AntialiasingResizer, m.Bottom, m.Right, m.Top, m.Left,
                            E.FParam.LinePitch, *mask);
  int32_t x, y;
  const int64_t w = mask->Width, h = mask->Height;
  AnchorPosition(E.FParam.Position, W, H, int32_t(w), int32_t(h), E.FParam.XOffset, E.FParam.YOffset, x, y);
  const int64_t sx = x + E.FParam.ShadowOffsetX, sy = y + E.FParam.ShadowOffsetY;
  return {{x, y, x + w, y + h}, {sx, sy, sx + w, sy + h}};
}

TEST_P(WembcText, ChangesOnlyTheMcusUnderTheTextBox) {
  TESSIVO_REQUIRE(HaveTools());
  const TTextCase &c = GetParam();
  const fs::path in = MakeJpeg(Dir, "text", c.W, c.H, c.Options), out = Dir / "text-out.jpg";
  TWembOption o;
  o.AddText = LongTrue;
  TAddTextEffect text;
  SetText(text);
  const std::string err = RunTool(o, in, out, {}, StepsOf([](TEffectList &L) {
    SetText(*dynamic_cast<TAddTextEffect *>(L.FindByID(EFFECT_ADD_TEXT)));
  }));
  ASSERT_TRUE(fs::exists(out)) << err;
  const std::string inBytes = ReadFile(in), outBytes = ReadFile(out);
  const TCoefficients a = ReadCoefficients(inBytes), b = ReadCoefficients(outBytes);
  ASSERT_TRUE(a.Ok && b.Ok);
  ASSERT_EQ(a.CellsX, b.CellsX);
  ASSERT_EQ(a.CellsY, b.CellsY);
  EXPECT_EQ(a.Quant, b.Quant);

  const std::vector<TBox> boxes = TextBoxes(text, c.W, c.H);
  std::vector<uint8_t> underText(size_t(a.CellsX) * a.CellsY, 0);
  size_t changedOutside = 0, changedUnder = 0;
  for (uint32_t y = 0; y < a.CellsY; ++y)
    for (uint32_t x = 0; x < a.CellsX; ++x) {
      const int64_t x0 = int64_t(x) * a.CellW, y0 = int64_t(y) * a.CellH;
      bool under = false;
      for (const TBox &t : boxes) under |= t.Meets(x0, y0, x0 + a.CellW, y0 + a.CellH);
      underText[y * a.CellsX + x] = under;
      const bool same = a.SameCell(b, x, y);
      if (!under) changedOutside += !same;
      else changedUnder += !same;
    }
  EXPECT_EQ(changedOutside, 0u) << "MCUs outside the text box lost their coefficients";
  EXPECT_GT(changedUnder, 3u) << "the text changed (almost) nothing";

  // The decoded pixels of every MCU outside the box are the input's, and the
  // text shows inside it.
  testutil::TNetpbm pa, pb;
  ASSERT_TRUE(testutil::ParseNetpbm(RunProgram({"djpeg", "-nosmooth", "-pnm", in.string()}), pa));
  ASSERT_TRUE(testutil::ParseNetpbm(RunProgram({"djpeg", "-nosmooth", "-pnm", out.string()}), pb));
  ASSERT_EQ(pa.Width, pb.Width);
  size_t differing = 0, strong = 0;
  for (uint32_t y = 0; y < pa.Height; ++y)
    for (uint32_t x = 0; x < pa.Width; ++x)
      for (uint32_t k = 0; k < pa.Depth; ++k) {
        const int d = std::abs(int(pa.At(x, y, k)) - int(pb.At(x, y, k)));
        if (!underText[(y / a.CellH) * a.CellsX + x / a.CellW]) differing += d != 0;
        else strong += d > 60;
      }
  EXPECT_EQ(differing, 0u);
  EXPECT_GT(strong, 50u);
}

INSTANTIATE_TEST_SUITE_P(Files, WembcText, ::testing::ValuesIn(TextCases),
                         [](const ::testing::TestParamInfo<TTextCase> &P) { return std::string(P.param.Name); });

TEST_F(Wembc, NoTextIsDrawnOnACmykFile) {
  TESSIVO_REQUIRE(HaveTools() && HaveProgram("convert"));
  const fs::path rgb = MakeJpeg(Dir, "rgb", 160, 120, {"-sample", "1x1"}), in = Dir / "cmyk.jpg";
  RunProgram({"convert", rgb.string(), "-colorspace", "CMYK", "-quality", "90", in.string()});
  ASSERT_EQ(Exif(in, "ColorComponents"), "4");
  TWembOption o;
  o.AddText = LongTrue;
  const fs::path out = Dir / "cmyk-out.jpg";
  const std::string err = RunTool(o, in, out, {}, StepsOf([](TEffectList &L) {
    SetText(*dynamic_cast<TAddTextEffect *>(L.FindByID(EFFECT_ADD_TEXT)));
  }));
  ASSERT_TRUE(fs::exists(out)) << err;
  EXPECT_EQ(ReadFile(out), ReadFile(in));
}

// The Exif thumbnail made again from the written picture: its size follows
// the picture (long side 160) and it shows what ImageMagick's reduction of
// the output shows.
struct TThumbnailCase {
  const char *Name;
  int W, H;
  std::vector<std::string> Options;  // cjpeg's
  int Orientation;
  int32_t Rotation;
  const char *Components;  // of the new thumbnail
  // The Exif is rebuilt (GPS dropped) or laid out anew without the maker
  // note, rather than patched in place.
  LongBool DeleteGPS = LongFalse, DeleteMakerNote = LongFalse;
};

const TThumbnailCase ThumbnailCases[] = {
    {"TurnedPhotoGetsAnUprightThumbnail", 643, 479, {"-sample", "2x2"}, 6, 1, "3"},
    {"GrayPhotoGetsAGrayThumbnail", 500, 331, {"-grayscale"}, 0, 0, "1"},
    {"LargePhotoIsDecodedReduced", 2600, 1733, {"-sample", "2x2"}, 0, 0, "3"},
    {"RebuiltExifWithoutGPS", 643, 479, {"-sample", "2x2"}, 8, 1, "3", LongTrue},
    {"ExifWithoutMakerNote", 643, 479, {"-sample", "2x2"}, 3, 1, "3", LongFalse, LongTrue},
};

class WembcThumbnail : public Wembc, public ::testing::WithParamInterface<TThumbnailCase> {};

TEST_P(WembcThumbnail, ShowsTheWrittenPicture) {
  TESSIVO_REQUIRE(HaveTools() && HaveProgram("convert"));
  const TThumbnailCase &c = GetParam();
  const fs::path in = MakeJpeg(Dir, "photo", c.W, c.H, c.Options), out = Dir / "photo-out.jpg";
  // An old thumbnail of other content, large enough to hold the new one.
  const fs::path old = MakeJpeg(Dir, "old", 160, 160, {"-sample", "1x1", "-quality", "98"});
  std::vector<std::string> args{"exiftool", "-q", "-overwrite_original", "-Make=TestCam",
                                "-GPSLatitude=35.5", "-GPSLatitudeRef=N", "-ThumbnailImage<=" + old.string()};
  if (c.Orientation) args.push_back("-Orientation#=" + std::to_string(c.Orientation));
  args.push_back(in.string());
  RunProgram(args);
  ASSERT_FALSE(Exif(in, "ThumbnailLength").empty());
  TWembOption o;
  o.Rotation = c.Rotation;
  o.UpdateExifThumbnail = LongTrue;
  o.DeleteGPSInfoIFD = c.DeleteGPS;
  o.DeleteMakerNote = c.DeleteMakerNote;
  const std::string err = RunTool(o, in, out);
  ASSERT_TRUE(fs::exists(out)) << err;
  EXPECT_EQ(Exif(out, "Make"), "TestCam");
  EXPECT_EQ(Exif(out, "GPSLatitude"), c.DeleteGPS ? "" : "35.5");
  if (c.Rotation == 1 && c.Orientation > 1) {
    EXPECT_EQ(Exif(out, "Orientation"), "1");
  }

  const fs::path thumb = Dir / "thumb.jpg";
  WriteFile(thumb, RunProgram({"exiftool", "-b", "-ThumbnailImage", out.string()}));
  ASSERT_GT(fs::file_size(thumb), 100u) << err;
  EXPECT_NE(ReadFile(thumb), ReadFile(old));
  EXPECT_EQ(Exif(thumb, "ColorComponents"), c.Components);
  const int w = std::stoi(Exif(out, "ImageWidth")), h = std::stoi(Exif(out, "ImageHeight"));
  const int longSide = std::max(w, h);
  const int tw = (w * 160 + longSide / 2) / longSide, th = (h * 160 + longSide / 2) / longSide;
  const testutil::TNetpbm t = Decode(thumb.string());
  ASSERT_EQ(int(t.Width), tw);
  ASSERT_EQ(int(t.Height), th);
  testutil::TNetpbm ref;
  const std::string type = t.Depth == 1 ? "pgm:-" : "ppm:-";
  ASSERT_TRUE(testutil::ParseNetpbm(
      RunProgram({"convert", out.string(), "-resize", std::to_string(tw) + "x" + std::to_string(th) + "!", type}), ref));
  ASSERT_EQ(ref.Samples.size(), t.Samples.size());
  double diff = 0;
  for (size_t i = 0; i < t.Samples.size(); ++i) diff += std::abs(int(t.Samples[i]) - int(ref.Samples[i]));
  EXPECT_LT(diff / double(t.Samples.size()), 6.0) << "mean difference from ImageMagick's reduction";
}

INSTANTIATE_TEST_SUITE_P(Cases, WembcThumbnail, ::testing::ValuesIn(ThumbnailCases),
                         [](const ::testing::TestParamInfo<TThumbnailCase> &P) { return std::string(P.param.Name); });

// The profile revision, read back by Little CMS's own calculator: a neutral
// input level v comes out with the luminance old(v) x c(v), where old is the
// profile's tone curve and c the step's curve.
struct TRevisionCase {
  const char *Name;
  std::vector<std::string> Options;  // cjpeg's
  bool EmbedGamma18;                 // embed a gamma-1.8 profile, else none
  int32_t Mode;
  const char *Description;
  // The step's curve at x in 0..1, and the old tone curve.
  double (*Step)(double);
  double (*Old)(double);
};

double Gamma2Step(double X) { return std::pow(X, 1 / 2.0); }
// The tone curve through (0, 0), (64, 128), (255, 255) as the effect evaluates it.
double RaisedStep(double X) {
  static const TCurveEvaluator e({{0, 0}, {64, 128}, {255, 255}});
  return e.Value(X * 255) / 255;
}
double SRGBCurve(double X) { return X <= 0.04045 ? X / 12.92 : std::pow((X + 0.055) / 1.055, 2.4); }
double Gamma18(double X) { return std::pow(X, 1.8); }

const TRevisionCase RevisionCases[] = {
    {"ColourAdjustWithoutProfileRevisesTheBuiltInSRGB", {"-sample", "2x2"}, false, 1, "Custom RGB", Gamma2Step,
     SRGBCurve},
    {"ColourAdjustRevisesTheEmbeddedProfile", {"-sample", "2x2"}, true, 1, "Custom RGB", Gamma2Step, Gamma18},
    {"ToneCurveOnAGrayFileRevisesTheBuiltInGray", {"-grayscale"}, false, 2, "Custom Grayscale", RaisedStep,
     SRGBCurve},
};

class WembcICCRevision : public Wembc, public ::testing::WithParamInterface<TRevisionCase> {};

std::vector<uint8_t> Gamma18Profile() {
  const cmsCIExyY white = {0.3457, 0.3585, 1.0};
  const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve *g = cmsBuildGamma(nullptr, 1.8);
  cmsToneCurve *curves[3] = {g, g, g};
  cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(g);
  cmsSetProfileVersion(p, 2.1);
  cmsUInt32Number n = 0;
  cmsSaveProfileToMem(p, nullptr, &n);
  std::vector<uint8_t> bytes(n);
  cmsSaveProfileToMem(p, bytes.data(), &n);
  cmsCloseProfile(p);
  return bytes;
}

TEST_P(WembcICCRevision, FoldsTheStepIntoTheToneCurves) {
  TESSIVO_REQUIRE(HaveTools() && HaveProgram("transicc"));
  const TRevisionCase &c = GetParam();
  const fs::path in = MakeJpeg(Dir, "rev", 96, 64, c.Options), out = Dir / "rev-out.jpg";
  if (c.EmbedGamma18) {
    const std::vector<uint8_t> icc = Gamma18Profile();
    WriteFile(Dir / "g18.icc", std::string(icc.begin(), icc.end()));
    RunProgram({"exiftool", "-q", "-overwrite_original", "-ICC_Profile<=" + (Dir / "g18.icc").string(), in.string()});
    ASSERT_FALSE(Exif(in, "RedMatrixColumn").empty());
  }
  TWembOption o;
  o.ICCProfileRevision = c.Mode;
  const std::string err = RunTool(o, in, out, {}, StepsOf([](TEffectList &L) {
    dynamic_cast<TColorAdjust *>(L.FindByID(EFFECT_COLOR_ADJUST))->FRGBGamma = 2.0;
    dynamic_cast<TToneCurveEffect *>(L.FindByID(EFFECT_TONE_CURVE))->FControlPoints[CURVE_RGB] = {
        {0, 0}, {64, 128}, {255, 255}};
  }));
  ASSERT_TRUE(fs::exists(out)) << err;
  EXPECT_TRUE(SamePixels(out, in)) << "the pixels stay as they were";
  EXPECT_EQ(Exif(out, "ProfileDescription"), c.Description);
  EXPECT_EQ(Exif(out, "ProfileCopyright"), "No copyright, use freely");
  if (c.EmbedGamma18) {
    EXPECT_EQ(Exif(out, "RedMatrixColumn"), Exif(in, "RedMatrixColumn"));
  }
  const fs::path icc = Dir / "out.icc";
  WriteFile(icc, RunProgram({"exiftool", "-b", "-ICC_Profile", out.string()}));
  const bool gray = c.Description == std::string("Custom Grayscale");
  for (int v : {32, 96, 128, 200, 255}) {
    const std::string level = std::to_string(v);
    const std::string input = gray ? level + "\n" : level + " " + level + " " + level + "\n";
    const std::string got =
        RunProgram({"sh", "-c", "printf '" + input + "' | transicc -n -i '" + icc.string() + "' -o '*XYZ'"});
    std::istringstream fields(got.substr(got.find_last_of(':') == std::string::npos ? 0 : got.find_last_of(':') + 1));
    std::vector<double> xyz;
    for (std::string t; fields >> t;)
      if (t.find_first_not_of("0123456789.-") == std::string::npos) xyz.push_back(std::stod(t));
    ASSERT_GE(xyz.size(), 3u) << got;
    const double x = v / 255.0;
    const double want = 100 * c.Old(x) * c.Step(x);
    EXPECT_NEAR(xyz[xyz.size() - 2], want, 0.8 + 0.01 * want) << "level " << v << ": " << got;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, WembcICCRevision, ::testing::ValuesIn(RevisionCases),
                         [](const ::testing::TestParamInfo<TRevisionCase> &P) { return std::string(P.param.Name); });

TEST_F(Wembc, ACmykProfileIsNotRevised) {
  TESSIVO_REQUIRE(HaveTools() && HaveProgram("convert"));
  const fs::path rgb = MakeJpeg(Dir, "rgb", 64, 48, {"-sample", "1x1"}), in = Dir / "cmyk.jpg";
  RunProgram({"convert", rgb.string(), "-colorspace", "CMYK", in.string()});
  ASSERT_EQ(Exif(in, "ColorComponents"), "4");
  TWembOption o;
  o.ICCProfileRevision = 1;
  const fs::path out = Dir / "cmyk-out.jpg";
  const std::string err = RunTool(o, in, out);
  ASSERT_TRUE(fs::exists(out)) << err;
  EXPECT_EQ(ReadFile(out), ReadFile(in));
}

// Exif and ICC data taken from files beside the input ("<name>" patterns),
// and the profile written out; checked with exiftool.
struct TImportCase {
  const char *Name;
  LongBool ExifImport, ICCImport, ICCExport;
  bool FilesPresent;
};

const TImportCase ImportCases[] = {
    {"ExifImportReplacesTheExif", LongTrue, LongFalse, LongFalse, true},
    {"ICCImportReplacesTheProfile", LongFalse, LongTrue, LongFalse, true},
    {"BothImportsTogether", LongTrue, LongTrue, LongFalse, true},
    {"ICCExportWritesTheEmbeddedProfile", LongFalse, LongFalse, LongTrue, true},
    {"MissingImportFilesChangeNothing", LongTrue, LongTrue, LongFalse, false},
};

class WembcImport : public Wembc, public ::testing::WithParamInterface<TImportCase> {};

TEST_P(WembcImport, TakesTheFilesNamedByThePatterns) {
  TESSIVO_REQUIRE(HaveTools());
  const TImportCase &c = GetParam();
  const fs::path in = Photo("DSC_7", 0), out = Dir / "out" / "DSC_7.jpg";
  fs::create_directories(out.parent_path());
  // The input carries a profile of its own (for the export), made by Little CMS.
  const std::vector<uint8_t> own = Gamma18Profile();
  WriteFile(Dir / "own.icc", std::string(own.begin(), own.end()));
  RunProgram({"exiftool", "-q", "-overwrite_original", "-ICC_Profile<=" + (Dir / "own.icc").string(), in.string()});
  const std::string before = ReadFile(in);
  ASSERT_EQ(RunProgram({"exiftool", "-b", "-ICC_Profile", in.string()}), std::string(own.begin(), own.end()));

  // The Exif file: another camera's JPEG; the profile file: the built-in sRGB
  // Little CMS makes.
  const fs::path donor = MakeJpeg(Dir, "donor", 32, 32, {"-sample", "2x2"});
  RunProgram({"exiftool", "-q", "-overwrite_original", "-Make=OtherCam", "-Model=Imported",
              "-DateTimeOriginal=2001:02:03 04:05:06", donor.string()});
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsUInt32Number n = 0;
  cmsSaveProfileToMem(srgb, nullptr, &n);
  std::string iccBytes(n, '\0');
  cmsSaveProfileToMem(srgb, iccBytes.data(), &n);
  cmsCloseProfile(srgb);
  if (c.FilesPresent) {
    fs::copy_file(donor, Dir / "DSC_7.dat");
    WriteFile(Dir / "DSC_7.icc", iccBytes);
  }
  TWembOption o;
  o.ExifImport = c.ExifImport;
  o.ICCImport = c.ICCImport;
  o.ICCExport = c.ICCExport;
  o.ICCExportName = "icc\\<Name>.icc";
  const std::string err = RunTool(o, in, out);
  ASSERT_TRUE(fs::exists(out)) << err;
  EXPECT_TRUE(SamePixels(out, in));
  EXPECT_EQ(ReadFile(in), before) << "the source changed";

  const bool exifTaken = c.ExifImport && c.FilesPresent, iccTaken = c.ICCImport && c.FilesPresent;
  EXPECT_EQ(Exif(out, "Make"), exifTaken ? "OtherCam" : "TestCam");
  EXPECT_EQ(Exif(out, "Model"), exifTaken ? "Imported" : "");
  EXPECT_EQ(Exif(out, "DateTimeOriginal"), exifTaken ? "2001:02:03 04:05:06" : "2024:05:06 07:08:09");
  EXPECT_EQ(RunProgram({"exiftool", "-b", "-ICC_Profile", out.string()}),
            iccTaken ? iccBytes : std::string(own.begin(), own.end()));
  const fs::path exported = Dir / "icc" / "DSC_7.icc";
  EXPECT_EQ(fs::exists(exported), bool(c.ICCExport));
  if (c.ICCExport) {
    EXPECT_EQ(ReadFile(exported), std::string(own.begin(), own.end()));
  }
  if (!c.FilesPresent) {
    EXPECT_EQ(ReadFile(out), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, WembcImport, ::testing::ValuesIn(ImportCases),
                         [](const ::testing::TestParamInfo<TImportCase> &P) { return std::string(P.param.Name); });

// The four trimming types on a 643 x 479 picture, against jpegtran's crop of
// the rectangle worked out by hand; a value that does not evaluate switches
// trimming off, an empty rectangle gives no output.
struct TTrimCase {
  const char *Name;
  int32_t Type;
  std::array<std::string, 4> Values;
  const char *Crop;  // jpegtran's -crop; "" copies the file, nullptr: no output
};

const TTrimCase TrimCases[] = {
    {"RectangleInside", 0, {"40", "30", "300", "200"}, "300x200+40+30"},
    {"RectangleClippedAtTheRightEdge", 0, {"600", "30", "100", "h/2"}, "43x240+600+30"},
    {"MarginsInPercent", 2, {"10", "10", "20", "20"}, "450x335+64+48"},
    {"SquareInTheMiddle", 3, {"1", "1", "50", "50"}, "479x479+82+0"},
    {"WideRatioAtTheBottom", 3, {"16", "9", "0", "100"}, "643x362+0+117"},
    {"ValueThatDoesNotEvaluateSwitchesTrimmingOff", 1, {"w/zz", "0", "0", "0"}, ""},
    {"EmptyRectangleGivesNoOutput", 1, {"w/2", "0", "w/2", "0"}, nullptr},
};

class WembcTrim : public Wembc, public ::testing::WithParamInterface<TTrimCase> {};

TEST_P(WembcTrim, CropsTheRectangleOfItsType) {
  TESSIVO_REQUIRE(HaveTools());
  const TTrimCase &c = GetParam();
  const fs::path in = Photo("trim", 0), out = Dir / "trim-out.jpg";
  TWembOption o;
  o.Trimming = LongTrue;
  const std::string err = RunTool(o, in, out, {}, StepsWithTrim(c.Type, c.Values));
  if (!c.Crop) {
    EXPECT_FALSE(fs::exists(out));
    EXPECT_NE(err.find("trimming"), std::string::npos) << err;
    return;
  }
  ASSERT_TRUE(fs::exists(out)) << err;
  if (!*c.Crop) {
    EXPECT_EQ(ReadFile(out), ReadFile(in));
    return;
  }
  EXPECT_TRUE(SamePixels(out, Jpegtran(in, {"-crop", c.Crop})));
}

INSTANTIATE_TEST_SUITE_P(Types, WembcTrim, ::testing::ValuesIn(TrimCases),
                         [](const ::testing::TestParamInfo<TTrimCase> &P) { return std::string(P.param.Name); });

// OptimizeMode 3 keeps the progressive result when it is the smallest: on a
// photo of some size the progressive scans save more than they cost.
TEST_F(Wembc, SmallerOfTwoWaysTakesProgressiveWhenItIsSmallest) {
  TESSIVO_REQUIRE(HaveTools());
  const fs::path in = Photo("big", 0, 1203, 901), out = Dir / "big-out.jpg";
  TWembOption o;
  o.OptimizeMode = 3;
  RunTool(o, in, out);
  ASSERT_TRUE(fs::exists(out));
  // jpegtran writes both to one name: each size is taken before the next run.
  const uintmax_t optimised = fs::file_size(Jpegtran(in, {"-optimize"}));
  const uintmax_t progressive = fs::file_size(Jpegtran(in, {"-progressive"}));
  ASSERT_LT(progressive, optimised);
  EXPECT_EQ(Exif(out, "EncodingProcess"), "2");  // progressive DCT, Huffman coding
  EXPECT_LT(fs::file_size(out), optimised);
  EXPECT_LE(double(fs::file_size(out)), double(progressive) * 1.005);
  EXPECT_TRUE(SamePixels(out, in));
}

}  // namespace
