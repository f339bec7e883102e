// The plug-in host with the test plug-ins of tests/spi/: discovery and the
// version check, the order-list merge, extension patterns, decoding through
// the BMP path, names handed over in memory, the failures of misbehaving
// plug-ins and the per-plug-in lock.
#include "io/SusiePlugin.h"

#include "core/Errors.h"
#include "core/ImgInfo.h"
#include "io/Bitmap.h"
#include "io/ImageProbe.h"
#include "io/LoadPicture.h"
#include "color/ColorManagementOption.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string SpiDir = TESSIVO_TEST_SPI_DIR;

// A TPIC picture (the test plug-ins' format) of W x H with a known pattern.
std::vector<uint8_t> MakeTPIC(uint32_t W, uint32_t H) {
  std::vector<uint8_t> b = {'T', 'P', 'I', 'C'};
  for (uint32_t v : {W, H})
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
  for (uint32_t y = 0; y < H; ++y)
    for (uint32_t x = 0; x < W; ++x) {
      b.push_back(uint8_t(x * 40));       // R
      b.push_back(uint8_t(y * 50));       // G
      b.push_back(uint8_t(100 + x + y));  // B
    }
  return b;
}

void WriteBytes(const std::string &Path, const std::vector<uint8_t> &B) {
  std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char *>(B.data()), std::streamsize(B.size()));
}

// The test plug-in's record of how it was called.
struct TCalls {
  int Supported = 0, Flag = -1, MostAtOnce = 0;
};
TCalls CallsOf(const std::string &Name) {
  TCalls c;
  void *h = ::dlopen((SpiDir + "/" + Name).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!h) return c;
  auto f = reinterpret_cast<void (*)(int *, int *, int *)>(::dlsym(h, "TestPluginCalls"));
  if (f) f(&c.Supported, &c.Flag, &c.MostAtOnce);
  ::dlclose(h);
  return c;
}
void ResetCalls(const std::string &Name) {
  void *h = ::dlopen((SpiDir + "/" + Name).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!h) return;
  if (auto f = reinterpret_cast<void (*)()>(::dlsym(h, "TestPluginReset"))) f();
  ::dlclose(h);
}

class SusieHost : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/susie-host-XXXXXX";
    Tmp = ::mkdtemp(tmpl);
  }
  void TearDown() override { fs::remove_all(Tmp); }
  std::string Tmp;
};

// Everything of the decoded picture, read back as BGR rows top-down.
std::vector<uint8_t> TopDownBGR(const TICCImgInfo &Img) {
  std::vector<uint8_t> out;
  for (uint32_t y = 0; y < Img.Height; ++y) {
    const uint8_t *row = static_cast<const uint8_t *>(Img.Mem) + size_t(Img.Height - 1 - y) * Img.Bpl;
    out.insert(out.end(), row, row + size_t(Img.Width) * 3);
  }
  return out;
}

}  // namespace

TEST_F(SusieHost, DiscoveryKeepsOnlyLibrariesThatAnswerTheirInterfaceVersion) {
  // A copy of every test plug-in, a text file posing as one, and a library of
  // another extension that must not even be looked at.
  for (const char *n : {"good.spi", "wrongversion.spi", "error.spi", "truncated.spi"})
    fs::copy_file(SpiDir + "/" + n, Tmp + "/" + n);
  std::ofstream(Tmp + "/fake.spi") << "not a library";
  fs::copy_file(SpiDir + "/good.spi", Tmp + "/good.so");
  const TFoundPlugins found = DiscoverPlugins(Tmp);
  EXPECT_EQ(found.Image, (std::vector<std::string>{"error.spi", "good.spi", "truncated.spi"}));
  EXPECT_TRUE(found.Archive.empty());

  TSusiePlugin image;
  EXPECT_FALSE(image.LoadPlugIn(Tmp + "/wrongversion.spi"));
  EXPECT_FALSE(image.Loaded());
  TArchiveSusiePlugin archive;  // an image plug-in is no archive plug-in
  EXPECT_FALSE(archive.LoadPlugIn(Tmp + "/good.spi"));
}

struct TMergeCase {
  const char *Name;
  const char *Stored;
  std::vector<std::string> Found;
  const char *Merged;
};

class SusieMerge : public ::testing::TestWithParam<TMergeCase> {};

TEST_P(SusieMerge, StoredEntriesKeepPlaceAndFlagAndNewFilesComeLastDisabled) {
  const TMergeCase &c = GetParam();
  EXPECT_EQ(FormatSPIOrder(MergeSPIOrder(ParseSPIOrder(c.Stored), c.Found)), c.Merged);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, SusieMerge,
    ::testing::Values(
        TMergeCase{"NewFileIsListedDisabled", "b.spi=1", {"a.spi", "b.spi"}, "b.spi=1,a.spi=0"},
        TMergeCase{"VanishedFileIsDropped", "gone.spi=1,a.spi=0", {"a.spi"}, "a.spi=0"},
        TMergeCase{"StoredOrderWinsOverFileOrder", "c.spi=0,a.spi=1", {"a.spi", "b.spi", "c.spi"},
                   "c.spi=0,a.spi=1,b.spi=0"},
        TMergeCase{"NothingStored", "", {"a.spi"}, "a.spi=0"},
        TMergeCase{"NameStoredTwiceKeepsItsFirstPlace", "a.spi=1,b.spi=1,a.spi=0", {"a.spi", "b.spi"},
                   "a.spi=1,b.spi=1"},
        TMergeCase{"EntryWithoutFlagIsDisabled", "a.spi", {"a.spi"}, "a.spi=0"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(SusieHost, OnlyEnabledEntriesAreLoadedInTheirOrder) {
  TSPIList list;
  list.LoadSPI(SpiDir, ParseSPIOrder("truncated.spi=1,good.spi=0,error.spi=1,missing.spi=1,wrongversion.spi=1"));
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(0)->Name(), "truncated.spi");
  EXPECT_EQ(list.Items(1)->Name(), "error.spi");
  EXPECT_EQ(FormatSPIOrder(list.Order()), "truncated.spi=1,error.spi=1");

  // The dialog loads every entry, its check mark being Enabled.
  TSPIList all;
  all.LoadSPI(SpiDir, ParseSPIOrder("good.spi=0,error.spi=1"), false);
  EXPECT_EQ(FormatSPIOrder(all.Order()), "good.spi=0,error.spi=1");
}

struct TExtCase {
  const char *Name;
  const char *File;
  bool Claimed;
};

class SusieExtensions : public SusieHost, public ::testing::WithParamInterface<TExtCase> {};

TEST_P(SusieExtensions, APluginIsAskedOnlyAboutTheExtensionsItLists) {
  const TExtCase &c = GetParam();
  TSPIList list;
  list.LoadSPI(SpiDir, ParseSPIOrder("good.spi=1"));
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items(0)->Exts(), "*.pic;");
  ResetCalls("good.spi");
  uint8_t head[SPI_HEAD_SIZE] = {'T', 'P', 'I', 'C'};
  EXPECT_EQ(list.IsSupportExt(c.File), c.Claimed);
  EXPECT_EQ(list.FindSupportSPI(c.File, head) != nullptr, c.Claimed);
  // A plug-in that does not list the extension never sees the head.
  EXPECT_EQ(CallsOf("good.spi").Supported, c.Claimed ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Patterns, SusieExtensions,
                         ::testing::Values(TExtCase{"Listed", "/x/photo.pic", true},
                                           TExtCase{"ListedInCapitals", "/x/PHOTO.PIC", true},
                                           TExtCase{"LongerExtension", "/x/photo.pict", false},
                                           TExtCase{"ShorterExtension", "/x/photo.pi", false},
                                           TExtCase{"NoExtension", "/x/pic", false},
                                           TExtCase{"ExtensionOfAFolder", "/x.pic/photo", false}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(SusieHost, AcceptingIsLeftToTheHeadAndTheFirstPluginInOrderWins) {
  TSPIList list;
  list.LoadSPI(SpiDir, ParseSPIOrder("good.spi=1"));
  uint8_t other[SPI_HEAD_SIZE] = {'G', 'I', 'F', '8'};
  EXPECT_EQ(list.FindSupportSPI("/x/a.pic", other), nullptr);
  const std::vector<uint8_t> pic = MakeTPIC(3, 2);
  EXPECT_EQ(list.FindSupportSPI2(".pic", pic), list.Items(0));
  EXPECT_EQ(list.FindSupportSPI2(".PIC", pic), list.Items(0));
}

TEST_F(SusieHost, DecodedPixelsArriveThroughTheBitmapPath) {
  TSPIList list;
  list.LoadSPI(SpiDir, ParseSPIOrder("good.spi=1"));
  const std::vector<uint8_t> pic = MakeTPIC(5, 3);
  TICCImgOwner img;
  list.Items(0)->GetPictureFromMemory(pic, *img);
  ASSERT_EQ(img->Width, 5u);
  ASSERT_EQ(img->Height, 3u);
  ASSERT_EQ(img->PixelFormat, PIXFMT_BGR);
  std::vector<uint8_t> expect;
  for (size_t i = 12; i < pic.size(); i += 3) expect.insert(expect.end(), {pic[i + 2], pic[i + 1], pic[i]});
  EXPECT_EQ(TopDownBGR(*img), expect);
}

TEST_F(SusieHost, ANameThatCannotBeHandedOverIsDecodedFromMemory) {
  TSPIList list;
  list.LoadSPI(SpiDir, ParseSPIOrder("good.spi=1"));
  TSusiePlugin *plugin = list.Items(0);
  struct TCase {
    std::string Name;
    int Flag;
  };
  const std::vector<TCase> cases = {
      {"plain.pic", SPI_INPUT_FILE},
      {"\xff\xfe-latin1-\xe9.pic", SPI_INPUT_MEMORY},  // not UTF-8
      {"caf\xc3\xa9.pic", SPI_INPUT_FILE},             // UTF-8 is handed over as it is
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = Tmp + "/" + c.Name;
    WriteBytes(path, MakeTPIC(4, 2));
    ResetCalls("good.spi");
    SusiePictureInfo info{};
    ASSERT_EQ(plugin->GetPictureInfo(path, info), SPI_SUCCESS);
    EXPECT_EQ(info.width, 4);
    EXPECT_EQ(info.height, 2);
    EXPECT_EQ(CallsOf("good.spi").Flag, c.Flag);
    TICCImgOwner img;
    plugin->GetPicture(path, *img);
    EXPECT_EQ(img->Width, 4u);
    EXPECT_EQ(CallsOf("good.spi").Flag, c.Flag);
    // The probe takes the same road.
    ProgramSPIList().LoadSPI(SpiDir, ParseSPIOrder("good.spi=1"));
    TImageProbe e;
    EXPECT_TRUE(ProbeImageFile(path, e));
    EXPECT_EQ(e.PictureFormat, PICTURE_SPI);
    EXPECT_EQ(e.Width, 4);
    EXPECT_EQ(e.FSPI, ProgramSPIList().Items(0));
    ProgramSPIList().ReleaseSPI();
  }
}

struct TFailureCase {
  const char *Name;
  const char *Plugin;
  const char *Ext;
  const char *Reason;
};

class SusieFailures : public ::testing::TestWithParam<TFailureCase> {};

TEST_P(SusieFailures, AMisbehavingPluginFailsTheDecodeWithItsReason) {
  const TFailureCase &c = GetParam();
  TSPIList list;
  list.LoadSPI(SpiDir, ParseSPIOrder(std::string(c.Plugin) + "=1,good.spi=1"));
  ASSERT_EQ(list.Count(), 2);
  const std::vector<uint8_t> pic = MakeTPIC(64, 64);
  TSusiePlugin *bad = list.FindSupportSPI2(c.Ext, pic);
  ASSERT_NE(bad, nullptr);
  ASSERT_EQ(bad->Name(), c.Plugin);
  TICCImgOwner img;
  try {
    bad->GetPictureFromMemory(pic, *img);
    ADD_FAILURE() << "no error";
  } catch (const ETessivoError &e) {
    EXPECT_NE(std::string(e.what()).find(c.Reason), std::string::npos) << e.what();
  }
  EXPECT_EQ(img->Mem, nullptr);
  // The well-behaved plug-in beside it still decodes.
  TICCImgOwner fine;
  list.FindSupportSPI2(".pic", pic)->GetPictureFromMemory(pic, *fine);
  EXPECT_EQ(fine->Width, 64u);
}

INSTANTIATE_TEST_SUITE_P(Plugins, SusieFailures,
                         ::testing::Values(TFailureCase{"ErrorResult", "error.spi", ".pie", "error.spi: broken data"},
                                           TFailureCase{"TruncatedBitmap", "truncated.spi", ".pit",
                                                        BMP_BROKEN_MSG}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(SusieHost, CallsIntoOnePluginAreSerialisedUnlessDeclaredThreadSafe) {
  for (const bool threadSafe : {false, true}) {
    SCOPED_TRACE(threadSafe ? "thread-safe" : "locked");
    TSPIList list;
    list.SetThreadSafe(threadSafe);
    list.LoadSPI(SpiDir, ParseSPIOrder("good.spi=1"));
    ResetCalls("good.spi");
    const std::vector<uint8_t> pic = MakeTPIC(8, 8);
    std::vector<std::thread> threads;
    std::atomic<int> decoded{0};
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&] {
        for (int i = 0; i < 10; ++i) {
          TICCImgOwner img;
          list.Items(0)->GetPictureFromMemory(pic, *img);
          if (img->Width == 8) ++decoded;
        }
      });
    for (auto &t : threads) t.join();
    EXPECT_EQ(decoded.load(), 40);
    if (!threadSafe) {
      EXPECT_EQ(CallsOf("good.spi").MostAtOnce, 1);
    }
  }
}

TEST_F(SusieHost, TheLoaderDecodesAPluginFileThroughTheRegisteredHost) {
  ProgramSPIList().LoadSPI(SpiDir, ParseSPIOrder("good.spi=1,error.spi=1"));
  InstallSusieHost();
  const TFormatOptions formats;
  const TColorManagementOption colorManagement;
  struct TCase {
    const char *Name;
    const char *Failure;  // empty: decodes
  };
  for (const TCase c : {TCase{"x.pic", ""}, TCase{"x.pie", "error.spi: broken data"}}) {
    SCOPED_TRACE(c.Name);
    const std::string path = Tmp + "/" + c.Name;
    WriteBytes(path, MakeTPIC(6, 4));
    TImageProbe e;
    ASSERT_TRUE(ProbeImageFile(path, e));
    EXPECT_EQ(e.PictureFormat, PICTURE_SPI);
    TICCImgOwner img;
    try {
      EXPECT_EQ(LoadPicture(e, *img, {}, false, false, nullptr, false, OUTPUT_PNG, formats, colorManagement), 1);
      EXPECT_STREQ(c.Failure, "");
      EXPECT_EQ(img->Width, 6u);
      EXPECT_EQ(img->Height, 4u);
    } catch (const ETessivoError &err) {
      EXPECT_NE(std::string(err.what()).find(c.Failure), std::string::npos) << err.what();
      EXPECT_NE(std::string(c.Failure), "") << err.what();
      EXPECT_EQ(img->Mem, nullptr);
    }
  }
  ProgramSPIList().ReleaseSPI();
}
