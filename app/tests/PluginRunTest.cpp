// Plug-ins through the real tessivo: archive members (zip, 7z, tar, cbz)
// converted or copied out like files, with members that try to climb out of
// the output folder, links, encrypted and damaged archives; a DNG decoded by
// ifraw.spi; and misbehaving plug-ins that must cost one log line each.
//
// Archives are made by outside programs (zip, 7-Zip, Python's zipfile and
// tarfile), pictures by ImageMagick, and a member's output is checked
// against the output of the same picture converted as a plain file.
#include "app/tests/TessivoFolder.h"
#include "testutil/OutsideTool.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testenv::Capture;
using testenv::ShellQuoted;
using testrun::ReadFile;

namespace {

bool Sh(const std::string &Command) { return std::system(("(" + Command + ") >/dev/null 2>&1").c_str()) == 0; }

bool HaveTool(const char *Name) { return Sh(std::string("command -v ") + Name); }

// Every regular file below Dir, relative to it.
std::set<std::string> FilesBelow(const std::string &Dir) {
  std::set<std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(Dir, ec); it != fs::recursive_directory_iterator(); ++it)
    if (it->is_regular_file() && !it->is_symlink()) files.insert(fs::relative(it->path(), Dir).string());
  return files;
}

// A photo-like picture made by ImageMagick (different per Seed).
bool MakePicture(const std::string &Path, int W, int H, int Seed) {
  const char *tones[] = {"red-blue", "yellow-navy", "white-green", "orange-purple", "cyan-maroon"};
  return Sh("convert -size " + std::to_string(W) + "x" + std::to_string(H) + " gradient:" + tones[Seed % 5] +
            " -swirl " + std::to_string(30 + 20 * Seed) + " -quality 92 " + ShellQuoted(Path));
}

class PluginRun : public testrun::TTessivoFolder<> {
protected:
  void SetUp() override {
    TTessivoFolder::SetUp();
    Src = Dir + "/p/src";
    fs::create_directories(Src);
  }
  // The converted outputs of a plain folder of the same pictures (the oracle).
  std::string Reference(const std::vector<std::pair<std::string, std::string>> &Files,
                        std::vector<std::string> Extra = {}) {
    const std::string plain = Dir + "/plain", ref = Dir + "/ref";
    for (const auto &[from, name] : Files) {
      fs::create_directories(plain);
      fs::copy_file(from, plain + "/" + name, fs::copy_options::overwrite_existing);
    }
    std::vector<std::string> args = {"--out", ref};
    args.insert(args.end(), Extra.begin(), Extra.end());
    args.push_back(plain);
    const testrun::TRun r = Run(args);
    EXPECT_EQ(r.Status, 0) << r.Err;
    return ref;
  }
  std::string Src;
};

// How one kind of archive is made from the folder Src/one/two (where the
// member "../../evil.jpg" is Src/evil.jpg).
struct TArchiveKind {
  const char *Name;
  const char *Ext;
  const char *Tool;
  // The command, run in Src/one/two, that writes the archive at $OUT with
  // the members a.jpg, sub/b.png, notes.txt, link.jpg (a link) and ../../evil.jpg.
  const char *Make;
};

class ArchiveMembers : public PluginRun, public ::testing::WithParamInterface<TArchiveKind> {};

TEST_P(ArchiveMembers, EveryImageMemberConvertsIntoTheOutputFolderAndNothingLandsOutsideIt) {
  const TArchiveKind &k = GetParam();
  TESSIVO_REQUIRE(testenv::HaveImageMagick()) << "ImageMagick";
  TESSIVO_REQUIRE(HaveTool(k.Tool)) << k.Tool;
  const std::string two = Src + "/one/two";
  fs::create_directories(two + "/sub");
  ASSERT_TRUE(MakePicture(two + "/a.jpg", 96, 64, 0));
  ASSERT_TRUE(MakePicture(two + "/sub/b.png", 40, 30, 1));
  ASSERT_TRUE(MakePicture(Src + "/evil.jpg", 50, 70, 2));
  std::ofstream(two + "/notes.txt") << "not a picture\n";
  fs::create_symlink("a.jpg", two + "/link.jpg");
  const std::string archive = Dir + "/p/photos." + k.Ext;
  ASSERT_TRUE(Sh("cd " + ShellQuoted(two) + " && export OUT=" + ShellQuoted(archive) + " && " + k.Make)) << k.Make;

  // The output folder sits deep enough that "../../evil.jpg" taken literally
  // would still land inside the test's folder, where it is looked for.
  const std::string out = Dir + "/o1/o2/out";
  const std::set<std::string> before = FilesBelow(Dir);
  const testrun::TRun r = Run({"--out", out, archive});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(FilesBelow(out), (std::set<std::string>{"a.jpg", "b.png", "evil.jpg"})) << r.Err;
  // Nothing else appeared anywhere (the run's own stderr.txt aside).
  std::set<std::string> added;
  for (const std::string &f : FilesBelow(Dir))
    if (!before.count(f) && f.rfind("o1/o2/out/", 0) != 0 && f != "stderr.txt") added.insert(f);
  EXPECT_TRUE(added.empty()) << *added.begin();

  const std::string ref = Reference({{two + "/a.jpg", "a.jpg"}, {two + "/sub/b.png", "b.png"}, {Src + "/evil.jpg", "evil.jpg"}});
  for (const char *name : {"a.jpg", "b.png", "evil.jpg"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(ReadFile(out + "/" + name).empty());
    EXPECT_EQ(ReadFile(out + "/" + name), ReadFile(ref + "/" + name));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ArchiveMembers,
    ::testing::Values(
        TArchiveKind{"Zip", "zip", "python3",
                     "python3 -c \"import zipfile,os,stat,sys\n"
                     "z=zipfile.ZipFile(os.environ['OUT'],'w')\n"
                     "[z.write(n) for n in ('a.jpg','sub/b.png','notes.txt')]\n"
                     "z.write('../../evil.jpg','../../evil.jpg')\n"
                     "i=zipfile.ZipInfo('link.jpg'); i.create_system=3; i.external_attr=(stat.S_IFLNK|0o777)<<16\n"
                     "z.writestr(i,'a.jpg')\n"
                     "z.close()\""},
        TArchiveKind{"SevenZip", "7z", "7zz", "7zz a -bso0 -snl -spf \"$OUT\" a.jpg sub/b.png notes.txt link.jpg ../../evil.jpg"},
        TArchiveKind{"GzippedTar", "tar.gz", "python3",
                     "python3 -c \"import tarfile,os\n"
                     "t=tarfile.open(os.environ['OUT'],'w:gz')\n"
                     "[t.add(n) for n in ('a.jpg','sub/b.png','notes.txt','link.jpg')]\n"
                     "t.add('../../evil.jpg','../../evil.jpg')\n"
                     "t.close()\""}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(PluginRun, AComicBookInRenameModeIsCopiedOutAsPlainFiles) {
  TESSIVO_REQUIRE(testenv::HaveImageMagick()) << "ImageMagick";
  TESSIVO_REQUIRE(HaveTool("zip")) << "zip";
  const std::string pages = Src + "/pages";
  fs::create_directories(pages + "/ch2");
  ASSERT_TRUE(MakePicture(pages + "/001.jpg", 60, 90, 0));
  ASSERT_TRUE(MakePicture(pages + "/002.png", 60, 90, 1));
  ASSERT_TRUE(MakePicture(pages + "/ch2/003.jpg", 60, 90, 3));
  const std::string cbz = Dir + "/p/book.cbz";
  ASSERT_TRUE(Sh("cd " + ShellQuoted(pages) + " && zip -q -r " + ShellQuoted(cbz) + " 001.jpg 002.png ch2"));
  const std::string out = Dir + "/out";
  const testrun::TRun r = Run({"--set", "File.RenameOnly=1", "--out", out, cbz});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(FilesBelow(out), (std::set<std::string>{"001.jpg", "002.png", "003.jpg"}));
  for (const auto &[member, name] : std::vector<std::pair<std::string, std::string>>{
           {"001.jpg", "001.jpg"}, {"002.png", "002.png"}, {"ch2/003.jpg", "003.jpg"}}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadFile(out + "/" + name), ReadFile(pages + "/" + member));  // copied byte for byte
  }
  EXPECT_TRUE(fs::exists(cbz));  // the archive stays
}

// Listing probes a JPEG member from its head; one whose frame header lies
// past that head (here behind 300 KB of comment segments) is probed from the
// whole member and converts like the file.
TEST_F(PluginRun, AJpegMemberWithItsFrameHeaderFarInIsListedAndConvertsLikeTheFile) {
  TESSIVO_REQUIRE(testenv::HaveImageMagick()) << "ImageMagick";
  TESSIVO_REQUIRE(HaveTool("zip")) << "zip";
  const std::string plain = Src + "/plain.jpg", padded = Src + "/padded.jpg";
  ASSERT_TRUE(MakePicture(plain, 120, 80, 2));
  const std::string bytes = ReadFile(plain);
  std::string comments;
  for (int i = 0; i < 6; ++i) {
    const size_t len = 50000;  // the length field counts itself
    comments += std::string("\xFF\xFE") + char(len >> 8) + char(len & 0xFF) + std::string(len - 2, char('a' + i));
  }
  std::ofstream(padded, std::ios::binary) << bytes.substr(0, 2) << comments << bytes.substr(2);
  const std::string zip = Dir + "/p/far.zip";
  ASSERT_TRUE(Sh("cd " + ShellQuoted(Src) + " && zip -q " + ShellQuoted(zip) + " padded.jpg"));
  const std::string ref = Reference({{padded, "padded.jpg"}});
  const std::string out = Dir + "/out";
  const testrun::TRun r = Run({"--out", out, zip});
  EXPECT_EQ(r.Status, 0) << r.Err;
  ASSERT_EQ(FilesBelow(out), FilesBelow(ref));
  for (const std::string &f : FilesBelow(ref)) EXPECT_EQ(ReadFile(out + "/" + f), ReadFile(ref + "/" + f)) << f;
}

class ArchiveWorkers : public PluginRun, public ::testing::WithParamInterface<bool> {};

TEST_P(ArchiveWorkers, TwoWorkersReadingOneArchiveGiveTheOutputsOfFiles) {
  TESSIVO_REQUIRE(testenv::HaveImageMagick()) << "ImageMagick";
  TESSIVO_REQUIRE(HaveTool("7zz")) << "7zz";
  // A solid 7z archive: members share one compressed stream, the hardest
  // case for readers that take turns.
  std::vector<std::pair<std::string, std::string>> files;
  for (int i = 0; i < 10; ++i) {
    const std::string name = "img" + std::to_string(i) + ".jpg";
    ASSERT_TRUE(MakePicture(Src + "/" + name, 120 + 16 * i, 90 + 8 * i, i));
    files.push_back({Src + "/" + name, name});
  }
  const std::string archive = Dir + "/p/set.7z";
  ASSERT_TRUE(Sh("cd " + ShellQuoted(Src) + " && 7zz a -bso0 -ms=on " + ShellQuoted(archive) + " img*.jpg"));
  const std::vector<std::string> opts = {"--workers", "2", "--size", "50%", "--set",
                                         std::string("SPI.ThreadSafeSPI=") + (GetParam() ? "1" : "0")};
  std::vector<std::string> args = {"--out", Dir + "/out"};
  args.insert(args.end(), opts.begin(), opts.end());
  args.push_back(archive);
  const testrun::TRun r = Run(args);
  EXPECT_EQ(r.Status, 0) << r.Err;
  const std::string ref = Reference(files, opts);
  ASSERT_EQ(FilesBelow(Dir + "/out").size(), files.size());
  for (const auto &f : files) {
    SCOPED_TRACE(f.second);
    EXPECT_EQ(ReadFile(Dir + "/out/" + f.second), ReadFile(ref + "/" + f.second));
  }
}

INSTANTIATE_TEST_SUITE_P(ThreadSafeSPI, ArchiveWorkers, ::testing::Bool(),
                         [](const auto &Info) { return std::string(Info.param ? "CallsAtOnce" : "CallsInTurn"); });

struct TBadArchiveCase {
  const char *Name;
  const char *Make;      // run in Src with good.jpg there; writes $OUT
  const char *Ext;
  const char *Expected;  // in the log line
  const char *Converted; // the output that still appears, or ""
};

class BadArchives : public PluginRun, public ::testing::WithParamInterface<TBadArchiveCase> {};

TEST_P(BadArchives, AnUnreadableMemberOrArchiveIsOneClearLineAndTheRestConverts) {
  const TBadArchiveCase &c = GetParam();
  TESSIVO_REQUIRE(testenv::HaveImageMagick()) << "ImageMagick";
  TESSIVO_REQUIRE(HaveTool("zip") && HaveTool("7zz")) << "zip and 7zz";
  ASSERT_TRUE(MakePicture(Src + "/good.jpg", 64, 48, 0));
  ASSERT_TRUE(MakePicture(Src + "/secret.jpg", 64, 48, 1));
  ASSERT_TRUE(MakePicture(Dir + "/p/loose.jpg", 32, 32, 2));
  const std::string archive = Dir + "/p/bad." + c.Ext;
  ASSERT_TRUE(Sh("cd " + ShellQuoted(Src) + " && export OUT=" + ShellQuoted(archive) + " && " + c.Make)) << c.Make;
  const testrun::TRun r = Run({"--out", Dir + "/out", archive, Dir + "/p/loose.jpg"});
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_NE(r.Err.find(c.Expected), std::string::npos) << r.Err;
  std::set<std::string> expect = {"loose.jpg"};
  if (*c.Converted) expect.insert(c.Converted);
  EXPECT_EQ(FilesBelow(Dir + "/out"), expect) << r.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadArchives,
    ::testing::Values(
        TBadArchiveCase{"EncryptedMember", "zip -q \"$OUT\" good.jpg && zip -q -P pw \"$OUT\" secret.jpg", "zip",
                        "bad/secret.jpg: 書庫から取り出せません (axarchive.spi: encrypted", "good.jpg"},
        TBadArchiveCase{"CutShort", "7zz a -bso0 \"$OUT\" good.jpg secret.jpg && truncate -s -40 \"$OUT\"", "7z",
                        "bad.7z: axarchive.spi: broken data", ""}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------
// Camera RAW through ifraw.spi

// The picture: smooth colour fields (a Bayer mosaic keeps most of a picture
// without sharp edges), 8-bit sRGB, rows top-down.
std::vector<uint8_t> RawPicture(int W, int H) {
  std::vector<uint8_t> rgb(size_t(W) * H * 3);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const double fx = double(x) / W, fy = double(y) / H;
      const double blob = std::exp(-((fx - 0.6) * (fx - 0.6) + (fy - 0.4) * (fy - 0.4)) * 12);
      uint8_t *p = &rgb[(size_t(y) * W + x) * 3];
      p[0] = uint8_t(std::lround(40 + 150 * fx + 50 * blob));
      p[1] = uint8_t(std::lround(60 + 120 * fy + 30 * blob));
      p[2] = uint8_t(std::lround(200 - 140 * (fx + fy) / 2 + 20 * blob));
    }
  return rgb;
}

double SRGBToLinear(double V) { return V <= 0.04045 ? V / 12.92 : std::pow((V + 0.055) / 1.055, 2.4); }

// A DNG of the picture as an RGGB mosaic of linear 16-bit samples whose
// camera space is linear sRGB (ColorMatrix1 is the XYZ (D65) to linear sRGB
// matrix), taken under a light that left red at 55 % and blue at 75 % of
// green: AsShotNeutral says so, and only the camera's white balance brings
// the picture back. Orientation is the TIFF tag.
bool WriteDNG(const std::string &Path, const std::vector<uint8_t> &RGB, int W, int H, int Orientation) {
  TIFF *tif = TIFFOpen(Path.c_str(), "w");
  if (!tif) return false;
  const uint8_t version[4] = {1, 4, 0, 0}, backward[4] = {1, 1, 0, 0};
  const uint16_t repeat[2] = {2, 2};
  const uint8_t cfa[4] = {0, 1, 1, 2};
  const float xyzToSRGB[9] = {3.2404542f, -1.5371385f, -0.4985314f, -0.9692660f, 1.8760108f,
                              0.0415560f, 0.0556434f,  -0.2040259f, 1.0572252f};
  const float neutral[3] = {0.55f, 1, 0.75f};
  const uint32_t white[1] = {65535};
  TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(W));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(H));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CFA);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(Orientation));
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(H));
  TIFFSetField(tif, TIFFTAG_MAKE, "Tessivo");
  TIFFSetField(tif, TIFFTAG_MODEL, "Mosaic Test");
  TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, "Tessivo Mosaic Test");
  TIFFSetField(tif, TIFFTAG_DNGVERSION, version);
  TIFFSetField(tif, TIFFTAG_DNGBACKWARDVERSION, backward);
  TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, repeat);
  TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, cfa);
  TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, xyzToSRGB);
  TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, uint16_t(21));  // D65
  TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
  TIFFSetField(tif, TIFFTAG_WHITELEVEL, 1, white);
  std::vector<uint16_t> row(static_cast<size_t>(W));
  bool ok = true;
  for (int y = 0; y < H && ok; ++y) {
    for (int x = 0; x < W; ++x) {
      const int channel = cfa[(y % 2) * 2 + (x % 2)];
      const double v = SRGBToLinear(RGB[(size_t(y) * W + x) * 3 + size_t(channel)] / 255.0);
      row[size_t(x)] = uint16_t(std::lround(v * neutral[channel] * 65535));
    }
    ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) >= 0;
  }
  TIFFClose(tif);
  return ok;
}

bool WritePPM(const std::string &Path, const std::vector<uint8_t> &RGB, int W, int H) {
  std::ofstream f(Path, std::ios::binary);
  f << "P6\n" << W << " " << H << "\n255\n";
  f.write(reinterpret_cast<const char *>(RGB.data()), std::streamsize(RGB.size()));
  return bool(f);
}

struct TRawCase {
  const char *Name;
  int Orientation;
  const char *Turn;  // ImageMagick's turn of the picture that the output must match
};

class CameraRaw : public PluginRun, public ::testing::WithParamInterface<TRawCase> {};

TEST_P(CameraRaw, ADngMosaicDecodesCloseToThePictureItWasMadeFrom) {
  const TRawCase &c = GetParam();
  TESSIVO_REQUIRE(testenv::HaveImageMagick()) << "ImageMagick";
  const int W = 160, H = 120;
  const std::vector<uint8_t> rgb = RawPicture(W, H);
  ASSERT_TRUE(WriteDNG(Src + "/mosaic.dng", rgb, W, H, c.Orientation));
  // exiftool, when there, confirms from the outside that the file is a DNG.
  if (const std::string tags = Capture("exiftool -s -s -s -DNGVersion " + ShellQuoted(Src + "/mosaic.dng"));
      !tags.empty()) {
    EXPECT_EQ(tags, "1.4.0.0\n");
  }
  ASSERT_TRUE(WritePPM(Dir + "/picture.ppm", rgb, W, H));
  const testrun::TRun r = Run({"--format", "png", "--out", Dir + "/out", Src + "/mosaic.dng"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::string out = Dir + "/out/mosaic.png";
  ASSERT_TRUE(fs::exists(out)) << r.Err;
  ASSERT_TRUE(Sh(std::string("convert ") + ShellQuoted(Dir + "/picture.ppm") + " " + c.Turn + " " +
                 ShellQuoted(Dir + "/expected.png")));
  EXPECT_EQ(Capture("identify -format %wx%h " + ShellQuoted(out)),
            Capture("identify -format %wx%h " + ShellQuoted(Dir + "/expected.png")));
  // ImageMagick's compare prints the PSNR on standard error (and exits 1 when the pictures differ).
  const std::string psnr =
      Capture("compare -metric PSNR " + ShellQuoted(out) + " " + ShellQuoted(Dir + "/expected.png") + " null: 2>&1; true");
  ASSERT_FALSE(psnr.empty());
  EXPECT_GE(std::atof(psnr.c_str()), 30.0) << psnr;
}

INSTANTIATE_TEST_SUITE_P(Orientations, CameraRaw,
                         ::testing::Values(TRawCase{"Upright", 1, ""}, TRawCase{"TurnedClockwise", 6, "-rotate 90"}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------
// Misbehaving plug-ins

TEST_F(PluginRun, EachMisbehavingPluginCostsOneLogLineAndTheOtherFilesConvert) {
  // The test plug-ins' picture format: "TPIC", width, height, RGB rows.
  auto tpic = [](const std::string &Path) {
    std::vector<uint8_t> b = {'T', 'P', 'I', 'C', 8, 0, 0, 0, 6, 0, 0, 0};
    for (int i = 0; i < 8 * 6; ++i) b.insert(b.end(), {uint8_t(i * 5), uint8_t(200 - i), 90});
    std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
  };
  const std::string in = Dir + "/p/in";
  fs::create_directories(in);
  tpic(in + "/fine.pic");
  tpic(in + "/refused.pie");
  tpic(in + "/cut.pit");
  tpic(in + "/old.piw");
  // A 1 x 1 BMP beside them, read by the program itself.
  const uint8_t bmp[58] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0,
                           1,   0,   24, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0,
                           0,   0,   0x10, 0x20, 0x30, 0};
  std::ofstream(in + "/plain.bmp", std::ios::binary).write(reinterpret_cast<const char *>(bmp), sizeof bmp);
  const testrun::TRun r =
      Run({"--set", std::string("SPI.SPIDirectory=") + TESSIVO_TEST_SPI_DIR, "--set",
           "SPI.SPIOrder=good.spi=1,error.spi=1,truncated.spi=1,wrongversion.spi=1", "--format", "png", "--out",
           Dir + "/out", in});
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_EQ(FilesBelow(Dir + "/out"), (std::set<std::string>{"fine.png", "plain.png"})) << r.Err;
  // One line for each failing file, with the plug-in's reason.
  std::map<std::string, std::string> lines;
  std::istringstream err(r.Err);
  for (std::string line; std::getline(err, line);)
    for (const char *name : {"refused.pie", "cut.pit", "old.piw", "fine.pic"})
      if (line.find(name) != std::string::npos) lines[name] += line + "\n";
  EXPECT_NE(lines["refused.pie"].find("error.spi: broken data"), std::string::npos) << r.Err;
  EXPECT_NE(lines["cut.pit"].find("画像ファイルが壊れています"), std::string::npos) << r.Err;
  EXPECT_EQ(std::count(lines["refused.pie"].begin(), lines["refused.pie"].end(), '\n'), 1) << r.Err;
  EXPECT_EQ(std::count(lines["cut.pit"].begin(), lines["cut.pit"].end(), '\n'), 1) << r.Err;
  // The plug-in with the wrong version is never loaded: its file is just no picture.
  EXPECT_EQ(lines["old.piw"], "") << r.Err;
  EXPECT_EQ(lines["fine.pic"], "") << r.Err;
  // The picture came through the plug-in and the BMP path unchanged (PNG output keeps it exactly).
  EXPECT_EQ(Capture("convert " + ShellQuoted(Dir + "/out/fine.png") + " -format '%[pixel:p{3,2}]' info:"),
            "srgb(95,181,90)");
}

}  // namespace
