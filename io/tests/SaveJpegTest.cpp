// JPEG output: the file-size search order, metadata of re-encoded files, and
// the copy without recompression.
#include "io/tests/SaveTestUtil.h"

#include "core/Errors.h"
#include "io/ExifJpeg.h"
#include "io/ExifReader.h"
#include "io/JpegSegment.h"
#include "core/PixelConvert.h"

// jpeglib.h defines JPEG_APP0 and JPEG_COM as bare codes; markers are spelt out below.
#include <jpeglib.h>

#include <csetjmp>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>

using namespace savetest;

namespace {

struct TAttempt {
  int32_t Q, S;
  bool Tables, ToMemory;
  bool operator==(const TAttempt &) const = default;
};
std::ostream &operator<<(std::ostream &o, const TAttempt &a) {
  return o << "(" << a.Q << "," << a.S << (a.Tables ? ",tables" : "") << (a.ToMemory ? "" : ",file") << ")";
}

// Decodes a JPEG with libjpeg into B,G,R rows top-down; the first component's sampling factors too.
bool DecodeJPEG(const std::vector<uint8_t> &Data, TDecoded &Out, int &HSamp, int &VSamp) {
  jpeg_decompress_struct cinfo;
  struct Err {
    jpeg_error_mgr Pub;
    jmp_buf Jump;
  } err;
  cinfo.err = jpeg_std_error(&err.Pub);
  err.Pub.error_exit = [](j_common_ptr c) { longjmp(reinterpret_cast<Err *>(c->err)->Jump, 1); };
  if (setjmp(err.Jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, Data.data(), Data.size());
  jpeg_read_header(&cinfo, TRUE);
  HSamp = cinfo.comp_info[0].h_samp_factor;
  VSamp = cinfo.comp_info[0].v_samp_factor;
  cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  Out.Width = cinfo.output_width, Out.Height = cinfo.output_height, Out.Channels = 3;
  Out.Samples.assign(size_t(Out.Width) * Out.Height * 3, 0);
  std::vector<uint8_t> row(size_t(Out.Width) * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW r = row.data();
    const uint32_t y = cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &r, 1);
    std::copy(row.begin(), row.end(), Out.Samples.begin() + ptrdiff_t(size_t(y) * Out.Width * 3));
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

uint32_t Noise(uint32_t x, uint32_t y, uint32_t c) {
  uint32_t h = x * 73856093u ^ y * 19349663u ^ c * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return (h ^ (h >> 15)) & 0xFF;
}

class JpegSaveTest : public SaveTest {
protected:
  std::vector<TAttempt> Attempts;
  void SetUp() override {
    SaveTest::SetUp();
    Context.OnJPEGAttempt = [this](const TJPEGAttempt &a) {
      Attempts.push_back({a.Quality, a.SampleType, a.ExplicitTables, a.ToMemory});
    };
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// File-size search

TEST_F(JpegSaveTest, SizeSearchSteppingSamplingThenQuality) {
  // Noise never fits into 1 KB: the whole search runs and the file is written at the lowest quality.
  Context.Formats.JPEG.UseFileSizeLimit = true;
  Context.Formats.JPEG.FileSizeLimit = 1;
  Context.Formats.JPEG.Quality = 90;
  Context.Formats.JPEG.SampleType = 2;
  Context.Formats.JPEG.SampleTypeLimit = 0;
  Context.Formats.JPEG.QualityLimit = 75;
  Context.Formats.JPEG.UseQuantizationTable = 1;
  std::fill(std::begin(Context.Formats.JPEG.LumaQT), std::end(Context.Formats.JPEG.LumaQT), uint16_t(6));
  std::fill(std::begin(Context.Formats.JPEG.ChromaQT), std::end(Context.Formats.JPEG.ChromaQT), uint16_t(9));
  TImage img(128, 128, 3, BPP_8, Noise);
  const std::string out = Scratch.Path("limit.jpg");
  SavePicture(img.Img, Entry, out, RInfo, 8, Context);
  std::vector<TAttempt> want{{90, 2, true, true}, {90, 1, true, true}, {90, 0, true, true}};
  for (int q = 89; q >= 75; --q) want.push_back({q, 0, false, true});
  want.push_back({75, 0, false, false});
  EXPECT_EQ(Attempts, want);
  const auto bytes = ReadFile(out);
  EXPECT_GT(bytes.size(), 1024u);
  TDecoded d;
  int h = 0, v = 0;
  ASSERT_TRUE(DecodeJPEG(bytes, d, h, v));
  EXPECT_EQ(h, 2);
  EXPECT_EQ(v, 2);
  EXPECT_EQ(Scratch.Names(), std::vector<std::string>{"limit.jpg"});
}

TEST_F(JpegSaveTest, SizeSearchLimitAboveSamplingLowersQualityAtOnce) {
  Context.Formats.JPEG.UseFileSizeLimit = true;
  Context.Formats.JPEG.FileSizeLimit = 1;
  Context.Formats.JPEG.Quality = 90;
  Context.Formats.JPEG.SampleType = 0;
  Context.Formats.JPEG.SampleTypeLimit = 2;
  Context.Formats.JPEG.QualityLimit = 87;
  TImage img(128, 128, 3, BPP_8, Noise);
  SavePicture(img.Img, Entry, Scratch.Path("l2.jpg"), RInfo, 8, Context);
  const std::vector<TAttempt> want{{90, 0, false, true}, {89, 2, false, true}, {88, 2, false, true},
                                   {87, 2, false, true}, {87, 2, false, false}};
  EXPECT_EQ(Attempts, want);
}

TEST_F(JpegSaveTest, SizeSearchStopsAtFirstFit) {
  // A texture whose best encode is far larger than a poor one; the limit lies between.
  auto fill = [](uint32_t x, uint32_t y, uint32_t c) { return (x * 3 + y * 2 + c * 40 + (Noise(x, y, c) >> 3)) & 0xFF; };
  TImage probe(256, 256, 3, BPP_8, fill);
  TSaveJob job{&Entry, RInfo, 8, &Context};
  std::vector<uint8_t> buf(1 << 22);
  uint32_t big = 0, small = 0;
  ASSERT_TRUE(SaveJPEGToMemory(probe.Img, job, 90, 2, 0, false, buf.data(), uint32_t(buf.size()), big));
  ASSERT_TRUE(SaveJPEGToMemory(probe.Img, job, 80, 0, 0, false, buf.data(), uint32_t(buf.size()), small));
  const int32_t limitKB = int32_t(small / 1024 + 1);
  ASSERT_LT(limitKB * 1024u, big);
  Context.Formats.JPEG.UseFileSizeLimit = true;
  Context.Formats.JPEG.FileSizeLimit = limitKB;
  Context.Formats.JPEG.Quality = 90;
  Context.Formats.JPEG.SampleType = 2;
  Context.Formats.JPEG.SampleTypeLimit = 0;
  Context.Formats.JPEG.QualityLimit = 50;
  bool lastFitted = false;
  Context.OnJPEGAttempt = [&](const TJPEGAttempt &a) {
    Attempts.push_back({a.Quality, a.SampleType, a.ExplicitTables, a.ToMemory});
    lastFitted = a.Fitted;
  };
  TImage img(256, 256, 3, BPP_8, fill);
  const std::string out = Scratch.Path("fit.jpg");
  SavePicture(img.Img, Entry, out, RInfo, 8, Context);
  EXPECT_TRUE(lastFitted);
  ASSERT_GE(Attempts.size(), 4u);
  EXPECT_EQ(Attempts.back().S, 0);
  EXPECT_GE(Attempts.back().Q, 80);
  EXPECT_LE(ReadFile(out).size(), size_t(limitKB) * 1024);
}

// ---------------------------------------------------------------------------
// Re-encoded JPEG

TEST_F(JpegSaveTest, WorkingDepthGoesStraightToYCbCr) {
  for (int32_t dither : {DITHER_NONE, DITHER_DIFFUSION}) {
    SCOPED_TRACE(dither);
    SetDitherOption(dither);
    Context.Formats.JPEG.Quality = 98;
    Context.Formats.JPEG.SampleType = 2;
    auto fill = [](uint32_t x, uint32_t y, uint32_t c) { return uint32_t(((x * 4 + y * 2 + c * 60) & 0xFF) * 64); };
    TImage img(64, 32, 3, BPP_14, fill);
    const std::string out = Scratch.Path("ycc.jpg");
    SavePicture(img.Img, Entry, out, RInfo, 8, Context);
    TDecoded d;
    int h, v;
    ASSERT_TRUE(DecodeJPEG(ReadFile(out), d, h, v));
    EXPECT_EQ(h, 1);
    double err = 0;
    for (uint32_t y = 0; y < 32; ++y)
      for (uint32_t x = 0; x < 64; ++x)
        for (uint32_t c = 0; c < 3; ++c) err += std::abs(double(d.At(x, y, c)) - fill(x, y, c) / 64.0);
    EXPECT_LT(err / (64 * 32 * 3), 2.0);
  }
  SetDitherOption(DITHER_NONE);
}

TEST_F(JpegSaveTest, ExifOrientationResetAndExtraMarkersKept) {
  // A source JPEG whose Exif says "rotate 90°".
  const std::vector<uint8_t> app1{'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0,
                                  0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
  TImage src(16, 8, 3, BPP_8, [](uint32_t x, uint32_t, uint32_t c) { return x * 10 + c; });
  TJpegEncodeParams p;
  p.App1 = app1.data(), p.App1Len = app1.size(), p.OmitAPP0 = false, p.DensityUnit = 1, p.XDensity = p.YDensity = 200;
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(EncodeJpegToMemory(src.Img, p, jpeg, 1 << 20));
  const std::string srcPath = Scratch.Path("src.jpg");
  WriteFile(srcPath, jpeg);
  ASSERT_TRUE(ProbeImageFile(srcPath, Entry));
  ASSERT_TRUE(Entry.FHasExif);
  EXPECT_EQ(Entry.FOrientation, 6);

  TImage img(8, 16, 3, BPP_8, [](uint32_t x, uint32_t y, uint32_t c) { return x * 10 + y + c; });
  ASSERT_TRUE(MakeExifImage(Entry, img.Img.ExifInfo, img.Img.ExifLen, uint32_t(app1.size()), app1.data()));
  const std::vector<uint8_t> com{0xFF, 0xFE, 0x00, 0x07, 'h', 'e', 'l', 'l', 'o'};
  img.Img.Marker = static_cast<uint8_t *>(AlignedAlloc(64, 16));
  std::memcpy(img.Img.Marker, com.data(), com.size());
  img.Img.MarkerCount = 1;
  Context.AutoRotation = true;
  const std::string out = Scratch.Path("exif.jpg");
  SavePicture(img.Img, Entry, out, RInfo, 8, Context);
  AlignedFree(img.Img.ExifInfo);
  AlignedFree(img.Img.Marker);
  img.Img.ExifInfo = img.Img.Marker = nullptr;

  const auto bytes = ReadFile(out);
  const TJpegWalk walk = WalkJpegSegments(bytes);
  ASSERT_EQ(walk.End, TJpegWalkEnd::SOS);
  ASSERT_FALSE(walk.Segments.empty());
  // OmitAPP0Marker is on by default: Exif comes first, no JFIF.
  EXPECT_EQ(walk.Segments[0].Marker, 0xFFE1);
  bool haveCom = false;
  for (const TJpegSegment &s : walk.Segments) {
    EXPECT_NE(s.Marker, 0xFFE0);
    if (s.Marker == 0xFFFE) haveCom = SegmentStartsWith(bytes, s, "hello");
  }
  EXPECT_TRUE(haveCom);
  const auto tiff = TExifReader::GetExifStream(bytes);
  ASSERT_TRUE(tiff.has_value());
  TExifReader reader;
  ASSERT_TRUE(reader.SetStream(*tiff));
  TExifInfo info;
  double date = 0;
  reader.ReadExifInfo(info, date);
  EXPECT_EQ(info.Orientation, 1);
}

// ---------------------------------------------------------------------------
// Copy without recompression

namespace {

// SOI, [APP0 JFIF], APP1 Exif (with a GPS IFD), APP2 ICC, COM, then the scan of a tiny picture.
std::vector<uint8_t> SourceJpeg(bool WithApp0) {
  TImage img(8, 8, 3, BPP_8, [](uint32_t x, uint32_t y, uint32_t c) { return x * 20 + y * 3 + c; });
  // IFD0: GPS pointer -> GPS IFD with GPSLatitudeRef "N".
  const std::vector<uint8_t> app1{'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0,
                                  1, 0, 0x25, 0x88, 4, 0, 1, 0, 0, 0, 26, 0, 0, 0, 0, 0, 0, 0,
                                  1, 0, 1, 0, 2, 0, 2, 0, 0, 0, 'N', 0, 0, 0, 0, 0, 0, 0, 0, 0};
  TJpegEncodeParams p;
  p.App1 = app1.data(), p.App1Len = app1.size(), p.OmitAPP0 = !WithApp0, p.DensityUnit = 1, p.XDensity = p.YDensity = 96;
  std::vector<uint8_t> jpeg;
  EncodeJpegToMemory(img.Img, p, jpeg, 1 << 20);
  const TJpegWalk walk = WalkJpegSegments(jpeg);
  std::vector<uint8_t> icc{0xFF, 0xE2, 0x00, 0x12, 'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1, 'x', 'y'};
  std::vector<uint8_t> com{0xFF, 0xFE, 0x00, 0x04, 'h', 'i'};
  // After the Exif APP1.
  size_t at = 0;
  for (const TJpegSegment &s : walk.Segments)
    if (s.Marker == 0xFFE1) at = s.End();
  jpeg.insert(jpeg.begin() + ptrdiff_t(at), com.begin(), com.end());
  jpeg.insert(jpeg.begin() + ptrdiff_t(at), icc.begin(), icc.end());
  return jpeg;
}

// The source with its ICC APP2 moved behind the frame header and the tables, just before the scan.
std::vector<uint8_t> SourceJpegWithLateProfile() {
  std::vector<uint8_t> b = SourceJpeg(true);
  const TJpegWalk walk = WalkJpegSegments(b);
  for (const TJpegSegment &s : walk.Segments) {
    if (s.Marker != 0xFFE2) continue;
    const std::vector<uint8_t> seg(b.begin() + ptrdiff_t(s.Pos), b.begin() + ptrdiff_t(s.End()));
    b.insert(b.begin() + ptrdiff_t(walk.EndPos), seg.begin(), seg.end());
    b.erase(b.begin() + ptrdiff_t(s.Pos), b.begin() + ptrdiff_t(s.End()));
    break;
  }
  return b;
}

std::vector<uint16_t> Markers(const std::vector<uint8_t> &Jpeg) {
  std::vector<uint16_t> out;
  for (const TJpegSegment &s : WalkJpegSegments(Jpeg).Segments)
    if (s.Marker >= 0xFFE0) out.push_back(s.Marker);
  return out;
}

}  // namespace

TEST_F(JpegSaveTest, CopyWithNothingToRewriteLeavesFileUntouched) {
  const std::string path = Scratch.Path("same.jpg");
  const auto src = SourceJpeg(true);
  WriteFile(path, src);
  struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
  EXPECT_FALSE(CopyJPEGWithoutRecompression(src, path, path, Entry, RInfo, {}));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(ReadFile(path), src);
  EXPECT_EQ(Scratch.Names(), std::vector<std::string>{"same.jpg"});
}

TEST_F(JpegSaveTest, CopyRewritesSegments) {
  struct Case {
    const char *Name;
    bool App0;
    std::function<void(TFormatOptions &)> Options;
    std::vector<uint16_t> Markers;
    std::function<void(const std::vector<uint8_t> &)> Check;
    bool LateProfile = false;  // the ICC APP2 stands just before the scan
  } cases[] = {
      {"resolution rewritten", true, [](TFormatOptions &F) { F.Metadata.KeepResolution = false, F.Metadata.Resolution = 300; },
       {0xFFE0, 0xFFE1, 0xFFE2, 0xFFFE},
       [](const std::vector<uint8_t> &b) {
         const TJpegSegment s = WalkJpegSegments(b).Segments[0];
         EXPECT_EQ(b[s.PayloadPos + 7], 1);
         EXPECT_EQ(b[s.PayloadPos + 8] << 8 | b[s.PayloadPos + 9], 300);
         EXPECT_EQ(b[s.PayloadPos + 10] << 8 | b[s.PayloadPos + 11], 300);
       }},
      {"Exif dropped, JFIF put in its place", false, [](TFormatOptions &F) { F.JPEG.AddExifInfo = false; },
       {0xFFE0, 0xFFE2, 0xFFFE},
       [](const std::vector<uint8_t> &b) {
         const TJpegSegment s = WalkJpegSegments(b).Segments[0];
         EXPECT_EQ(s.Length, 16);
         EXPECT_TRUE(SegmentStartsWith(b, s, std::string_view("JFIF\0\1\1\1", 8)));
         EXPECT_EQ(b[s.PayloadPos + 8] << 8 | b[s.PayloadPos + 9], 72);  // the entry's 72 dpi
       }},
      {"Exif dropped after JFIF", true, [](TFormatOptions &F) { F.JPEG.AddExifInfo = false; }, {0xFFE0, 0xFFE2, 0xFFFE}, nullptr},
      {"profile dropped", true, [](TFormatOptions &F) { F.Metadata.KeepICCProfile = false; }, {0xFFE0, 0xFFE1, 0xFFFE}, nullptr},
      {"profile behind the frame header dropped", true, [](TFormatOptions &F) { F.Metadata.KeepICCProfile = false; },
       {0xFFE0, 0xFFE1, 0xFFFE}, nullptr, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    SetUp();
    TCopyOptions copy;
    c.Options(copy.Formats);
    const std::string path = Scratch.Path("in.jpg");
    const auto src = c.LateProfile ? SourceJpegWithLateProfile() : SourceJpeg(c.App0);
    WriteFile(path, src);
    EXPECT_TRUE(CopyJPEGWithoutRecompression(src, path, path, Entry, RInfo, copy));
    const auto out = ReadFile(path);
    EXPECT_EQ(Markers(out), c.Markers);
    if (c.Check) c.Check(out);
    // The scan is carried over byte for byte.
    const auto tail = [](const std::vector<uint8_t> &b) {
      const size_t sos = WalkJpegSegments(b).EndPos;
      return std::vector<uint8_t>(b.begin() + ptrdiff_t(sos), b.end());
    };
    EXPECT_EQ(tail(out), tail(src));
    TDecoded d;
    int h, v;
    EXPECT_TRUE(DecodeJPEG(out, d, h, v));
  }
}

TEST_F(JpegSaveTest, CopyBlanksGPSAndDeletesSourceOnlyWhenElsewhere) {
  const std::string in = Scratch.Path("gps.jpg"), out = Scratch.Path("copy.jpg");
  const auto src = SourceJpeg(true);
  WriteFile(in, src);
  TCopyOptions opt;
  opt.DeleteGPSInfoIFD = true;
  opt.DeleteInputFile = true;
  EXPECT_TRUE(CopyJPEGWithoutRecompression(src, in, out, Entry, RInfo, opt));
  EXPECT_FALSE(std::filesystem::exists(in));
  const auto bytes = ReadFile(out);
  ASSERT_EQ(bytes.size(), src.size());
  // "N" of GPSLatitudeRef is gone, the GPS IFD is the single version entry.
  const auto tiff = TExifReader::GetExifStream(bytes);
  ASSERT_TRUE(tiff.has_value());
  EXPECT_EQ((*tiff)[26], 1);
  EXPECT_EQ((*tiff)[28], 0);  // tag 0 GPSVersionID
  EXPECT_EQ(std::count(tiff->begin(), tiff->end(), uint8_t('N')), 0);

  // Same path: written (GPS changed) but never deleted.
  WriteFile(in, src);
  EXPECT_TRUE(CopyJPEGWithoutRecompression(src, in, in, Entry, RInfo, opt));
  EXPECT_TRUE(std::filesystem::exists(in));
}

TEST_F(JpegSaveTest, CopyOfBrokenSegmentsIsUnchanged) {
  auto src = SourceJpeg(true);
  TCopyOptions copy;
  copy.Formats.Metadata.KeepResolution = false;  // would rewrite APP0 if the walk got through
  // The COM segment claims more bytes than the file has.
  const TJpegWalk walk = WalkJpegSegments(src);
  for (const TJpegSegment &s : walk.Segments)
    if (s.Marker == 0xFFFE) src[s.Pos + 2] = 0xFF, src[s.Pos + 3] = 0xF0;
  src.resize(src.size() / 2 > 800 ? 800 : src.size());
  const std::string in = Scratch.Path("broken.jpg"), out = Scratch.Path("out.jpg");
  WriteFile(in, src);
  EXPECT_FALSE(CopyJPEGWithoutRecompression(src, in, in, Entry, RInfo, copy));
  EXPECT_TRUE(CopyJPEGWithoutRecompression(src, in, out, Entry, RInfo, copy));
  EXPECT_EQ(ReadFile(out), src);
  EXPECT_THROW(CopyJPEGWithoutRecompression({1, 2, 3, 4}, in, out, Entry, RInfo, copy), ETessivoError);
  EXPECT_EQ(ReadFile(out), src);
}

// ---------------------------------------------------------------------------
// Tables and densities of re-encoded JPEG

TEST_F(JpegSaveTest, ExplicitTablesAndDensity) {
  struct Case {
    const char *Name;
    bool KeepInfo, Registered, KeepResolution;
    TResolutionInfo R;
    uint16_t LumaFirst;  // first value of the luma table written, 0: the library's own
    uint8_t Unit;
    uint16_t Density;
  } cases[] = {
      {"source tables kept", true, false, true, {300, 300, 1}, 3, 1, 300},
      {"registered tables", false, true, true, {1, 1, 1}, 7, 0, 1},
      {"library tables, configured dpi", false, false, false, {300, 300, 1}, 0, 1, 96},
      {"centimetres as dpi", false, false, true, {100, 100, 2}, 0, 1, 254},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    SetUp();
    Context.Formats.Metadata.KeepResolution = c.KeepResolution;
    Context.Formats.Metadata.Resolution = 96;
    Context.Formats.JPEG.UseQuantizationTable = c.Registered;
    std::fill(std::begin(Context.Formats.JPEG.LumaQT), std::end(Context.Formats.JPEG.LumaQT), uint16_t(7));
    std::fill(std::begin(Context.Formats.JPEG.ChromaQT), std::end(Context.Formats.JPEG.ChromaQT), uint16_t(11));
    TImage img(32, 16, 3, BPP_8, [](uint32_t x, uint32_t y, uint32_t ch) { return x * 5 + y * 3 + ch * 40; });
    if (c.KeepInfo) {
      TJPEGQualityInfo &q = img.Img.JPEGQualityInfo;
      img.Img.HasJPEGQualityInfo = LongTrue;
      q.HSamp = 1, q.VSamp = 1, q.QTCount = 2;
      for (int k = 0; k < 64; ++k) q.QT[0][k] = uint16_t(3 + k % 5), q.QT[1][k] = 13;
      for (int comp = 0; comp < 3; ++comp) q.CompInfo[comp][0] = comp + 1, q.CompInfo[comp][1] = comp ? 1 : 0;
    }
    const std::string out = Scratch.Path("t.jpg");
    SavePicture(img.Img, Entry, out, c.R, 8, Context);
    const auto bytes = ReadFile(out);
    const auto tables = ExtractQuantizationTables(bytes);
    ASSERT_GE(tables.size(), 2u);
    if (c.LumaFirst) {
      EXPECT_EQ(tables[0].Table[0], c.LumaFirst);
      EXPECT_EQ(tables[1].Table[0], c.KeepInfo ? 13 : 11);
    } else {
      EXPECT_NE(tables[0].Table[0], 7);
    }
    TDecoded d;
    int h, v;
    ASSERT_TRUE(DecodeJPEG(bytes, d, h, v));
    if (c.KeepInfo) EXPECT_EQ(h, 1);
    const TJpegWalk walk = WalkJpegSegments(bytes);
    ASSERT_FALSE(walk.Segments.empty());
    const TJpegSegment &app0 = walk.Segments[0];
    ASSERT_EQ(app0.Marker, 0xFFE0);
    EXPECT_EQ(bytes[app0.PayloadPos + 7], c.Unit);
    EXPECT_EQ(bytes[app0.PayloadPos + 8] << 8 | bytes[app0.PayloadPos + 9], c.Density);
  }
}
