// The Exif blocks we write, read back by exiftool: the save-time patch of a
// JPEG's Exif, the console tool's rebuild, and the block the codec library
// makes for a non-JPEG source. exiftool must find every value we meant, every
// tag we did not touch as it was, and no problem the source did not have.
#include "io/ExifJpeg.h"
#include "io/ExifReader.h"
#include "io/tests/ExifTestUtil.h"
#include "io/ImageProbe.h"
#include "io/JpegSegment.h"
#include "io/Pixio.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

extern char **environ;

using namespace exiftiff;
namespace fs = std::filesystem;

namespace {

const std::string Exiftool = TESSIVO_EXIFTOOL;

struct TImgGuard {
  TICCImgInfo Img;
  ~TImgGuard() { FreeICCImgInfo(Img, false); }
};

// Runs exiftool with Args (no shell) and returns what it printed on standard output.
std::string RunExiftool(const std::vector<std::string> &Args) {
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(Exiftool.c_str()));
  for (const auto &a : Args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  int fds[2];
  if (pipe(fds) != 0) return {};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_addclose(&fa, fds[0]);
  posix_spawn_file_actions_addclose(&fa, fds[1]);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, Exiftool.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  std::string out;
  if (rc == 0) {
    char buf[65536];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    int status = 0;
    waitpid(pid, &status, 0);
  }
  close(fds[0]);
  return out;
}

void WriteFile(const fs::path &P, std::span<const uint8_t> Bytes) {
  std::ofstream f(P, std::ios::binary);
  f.write(reinterpret_cast<const char *>(Bytes.data()), std::streamsize(Bytes.size()));
}

std::vector<uint8_t> ReadFile(const fs::path &P) {
  std::ifstream f(P, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// What exiftool reads from a file: "Group:Tag" -> value (numbers as stored),
// and the problems its validation reports.
struct TTags {
  std::map<std::string, std::string> Values;
  std::set<std::string> Warnings;

  bool Has(const std::string &Key) const { return Values.count(Key) != 0; }
  std::string operator[](const std::string &Key) const {
    const auto it = Values.find(Key);
    return it == Values.end() ? "(missing)" : it->second;
  }
  // The tags of one group.
  std::map<std::string, std::string> Group(const std::string &G) const {
    std::map<std::string, std::string> r;
    for (const auto &[k, v] : Values)
      if (k.starts_with(G + ":")) r[k] = v;
    return r;
  }
};

// The "-Group:Tag=value" lines exiftool prints with -args.
std::vector<std::pair<std::string, std::string>> ParseArgs(const std::string &Out) {
  std::vector<std::pair<std::string, std::string>> r;
  size_t i = 0;
  while (i < Out.size()) {
    size_t j = Out.find('\n', i);
    if (j == std::string::npos) j = Out.size();
    const std::string line = Out.substr(i, j - i);
    i = j + 1;
    const size_t eq = line.find('=');
    if (line.size() >= 2 && line[0] == '-' && eq != std::string::npos)
      r.emplace_back(line.substr(1, eq - 1), line.substr(eq + 1));
  }
  return r;
}

TTags ReadTags(const fs::path &File) {
  TTags t;
  for (const auto &[key, value] : ParseArgs(RunExiftool({"-args", "-G1", "-a", "-u", "-n", "-all", "-validate",
                                                         "-warning", "-error", File.string()}))) {
    if (key == "ExifTool:Warning" || key == "ExifTool:Error") t.Warnings.insert(value);
    else if (!key.starts_with("File:") && !key.starts_with("System:") && !key.starts_with("ExifTool:") &&
             !key.starts_with("Composite:"))
      t.Values[key] = value;
  }
  return t;
}

// Problems exiftool reports in Out that it did not report in Source.
std::set<std::string> NewWarnings(const TTags &Source, const TTags &Out) {
  std::set<std::string> r;
  for (const auto &w : Out.Warnings)
    if (!Source.Warnings.count(w)) r.insert(w);
  return r;
}

std::string Join(const std::set<std::string> &S) {
  std::string r;
  for (const auto &s : S) r += s + "\n";
  return r;
}

// Tags of Source that Out reads differently or lacks, leaving out the keys
// we changed on purpose and whole groups we dropped.
std::string Differences(const TTags &Source, const TTags &Out, const std::set<std::string> &Changed,
                        const std::set<std::string> &DroppedGroups = {}) {
  std::string r;
  for (const auto &[k, v] : Source.Values) {
    if (Changed.count(k) || DroppedGroups.count(k.substr(0, k.find(':')))) continue;
    if (Out[k] != v) r += k + ": " + v + " -> " + Out[k] + "\n";
  }
  return r;
}

// Width and height of the thumbnail exiftool extracts from a file, measured by exiftool again.
std::string ThumbnailSize(const fs::path &File, const fs::path &Dir) {
  const std::string bytes = RunExiftool({"-b", "-ThumbnailImage", File.string()});
  const fs::path t = Dir / (File.stem().string() + "-thumb.jpg");
  WriteFile(t, std::span(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()));
  std::string size;
  for (const auto &[key, value] : ParseArgs(RunExiftool({"-args", "-n", "-ImageWidth", "-ImageHeight", t.string()})))
    size += (size.empty() ? "" : " x ") + value;
  return size;
}

// An Exif maker note laid out as the make "Canon" writes it: a bare IFD whose
// value offsets count from the TIFF header, so that it reads right only at
// the offset it was written for.
std::vector<uint8_t> CanonMakerNote(const TTiffBuilder &B, uint32_t At) {
  const std::pair<uint16_t, std::string> tags[] = {
      {0x0006, "IMG:TEST JPEG"}, {0x0007, "Firmware Version 1.0.0"}, {0x0009, "Exif Tester"}};
  std::vector<uint8_t> ifd, values;
  B.Put16(ifd, 3);
  const uint32_t valueAt = At + 2 + 3 * 12 + 4;
  for (const auto &[tag, text] : tags) {
    B.Put16(ifd, tag);
    B.Put16(ifd, TYPE_ASCII);
    B.Put32(ifd, uint32_t(text.size() + 1));
    B.Put32(ifd, uint32_t(valueAt + values.size()));
    values.insert(values.end(), text.begin(), text.end());
    values.push_back(0);
    if (values.size() & 1) values.push_back(0);
  }
  B.Put32(ifd, 0);
  ifd.insert(ifd.end(), values.begin(), values.end());
  return ifd;
}

// A camera's Exif built in code (little-endian): IFD0, an Exif IFD with a
// maker note (behind everything else, or among the Exif IFD's values as most
// cameras write it), Interoperability and GPS IFDs, and IFD1 with a real
// 160 x 100 JPEG thumbnail (no IFD1 without a thumbnail).
std::vector<uint8_t> CameraStructure(const std::vector<uint8_t> &Thumbnail, bool NoteBehind = true) {
  TTiffBuilder b(false);
  const int exif = b.AddIfd(), interop = b.AddIfd(), gps = b.AddIfd();
  b.Ifds[0].Entries = {b.Ascii(0x010F, "Canon"),
                       b.Ascii(0x0110, "Test Model"),
                       b.Short(TAG_ORIENTATION, 6),
                       b.Rational(TAG_X_RESOLUTION, {300, 1}),
                       b.Rational(TAG_Y_RESOLUTION, {300, 1}),
                       b.Short(TAG_RESOLUTION_UNIT, 2),
                       b.Ascii(TAG_SOFTWARE, "Camera Firmware 1.0"),
                       b.Ascii(0x0132, "2010:05:06 07:08:09"),
                       b.Short(0x0213, 1),
                       b.Pointer(TAG_EXIF_IFD, exif),
                       b.Pointer(TAG_GPS_IFD, gps)};
  TTestEntry note = b.Undefined(TAG_MAKER_NOTE, std::vector<uint8_t>(CanonMakerNote(b, 0).size(), 0xEE));
  b.Ifds[exif].Entries = {b.Rational(0x829A, {1, 125}),
                          b.Rational(0x829D, {28, 10}),
                          b.Undefined(0x9000, Bytes("0230")),
                          b.Ascii(TAG_DATE_TIME_ORIGINAL, "2010:05:06 07:08:09"),
                          b.Ascii(0x9004, "2010:05:06 07:08:09"),
                          b.Undefined(0x9101, {1, 2, 3, 0}),
                          note,
                          b.Undefined(0xA000, Bytes("0100")),
                          b.Short(TAG_COLOR_SPACE, 1),
                          b.Short(TAG_PIXEL_X_DIMENSION, 320),
                          b.Short(TAG_PIXEL_Y_DIMENSION, 200),
                          b.Pointer(TAG_INTEROP_IFD, interop)};
  b.Ifds[interop].Entries = {b.Ascii(0x0001, "R98"), b.Undefined(0x0002, Bytes("0100"))};
  b.Ifds[gps].Entries = {TTestEntry{TAG_GPS_VERSION_ID, TYPE_BYTE, 4, {2, 3, 0, 0}},
                         b.Ascii(0x0001, "N"),
                         b.Rational(0x0002, {35, 1, 40, 1, 3012, 100}),
                         b.Ascii(0x0003, "E"),
                         b.Rational(0x0004, {139, 1, 45, 1, 0, 1}),
                         b.Ascii(0x001D, "2010:05:06")};
  if (!Thumbnail.empty()) {
    const int ifd1 = b.AddIfd();
    b.Blobs.push_back(Thumbnail);
    b.Ifds[0].Next = ifd1;
    b.Ifds[ifd1].Entries = {b.Short(TAG_COMPRESSION, 6),
                            b.Short(TAG_ORIENTATION, 6),
                            b.Rational(TAG_X_RESOLUTION, {72, 1}),
                            b.Rational(TAG_Y_RESOLUTION, {72, 1}),
                            b.Short(TAG_RESOLUTION_UNIT, 2),
                            b.BlobPointer(TAG_JPEG_IF_OFFSET, 0),
                            b.Long(TAG_JPEG_IF_LENGTH, uint32_t(Thumbnail.size()))};
  }
  auto &n = b.Ifds[exif].Entries[6];
  if (NoteBehind) {
    const uint32_t at = uint32_t(b.Build().size() + 64);
    n.Value = CanonMakerNote(b, at);
    n.FixedOffset = int32_t(at);
  } else {
    // Where the builder puts the value: found by its placeholder bytes.
    const auto draft = b.Build();
    const auto at = std::search(draft.begin(), draft.end(), n.Value.begin(), n.Value.end()) - draft.begin();
    n.Value = CanonMakerNote(b, uint32_t(at));
  }
  return b.Build();
}

class ExiftoolRoundTrip : public ::testing::Test {
protected:
  void SetUp() override {
    TESSIVO_REQUIRE(!Exiftool.empty() && fs::exists(Exiftool)) << "exiftool is not installed";
    Dir = fs::temp_directory_path() / ("exiftool-test-" + std::to_string(getpid()));
    fs::create_directories(Dir);
  }
  void TearDown() override {
    if (!Dir.empty()) fs::remove_all(Dir);
  }

  // The image of the source: 320 x 200, and its 160 x 100 thumbnail (4:4:4 at
  // quality 95, so that a re-encoded one fits into its length).
  std::vector<uint8_t> SourceThumbnail() const {
    TImgGuard img{MakeTestImage(320, 200)};
    return MakeExifThumbnail(img.Img, nullptr, nullptr, 95, 1, 1, 0xFFFF);
  }

  // Source 1: a camera JPEG whose Exif we build ourselves.
  fs::path BuiltSource(bool NoteBehind = true) const {
    const auto payload = ExifPayload(CameraStructure(SourceThumbnail(), NoteBehind));
    TImgGuard img{MakeTestImage(320, 200)};
    TJpegEncodeParams p;
    p.Quality = 90, p.App1 = payload.data(), p.App1Len = payload.size();
    std::vector<uint8_t> jpeg;
    EXPECT_TRUE(EncodeJpegToMemory(img.Img, p, jpeg, 1 << 24));
    const fs::path f = Dir / "built.jpg";
    WriteFile(f, jpeg);
    return f;
  }

  // Exif of exiftool's own layout, big-endian, written into File by exiftool.
  static void WriteCameraTags(const fs::path &File, const fs::path &Thumbnail) {
    std::vector<std::string> args = {
        "-q", "-overwrite_original", "-ExifByteOrder=Big-endian", "-Make=TestCam", "-Model=T1",
        "-IFD0:Orientation#=8", "-IFD0:XResolution=240", "-IFD0:YResolution=240", "-IFD0:ResolutionUnit#=2",
        "-IFD0:Software=Camera Firmware 1.0", "-ExifIFD:DateTimeOriginal=2010:05:06 07:08:09",
        "-ExifIFD:ColorSpace#=1", "-ExifIFD:ExifImageWidth#=320", "-ExifIFD:ExifImageHeight#=200",
        "-GPSLatitude=35.5", "-GPSLatitudeRef=N", "-GPSLongitude=139.75", "-GPSLongitudeRef=E", "-GPSAltitude=12"};
    if (!Thumbnail.empty()) args.push_back("-ThumbnailImage<=" + Thumbnail.string());
    args.push_back(File.string());
    RunExiftool(args);
  }

  // Source 2: a plain JPEG into which exiftool writes its Exif with a thumbnail.
  fs::path ExiftoolSource() const {
    TImgGuard img{MakeTestImage(320, 200)};
    TJpegEncodeParams p;
    p.Quality = 90;
    std::vector<uint8_t> jpeg;
    EXPECT_TRUE(EncodeJpegToMemory(img.Img, p, jpeg, 1 << 24));
    const fs::path f = Dir / "tool.jpg", thumb = Dir / "tool-source-thumb.jpg";
    WriteFile(f, jpeg);
    WriteFile(thumb, SourceThumbnail());
    WriteCameraTags(f, thumb);
    return f;
  }

  // The re-encoded output of Img carrying the APP1 payload.
  fs::path Save(const std::vector<uint8_t> &Payload, const TICCImgInfo &Img, const std::string &Name) const {
    TJpegEncodeParams p;
    p.Quality = 85, p.App1 = Payload.data(), p.App1Len = Payload.size();
    std::vector<uint8_t> jpeg;
    EXPECT_TRUE(EncodeJpegToMemory(Img, p, jpeg, 1 << 24));
    const fs::path f = Dir / Name;
    WriteFile(f, jpeg);
    return f;
  }

  // What a save of the upright 200 x 320 image at 96 dpi with GPS blanked
  // shows: orientation reset, resolution, software, size, the GPS directory
  // down to its version and a JPEG thumbnail.
  static void ExpectUprightAt96(const TTags &after) {
    EXPECT_EQ(after["IFD0:Orientation"], "1");
    EXPECT_EQ(after["IFD0:XResolution"], "96");
    EXPECT_EQ(after["IFD0:ResolutionUnit"], "2");
    EXPECT_EQ(after["IFD0:Software"], "TessivoPlus");
    EXPECT_EQ(after["ExifIFD:ExifImageWidth"], "200");
    EXPECT_EQ(after["ExifIFD:ExifImageHeight"], "320");
    EXPECT_EQ(after.Group("GPS"), (std::map<std::string, std::string>{{"GPS:GPSVersionID", "2 2 0 0"}}));
    EXPECT_EQ(after["IFD1:Compression"], "6");
  }

  // The save of a non-JPEG source: the carrier's Exif patched and given an
  // appended thumbnail IFD, for the upright 200 x 320 image.
  void ExpectSavedNonJpeg(const TTags &Before, const uint8_t *Carrier, size_t CarrierLen, const std::string &Name) {
    TImageProbe e;  // FExifPos 0: the source is no JPEG
    e.FPath = Name;
    TImgGuard rotated{MakeTestImage(200, 320)};
    TExifSaveOptions opt;
    opt.Resolution = 96;
    opt.DeleteGPSInfoIFD = true;
    const auto payload = GetExifInfo(e, Carrier, CarrierLen, true, rotated.Img, nullptr, true, true, nullptr, opt);
    ASSERT_GT(payload.size(), 6u);
    const fs::path out = Save(payload, rotated.Img, Name + "-saved.jpg");
    const TTags after = ReadTags(out);
    ExpectUprightAt96(after);
    EXPECT_EQ(after["IFD1:Orientation"], "1");
    EXPECT_EQ(after["IFD1:XResolution"], "96");
    EXPECT_EQ(after["IFD1:YResolution"], "96");
    EXPECT_EQ(after["IFD1:ResolutionUnit"], "2");
    EXPECT_EQ(ThumbnailSize(out, Dir), "100 x 160");
    for (const char *k :
         {"IFD0:Make", "IFD0:Model", "ExifIFD:DateTimeOriginal", "ExifIFD:ColorSpace", "Canon:OwnerName"})
      EXPECT_EQ(after[k], Before[k]) << k;
    EXPECT_EQ(Join(NewWarnings(Before, after)), "");
  }

  fs::path Dir;
};

// A 320 x 200 RGB TIFF of a camera's tags: IFD0 image and camera tags, an
// Exif IFD and a GPS IFD.
std::vector<uint8_t> CameraTiff() {
  TTiffBuilder b(false);
  const int exif = b.AddIfd(), gps = b.AddIfd();
  const uint32_t w = 320, h = 200;
  std::vector<uint8_t> pixels(size_t(w) * h * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7);
  b.Blobs.push_back(pixels);
  TTestEntry bits{0x0102, TYPE_SHORT, 3, {}};
  for (int i = 0; i < 3; ++i) b.Put16(bits.Value, 8);
  b.Ifds[0].Entries = {b.Long(0x0100, w),
                       b.Long(0x0101, h),
                       bits,
                       b.Short(TAG_COMPRESSION, 1),
                       b.Short(0x0106, 2),
                       b.Ascii(0x010F, "TestCam"),
                       b.Ascii(0x0110, "T1"),
                       b.BlobPointer(0x0111, 0),
                       b.Short(TAG_ORIENTATION, 6),
                       b.Short(0x0115, 3),
                       b.Long(0x0116, h),
                       b.Long(0x0117, uint32_t(pixels.size())),
                       b.Rational(TAG_X_RESOLUTION, {300, 1}),
                       b.Rational(TAG_Y_RESOLUTION, {300, 1}),
                       b.Short(0x011C, 1),
                       b.Short(TAG_RESOLUTION_UNIT, 2),
                       b.Ascii(TAG_SOFTWARE, "Camera Firmware 1.0"),
                       b.Ascii(0x0132, "2010:05:06 07:08:09"),
                       b.Short(0x0213, 1),
                       b.Pointer(TAG_EXIF_IFD, exif),
                       b.Pointer(TAG_GPS_IFD, gps)};
  // With the tags the Exif of a JPEG requires, so that a faithful copy adds no problem.
  b.Ifds[exif].Entries = {b.Undefined(0x9000, Bytes("0232")),
                          b.Ascii(TAG_DATE_TIME_ORIGINAL, "2010:05:06 07:08:09"),
                          b.Undefined(0x9101, {1, 2, 3, 0}),
                          b.Undefined(0xA000, Bytes("0100")),
                          b.Short(TAG_COLOR_SPACE, 1),
                          b.Short(TAG_PIXEL_X_DIMENSION, uint16_t(w)),
                          b.Short(TAG_PIXEL_Y_DIMENSION, uint16_t(h))};
  b.Ifds[gps].Entries = {TTestEntry{TAG_GPS_VERSION_ID, TYPE_BYTE, 4, {2, 3, 0, 0}}, b.Ascii(0x0001, "N"),
                         b.Rational(0x0002, {35, 1, 40, 1, 3012, 100})};
  return b.Build();
}

// A 1 x 1 gray PNG with an eXIf chunk holding Exif (none when empty).
std::vector<uint8_t> GrayPngWithExif(const std::vector<uint8_t> &Exif) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  auto put32 = [](std::vector<uint8_t> &V, uint32_t X) {
    for (int i = 3; i >= 0; --i) V.push_back(uint8_t(X >> (8 * i)));
  };
  auto chunk = [&](const char *Type, const std::vector<uint8_t> &Body) {
    put32(png, uint32_t(Body.size()));
    std::vector<uint8_t> data(Type, Type + 4);
    data.insert(data.end(), Body.begin(), Body.end());
    uint32_t crc = 0xFFFFFFFF;
    for (uint8_t b : data) {
      crc ^= b;
      for (int k = 0; k < 8; ++k) crc = crc & 1 ? 0xEDB88320 ^ (crc >> 1) : crc >> 1;
    }
    png.insert(png.end(), data.begin(), data.end());
    put32(png, ~crc);
  };
  chunk("IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0, 0});
  if (!Exif.empty()) chunk("eXIf", Exif);
  // zlib stream of one stored block: filter byte 0 and the pixel 0x80, then the Adler-32.
  chunk("IDAT", {0x78, 0x01, 0x01, 0x02, 0x00, 0xFD, 0xFF, 0x00, 0x80, 0x00, 0x82, 0x00, 0x81});
  chunk("IEND", {});
  return png;
}

}  // namespace

// The main program's save: the source JPEG is probed, its Exif carried and
// patched after automatic rotation, resolution and size updates, GPS blanking
// and a new thumbnail, and written into the re-encoded output.
TEST_F(ExiftoolRoundTrip, SaveTimePatch) {
  for (const bool built : {true, false}) {
    SCOPED_TRACE(built ? "built source" : "exiftool source");
    const fs::path src = built ? BuiltSource() : ExiftoolSource();
    const TTags before = ReadTags(src);
    ASSERT_EQ(before["IFD0:Software"], "Camera Firmware 1.0");
    ASSERT_TRUE(before.Has("GPS:GPSLatitude"));
    ASSERT_TRUE(before.Has("IFD1:ThumbnailLength"));

    const auto file = ReadFile(src);
    TImageProbe e;
    e.FPath = src.string();
    ASSERT_TRUE(ProbeJPEGHeader(file.data(), file.size(), e));
    ASSERT_GT(e.FExifPos, 0);
    ASSERT_FALSE(e.FExifBroken);
    uint8_t *carrier = nullptr;
    uint32_t carrierLen = 0;
    ASSERT_TRUE(MakeExifImage(e, carrier, carrierLen, e.FExifSize, file.data() + e.FExifPos));
    // Orientation 6 or 8: the rotated image is 200 x 320.
    TImgGuard rotated{MakeTestImage(200, 320)};
    TExifSaveOptions opt;
    opt.Resolution = 96;
    opt.DeleteGPSInfoIFD = true;
    opt.UpdateExifThumbnail = true;
    const auto payload = GetExifInfo(e, carrier, carrierLen, true, rotated.Img, nullptr, true, true, nullptr, opt);
    AlignedFree(carrier);
    ASSERT_GT(payload.size(), 6u);

    const fs::path out = Save(payload, rotated.Img, src.stem().string() + "-saved.jpg");

    const TTags after = ReadTags(out);
    ExpectUprightAt96(after);
    EXPECT_EQ(after["IFD0:YResolution"], "96");
    if (before.Has("IFD1:Orientation")) {
      EXPECT_EQ(after["IFD1:Orientation"], "1");
    }
    // The new thumbnail sits in the old one's place; its length entry is unchanged.
    EXPECT_EQ(after["IFD1:ThumbnailLength"], before["IFD1:ThumbnailLength"]);
    EXPECT_EQ(ThumbnailSize(out, Dir), "100 x 160");
    EXPECT_EQ(Differences(before, after,
                          {"IFD0:Orientation", "IFD0:XResolution", "IFD0:YResolution", "IFD0:ResolutionUnit",
                           "IFD0:Software", "ExifIFD:ExifImageWidth", "ExifIFD:ExifImageHeight", "IFD1:Orientation",
                           "IFD1:ThumbnailImage"},
                          {"GPS"}),
              "");
    EXPECT_EQ(Join(NewWarnings(before, after)), "");
  }
}

// The console tool's rebuild: new orientation and colour data, everything
// else (the maker note at its offset among it) as it was.
TEST_F(ExiftoolRoundTrip, ConsoleToolRebuild) {
  struct {
    const char *Name;
    bool WithoutMakerNote, DeleteGPS, DeleteThumbnail, UpdateThumbnail;
  } cases[] = {
      {"rebuild, new thumbnail", false, false, false, true},
      {"rebuild, GPS and thumbnail dropped", false, true, true, false},
      {"compact without maker note", true, false, false, false},
  };
  TImgGuard rotated{MakeTestImage(200, 320)};
  for (const int source : {0, 1, 2}) {
    const bool built = source < 2;  // built with the maker note behind everything or inline, or by exiftool
    const fs::path src = built ? BuiltSource(source == 0) : ExiftoolSource();
    const TTags before = ReadTags(src);
    int row = 0;
    const auto file = ReadFile(src);
    const auto tiff = TExifReader::GetExifStream(file);
    ASSERT_TRUE(tiff);
    TExifReader r;
    ASSERT_TRUE(r.SetStream(*tiff));
    for (const auto &c : cases) {
      const char *names[] = {"built, note behind: ", "built, note inline: ", "exiftool: "};
      SCOPED_TRACE(std::string(names[source]) + c.Name);
      TExifInfo info;
      info.Flags =
          EXIFINFO_ORIENTATION | EXIFINFO_WHITEPOINT | EXIFINFO_PRIMARIES | EXIFINFO_COLORSPACE | EXIFINFO_GAMMA;
      info.Orientation = 1;
      info.WhitePoint = {{3127, 10000}, {3290, 10000}};
      info.PCRed = {{64, 100}, {33, 100}};
      info.PCGreen = {{21, 100}, {71, 100}};
      info.PCBlue = {{15, 100}, {6, 100}};
      info.ColorSpace = 65535;
      info.Gamma = {22, 10};
      TExifWriteOptions o;
      o.DeleteGPSInfo = c.DeleteGPS, o.DeleteThumbnail = c.DeleteThumbnail, o.UpdateThumbnail = c.UpdateThumbnail;
      o.EncodeThumbnail = [&](int32_t Q) { return MakeExifThumbnail(rotated.Img, nullptr, nullptr, Q, 2, 2, 0xFFFF); };
      const auto rebuilt = c.WithoutMakerNote ? r.WriteExifInfoWithoutMakerNote(info, o) : r.WriteExifInfo(info, o);
      const auto jpeg = ReplaceICCAndExif(file, nullptr, 0, rebuilt.data(), rebuilt.size());
      ASSERT_TRUE(jpeg);
      const fs::path out = Dir / (src.stem().string() + "-rebuilt" + std::to_string(++row) + ".jpg");
      WriteFile(out, *jpeg);

      const TTags after = ReadTags(out);
      EXPECT_EQ(after["IFD0:Orientation"], "1");
      EXPECT_EQ(after["IFD0:WhitePoint"], "0.3127 0.329");
      EXPECT_EQ(after["IFD0:PrimaryChromaticities"], "0.64 0.33 0.21 0.71 0.15 0.06");
      EXPECT_EQ(after["ExifIFD:ColorSpace"], "65535");
      EXPECT_EQ(after["ExifIFD:Gamma"], "2.2");
      EXPECT_EQ(after.Group("GPS").empty(), c.DeleteGPS);
      EXPECT_EQ(after.Group("IFD1").empty(), c.DeleteThumbnail);
      EXPECT_EQ(after.Has("IFD1:ThumbnailImage"), !c.DeleteThumbnail);
      if (c.UpdateThumbnail) {
        // Made from the upright image: upright itself.
        EXPECT_EQ(ThumbnailSize(out, Dir), "100 x 160");
        if (before.Has("IFD1:Orientation")) {
          EXPECT_EQ(after["IFD1:Orientation"], "1");
        }
      }
      std::set<std::string> changed = {"IFD0:Orientation", "IFD0:WhitePoint", "IFD0:PrimaryChromaticities",
                                       "ExifIFD:ColorSpace", "ExifIFD:Gamma"};
      if (c.UpdateThumbnail) changed.insert({"IFD1:ThumbnailImage", "IFD1:ThumbnailLength", "IFD1:Orientation"});
      changed.insert("IFD1:ThumbnailOffset");  // the layout may move it
      std::set<std::string> dropped;
      if (c.DeleteGPS) dropped.insert("GPS");
      if (c.DeleteThumbnail) dropped.insert("IFD1");
      if (c.WithoutMakerNote) dropped.insert("Canon");
      EXPECT_EQ(Differences(before, after, changed, dropped), "");
      // Kept at its offset the maker note reads as before; dropped it is gone.
      EXPECT_EQ(after["Canon:OwnerName"], built && !c.WithoutMakerNote ? "Exif Tester" : "(missing)");
      EXPECT_EQ(after.Group("Canon").empty(), !built || c.WithoutMakerNote);
      EXPECT_EQ(Join(NewWarnings(before, after)), "");
    }
  }
}

// A non-JPEG source: the carrier holds an Exif without a thumbnail, and the
// save appends a thumbnail IFD to it.
TEST_F(ExiftoolRoundTrip, AppendedThumbnailOfANonJpegSource) {
  const auto payload = ExifPayload(CameraStructure({}));
  TImgGuard img{MakeTestImage(320, 200)};
  const TTags before = ReadTags(Save(payload, img.Img, "bare.jpg"));
  ASSERT_EQ(before.Group("IFD1").size(), 0u);
  TImageProbe none;
  uint8_t *carrier = nullptr;
  uint32_t len = 0;
  ASSERT_TRUE(MakeExifImage(none, carrier, len, uint32_t(payload.size()), payload.data()));
  ExpectSavedNonJpeg(before, carrier, len, "bare");
  AlignedFree(carrier);
}

// create_exif of the codec library makes the carrier of another format's
// Exif; the save then patches it and appends the thumbnail.
TEST_F(ExiftoolRoundTrip, CreateExifOfOtherFormats) {
  std::unique_ptr<TPixio> lib;
  std::string loadError;
  try {
    lib = std::make_unique<TPixio>(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  } catch (const ELoadLibraryError &e) {
    loadError = e.what();
  }
  TESSIVO_REQUIRE(lib) << loadError;
  // The library this build makes always has it; an older one in bin/ would not.
  ASSERT_NE(lib->create_exif, nullptr) << "libpixio.so has no create_exif";
  // A 1 x 1 lossless WebP, to which exiftool adds its Exif.
  const std::vector<uint8_t> webp = {'R', 'I', 'F', 'F', 26, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'L', 13, 0, 0,
                                     0, 0x2F, 0, 0, 0, 0x10, 0x07, 0x10, 0x11, 0x11, 0x88, 0x88, 0xFE, 0x07, 0};
  struct {
    const char *Name;
    std::vector<uint8_t> File;
    bool ExiftoolTags;
  } cases[] = {
      {"camera.tif", CameraTiff(), false},
      // The camera block with its maker note: carried as it is, the note stays readable.
      {"camera.png", GrayPngWithExif(CameraStructure({})), false},
      {"camera.webp", webp, true},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.Name);
    const fs::path src = Dir / c.Name;
    WriteFile(src, c.File);
    if (c.ExiftoolTags) {
      WriteCameraTags(src, {});
      c.File = ReadFile(src);
    }
    const TTags before = ReadTags(src);
    ASSERT_EQ(before["IFD0:Software"], "Camera Firmware 1.0");
    std::vector<uint8_t> carrier(EXIF_CARRIER_SIZE);
    ASSERT_NE(lib->create_exif(carrier.data(), uint32_t(carrier.size()), c.File.data(), c.File.size(), 1), 0);
    ExpectSavedNonJpeg(before, carrier.data(), carrier.size(), src.stem().string() + src.extension().string());
  }
  // Nothing to carry: no block.
  const auto plain = GrayPngWithExif({});
  std::vector<uint8_t> carrier(EXIF_CARRIER_SIZE);
  EXPECT_EQ(lib->create_exif(carrier.data(), uint32_t(carrier.size()), plain.data(), plain.size(), 1), 0);
}
