// The geometry and tone dialogs' rules without a window: fields of the
// trimming and margin dialogs, the trimming selection written back into the
// field (checked against the crop the trimming step itself computes), the
// selection presets, the tone-curve point editing and the gamma scroll bars.
#include "app/window/dialogs/CurveEditRules.h"
#include "app/window/dialogs/SizeFieldRules.h"
#include "app/window/dialogs/ToneFormRules.h"

#include "effects/GrayscaleFilter.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string NameOf(const char *Name) { return Name; }

// ---------------------------------------------------------------------------
// Fields

struct TFieldCase {
  const char *Name;
  const char *Text;
  TFieldForm Form;
  bool Accepted;
  TFieldValues Values;  // when accepted
};

class SizeField : public testing::TestWithParam<TFieldCase> {};

TEST_P(SizeField, IsReadIntoFourCheckedValues) {
  const TFieldCase &C = GetParam();
  const std::optional<TFieldValues> v = ParseField(C.Text, C.Form, 1000, 1000);
  ASSERT_EQ(v.has_value(), C.Accepted);
  if (C.Accepted) {
    EXPECT_EQ(*v, C.Values);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SizeField,
    testing::Values(
        TFieldCase{"PlainFourValues", "0,0,W,H", TFieldForm::Plain, true, {"0", "0", "W", "H"}},
        TFieldCase{"BlanksAreRemoved", " 10 , w / 2 ,  h-5,0", TFieldForm::Plain, true, {"10", "w/2", "h-5", "0"}},
        TFieldCase{"ThreeValuesAreRefused", "1,2,3", TFieldForm::Plain, false, {}},
        TFieldCase{"FiveValuesAreRefused", "1,2,3,4,5", TFieldForm::Plain, false, {}},
        TFieldCase{"AnEmptyValueDoesNotEvaluate", "1,,3,4", TFieldForm::Plain, false, {}},
        TFieldCase{"ALetterOtherThanWAndHIsRefused", "1,2,x,4", TFieldForm::Plain, false, {}},
        TFieldCase{"AMalformedExpressionIsRefused", "1,2,(w,4", TFieldForm::Plain, false, {}},
        TFieldCase{"DivisionByZeroIsRefused", "1,2,w/0,4", TFieldForm::Plain, false, {}},
        TFieldCase{"TrimAspect", "16:9,50,50", TFieldForm::TrimAspect, true, {"16", "9", "50", "50"}},
        TFieldCase{"TrimAspectNeedsBothPositions", "16:9", TFieldForm::TrimAspect, false, {}},
        TFieldCase{"TrimAspectNeedsTheColon", "16,9,50,50", TFieldForm::TrimAspect, false, {}},
        TFieldCase{"MarginRatioAloneIsCentred", "4:3", TFieldForm::MarginAspect, true, {"4", "3", "-1", "-1"}},
        TFieldCase{"MarginRatioWithPositions", "1:1,0,100", TFieldForm::MarginAspect, true, {"1", "1", "0", "100"}},
        TFieldCase{"MarginRatioWithOnePositionIsRefused", "1:1,0", TFieldForm::MarginAspect, false, {}}),
    [](const testing::TestParamInfo<TFieldCase> &I) { return NameOf(I.param.Name); });

struct TFieldTextCase {
  const char *Name;
  TValueStrings Values;
  size_t First;
  TFieldForm Form;
  const char *Text;
};

class SizeFieldText : public testing::TestWithParam<TFieldTextCase> {};

TEST_P(SizeFieldText, SpellsTheSetAndReadsBackToIt) {
  const TFieldTextCase &C = GetParam();
  EXPECT_EQ(FieldText(C.Values, C.First, C.Form), C.Text);
  const std::optional<TFieldValues> back = ParseField(C.Text, C.Form, 640, 480);
  ASSERT_TRUE(back);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ((*back)[i], C.Values[C.First + i]) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SizeFieldText,
    testing::Values(
        TFieldTextCase{"LandscapePlain", {"1", "2", "3", "4", "5", "6", "7", "8"}, 0, TFieldForm::Plain, "1,2,3,4"},
        TFieldTextCase{"PortraitPlain", {"1", "2", "3", "4", "5", "6", "7", "8"}, 4, TFieldForm::Plain, "5,6,7,8"},
        TFieldTextCase{"TrimAspect", {"16", "9", "0", "100", "0", "0", "0", "0"}, 0, TFieldForm::TrimAspect,
                       "16:9,0,100"},
        TFieldTextCase{"MarginCentredRatio", {"0", "0", "0", "0", "3", "2", "-1", "-1"}, 4, TFieldForm::MarginAspect,
                       "3:2"},
        TFieldTextCase{"MarginPlacedRatio", {"1", "1", "0", "100", "0", "0", "0", "0"}, 0, TFieldForm::MarginAspect,
                       "1:1,0,100"}),
    [](const testing::TestParamInfo<TFieldTextCase> &I) { return NameOf(I.param.Name); });

TEST(TrimmingTypeDefaults, FillTheFieldsWithValuesThatCropNothing) {
  const int32_t w = 300, h = 200;
  for (int32_t type = 0; type < 4; ++type) {
    const std::optional<TFieldValues> v =
        ParseField(TrimmingTypeDefaultText(type), TrimmingFieldForm(type), w, h);
    ASSERT_TRUE(v) << type;
    if (type == 3) continue;  // 1:1 crops a square out of it by design
    const std::optional<TTrimRect> r = TrimmingFieldRect(type, *v, w, h);
    ASSERT_TRUE(r) << type;
    EXPECT_EQ(r->L, 0);
    EXPECT_EQ(r->T, 0);
    EXPECT_EQ(r->W, w);
    EXPECT_EQ(r->H, h);
  }
  EXPECT_STREQ(TrimmingTypeDefaultText(0), "0,0,W,H");
  EXPECT_STREQ(TrimmingTypeDefaultText(1), "0,0,0,0");
  EXPECT_STREQ(TrimmingTypeDefaultText(2), "0,0,0,0");
  EXPECT_STREQ(TrimmingTypeDefaultText(3), "1:1,50,50");
}

// ---------------------------------------------------------------------------
// Selection written back

struct TSelectionCase {
  const char *Name;
  int32_t Type;
  TTrimRect R;
  int32_t w, h;
  const char *Text;  // "" : nothing is written
};

class TrimmingSelection : public testing::TestWithParam<TSelectionCase> {};

TEST_P(TrimmingSelection, WritesTheFieldTheTrimmingStepCropsBackToTheSameRectangle) {
  const TSelectionCase &C = GetParam();
  const std::string text = TrimmingSelectionText(C.Type, C.R, C.w, C.h);
  EXPECT_EQ(text, C.Text);
  if (text.empty()) return;
  // The oracle: the trimming step's own rectangle for what was written.
  const std::optional<TFieldValues> v = ParseField(text, TrimmingFieldForm(C.Type), C.w, C.h);
  ASSERT_TRUE(v);
  TValueStrings all;
  for (size_t i = 0; i < 8; ++i) all[i] = (*v)[i % 4];
  const TValueSet q = EvaluateValueSet(all, 2, C.w, C.h);
  const TTrimRect r = TrimmingRect(C.Type, q, C.w, C.h);
  EXPECT_EQ(r.L, C.R.L);
  EXPECT_EQ(r.T, C.R.T);
  EXPECT_EQ(r.W, C.R.W);
  EXPECT_EQ(r.H, C.R.H);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TrimmingSelection,
    testing::Values(
        TSelectionCase{"PixelRectangle", 0, {10, 20, 300, 200}, 640, 480, "10,20,300,200"},
        TSelectionCase{"PixelInsets", 1, {10, 20, 300, 200}, 640, 480, "10,20,330,260"},
        TSelectionCase{"PercentInsets", 2, {64, 48, 320, 240}, 640, 480, "10.00,10.00,40.00,40.00"},
        TSelectionCase{"PercentInsetsWithFractions", 2, {1, 2, 997, 995}, 1000, 1000, "0.10,0.20,0.20,0.30"},
        TSelectionCase{"AspectFullWidthReducedByTheDivisor", 3, {0, 90, 640, 360}, 640, 480, "16:9,50.00,75.00"},
        TSelectionCase{"AspectFullHeightAtTheLeft", 3, {0, 0, 480, 480}, 640, 480, "1:1,0.00,50.00"},
        TSelectionCase{"AspectFullHeightAtTheRight", 3, {160, 0, 480, 480}, 640, 480, "1:1,100.00,50.00"},
        TSelectionCase{"AspectCoprimeSides", 3, {0, 0, 640, 479}, 640, 480, "640:479,50.00,0.00"},
        TSelectionCase{"AspectSpanningNeitherWritesNothing", 3, {10, 10, 300, 200}, 640, 480, ""},
        TSelectionCase{"EmptySelectionWritesNothing", 0, {10, 10, 0, 200}, 640, 480, ""}),
    [](const testing::TestParamInfo<TSelectionCase> &I) { return NameOf(I.param.Name); });

// A German locale, compiled into a scratch folder when the system has none
// (the window program runs under the desktop's locale).
bool UseDecimalCommaLocale() {
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) return true;
  const std::string dir = testing::TempDir() + "geotone-locale";
  std::filesystem::create_directories(dir);
  const std::string cmd = "localedef -i de_DE -f UTF-8 '" + dir + "/de_DE.UTF-8' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0 && std::system(("test -d '" + dir + "/de_DE.UTF-8'").c_str()) != 0) return false;
  setenv("LOCPATH", dir.c_str(), 1);
  return std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
}

TEST(TrimmingSelection, PercentsAreWrittenWithAPointWhateverTheLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  if (!UseDecimalCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma (localedef de_DE failed)";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 0.5);
  const std::string text = TrimmingSelectionText(2, {64, 48, 320, 240}, 640, 480);
  std::setlocale(LC_NUMERIC, saved.c_str());
  ASSERT_STREQ(probe, "0,5") << "the locale in force has no decimal comma";
  EXPECT_EQ(text, "10.00,10.00,40.00,40.00");
}

struct TFieldRectCase {
  const char *Name;
  int32_t Type;
  const char *Text;
  int32_t w, h;
  bool Has;
  TTrimRect R;
};

class TrimmingField : public testing::TestWithParam<TFieldRectCase> {};

TEST_P(TrimmingField, PlacesTheSelectionWhereTheStepCrops) {
  const TFieldRectCase &C = GetParam();
  const std::optional<TFieldValues> v = ParseField(C.Text, TrimmingFieldForm(C.Type), C.w, C.h);
  ASSERT_TRUE(v);
  const std::optional<TTrimRect> r = TrimmingFieldRect(C.Type, *v, C.w, C.h);
  ASSERT_EQ(r.has_value(), C.Has);
  if (!C.Has) return;
  EXPECT_EQ(r->L, C.R.L);
  EXPECT_EQ(r->T, C.R.T);
  EXPECT_EQ(r->W, C.R.W);
  EXPECT_EQ(r->H, C.R.H);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TrimmingField,
    testing::Values(TFieldRectCase{"XYWidthHeight", 0, "10,10,W,H", 100, 80, true, {10, 10, 90, 70}},
                    TFieldRectCase{"SixteenByNineCentred", 3, "16:9,50,50", 4000, 4000, true, {0, 875, 4000, 2250}},
                    TFieldRectCase{"InsetsMeetingInTheMiddleAreNone", 2, "10,10,95,0", 200, 100, false, {}},
                    TFieldRectCase{"InsetsInPixels", 1, "5,6,7,8", 100, 100, true, {5, 6, 88, 86}}),
    [](const testing::TestParamInfo<TFieldRectCase> &I) { return NameOf(I.param.Name); });

// ---------------------------------------------------------------------------
// Presets

struct TPresetCase {
  const char *Name;
  const char *Text;
  const char *Stored;  // null: refused
};

class AspectPreset : public testing::TestWithParam<TPresetCase> {};

TEST_P(AspectPreset, IsAddedOnlyForTwoPositiveIntegers) {
  const TPresetCase &C = GetParam();
  const std::optional<std::string> p = ParseAspectPreset(C.Text);
  ASSERT_EQ(p.has_value(), C.Stored != nullptr);
  if (C.Stored) {
    EXPECT_EQ(*p, C.Stored);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, AspectPreset,
                         testing::Values(TPresetCase{"FourToThree", "4:3", "4:3"},
                                         TPresetCase{"BlanksAndLeadingZerosGo", " 016 : 9 ", "16:9"},
                                         TPresetCase{"ZeroIsRefused", "0:3", nullptr},
                                         TPresetCase{"NegativeIsRefused", "4:-3", nullptr},
                                         TPresetCase{"FractionIsRefused", "1.5:1", nullptr},
                                         TPresetCase{"NoColonIsRefused", "43", nullptr},
                                         TPresetCase{"TwoColonsAreRefused", "4:3:2", nullptr},
                                         TPresetCase{"EmptyPartIsRefused", ":3", nullptr},
                                         TPresetCase{"FreeSizeIsNoRatio", "フリーサイズ", nullptr}),
                         [](const testing::TestParamInfo<TPresetCase> &I) { return NameOf(I.param.Name); });

TEST(SizePresets, KeepFreeSizeFirstAndDropWhatIsNoRatio) {
  EXPECT_EQ(SizePresetItems("フリーサイズ"), std::vector<std::string>{"フリーサイズ"});
  EXPECT_EQ(SizePresetItems("フリーサイズ,4:3,16:9"), (std::vector<std::string>{"フリーサイズ", "4:3", "16:9"}));
  // A hand-edited list without the free size, or with junk, still offers it first.
  EXPECT_EQ(SizePresetItems("3:2,junk,1:0"), (std::vector<std::string>{"フリーサイズ", "3:2"}));
  EXPECT_EQ(SizePresetItems(""), std::vector<std::string>{"フリーサイズ"});
  EXPECT_EQ(SizePresetListText({"フリーサイズ", "4:3", "16:9"}), "フリーサイズ,4:3,16:9");
  EXPECT_EQ(SizePresetItems(SizePresetListText({"フリーサイズ", "4:3"})),
            (std::vector<std::string>{"フリーサイズ", "4:3"}));
}

TEST(SizePresets, FixTheSelectionAspectOrFreeIt) {
  EXPECT_EQ(PresetSelectSize("4:3"), (std::array<int32_t, 2>{4, 3}));
  EXPECT_EQ(PresetSelectSize("16:9"), (std::array<int32_t, 2>{16, 9}));
  EXPECT_EQ(PresetSelectSize("フリーサイズ"), (std::array<int32_t, 2>{0, 0}));
}

// ---------------------------------------------------------------------------
// Tone-curve points

enum class TOp { Press, Drag, Release };
struct TStep {
  TOp Op;
  int32_t X = 0, Y = 0;
};
struct TCurveCase {
  const char *Name;
  TCurvePoints Start;
  std::vector<TStep> Steps;
  TCurvePoints Expected;
  int32_t Grabbed;  // after the steps
};

class CurveEditing : public testing::TestWithParam<TCurveCase> {};

TEST_P(CurveEditing, AddsMovesAndRemovesPointsInXOrder) {
  const TCurveCase &C = GetParam();
  TCurvePoints points = C.Start;
  TCurveEditor E(points);
  for (const TStep &S : C.Steps) {
    if (S.Op == TOp::Press) E.Press(S.X, S.Y);
    if (S.Op == TOp::Drag) E.Drag(S.X, S.Y);
    if (S.Op == TOp::Release) E.Release();
  }
  EXPECT_EQ(points, C.Expected);
  EXPECT_EQ(E.Grabbed(), C.Grabbed);
  // Whatever happened, the curve stays one the effect reads back.
  EXPECT_EQ(ParseCurve(CurveText(points)), points);
}

const TCurvePoints Line = {{0, 0}, {255, 255}};
const TCurvePoints Three = {{0, 0}, {128, 128}, {255, 255}};

INSTANTIATE_TEST_SUITE_P(
    Table, CurveEditing,
    testing::Values(
        TCurveCase{"PressFarFromAnyPointInsertsOne", Line, {{TOp::Press, 100, 150}}, {{0, 0}, {100, 150}, {255, 255}}, 1},
        TCurveCase{"PressWithinTenInXGrabsThePoint", Three, {{TOp::Press, 138, 10}}, Three, 1},
        TCurveCase{"PressElevenAwayInserts", Three, {{TOp::Press, 139, 10}},
                   {{0, 0}, {128, 128}, {139, 10}, {255, 255}}, 2},
        TCurveCase{"DragMovesTheGrabbedPoint", Three, {{TOp::Press, 128, 0}, {TOp::Drag, 140, 60}},
                   {{0, 0}, {140, 60}, {255, 255}}, 1},
        TCurveCase{"DragOntoANeighboursXRemovesThePoint", Three, {{TOp::Press, 128, 0}, {TOp::Drag, 255, 60}},
                   Line, -1},
        TCurveCase{"DragPastTheLeftNeighbourRemovesThePoint", Three, {{TOp::Press, 120, 0}, {TOp::Drag, -40, 60}},
                   Line, -1},
        TCurveCase{"AFurtherDragAfterTheRemovalDoesNothing", Three,
                   {{TOp::Press, 128, 0}, {TOp::Drag, 0, 60}, {TOp::Drag, 100, 100}}, Line, -1},
        TCurveCase{"EndPointsMoveWithinTheGrid", Line, {{TOp::Press, 3, 0}, {TOp::Drag, 20, -9}},
                   {{20, 0}, {255, 255}}, 0},
        TCurveCase{"TheLastTwoPointsStopShortOfEachOther", Line, {{TOp::Press, 250, 0}, {TOp::Drag, 0, 300}},
                   {{0, 0}, {1, 255}}, 1},
        TCurveCase{"ReleaseLetsGo", Three, {{TOp::Press, 128, 0}, {TOp::Release}, {TOp::Drag, 10, 10}}, Three, -1}),
    [](const testing::TestParamInfo<TCurveCase> &I) { return NameOf(I.param.Name); });

struct TPointTextCase {
  const char *Name;
  int32_t Index;
  const char *Text;
  bool Accepted;
  TCurvePoint Point;  // where the point is when accepted
};

class CurvePointInput : public testing::TestWithParam<TPointTextCase> {};

TEST_P(CurvePointInput, KeepsXBetweenTheNeighboursAndYOnTheGrid) {
  const TPointTextCase &C = GetParam();
  TCurvePoints points = {{10, 20}, {128, 128}, {240, 250}};
  const TCurvePoints before = points;
  TCurveEditor E(points);
  EXPECT_EQ(E.SetPointText(C.Index, C.Text), C.Accepted);
  if (!C.Accepted) {
    EXPECT_EQ(points, before);
    return;
  }
  EXPECT_EQ(points[size_t(C.Index)], C.Point);
}

INSTANTIATE_TEST_SUITE_P(Table, CurvePointInput,
                         testing::Values(TPointTextCase{"InnerPointMoves", 1, "100,30", true, {100, 30}},
                                         TPointTextCase{"BlanksAreAllowed", 1, " 100 , 30 ", true, {100, 30}},
                                         TPointTextCase{"OntoTheLeftNeighbourIsIgnored", 1, "10,30", false, {}},
                                         TPointTextCase{"OntoTheRightNeighbourIsIgnored", 1, "240,30", false, {}},
                                         TPointTextCase{"FirstPointMayGoDownToZero", 0, "0,0", true, {0, 0}},
                                         TPointTextCase{"LastPointMayGoUpTo255", 2, "255,255", true, {255, 255}},
                                         TPointTextCase{"YAbove255IsIgnored", 1, "100,256", false, {}},
                                         TPointTextCase{"NegativeYIsIgnored", 1, "100,-1", false, {}},
                                         TPointTextCase{"NoCommaIsIgnored", 1, "100", false, {}},
                                         TPointTextCase{"TextIsIgnored", 1, "a,b", false, {}},
                                         TPointTextCase{"IndexOutsideIsIgnored", 3, "250,250", false, {}}),
                         [](const testing::TestParamInfo<TPointTextCase> &I) { return NameOf(I.param.Name); });

TEST(CurveEditing, NearestPointIsFoundInXOnly) {
  TCurvePoints points = {{0, 255}, {100, 0}, {200, 255}};
  TCurveEditor E(points);
  EXPECT_EQ(E.Nearest(40), 0);
  EXPECT_EQ(E.Nearest(60), 1);
  EXPECT_EQ(E.Nearest(150), 1);  // a tie goes to the first
  EXPECT_EQ(E.Nearest(151), 2);
}

// ---------------------------------------------------------------------------
// Gamma scroll bars and grayscale weights

struct TGammaCase {
  int32_t Position;
  double Gamma;
};

class GammaScroll : public testing::TestWithParam<TGammaCase> {};

TEST_P(GammaScroll, MapsPositionsToGammasAndBack) {
  const TGammaCase &C = GetParam();
  EXPECT_NEAR(GammaFromScroll(C.Position), C.Gamma, 1e-12);
  EXPECT_EQ(ScrollFromGamma(C.Gamma), C.Position);
}

INSTANTIATE_TEST_SUITE_P(Table, GammaScroll,
                         testing::Values(TGammaCase{-200, 0.2}, TGammaCase{-100, 0.6}, TGammaCase{-1, 0.996},
                                         TGammaCase{0, 1.0}, TGammaCase{29, 1.29}, TGammaCase{57, 1.57},
                                         TGammaCase{200, 3.0}),
                         [](const testing::TestParamInfo<TGammaCase> &I) {
                           return "Position" + std::string(I.param.Position < 0 ? "Minus" : "") +
                                  std::to_string(std::abs(I.param.Position));
                         });

TEST(GammaScroll, TypedValuesBetweenStepsTruncateTowardOne) {
  EXPECT_EQ(ScrollFromGamma(1.295), 29);
  EXPECT_EQ(ScrollFromGamma(0.599), -100);
  EXPECT_EQ(ScrollFromGamma(0.5999), -100);
  EXPECT_EQ(ScrollFromGamma(5.0), GAMMA_SCROLL_MAX);
  EXPECT_EQ(ScrollFromGamma(0.0), GAMMA_SCROLL_MIN);
}

TEST(GrayscaleWeightsShown, AreTheStepsOwnForTheFixedTypesAndTheCustomOnesOtherwise) {
  for (int32_t type = 0; type < 2; ++type) {
    const std::array<int32_t, 3> shown = ShownGrayWeights(type, {1, 2, 3});
    const std::array<float, 3> used = GrayscaleWeights(type, 0, 0, 0);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(shown[i], int32_t(std::lround(used[i] * 10000.0))) << type << " " << i;
  }
  EXPECT_EQ(ShownGrayWeights(2, {1, 2, 3}), (std::array<int32_t, 3>{1, 2, 3}));
  EXPECT_EQ(ShownGrayWeights(3, {4, 5, 6}), (std::array<int32_t, 3>{4, 5, 6}));
}

}  // namespace
