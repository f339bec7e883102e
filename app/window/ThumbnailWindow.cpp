// The thumbnail window and its maker thread.
#include "app/window/ThumbnailWindow.h"

#include "core/ImgInfo.h"

#include <QCloseEvent>
#include <QPainter>

#include <exception>

TThumbnailMaker::TThumbnailMaker(TDone Done) : FDone(std::move(Done)), FThread([this] { Loop(); }) {}

TThumbnailMaker::~TThumbnailMaker() {
  {
    std::lock_guard Lock(FLock);
    FQuit = true;
  }
  FCond.notify_all();
  FThread.join();
}

uint64_t TThumbnailMaker::Request(const TImageProbe &Entry, const TListThumbnailOptions &Options) {
  uint64_t Serial;
  {
    std::lock_guard Lock(FLock);
    FPending.emplace(Entry, Options);
    Serial = ++FSerial;
  }
  FCond.notify_all();
  return Serial;
}

QImage ImageOfBitmap(const TICCImgInfo &Bitmap) {
  if (!Bitmap.Mem || Bitmap.Width == 0 || Bitmap.Height == 0) return {};
  const int W = int(Bitmap.Width), H = int(Bitmap.Height);
  QImage Out(W, H, QImage::Format_RGB32);
  for (int y = 0; y < H; ++y) {
    // Rows are stored bottom-up.
    const uint8_t *Src = Bitmap.Mem + size_t(H - 1 - y) * Bitmap.Bpl;
    auto *Dst = reinterpret_cast<QRgb *>(Out.scanLine(y));
    for (int x = 0; x < W; ++x) {
      if (Bitmap.Channels >= 3) {
        const uint8_t *P = Src + size_t(x) * Bitmap.Channels;
        Dst[x] = qRgb(P[2], P[1], P[0]);
      } else {
        const uint8_t G = Src[size_t(x) * Bitmap.Channels];
        Dst[x] = qRgb(G, G, G);
      }
    }
  }
  return Out;
}

void TThumbnailMaker::Loop() {
  for (;;) {
    std::pair<TImageProbe, TListThumbnailOptions> Job;
    uint64_t Serial;
    {
      std::unique_lock Lock(FLock);
      FCond.wait(Lock, [this] { return FQuit || FPending; });
      if (FQuit) return;
      Job = std::move(*FPending);
      FPending.reset();
      Serial = FSerial;
    }
    QImage Image;
    std::string Error;
    TICCImgInfo Bitmap{};
    try {
      MakeListThumbnail(Bitmap, Job.first, Job.second);
      Image = ImageOfBitmap(Bitmap);
    } catch (const std::exception &E) {
      Error = E.what();
    }
    FreeICCImgInfo(Bitmap, true);
    FDone(Serial, Image, Error, Job.first.CachedThumbnail);
  }
}

TThumbnailWindow::TThumbnailWindow(QWidget *Parent) : QWidget(Parent, Qt::Tool) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setWindowFlag(Qt::WindowDoesNotAcceptFocus);
  setFocusPolicy(Qt::NoFocus);
  SetSide(160);
}

void TThumbnailWindow::SetSide(int Side) {
  FSide = Side;
  setFixedSize(Side, Side);
  update();
}

void TThumbnailWindow::SetPicture(const QImage &Image, const QString &Caption) {
  FImage = Image;
  setWindowTitle(Caption);
  update();
}

void TThumbnailWindow::paintEvent(QPaintEvent *) {
  QPainter P(this);
  P.fillRect(rect(), palette().color(QPalette::Button));
  if (FImage.isNull()) return;
  QImage Shown = FImage;
  if (Shown.width() > width() || Shown.height() > height())
    Shown = Shown.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
  P.drawImage((width() - Shown.width()) / 2, (height() - Shown.height()) / 2, Shown);
}

void TThumbnailWindow::closeEvent(QCloseEvent *E) {
  E->accept();
  if (OnClosed) OnClosed();
}
