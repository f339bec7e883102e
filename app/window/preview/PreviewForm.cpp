// The preview window: drawing, zoom, panning, selection and the keys.
#include "app/window/preview/PreviewForm.h"

#include "batch/ConvertOption.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyleOptionFocusRect>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

QSize FitPreviewSize(int32_t W, int32_t H, int32_t cw, int32_t ch) {
  if (W <= 0 || H <= 0) return QSize(std::max(0, W), std::max(0, H));
  if (W <= cw && H <= ch) return QSize(W, H);
  const int64_t FitH = int64_t(cw) * H / W;
  if (FitH <= ch) return QSize(std::max(1, cw), int(std::max<int64_t>(1, FitH)));
  return QSize(int(std::max<int64_t>(1, int64_t(ch) * W / H)), std::max(1, ch));
}

namespace {

// The part R (top-down image coordinates) of an 8-bit image as a QImage.
QImage ImageOfPart(const TICCImgInfo &Img, const QRect &R) {
  if (!Img.Mem || Img.BPP != 8 || R.isEmpty()) return {};
  QImage Out(R.width(), R.height(), QImage::Format_RGB32);
  const uint32_t C = Img.Channels;
  for (int y = 0; y < R.height(); ++y) {
    // Rows are stored bottom-up.
    const uint8_t *Src = Img.Mem + size_t(Img.Height - 1 - uint32_t(R.top() + y)) * Img.Bpl + size_t(R.left()) * C;
    auto *Dst = reinterpret_cast<QRgb *>(Out.scanLine(y));
    for (int x = 0; x < R.width(); ++x, Src += C)
      Dst[x] = C >= 3 ? qRgb(Src[2], Src[1], Src[0]) : qRgb(Src[0], Src[0], Src[0]);
  }
  return Out;
}

// Which part of the selection a press grabbed.
enum class TDrag { None, Pan, New, Move, Left, Right, Top, Bottom, TopLeft, TopRight, BottomLeft, BottomRight };

}  // namespace

// The drawing area: paints the shown picture and takes the mouse.
class TPreviewCanvas : public QWidget {
public:
  explicit TPreviewCanvas(TPreviewForm &Form) : QWidget(&Form), F(Form) {
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

protected:
  void paintEvent(QPaintEvent *) override;
  void mousePressEvent(QMouseEvent *E) override;
  void mouseMoveEvent(QMouseEvent *E) override;
  void mouseReleaseEvent(QMouseEvent *E) override;

private:
  TDrag GrabAt(QPoint P) const;
  void DragSelection(QPoint ImagePoint);
  TPreviewForm &F;
  TDrag FDrag = TDrag::None;
  QPoint FPress, FPressScroll, FAnchor;
  QRect FPressSelect;
};

void TPreviewCanvas::paintEvent(QPaintEvent *) {
  QPainter P(this);
  P.fillRect(rect(), palette().color(QPalette::Dark));
  if (F.FViewMode == PREVIEW_VIEW_ALL) {
    if (const TICCImgInfo *A = F.ShownAll())
      P.drawImage(0, 0, ImageOfPart(*A, QRect(0, 0, int(A->Width), int(A->Height))));
  } else if (const TICCImgInfo *I = F.Shown()) {
    // Only the visible part is converted, then enlarged pixel by pixel.
    const int n = F.FViewMode;
    const QRect Part = QRect(F.VX / n, F.VY / n, width() / n + 2, height() / n + 2)
                           .intersected(QRect(0, 0, int(I->Width), int(I->Height)));
    const QImage Img = ImageOfPart(*I, Part);
    if (!Img.isNull()) {
      const QRect Target(Part.left() * n - F.VX, Part.top() * n - F.VY, Part.width() * n, Part.height() * n);
      P.setRenderHint(QPainter::SmoothPixmapTransform, false);
      P.drawImage(Target, Img);
    }
  }
  if (!F.FSelect.isEmpty()) {
    const double Z = F.FZoom;
    const QRect S(int(std::lround(F.FSelect.left() * Z)) - F.VX, int(std::lround(F.FSelect.top() * Z)) - F.VY,
                  int(std::lround(F.FSelect.width() * Z)), int(std::lround(F.FSelect.height() * Z)));
    QPen Pen(Qt::white, 1, Qt::DashLine);
    P.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    P.setPen(Pen);
    P.drawRect(S.adjusted(0, 0, -1, -1));
  }
}

TDrag TPreviewCanvas::GrabAt(QPoint P) const {
  if (F.FSelect.isEmpty()) return TDrag::New;
  const double Z = F.FZoom;
  const QRectF S(F.FSelect.left() * Z - F.VX, F.FSelect.top() * Z - F.VY, F.FSelect.width() * Z,
                 F.FSelect.height() * Z);
  // The grab band: half the selection's size, at most 16 pixels.
  const double BX = std::min(16.0, S.width() / 2), BY = std::min(16.0, S.height() / 2);
  const QRectF Outer = S.adjusted(-BX / 2, -BY / 2, BX / 2, BY / 2);
  if (!Outer.contains(P)) return TDrag::New;
  const bool L = std::abs(P.x() - S.left()) <= BX / 2, R = std::abs(P.x() - S.right()) <= BX / 2;
  const bool T = std::abs(P.y() - S.top()) <= BY / 2, B = std::abs(P.y() - S.bottom()) <= BY / 2;
  if (T && L) return TDrag::TopLeft;
  if (T && R) return TDrag::TopRight;
  if (B && L) return TDrag::BottomLeft;
  if (B && R) return TDrag::BottomRight;
  if (L) return TDrag::Left;
  if (R) return TDrag::Right;
  if (T) return TDrag::Top;
  if (B) return TDrag::Bottom;
  return S.contains(P) ? TDrag::Move : TDrag::New;
}

void TPreviewCanvas::mousePressEvent(QMouseEvent *E) {
  if (E->button() != Qt::LeftButton) return;
  FPress = E->position().toPoint();
  FPressScroll = QPoint(F.VX, F.VY);
  FPressSelect = F.FSelect;
  if (!F.FSelectMode) {
    FDrag = TDrag::Pan;
    setCursor(Qt::ClosedHandCursor);
    return;
  }
  FDrag = GrabAt(FPress);
  const QRect S = F.FSelect;
  switch (FDrag) {
    case TDrag::New:
      FAnchor = F.ImagePointAt(FPress);
      F.FSelect = QRect(FAnchor, QSize(0, 0));
      break;
    case TDrag::TopLeft: FAnchor = QPoint(S.left() + S.width(), S.top() + S.height()); break;
    case TDrag::TopRight: FAnchor = QPoint(S.left(), S.top() + S.height()); break;
    case TDrag::BottomLeft: FAnchor = QPoint(S.left() + S.width(), S.top()); break;
    case TDrag::BottomRight: FAnchor = QPoint(S.left(), S.top()); break;
    default: break;
  }
}

void TPreviewCanvas::DragSelection(QPoint Pt) {
  const QSize Size = F.ImageSize();
  const int W = Size.width(), H = Size.height();
  QRect S = FPressSelect;
  auto Corner = [&](QPoint A, QPoint M) {
    M.setX(std::clamp(M.x(), 0, W));
    M.setY(std::clamp(M.y(), 0, H));
    int dx = M.x() - A.x(), dy = M.y() - A.y();
    const QSize Fixed = F.FSelectSize;
    if (Fixed.width() > 0 && Fixed.height() > 0) {
      // The dragged corner keeps the aspect, limited to the picture.
      const int SX = dx < 0 ? -1 : 1, SY = dy < 0 ? -1 : 1;
      int w = std::abs(dx), h = int(int64_t(w) * Fixed.height() / Fixed.width());
      if (h < std::abs(dy)) {
        h = std::abs(dy);
        w = int(int64_t(h) * Fixed.width() / Fixed.height());
      }
      const int MaxW = SX > 0 ? W - A.x() : A.x(), MaxH = SY > 0 ? H - A.y() : A.y();
      if (w > MaxW) w = MaxW, h = int(int64_t(w) * Fixed.height() / Fixed.width());
      if (h > MaxH) h = MaxH, w = int(int64_t(h) * Fixed.width() / Fixed.height());
      dx = SX * w;
      dy = SY * h;
    }
    return QRect(QPoint(std::min(A.x(), A.x() + dx), std::min(A.y(), A.y() + dy)), QSize(std::abs(dx), std::abs(dy)));
  };
  switch (FDrag) {
    case TDrag::New:
    case TDrag::TopLeft:
    case TDrag::TopRight:
    case TDrag::BottomLeft:
    case TDrag::BottomRight: S = Corner(FAnchor, Pt); break;
    case TDrag::Move: {
      const QPoint D = Pt - F.ImagePointAt(FPress);
      S.moveTopLeft(QPoint(std::clamp(FPressSelect.left() + D.x(), 0, std::max(0, W - S.width())),
                           std::clamp(FPressSelect.top() + D.y(), 0, std::max(0, H - S.height()))));
      break;
    }
    case TDrag::Left: S.setLeft(std::clamp(Pt.x(), 0, S.right())); break;
    case TDrag::Right: S.setRight(std::clamp(Pt.x() - 1, S.left(), W - 1)); break;
    case TDrag::Top: S.setTop(std::clamp(Pt.y(), 0, S.bottom())); break;
    case TDrag::Bottom: S.setBottom(std::clamp(Pt.y() - 1, S.top(), H - 1)); break;
    default: return;
  }
  if (S != F.FSelect) {
    F.FSelect = S;
    F.ReportSelection();
    update();
  }
}

void TPreviewCanvas::mouseMoveEvent(QMouseEvent *E) {
  const QPoint P = E->position().toPoint();
  if (FDrag == TDrag::Pan) {
    F.VX = FPressScroll.x() - (P.x() - FPress.x());
    F.VY = FPressScroll.y() - (P.y() - FPress.y());
    F.ClampScroll();
    F.UpdateScrollBars();
    update();
  } else if (FDrag != TDrag::None) {
    DragSelection(F.ImagePointAt(P));
  }
  F.UpdateStatus(P);
}

void TPreviewCanvas::mouseReleaseEvent(QMouseEvent *E) {
  if (E->button() != Qt::LeftButton) return;
  const bool Panned = FDrag == TDrag::Pan && QPoint(F.VX, F.VY) != FPressScroll;
  FDrag = TDrag::None;
  unsetCursor();
  // A pan shows another part: the zoomed view asks for its spot again.
  if (Panned && F.OnScrolled && F.FViewMode != PREVIEW_VIEW_ALL) F.OnScrolled();
}

TPreviewForm::TPreviewForm(TPreviewOption &Option, QWidget *Parent)
    : QWidget(Parent, Qt::Window | Qt::Tool), FOption(Option) {
  auto *Menu = new QMenuBar(this);
  QMenu *View = Menu->addMenu(QStringLiteral("表示(&V)"));
  auto *Group = new QActionGroup(this);
  static const char *const Names[5] = {"全体表示", "100%", "200%", "300%", "400%"};
  for (int i = 0; i < 5; ++i) {
    ViewActions[i] = View->addAction(QString::fromUtf8(Names[i]));
    ViewActions[i]->setCheckable(true);
    Group->addAction(ViewActions[i]);
    connect(ViewActions[i], &QAction::triggered, this, [this, i] { SetViewMode(i); });
  }
  View->addSeparator();
  SelectModeAction = View->addAction(QStringLiteral("選択モード"));
  SelectModeAction->setCheckable(true);
  SelectModeAction->setEnabled(false);
  connect(SelectModeAction, &QAction::toggled, this, [this](bool On) { SetSelectMode(On); });
  SelectAllAction = View->addAction(QStringLiteral("すべて選択"));
  SelectAllAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
  SelectAllAction->setShortcutContext(Qt::WindowShortcut);
  SelectAllAction->setEnabled(false);
  addAction(SelectAllAction);
  connect(SelectAllAction, &QAction::triggered, this, [this] { SelectAll(); });

  Canvas = new TPreviewCanvas(*this);
  HScroll = new QScrollBar(Qt::Horizontal, this);
  VScroll = new QScrollBar(Qt::Vertical, this);
  // Clicks and the wheel on a scroll bar show another part at once; a
  // dragged slider asks when it is let go.
  auto Scrolled = [this](QScrollBar *S) {
    Canvas->update();
    if (S->isSliderDown() || FScrollPending) return;
    FScrollPending = true;
    QTimer::singleShot(0, this, [this] {
      FScrollPending = false;
      if (OnScrolled && FViewMode != PREVIEW_VIEW_ALL) OnScrolled();
    });
  };
  connect(HScroll, &QScrollBar::valueChanged, this, [this, Scrolled](int V) {
    if (V == VX) return;
    VX = V;
    Scrolled(HScroll);
  });
  connect(VScroll, &QScrollBar::valueChanged, this, [this, Scrolled](int V) {
    if (V == VY) return;
    VY = V;
    Scrolled(VScroll);
  });
  for (QScrollBar *S : {HScroll, VScroll})
    connect(S, &QScrollBar::sliderReleased, this, [this] {
      if (OnScrolled && FViewMode != PREVIEW_VIEW_ALL) OnScrolled();
    });
  StatusBar = new QStatusBar(this);
  SizeLabel = new QLabel(this);
  PointLabel = new QLabel(this);
  StatusBar->addWidget(SizeLabel);
  StatusBar->addWidget(PointLabel, 1);
  StatusBar->setSizeGripEnabled(true);

  auto *Grid = new QGridLayout;
  Grid->setSpacing(0);
  Grid->addWidget(Canvas, 0, 0);
  Grid->addWidget(VScroll, 0, 1);
  Grid->addWidget(HScroll, 1, 0);
  auto *Box = new QVBoxLayout(this);
  Box->setContentsMargins(0, 0, 0, 0);
  Box->setSpacing(0);
  Box->setMenuBar(Menu);
  Box->addLayout(Grid, 1);
  Box->addWidget(StatusBar);

  FViewMode = std::clamp(Option.ViewMode, 0, 4);
  ViewActions[FViewMode]->setChecked(true);
  resize(std::max(200, Option.Width), std::max(150, Option.Height));
  if (Option.Left >= 0 && Option.Top >= 0) move(Option.Left, Option.Top);
  setFocusPolicy(Qt::StrongFocus);
  UpdateScrollBars();
}

TPreviewForm::~TPreviewForm() = default;

void TPreviewForm::SaveOption() {
  const QRect G = geometry();
  FOption.Left = G.left();
  FOption.Top = G.top();
  FOption.Width = G.width();
  FOption.Height = G.height();
  FOption.ViewMode = FViewMode;
}

const TICCImgInfo *TPreviewForm::Shown() const {
  const TICCImgInfo *I = Img[FImgIndex];
  return I && I->Mem ? I : (Img[0] && Img[0]->Mem ? Img[0] : nullptr);
}

const TICCImgInfo *TPreviewForm::ShownAll() const {
  const TICCImgInfo *I = AllViewImg[FImgIndex];
  return I && I->Mem ? I : (AllViewImg[0] && AllViewImg[0]->Mem ? AllViewImg[0] : nullptr);
}

QSize TPreviewForm::ImageSize() const {
  const TICCImgInfo *I = Shown();
  return I ? QSize(int(I->Width), int(I->Height)) : QSize(0, 0);
}

void TPreviewForm::SetPreviewImage(const TICCImgInfo *After, const TICCImgInfo *Before, const std::string &Title,
                                   bool IsSizeLock) {
  const QSize Old = ImageSize();
  Img[0] = After;
  Img[1] = Before;
  FTitle = Title;
  if (!Before) FImgIndex = 0;
  if (!IsSizeLock || Old != ImageSize()) {
    if (!IsSizeLock) FSelect = QRect();
    UpdateZoom(IsSizeLock);
  }
  UpdateTitle();
  UpdateStatus(QPoint(-1, -1));
  Canvas->update();
}

void TPreviewForm::SetAllViewImage(const TICCImgInfo *After, const TICCImgInfo *Before) {
  // The dialog fits its pictures to the client size of this moment.
  FFittedClient = GetClientSize();
  AllViewImg[0] = After;
  AllViewImg[1] = Before;
  if (FViewMode == PREVIEW_VIEW_ALL) UpdateZoom(false);
  Canvas->update();
}

void TPreviewForm::UpdateBitmapInfo() {
  UpdateStatus(QPoint(-1, -1));
  Canvas->update();
}

QSize TPreviewForm::GetClientSize() const { return Canvas->size(); }

QRect TPreviewForm::GetViewRect() const {
  if (FViewMode == PREVIEW_VIEW_ALL) {
    const TICCImgInfo *A = ShownAll();
    return A ? QRect(0, 0, int(A->Width), int(A->Height)) : QRect();
  }
  const QSize S = ImageSize();
  const QSize C = GetClientSize();
  const double Z = FZoom;
  const int Left = int(VX / Z);
  const int Right = std::min(S.width(), int((C.width() + VX + Z - 1) / Z));
  const int Bottom = S.height() - int(VY / Z);
  const int Top = std::max(0, S.height() - int((C.height() + VY + Z - 1) / Z));
  return QRect(QPoint(Left, Top), QSize(std::max(0, Right - Left), std::max(0, Bottom - Top)));
}

QPoint TPreviewForm::ImagePointAt(QPoint P) const {
  return QPoint(int((P.x() + VX) / FZoom + 0.5), int((P.y() + VY) / FZoom + 0.5));
}

void TPreviewForm::UpdateZoom(bool KeepCentre) {
  const QSize S = ImageSize();
  const QSize C = GetClientSize();
  if (FViewMode == PREVIEW_VIEW_ALL) {
    // Along the longer side, so the fitted picture is exactly the zoom's.
    const TICCImgInfo *A = ShownAll();
    const QSize Fit = A ? QSize(int(A->Width), int(A->Height)) : FitPreviewSize(S.width(), S.height(), C.width(), C.height());
    FZoom = S.width() <= 0 ? 1.0
            : S.width() >= S.height() ? double(Fit.width()) / S.width()
                                      : double(Fit.height()) / S.height();
    VX = VY = 0;
  } else {
    const double Old = FZoom > 0 ? FZoom : 1.0;
    const double CX = KeepCentre ? (VX + C.width() / 2.0) / Old : S.width() / 2.0;
    const double CY = KeepCentre ? (VY + C.height() / 2.0) / Old : S.height() / 2.0;
    FZoom = FViewMode;
    VX = int(std::lround(CX * FZoom - C.width() / 2.0));
    VY = int(std::lround(CY * FZoom - C.height() / 2.0));
    ClampScroll();
  }
  UpdateScrollBars();
}

void TPreviewForm::ClampScroll() {
  const QSize S = ImageSize();
  const QSize C = GetClientSize();
  if (FViewMode == PREVIEW_VIEW_ALL) {
    VX = VY = 0;
    return;
  }
  VX = std::clamp(VX, 0, std::max(0, int(S.width() * FZoom) - C.width()));
  VY = std::clamp(VY, 0, std::max(0, int(S.height() * FZoom) - C.height()));
}

void TPreviewForm::SetScrollOffset(QPoint P) {
  VX = P.x();
  VY = P.y();
  ClampScroll();
  UpdateScrollBars();
  Canvas->update();
}

void TPreviewForm::UpdateScrollBars() {
  const QSize S = ImageSize();
  const QSize C = GetClientSize();
  const bool Zoomed = FViewMode != PREVIEW_VIEW_ALL;
  const int MaxX = Zoomed ? std::max(0, int(S.width() * FZoom) - C.width()) : 0;
  const int MaxY = Zoomed ? std::max(0, int(S.height() * FZoom) - C.height()) : 0;
  const QSignalBlocker BH(HScroll), BV(VScroll);
  HScroll->setRange(0, MaxX);
  HScroll->setPageStep(std::max(1, C.width()));
  HScroll->setValue(VX);
  VScroll->setRange(0, MaxY);
  VScroll->setPageStep(std::max(1, C.height()));
  VScroll->setValue(VY);
  HScroll->setEnabled(MaxX > 0);
  VScroll->setEnabled(MaxY > 0);
}

void TPreviewForm::SetViewMode(int32_t Mode) {
  Mode = std::clamp(Mode, 0, 4);
  ViewActions[Mode]->setChecked(true);
  if (Mode == FViewMode) return;
  const double OldZoom = FZoom;
  const QSize C = GetClientSize();
  // The centre of the view stays on the same picture point.
  const double CX = (VX + C.width() / 2.0) / OldZoom, CY = (VY + C.height() / 2.0) / OldZoom;
  FViewMode = Mode;
  if (Mode == PREVIEW_VIEW_ALL) {
    UpdateZoom(false);
  } else {
    FZoom = Mode;
    VX = int(std::lround(CX * FZoom - C.width() / 2.0));
    VY = int(std::lround(CY * FZoom - C.height() / 2.0));
    ClampScroll();
    UpdateScrollBars();
  }
  Canvas->update();
  if (OnChangeViewMode) OnChangeViewMode();
}

void TPreviewForm::ToggleBeforeAfter() {
  if (!Img[1] || !Img[1]->Mem) return;
  FImgIndex = 1 - FImgIndex;
  UpdateTitle();
  Canvas->update();
}

QString TPreviewForm::Title() const { return QString::fromStdString(FTitle); }

void TPreviewForm::UpdateTitle() {
  QString T = QString::fromStdString(FTitle);
  if (Img[1] && Img[1]->Mem) T += FImgIndex == 0 ? QStringLiteral("[After]") : QStringLiteral("[Before]");
  setWindowTitle(T);
}

QString TPreviewForm::SizeText() const {
  const QSize S = ImageSize();
  return QString::asprintf(" %dx%d", S.width(), S.height());
}

QString TPreviewForm::PointText() const { return PointLabel->text(); }

void TPreviewForm::UpdateStatus(QPoint Mouse) {
  SizeLabel->setText(SizeText());
  if (FSelectMode && !FSelect.isEmpty()) {
    PointLabel->setText(QString::asprintf("(%d,%d)-(%d,%d)", FSelect.left(), FSelect.top(),
                                          FSelect.left() + FSelect.width(), FSelect.top() + FSelect.height()));
  } else if (Mouse.x() >= 0) {
    const QPoint P = ImagePointAt(Mouse);
    PointLabel->setText(QString::asprintf("%d,%d", P.x(), P.y()));
  }
}

void TPreviewForm::SetSelectRect(const QRect &R) {
  FSelect = R;
  UpdateStatus(QPoint(-1, -1));
  Canvas->update();
}

void TPreviewForm::SetOnChangeSelectRect(std::function<void(const QRect &)> Proc) {
  FOnChangeSelectRect = std::move(Proc);
  const bool On = bool(FOnChangeSelectRect);
  SelectModeAction->setEnabled(On);
  SelectAllAction->setEnabled(On);
  SelectModeAction->setChecked(On);
}

void TPreviewForm::SetSelectMode(bool On) {
  if (On && !SelectModeAction->isEnabled()) return;
  FSelectMode = On;
  if (SelectModeAction->isChecked() != On) SelectModeAction->setChecked(On);
  Canvas->setCursor(On ? Qt::CrossCursor : Qt::ArrowCursor);
}

void TPreviewForm::SelectAll() {
  if (!SelectAllAction->isEnabled()) return;
  FSelect = QRect(QPoint(0, 0), ImageSize());
  ReportSelection();
  Canvas->update();
}

void TPreviewForm::ReportSelection() {
  UpdateStatus(QPoint(-1, -1));
  if (FOnChangeSelectRect) FOnChangeSelectRect(FSelect);
}

void TPreviewForm::keyPressEvent(QKeyEvent *E) {
  switch (E->key()) {
    case Qt::Key_Left:
      if (CanMove && OnPrevImg) OnPrevImg();
      return;
    case Qt::Key_Right:
      if (CanMove && OnNextImg) OnNextImg();
      return;
    case Qt::Key_Up:
    case Qt::Key_Down: ToggleBeforeAfter(); return;
    case Qt::Key_Space:
      if (SelectModeAction->isEnabled()) SetSelectMode(!FSelectMode);
      return;
    default: QWidget::keyPressEvent(E);
  }
}

void TPreviewForm::closeEvent(QCloseEvent *E) {
  SaveOption();
  QWidget::closeEvent(E);
  if (OnClosed) OnClosed();
}

void TPreviewForm::resizeEvent(QResizeEvent *E) {
  QWidget::resizeEvent(E);
  ClampScroll();
  UpdateScrollBars();
  // A window manager does not tell when the user lets go of the frame, so
  // the refit waits until the size has stopped changing for a moment.
  if (!FResizePending) {
    FResizePending = true;
    QTimer::singleShot(250, this, [this] {
      FResizePending = false;
      if (GetClientSize() == FFittedClient) return;
      FFittedClient = GetClientSize();
      if (OnResized) OnResized();
    });
  }
}
