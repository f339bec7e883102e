// The segment walk, extra segments, ICC chunks, replacement, deletion and quantisation tables.
#include "io/tests/ExifTestUtil.h"
#include "io/JpegSegment.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using TSegs = std::vector<std::pair<uint16_t, std::vector<uint8_t>>>;

// Markers and first payload bytes of the segments of a JPEG.
std::vector<std::pair<uint16_t, std::string>> Listing(const std::vector<uint8_t> &Jpeg) {
  std::vector<std::pair<uint16_t, std::string>> l;
  for (const auto &s : WalkJpegSegments(Jpeg).Segments)
    l.push_back({s.Marker, std::string(Jpeg.begin() + ptrdiff_t(s.PayloadPos),
                                       Jpeg.begin() + ptrdiff_t(s.PayloadPos + std::min<size_t>(4, s.PayloadLen())))});
  return l;
}

const TSegs Sample = {
    {0xFFE0, Bytes("JFIF\0\1\1")},       {0xFFE1, Bytes("Exif\0\0MM\0*")},
    {0xFFE1, Bytes("http://ns.adobe.com/xap/1.0/\0<x/>")},
    {0xFFE2, Bytes("ICC_PROFILE\0\1\1abcd")}, {0xFFE2, Bytes("FPXR\0")},
    {0xFFED, Bytes("Photoshop 3.0\0")},  {0xFFEE, Bytes("Adobe")},
    {0xFFEF, Bytes("vendor")},           {0xFFFE, Bytes("a comment")},
    {0xFFDB, std::vector<uint8_t>(65, 1)},
};

}  // namespace

TEST(JpegWalk, EndsAtSOSEOIOrDamage) {
  struct {
    const char *Name;
    std::vector<uint8_t> Data;
    TJpegWalkEnd End;
    size_t Segments;
  } cases[] = {
      {"scan", MakeJpeg(Sample), TJpegWalkEnd::SOS, Sample.size()},
      {"no scan", MakeJpeg({{0xFFFE, Bytes("x")}}, false), TJpegWalkEnd::EOI, 1},
      {"not a JPEG", Bytes("GIF89a"), TJpegWalkEnd::NotJpeg, 0},
      {"cut-off length", {0xFF, 0xD8, 0xFF, 0xE1, 0x10}, TJpegWalkEnd::Broken, 0},
      {"length beyond the data", {0xFF, 0xD8, 0xFF, 0xE1, 0x10, 0x00, 1, 2}, TJpegWalkEnd::Broken, 0},
      {"length below 2", {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01, 0xFF, 0xD9}, TJpegWalkEnd::Broken, 0},
      {"marker without 0xFF", {0xFF, 0xD8, 0xFF, 0xFE, 0, 3, 'x', 0x12, 0xE1}, TJpegWalkEnd::Broken, 1},
  };
  for (const auto &c : cases) {
    const auto w = WalkJpegSegments(c.Data);
    EXPECT_EQ(w.End, c.End) << c.Name;
    EXPECT_EQ(w.Segments.size(), c.Segments) << c.Name;
  }
}

TEST(JpegExtraMarker, CollectsTheKindsTheEncoderDoesNotWrite) {
  const auto jpeg = MakeJpeg(Sample);
  uint8_t *block = nullptr;
  uint32_t count = 0;
  GetExtraMarker(block, count, jpeg.size(), jpeg.data());
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
  const size_t size = ExtraMarkerSize(block, count);
  std::vector<uint8_t> asFile = {0xFF, 0xD8};
  asFile.insert(asFile.end(), block, block + size);
  asFile.insert(asFile.end(), {0xFF, 0xD9});
  const auto l = Listing(asFile);
  const std::vector<std::pair<uint16_t, std::string>> expected = {
      {0xFFE1, "http"}, {0xFFE2, std::string("FPXR")}, {0xFFED, "Phot"}, {0xFFFE, "a co"}};
  EXPECT_EQ(l, expected);
  EXPECT_EQ(count, 4u);
  AlignedFree(block);
  // Nothing worth keeping: both stay empty.
  const auto plain = MakeJpeg({{0xFFE0, Bytes("JFIF")}, {0xFFEE, Bytes("Adobe")}});
  GetExtraMarker(block, count, plain.size(), plain.data());
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(count, 0u);
}

TEST(JpegICC, ProfileOf70000BytesIsTwoChunks) {
  std::vector<uint8_t> profile(70000);
  for (size_t i = 0; i < profile.size(); ++i) profile[i] = uint8_t(i * 31);
  std::vector<uint8_t> s = {0xFF, 0xD8};
  WriteICCProfileSegments(s, profile.data(), profile.size());
  s.insert(s.end(), {0xFF, 0xD9});
  const auto w = WalkJpegSegments(s);
  ASSERT_EQ(w.End, TJpegWalkEnd::EOI);
  ASSERT_EQ(w.Segments.size(), 2u);
  std::vector<uint8_t> joined;
  const size_t sizes[2] = {65519, 4481};
  for (int i = 0; i < 2; ++i) {
    const auto &seg = w.Segments[size_t(i)];
    EXPECT_EQ(seg.Marker, JPEG_APP2);
    EXPECT_TRUE(SegmentStartsWith(s, seg, std::string_view("ICC_PROFILE\0", 12)));
    EXPECT_EQ(s[seg.PayloadPos + 12], i + 1);
    EXPECT_EQ(s[seg.PayloadPos + 13], 2);
    EXPECT_EQ(seg.PayloadLen() - 14, sizes[i]);
    joined.insert(joined.end(), s.begin() + ptrdiff_t(seg.PayloadPos + 14), s.begin() + ptrdiff_t(seg.End()));
  }
  EXPECT_EQ(joined, profile);
}

TEST(JpegReplace, ExifAndProfileTakeTheirPlaces) {
  const std::vector<uint8_t> tiff = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0};
  const std::vector<uint8_t> profile(100, 9);
  struct {
    const char *Name;
    TSegs In;
    bool Exif, Profile;
    std::vector<uint16_t> Out;
  } cases[] = {
      {"both replaced", Sample, true, true,
       {0xFFE0, 0xFFE1, 0xFFE1, 0xFFE2, 0xFFE2, 0xFFED, 0xFFEE, 0xFFEF, 0xFFFE, 0xFFDB}},
      {"profile only, old Exif kept", Sample, false, true,
       {0xFFE0, 0xFFE1, 0xFFE1, 0xFFE2, 0xFFE2, 0xFFED, 0xFFEE, 0xFFEF, 0xFFFE, 0xFFDB}},
      {"only APP0 before the scan", {{0xFFE0, Bytes("JFIF")}}, true, true, {0xFFE0, 0xFFE1, 0xFFE2}},
      {"nothing given drops the ICC", {{0xFFE2, Bytes("ICC_PROFILE\0\1\1x")}, {0xFFFE, Bytes("c")}}, false, false, {0xFFFE}},
  };
  for (const auto &c : cases) {
    const auto out = ReplaceICCAndExif(MakeJpeg(c.In), c.Profile ? profile.data() : nullptr, profile.size(),
                                       c.Exif ? tiff.data() : nullptr, tiff.size());
    ASSERT_TRUE(out) << c.Name;
    std::vector<uint16_t> markers;
    for (const auto &[m, head] : Listing(*out)) markers.push_back(m);
    EXPECT_EQ(markers, c.Out) << c.Name;
    const auto w = WalkJpegSegments(*out);
    EXPECT_EQ(std::vector<uint8_t>(out->begin() + ptrdiff_t(w.EndPos), out->end()),
              (std::vector<uint8_t>{0xFF, 0xDA, 0x00, 0x02, 0x12, 0x34, 0x56, 0xFF, 0xD9})) << c.Name;
    for (const auto &s : w.Segments) {
      if (c.Exif && s.Marker == JPEG_APP1 && SegmentStartsWith(*out, s, "Exif")) {
        EXPECT_EQ(s.Length, tiff.size() + 8) << c.Name;
        EXPECT_TRUE(std::equal(tiff.begin(), tiff.end(), out->begin() + ptrdiff_t(s.PayloadPos + 6))) << c.Name;
      }
      if (s.Marker == JPEG_APP2 && SegmentStartsWith(*out, s, "ICC_PROFILE")) EXPECT_TRUE(c.Profile) << c.Name;
    }
  }
  EXPECT_FALSE(ReplaceICCAndExif(std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE1, 0x10}, nullptr, 0, nullptr, 0));
}

TEST(JpegDelete, ModesAndHeaderMatching) {
  auto checked = [](std::vector<std::pair<uint16_t, std::string>> Entries) {
    std::vector<TSegmentInfo> l;
    for (auto &[m, h] : Entries) l.push_back({m, h, LongTrue});
    return l;
  };
  std::vector<TSegmentInfo> defaults = DefaultSegmentList();
  for (auto &e : defaults)
    if (e.Marker == JPEG_APP1 && e.Header == "http") e.Check = LongTrue;
  struct {
    const char *Name;
    std::vector<TSegmentInfo> List;
    bool DeleteChecked;
    std::vector<std::string> Kept;  // first 4 payload bytes of the APPn/COM segments left
  } cases[] = {
      {"delete checked, empty list: unchanged", {}, true,
       {"JFIF", "Exif", "http", "ICC_", "FPXR", "Phot", "Adob", "vend", "a co"}},
      {"keep only Exif", checked({{JPEG_APP1, "Exif"}}), false, {"Exif"}},
      {"XMP matches http, not Exif", defaults, true,
       {"JFIF", "Exif", "ICC_", "FPXR", "Phot", "Adob", "vend", "a co"}},
      {"empty header matches the rest of its marker", checked({{JPEG_APP2, ""}, {JPEG_APP2, "ICC_PROFILE"}}), false,
       {"ICC_", "FPXR"}},
      {"a header longer than the payload never matches", checked({{JPEG_APP14, "AdobeAdobeAdobe"}}), true,
       {"JFIF", "Exif", "http", "ICC_", "FPXR", "Phot", "Adob", "vend", "a co"}},
      {"delete COM", checked({{JPEG_COM, ""}}), true, {"JFIF", "Exif", "http", "ICC_", "FPXR", "Phot", "Adob", "vend"}},
  };
  for (const auto &c : cases) {
    auto jpeg = MakeJpeg(Sample);
    ASSERT_TRUE(DeleteSegments(jpeg, c.List, c.DeleteChecked)) << c.Name;
    std::vector<std::string> kept;
    bool dqt = false;
    for (const auto &[m, head] : Listing(jpeg)) {
      if (IsAcceptedSegmentMarker(m)) kept.push_back(head);
      dqt |= m == JPEG_DQT;
    }
    EXPECT_EQ(kept, c.Kept) << c.Name;
    EXPECT_TRUE(dqt) << c.Name;  // other segments always stay
    if (std::string(c.Name).starts_with("delete checked, empty")) EXPECT_EQ(jpeg, MakeJpeg(Sample));
  }
}

TEST(JpegSegmentList, DefaultListIsSortedAndUnchecked) {
  const auto l = DefaultSegmentList();
  std::vector<std::string> captions;
  for (const auto &e : l) {
    captions.push_back(SegmentInfoCaption(e));
    EXPECT_FALSE(e.Check);
  }
  const std::vector<std::string> expected = {"APP0 JFIF", "APP1 Exif", "APP1 http", "APP2 ICC_PROFILE",
                                             "APP12 Ducky", "APP13 Photoshop", "APP14 Adobe", "COM"};
  EXPECT_EQ(captions, expected);
  EXPECT_TRUE(IsAcceptedSegmentMarker(0xFFEF));
  EXPECT_FALSE(IsAcceptedSegmentMarker(0xFFDB));
  EXPECT_FALSE(IsAcceptedSegmentMarker(0xFFFD));
}

TEST(JpegQuantization, TablesCandidatesAndFiles) {
  std::vector<uint8_t> dqt8 = {0x00}, dqt16 = {0x10};
  for (int i = 0; i < 64; ++i) dqt8.push_back(uint8_t(i + 1));
  for (int i = 0; i < 64; ++i) dqt16.push_back(0), dqt16.push_back(uint8_t(100 + i));
  std::vector<uint8_t> two = dqt8;  // two tables in one segment
  two.push_back(0x01);
  for (int i = 0; i < 64; ++i) two.push_back(uint8_t(200 - i));
  struct {
    const char *Name;
    TSegs Segs;
    size_t Tables;
    bool Luma, Chroma;
  } cases[] = {
      {"two 8-bit tables", {{0xFFDB, two}}, 2, true, true},
      {"one per segment", {{0xFFDB, dqt8}, {0xFFDB, dqt8}}, 2, true, true},
      {"16-bit only: no candidate", {{0xFFDB, dqt16}, {0xFFDB, dqt16}}, 2, false, false},
      {"16-bit then 8-bit", {{0xFFDB, dqt16}, {0xFFDB, dqt8}}, 2, true, false},
      {"cut-off table ignored", {{0xFFDB, std::vector<uint8_t>(dqt8.begin(), dqt8.begin() + 30)}}, 0, false, false},
  };
  for (const auto &c : cases) {
    const auto t = ExtractQuantizationTables(MakeJpeg(c.Segs));
    EXPECT_EQ(t.size(), c.Tables) << c.Name;
    const auto cand = QuantizationCandidates(t);
    EXPECT_EQ(cand.Luma.has_value(), c.Luma) << c.Name;
    EXPECT_EQ(cand.Chroma.has_value(), c.Chroma) << c.Name;
  }
  EXPECT_TRUE(ExtractQuantizationTables(Bytes("not a jpeg at all")).empty());
  const auto t = ExtractQuantizationTables(MakeJpeg({{0xFFDB, two}}));
  EXPECT_EQ(t[1].TableNum, 1);
  EXPECT_EQ(t[1].Table[0], 200);

  // Zigzag order: position 2 of the zigzag is row 1, column 0.
  uint32_t natural[64];
  ZigzagToNatural(t[0].Table, natural);
  EXPECT_EQ(natural[0], 1u);
  EXPECT_EQ(natural[1], 2u);
  EXPECT_EQ(natural[8], 3u);
  EXPECT_EQ(natural[63], 64u);
  uint8_t back[64];
  NaturalToZigzag(natural, back);
  EXPECT_TRUE(std::equal(back, back + 64, t[0].Table));
  for (int i = 0; i < 64; ++i) EXPECT_EQ(NaturalToZigzagIndex[ZigzagToNaturalIndex[i]], i);

  // Registration and loading through ".dqt" files.
  const auto dir = std::filesystem::temp_directory_path() / ("exif-dqt-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  const auto cand = QuantizationCandidates(t);
  EXPECT_FALSE(QuantizationTableExists(dir.string(), "Mine"));
  RegisterQuantizationTables(dir.string(), "Mine", *cand.Luma, &*cand.Chroma);
  RegisterQuantizationTables(dir.string(), "LumaOnly", *cand.Luma, nullptr);
  EXPECT_TRUE(QuantizationTableExists(dir.string(), "Mine"));
  EXPECT_EQ(RegisteredTableCounter(dir.string()), "登録済みテーブル数   輝度:2  色差:1");
  EXPECT_EQ(QuantizationTableLabel("a.jpg", 2), "a.jpg  量子化テーブル数:2");
  // A file with nothing after the table is not listed; long names are cut to 64 bytes.
  const uint8_t zeros[64] = {};
  WriteDqtFile(LumaQTFolder(dir.string()) + "Nameless.dqt", zeros, "");
  WriteDqtFile(LumaQTFolder(dir.string()) + "Long.dqt", zeros, std::string(80, 'n'));
  const auto listed = ListDqtFiles(LumaQTFolder(dir.string()));
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].FileName, "Long.dqt");
  EXPECT_EQ(listed[0].Name.size(), 64u);
  EXPECT_EQ(listed[2].Name, "Mine");
  uint32_t luma[64], chroma[64];
  ASSERT_TRUE(LoadQuantizationTablePair(dir.string(), "Mine.dqt", "Mine.dqt", luma, chroma));
  EXPECT_EQ(luma[8], 3u);
  EXPECT_EQ(chroma[0], 200u);
  EXPECT_FALSE(LoadQuantizationTablePair(dir.string(), "Mine.dqt", "", luma, chroma));
  EXPECT_FALSE(LoadQuantizationTablePair(dir.string(), "Mine.dqt", "Missing.dqt", luma, chroma));
  std::filesystem::remove_all(dir);
}
