// The main window's rules that need no window: which commands are enabled,
// how a dragged effect panel trades places with its neighbours, where the
// window and the thumbnail window open, and the caption. The Qt window only
// asks these, so the same rules are checked without a display.
#pragma once

#include <cstdint>
#include <string>

// Enabled commands after a list change.
struct TCommandStates {
  bool Run = false;
  bool Clear = false;
  bool EveryOther = false;
  bool SelectAll = false;
  bool ToggleAll = false;
  bool Delete = false;
  bool Check = false;
  bool Uncheck = false;
  bool ToggleSelected = false;
  bool Preview = false;
  bool PreviewInViewer = false;
  bool operator==(const TCommandStates &) const = default;
};

// Clear, run, every other, select all and toggle all need entries; delete,
// check, uncheck and toggle selected a selection; preview entries and mode 0
// or 2; the viewer preview also an existing external viewer.
TCommandStates CommandStatesOf(int32_t Count, int32_t Selected, int32_t ConvertMode, bool ViewerExists);

// Effect panels are this many pixels high and stack without gaps.
constexpr int32_t EFFECT_PANEL_HEIGHT = 26;
// A dragged panel takes the place of the one above once its top is less
// than this far below that panel's top ...
constexpr int32_t PANEL_SWAP_UP = 11;
// ... and of the one below once that one's top is less than this far below
// its own top.
constexpr int32_t PANEL_SWAP_DOWN = 15;

// One panel being dragged over a column of Count panels.
class TPanelDrag {
public:
  // Index: the panel's slot when the button went down.
  TPanelDrag(int32_t Index, int32_t Count) : FIndex(Index), FCount(Count), FTop(Index * EFFECT_PANEL_HEIGHT) {}
  // The mouse moved by Dy pixels since the button went down. Answers +1
  // when the panel traded places with the one below, -1 with the one above,
  // 0 when it stays in its slot; Index follows the trade. Several calls may
  // be needed for a fast drag: call until it answers 0.
  int32_t MoveTo(int32_t StartTop, int32_t Dy);
  int32_t Index() const { return FIndex; }
  // Where the panel is drawn while dragged: within 0 and (Count - 1) x 26.
  int32_t Top() const { return FTop; }
  // Where it snaps when released.
  int32_t SnapTop() const { return FIndex * EFFECT_PANEL_HEIGHT; }

private:
  int32_t FIndex;
  int32_t FCount;
  int32_t FTop;
};

struct TRect {
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;
  int32_t Right() const { return Left + Width; }
  int32_t Bottom() const { return Top + Height; }
  bool operator==(const TRect &) const = default;
};

// The stored position (both coordinates >= 0) and client size (both > 0)
// over the designed Initial; moved to (0, 0) when its right or bottom edge
// lies beyond WorkArea, then shrunk to the work area if still larger.
TRect RestoredWindowRect(const TRect &Initial, int32_t StoredLeft, int32_t StoredTop, int32_t StoredWidth,
                         int32_t StoredHeight, const TRect &WorkArea);

// The thumbnail window (a square of Side): at the remembered offset from
// the main window when that lies on Screen, else at the main window's right
// edge, or left of it (at the screen's right edge when the main window
// reaches beyond the screen) when there is no room to its right.
struct TPoint {
  int32_t X = 0, Y = 0;
  bool operator==(const TPoint &) const = default;
};
TPoint ThumbnailWindowPlace(const TRect &Main, int32_t OffsetX, int32_t OffsetY, int32_t Side, const TRect &Screen);

// "TessivoPlus" and, when Caption is not empty, " - " and Caption with
// every "%ini" replaced by the settings file name (with extension).
std::string MainWindowCaption(const std::string &Caption, const std::string &SettingsFileName);

// Side of the thumbnail window for a ThumbnailSize setting: 0 (none), 160,
// 320 or 640.
int32_t ThumbnailWindowSide(int32_t ThumbnailSize);
