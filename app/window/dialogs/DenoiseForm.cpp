// The noise-removal dialog and its background view thread.
#include "app/window/dialogs/DenoiseForm.h"

#include "app/window/dialogs/DialogButtons.h"
#include "app/window/dialogs/DialogControls.h"
#include "app/window/preview/PreviewSource.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/ImageInfo.h"
#include "core/MultiThread.h"
#include "effects/DenoiseEffect.h"
#include "effects/DenoiseView.h"
#include "effects/Effect.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// One rendering: the section (taken from the source on the GUI thread), the
// values and the view.
struct TDenoiseViewJob {
  uint64_t Generation = 0;
  std::shared_ptr<TICCImgOwner> Section;
  TDenoiseValues Values;
  int32_t View = DENOISE_VIEW_100;
  TDenoiseIsa Isa = TDenoiseIsa::Sse2;
};

// The background thread: waits for the newest job, renders it on engines of
// its own and hands the picture to Deliver (on the thread; the dialog posts
// it to itself). A job replaced before it was taken is never rendered.
class TDenoiseViewWorker {
public:
  using TDeliver = std::function<void(uint64_t Generation, QImage Image, int32_t Zoom)>;
  TDenoiseViewWorker(int32_t PoolSize, TDeliver Deliver)
      : FEngines(std::make_unique<TPreviewEngines>(PoolSize)), FDeliver(std::move(Deliver)),
        FThread([this] { Run(); }) {}
  ~TDenoiseViewWorker() {
    {
      std::lock_guard Guard(FLock);
      FTerminated = true;
    }
    FWake.notify_one();
    FThread.join();
  }
  // Runs on the thread after a job was taken, before it is rendered (tests).
  void SetBeforeRender(std::function<void()> Hook) {
    std::lock_guard Guard(FLock);
    FBeforeRender = std::move(Hook);
  }
  void Request(TDenoiseViewJob Job) {
    {
      std::lock_guard Guard(FLock);
      FPending = std::move(Job);
    }
    FWake.notify_one();
  }

private:
  void Run() {
    for (;;) {
      TDenoiseViewJob Job;
      std::function<void()> Hook;
      {
        std::unique_lock Guard(FLock);
        FWake.wait(Guard, [this] { return FTerminated || FPending; });
        if (FTerminated) return;
        Job = std::move(*FPending);
        FPending.reset();
        Hook = FBeforeRender;
      }
      if (Hook) Hook();
      QImage Image;
      try {
        TICCImgInfo &S = **Job.Section;
        RenderDenoiseView(S, Job.Values, Job.View, FEngines->MT.get(), Job.Isa);
        // Only the pictures are colours; components and noise are data shown as gray.
        if (Job.View < DENOISE_VIEW_Y) FEngines->ToMonitor(S);
        Image = ToQImage(S);
      } catch (const std::exception &) {
        // The view stays empty; the step itself reports its failures in a run.
      }
      FDeliver(Job.Generation, std::move(Image), DenoiseViewZoom(Job.View));
    }
  }
  // Rows are stored bottom-up; QImage rows top-down.
  static QImage ToQImage(const TICCImgInfo &S) {
    const bool Gray = S.Channels == 1;
    QImage Q(int(S.Width), int(S.Height), Gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    for (uint32_t y = 0; y < S.Height; ++y) {
      const uint8_t *Src = ScanLine(S, S.Height - 1 - y);
      uchar *Dst = Q.scanLine(int(y));
      if (Gray) {
        std::memcpy(Dst, Src, S.Width);
        continue;
      }
      for (uint32_t x = 0; x < S.Width; ++x) {
        const uint8_t *P = Src + size_t(x) * S.Channels;
        Dst[3 * x] = P[2], Dst[3 * x + 1] = P[1], Dst[3 * x + 2] = P[0];
      }
    }
    return Q;
  }

  std::unique_ptr<TPreviewEngines> FEngines;
  TDeliver FDeliver;
  std::mutex FLock;
  std::condition_variable FWake;
  std::optional<TDenoiseViewJob> FPending;
  std::function<void()> FBeforeRender;
  bool FTerminated = false;
  std::thread FThread;
};

TDenoiseViewArea::TDenoiseViewArea(QWidget *Parent) : QLabel(Parent) {
  setFixedSize(DenoiseViewSide, DenoiseViewSide);
  setAlignment(Qt::AlignCenter);
  setFrameShape(QFrame::StyledPanel);
  setCursor(Qt::OpenHandCursor);
}

void TDenoiseViewArea::mousePressEvent(QMouseEvent *E) {
  if (E->button() != Qt::LeftButton) return;
  FDragging = true;
  FLast = E->position().toPoint();
}

void TDenoiseViewArea::mouseMoveEvent(QMouseEvent *E) {
  if (!FDragging) return;
  const QPoint P = E->position().toPoint();
  if (OnDrag) OnDrag(P - FLast, false);
  FLast = P;
}

void TDenoiseViewArea::mouseReleaseEvent(QMouseEvent *E) {
  if (!FDragging || E->button() != Qt::LeftButton) return;
  FDragging = false;
  if (OnDrag) OnDrag(E->position().toPoint() - FLast, true);
}

TDenoiseForm::TDenoiseForm(TDenoiseEffect &Effect, const TPreviewContext &Ctx, QWidget *Parent)
    : QDialog(Parent), FEffect(Effect), FCtx(Ctx), FAdvanced(Effect.AdvancedValues()) {
  setWindowTitle(QString::fromUtf8(DENOISE_FORM_CAPTION));
  auto *Top = new QHBoxLayout(this);
  auto *Controls = new QVBoxLayout;
  auto *StrRow = new QFormLayout;
  StrEdit = RangedSpinBox(1, 16, std::clamp(Effect.FStr, 1, 16));
  StrRow->addRow(QStringLiteral("強さ"), StrEdit);
  Controls->addLayout(StrRow);
  AdvancedCheck = new QCheckBox(QStringLiteral("詳細設定"));
  AdvancedCheck->setChecked(Effect.FAdvancedSetting != LongFalse);
  Controls->addWidget(AdvancedCheck);

  AdvancedPanel = new QGroupBox;
  auto *Grid = new QFormLayout(AdvancedPanel);
  for (size_t i = 0; i < 5; ++i) {
    LevelEdit[i] = RangedSpinBox(1, 100, 1);
    Grid->addRow(QStringLiteral("輝度Lv%1").arg(i), LevelEdit[i]);
  }
  LumaSigma2Edit = RangedSpinBox(1, 100, 1);
  LumaRadiusEdit = RangedSpinBox(1, 4, 1);
  ChromaEdit = RangedSpinBox(1, 100, 1);
  ChromaSigma2Edit = RangedSpinBox(1, 100, 1);
  ChromaRadiusEdit = RangedSpinBox(1, 4, 1);
  Grid->addRow(QStringLiteral("輝度分散2"), LumaSigma2Edit);
  Grid->addRow(QStringLiteral("輝度半径"), LumaRadiusEdit);
  Grid->addRow(QStringLiteral("色差分散"), ChromaEdit);
  Grid->addRow(QStringLiteral("色差分散2"), ChromaSigma2Edit);
  Grid->addRow(QStringLiteral("色差半径"), ChromaRadiusEdit);
  Controls->addWidget(AdvancedPanel);

  auto *ViewRow = new QFormLayout;
  ViewBox = new QComboBox;
  for (const char *Name : DenoiseViewNames) ViewBox->addItem(QString::fromUtf8(Name));
  ViewRow->addRow(QStringLiteral("表示"), ViewBox);
  Controls->addLayout(ViewRow);
  PreviewCheck = new QCheckBox(QStringLiteral("プレビュー"));
  PreviewCheck->setChecked(Effect.FPreview != LongFalse);
  Controls->addWidget(PreviewCheck);
  Controls->addStretch();
  Controls->addLayout(OKCancelRow(this));
  Top->addLayout(Controls);
  ViewArea = new TDenoiseViewArea;
  Top->addWidget(ViewArea);

  AdvancedChanged();
  connect(AdvancedCheck, &QCheckBox::toggled, this, [this] {
    AdvancedChanged();
    RequestView();
  });
  connect(StrEdit, &QSpinBox::valueChanged, this, [this] {
    if (!AdvancedCheck->isChecked()) ShowValues(DenoisePreset(StrEdit->value()));
    RequestView();
  });
  auto Edited = [this] {
    if (FShowingValues || !AdvancedCheck->isChecked()) return;
    FAdvanced = Values();
    RequestView();
  };
  for (QSpinBox *S : LevelEdit) connect(S, &QSpinBox::valueChanged, this, Edited);
  for (QSpinBox *S : {LumaSigma2Edit, LumaRadiusEdit, ChromaEdit, ChromaSigma2Edit, ChromaRadiusEdit})
    connect(S, &QSpinBox::valueChanged, this, Edited);
  connect(ViewBox, &QComboBox::currentIndexChanged, this, [this] { RequestView(); });
  connect(PreviewCheck, &QCheckBox::toggled, this, [this](bool On) {
    ViewArea->setEnabled(On);
    if (On)
      RequestView();
    else
      ViewArea->clear();
  });
  ViewArea->OnDrag = [this](QPoint Delta, bool) {
    const int32_t Zoom = DenoiseViewZoom(View());
    SetCentre(FCentre - Delta / Zoom);
  };

  LoadSource(Ctx.SelectedIndex < 0 ? 0 : Ctx.SelectedIndex);
  FWorker = std::make_unique<TDenoiseViewWorker>(
      std::max(1, SystemOption.ProcessorCount), [this](uint64_t Generation, QImage Image, int32_t Zoom) {
        QMetaObject::invokeMethod(
            this, [this, Generation, Image, Zoom] { Delivered(Generation, Image, Zoom); }, Qt::QueuedConnection);
      });
  RequestView();
}

TDenoiseForm::~TDenoiseForm() { FWorker.reset(); }

void TDenoiseForm::LoadSource(int32_t Index) {
  FMaster.Release();
  if (!FCtx.List || Index < 0 || Index >= FCtx.List->Count()) return;
  if (!FEngines) FEngines = std::make_unique<TPreviewEngines>(std::max(1, SystemOption.ProcessorCount));
  TImageInfo &Entry = *FCtx.List->Items(Index);
  try {
    LoadPreviewSource(FCtx, Entry, *FMaster, EFFECT_DENOISE, Index, *FEngines);
  } catch (const std::exception &E) {
    FMaster.Release();
    ErrorLogForm().PutErrorMsg(Entry.GetName() + ": " + E.what());
    return;
  }
  FCentre = QPoint(int(FMaster->Width / 2), int(FMaster->Height / 2));
}

const TICCImgInfo *TDenoiseForm::Master() const { return FMaster->Mem ? &FMaster.Get() : nullptr; }

void TDenoiseForm::ShowValues(const TDenoiseValues &V) {
  FShowingValues = true;
  for (size_t i = 0; i < 5; ++i) LevelEdit[i]->setValue(V.Level[i]);
  LumaSigma2Edit->setValue(V.LumaSigma2);
  LumaRadiusEdit->setValue(V.LumaRadius);
  ChromaEdit->setValue(V.ChromaStrength);
  ChromaSigma2Edit->setValue(V.ChromaSigma2);
  ChromaRadiusEdit->setValue(V.ChromaRadius);
  FShowingValues = false;
}

void TDenoiseForm::AdvancedChanged() {
  // Without the advanced setting the fields show the preset they stand for;
  // the advanced values are kept and come back when it is turned on again.
  const bool On = AdvancedCheck->isChecked();
  AdvancedPanel->setEnabled(On);
  StrEdit->setEnabled(!On);
  ShowValues(On ? FAdvanced : DenoisePreset(StrEdit->value()));
}

TDenoiseValues TDenoiseForm::Values() const {
  TDenoiseValues V;
  for (size_t i = 0; i < 5; ++i) V.Level[i] = LevelEdit[i]->value();
  V.LumaSigma2 = LumaSigma2Edit->value(), V.LumaRadius = LumaRadiusEdit->value();
  V.ChromaStrength = ChromaEdit->value(), V.ChromaSigma2 = ChromaSigma2Edit->value();
  V.ChromaRadius = ChromaRadiusEdit->value();
  return V;
}

int32_t TDenoiseForm::View() const { return std::max(0, ViewBox->currentIndex()); }

void TDenoiseForm::SetCentre(QPoint P) {
  if (!Master()) return;
  FCentre = QPoint(std::clamp(P.x(), 0, int(FMaster->Width) - 1), std::clamp(P.y(), 0, int(FMaster->Height) - 1));
  RequestView();
}

void TDenoiseForm::RequestView() {
  const uint64_t Generation = ++FGeneration;
  if (!Master() || !PreviewCheck->isChecked() || !FWorker || !DenoiseAvailable()) {
    FShownGeneration = Generation;
    return;
  }
  TDenoiseViewJob Job;
  Job.Generation = Generation;
  Job.View = View();
  Job.Values = Values();
  Job.Isa = DenoiseIsaFor(SystemOption.UseAVX != LongFalse);
  // The section is taken here, where the source cannot change under it;
  // the centre counts rows from the top, the picture stores them bottom-up.
  const TDenoiseSection S = DenoiseViewSection(FMaster->Width, FMaster->Height, Job.View, FCentre.x(),
                                               int(FMaster->Height) - 1 - FCentre.y());
  Job.Section = std::make_shared<TICCImgOwner>(false);
  CopySection(*FMaster, S, **Job.Section);
  FWorker->Request(std::move(Job));
}

void TDenoiseForm::Delivered(uint64_t Generation, const QImage &Image, int32_t Zoom) {
  // A result of an older request is dropped: a newer one is on its way.
  if (Generation != FGeneration.load()) return;
  FShownGeneration = Generation;
  FShown = Image;
  ++FShownCount;
  if (Image.isNull()) {
    ViewArea->clear();
    return;
  }
  ViewArea->setPixmap(QPixmap::fromImage(
      Zoom == 1 ? Image : Image.scaled(Image.width() * Zoom, Image.height() * Zoom, Qt::IgnoreAspectRatio,
                                       Qt::FastTransformation)));
}

void TDenoiseForm::SetBeforeRender(std::function<void()> Hook) { FWorker->SetBeforeRender(std::move(Hook)); }

bool TDenoiseForm::WaitForView(int TimeoutMs) {
  QElapsedTimer Clock;
  Clock.start();
  while (FShownGeneration != FGeneration.load()) {
    if (Clock.elapsed() > TimeoutMs) return false;
    QEventLoop Loop;
    QTimer::singleShot(5, &Loop, &QEventLoop::quit);
    Loop.exec();
  }
  return true;
}

void TDenoiseForm::accept() {
  FEffect.SetAdvancedValues(FAdvanced);
  FEffect.FAdvancedSetting = AdvancedCheck->isChecked() ? LongTrue : LongFalse;
  FEffect.FStr = StrEdit->value();
  FEffect.FPreview = PreviewCheck->isChecked() ? LongTrue : LongFalse;
  QDialog::accept();
}

namespace {

const TEffectDialogRegistrar Registrar(EFFECT_DENOISE, ModalDialogOpener<TDenoiseForm, TDenoiseEffect>());

}  // namespace
