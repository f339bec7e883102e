// Probing and loading whole entries: probe order and header probes, archive
// members in memory, PngSuite through the loader, reduced JPEG decoding, the
// JPEG quality information, CMYK sources, alpha flattening by output type,
// list thumbnails, and damaged files that must raise their reason and log
// nothing themselves.
#include "io/LoadPicture.h"

#include "io/Bitmap.h"
#include "resample/Filter.h"
#include "io/ExifReader.h"
#include "color/ColorManagementOption.h"
#include "io/FormatOption.h"
#include "color/ICCUtil.h"
#include "io/ImageProbe.h"
#include "io/tests/LoadTestUtil.h"
#include "resample/Resize.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

using namespace loadtest;

namespace {

// Collects what loading reports while a test runs.
struct TErrorLog {
  std::mutex Lock;
  std::vector<std::string> Lines;
  TErrorLog() {
    SetLoadErrorProc([this](const std::string &L) {
      std::lock_guard g(Lock);
      Lines.push_back(L);
    });
  }
  ~TErrorLog() { SetLoadErrorProc(nullptr); }
  std::string All() {
    std::lock_guard g(Lock);
    std::string s;
    for (auto &l : Lines) s += l + "\n";
    return s;
  }
};


class Loader : public ::testing::Test {
protected:
  void SetUp() override {
    TESSIVO_REQUIRE(BindPixio()) << "codec library missing";
  }
  TTempDir Tmp;
  // The records a load reads, as a run hands them over.
  TFormatOptions Formats;
  TColorManagementOption ColorManagement;
};

std::vector<uint8_t> SmallBmp() {
  TBmpSpec s;
  s.Width = 2, s.Height = 1, s.BitCount = 24;
  s.Pixels = {1, 2, 3, 4, 5, 6, 0, 0};
  return MakeBmp(s);
}

// A JPEG made by the codec path of the tests' own tools.
std::string MakeJpeg(const TTempDir &Tmp, const std::string &Name, const std::string &ConvertArgs) {
  const std::string path = Tmp / Name;
  if (!RunCommand("convert " + ConvertArgs + " " + path)) return {};
  return path;
}

TEST(Probe, JPEGScaleDenominators) {
  struct Case {
    int32_t Halvings, Limit;
    double Scale;
    int32_t Want;
  };
  for (const Case &c : {Case{3, 200, 0.1, 4}, Case{3, 200, 0.3, 1}, Case{1, 200, 0.1, 2}, Case{0, 200, 0.01, 1},
                        Case{3, 100, 0.1, 8}, Case{3, 200, 0.25, 2}, Case{3, 200, 0.0, 1}}) {
    EXPECT_EQ(JPEGScaleDenominator({c.Scale, c.Scale / 2}, c.Halvings, c.Limit), c.Want)
        << c.Halvings << " " << c.Limit << " " << c.Scale;
  }
}

TEST_F(Loader, HeaderProbesAndTheSecondPass) {
  const std::string png = TestDataDir("pngsuite");
  TESSIVO_REQUIRE(!png.empty()) << "no pngsuite";
  // A PNG named .jpg and a BMP named .png are still found.
  std::filesystem::copy_file(png + "/basn2c08.png", Tmp / "really-png.jpg");
  WriteFile(Tmp / "really-bmp.png", SmallBmp());
  WriteFile(Tmp / "text.bmp", {'h', 'e', 'l', 'l', 'o'});
  TImageProbe e;
  ASSERT_TRUE(ProbeImageFile(Tmp / "really-png.jpg", e));
  EXPECT_EQ(e.PictureFormat, PICTURE_PNG);
  EXPECT_EQ(e.Width, 32);
  EXPECT_EQ(e.Height, 32);
  EXPECT_EQ(e.FPath, Tmp / "really-png.jpg");
  EXPECT_GT(e.Size, 0);
  EXPECT_GT(e.DateTimeLastWrite, 40000.0);
  ASSERT_TRUE(ProbeImageFile(Tmp / "really-bmp.png", e));
  EXPECT_EQ(e.PictureFormat, PICTURE_BMP);
  EXPECT_EQ(e.Width, 2);
  EXPECT_EQ(e.FResolutionUnit, RESUNIT_METRE);
  EXPECT_DOUBLE_EQ(e.FXResolution, 2835);
  EXPECT_FALSE(ProbeImageFile(Tmp / "text.bmp", e));
  EXPECT_FALSE(ProbeImageFile(Tmp / "missing.png", e));
  // An imaging-service extension whose header does not read is no image.
  WriteFile(Tmp / "broken.tif", {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F});
  EXPECT_FALSE(ProbeImageFile(Tmp / "broken.tif", e));
  EXPECT_EQ(e.PictureFormat, PICTURE_UNKNOWN);
  // pHYs of a PngSuite file: 1000 x 1000 per metre... (cdfn2c08: 1 x 4 no unit)
  ASSERT_TRUE(ProbeImageFile(png + "/cdun2c08.png", e));
  EXPECT_EQ(e.FResolutionUnit, RESUNIT_METRE);
  EXPECT_GT(e.FXResolution, 0);
  ASSERT_TRUE(ProbeImageFile(png + "/cdfn2c08.png", e));
  EXPECT_EQ(e.FResolutionUnit, RESUNIT_NONE);
  // LoadPicture decodes the PNG named .jpg as PNG.
  ASSERT_TRUE(ProbeImageFile(Tmp / "really-png.jpg", e));
  TImg img;
  EXPECT_EQ(LoadPicture(e, img.I, {}, false, false, nullptr, false, OUTPUT_PNG, Formats, ColorManagement), 1);
  EXPECT_EQ(img.I.Width, 32u);
}

TEST_F(Loader, JPEGProbeReadsDensitiesExifAndExtraMarkers) {
  TESSIVO_REQUIRE(HaveProgram("convert")) << "ImageMagick missing";
  const std::string path = MakeJpeg(Tmp, "d.jpg", "-size 40x30 xc:blue -density 300 -units PixelsPerInch -set comment hello");
  ASSERT_FALSE(path.empty());
  TImageProbe e;
  ASSERT_TRUE(ProbeImageFile(path, e));
  EXPECT_EQ(e.PictureFormat, PICTURE_JPEG);
  EXPECT_EQ(e.Width, 40);
  EXPECT_EQ(e.Height, 30);
  EXPECT_EQ(e.FResolutionUnit, RESUNIT_INCH);
  EXPECT_DOUBLE_EQ(e.FXResolution, 300);
  EXPECT_TRUE(e.FHasExtraMarker);  // the COM segment
  const auto known = KnownExtensions();
  EXPECT_NE(std::find(known.begin(), known.end(), ".jpg"), known.end());
}

TEST_F(Loader, ArchiveMembersProbeFromMemoryAndReloadThroughTheHook) {
  static std::vector<uint8_t> Member;
  Member = SmallBmp();
  WriteFile(Tmp / "pack.zip", {'P', 'K', 5, 6});
  TArchiveMemberInfo m;
  m.Path = "sub/";
  m.FileName = "pic.bmp";
  m.FileSize = uint32_t(Member.size());
  m.Position = 77;
  m.CompSize = 12;
  m.TimeStamp = 86400 * 365;
  TImageProbe e;
  int plugin = 0;
  ASSERT_TRUE(ProbeArchiveMember(Tmp / "pack.zip", m, &plugin, Member.data(), Member.size(), e));
  EXPECT_EQ(e.FPath, Tmp / "pack" + std::string("/sub/pic.bmp"));
  EXPECT_TRUE(e.FIsArchive);
  EXPECT_EQ(e.FArchivePath, Tmp / "pack.zip");
  EXPECT_EQ(e.FArchivePosition, 77u);
  EXPECT_EQ(e.FArchiveCompSize, 12u);
  EXPECT_EQ(e.FArchiveSPI, &plugin);
  EXPECT_EQ(e.PictureFormat, PICTURE_BMP);
  EXPECT_NEAR(e.DateTimeLastWrite, ArchiveTimeStampToDateTime(m.TimeStamp), 1e-9);
  EXPECT_NEAR(ArchiveTimeStampToDateTime(0) + double(timezone) / 86400.0, 25569.0, 1e-9);

  // Without an archive host the member cannot be read again: a clean failure.
  TErrorLog log;
  RegisterExtractArchiveMember(nullptr);
  TImg img;
  EXPECT_EQ(LoadFailure(e, img), std::string(LOAD_FAILED_MSG) + " (書庫から取り出せません)");
  EXPECT_EQ(img.I.Mem, nullptr);
  EXPECT_EQ(log.All(), "");
  // With one, it decodes and an unprobed entry is probed first.
  RegisterExtractArchiveMember([](const TImageProbe &, std::vector<uint8_t> &Bytes) {
    Bytes = Member;
    return true;
  });
  e.PictureFormat = PICTURE_UNKNOWN;
  ASSERT_TRUE(EnsureProbed(e));
  EXPECT_EQ(e.PictureFormat, PICTURE_BMP);
  EXPECT_EQ(e.FArchivePosition, 77u);
  TImg img2;
  EXPECT_EQ(LoadPicture(e, img2.I, {}, false, false, nullptr, false, OUTPUT_PNG, Formats, ColorManagement), 1);
  EXPECT_EQ(img2.I.Width, 2u);
  RegisterExtractArchiveMember(nullptr);
}

TEST_F(Loader, PngSuiteThroughTheLoader) {
  const std::string dir = TestDataDir("pngsuite");
  TESSIVO_REQUIRE(!dir.empty()) << "no pngsuite";
  int good = 0, bad = 0;
  for (const auto &path : ListFiles(dir, ".png")) {
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    TErrorLog log;
    TImageProbe e;
    const bool probed = ProbeImageFile(path.string(), e);
    TImg img;
    const std::string failure = probed ? LoadFailure(e, img) : std::string();
    if (name[0] == 'x') {
      // A broken file the probe accepts fails with the library's reason.
      if (probed) {
        EXPECT_EQ(failure.rfind(std::string(LOAD_FAILED_MSG) + " (", 0), 0u) << failure;
        EXPECT_EQ(log.All(), "");
      }
      EXPECT_EQ(img.I.Mem, nullptr);
      ++bad;
      continue;
    }
    ASSERT_TRUE(probed);
    ASSERT_EQ(failure, "");
    EXPECT_EQ(img.I.Width, uint32_t(e.Width));
    EXPECT_EQ(img.I.Height, uint32_t(e.Height));
    const bool grayAlpha = name.size() > 5 && name[4] == '4';
    const bool gray = name[4] == '0';
    if (grayAlpha) {
      EXPECT_TRUE(img.I.IsGrayAlpha);
      EXPECT_EQ(img.I.PixelFormat, PIXFMT_BGRA);
    }
    if (gray && name.substr(0, 2) != "tb" && name.substr(0, 2) != "tm") {
      EXPECT_EQ(img.I.Channels, 1u);
    }
    EXPECT_EQ(img.I.BPP, name.find("16") != std::string::npos ? BPP_16 : BPP_8) << img.I.BPP;
    ++good;
  }
  std::printf("pngsuite: %d valid files loaded, %d corrupt files refused\n", good, bad);
  EXPECT_GT(good, 150);
}

TEST_F(Loader, GrayAlphaIsFlattenedOntoBKGDOrTheBackground) {
  const std::string dir = TestDataDir("pngsuite");
  TESSIVO_REQUIRE(!dir.empty()) << "no pngsuite";
  // bgbn4a08: 8-bit gray with alpha and a black bKGD.
  TImageProbe e;
  ASSERT_TRUE(ProbeImageFile(dir + "/bgbn4a08.png", e));
  TImg kept;
  ASSERT_EQ(LoadPicture(e, kept.I, {}, false, false, nullptr, false, OUTPUT_PNG, Formats, ColorManagement), 1);
  ASSERT_TRUE(kept.I.IsGrayAlpha);
  EXPECT_TRUE(kept.I.hasBGColor);
  EXPECT_EQ(kept.I.BGColor, 0u);
  // A fully transparent pixel shows the colour it was flattened onto.
  uint32_t tx = 0, ty = 0;
  bool found = false;
  for (uint32_t y = 0; y < kept.I.Height && !found; ++y)
    for (uint32_t x = 0; x < kept.I.Width && !found; ++x)
      if (PixelAt(kept.I, x, y)[3] == 0) tx = x, ty = y, found = true;
  ASSERT_TRUE(found);
  Formats.Background = 0x808080;
  Formats.PNG.UsebKGDChunk = 1;
  TImg onBKGD;
  ASSERT_EQ(LoadPicture(e, onBKGD.I, {}, false, false, nullptr, false, OUTPUT_JPEG, Formats, ColorManagement), 1);
  EXPECT_EQ(onBKGD.I.Channels, 1u);
  EXPECT_EQ(PixelAt(onBKGD.I, tx, ty)[0], 0);
  Formats.PNG.UsebKGDChunk = 0;
  TImg onBackground;
  ASSERT_EQ(LoadPicture(e, onBackground.I, {}, false, false, nullptr, false, OUTPUT_JPEG, Formats, ColorManagement), 1);
  EXPECT_EQ(onBackground.I.Channels, 1u);
  EXPECT_EQ(PixelAt(onBackground.I, tx, ty)[0], 0x80);
  // BMP output keeps alpha unless alpha support is off.
  TImg bmpKeeps;
  ASSERT_EQ(LoadPicture(e, bmpKeeps.I, {}, false, false, nullptr, false, OUTPUT_BMP, Formats, ColorManagement), 1);
  EXPECT_EQ(bmpKeeps.I.Channels, 4u);
  Formats.Bitmap.AlphaChannelSupport = 0;
  TImg bmpDrops;
  ASSERT_EQ(LoadPicture(e, bmpDrops.I, {}, false, false, nullptr, false, OUTPUT_BMP, Formats, ColorManagement), 1);
  EXPECT_EQ(bmpDrops.I.Channels, 1u);
}

TEST_F(Loader, ReducedJPEGDecoding) {
  TESSIVO_REQUIRE(HaveProgram("convert")) << "ImageMagick missing";
  const std::string path = MakeJpeg(Tmp, "big.jpg", "-size 800x600 gradient:red-blue");
  ASSERT_FALSE(path.empty());
  TImageProbe e;
  ASSERT_TRUE(ProbeImageFile(path, e));
  Formats.JPEG.DecodeWithDownScaling = 3;
  Formats.JPEG.DownScalingLimit = 200;
  struct Case {
    double Scale;
    bool Allow;
    int32_t Want;
  };
  for (const Case &c : {Case{0.1, true, 4}, Case{0.3, true, 1}, Case{0.1, false, 1}}) {
    TImg img;
    EXPECT_EQ(LoadPicture(e, img.I, {c.Scale, c.Scale}, false, false, nullptr, c.Allow, OUTPUT_JPEG, Formats, ColorManagement), c.Want);
    EXPECT_EQ(img.I.Width, 800u / uint32_t(c.Want));
    EXPECT_EQ(img.I.Height, 600u / uint32_t(c.Want));
  }
}

TEST_F(Loader, QualityInformationOfAJPEGSource) {
  TESSIVO_REQUIRE(HaveProgram("cjpeg") && HaveProgram("convert")) << "cjpeg or ImageMagick missing";
  const std::string ppm = Tmp / "src.ppm", jpg = Tmp / "q75.jpg";
  ASSERT_TRUE(RunCommand("convert -size 64x48 plasma:fractal -seed 3 " + ppm));
  ASSERT_TRUE(RunCommand("cjpeg -quality 75 -sample 2x2 -outfile " + jpg + " " + ppm));
  // The libjpeg tables for quality 75: the standard tables at scale 50 %.
  static const uint16_t Luma[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
  static const uint16_t Chroma[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                      24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                      99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                      99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
  auto scaled = [](uint16_t v) { return uint16_t(std::clamp((v * 50 + 50) / 100, 1, 255)); };
  TImageProbe e;
  ASSERT_TRUE(ProbeImageFile(jpg, e));
  Formats.JPEG.KeepQuality = 1;
  Formats.JPEG.UseFileSizeLimit = false;
  TImg img;
  ASSERT_EQ(LoadPicture(e, img.I, {}, false, false, nullptr, false, OUTPUT_JPEG, Formats, ColorManagement), 1);
  ASSERT_TRUE(img.I.HasJPEGQualityInfo);
  const TJPEGQualityInfo &q = img.I.JPEGQualityInfo;
  EXPECT_EQ(q.HSamp, 2);
  EXPECT_EQ(q.VSamp, 2);
  EXPECT_EQ(q.QTCount, 2);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(q.QT[0][i], scaled(Luma[i])) << i;
    EXPECT_EQ(q.QT[1][i], scaled(Chroma[i])) << i;
  }
  EXPECT_EQ(q.CompInfo[0][1], 0);
  EXPECT_EQ(q.CompInfo[1][1], 1);
  EXPECT_EQ(q.CompInfo[2][1], 1);
  // Not wanted for other outputs or with the size search.
  TImg png;
  ASSERT_EQ(LoadPicture(e, png.I, {}, false, false, nullptr, false, OUTPUT_PNG, Formats, ColorManagement), 1);
  EXPECT_FALSE(png.I.HasJPEGQualityInfo);
  Formats.JPEG.UseFileSizeLimit = true;
  TImg limited;
  ASSERT_EQ(LoadPicture(e, limited.I, {}, false, false, nullptr, false, OUTPUT_JPEG, Formats, ColorManagement), 1);
  EXPECT_FALSE(limited.I.HasJPEGQualityInfo);
}

TEST_F(Loader, CMYKJPEGBecomesRGB) {
  TESSIVO_REQUIRE(HaveProgram("convert")) << "ImageMagick missing";
  const std::string path = MakeJpeg(Tmp, "cmyk.jpg", "-size 32x16 xc:red -colorspace CMYK -quality 95");
  ASSERT_FALSE(path.empty());
  TImageProbe e;
  ASSERT_TRUE(ProbeImageFile(path, e));
  TErrorLog log;
  TImg raw;
  LoadJPEGFromMemory(ReadFile(path).data(), ReadFile(path).size(), raw.I, false, 1, 0);
  ASSERT_EQ(raw.I.PixelFormat, PIXFMT_CMYK);
  std::string noProfile;
  try {
    CMS.EnsureInitialized();
  } catch (const std::exception &ex) {
    noProfile = ex.what();
  }
  TESSIVO_REQUIRE(noProfile.empty()) << "no CMYK profile (libgs-common): " << noProfile;
  TImg img;
  TTransForm transform;
  ASSERT_EQ(LoadPicture(e, img.I, {}, false, false, &transform, false, OUTPUT_PNG, Formats, ColorManagement), 1) << log.All();
  EXPECT_EQ(img.I.PixelFormat, PIXFMT_BGR);
  EXPECT_EQ(img.I.Channels, 3u);
  const auto p = PixelAt(img.I, 5, 5);
  EXPECT_GT(p[2], 180) << p[0] << " " << p[1] << " " << p[2];  // red stays red
  EXPECT_LT(p[1], 90);
  EXPECT_LT(p[0], 90);
}

TEST_F(Loader, ExifAndExtraMarkersTravelWithTheImage) {
  TESSIVO_REQUIRE(HaveProgram("convert") && HaveProgram("exiftool")) << "ImageMagick or exiftool missing";
  const std::string path = MakeJpeg(Tmp, "exif.jpg", "-size 20x10 xc:green -set comment note");
  ASSERT_FALSE(path.empty());
  ASSERT_TRUE(RunCommand("exiftool -overwrite_original -Orientation=6 -n -Software=x " + path));
  TImageProbe e;
  ASSERT_TRUE(ProbeImageFile(path, e));
  ASSERT_TRUE(e.FHasExif);
  EXPECT_EQ(e.FOrientation, 6);
  Formats.Metadata.KeepAllExtraMarker = 1;
  Formats.JPEG.AddExifInfo = true;
  TImg img;
  ASSERT_EQ(LoadPicture(e, img.I, {}, true, true, nullptr, false, OUTPUT_JPEG, Formats, ColorManagement), 1);
  ASSERT_NE(img.I.ExifInfo, nullptr);
  EXPECT_GT(img.I.ExifLen, 20u);
  EXPECT_EQ(img.I.ExifInfo[0], 0xFF);
  EXPECT_EQ(img.I.MarkerCount, 1u);  // the comment
  // PNG output carries it in its eXIf chunk; BMP output has no place for it.
  TImg png;
  ASSERT_EQ(LoadPicture(e, png.I, {}, true, true, nullptr, false, OUTPUT_PNG, Formats, ColorManagement), 1);
  EXPECT_NE(png.I.ExifInfo, nullptr);
  TImg bmp;
  ASSERT_EQ(LoadPicture(e, bmp.I, {}, true, true, nullptr, false, OUTPUT_BMP, Formats, ColorManagement), 1);
  EXPECT_EQ(bmp.I.ExifInfo, nullptr);
}

// A damaged file raises "Loadに失敗しました (reason)" with the decoder's or the
// codec library's reason and writes nothing to the log itself: the worker
// puts the file name in front and logs the one line.
TEST_F(Loader, DamagedFilesRaiseTheirReasonAndLogNothing) {
  const std::string dir = TestDataDir("pngsuite");
  TESSIVO_REQUIRE(!dir.empty() && HaveProgram("convert")) << "no pngsuite or ImageMagick";
  const std::string jpg = MakeJpeg(Tmp, "whole.jpg", "-size 64x64 plasma:");
  ASSERT_FALSE(jpg.empty());
  auto bytes = ReadFile(jpg);
  const std::string failed = std::string(LOAD_FAILED_MSG) + " (";
  // Probe the whole file, then cut it: the decode must fail, not crash.
  struct Case {
    std::string Name;
    std::vector<uint8_t> Bytes;
    std::string Reason;  // how the detail starts
  };
  const auto png = ReadFile(dir + "/basn2c08.png");
  auto bmp = SmallBmp();
  const std::vector<Case> cases = {{"cut.jpg", {bytes.begin(), bytes.begin() + 200}, "JPEG: "},
                                   {"cut.png", {png.begin(), png.begin() + 80}, "PNG: "},
                                   {"cut.bmp", {bmp.begin(), bmp.begin() + 56}, BMP_BROKEN_MSG}};
  for (auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TErrorLog log;
    WriteFile(Tmp / c.Name, c.Bytes);
    TImageProbe e;
    ASSERT_TRUE(ProbeImageFile(Tmp / c.Name, e));
    TImg img;
    EXPECT_EQ(LoadFailure(e, img).rfind(failed + c.Reason, 0), 0u) << LoadFailure(e, img);
    EXPECT_EQ(img.I.Mem, nullptr);
    EXPECT_EQ(log.All(), "");
  }
  // A file cut short, emptied or removed after probing: the read takes what is there.
  const auto loadForJPEG = [this](TImageProbe &e, TImg &img) -> std::string {
    try {
      LoadPicture(e, img.I, {}, false, true, nullptr, false, OUTPUT_JPEG, Formats, ColorManagement);
    } catch (const ETessivoError &x) {
      return x.what();
    }
    return {};
  };
  struct Change {
    int64_t Keep;  // bytes left, -1: the file is removed
    std::string Reason;
  };
  for (const Change &c : {Change{200, "JPEG: "}, Change{0, "ファイルが空です)"}, Change{-1, "ファイルを開けません ("}}) {
    SCOPED_TRACE(c.Keep);
    TErrorLog log;
    TImageProbe e;
    ASSERT_TRUE(ProbeImageFile(jpg, e));
    if (c.Keep < 0) std::filesystem::remove(jpg);
    else std::filesystem::resize_file(jpg, uint64_t(c.Keep));
    TImg img;
    const std::string what = loadForJPEG(e, img);
    EXPECT_EQ(what.rfind(failed + c.Reason, 0), 0u) << what;
    EXPECT_EQ(img.I.Mem, nullptr);
    EXPECT_EQ(img.I.ExifInfo, nullptr);
    EXPECT_EQ(log.All(), "");
    WriteFile(jpg, bytes);
  }
}

TEST_F(Loader, ListThumbnailsAreReducedAndCached) {
  TESSIVO_REQUIRE(HaveProgram("convert")) << "ImageMagick missing";
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  const std::string path = MakeJpeg(Tmp, "wide.jpg", "-size 1000x400 gradient:yellow-navy");
  ASSERT_FALSE(path.empty());
  TImageProbe e;
  ASSERT_TRUE(ProbeImageFile(path, e));
  // The thumbnail maker reduces on its own engine, never on the program-wide
  // one that batch workers copy.
  CreateProgramResizers(1);
  const uint64_t programWide = ThumbnailResizer->RebuildCount();
  std::unique_ptr<TResizer> own(ThumbnailResizer->CreateMTResizer());
  TListThumbnailOptions withOwn;
  withOwn.Resizer = own.get();
  TImg thumb;
  ASSERT_NO_THROW(MakeListThumbnail(thumb.I, e, withOwn));
  EXPECT_EQ(own->RebuildCount(), 1u);
  EXPECT_EQ(ThumbnailResizer->RebuildCount(), programWide);
  own.reset();
  FreeProgramResizers();
  EXPECT_EQ(thumb.I.Width, 160u);
  EXPECT_EQ(thumb.I.Height, 64u);
  EXPECT_EQ(thumb.I.BPP, BPP_8);
  ASSERT_FALSE(e.CachedThumbnail.empty());
  // The cached one serves even when the file is gone.
  std::filesystem::remove(path);
  TImg again;
  ASSERT_NO_THROW(MakeListThumbnail(again.I, e, {}));
  EXPECT_EQ(again.I.Width, 160u);
  // Larger list sizes; small pictures are shown as they are and not cached.
  const std::string small = MakeJpeg(Tmp, "small.jpg", "-size 100x50 xc:red");
  TImageProbe s;
  ASSERT_TRUE(ProbeImageFile(small, s));
  TImg st;
  ASSERT_NO_THROW(MakeListThumbnail(st.I, s, {2}));
  EXPECT_EQ(st.I.Width, 100u);
  EXPECT_TRUE(s.CachedThumbnail.empty());
  EXPECT_EQ(ListThumbnailSide(1), 160u);
  EXPECT_EQ(ListThumbnailSide(2), 320u);
  EXPECT_EQ(ListThumbnailSide(3), 640u);
}

TEST_F(Loader, ListThumbnailPrefersTheExifThumbnail) {
  TESSIVO_REQUIRE(HaveProgram("convert") && HaveProgram("exiftool")) << "ImageMagick or exiftool missing";
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  const std::string path = MakeJpeg(Tmp, "withthumb.jpg", "-size 800x600 xc:white");
  const std::string th = MakeJpeg(Tmp, "t.jpg", "-size 120x90 xc:black");
  ASSERT_FALSE(path.empty());
  ASSERT_FALSE(th.empty());
  ASSERT_TRUE(RunCommand("exiftool -overwrite_original '-ThumbnailImage<=" + th + "' " + path));
  TImageProbe e;
  ASSERT_TRUE(ProbeImageFile(path, e));
  ASSERT_GT(e.FThumbnailPos, 0);
  TImg thumb;
  ASSERT_NO_THROW(MakeListThumbnail(thumb.I, e, {1}));
  EXPECT_EQ(thumb.I.Width, 120u);  // the embedded one, black
  EXPECT_LT(PixelAt(thumb.I, 10, 10)[1], 30);
  TImg ignored;
  TListThumbnailOptions o;
  o.IgnoreEmbeddedThumbnail = true;
  ASSERT_NO_THROW(MakeListThumbnail(ignored.I, e, o));
  EXPECT_EQ(ignored.I.Width, 160u);
  EXPECT_GT(PixelAt(ignored.I, 10, 10)[1], 220);
}

}  // namespace

namespace {

// The imaging service delivers rows top-down and 16-bit colour red first;
// the loader turns both around. CMYK TIFFs of either depth become RGB.
TEST_F(Loader, WICSourcesComeOutBottomUpInBlueGreenRedOrder) {
  TESSIVO_REQUIRE(HaveProgram("convert")) << "ImageMagick missing";
  TESSIVO_REQUIRE(WICExtensionList().find(".tif,") != std::string::npos) << "no TIFF reader";
  struct Case {
    const char *Name;
    const char *Args;
    uint32_t BPP;
  };
  const std::string draw = "-size 6x4 xc:blue -fill red -draw 'point 0,0' ";
  bool cmykReady = true;
  try {
    CMS.EnsureInitialized();
  } catch (const std::exception &) {
    cmykReady = false;
  }
  for (const Case &c : {Case{"rgb8.tif", "-depth 8", BPP_8}, Case{"rgb16.tif", "-depth 16", BPP_16},
                        Case{"cmyk8.tif", "-colorspace CMYK -depth 8", BPP_8},
                        Case{"cmyk16.tif", "-colorspace CMYK -depth 16", BPP_8}, Case{"pal.gif", "", BPP_8}}) {
    SCOPED_TRACE(c.Name);
    const bool cmyk = std::string(c.Name).starts_with("cmyk");
    if (cmyk && !cmykReady) continue;
    const std::string path = MakeJpeg(Tmp, c.Name, draw + c.Args);
    ASSERT_FALSE(path.empty());
    TErrorLog log;
    TImageProbe e;
    ASSERT_TRUE(ProbeImageFile(path, e));
    EXPECT_EQ(e.PictureFormat, PICTURE_WIC);
    EXPECT_EQ(e.Width, 6);
    TImg img;
    ASSERT_EQ(LoadPicture(e, img.I, {}, false, false, nullptr, false, OUTPUT_PNG, Formats, ColorManagement), 1) << log.All();
    EXPECT_EQ(img.I.BPP, c.BPP);
    const auto red = PixelAt(img.I, 0, 0), blue = PixelAt(img.I, 5, 3);
    // Through a press CMYK profile pure blue comes back duller.
    EXPECT_GT(red[2], 200);
    EXPECT_LT(red[0], 80);
    EXPECT_GT(blue[0], 120);
    EXPECT_LT(blue[2], 90);
    EXPECT_GT(blue[0], blue[2] + 60);
    // The list thumbnail takes its own way through depth and CMYK.
    TImg thumb;
    ASSERT_NO_THROW(MakeListThumbnail(thumb.I, e, {})) << log.All();
    EXPECT_EQ(thumb.I.BPP, BPP_8);
    const auto tr = PixelAt(thumb.I, 0, 0), tb = PixelAt(thumb.I, 5, 3);
    EXPECT_GT(tr[2], 200);
    EXPECT_LT(tr[0], 80);
    EXPECT_GT(tb[0], tb[2] + 60);
  }
}

}  // namespace

namespace {

// Workers load at once: the codec library calls back on each worker's own
// thread, so every failed file raises with its own reason and no other's,
// the same reason it gives when loaded alone, and nothing goes to the log.
TEST_F(Loader, ConcurrentLoadsRaiseEachFileItsOwnReason) {
  const std::string dir = TestDataDir("pngsuite");
  TESSIVO_REQUIRE(!dir.empty()) << "no pngsuite";
  const auto files = ListFiles(dir, ".png");
  const auto loadAll = [&files](size_t First, size_t Step, std::vector<std::string> &Reasons) {
    for (size_t i = First; i < files.size(); i += Step) {
      TImageProbe e;
      if (!ProbeImageFile(files[i].string(), e)) continue;
      TImg img;
      Reasons[i] = LoadFailure(e, img);
    }
  };
  std::vector<std::string> alone(files.size()), together(files.size());
  loadAll(0, 1, alone);
  TErrorLog log;
  std::vector<std::thread> workers;
  for (size_t t = 0; t < 4; ++t) workers.emplace_back([&, t] { loadAll(t, 4, together); });
  for (auto &w : workers) w.join();
  EXPECT_EQ(log.All(), "");
  int failed = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].filename().string());
    EXPECT_EQ(together[i], alone[i]);
    if (together[i].empty()) continue;
    ++failed;
    EXPECT_EQ(files[i].filename().string()[0], 'x');
    EXPECT_EQ(together[i].rfind(std::string(LOAD_FAILED_MSG) + " (PNG: ", 0), 0u) << together[i];
  }
  EXPECT_GT(failed, 5);
}

}  // namespace
