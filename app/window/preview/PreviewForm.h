// The preview window of the effect dialogs: the processed picture ("after")
// or the unprocessed one ("before") in the whole view or at 100 % to 400 %,
// the next and previous list entry, panning, and the selection rectangle the
// trimming dialog edits. It draws images its dialog owns; images are in
// monitor colours, 8 bits, rows stored bottom-up.
#pragma once

#include "core/ImgInfo.h"

#include <QRect>
#include <QSize>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QScrollBar;
class QStatusBar;
struct TPreviewOption;
class TPreviewCanvas;

// The fitted size of a W x H picture in a cw x ch client area: pictures
// larger than the area in either direction become (cw, cw*H/W) when that
// height fits, else (ch*W/H, ch), at least 1 each; others keep their size.
QSize FitPreviewSize(int32_t W, int32_t H, int32_t cw, int32_t ch);

// View modes: 0 the whole picture ("全体表示"), 1 to 4 zoom 100 % to 400 %.
enum : int32_t { PREVIEW_VIEW_ALL = 0 };

class TPreviewForm : public QWidget {
  Q_OBJECT
public:
  // Option holds the stored place, size and view mode; they are written
  // back when the window is destroyed.
  TPreviewForm(TPreviewOption &Option, QWidget *Parent = nullptr);
  ~TPreviewForm() override;

  // The full-size pictures (after, before: either may be null) and the
  // entry's name. With IsSizeLock the view keeps its zoom and scroll place
  // (the same entry again).
  void SetPreviewImage(const TICCImgInfo *After, const TICCImgInfo *Before, const std::string &Title,
                       bool IsSizeLock);
  // The fitted pictures of the whole view.
  void SetAllViewImage(const TICCImgInfo *After, const TICCImgInfo *Before);
  // The pictures' pixels (or formats) changed: redraw.
  void UpdateBitmapInfo();
  // The drawing area in screen pixels.
  QSize GetClientSize() const;
  // The visible part in image coordinates, rows counted as stored
  // (bottom-up): whole view (0, 0, fitted width, fitted height).
  QRect GetViewRect() const;

  // The selection in image pixels (top-down, as a person sees it); an empty
  // rectangle: none.
  void SetSelectRect(const QRect &R);
  QRect SelectRect() const { return FSelect; }
  // A fixed aspect cx : cy for the selection, or 0 x 0 for free.
  void SetSelectSize(QSize S) { FSelectSize = S; }
  QSize SelectSize() const { return FSelectSize; }
  // Enables and checks "選択モード" and enables "すべて選択"; every change
  // of the selection is reported through Proc.
  void SetOnChangeSelectRect(std::function<void(const QRect &)> Proc);
  void SetSelectMode(bool On);
  bool SelectMode() const { return FSelectMode; }
  void SelectAll();  // "すべて選択"

  // 0 whole view, 1 to 4 zoom 100 % to 400 % (keeps the view's centre).
  void SetViewMode(int32_t Mode);
  int32_t ViewMode() const { return FViewMode; }
  double Zoom() const { return FZoom; }
  // Scroll offset in screen pixels.
  QPoint ScrollOffset() const { return QPoint(VX, VY); }
  void SetScrollOffset(QPoint P);
  // 0 the "after" picture, 1 the "before" one.
  int32_t ShownImage() const { return FImgIndex; }
  void ToggleBeforeAfter();
  QString Title() const;
  // Status bar texts: the size " %dx%d" and the point or the selection.
  QString SizeText() const;
  QString PointText() const;
  // The image point under screen point P of the drawing area.
  QPoint ImagePointAt(QPoint P) const;

  // False while a full preview is computing: next and previous wait.
  bool CanMove = true;
  // Width of the dialog placed beside the window.
  int32_t DlgWidth = 0;

  std::function<void()> OnResized;
  std::function<void()> OnChangeViewMode;
  // A zoomed view was panned or scrolled to another part.
  std::function<void()> OnScrolled;
  std::function<void()> OnClosed;
  std::function<void()> OnNextImg;
  std::function<void()> OnPrevImg;

  // The view menu's entries ("全体表示", "100%" ... "400%"), "選択モード"
  // and "すべて選択".
  QAction *ViewActions[5] = {};
  QAction *SelectModeAction = nullptr;
  QAction *SelectAllAction = nullptr;
  QStatusBar *StatusBar = nullptr;
  TPreviewCanvas *Canvas = nullptr;
  QScrollBar *HScroll = nullptr;
  QScrollBar *VScroll = nullptr;

  // Writes place, size and view mode into the option record.
  void SaveOption();

protected:
  void keyPressEvent(QKeyEvent *E) override;
  void closeEvent(QCloseEvent *E) override;
  void resizeEvent(QResizeEvent *E) override;

private:
  friend class TPreviewCanvas;
  const TICCImgInfo *Shown() const;     // full-size picture shown
  const TICCImgInfo *ShownAll() const;  // fitted picture shown
  void UpdateZoom(bool KeepCentre);
  void UpdateScrollBars();
  void UpdateTitle();
  void UpdateStatus(QPoint Mouse);
  void ReportSelection();
  void ClampScroll();
  QSize ImageSize() const;  // full-size picture's size

  TPreviewOption &FOption;
  const TICCImgInfo *Img[2] = {};         // 0 after, 1 before
  const TICCImgInfo *AllViewImg[2] = {};  // fitted
  std::string FTitle;
  int32_t FImgIndex = 0;
  int32_t FViewMode = 1;
  double FZoom = 1.0;
  int32_t VX = 0, VY = 0;
  bool FSelectMode = false;
  QRect FSelect;
  QSize FSelectSize;
  std::function<void(const QRect &)> FOnChangeSelectRect;
  bool FResizePending = false;
  bool FScrollPending = false;
  QSize FFittedClient;  // the client size the whole-view pictures were fitted to
  QLabel *SizeLabel = nullptr;
  QLabel *PointLabel = nullptr;
};
