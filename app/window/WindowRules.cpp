// The main window's rules that need no window.
#include "app/window/WindowRules.h"

#include <algorithm>

TCommandStates CommandStatesOf(int32_t Count, int32_t Selected, int32_t ConvertMode, bool ViewerExists) {
  TCommandStates S;
  const bool Any = Count > 0;
  const bool Sel = Any && Selected > 0;
  S.Run = S.Clear = S.EveryOther = S.SelectAll = S.ToggleAll = Any;
  S.Delete = S.Check = S.Uncheck = S.ToggleSelected = Sel;
  S.Preview = Any && (ConvertMode == 0 || ConvertMode == 2);
  S.PreviewInViewer = S.Preview && ViewerExists;
  return S;
}

int32_t TPanelDrag::MoveTo(int32_t StartTop, int32_t Dy) {
  FTop = std::clamp(StartTop + Dy, 0, std::max(0, (FCount - 1) * EFFECT_PANEL_HEIGHT));
  // The panel above sits at its slot; the dragged one has come within 11
  // pixels below its top.
  if (FIndex > 0 && FTop - (FIndex - 1) * EFFECT_PANEL_HEIGHT < PANEL_SWAP_UP) {
    --FIndex;
    return -1;
  }
  // The panel below sits at its slot; its top is less than 15 pixels below
  // the dragged one's.
  if (FIndex < FCount - 1 && (FIndex + 1) * EFFECT_PANEL_HEIGHT - FTop < PANEL_SWAP_DOWN) {
    ++FIndex;
    return 1;
  }
  return 0;
}

TRect RestoredWindowRect(const TRect &Initial, int32_t StoredLeft, int32_t StoredTop, int32_t StoredWidth,
                         int32_t StoredHeight, const TRect &WorkArea) {
  TRect R = Initial;
  if (StoredLeft >= 0 && StoredTop >= 0) {
    R.Left = StoredLeft;
    R.Top = StoredTop;
  }
  if (StoredWidth > 0 && StoredHeight > 0) {
    R.Width = StoredWidth;
    R.Height = StoredHeight;
  }
  if (R.Right() > WorkArea.Right() || R.Bottom() > WorkArea.Bottom()) {
    R.Left = 0;
    R.Top = 0;
  }
  R.Width = std::min(R.Width, WorkArea.Width);
  R.Height = std::min(R.Height, WorkArea.Height);
  return R;
}

TPoint ThumbnailWindowPlace(const TRect &Main, int32_t OffsetX, int32_t OffsetY, int32_t Side, const TRect &Screen) {
  const TPoint Remembered{Main.Left + OffsetX, Main.Top + OffsetY};
  if (Remembered.X >= Screen.Left && Remembered.Y >= Screen.Top && Remembered.X + Side <= Screen.Right() &&
      Remembered.Y + Side <= Screen.Bottom())
    return Remembered;
  TPoint P{Main.Right(), Main.Top};
  if (P.X + Side > Screen.Right()) {
    // No room on the right: inside the main window's right edge, or at the
    // screen's right edge when the main window itself reaches beyond it.
    P.X = Main.Right() > Screen.Right() ? Screen.Right() - Side : Main.Right() - Side;
  }
  P.X = std::max(P.X, Screen.Left);
  P.Y = std::clamp(P.Y, Screen.Top, std::max(Screen.Top, Screen.Bottom() - Side));
  return P;
}

std::string MainWindowCaption(const std::string &Caption, const std::string &SettingsFileName) {
  if (Caption.empty()) return "TessivoPlus ";
  std::string Text = Caption;
  for (size_t p = Text.find("%ini"); p != std::string::npos; p = Text.find("%ini", p + SettingsFileName.size()))
    Text.replace(p, 4, SettingsFileName);
  return "TessivoPlus  - " + Text;
}

int32_t ThumbnailWindowSide(int32_t ThumbnailSize) {
  switch (ThumbnailSize) {
    case 1:
      return 160;
    case 2:
      return 320;
    case 3:
      return 640;
    default:
      return 0;
  }
}
