// The main window's rules without a window: command states, the panel
// drag's trading places, window and thumbnail placement, the caption.
#include "app/window/WindowRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TStateCase {
  const char *Name;
  int32_t Count, Selected, Mode;
  bool Viewer;
  TCommandStates Expected;
};

TCommandStates States(bool List, bool Sel, bool Preview, bool Viewer) {
  TCommandStates S;
  S.Run = S.Clear = S.EveryOther = S.SelectAll = S.ToggleAll = List;
  S.Delete = S.Check = S.Uncheck = S.ToggleSelected = Sel;
  S.Preview = Preview;
  S.PreviewInViewer = Viewer;
  return S;
}

class CommandStates : public testing::TestWithParam<TStateCase> {};

TEST_P(CommandStates, FollowTheListTheSelectionTheModeAndTheViewer) {
  const TStateCase &C = GetParam();
  EXPECT_EQ(CommandStatesOf(C.Count, C.Selected, C.Mode, C.Viewer), C.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandStates,
    testing::Values(TStateCase{"EmptyListEnablesNothing", 0, 0, 0, true, States(false, false, false, false)},
                    TStateCase{"EntriesWithoutSelection", 3, 0, 0, false, States(true, false, true, false)},
                    TStateCase{"EntriesWithSelection", 3, 2, 0, false, States(true, true, true, false)},
                    TStateCase{"ViewerAddsTheSecondPreview", 3, 1, 0, true, States(true, true, true, true)},
                    TStateCase{"CombiningPreviews", 3, 1, 2, true, States(true, true, true, true)},
                    TStateCase{"LosslessHasNoPreview", 3, 1, 1, true, States(true, true, false, false)},
                    TStateCase{"RenameHasNoPreview", 3, 1, 3, true, States(true, true, false, false)},
                    TStateCase{"StaleSelectionOfEmptyList", 0, 2, 0, true, States(false, false, false, false)}),
    [](const testing::TestParamInfo<TStateCase> &I) { return std::string(I.param.Name); });

// A drag of the panel in slot Start of Count panels by Dy pixels.
struct TDragCase {
  const char *Name;
  int32_t Start, Count, Dy;
  int32_t Index;  // slot after the drag
  int32_t Top;    // where it is drawn
};

class PanelDrag : public testing::TestWithParam<TDragCase> {};

TEST_P(PanelDrag, TradesPlacesAtTheElevenAndFifteenPixelMarks) {
  const TDragCase &C = GetParam();
  TPanelDrag Drag(C.Start, C.Count);
  while (Drag.MoveTo(C.Start * EFFECT_PANEL_HEIGHT, C.Dy) != 0) {
  }
  EXPECT_EQ(Drag.Index(), C.Index);
  EXPECT_EQ(Drag.Top(), C.Top);
  EXPECT_EQ(Drag.SnapTop(), C.Index * EFFECT_PANEL_HEIGHT);
}

// The third panel (slot 2, top 52) under the second (top 26): it takes the
// second's place once its top is less than 11 below 26, i.e. at 36 (Dy -16);
// at 37 it stays. Downwards the panel below (top 78) must come less than 15
// below the dragged top: at top 64 (Dy 12) they trade, at 63 not.
INSTANTIATE_TEST_SUITE_P(
    Table, PanelDrag,
    testing::Values(TDragCase{"ElevenBelowTheUpperPanelStays", 2, 5, -15, 2, 37},
                    TDragCase{"TenBelowTheUpperPanelTradesUp", 2, 5, -16, 1, 36},
                    TDragCase{"FifteenAboveTheLowerPanelStays", 2, 5, 11, 2, 63},
                    TDragCase{"FourteenAboveTheLowerPanelTradesDown", 2, 5, 12, 3, 64},
                    TDragCase{"AboveTheFirstSlotStopsAtTheTop", 1, 5, -400, 0, 0},
                    TDragCase{"BelowTheLastSlotStopsAtTheBottom", 3, 5, 400, 4, 104},
                    TDragCase{"FirstPanelDraggedUpStaysFirst", 0, 5, -30, 0, 0},
                    TDragCase{"LastPanelDraggedDownStaysLast", 4, 5, 30, 4, 104},
                    TDragCase{"FastDragPassesSeveralPanels", 0, 5, 70, 3, 70}),
    [](const testing::TestParamInfo<TDragCase> &I) { return std::string(I.param.Name); });

struct TPlaceCase {
  const char *Name;
  int32_t Left, Top, Width, Height;  // stored
  TRect Expected;
};

class WindowPlace : public testing::TestWithParam<TPlaceCase> {};

TEST_P(WindowPlace, KeepsTheWindowOnTheWorkArea) {
  const TPlaceCase &C = GetParam();
  const TRect Initial{100, 80, 1000, 640};
  const TRect Work{0, 0, 1600, 1000};
  EXPECT_EQ(RestoredWindowRect(Initial, C.Left, C.Top, C.Width, C.Height, Work), C.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WindowPlace,
    testing::Values(TPlaceCase{"NothingStoredKeepsTheDesign", -1000, -1000, 0, 0, {100, 80, 1000, 640}},
                    TPlaceCase{"StoredPlaceAndSize", 200, 150, 800, 500, {200, 150, 800, 500}},
                    TPlaceCase{"RightEdgeOffScreenOpensAtTheOrigin", 1200, 100, 800, 500, {0, 0, 800, 500}},
                    TPlaceCase{"BottomEdgeOffScreenOpensAtTheOrigin", 10, 700, 800, 500, {0, 0, 800, 500}},
                    TPlaceCase{"LargerThanTheWorkAreaShrinks", 0, 0, 2000, 1200, {0, 0, 1600, 1000}},
                    TPlaceCase{"NegativePositionKeepsTheDesignedPlace", -5, 40, 800, 500, {100, 80, 800, 500}},
                    TPlaceCase{"ZeroSizeKeepsTheDesignedSize", 30, 40, 0, 500, {30, 40, 1000, 640}}),
    [](const testing::TestParamInfo<TPlaceCase> &I) { return std::string(I.param.Name); });

struct TThumbCase {
  const char *Name;
  TRect Main;
  int32_t OffsetX, OffsetY, Side;
  TPoint Expected;
};

class ThumbnailPlace : public testing::TestWithParam<TThumbCase> {};

TEST_P(ThumbnailPlace, UsesTheRememberedOffsetOnlyOnScreen) {
  const TThumbCase &C = GetParam();
  EXPECT_EQ(ThumbnailWindowPlace(C.Main, C.OffsetX, C.OffsetY, C.Side, {0, 0, 1600, 1000}), C.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ThumbnailPlace,
    testing::Values(TThumbCase{"RememberedOffset", {100, 100, 800, 600}, 820, 10, 160, {920, 110}},
                    TThumbCase{"NothingRememberedGoesRightOfTheWindow", {100, 100, 800, 600}, -65535, -65535, 160,
                               {900, 100}},
                    TThumbCase{"NoRoomOnTheRightGoesInsideTheRightEdge", {700, 100, 800, 600}, -65535, -65535, 320,
                               {1180, 100}},
                    TThumbCase{"WindowBeyondTheScreenUsesTheScreenEdge", {1000, 100, 800, 600}, -65535, -65535,
                               160, {1440, 100}},
                    TThumbCase{"OffsetOffScreenIsNotUsed", {100, 100, 800, 600}, 1700, 0, 160, {900, 100}}),
    [](const testing::TestParamInfo<TThumbCase> &I) { return std::string(I.param.Name); });

TEST(MainWindowCaption, ReplacesEveryIniWithTheSettingsFileName) {
  EXPECT_EQ(MainWindowCaption("%ini", "TessivoPlus.ini"), "TessivoPlus  - TessivoPlus.ini");
  EXPECT_EQ(MainWindowCaption("[%ini] %ini", "web.ini"), "TessivoPlus  - [web.ini] web.ini");
  EXPECT_EQ(MainWindowCaption("", "web.ini"), "TessivoPlus ");
  // A name that itself holds "%ini" is not replaced again.
  EXPECT_EQ(MainWindowCaption("%ini", "%ini.ini"), "TessivoPlus  - %ini.ini");
}

TEST(ThumbnailWindowSide, IsASquareOfTheChosenSize) {
  const std::vector<std::pair<int32_t, int32_t>> Cases{{0, 0}, {1, 160}, {2, 320}, {3, 640}, {7, 0}};
  for (const auto &[Size, Side] : Cases) EXPECT_EQ(ThumbnailWindowSide(Size), Side) << Size;
}

}  // namespace
