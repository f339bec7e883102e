// The console tool's Exif classes: reading, patching in place and rebuilding.
#include "io/ExifReader.h"
#include "io/tests/ExifTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace exiftiff;

namespace {

const std::vector<uint8_t> MakerNote = {'N', 'i', 'k', 'o', 'n', 0, 2, 0, 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0xAB, 0xCD};
constexpr int32_t MakerNoteOffset = 600;  // far from everything else, as cameras put it

// IFD0 (orientation, white point, software, Exif and GPS pointers), an Exif IFD
// with a maker note at a fixed offset and an Interoperability IFD, a GPS IFD,
// and IFD1 with a 40-byte thumbnail.
TTiffBuilder ToolStructure(bool BE) {
  TTiffBuilder b(BE);
  const int exif = b.AddIfd(), gps = b.AddIfd(), interop = b.AddIfd(), ifd1 = b.AddIfd();
  b.Blobs.push_back(std::vector<uint8_t>(40, 0x77));
  b.Ifds[0].Entries = {b.Short(TAG_ORIENTATION, 8), b.Ascii(0x010F, "Maker Inc."),
                       b.Rational(TAG_WHITE_POINT, {3127, 10000, 3290, 10000}), b.Ascii(TAG_SOFTWARE, "Firmware 2"),
                       b.Pointer(TAG_EXIF_IFD, exif), b.Pointer(TAG_GPS_IFD, gps)};
  b.Ifds[0].Next = ifd1;
  auto mn = b.Undefined(TAG_MAKER_NOTE, MakerNote);
  mn.FixedOffset = MakerNoteOffset;
  b.Ifds[exif].Entries = {b.Ascii(TAG_DATE_TIME_ORIGINAL, "2010:05:06 07:08:09"), mn, b.Short(TAG_COLOR_SPACE, 1),
                          b.Pointer(TAG_INTEROP_IFD, interop)};
  b.Ifds[gps].Entries = {b.Undefined(0, {2, 3, 0, 0}), b.Ascii(0x001D, "2010:05:06")};
  b.Ifds[interop].Entries = {b.Ascii(0x0001, "R98")};
  b.Ifds[ifd1].Entries = {b.Short(TAG_COMPRESSION, 6), b.BlobPointer(TAG_JPEG_IF_OFFSET, 0), b.Long(TAG_JPEG_IF_LENGTH, 40)};
  return b;
}

// Offsets of the IFDs and selected values of a structure, read through the probe parse.
struct TFacts {
  TImageProbe Probe;
  uint32_t MakerNoteOffset = 0, MakerNoteCount = 0;
  uint16_t MakerNoteType = 0;
  bool HasGPS = false, HasInterop = false;
  std::string Make;
};

TFacts Facts(std::vector<uint8_t> Tiff) {
  TFacts f;
  ParseExifIFDs(f.Probe, Tiff.data(), Tiff.size(), 0, Tiff.size());
  EXPECT_FALSE(f.Probe.FExifBroken);
  TTiff t(Tiff.data(), Tiff.size());
  uint32_t exif = 0;
  t.ForEach(t.IFD0(), [&](const TEntry &e) {
    if (e.Tag == TAG_EXIF_IFD) exif = t.Number(e);
    if (e.Tag == TAG_GPS_IFD) f.HasGPS = true;
    if (e.Tag == 0x010F) f.Make.assign(reinterpret_cast<const char *>(Tiff.data() + e.ValuePos), e.Count - 1);
  });
  if (exif)
    t.ForEach(exif, [&](const TEntry &e) {
      if (e.Tag == TAG_MAKER_NOTE) f.MakerNoteOffset = uint32_t(e.ValuePos), f.MakerNoteCount = e.Count, f.MakerNoteType = e.Type;
      if (e.Tag == TAG_INTEROP_IFD) f.HasInterop = true;
    });
  return f;
}

TExifInfo NewValues() {
  TExifInfo i;
  i.Flags = EXIFINFO_ORIENTATION | EXIFINFO_WHITEPOINT | EXIFINFO_PRIMARIES | EXIFINFO_COLORSPACE | EXIFINFO_GAMMA;
  i.Orientation = 1;
  i.WhitePoint = {{3457, 10000}, {3585, 10000}};
  i.PCRed = {{64, 100}, {33, 100}};
  i.PCGreen = {{21, 100}, {71, 100}};
  i.PCBlue = {{15, 100}, {6, 100}};
  i.ColorSpace = 65535;
  i.Gamma = {18, 10};
  return i;
}

}  // namespace

TEST(ExifMM, ReservesClipsAndHandsOutEvenOffsets) {
  TExifMM mm;
  mm.SetReserveArea(10, 20);                    // 10..29 free
  mm.SetReserveArea(EXIF_MAX_TIFF_SIZE - 4, 100);  // clipped to the map's end
  mm.SetReserveArea(EXIF_MAX_TIFF_SIZE + 5, 10);   // outside: nothing
  mm.Analyze();
  ASSERT_EQ(mm.FMemoryInfo.size(), 2u);
  EXPECT_EQ(mm.FMemoryInfo[0].Offset, 10u);
  EXPECT_EQ(mm.FMemoryInfo[0].Size, 20u);
  EXPECT_EQ(mm.FSize, EXIF_MAX_TIFF_SIZE - 4);
  EXPECT_EQ(mm.GetOffset(7), 10u);
  EXPECT_EQ(mm.GetOffset(4), 18u);  // 17 is odd: one byte skipped
  EXPECT_EQ(mm.GetOffset(9), std::nullopt);  // 22..29 holds 8, the last block 4
  EXPECT_EQ(mm.GetOffset(4), 22u);
  EXPECT_EQ(mm.GetOffset(4), 26u);
  EXPECT_EQ(mm.GetOffset(4), std::nullopt);  // 0xFFF3 is odd: only 3 bytes from an even start
  EXPECT_EQ(mm.GetOffset(2), EXIF_MAX_TIFF_SIZE - 3);
  EXPECT_EQ(mm.FSize, EXIF_MAX_TIFF_SIZE - 1);
}

TEST(ExifWriter, RebuildKeepsTheMakerNoteAndUnknownDataAtTheirOffsets) {
  for (bool be : {false, true}) {
    auto b = ToolStructure(be);
    b.MinSize = 700;
    auto tiff = b.Build();
    // Bytes that nothing points at (a vendor's private block) must stay too.
    std::memcpy(tiff.data() + 680, "PRIVATE", 7);
    TExifReader r;
    ASSERT_TRUE(r.SetStream(tiff));
    EXPECT_EQ(r.FET, be);
    const auto out = r.WriteExifInfo(NewValues(), TExifWriteOptions{});
    ASSERT_GE(out.size(), 687u);
    const TFacts f = Facts(out);
    EXPECT_EQ(f.MakerNoteOffset, uint32_t(MakerNoteOffset));
    EXPECT_EQ(f.MakerNoteType, TYPE_UNDEFINED);
    EXPECT_EQ(f.MakerNoteCount, MakerNote.size());
    EXPECT_EQ(std::memcmp(out.data() + MakerNoteOffset, MakerNote.data(), MakerNote.size()), 0);
    EXPECT_EQ(std::memcmp(out.data() + 680, "PRIVATE", 7), 0);
    EXPECT_EQ(f.Make, "Maker Inc.");
    EXPECT_TRUE(f.HasGPS);
    EXPECT_TRUE(f.HasInterop);
    EXPECT_EQ(f.Probe.FThumbnailSize, 40u);
    EXPECT_EQ(out[f.Probe.FThumbnailOffset - 6], 0x77);
    // The new values.
    EXPECT_EQ(f.Probe.FOrientation, 1);
    EXPECT_DOUBLE_EQ(f.Probe.FWhitePoint[0], 0.3457);
    EXPECT_DOUBLE_EQ(f.Probe.FPrimaryChromaticities[3], 0.71);
    EXPECT_EQ(f.Probe.FColorSpace, 65535);
    EXPECT_DOUBLE_EQ(f.Probe.FGamma, 1.8);
    EXPECT_DOUBLE_EQ(f.Probe.DateTimeOriginal, ParseExifDate("2010:05:06 07:08:09"));
  }
}

TEST(ExifWriter, SelectionOptions) {
  struct {
    const char *Name;
    bool DeleteGPS, DeleteThumbnail, WithoutMakerNote;
  } cases[] = {
      {"keep all", false, false, false},
      {"drop GPS", true, false, false},
      {"drop thumbnail", false, true, false},
      {"compact without maker note", false, false, true},
      {"compact, drop everything", true, true, true},
  };
  for (const auto &c : cases) {
    TExifReader r;
    ASSERT_TRUE(r.SetStream(ToolStructure(false).Build()));
    TExifWriteOptions o;
    o.DeleteGPSInfo = c.DeleteGPS, o.DeleteThumbnail = c.DeleteThumbnail;
    const auto out = c.WithoutMakerNote ? r.WriteExifInfoWithoutMakerNote(TExifInfo{}, o) : r.WriteExifInfo(TExifInfo{}, o);
    const TFacts f = Facts(out);
    EXPECT_EQ(f.HasGPS, !c.DeleteGPS) << c.Name;
    EXPECT_EQ(f.Probe.FThumbnailSize, c.DeleteThumbnail ? 0u : 40u) << c.Name;
    EXPECT_EQ(f.MakerNoteCount, c.WithoutMakerNote ? 0u : MakerNote.size()) << c.Name;
    EXPECT_EQ(f.Probe.FOrientation, 8) << c.Name;  // no TExifInfo value: the input's
    EXPECT_EQ(f.Make, "Maker Inc.") << c.Name;
    if (c.WithoutMakerNote) EXPECT_LT(out.size(), size_t(MakerNoteOffset)) << c.Name;
  }
}

TEST(ExifWriter, ThumbnailReplacedOnlyWhenANewOneFits) {
  struct {
    const char *Name;
    size_t NewSize;  // what the encoder produces at every quality
    bool Replaced;
  } cases[] = {{"fits", 30, true}, {"too large at every quality", 41, false}};
  for (const auto &c : cases) {
    auto b = ToolStructure(true);
    auto &ifd1 = b.Ifds[4].Entries;  // IFD1
    ifd1.insert(ifd1.begin() + 1, b.Short(TAG_ORIENTATION, 8));
    TExifReader r;
    ASSERT_TRUE(r.SetStream(b.Build()));
    // The tool rotated the image upright; a new thumbnail made from it is upright too.
    TExifInfo info;
    info.Flags = EXIFINFO_ORIENTATION;
    info.Orientation = 1;
    TExifWriteOptions o;
    o.UpdateThumbnail = true;
    std::vector<int32_t> tried;
    o.EncodeThumbnail = [&](int32_t Q) {
      tried.push_back(Q);
      return std::vector<uint8_t>(c.NewSize, 0x11);
    };
    for (int pass = 0; pass < 2; ++pass) {
      tried.clear();
      const auto out = pass ? r.OverWriteExifInfo(info, o) : r.WriteExifInfo(info, o);
      const TFacts f = Facts(out);
      EXPECT_EQ(f.Probe.FOrientation, 1) << c.Name << pass;
      EXPECT_EQ(TiffGet16(out, size_t(f.Probe.FThumbnailOrientationPos - 6)), c.Replaced ? 1 : 8) << c.Name << pass;
      EXPECT_EQ(f.Probe.FThumbnailSize, c.Replaced ? c.NewSize : 40u) << c.Name << pass;
      EXPECT_EQ(out[f.Probe.FThumbnailOffset - 6], c.Replaced ? 0x11 : 0x77) << c.Name << pass;
      EXPECT_EQ(tried.front(), 90) << c.Name;
      if (!c.Replaced) EXPECT_EQ(tried.back(), 5) << c.Name;
    }
  }
}

TEST(ExifWriter, SizeOverWhenTheMapIsFull) {
  // Unknown data fills the whole map; the rebuilt IFDs find no room.
  auto b = ToolStructure(false);
  b.MinSize = EXIF_MAX_TIFF_SIZE;
  auto tiff = b.Build();
  std::memset(tiff.data() + 700, 0x42, tiff.size() - 700);
  TExifReader r;
  ASSERT_TRUE(r.SetStream(tiff));
  TExifInfo many = NewValues();
  try {
    // Orientation, colour data and a long software text need more room than the freed IFDs give.
    r.WriteExifInfo(many, TExifWriteOptions{});
    ADD_FAILURE() << "the rebuilt IFDs were written into a full map";
  } catch (const ETessivoError &e) {
    EXPECT_STREQ(e.what(), EXIF_SIZE_OVER_MESSAGE);
  }
  // An input that leaves no free byte at all.
  TExifReader full;
  std::vector<uint8_t> dense(EXIF_MAX_TIFF_SIZE, 0x42);
  const std::vector<uint8_t> head = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x0F, 0x01, 2, 0, 0xF0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0, 0};
  std::copy(head.begin(), head.end(), dense.begin());
  ASSERT_TRUE(full.SetStream(dense));
  TExifInfo big;
  big.Flags = EXIFINFO_WHITEPOINT | EXIFINFO_PRIMARIES | EXIFINFO_GAMMA | EXIFINFO_COLORSPACE;
  try {
    full.WriteExifInfo(big, TExifWriteOptions{});
    FAIL() << "no space was left";
  } catch (const ETessivoError &e) {
    EXPECT_STREQ(e.what(), EXIF_SIZE_OVER_MESSAGE);
  }
}

TEST(ExifWriter, ReadOverwriteAndBuildNew) {
  TExifReader r;
  ASSERT_TRUE(r.SetStream(ToolStructure(true).Build()));
  TExifInfo info;
  double date = 0;
  ASSERT_TRUE(r.ReadExifInfo(info, date));
  EXPECT_EQ(info.Flags, uint32_t(EXIFINFO_ORIENTATION | EXIFINFO_WHITEPOINT | EXIFINFO_COLORSPACE));
  EXPECT_EQ(info.Orientation, 8);
  EXPECT_EQ(info.WhitePoint.Y.UValue, 3290u);
  EXPECT_DOUBLE_EQ(date, ParseExifDate("2010:05:06 07:08:09"));

  // In place: only tags that exist change; the size stays.
  const auto in = r.FStream;
  const auto over = r.OverWriteExifInfo(NewValues(), TExifWriteOptions{});
  EXPECT_EQ(over.size(), in.size());
  const TFacts f = Facts(over);
  EXPECT_EQ(f.Probe.FOrientation, 1);
  EXPECT_DOUBLE_EQ(f.Probe.FWhitePoint[1], 0.3585);
  EXPECT_EQ(f.Probe.FColorSpace, 65535);
  EXPECT_DOUBLE_EQ(f.Probe.FGamma, 2.2);  // absent from the input: not added in place

  // Without an input: a new big-endian structure with only the given values.
  TExifReader none;
  EXPECT_FALSE(none.SetStream(std::vector<uint8_t>{'X', 'X', 0, 42, 0, 0, 0, 8}));
  const auto fresh = none.WriteExifInfo(NewValues(), TExifWriteOptions{});
  EXPECT_EQ(fresh, TExifReader::CreateExifInfo(NewValues()));
  ASSERT_GE(fresh.size(), 8u);
  EXPECT_EQ(fresh[0], 'M');
  TExifReader back;
  ASSERT_TRUE(back.SetStream(fresh));
  TExifInfo got;
  ASSERT_TRUE(back.ReadExifInfo(got, date));
  EXPECT_EQ(got.Flags, NewValues().Flags);
  EXPECT_EQ(got.PCGreen.Y.UValue, 71u);
  EXPECT_EQ(got.Gamma.UValue, 18u);
}

TEST(ExifWriter, StreamRecognition) {
  const std::vector<uint8_t> exif = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M'};
  EXPECT_TRUE(TExifReader::IsExifStream(exif));
  EXPECT_FALSE(TExifReader::IsExifStream(std::vector<uint8_t>{'E', 'x', 'i', 'f', 0, 1}));
  EXPECT_TRUE(TExifReader::IsJPEGImage(std::vector<uint8_t>{0xFF, 0xD8, 0xFF}));
  EXPECT_FALSE(TExifReader::IsJPEGImage(std::vector<uint8_t>{0xFF, 0xD8, 0x00}));
  const auto tiff = ToolStructure(false).Build();
  struct {
    const char *Name;
    std::vector<uint8_t> Jpeg;
    bool Found;
  } cases[] = {
      {"Exif APP1", MakeJpeg({{0xFFE0, Bytes("JFIF")}, {0xFFE1, ExifPayload(tiff)}}), true},
      {"short APP1 skipped", MakeJpeg({{0xFFE1, Bytes("Exif\0\0MM\0*")}, {0xFFE1, ExifPayload(tiff)}}), true},
      {"XMP only", MakeJpeg({{0xFFE1, Bytes("http://ns.adobe.com/xap/1.0/ and more text")}}), false},
      {"after SOS", MakeJpeg({}), false},
  };
  for (const auto &c : cases) {
    const auto s = TExifReader::GetExifStream(c.Jpeg);
    EXPECT_EQ(s.has_value(), c.Found) << c.Name;
    if (s) EXPECT_EQ(*s, tiff) << c.Name;
  }
}
