// The lossless-JPEG dialog's rules without a window: the copy it edits, the
// segment list's additions, edits and deletions with the re-sorting, the
// inverted check marks of a mode switch, and the segment dialog's choices.
#include "lossless/QuzenOptionForm.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The list as the dialog shows it: caption, "+" when checked.
std::vector<std::string> Shown(const std::vector<TSegmentInfo> &List) {
  std::vector<std::string> v;
  for (const TSegmentInfo &S : List) v.push_back(SegmentInfoCaption(S) + (S.Check ? "+" : ""));
  return v;
}

TSegmentInfo Seg(uint16_t Marker, const std::string &Header, bool Check = false) {
  TSegmentInfo S;
  S.Marker = Marker;
  S.Header = Header;
  S.Check = Check ? LongTrue : LongFalse;
  return S;
}

using TList = std::vector<std::string>;

// The default list, sorted: COM last, APP1 "Exif" before APP1 "http".
const TList DefaultShown = {"APP0 JFIF", "APP1 Exif", "APP1 http", "APP2 ICC_PROFILE",
                            "APP12 Ducky", "APP13 Photoshop", "APP14 Adobe", "COM"};

struct TModeCase {
  const char *Name;
  int32_t From, To;
  std::vector<int> CheckedBefore;  // indexes in the default list
  TList After;
};

const TModeCase ModeCases[] = {
    {"DeleteToProtectKeepsOnlyExifUnchecked", 0, 1, {1},
     {"APP0 JFIF+", "APP1 Exif", "APP1 http+", "APP2 ICC_PROFILE+", "APP12 Ducky+", "APP13 Photoshop+",
      "APP14 Adobe+", "COM+"}},
    {"ProtectToDeleteInvertsTheSameWay", 1, 0, {0, 7},
     {"APP0 JFIF", "APP1 Exif+", "APP1 http+", "APP2 ICC_PROFILE+", "APP12 Ducky+", "APP13 Photoshop+",
      "APP14 Adobe+", "COM"}},
    {"ChoosingTheSameModeChangesNoMark", 0, 0, {2}, {"APP0 JFIF", "APP1 Exif", "APP1 http+", "APP2 ICC_PROFILE",
                                                    "APP12 Ducky", "APP13 Photoshop", "APP14 Adobe", "COM"}},
};

class QuzenModeSwitch : public ::testing::TestWithParam<TModeCase> {};

TEST_P(QuzenModeSwitch, InvertsEveryCheckMarkSoTheSameSegmentsGo) {
  const TModeCase &c = GetParam();
  TWembSettings s;
  s.Option.SegmentDeleteMode = c.From;
  for (int i : c.CheckedBefore) s.Segments[size_t(i)].Check = LongTrue;
  TQuzenOptionForm form(s);
  ASSERT_EQ(Shown(form.Segments()).size(), DefaultShown.size());
  form.SetDeleteMode(c.To);
  EXPECT_EQ(form.DeleteMode(), c.To);
  EXPECT_EQ(Shown(form.Segments()), c.After);
  // The settings are untouched until OK.
  EXPECT_EQ(s.Option.SegmentDeleteMode, c.From);
  TWembSettings stored;
  form.StoreTo(stored);
  EXPECT_EQ(stored.Option.SegmentDeleteMode, c.To);
  EXPECT_EQ(Shown(stored.Segments), c.After);
}

INSTANTIATE_TEST_SUITE_P(Cases, QuzenModeSwitch, ::testing::ValuesIn(ModeCases),
                         [](const ::testing::TestParamInfo<TModeCase> &P) { return std::string(P.param.Name); });

struct TListEditCase {
  const char *Name;
  std::vector<TSegmentInfo> Start;
  std::function<int(TQuzenOptionForm &)> Edit;  // answers the index the change reports
  int Index;                                     // that index (the entry to select afterwards)
  TList After;
};

const std::vector<TSegmentInfo> Three = {Seg(JPEG_APP1, "Exif"), Seg(JPEG_APP13, "Photoshop", true),
                                         Seg(JPEG_COM, "")};

const TListEditCase ListEditCases[] = {
    {"AddingPutsTheEntryInMarkerOrderChecked", Three,
     [](TQuzenOptionForm &f) { return f.Add(Seg(JPEG_APP0 + 5, "Foo")); }, 1,
     {"APP1 Exif", "APP5 Foo+", "APP13 Photoshop+", "COM"}},
    {"AddingSortsHeadersOfOneMarkerByTheirBytes", Three,
     [](TQuzenOptionForm &f) { return f.Add(Seg(JPEG_APP1, "Ex")); }, 0,
     {"APP1 Ex+", "APP1 Exif", "APP13 Photoshop+", "COM"}},
    {"AddingAnEqualEntryPutsItAfterTheOldOne", Three,
     [](TQuzenOptionForm &f) { return f.Add(Seg(JPEG_APP1, "Exif")); }, 1,
     {"APP1 Exif", "APP1 Exif+", "APP13 Photoshop+", "COM"}},
    {"AddingToAnEmptyList", {}, [](TQuzenOptionForm &f) { return f.Add(Seg(JPEG_COM, "")); }, 0, {"COM+"}},
    {"EditingKeepsTheMarkAndMovesTheEntry", Three,
     [](TQuzenOptionForm &f) { return f.Edit(1, Seg(JPEG_APP0, "JFIF")); }, 0,
     {"APP0 JFIF+", "APP1 Exif", "COM"}},
    {"EditingAnUncheckedEntryLeavesItUnchecked", Three,
     [](TQuzenOptionForm &f) { return f.Edit(0, Seg(JPEG_APP15, "Z")); }, 1,
     {"APP13 Photoshop+", "APP15 Z", "COM"}},
    {"EditingOutOfRangeChangesNothing", Three,
     [](TQuzenOptionForm &f) { return f.Edit(3, Seg(JPEG_APP0, "x")); }, -1,
     {"APP1 Exif", "APP13 Photoshop+", "COM"}},
    {"DeletingRemovesTheEntry", Three,
     [](TQuzenOptionForm &f) {
       f.Delete(1);
       return 1;
     },
     1, {"APP1 Exif", "COM"}},
    {"DeletingOutOfRangeChangesNothing", Three,
     [](TQuzenOptionForm &f) {
       f.Delete(-1);
       f.Delete(3);
       return 0;
     },
     0, {"APP1 Exif", "APP13 Photoshop+", "COM"}},
    {"TickingAndUntickingAnEntry", Three,
     [](TQuzenOptionForm &f) {
       f.SetChecked(0, true);
       f.SetChecked(1, false);
       f.SetChecked(9, true);
       return 0;
     },
     0, {"APP1 Exif+", "APP13 Photoshop", "COM"}},
};

class QuzenSegmentList : public ::testing::TestWithParam<TListEditCase> {};

TEST_P(QuzenSegmentList, ChangesTheCopyAndOkStoresIt) {
  const TListEditCase &c = GetParam();
  TWembSettings s;
  s.Segments = c.Start;
  TQuzenOptionForm form(s);
  EXPECT_EQ(c.Edit(form), c.Index);
  EXPECT_EQ(Shown(form.Segments()), c.After);
  EXPECT_EQ(s.Segments.size(), c.Start.size()) << "the settings changed before OK";
  form.StoreTo(s);
  EXPECT_EQ(Shown(s.Segments), c.After);
}

INSTANTIATE_TEST_SUITE_P(Cases, QuzenSegmentList, ::testing::ValuesIn(ListEditCases),
                         [](const ::testing::TestParamInfo<TListEditCase> &P) { return std::string(P.param.Name); });

TEST(QuzenOptionForm, OkStoresTheOptionsAndCancelIsNoCallAtAll) {
  TWembSettings s;
  s.Option.Rotation = 3;
  TQuzenOptionForm form(s);
  EXPECT_EQ(form.Option.Rotation, 3);
  form.Option.Rotation = 5;
  form.Option.ICCImportName = "/p/x.icc";
  form.Option.DeleteMakerNote = LongTrue;
  EXPECT_EQ(s.Option.Rotation, 3);
  form.StoreTo(s);
  EXPECT_EQ(s.Option.Rotation, 5);
  EXPECT_EQ(s.Option.ICCImportName, "/p/x.icc");
  EXPECT_EQ(s.Option.DeleteMakerNote, LongTrue);
}

struct TChoiceCase {
  uint32_t Marker;
  int Index;
  const char *Text;
};

TEST(SegmentDialogChoices, ShowAMarkerAsItsAppNumberOrAsCom) {
  for (const TChoiceCase c : {TChoiceCase{JPEG_APP0, 0, "APP0"}, TChoiceCase{JPEG_APP0 + 7, 7, "APP7"},
                              TChoiceCase{JPEG_APP15, 15, "APP15"}, TChoiceCase{JPEG_COM, 16, "COM"},
                              TChoiceCase{0xFFDB, 16, "COM"}, TChoiceCase{0xFFF0, 16, "COM"}}) {
    EXPECT_EQ(SegmentMarkerIndex(c.Marker), c.Index) << std::hex << c.Marker;
    EXPECT_EQ(SegmentMarkerChoice(c.Index), c.Text);
  }
  EXPECT_EQ(SegmentMarkerChoice(-1), "COM");
}

TEST(SegmentDialogChoices, GiveAppNWithItsHeaderAndComWithoutOne) {
  struct TCase {
    int Index;
    const char *Header;
    uint16_t Marker;
    const char *Stored;
  };
  for (const TCase c : {TCase{0, "JFIF", JPEG_APP0, "JFIF"}, TCase{1, "", JPEG_APP1, ""},
                        TCase{15, "X", JPEG_APP15, "X"}, TCase{16, "ignored", JPEG_COM, ""},
                        TCase{-1, "none chosen", JPEG_COM, ""}}) {
    const TSegmentInfo s = SegmentFromChoice(c.Index, c.Header);
    EXPECT_EQ(s.Marker, c.Marker) << c.Index;
    EXPECT_EQ(s.Header, c.Stored) << c.Index;
  }
}

TEST(WembImportChooser, OpensInTheFolderOfAnAbsoluteNameWhoseFolderExists) {
  const fs::path tmp = fs::temp_directory_path();
  struct TCase {
    std::string Name;
    std::string Folder;
  };
  for (const TCase &c : {TCase{(tmp / "x.dat").string(), tmp.string()}, TCase{"<name>.dat", ""},
                         TCase{"sub/x.dat", ""}, TCase{(tmp / "no-such-folder-q7/x.dat").string(), ""},
                         TCase{"", ""}})
    EXPECT_EQ(WembImportStartFolder(c.Name), c.Folder) << c.Name;
}

}  // namespace
