// Template expansion of output names and overlay texts, start-number
// directives, the conversion table, output types and the resampling text.
#include "batch/ConvertOption.h"
#include "batch/FileNameTemplate.h"
#include "batch/ImageInfo.h"
#include "batch/tests/ListTestUtil.h"

#include <gtest/gtest.h>

namespace {

constexpr double July4th = 41459.52425925926;  // 2013-07-04 12:34:56

// Restores the program-wide records a test changes.
class Naming : public ::testing::Test {
protected:
  void SetUp() override {
    FSavedFile = FileOption;
    FSavedResize = ResizeOption;
    FSavedMode = ConvertMode;
    FSavedNext = NextSerialNumber;
    LoadConvertTable({});
    ClearFolderCountCache();
  }
  void TearDown() override {
    FileOption = FSavedFile;
    ResizeOption = FSavedResize;
    ConvertMode = FSavedMode;
    NextSerialNumber = FSavedNext;
    LoadConvertTable({});
    ClearFolderCountCache();
  }

  static TImageInfo &Photo(TImageInfo &Info, const std::string &Path = "/p/IMG_1.JPG", int32_t Format = PICTURE_JPEG) {
    Info.FPath = Path;
    Info.PictureFormat = Format;
    Info.Width = 640, Info.Height = 480;
    Info.DateTimeOriginal = July4th;
    Info.DateTimeLastWrite = 45000.25;  // 2023-03-15 06:00
    Info.Dir = "a/b/";
    Info.Base = "/p/";
    return Info;
  }

private:
  TFileOption FSavedFile;
  TResizeOption FSavedResize;
  int32_t FSavedMode = 0;
  int32_t FSavedNext = 1;
};

}  // namespace

TEST_F(Naming, FileNameTokens) {
  TImageInfo info;
  Photo(info);
  const struct {
    const char *Template, *Name;
  } cases[] = {
      {"resize/<old>", "resize/IMG_1.jpg"},       // the default template, JPEG by the table
      {"resize\\<old>", "resize/IMG_1.jpg"},      // a stored Windows delimiter
      {"<old>.png", "IMG_1.png"},
      {"<old>.TIFF", "IMG_1.TIFF"},
      {"<old>.<ext>", "IMG_1.JPG"},               // a JPEG source keeps its own extension
      {"<yyyy>/<mm>/<old>", "2013/07/IMG_1.jpg"},
      {"<ymd>", "130704.jpg"},
      {"<ymdhns>", "20130704123456.jpg"},
      {"<ymdhn>", "201307041234.jpg"},
      {"<yy>-<dd>_<hh><nn><ss>", "13-04_123456.jpg"},
      {"<ext>_<old>", "JPG_IMG_1.jpg"},
      {"x/<dir><old>", "x/a/b/IMG_1.jpg"},
      {"<pdir>_<old>", "p_IMG_1.jpg"},
      {"<base>", "/p.jpg"},                       // the base folder without its delimiter
      {"<arcname>_<old>", "NotArchive_IMG_1.jpg"},
      {"<resizemode>", "None.jpg"},
      {"img<n>", "img7.jpg"},
      {"img<n3>", "img007.jpg"},
      {"img<n3zz>", "img007.jpg"},                // only the digit after the letter counts
      {"<old>.tar.gz", "IMG_1.tar.gz.jpg"},       // not an image extension: the table's is appended
      {"<old>.", "IMG_1..jpg"},
      // Invalid for every entry.
      {"<OLD>", ""}, {"<>", ""}, {"<old", ""}, {"a?b", ""}, {"a|b", ""}, {"a*<old>", ""}, {"a\"b", ""},
      {"a>b", ""}, {"<n0>", ""}, {"<c0>", ""}, {"<x>", ""}, {"<s>", ""},
  };
  for (const auto &c : cases) EXPECT_EQ(ExpandFileNameTemplate(c.Template, info, 7, TScale{}, CurrentRunSettings()), c.Name) << c.Template;
}

TEST_F(Naming, ExtensionFromTheConversionTable) {
  const struct {
    const char *Path;
    int32_t Format;
    int32_t Mode;
    const char *Template, *Name;
  } cases[] = {
      {"/p/a.gif", PICTURE_WIC, CONVERT_MODE_NORMAL, "<old>.<ext>", "a.gif.jpg"},  // "未定義"
      {"/p/a.gif", PICTURE_WIC, CONVERT_MODE_NORMAL, "<old>", "a.jpg"},
      {"/p/a.BMP", PICTURE_BMP, CONVERT_MODE_NORMAL, "<old>", "a.bmp"},
      {"/p/a.png", PICTURE_PNG, CONVERT_MODE_NORMAL, "<old>", "a.png"},
      {"/p/a.TIFF", PICTURE_WIC, CONVERT_MODE_NORMAL, "<old>", "a.tif"},            // by the source extension
      {"/p/a.JXR", PICTURE_WIC, CONVERT_MODE_NORMAL, "<old>", "a.wdp"},
      {"/p/a.dat", PICTURE_BMP, CONVERT_MODE_NORMAL, "<old>", "a.bmp"},             // by the probed format
      {"/p/a.png", PICTURE_PNG, CONVERT_MODE_JPEGTRAN, "<old>", "a.jpg"},
      {"/p/noext", PICTURE_WIC, CONVERT_MODE_NORMAL, "<old>", "noext.jpg"},
  };
  for (const auto &c : cases) {
    TImageInfo info;
    info.FPath = c.Path;
    info.PictureFormat = c.Format;
    ConvertMode = c.Mode;
    EXPECT_EQ(ExpandFileNameTemplate(c.Template, info, 1, TScale{}, CurrentRunSettings()), c.Name) << c.Path << " " << c.Template;
    EXPECT_GT(OutputTypeOf(c.Name), 0) << c.Name;
  }

  // A user table: later rows win, look-ups ignore case, rows with an output
  // the dialog could not name map nothing, and "未定義" present keeps the
  // defaults out.
  LoadConvertTable({".BMP,.gif=.png", ".gif=.tif", ".webp=???", "未定義=.bmp"});
  EXPECT_EQ(ConvertTable.size(), 4u);
  const struct {
    const char *Ext, *Output;
  } lookups[] = {{".bmp", ".png"}, {".GIF", ".tif"}, {".webp", ""}, {".jpg", ""}, {"未定義", ".bmp"}};
  for (const auto &l : lookups) EXPECT_EQ(LookUpConvertMap(l.Ext), l.Output) << l.Ext;
  TImageInfo webp;
  webp.FPath = "/p/w.webp";
  webp.PictureFormat = PICTURE_WIC;
  ConvertMode = CONVERT_MODE_NORMAL;
  EXPECT_EQ(ExpandFileNameTemplate("<old>", webp, 1, TScale{}, CurrentRunSettings()), "w.bmp");

  // No "未定義": the default rows follow for the extensions the stored rows
  // leave out; the default ".bmp=.bmp" row, wholly covered, is not added.
  LoadConvertTable({".bmp=.png", ".jpeg=.tif"});
  EXPECT_EQ(ConvertTable.size(), 2u + DefaultConvertRows().size() - 1);
  EXPECT_EQ(LookUpConvertMap(".bmp"), ".png");  // the stored row keeps its extension
  EXPECT_EQ(LookUpConvertMap(".jpeg"), ".tif");
  EXPECT_EQ(LookUpConvertMap(".jpg"), ".jpg");  // the rest of that default row
  EXPECT_EQ(LookUpConvertMap("未定義"), ".jpg");
}

TEST_F(Naming, ModificationDateWithoutShootingDate) {
  TImageInfo info;
  Photo(info);
  info.DateTimeOriginal = 0;
  EXPECT_EQ(ExpandFileNameTemplate("<yyyy>/<mm>/<old>", info, 1, TScale{}, CurrentRunSettings()), "2023/03/IMG_1.jpg");
  EXPECT_EQ(ExpandFileNameTemplate("<ymdhns>", info, 1, TScale{}, CurrentRunSettings()), "20230315060000.jpg");
}

TEST_F(Naming, ArchiveMemberName) {
  TImageInfo info;
  info.FPath = "/p/set/x/y.jpg";
  info.FIsArchive = LongTrue;
  info.FArchivePath = "/p/set.zip";
  info.PictureFormat = PICTURE_JPEG;
  EXPECT_EQ(ExpandFileNameTemplate("<arcname>_<pdir>_<old>", info, 1, TScale{}, CurrentRunSettings()), "set_x_y.jpg");
}

TEST_F(Naming, FolderCounts) {
  TTempDir dir;
  TImageInfo info;
  Photo(info, dir / "src.jpg");
  // An empty (here: missing) output folder counts from 1.
  for (const char *expected : {"c/01.jpg", "c/02.jpg", "c/03.jpg"})
    EXPECT_EQ(ExpandFileNameTemplate("c/<c2>", info, 1, TScale{}, CurrentRunSettings()), expected);
  // Files already in the folder are counted, subfolders are not.
  MakeDirs(dir / "d/sub");
  WriteBytes(dir / "d/one", {1});
  WriteBytes(dir / "d/two", {2});
  EXPECT_EQ(ExpandFileNameTemplate("d/<c>_<c3>", info, 1, TScale{}, CurrentRunSettings()), "d/3_004.jpg");
  // An absolute template counts in its own folder.
  EXPECT_EQ(ExpandFileNameTemplate(dir / "d/<c>", info, 1, TScale{}, CurrentRunSettings()), dir / "d/5.jpg");
  ClearFolderCountCache();
  EXPECT_EQ(ExpandFileNameTemplate("d/<c>", info, 1, TScale{}, CurrentRunSettings()), "d/3.jpg");
}

TEST_F(Naming, StartNumberDirectives) {
  const struct {
    const char *Template;
    int32_t ResetType;
    int32_t Number;
    const char *Rest;
  } cases[] = {
      {"img<n3>", 0, 1, "img<n3>"},          // StartNumber
      {"img<n3>", 1, 42, "img<n3>"},         // NextSerialNumber
      {"<s7>img<n3>", 0, 7, "img<n3>"},
      {"img<n3><s100>", 1, 100, "img<n3>"},
      {"<s5>a<s9>b", 0, 9, "ab"},            // the last directive wins
      {"<sx>a", 0, 1, "a"},                  // digits that do not parse count as 1
      {"<s>a", 0, 1, "a"},
      {"a<s12", 0, 12, "a"},                 // unterminated: removed to the end
      {"<hh><nn><ss>_<s3>", 0, 3, "<hh><nn><ss>_"},  // the seconds token is no directive
      {"<s99999999999>x", 0, 1, "x"},        // out of range
  };
  for (const auto &c : cases) {
    FileOption.StartNumber = 1;
    FileOption.ResetType = c.ResetType;
    NextSerialNumber = 42;
    std::string t = c.Template;
    EXPECT_EQ(ParseStartNumber(t, FileOption), c.Number) << c.Template;
    EXPECT_EQ(t, c.Rest) << c.Template;
  }
}

TEST_F(Naming, OverlayTextTokens) {
  const struct {
    const char *Template, *Text;
  } cases[] = {
      {"<old> -> <new>", "IMG_1.JPG -> out.png"},
      {"<oldname>/<newname>", "IMG_1/out"},
      {"<ymd>", "2013/07/04"},
      {"<ymdhn>", "2013/07/04 12:34"},
      {"<ymdhns>", "2013/07/04 12:34:56"},
      {"<yy><mm><dd><hh><nn><ss>", "130704123456"},
      {"No.<n4> <n>", "No.0012 12"},
      {"<dir> <OLD>", "dir OLD"},  // any other token is its own text
      {"a<>b", "ab"},
      {"a<old", "a"},              // unterminated: nothing
      {"plain > text", "plain > text"},
  };
  for (const auto &c : cases) EXPECT_EQ(ExpandTextTemplate(c.Template, "out.png", "IMG_1.JPG", 12, July4th), c.Text) << c.Template;
}

TEST_F(Naming, OutputTypes) {
  const struct {
    const char *Path;
    int32_t Type;
  } cases[] = {{"/a/b.bmp", OUTPUT_BMP}, {"b.JPG", OUTPUT_JPEG}, {"b.jpeg", OUTPUT_JPEG}, {"b.png", OUTPUT_PNG},
               {"b.wdp", OUTPUT_HDP},    {"b.HDP", OUTPUT_HDP},  {"b.jxr", OUTPUT_HDP},   {"b.tif", OUTPUT_TIFF},
               {"b.tiff", OUTPUT_TIFF},  {"b.gif", OUTPUT_NONE}, {"b", OUTPUT_NONE},      {"a.png/b", OUTPUT_NONE},
               {"b.png.txt", OUTPUT_NONE}};
  for (const auto &c : cases) EXPECT_EQ(OutputTypeOf(c.Path), c.Type) << c.Path;
}

TEST_F(Naming, ResizeModeText) {
  ResizeOption.DecimationMode = 2, ResizeOption.DecimationRadius = 3;
  ResizeOption.InterpolationMode = 4, ResizeOption.InterpolationSharp = -1;
  ResizeOption.SIMDMode = 3;
  ResizeOption.Degamma = false;
  const struct {
    double X, Y;
    const char *Text;
  } cases[] = {
      {1, 1, "None"},           {0.5, 0.5, "Lanczos3_int"}, {2, 2, "Bicubic-1_int"},
      {1, 2, "Bicubic-1_int"},  {1, 0.5, "Lanczos3_int"},   {2, 0.5, "Bicubic-1_int"},
      {0.5, 2, "Lanczos3_int"},
  };
  for (const auto &c : cases) EXPECT_EQ(ResizeModeText({c.X, c.Y}, ResizeOption), c.Text) << c.X << " " << c.Y;
  ResizeOption.SIMDMode = 2;
  ResizeOption.Degamma = true;
  const struct {
    int32_t Mode;
    const char *Text;
  } kernels[] = {{1, "Average"},  {2, "Lanczos3"}, {3, "Bilinear"},  {4, "Bicubic2"},       {5, "BlackmanSinc3"},
                 {6, "Spline16"}, {7, "Spline36"}, {8, "Gaussian10"}, {9, "NearestNeighbor"}};
  ResizeOption.DecimationSharp = 2, ResizeOption.DecimationBlur = 10;
  for (const auto &k : kernels) {
    ResizeOption.DecimationMode = k.Mode;
    EXPECT_EQ(ResizeModeText({0.5, 0.5}, ResizeOption), std::string(k.Text) + "_float_degamma") << k.Mode;
  }
}

TEST_F(Naming, PreviewNameStartsAtTheDirectiveAndForgetsCounts) {
  TImageInfo info;
  Photo(info);
  EXPECT_EQ(PreviewOutputFileName("out/<s10>img<n3>", info, 4, TScale{}, CurrentRunSettings()), "/p/out/img014.jpg");
  EXPECT_EQ(PreviewOutputFileName("/o/<c>", info, 0, TScale{}, CurrentRunSettings()), "/o/1.jpg");
  EXPECT_EQ(PreviewOutputFileName("/o/<c>", info, 0, TScale{}, CurrentRunSettings()), "/o/1.jpg");
  EXPECT_EQ(PreviewOutputFileName("a?", info, 0, TScale{}, CurrentRunSettings()), "");
}
