// The probe parse, the capture date and the save-time patch of the carrier.
#include "io/ExifReader.h"
#include "io/tests/ExifTestUtil.h"
#include "io/JpegSegment.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace exiftiff;

namespace {

struct TImgGuard {
  TICCImgInfo Img;
  ~TImgGuard() { FreeICCImgInfo(Img, false); }
};

struct TCollectErrors {
  std::vector<std::string> Lines;
  TCollectErrors() {
    SetLoadErrorProc([this](const std::string &L) { Lines.push_back(L); });
  }
  ~TCollectErrors() { SetLoadErrorProc(nullptr); }
};

// IFD0 with the tags the probe reads, an Exif IFD, an empty GPS IFD and a JPEG thumbnail in IFD1.
TTiffBuilder FullStructure(bool BE, const std::string &Software = "Camera Firmware 1.0") {
  TTiffBuilder b(BE);
  const int exif = b.AddIfd(), gps = b.AddIfd(), ifd1 = b.AddIfd();
  b.Blobs.push_back({0xFF, 0xD8, 0xFF, 0xD9, 1, 2, 3, 4, 5, 6, 7, 8});
  b.Ifds[0].Entries = {b.Short(TAG_ORIENTATION, 6),
                       b.Rational(TAG_X_RESOLUTION, {300, 1}),
                       b.Rational(TAG_Y_RESOLUTION, {200, 1}),
                       b.Short(TAG_RESOLUTION_UNIT, 2),
                       b.Ascii(TAG_SOFTWARE, Software),
                       b.Rational(TAG_WHITE_POINT, {3127, 10000, 3290, 10000}),
                       b.Rational(TAG_PRIMARY_CHROMATICITIES, {64, 100, 33, 100, 30, 100, 60, 100, 15, 100, 6, 100}),
                       b.Pointer(TAG_EXIF_IFD, exif),
                       b.Pointer(TAG_GPS_IFD, gps)};
  b.Ifds[0].Next = ifd1;
  b.Ifds[exif].Entries = {b.Ascii(TAG_DATE_TIME_ORIGINAL, "2000:01:02 12:00:00"), b.Short(TAG_COLOR_SPACE, 65535),
                          b.Short(TAG_PIXEL_X_DIMENSION, 640), b.Short(TAG_PIXEL_Y_DIMENSION, 480),
                          b.Rational(TAG_GAMMA, {22, 10})};
  b.Ifds[ifd1].Entries = {b.Short(TAG_COMPRESSION, 6), b.Short(TAG_ORIENTATION, 6),
                          b.BlobPointer(TAG_JPEG_IF_OFFSET, 0), b.Long(TAG_JPEG_IF_LENGTH, 12)};
  return b;
}

}  // namespace

TEST(ExifDate, ParsesSixNumbersAndRejectsTheRest) {
  struct {
    const char *Text;
    double Expected;
  } cases[] = {
      {"2000:01:01 00:00:00", 36526.0},
      {"2000:01:02 12:00:00", 36527.5},
      {"1899:12:30 00:00:00", 0.0},
      {"2024:02:29 06:00:00", 45351.25},
      {"2023:02:29 00:00:00", 0},  // no leap year
      {"2024:13:01 00:00:00", 0},
      {"2024:01:01 24:00:00", 0},
      {"2024:01:01 00:00", 0},
      {"2024:01:01 00:00:00:00", 0},
      {"2024-01-01 00:00:00", 0},
      {"2024:01:01  00:00:00", 0},  // two blanks give an empty part
      {"    :  :     :  :  ", 0},
      {"", 0},
  };
  for (const auto &c : cases) EXPECT_DOUBLE_EQ(ParseExifDate(c.Text), c.Expected) << c.Text;
  // The stored value carries its terminating zero.
  EXPECT_DOUBLE_EQ(ParseExifDate(std::string_view("2000:01:01 00:00:00\0", 20)), 36526.0);
}

TEST(ExifProbe, FillsEveryFieldInBothByteOrders) {
  for (bool be : {false, true}) {
    std::vector<uint32_t> blobs;
    const auto tiff = FullStructure(be).Build(&blobs);
    // A file: 20 bytes of something, then "Exif\0\0" and the structure.
    std::vector<uint8_t> file(20, 0xAA);
    const auto payload = ExifPayload(tiff);
    file.insert(file.end(), payload.begin(), payload.end());
    TImageProbe e;
    e.FExifPos = 20;
    ParseExifIFDs(e, file.data(), file.size(), 26, tiff.size());
    EXPECT_FALSE(e.FExifBroken);
    EXPECT_EQ(e.FET, be);
    EXPECT_EQ(e.FOrientation, 6);
    EXPECT_EQ(TiffGet16(tiff, size_t(e.FOrientationPos - 6)), 6);
    EXPECT_DOUBLE_EQ(e.FXResolution, 300);
    EXPECT_DOUBLE_EQ(e.FYResolution, 200);
    EXPECT_EQ(e.FResolutionUnit, 1);  // Exif inch -> per inch
    EXPECT_EQ(TiffGet32(tiff, size_t(e.FXResolutionPos - 6)), 300u);
    EXPECT_EQ(e.FSoftwareLen, 20);
    EXPECT_EQ(TiffGet32(tiff, size_t(e.FSoftwareLenPos - 6)), 20u);
    EXPECT_EQ(std::memcmp(tiff.data() + e.FSoftwarePos - 6, "Camera", 6), 0);
    EXPECT_DOUBLE_EQ(e.FWhitePoint[0], 0.3127);
    EXPECT_DOUBLE_EQ(e.FPrimaryChromaticities[2], 0.30);
    EXPECT_EQ(e.FColorSpace, 65535);
    EXPECT_DOUBLE_EQ(e.FGamma, 2.2);
    EXPECT_TRUE(e.FHasColorInfo);
    EXPECT_EQ(e.FXDimensionType, TYPE_SHORT);
    EXPECT_EQ(TiffGet16(tiff, size_t(e.FYDimensionPos - 6)), 480);
    EXPECT_DOUBLE_EQ(e.DateTimeOriginal, 36527.5);
    EXPECT_EQ(e.FThumbnailPos, int32_t(26 + blobs[0]));
    EXPECT_EQ(e.FThumbnailSize, 12u);
    EXPECT_EQ(e.FThumbnailOffset, int32_t(6 + blobs[0]));
    EXPECT_EQ(TiffGet16(tiff, size_t(e.FThumbnailOrientationPos - 6)), 6);
  }
}

TEST(ExifProbe, PartialFactsAreLeftAtTheirDefaults) {
  struct {
    const char *Name;
    uint16_t Drop;  // tag removed from IFD0 or IFD1
    bool Ifd1;
  } cases[] = {
      {"no unit: no resolution", TAG_RESOLUTION_UNIT, false},
      {"no Y resolution", TAG_Y_RESOLUTION, false},
      {"no compression: no thumbnail", TAG_COMPRESSION, true},
      {"no length: no thumbnail", TAG_JPEG_IF_LENGTH, true},
  };
  for (const auto &c : cases) {
    auto b = FullStructure(false);
    auto &l = b.Ifds[c.Ifd1 ? 3 : 0].Entries;
    std::erase_if(l, [&](const TTestEntry &e) { return e.Tag == c.Drop; });
    const auto tiff = b.Build();
    TImageProbe e;
    ParseExifIFDs(e, tiff.data(), tiff.size(), 0, tiff.size());
    EXPECT_FALSE(e.FExifBroken) << c.Name;
    if (c.Ifd1) {
      EXPECT_EQ(e.FThumbnailSize, 0u) << c.Name;
    } else {
      EXPECT_EQ(e.FXResolution, 0) << c.Name;
      EXPECT_EQ(e.FResolutionUnit, 0) << c.Name;
    }
  }
}

TEST(ExifProbe, HostileBlocksAreMarkedBroken) {
  const auto good = FullStructure(false).Build();
  struct {
    const char *Name;
    size_t Off;   // where to write
    uint32_t V;   // 32-bit little-endian value
  } cases[] = {
      {"IFD0 offset beyond the block", 4, 0xFFFFFFF0},
      {"entry count beyond the block", 8, 0xFFFF},
      {"value offset beyond the block", 8 + 2 + 1 * 12 + 8, 0x7FFFFFF0},   // XResolution
      {"count overflowing the value size", 8 + 2 + 4 * 12 + 4, 0xFFFFFFFF},  // Software
  };
  for (const auto &c : cases) {
    auto bad = good;
    std::memcpy(bad.data() + c.Off, &c.V, 4);
    TCollectErrors errors;
    TImageProbe e;
    e.FPath = "a.jpg";
    ParseExifIFDs(e, bad.data(), bad.size(), 0, bad.size());
    EXPECT_TRUE(e.FExifBroken) << c.Name;
    ASSERT_EQ(errors.Lines.size(), 1u) << c.Name;
    EXPECT_EQ(errors.Lines[0], std::string("a.jpg") + EXIF_BROKEN_MESSAGE);
  }
  // The block's length bounds the parse, not the file behind it.
  TImageProbe e;
  TCollectErrors errors;
  ParseExifIFDs(e, good.data(), good.size(), 0, 40);
  EXPECT_TRUE(e.FExifBroken);
}

TEST(ExifProbe, RandomDamageNeverReadsOutside) {
  const auto good = FullStructure(true).Build();
  std::mt19937 rng(7);
  TCollectErrors errors;
  size_t broken = 0;
  for (int i = 0; i < 3000; ++i) {
    auto bad = good;
    for (int k = 0; k < 4; ++k) bad[rng() % bad.size()] = uint8_t(rng());
    bad.resize(8 + rng() % (bad.size() - 8));
    // An exact-size heap copy so that ASan sees any overrun.
    std::unique_ptr<uint8_t[]> p(new uint8_t[bad.size()]);
    std::memcpy(p.get(), bad.data(), bad.size());
    TImageProbe e;
    ParseExifIFDs(e, p.get(), bad.size(), 0, bad.size());
    broken += e.FExifBroken != 0;
    // A thumbnail the probe keeps lies inside what it was given.
    if (!e.FExifBroken && e.FThumbnailSize) {
      EXPECT_LE(size_t(e.FThumbnailPos) + e.FThumbnailSize, bad.size()) << "case " << i;
    }
  }
  // Cut short at random, most structures break and a few stay whole; each
  // broken one is logged once.
  EXPECT_GT(broken, 0u);
  EXPECT_LT(broken, 3000u);
  EXPECT_EQ(errors.Lines.size(), broken);
}

// ---------------------------------------------------------------------------
// Save-time patch

namespace {

struct TPatched {
  std::vector<uint8_t> Tiff;  // the structure of the returned payload
  TImageProbe Entry;
};

TPatched Patch(const std::vector<uint8_t> &Tiff, bool AutoRotation, bool UpdateResolution, bool UpdateSize,
               const TExifSaveOptions &Opt, int32_t ExifPos = 20, const TICCImgInfo *Src = nullptr) {
  TPatched r;
  const auto payload = ExifPayload(Tiff);
  r.Entry.FExifPos = ExifPos;
  uint8_t *carrier = nullptr;
  uint32_t len = 0;
  EXPECT_TRUE(MakeExifImage(r.Entry, carrier, len, uint32_t(payload.size()), payload.data()));
  TImgGuard img{MakeTestImage(320, 200)};
  const auto out = GetExifInfo(r.Entry, carrier, len, AutoRotation, Src ? *Src : img.Img, nullptr, UpdateResolution,
                               UpdateSize, nullptr, Opt);
  AlignedFree(carrier);
  EXPECT_GE(out.size(), 6u);
  EXPECT_EQ(std::memcmp(out.data(), "Exif\0\0", 6), 0);
  r.Tiff.assign(out.begin() + 6, out.end());
  return r;
}

TImageProbe Probe(const std::vector<uint8_t> &Tiff) {
  TImageProbe e;
  ParseExifIFDs(e, Tiff.data(), Tiff.size(), 0, Tiff.size());
  EXPECT_FALSE(e.FExifBroken);
  return e;
}

}  // namespace

TEST(ExifPatch, CarrierKeepsThePayloadAndTheResolution) {
  const auto payload = ExifPayload(FullStructure(false).Build());
  TImageProbe e;
  e.FXResolution = 350, e.FYResolution = 350, e.FResolutionUnit = 1;
  uint8_t *carrier = nullptr;
  uint32_t len = 0;
  ASSERT_TRUE(MakeExifImage(e, carrier, len, uint32_t(payload.size()), payload.data()));
  const std::span<const uint8_t> c(carrier, len);
  const auto w = WalkJpegSegments(c);
  ASSERT_GE(w.Segments.size(), 2u);
  EXPECT_EQ(w.Segments[0].Marker, JPEG_APP0);
  EXPECT_EQ(c[w.Segments[0].PayloadPos + 7], 1);    // unit: dpi
  EXPECT_EQ(c[w.Segments[0].PayloadPos + 9], 350 & 0xFF);
  EXPECT_EQ(w.Segments[1].Marker, JPEG_APP1);
  EXPECT_EQ(std::vector<uint8_t>(c.begin() + ptrdiff_t(w.Segments[1].PayloadPos), c.begin() + ptrdiff_t(w.Segments[1].End())),
            payload);
  AlignedFree(carrier);
}

TEST(ExifPatch, SoftwareIsReplacedOnlyWhenLongerThanTheName) {
  struct {
    std::string Value;  // without terminator; count = size + 1
    bool Update;
    std::string Expected;
  } cases[] = {
      {"Camera Firmware 1.0", true, std::string("TessivoPlus") + std::string(9, '\0')},
      {"ABCDEFGHIJK", true, std::string("TessivoPlus") + '\0'},  // 12 bytes: one more than the name
      {"ABCDEFGHIJ", true, std::string("ABCDEFGHIJ") + '\0'},    // 11 bytes: exactly the name's length
      {"Camera Firmware 1.0", false, std::string("Camera Firmware 1.0") + '\0'},
  };
  for (const auto &c : cases) {
    TExifSaveOptions opt;
    opt.UpdateSoftwareTag = c.Update;
    const auto r = Patch(FullStructure(false, c.Value).Build(), false, false, false, opt);
    const TImageProbe e = Probe(r.Tiff);
    const std::string stored(reinterpret_cast<const char *>(r.Tiff.data() + e.FSoftwarePos - 6), c.Value.size() + 1);
    EXPECT_EQ(stored, c.Expected) << c.Value;
    EXPECT_EQ(size_t(e.FSoftwareLen), c.Value.size() + 1 > 11 && c.Update ? 12 : c.Value.size() + 1) << c.Value;
  }
}

TEST(ExifPatch, OrientationResetOnlyAfterRotationFromARotatedValue) {
  struct {
    uint16_t Orientation;
    bool AutoRotation;
    uint16_t Expected;
  } cases[] = {{6, true, 1}, {8, true, 1}, {6, false, 6}, {0, true, 0}, {1, true, 1}};
  for (const auto &c : cases) {
    auto b = FullStructure(true);
    b.Ifds[0].Entries[0] = b.Short(TAG_ORIENTATION, c.Orientation);
    b.Ifds[3].Entries[1] = b.Short(TAG_ORIENTATION, c.Orientation);
    TExifSaveOptions opt;
    opt.UpdateExifThumbnail = true;  // IFD1's orientation follows IFD0's rule
    const auto r = Patch(b.Build(), c.AutoRotation, false, false, opt);
    const TImageProbe e = Probe(r.Tiff);
    EXPECT_EQ(e.FOrientation, c.Expected) << c.Orientation;
    EXPECT_EQ(TiffGet16(r.Tiff, size_t(e.FThumbnailOrientationPos - 6)), c.Expected) << c.Orientation;
  }
}

TEST(ExifPatch, ResolutionAndSizeRewrittenOnRequest) {
  for (bool update : {false, true}) {
    TExifSaveOptions opt;
    opt.Resolution = 96;
    auto b = FullStructure(false);
    b.Ifds[0].Entries[3] = b.Short(TAG_RESOLUTION_UNIT, 3);
    const auto r = Patch(b.Build(), false, update, update, opt);
    const TImageProbe e = Probe(r.Tiff);
    EXPECT_DOUBLE_EQ(e.FXResolution, update ? 96 : 300);
    EXPECT_DOUBLE_EQ(e.FYResolution, update ? 96 : 200);
    EXPECT_EQ(e.FResolutionUnit, update ? 1 : 2);
    EXPECT_EQ(e.FXDimensionType, update ? TYPE_LONG : TYPE_SHORT);
    if (update) {
      EXPECT_EQ(TiffGet32(r.Tiff, size_t(e.FXDimensionPos - 6)), 320u);
      EXPECT_EQ(TiffGet32(r.Tiff, size_t(e.FYDimensionPos - 6)), 200u);
    }
  }
}

TEST(ExifPatch, GPSBlanking) {
  struct {
    const char *Name;
    int Entries;  // GPS entries in the source
  } cases[] = {{"empty GPS IFD", 0}, {"one entry", 1}, {"several entries", 3}};
  for (const auto &c : cases) {
    auto b = FullStructure(true);
    auto &gps = b.Ifds[2].Entries;
    gps.push_back(b.Undefined(0x0000, {2, 3, 0, 0}));
    gps.push_back(b.Rational(0x0002, {35, 1, 40, 1, 3012, 100}));
    gps.push_back(b.Ascii(0x001D, "2020:01:01"));
    gps.resize(size_t(c.Entries), b.Short(1, 1));
    b.Ifds[2].Next = 0;  // a stray next-IFD offset must go
    std::vector<uint32_t> ifds;
    const auto tiff = b.Build(nullptr, &ifds);
    TExifSaveOptions opt;
    opt.DeleteGPSInfoIFD = true;
    const auto r = Patch(tiff, false, false, false, opt);
    const size_t g = ifds[2];
    EXPECT_EQ(TiffGet16(r.Tiff, g), c.Entries ? 1 : 0) << c.Name;
    const size_t next = g + 2 + (c.Entries ? 12 : 0);
    EXPECT_EQ(TiffGet32(r.Tiff, next), 0u) << c.Name;
    if (c.Entries) {
      EXPECT_EQ(TiffGet16(r.Tiff, g + 2), 0) << c.Name;
      EXPECT_EQ(TiffGet16(r.Tiff, g + 4), TYPE_BYTE) << c.Name;
      EXPECT_EQ(TiffGet32(r.Tiff, g + 6), 4u) << c.Name;
      EXPECT_EQ(std::vector<uint8_t>(r.Tiff.begin() + ptrdiff_t(g + 10), r.Tiff.begin() + ptrdiff_t(g + 14)),
                (std::vector<uint8_t>{2, 2, 0, 0})) << c.Name;
      // Old entries and values over 4 bytes are gone.
      for (size_t i = g + 14; i < g + 2 + size_t(c.Entries) * 12 + 4; ++i) EXPECT_EQ(r.Tiff[i], 0) << c.Name;
      EXPECT_EQ(std::search(r.Tiff.begin(), r.Tiff.end(), std::begin("2020:01:01"), std::end("2020:01:01") - 1), r.Tiff.end());
    }
  }
  // Without a GPS IFD nothing is found.
  auto b = FullStructure(false);
  b.Ifds[0].Entries.pop_back();
  auto t = b.Build();
  EXPECT_FALSE(BlankGPSInfo(t));
}

TEST(ExifPatch, NonJPEGSourceGetsAThumbnailIFD) {
  auto b = FullStructure(false);
  b.Ifds[0].Next = -1;
  const auto r = Patch(b.Build(), false, false, false, TExifSaveOptions{}, 0);
  const TImageProbe e = Probe(r.Tiff);
  ASSERT_GT(e.FThumbnailSize, 100u);
  const size_t at = size_t(e.FThumbnailOffset - 6);
  EXPECT_EQ(r.Tiff[at], 0xFF);
  EXPECT_EQ(r.Tiff[at + 1], 0xD8);
  EXPECT_EQ(r.Tiff[at + 2], 0xFF);
  EXPECT_NE(r.Tiff[at + 3], 0xE0);  // no APP0
  EXPECT_EQ(TiffGet16(r.Tiff, size_t(e.FThumbnailOrientationPos - 6)), 1);
  // The thumbnail is 160 x 100 for a 320 x 200 image: height and width in its SOF.
  const std::vector<uint8_t> thumb(r.Tiff.begin() + ptrdiff_t(at), r.Tiff.begin() + ptrdiff_t(at + e.FThumbnailSize));
  const auto w = WalkJpegSegments(thumb);
  bool sof = false;
  for (const auto &s : w.Segments)
    if (s.Marker == 0xFFC0) {
      sof = true;
      EXPECT_EQ(thumb[s.PayloadPos + 1] << 8 | thumb[s.PayloadPos + 2], 100);
      EXPECT_EQ(thumb[s.PayloadPos + 3] << 8 | thumb[s.PayloadPos + 4], 160);
    }
  EXPECT_TRUE(sof);
}

TEST(ExifPatch, ThumbnailUpdatedInPlaceOnlyWhenItFits) {
  struct {
    const char *Name;
    size_t OldLen;
    bool Replaced;
  } cases[] = {{"room for a new one", 30000, true}, {"cannot shrink that far", 200, false}};
  for (const auto &c : cases) {
    auto b = FullStructure(false);
    b.Blobs[0].assign(c.OldLen, 0x5A);
    b.Ifds[3].Entries[3] = b.Long(TAG_JPEG_IF_LENGTH, uint32_t(c.OldLen));
    const auto tiff = b.Build();
    TExifSaveOptions opt;
    opt.UpdateExifThumbnail = true;
    const auto r = Patch(tiff, false, false, false, opt);
    ASSERT_EQ(r.Tiff.size(), tiff.size()) << c.Name;
    const TImageProbe e = Probe(r.Tiff);
    EXPECT_EQ(e.FThumbnailSize, c.OldLen) << c.Name;  // the length entry is not changed
    const uint8_t *t = r.Tiff.data() + e.FThumbnailOffset - 6;
    if (c.Replaced) {
      EXPECT_EQ(t[0], 0xFF) << c.Name;
      EXPECT_EQ(t[1], 0xD8) << c.Name;
      EXPECT_EQ(t[c.OldLen - 1], 0) << c.Name;  // old bytes zeroed behind the new ones
    } else {
      EXPECT_EQ(std::memcmp(t, tiff.data() + e.FThumbnailOffset - 6, c.OldLen), 0) << c.Name;
    }
  }
}

// A damaged block is patched where it can be read: after an automatic
// rotation the picture must not be turned a second time by the viewer, so the
// orientation is reset even when the IFD declares more entries than the block
// holds. A block that is no TIFF structure at all is not written.
TEST(ExifPatch, DamagedExifIsPatchedWhereReadableAndDroppedWhenNoStructure) {
  auto tiff = FullStructure(false).Build();
  tiff[8] = 0xFF, tiff[9] = 0x7F;  // entry count far beyond the block
  TImageProbe e;
  TCollectErrors errors;
  ParseExifIFDs(e, tiff.data(), tiff.size(), 0, tiff.size());
  ASSERT_TRUE(e.FExifBroken);
  EXPECT_EQ(e.FOrientation, 6);  // what could be read was read
  TExifSaveOptions opt;
  opt.DeleteGPSInfoIFD = opt.UpdateExifThumbnail = true;
  const auto payload = ExifPayload(tiff);
  uint8_t *carrier = nullptr;
  uint32_t len = 0;
  ASSERT_TRUE(MakeExifImage(e, carrier, len, uint32_t(payload.size()), payload.data()));
  TImgGuard img{MakeTestImage(8, 8)};
  const auto out = GetExifInfo(e, carrier, len, true, img.Img, nullptr, true, true, nullptr, opt);
  AlignedFree(carrier);
  ASSERT_EQ(out.size(), payload.size());
  TImageProbe back;
  ParseExifIFDs(back, out.data() + 6, out.size() - 6, 0, out.size() - 6);
  EXPECT_EQ(back.FOrientation, 1);

  auto junk = ExifPayload(Bytes("not a TIFF structure"));
  ASSERT_TRUE(MakeExifImage(e, carrier, len, uint32_t(junk.size()), junk.data()));
  EXPECT_TRUE(GetExifInfo(e, carrier, len, true, img.Img, nullptr, true, true, nullptr, opt).empty());
  AlignedFree(carrier);
}

// Irregularities that lose nothing are read without a word; a block that
// declares more than it holds keeps what it can and is reported once.
TEST(ExifProbe, HarmlessIrregularitiesAreReadWithoutAWarning) {
  struct TCase {
    const char *Name;
    std::vector<uint8_t> Tiff;
    bool Broken;
  };
  const auto make = [](auto Change) {
    TTiffBuilder b(true);
    const int exif = b.AddIfd();
    b.Ifds[0].Entries = {b.Short(TAG_ORIENTATION, 6), b.Pointer(TAG_EXIF_IFD, exif)};
    b.Ifds[exif].Entries = {b.Short(TAG_COLOR_SPACE, 1)};
    Change(b);
    return b.Build();
  };
  auto noNext = make([](TTiffBuilder &) {});
  noNext.resize(noNext.size() - 4);  // the Exif IFD comes last: its next-IFD offset is cut off
  auto farNext = make([](TTiffBuilder &) {});
  farNext[8 + 2 + 2 * 12] = 0x7F;  // IFD0's next-IFD offset (big-endian) points far past the end
  const auto unknownType = make([](TTiffBuilder &b) {
    TTestEntry odd = b.Long(0x010F, 0);
    odd.Type = 99;  // no such type: skipped by its type
    b.Ifds[0].Entries.insert(b.Ifds[0].Entries.begin(), odd);
  });
  auto badValue = make([](TTiffBuilder &b) {
    b.Ifds[0].Entries.insert(b.Ifds[0].Entries.begin(), b.Ascii(0x010F, "A maker name longer than four bytes"));
  });
  badValue[8 + 2 + 8] = 0x7F;  // the first entry's value offset (big-endian) points far outside
  auto cut = make([](TTiffBuilder &) {});
  cut.resize(8 + 2 + 12 + 6);  // IFD0 declares two entries; the block ends in the second
  const TCase cases[] = {
      {"no next-IFD offset at the end of the block", noNext, false},
      {"next-IFD offset past the end", farNext, false},
      {"an entry of an unknown type", unknownType, false},
      {"a value outside the block", badValue, true},
      {"cut short inside IFD0", cut, true},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    TCollectErrors errors;
    TImageProbe e;
    e.FPath = "a.jpg";
    ParseExifIFDs(e, c.Tiff.data(), c.Tiff.size(), 0, c.Tiff.size());
    EXPECT_EQ(e.FExifBroken != 0, c.Broken);
    EXPECT_EQ(errors.Lines.size(), c.Broken ? 1u : 0u);
    EXPECT_EQ(e.FOrientation, 6);
  }
}

TEST(ExifPatch, AppendedThumbnailMustFitTheSegment) {
  auto b = FullStructure(false);
  b.Ifds[0].Next = -1;
  auto payload = ExifPayload(b.Build());
  const auto before = payload;
  EXPECT_FALSE(AppendExifThumbnail(payload, std::vector<uint8_t>(EXIF_MAX_PAYLOAD, 1), 1));
  EXPECT_EQ(payload, before);
  uint32_t pos = 0;
  EXPECT_TRUE(AppendExifThumbnail(payload, std::vector<uint8_t>(1000, 1), 3, &pos));
  const TImageProbe e = Probe(std::vector<uint8_t>(payload.begin() + 6, payload.end()));
  EXPECT_EQ(uint32_t(e.FThumbnailOffset - 6), pos);
  EXPECT_EQ(e.FThumbnailSize, 1000u);
}
