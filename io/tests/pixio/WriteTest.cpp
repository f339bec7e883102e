// The encoders of the codec library: every output is read back by our own
// decoders and checked by the outside tools (jpeginfo, pngcheck, tiffinfo,
// JxrDecApp, ImageMagick's identify, exiftool) when they are installed.
#include "io/tests/pixio/PixioTestUtil.h"
#include "testutil/TestEnv.h"

#include <fcntl.h>
#include <lcms2.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

using namespace pixiotest;

namespace {

// Every failure message of the library reaches LastMessage().
class WriteEnvironment : public ::testing::Environment {
public:
  void SetUp() override { CaptureMessages(); }
};
const auto *const Environment = ::testing::AddGlobalTestEnvironment(new WriteEnvironment);

// ---- pictures ----

// Pixels in the encode record's layout: Bpl padded past the row, samples of
// Bits bits (16-bit little-endian), a smooth picture with some noise.
struct Picture {
  uint32_t Width = 0, Height = 0, Channels = 0, Bits = 8, Bpl = 0;
  std::vector<uint8_t> Mem;
  TPixioEncode Record() const {
    TPixioEncode e{};
    e.Mem = const_cast<uint8_t *>(Mem.data());
    e.Width = Width, e.Height = Height, e.Bpl = Bpl, e.Channels = Channels, e.BitsPerSample = Bits;
    return e;
  }
  uint32_t Sample(uint32_t row, uint32_t x, uint32_t c) const {  // row counted in memory order
    const uint8_t *p = Mem.data() + size_t(row) * Bpl;
    const size_t i = size_t(x) * Channels + c;
    return Bits == 16 ? uint32_t(p[2 * i] | p[2 * i + 1] << 8) : p[i];
  }
};

Picture MakePicture(uint32_t w, uint32_t h, uint32_t ch, uint32_t bits, uint32_t seed = 7, int noise = 8) {
  Picture p{w, h, ch, bits, uint32_t(((size_t(w) * ch * bits / 8 + 3) & ~size_t(3)) + 8), {}};
  p.Mem.assign(size_t(p.Bpl) * h, 0xA5);
  uint32_t r = seed * 2654435761u;
  const double max = bits == 16 ? 65535 : 255;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t c = 0; c < ch; ++c) {
        r = r * 1664525u + 1013904223u;
        double v = 0.5 + 0.35 * std::sin(x * 0.05 + c * 1.3) * std::cos(y * 0.04 - c * 0.7);
        if (c == 3) v = 0.3 + 0.6 * double(x) / w;  // alpha: a ramp
        v = v * max + (int(r >> 24) % (2 * noise + 1) - noise) * (max / 255);
        const uint32_t s = uint32_t(std::clamp(v, 0.0, max));
        uint8_t *q = p.Mem.data() + size_t(y) * p.Bpl;
        const size_t i = size_t(x) * ch + c;
        if (bits == 16) q[2 * i] = uint8_t(s), q[2 * i + 1] = uint8_t(s >> 8);
        else q[i] = uint8_t(s);
      }
  return p;
}

// ---- files and tools ----

std::string Capture(const std::string &cmd) {
  std::string out;
  if (FILE *f = popen((cmd + " 2>/dev/null").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    pclose(f);
  }
  return out;
}

// exiftool's "-s -s" lines as a map of tag name to value.
std::map<std::string, std::string> ExifTool(const std::filesystem::path &p, const std::string &args = "") {
  std::map<std::string, std::string> m;
  const std::string out = Capture("exiftool -s -s -n " + args + " " + Quote(p));
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    const size_t colon = line.find(": ");
    if (colon != std::string::npos) m.emplace(line.substr(0, colon), line.substr(colon + 2));
    at = end + 1;
  }
  return m;
}

bool IdentifyReads(const std::string &format) {
  static std::string formats = Capture("identify -list format");
  return HaveTool("identify") && formats.find(" " + format) != std::string::npos;
}

// Calls an fd encoder on a fresh file.
template <class F>
int WithFd(const std::filesystem::path &p, F &&f) {
  const int fd = open(p.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
  EXPECT_GE(fd, 0);
  const int rc = f(fd);
  close(fd);
  return rc;
}

// The decoded rows (memory order of the decoder: bottom-up for read_png and
// read_jpeg, top-down for read_wic) against the picture's rows in its own order.
size_t Differences(const Picture &p, bool pictureTopDown, const Decoded &d, bool decodedTopDown, int tolerance,
                   bool report = true) {
  EXPECT_EQ(d.D.Width, p.Width);
  EXPECT_EQ(d.D.Height, p.Height);
  if (d.D.Width != p.Width || d.D.Height != p.Height) return SIZE_MAX;
  size_t bad = 0;
  for (uint32_t y = 0; y < p.Height; ++y) {
    const uint32_t pr = pictureTopDown ? y : p.Height - 1 - y;
    const uint8_t *o = d.Row(y, decodedTopDown);
    for (uint32_t x = 0; x < p.Width; ++x)
      for (uint32_t c = 0; c < d.D.Channels; ++c) {
        uint32_t sc = p.Channels == 1 ? 0 : c;
        if (p.Channels == 2 && d.D.Channels == 4) sc = c < 3 ? 0 : 1;
        if (p.Channels == 2 && d.D.Channels == 2) sc = c;
        const uint32_t s = p.Sample(pr, x, sc);
        const size_t i = size_t(x) * d.D.Channels + c;
        const uint32_t v = d.D.BitsPerSample == 16 ? uint32_t(o[2 * i] | o[2 * i + 1] << 8) : o[i];
        const int diff = std::abs(int(v) - int(s));
        if (diff > tolerance && bad++ == 0 && report)
          ADD_FAILURE() << "first difference at " << x << "," << y << " channel " << c << ": " << v << " for " << s;
      }
  }
  return bad;
}

// ---- metadata fixtures ----

// An sRGB profile from Little CMS, padded to Size bytes (the header size follows),
// so that large profiles exercise the chunked forms.
std::vector<uint8_t> Profile(size_t size = 0) {
  cmsHPROFILE h = cmsCreate_sRGBProfile();
  cmsUInt32Number n = 0;
  cmsSaveProfileToMem(h, nullptr, &n);
  std::vector<uint8_t> d(n);
  cmsSaveProfileToMem(h, d.data(), &n);
  cmsCloseProfile(h);
  if (size > d.size()) {
    d.resize(size, 0);
    for (int i = 0; i < 4; ++i) d[size_t(i)] = uint8_t(size >> (24 - 8 * i));
  }
  return d;
}

// A TIFF structure with IFD0 (make, orientation 6, software), an Exif
// directory (exposure, ISO, date, pixel dimensions, maker note) and a GPS directory.
std::vector<uint8_t> ExifTiff(bool be) {
  struct E {
    uint16_t Tag, Type;
    uint32_t Count;
    std::vector<uint8_t> V;
  };
  auto u16 = [&](uint32_t v) {
    return be ? std::vector<uint8_t>{uint8_t(v >> 8), uint8_t(v)} : std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8)};
  };
  auto u32 = [&](uint32_t v) {
    std::vector<uint8_t> o(4);
    for (int i = 0; i < 4; ++i) o[size_t(be ? 3 - i : i)] = uint8_t(v >> (8 * i));
    return o;
  };
  auto ascii = [](uint16_t tag, const std::string &s) {
    return E{tag, 2, uint32_t(s.size() + 1), std::vector<uint8_t>(s.c_str(), s.c_str() + s.size() + 1)};
  };
  auto rational = [&](uint16_t tag, uint32_t n, uint32_t d) {
    auto v = u32(n), w = u32(d);
    v.insert(v.end(), w.begin(), w.end());
    return E{tag, 5, 1, v};
  };
  std::vector<uint8_t> out(8);
  if (be) std::memcpy(out.data(), "MM\0*", 4);
  else std::memcpy(out.data(), "II*\0", 4);
  auto writeDir = [&](std::vector<E> dir) {
    std::sort(dir.begin(), dir.end(), [](const E &a, const E &b) { return a.Tag < b.Tag; });
    const uint32_t at = uint32_t(out.size());
    size_t values = at + 2 + 12 * dir.size() + 4;
    auto put = [&](std::vector<uint8_t> v) { out.insert(out.end(), v.begin(), v.end()); };
    put(u16(uint32_t(dir.size())));
    std::vector<uint8_t> tail;
    for (const E &e : dir) {
      put(u16(e.Tag)), put(u16(e.Type)), put(u32(e.Count));
      if (e.V.size() <= 4) {
        auto v = e.V;
        v.resize(4, 0);
        put(v);
      } else {
        put(u32(uint32_t(values + tail.size())));
        tail.insert(tail.end(), e.V.begin(), e.V.end());
        if (tail.size() & 1) tail.push_back(0);
      }
    }
    put(u32(0));
    put(tail);
    return at;
  };
  const uint32_t exif = writeDir({rational(0x829A, 1, 250), E{0x8827, 3, 1, u16(200)},
                                  ascii(0x9003, "2024:05:06 07:08:09"), E{0xA002, 4, 1, u32(4000)},
                                  E{0xA003, 4, 1, u32(3000)}, E{0x927C, 7, 8, {1, 2, 3, 4, 5, 6, 7, 8}}});
  const uint32_t gps = writeDir({E{0x0000, 1, 4, {2, 3, 0, 0}}, ascii(0x0001, "N"),
                                 E{0x0002, 5, 3, [&] {
                                     std::vector<uint8_t> v;
                                     for (uint32_t x : {35u, 1u, 41u, 1u, 30u, 1u}) {
                                       auto w = u32(x);
                                       v.insert(v.end(), w.begin(), w.end());
                                     }
                                     return v;
                                   }()}});
  const uint32_t ifd0 = writeDir({ascii(0x010F, "TestCam"), ascii(0x0110, "Model Z"), E{0x0112, 3, 1, u16(6)},
                                  ascii(0x0131, "Old Software"), E{0x8769, 4, 1, u32(exif)},
                                  E{0x8825, 4, 1, u32(gps)}});
  auto off = u32(ifd0);
  std::copy(off.begin(), off.end(), out.begin() + 4);
  return out;
}

std::vector<uint8_t> ExifPayload(bool be = false) {
  std::vector<uint8_t> p{'E', 'x', 'i', 'f', 0, 0};
  const auto t = ExifTiff(be);
  p.insert(p.end(), t.begin(), t.end());
  return p;
}

// The segments of a JPEG before its scan: (marker code, payload).
std::vector<std::pair<int, std::vector<uint8_t>>> Segments(const std::vector<uint8_t> &d) {
  std::vector<std::pair<int, std::vector<uint8_t>>> out;
  size_t at = 2;
  while (at + 4 <= d.size() && d[at] == 0xFF && d[at + 1] != 0xDA) {
    const size_t len = size_t(d[at + 2]) << 8 | d[at + 3];
    if (len < 2 || at + 2 + len > d.size()) break;
    out.emplace_back(d[at + 1], std::vector<uint8_t>(d.begin() + long(at + 4), d.begin() + long(at + 2 + len)));
    at += 2 + len;
  }
  return out;
}

// jpeginfo cannot convert CMYK at all ("Unsupported color conversion request").
void ExpectJpegToolsAccept(const std::filesystem::path &p, bool cmyk = false) {
  if (HaveTool("jpeginfo") && !cmyk) { EXPECT_TRUE(RunTool("jpeginfo -c " + Quote(p))) << p; }
  if (IdentifyReads("JPEG")) { EXPECT_TRUE(RunTool("identify " + Quote(p))) << p; }
}

// ---- JPEG ----

struct JpegCase {
  const char *Name;
  uint32_t Channels;
  int HSamp, VSamp;
  int Quality;
  int DCTMethod;
  int Progressive;
  int Tolerance;  // largest difference allowed per sample after decoding (-1: not checked)
};

void PrintTo(const JpegCase &c, std::ostream *os) {
  *os << c.Channels << " channels, sampling " << c.HSamp << "x" << c.VSamp << ", quality " << c.Quality
      << ", DCT method " << c.DCTMethod << (c.Progressive ? ", progressive" : "");
  if (c.Tolerance >= 0) *os << ", tolerance " << c.Tolerance;
}

class JpegWrite : public ::testing::TestWithParam<JpegCase> {};

TEST_P(JpegWrite, ToolsAcceptAndPixelsComeBack) {
  const JpegCase c = GetParam();
  const Picture pic = MakePicture(77, 53, c.Channels, 8, 7, 3);
  TPixioEncode e = pic.Record();
  e.Quality = c.Quality, e.HSamp = c.HSamp, e.VSamp = c.VSamp, e.DCTMethod = c.DCTMethod, e.Progressive = c.Progressive;
  e.XDensity = e.YDensity = 72, e.DensityUnit = 1;
  const auto path = TempDir() / (std::string("w-") + c.Name + ".jpg");
  ASSERT_NE(WithFd(path, [&](int fd) { return Lib().write_jpeg(&e, fd, nullptr, 0); }), 0) << LastMessage();
  ExpectJpegToolsAccept(path, c.Channels == 4);
  const auto data = ReadFile(path);
  TPixioQualityInfo q{};
  Decoded d;
  d.D.WantQualityInfo = 1, d.D.QualityInfo = &q;
  ASSERT_NE(Lib().read_jpeg(&d.D, data.data(), data.size()), 0);
  ASSERT_EQ(d.D.Channels, c.Channels);
  // Four channels are CMYK, stored with the Adobe marker and read back as stored.
  if (c.Channels == 4) { EXPECT_EQ(d.D.IsCMYK, 1); EXPECT_EQ(d.D.IsInvertedCMYK, 1); }
  if (c.Channels >= 3) { EXPECT_EQ(q.HSamp, c.HSamp); EXPECT_EQ(q.VSamp, c.VSamp); }
  // SOF2 marks the progressive process.
  bool progressive = false;
  for (size_t i = 0; i + 1 < data.size(); ++i)
    if (data[i] == 0xFF && data[i + 1] == 0xC2) progressive = true;
  EXPECT_EQ(progressive, c.Progressive != 0);
  if (c.Tolerance >= 0) {
    // Rounding through 8-bit Y,Cb,Cr moves a rare blue sample by 4 (cjpeg and
    // djpeg do the same): all within Tolerance + 1, and 99.9 % within Tolerance.
    EXPECT_EQ(Differences(pic, false, d, false, c.Tolerance + 1), 0u);
    EXPECT_LE(Differences(pic, false, d, false, c.Tolerance, false), pic.Mem.size() / 1000);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, JpegWrite,
                         ::testing::Values(JpegCase{"q100-444", 3, 1, 1, 100, 0, 0, 3},
                                           JpegCase{"q100-444-float", 3, 1, 1, 100, 2, 0, 3},
                                           JpegCase{"gray-q100", 1, 1, 1, 100, 0, 0, 2},
                                           JpegCase{"cmyk-q100", 4, 1, 1, 100, 0, 0, 3},
                                           JpegCase{"cmyk-q90-420", 4, 2, 2, 90, 0, 0, -1},
                                           JpegCase{"q90-420", 3, 2, 2, 90, 0, 0, -1},
                                           JpegCase{"q90-422", 3, 2, 1, 90, 1, 0, -1},
                                           JpegCase{"q75-411", 3, 4, 1, 75, 0, 0, -1},
                                           JpegCase{"progressive", 3, 2, 2, 85, 0, 1, -1}),
                         [](const auto &i) {
                           std::string n = i.param.Name;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

TEST(JpegWrite, SameImageAsCjpeg) {
  TESSIVO_REQUIRE(HaveTool("cjpeg")) << "cjpeg not installed (libjpeg-turbo-progs)";
  const Picture pic = MakePicture(101, 67, 3, 8);
  Pnm pnm{pic.Width, pic.Height, 3, {}};
  for (uint32_t y = 0; y < pic.Height; ++y)  // top-down R,G,B from bottom-up B,G,R
    for (uint32_t x = 0; x < pic.Width; ++x)
      for (uint32_t c = 0; c < 3; ++c) pnm.Pixels.push_back(uint8_t(pic.Sample(pic.Height - 1 - y, x, 2 - c)));
  const auto ppm = TempDir() / "cj.ppm", ref = TempDir() / "cj.jpg", ours = TempDir() / "ours.jpg";
  WriteFile(ppm, MakePnm(pnm));
  ASSERT_TRUE(RunTool("cjpeg -quality 90 -sample 2x2 -outfile " + Quote(ref) + " " + Quote(ppm)));
  TPixioEncode e = pic.Record();
  e.Quality = 90, e.HSamp = e.VSamp = 2, e.XDensity = e.YDensity = 1;
  ASSERT_NE(WithFd(ours, [&](int fd) { return Lib().write_jpeg(&e, fd, nullptr, 0); }), 0) << LastMessage();
  const auto a = ReadFile(ref), b = ReadFile(ours);
  Decoded da, db;
  ASSERT_NE(Lib().read_jpeg(&da.D, a.data(), a.size()), 0);
  ASSERT_NE(Lib().read_jpeg(&db.D, b.data(), b.size()), 0);
  ASSERT_EQ(da.D.Width, db.D.Width);
  for (uint32_t y = 0; y < da.D.Height; ++y)
    ASSERT_EQ(std::memcmp(da.Row(y, true), db.Row(y, true), size_t(da.D.Width) * 3), 0) << "row " << y;
}

TEST(JpegWrite, ExplicitTablesReadBackEqual) {
  const Picture pic = MakePicture(64, 48, 3, 8);
  TPixioEncode e = pic.Record();
  e.Quality = 50, e.HSamp = 2, e.VSamp = 2, e.Flags = PIXIO_FLAG_EXPLICIT_TABLES;
  e.QTCount = 3, e.QTChannels = 3;
  e.QTIndex[0] = 2, e.QTIndex[1] = 0, e.QTIndex[2] = 1;  // a mapping other than the usual one
  for (int t = 0; t < 3; ++t)
    for (int k = 0; k < 64; ++k) e.QT[t][k] = uint32_t(1 + (k * (t + 2) + t * 7) % 97);
  std::vector<uint8_t> buf(1 << 20);
  uint32_t len = uint32_t(buf.size());
  ASSERT_NE(Lib().write_jpeg_to_memory(&e, buf.data(), &len, nullptr, 0), 0) << LastMessage();
  buf.resize(len);
  TPixioQualityInfo q{};
  Decoded d;
  d.D.WantQualityInfo = 1, d.D.QualityInfo = &q;
  ASSERT_NE(Lib().read_jpeg(&d.D, buf.data(), buf.size()), 0);
  ASSERT_EQ(q.QTCount, 3);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(q.CompInfo[c][1], e.QTIndex[c]) << "component " << c;
  for (int t = 0; t < 3; ++t)
    for (int k = 0; k < 64; ++k) ASSERT_EQ(q.QT[t][k], e.QT[t][k]) << "table " << t << " entry " << k;
}

TEST(JpegWrite, SegmentsInOrderAndMetadataFound) {
  const Picture pic = MakePicture(40, 30, 3, 8);
  const auto icc = Profile(150000);  // three APP2 chunks
  const auto exif = ExifPayload();
  // A comment and an APP13 block, to come out in this order after the profile.
  const std::vector<uint8_t> markers{0xFF, 0xFE, 0x00, 0x07, 'h', 'e', 'l', 'l', 'o',
                                     0xFF, 0xED, 0x00, 0x06, 'P', 'S', '3', '!'};
  for (const bool omit : {false, true}) {
    TPixioEncode e = pic.Record();
    e.Quality = 90, e.HSamp = e.VSamp = 2;
    e.ICCProfile = icc.data(), e.ProfileLen = uint32_t(icc.size());
    e.XDensity = 300, e.YDensity = 200, e.DensityUnit = 1;
    e.Marker = markers.data(), e.MarkerCount = 2, e.MarkerSize = uint32_t(markers.size());
    e.Flags = omit ? PIXIO_FLAG_OMIT_APP0 : 0;
    const auto path = TempDir() / (omit ? "seg-omit.jpg" : "seg.jpg");
    ASSERT_NE(WithFd(path, [&](int fd) {
                return Lib().write_jpeg(&e, fd, exif.data(), uint32_t(exif.size()));
              }), 0) << LastMessage();
    ExpectJpegToolsAccept(path);
    const auto data = ReadFile(path);
    std::vector<int> order;
    for (const auto &[code, payload] : Segments(data))
      if (code >= 0xE0 || code == 0xFE) order.push_back(code);
    std::vector<int> want{0xE0, 0xE1, 0xE2, 0xE2, 0xE2, 0xFE, 0xED};
    if (omit) want.erase(want.begin());
    EXPECT_EQ(order, want);
    Decoded d;
    ASSERT_NE(Lib().read_jpeg(&d.D, data.data(), data.size()), 0);
    ASSERT_EQ(d.D.ProfileLen, icc.size());
    EXPECT_EQ(std::memcmp(d.D.ICCProfile, icc.data(), icc.size()), 0);
    if (!omit) { EXPECT_EQ(d.D.XResolution, 300); EXPECT_EQ(d.D.YResolution, 200); }
    if (HaveTool("exiftool")) {
      auto m = ExifTool(path);
      EXPECT_EQ(m["Make"], "TestCam");
      EXPECT_EQ(m["ISO"], "200");
      EXPECT_EQ(m["ProfileDescription"].empty(), false);
      if (!omit) { EXPECT_EQ(m["JFIFVersion"].empty(), false); EXPECT_EQ(m["XResolution"], "300"); }
      if (omit) { EXPECT_EQ(m.count("JFIFVersion"), 0u); }
    }
  }
}

TEST(JpegWrite, YCbCrInputMatchesColourInput) {
  const Picture rgb = MakePicture(48, 32, 3, 8);
  Picture ycc = rgb;
  for (uint32_t y = 0; y < ycc.Height; ++y)
    for (uint32_t x = 0; x < ycc.Width; ++x) {
      uint8_t *p = ycc.Mem.data() + size_t(y) * ycc.Bpl + x * 3;
      const double b = p[0], g = p[1], r = p[2];
      p[0] = uint8_t(std::lround(0.299 * r + 0.587 * g + 0.114 * b));
      p[1] = uint8_t(std::clamp(std::lround(-0.168736 * r - 0.331264 * g + 0.5 * b + 128), 0L, 255L));
      p[2] = uint8_t(std::clamp(std::lround(0.5 * r - 0.418688 * g - 0.081312 * b + 128), 0L, 255L));
    }
  TPixioEncode e = ycc.Record();
  e.Quality = 100, e.HSamp = e.VSamp = 1, e.Flags = PIXIO_FLAG_YCBCR_INPUT;
  std::vector<uint8_t> buf(1 << 20);
  uint32_t len = uint32_t(buf.size());
  ASSERT_NE(Lib().write_jpeg_to_memory(&e, buf.data(), &len, nullptr, 0), 0) << LastMessage();
  Decoded d;
  ASSERT_NE(Lib().read_jpeg(&d.D, buf.data(), len), 0);
  EXPECT_EQ(Differences(rgb, false, d, false, 4), 0u);
}

TEST(JpegWrite, MemoryTargetFailsWhenTooSmallAndMatchesFile) {
  const Picture pic = MakePicture(120, 90, 3, 8);
  TPixioEncode e = pic.Record();
  e.Quality = 90, e.HSamp = e.VSamp = 2;
  const auto path = TempDir() / "mem.jpg";
  ASSERT_NE(WithFd(path, [&](int fd) { return Lib().write_jpeg(&e, fd, nullptr, 0); }), 0);
  const auto file = ReadFile(path);
  std::vector<uint8_t> buf(file.size());
  uint32_t len = uint32_t(buf.size());
  ASSERT_NE(Lib().write_jpeg_to_memory(&e, buf.data(), &len, nullptr, 0), 0) << LastMessage();
  EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + len), file);
  len = uint32_t(file.size() - 1);
  EXPECT_EQ(Lib().write_jpeg_to_memory(&e, buf.data(), &len, nullptr, 0), 0);
  EXPECT_EQ(len, 0u);
  EXPECT_NE(LastMessage().find("does not fit"), std::string::npos) << LastMessage();
}

TEST(WriteErrors, BadRecordsFailWithAMessage) {
  const Picture pic = MakePicture(16, 16, 3, 8);
  const std::vector<uint8_t> pal(3 * 4, 0);
  struct Case {
    const char *Name;
    void (*Spoil)(TPixioEncode &);
    int Format;  // 0 JPEG, 1 PNG, 2 TIFF, 3 HD Photo
  };
  const Case cases[] = {
      {"no pixels", [](TPixioEncode &e) { e.Mem = nullptr; }, 0},
      {"zero width", [](TPixioEncode &e) { e.Width = 0; }, 1},
      {"short stride", [](TPixioEncode &e) { e.Bpl = 10; }, 2},
      {"two channels", [](TPixioEncode &e) { e.Channels = 2; }, 3},
      {"sampling", [](TPixioEncode &e) { e.HSamp = 5; }, 0},
      {"table index", [](TPixioEncode &e) { e.Flags = PIXIO_FLAG_EXPLICIT_TABLES, e.QTCount = 1, e.QTChannels = 2, e.QTIndex[1] = 3; }, 0},
      {"truncated markers", [](TPixioEncode &e) {
         static const uint8_t m[] = {0xFF, 0xFE, 0x00, 0x40, 'x'};
         e.Marker = m, e.MarkerCount = 1, e.MarkerSize = sizeof m;
       }, 0},
      {"16-bit JPEG", [](TPixioEncode &e) { e.BitsPerSample = 16; }, 0},
      {"TIFF compression", [](TPixioEncode &e) { e.Compression = 5; }, 2},
  };
  for (const Case &c : cases) {
    TPixioEncode e = pic.Record();
    e.Quality = 90, e.HSamp = e.VSamp = 1;
    c.Spoil(e);
    LastMessage().clear();
    const auto path = TempDir() / "bad.out";
    int rc = 1;
    switch (c.Format) {
      case 0: rc = WithFd(path, [&](int fd) { return Lib().write_jpeg(&e, fd, nullptr, 0); }); break;
      case 1: rc = WithFd(path, [&](int fd) { return Lib().write_png(&e, fd); }); break;
      case 2: rc = Lib().write_tiff(&e, nullptr, path.c_str(), nullptr, 0, 0); break;
      default: rc = Lib().write_hdp(&e, nullptr, path.c_str(), nullptr, 0, 0); break;
    }
    EXPECT_EQ(rc, 0) << c.Name;
    EXPECT_FALSE(LastMessage().empty()) << c.Name;
  }
  // A palette index past the palette would make a file every reader rejects.
  Picture idx = MakePicture(8, 8, 1, 8);
  TPixioEncode e = idx.Record();
  e.Palette = pal.data(), e.PaletteCount = 4;
  EXPECT_EQ(WithFd(TempDir() / "badpal.png", [&](int fd) { return Lib().write_png(&e, fd); }), 0);
  EXPECT_NE(LastMessage().find("palette"), std::string::npos) << LastMessage();
  EXPECT_EQ(Lib().write_png(&e, -1), 0);
}

// ---- PNG ----

struct PngCase {
  const char *Name;
  uint32_t Channels, Bits;
  int Filter, Level;
};

void PrintTo(const PngCase &c, std::ostream *os) {
  *os << c.Channels << " channels, " << c.Bits << " bits, filters " << c.Filter << ", level " << c.Level;
}

class PngWrite : public ::testing::TestWithParam<PngCase> {};

TEST_P(PngWrite, LosslessAndAccepted) {
  const PngCase c = GetParam();
  const Picture pic = MakePicture(61, 37, c.Channels, c.Bits);
  TPixioEncode e = pic.Record();
  e.Filter = c.Filter, e.CompressLevel = c.Level;
  const auto path = TempDir() / (std::string("w-") + c.Name + ".png");
  ASSERT_NE(WithFd(path, [&](int fd) { return Lib().write_png(&e, fd); }), 0) << LastMessage();
  if (HaveTool("pngcheck")) { EXPECT_TRUE(RunTool("pngcheck " + Quote(path))); }
  if (IdentifyReads("PNG")) { EXPECT_TRUE(RunTool("identify " + Quote(path))); }
  const auto data = ReadFile(path);
  EXPECT_EQ(data[24], c.Bits);  // IHDR bit depth
  Decoded d;
  ASSERT_NE(Lib().read_png(&d.D, data.data(), data.size()), 0);
  EXPECT_EQ(d.D.BitsPerSample, c.Bits);
  EXPECT_EQ(Differences(pic, false, d, false, 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, PngWrite,
                         ::testing::Values(PngCase{"gray8", 1, 8, 0, 6}, PngCase{"gray16", 1, 16, 8, 9},
                                           PngCase{"grayalpha8", 2, 8, 0, 1}, PngCase{"grayalpha16", 2, 16, 0, 6},
                                           PngCase{"rgb8_paeth", 3, 8, 128, 6}, PngCase{"rgb8_level0", 3, 8, 0, 0},
                                           PngCase{"rgba8", 4, 8, 0xF8, 9}, PngCase{"rgb16", 3, 16, 16, 6},
                                           PngCase{"rgba16", 4, 16, 0, 6}),
                         [](const auto &i) { return std::string(i.param.Name); });

// The chunks of a PNG: (type, data).
std::vector<std::pair<std::string, std::vector<uint8_t>>> Chunks(const std::vector<uint8_t> &d) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> out;
  size_t at = 8;
  while (at + 12 <= d.size()) {
    const size_t len = size_t(d[at]) << 24 | size_t(d[at + 1]) << 16 | size_t(d[at + 2]) << 8 | d[at + 3];
    if (at + 12 + len > d.size()) break;
    out.emplace_back(std::string(d.begin() + long(at + 4), d.begin() + long(at + 8)),
                     std::vector<uint8_t>(d.begin() + long(at + 8), d.begin() + long(at + 8 + len)));
    at += 12 + len;
  }
  return out;
}

TEST(PngWrite, PaletteWithTransparentIndexZero) {
  // 11 colours: indexes of 8 bits are packed to 4 when the palette is small.
  const uint32_t w = 29, h = 17;
  Picture idx{w, h, 1, 8, 32, std::vector<uint8_t>(32 * h, 0)};
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) idx.Mem[y * 32 + x] = uint8_t((x / 3 + y) % 11);
  std::vector<uint8_t> pal;
  for (int i = 0; i < 11; ++i) pal.insert(pal.end(), {uint8_t(i * 20), uint8_t(255 - i * 20), uint8_t(i * 7)});
  for (const int small : {1, 0}) {
    TPixioEncode e = idx.Record();
    e.Palette = pal.data(), e.PaletteCount = 11, e.TransparentIndex0 = 1, e.SmallPalette = small;
    e.WriteBGColor = 1, e.BGColor = 0x0000FF;  // a palette image's bKGD names its nearest entry
    const auto path = TempDir() / (small ? "pal4.png" : "pal8.png");
    ASSERT_NE(WithFd(path, [&](int fd) { return Lib().write_png(&e, fd); }), 0) << LastMessage();
    if (HaveTool("pngcheck")) { EXPECT_TRUE(RunTool("pngcheck " + Quote(path))); }
    if (IdentifyReads("PNG")) { EXPECT_TRUE(RunTool("identify " + Quote(path))); }
    const auto data = ReadFile(path);
    EXPECT_EQ(data[24], small ? 4 : 8);
    EXPECT_EQ(data[25], 3);  // palette colour type
    bool trns = false;
    for (const auto &[type, body] : Chunks(data)) {
      if (type == "PLTE") { EXPECT_EQ(body, pal); }
      if (type == "tRNS") {
        trns = true;
        EXPECT_EQ(body, std::vector<uint8_t>{0});
      }
    }
    EXPECT_TRUE(trns);
    Decoded d;
    ASSERT_NE(Lib().read_png(&d.D, data.data(), data.size()), 0);
    ASSERT_EQ(d.D.Channels, 4u);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t i = idx.Mem[y * 32 + x];  // both in bottom-up memory order
        const uint8_t *p = d.Row(y, true) + x * 4;
        ASSERT_EQ(p[0], pal[i * 3 + 2]);
        ASSERT_EQ(p[1], pal[i * 3 + 1]);
        ASSERT_EQ(p[2], pal[i * 3]);
        ASSERT_EQ(p[3], i == 0 ? 0 : 255) << x << "," << y;
      }
  }
}

TEST(PngWrite, BackgroundProfileAndPhysicalSize) {
  const Picture pic = MakePicture(20, 10, 3, 16);
  const auto icc = Profile();
  TPixioEncode e = pic.Record();
  e.CompressLevel = 6, e.WriteBGColor = 1, e.BGColor = 0x336699;  // red 0x99, green 0x66, blue 0x33
  e.ICCProfile = icc.data(), e.ProfileLen = uint32_t(icc.size());
  e.PhysX = 11811, e.PhysY = 3937, e.PhysUnit = 1;  // 300 and 100 dpi
  const auto path = TempDir() / "meta.png";
  ASSERT_NE(WithFd(path, [&](int fd) { return Lib().write_png(&e, fd); }), 0) << LastMessage();
  if (HaveTool("pngcheck")) { EXPECT_TRUE(RunTool("pngcheck " + Quote(path))); }
  const auto data = ReadFile(path);
  Decoded d;
  d.D.WantBGColor = 1;
  ASSERT_NE(Lib().read_png(&d.D, data.data(), data.size()), 0);
  EXPECT_EQ(d.D.HasBGColor, 1);
  EXPECT_EQ(d.D.BGColor, 0x336699u);
  ASSERT_EQ(d.D.ProfileLen, icc.size());
  EXPECT_EQ(std::memcmp(d.D.ICCProfile, icc.data(), icc.size()), 0);
  EXPECT_EQ(Differences(pic, false, d, false, 0), 0u);
  if (HaveTool("exiftool")) {
    auto m = ExifTool(path);
    EXPECT_EQ(m["PixelsPerUnitX"], "11811");
    EXPECT_EQ(m["PixelsPerUnitY"], "3937");
    EXPECT_EQ(m["PixelUnits"], "1");
    EXPECT_FALSE(m["ProfileDescription"].empty());
  }
}

// ---- TIFF ----

struct TiffCase {
  const char *Name;
  uint32_t Channels, Bits;
  int Compression;
};

void PrintTo(const TiffCase &c, std::ostream *os) {
  *os << c.Channels << " channels, " << c.Bits << " bits, compression option " << c.Compression;
}

class TiffWrite : public ::testing::TestWithParam<TiffCase> {};

void ExpectTiffToolsAccept(const std::filesystem::path &p) {
  if (HaveTool("tiffinfo")) { EXPECT_TRUE(RunTool("tiffinfo -D " + Quote(p))) << p; }
  if (IdentifyReads("TIFF")) { EXPECT_TRUE(RunTool("identify " + Quote(p))) << p; }
}

TEST_P(TiffWrite, LosslessAndAccepted) {
  const TiffCase c = GetParam();
  const Picture pic = MakePicture(45, 33, c.Channels, c.Bits);
  TPixioEncode e = pic.Record();
  e.Compression = c.Compression;
  const auto path = TempDir() / (std::string("w-") + c.Name + ".tif");
  ASSERT_NE(Lib().write_tiff(&e, nullptr, path.c_str(), nullptr, 0, 0), 0) << LastMessage();
  ExpectTiffToolsAccept(path);
  const auto data = ReadFile(path);
  Decoded d;
  ASSERT_NE(Lib().read_wic(&d.D, data.data(), data.size()), 0) << LastMessage();
  EXPECT_EQ(d.D.BitsPerSample, c.Bits);
  // 8-bit colour goes in as B,G,R and comes back so; 16-bit is R,G,B both ways.
  EXPECT_EQ(Differences(pic, true, d, true, 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, TiffWrite,
                         ::testing::Values(TiffCase{"gray8_none", 1, 8, 1}, TiffCase{"rgb8_lzw", 3, 8, 4},
                                           TiffCase{"rgb8_zip", 3, 8, 6}, TiffCase{"rgb8_lzwdiff", 3, 8, 7},
                                           TiffCase{"rgba8_lzwdiff", 4, 8, 7}, TiffCase{"gray16_zip", 1, 16, 6},
                                           TiffCase{"rgb16_lzwdiff", 3, 16, 7}, TiffCase{"rgba16_none", 4, 16, 0}),
                         [](const auto &i) { return std::string(i.param.Name); });

TEST(TiffWrite, IndexedColours) {
  // Indexes of 1, 4 and 8 bits packed from the most significant bit, rows padded to 4 bytes.
  for (const uint32_t bits : {1u, 4u, 8u}) {
    const uint32_t w = 13, h = 9, bpl = (w * bits + 31) / 32 * 4, colours = bits == 1 ? 2 : 10;
    Picture idx{w, h, 1, bits, bpl, std::vector<uint8_t>(bpl * h, 0)};
    auto index = [&](uint32_t x, uint32_t y) { return (x + 2 * y) % colours; };
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        idx.Mem[y * bpl + x * bits / 8] |= uint8_t(index(x, y) << (8 - bits - (x * bits) % 8));
    std::vector<uint8_t> pal;
    for (uint32_t i = 0; i < colours; ++i) pal.insert(pal.end(), {uint8_t(i * 25), uint8_t(i * 13), uint8_t(250 - i * 25)});
    TPixioEncode e = idx.Record();
    e.Palette = pal.data(), e.PaletteCount = int32_t(colours), e.Compression = bits == 8 ? 7 : 4;
    const auto path = TempDir() / ("indexed" + std::to_string(bits) + ".tif");
    ASSERT_NE(Lib().write_tiff(&e, nullptr, path.c_str(), nullptr, 0, 0), 0) << LastMessage();
    ExpectTiffToolsAccept(path);
    if (HaveTool("tiffinfo")) {
      const std::string info = Capture("tiffinfo " + Quote(path));
      EXPECT_NE(info.find("palette"), std::string::npos) << bits;
      EXPECT_NE(info.find("Bits/Sample: " + std::to_string(bits)), std::string::npos) << bits;
    }
    const auto data = ReadFile(path);
    Decoded d;
    ASSERT_NE(Lib().read_wic(&d.D, data.data(), data.size()), 0) << LastMessage();
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t i = index(x, y);
        const uint8_t *p = d.Row(y, true) + x * d.D.Channels;
        ASSERT_EQ(p[0], pal[i * 3 + 2]) << bits;
        ASSERT_EQ(p[1], pal[i * 3 + 1]) << bits;
        ASSERT_EQ(p[2], pal[i * 3]) << bits;
      }
  }
}

TEST(TiffWrite, ThumbnailExifProfileAndResolution) {
  const Picture pic = MakePicture(200, 150, 3, 8);
  const Picture thumb = MakePicture(40, 30, 3, 8, 3);
  const TPixioImage t{const_cast<uint8_t *>(thumb.Mem.data()), thumb.Width, thumb.Height, thumb.Bpl, 3};
  const auto icc = Profile();
  for (const bool be : {false, true}) {
    const auto exif = ExifPayload(be);
    TPixioEncode e = pic.Record();
    e.Compression = 6, e.XResolution = 300, e.YResolution = 240;
    e.ICCProfile = icc.data(), e.ProfileLen = uint32_t(icc.size());
    e.NewWidth = 200, e.NewHeight = 150, e.ResetOrientation = 1, e.DeleteGPS = be, e.CopyMakerNote = !be;
    const auto path = TempDir() / (be ? "exif-mm.tif" : "exif-ii.tif");
    ASSERT_NE(Lib().write_tiff(&e, &t, path.c_str(), exif.data(), uint32_t(exif.size()), 1), 0) << LastMessage();
    ExpectTiffToolsAccept(path);
    const auto data = ReadFile(path);
    Decoded d;
    ASSERT_NE(Lib().read_wic(&d.D, data.data(), data.size()), 0) << LastMessage();
    EXPECT_EQ(Differences(pic, true, d, true, 0), 0u);
    EXPECT_EQ(d.D.ProfileLen, icc.size());
    EXPECT_EQ(d.D.XResolution, 300);
    Decoded small;
    ASSERT_NE(Lib().read_wic_thumbnail(&small.D, data.data(), data.size()), 0) << LastMessage();
    EXPECT_EQ(Differences(thumb, true, small, true, 0), 0u);
    if (HaveTool("exiftool")) {
      auto m = ExifTool(path);
      EXPECT_EQ(m["Make"], "TestCam");
      EXPECT_EQ(m["Model"], "Model Z");
      EXPECT_EQ(m["Orientation"], "1");
      EXPECT_EQ(m["Software"], "TessivoPlus");
      EXPECT_EQ(m["ISO"], "200");
      EXPECT_EQ(m["ExposureTime"], "0.004");  // exactly 1/250
      EXPECT_EQ(m["DateTimeOriginal"], "2024:05:06 07:08:09");
      EXPECT_EQ(m["ExifImageWidth"], "200");
      EXPECT_EQ(m["ExifImageHeight"], "150");
      EXPECT_EQ(m["XResolution"], "300");
      EXPECT_EQ(m["YResolution"], "240");
      EXPECT_FALSE(m["ProfileDescription"].empty());
      EXPECT_EQ(m.count("GPSLatitudeRef"), be ? 0u : 1u);
      if (!be) { EXPECT_EQ(m["GPSLatitude"], "35.6916666666667"); }
      // exiftool reports a maker note it does not know only by this warning.
      EXPECT_EQ(m["Warning"].find("MakerNotes") != std::string::npos, !be);
    }
  }
}

// ---- HD Photo ----

struct HdpCase {
  const char *Name;
  uint32_t Channels, Bits;
  int Quality, Overlap, Subsampling, Tiles, Interleaved;
  int Tolerance;  // per sample, in 8-bit steps
};

void PrintTo(const HdpCase &c, std::ostream *os) {
  *os << c.Channels << " channels, " << c.Bits << " bits, quality " << c.Quality << ", overlap " << c.Overlap
      << ", subsampling " << c.Subsampling << ", tile slices " << c.Tiles
      << (c.Interleaved ? ", interleaved alpha" : "") << ", tolerance " << c.Tolerance;
}

class HdpWrite : public ::testing::TestWithParam<HdpCase> {};

TEST_P(HdpWrite, DecodesAndIsAccepted) {
  const HdpCase c = GetParam();
  const Picture pic = MakePicture(70, 50, c.Channels, c.Bits, 5, 4);
  TPixioEncode e = pic.Record();
  e.Quality = c.Quality, e.AlphaQuality = c.Quality, e.Overlap = c.Overlap, e.Subsampling = c.Subsampling;
  e.HorizontalTileSlices = e.VerticalTileSlices = c.Tiles, e.InterleavedAlpha = c.Interleaved;
  const auto path = TempDir() / (std::string("w-") + c.Name + ".wdp");
  ASSERT_NE(Lib().write_hdp(&e, nullptr, path.c_str(), nullptr, 0, 0), 0) << LastMessage();
  if (HaveTool("JxrDecApp")) {
    const auto out = TempDir() / (std::string("w-") + c.Name + "-dec.tif");
    EXPECT_TRUE(RunTool("JxrDecApp -i " + Quote(path) + " -o " + Quote(out)));
  }
  if (IdentifyReads("JXR")) { EXPECT_TRUE(RunTool("identify " + Quote(path))); }
  const auto data = ReadFile(path);
  Decoded d;
  ASSERT_NE(Lib().read_wic(&d.D, data.data(), data.size()), 0) << LastMessage();
  EXPECT_EQ(d.D.BitsPerSample, c.Bits);
  ASSERT_EQ(d.D.Channels, c.Channels);
  const int tol = c.Bits == 16 ? c.Tolerance * 257 : c.Tolerance;
  EXPECT_EQ(Differences(pic, true, d, true, tol), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, HdpWrite,
                         ::testing::Values(HdpCase{"gray8_lossless", 1, 8, 1, 0, 3, 0, 0, 0},
                                           HdpCase{"bgr8_lossless", 3, 8, 1, 0, 3, 0, 0, 0},
                                           HdpCase{"bgr8_lossless_overlap", 3, 8, 1, 1, 3, 1, 0, 0},
                                           HdpCase{"bgra8_lossless_planar", 4, 8, 1, 0, 3, 0, 0, 0},
                                           HdpCase{"bgra8_lossless_interleaved", 4, 8, 1, 0, 3, 0, 1, 0},
                                           HdpCase{"rgb16_lossless", 3, 16, 1, 0, 3, 0, 0, 0},
                                           HdpCase{"gray16_lossless", 1, 16, 1, 0, 3, 0, 0, 0},
                                           HdpCase{"rgba16_lossless", 4, 16, 1, 0, 3, 0, 0, 0},
                                           HdpCase{"bgr8_q11_420", 3, 8, 11, 2, 1, 1, 0, 40},
                                           HdpCase{"bgr8_q11_422_many_tiles", 3, 8, 11, 1, 2, 4095, 0, 40}),
                         [](const auto &i) { return std::string(i.param.Name); });

TEST(HdpWrite, ExifProfileAndResolution) {
  const Picture pic = MakePicture(64, 48, 3, 8);
  const auto icc = Profile();
  for (const bool be : {false, true}) {
    const auto exif = ExifPayload(be);
    TPixioEncode e = pic.Record();
    e.Quality = 11, e.AlphaQuality = 11, e.Overlap = 1, e.Subsampling = 3;
    e.XResolution = 350, e.YResolution = 175;
    e.ICCProfile = icc.data(), e.ProfileLen = uint32_t(icc.size());
    e.NewWidth = 64, e.NewHeight = 48, e.ResetOrientation = 1;
    const auto path = TempDir() / (be ? "exif-mm.wdp" : "exif-ii.wdp");
    ASSERT_NE(Lib().write_hdp(&e, nullptr, path.c_str(), exif.data(), uint32_t(exif.size()), 1), 0) << LastMessage();
    const auto data = ReadFile(path);
    TPixioWICInfo info{};
    ASSERT_NE(Lib().read_wic_info2(&info, data.data(), data.size()), 0);
    EXPECT_EQ(info.Width, 64u);
    EXPECT_EQ(std::lround(info.XResolution), 350);
    EXPECT_EQ(std::lround(info.YResolution), 175);
    EXPECT_EQ(info.HasExif, 1);
    EXPECT_STREQ(info.DateTimeOriginal, "2024:05:06 07:08:09");
    Decoded d;
    ASSERT_NE(Lib().read_wic(&d.D, data.data(), data.size()), 0) << LastMessage();
    EXPECT_EQ(d.D.ProfileLen, icc.size());
    if (HaveTool("exiftool")) {
      auto m = ExifTool(path);
      EXPECT_EQ(m["Make"], "TestCam");
      EXPECT_EQ(m["Software"], "TessivoPlus");
      EXPECT_EQ(m["ISO"], "200");
      EXPECT_NEAR(std::atof(m["ExposureTime"].c_str()), 0.004, 1e-6);
      EXPECT_EQ(m["ExifImageWidth"], "64");
      EXPECT_EQ(m["GPSLatitudeRef"], "N");
      EXPECT_FALSE(m["ProfileDescription"].empty());
    }
  }
}

}  // namespace
