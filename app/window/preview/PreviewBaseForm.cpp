// The effect dialogs' base: loading the previewed entry, the full and spot
// preview threads, delivering their results to the preview and histogram
// windows, and the dialog registry.
#include "app/window/preview/PreviewBaseForm.h"

#include "app/window/preview/HistogramForm.h"
#include "app/window/preview/PreviewForm.h"
#include "app/window/preview/PreviewSource.h"
#include "app/window/preview/PreviewThread.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/ImageInfo.h"
#include "color/ICCUtil.h"
#include "core/MultiThread.h"
#include "core/PixelConvert.h"
#include "effects/Effect.h"
#include "resample/Resize.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <exception>
#include <map>

TPreviewBaseForm::TPreviewBaseForm(const TPreviewContext &Ctx, QWidget *Parent) : QDialog(Parent), FCtx(Ctx) {
  if (!FCtx.Option) FCtx.Option = &PreviewOption;
  const int32_t P = std::max(1, SystemOption.ProcessorCount);
  FEngines = std::make_unique<TPreviewEngines>(P, FCtx.Option->ResizeMode);
  FPreviewForm = new TPreviewForm(*FCtx.Option, this);
  FHistogramForm = new THistogramForm(*FCtx.Option, SystemOption.EnabledLabMode != LongFalse, this);
  FHistogramForm->SetParentForm(this, [this] { RequestPreview(); });
}

TPreviewBaseForm::~TPreviewBaseForm() {
  StopPreviewThreads();
  if (FHistogramForm) FHistogramForm->SaveOption();
  if (FPreviewForm) FPreviewForm->SaveOption();
}

const TICCImgInfo *TPreviewBaseForm::Master() const { return FMaster->Mem ? &FMaster.Get() : nullptr; }
const TICCImgInfo *TPreviewBaseForm::DestImage() const { return FDest->Mem ? &FDest.Get() : nullptr; }
const TICCImgInfo *TPreviewBaseForm::SrcImage() const { return FSrc->Mem ? &FSrc.Get() : nullptr; }
const TICCImgInfo *TPreviewBaseForm::Dest2Image() const { return FDest2->Mem ? &FDest2.Get() : nullptr; }
const TICCImgInfo *TPreviewBaseForm::Src2Image() const { return FSrc2->Mem ? &FSrc2.Get() : nullptr; }

void TPreviewBaseForm::StopPreviewThreads() {
  FPreviewThread.reset();
  FSpotPreviewThread.reset();
}

void TPreviewBaseForm::SetPreviewImageIndex(int32_t Index) {
  ImgIndex = Index;
  LoadPreviewImage();
  if (Master()) WireWindows();
}

void TPreviewBaseForm::WireWindows() {
  FPreviewForm->OnResized = [this] {
    // Stopping drops a computation under way, so a request not shown yet is
    // made again in the zoomed views too.
    const bool Outstanding = FShownGeneration != FRequestGeneration.load();
    StopPreviewThreads();
    Refit();
    if (FPreviewForm->ViewMode() == PREVIEW_VIEW_ALL || Outstanding) RequestPreview();
  };
  FPreviewForm->OnChangeViewMode = [this] {
    StopPreviewThreads();
    if (FPreviewForm->ViewMode() == PREVIEW_VIEW_ALL) Refit();
    RequestPreview();
  };
  // Another part of a zoomed view: a newer request, the running one is dropped.
  FPreviewForm->OnScrolled = [this] { RequestPreview(); };
  FPreviewForm->OnClosed = [this] { PreviewClosed(); };
  FPreviewForm->OnNextImg = [this] { StepImage(1); };
  FPreviewForm->OnPrevImg = [this] { StepImage(-1); };
}

void TPreviewBaseForm::StepImage(int Step) {
  const int32_t Count = FCtx.List ? FCtx.List->Count() : 0;
  if (Count == 0) return;
  ImgIndex = Step > 0 ? (ImgIndex + 1 >= Count ? 0 : ImgIndex + 1) : (ImgIndex - 1 < 0 ? Count - 1 : ImgIndex - 1);
  LoadPreviewImage();
  RequestPreview();
}

void TPreviewBaseForm::LoadPreviewImage() {
  StopPreviewThreads();
  FPreviewForm->SetPreviewImage(nullptr, nullptr, {}, false);
  FPreviewForm->SetAllViewImage(nullptr, nullptr);
  for (TICCImgOwner *I : {&FMaster, &FSrc, &FSrc2, &FDest, &FDest2}) I->Release();
  DefaultCount.fill(0);
  if (!FCtx.List || !FCtx.Effects || ImgIndex < 0 || ImgIndex >= FCtx.List->Count()) return;
  TImageInfo &Entry = *FCtx.List->Items(ImgIndex);
  try {
    LoadPreviewSource(FCtx, Entry, *FMaster, GetEffectID(), ImgIndex, *FEngines);
  } catch (const std::exception &E) {
    FMaster.Release();
    ErrorLogForm().PutErrorMsg(Entry.GetName() + ": " + E.what());
    return;
  }
  if (!FMaster->Mem) return;
  if (FMaster->BPP == 16) Convert16To14(*FMaster);
  if (UseHistogram) {
    if (FMaster->BPP == 8) {
      CalcHistogram(*FMaster, DefaultCount, 3, FEngines->ToLab8(*FMaster), FEngines->MT.get(),
                    SystemOption.EnabledLabMode != LongFalse);
    } else {
      TICCImgOwner Copy;
      CopyPreviewImage(*FMaster, *Copy);
      ConvertTo8Bit(*Copy, true);
      CalcHistogram(*Copy, DefaultCount, 3, FEngines->ToLab8(*Copy), FEngines->MT.get(),
                    SystemOption.EnabledLabMode != LongFalse);
    }
    FHistogramForm->SetDefaultCount(DefaultCount);
  }
  CopyPreviewImage(*FMaster, *FSrc);
  ConvertTo8Bit(*FSrc, false);
  FEngines->ToMonitor(*FSrc);
  CopyPreviewImage(*FSrc, *FDest);
  FDestProcessed = false;
  FPreviewForm->SetPreviewImage(&FDest.Get(), &FSrc.Get(), Entry.GetName(), false);
  Refit();
}

void TPreviewBaseForm::Refit() {
  FSrc2.Release();
  FDest2.Release();
  if (!FSrc->Mem) return;
  const QSize Client = FPreviewForm->GetClientSize();
  FitPreviewImage(*FSrc, *FSrc2, Client, *FEngines);
  // Until a full-size result came, Dest is Src and so fits the same.
  if (FDest->Mem && FDestProcessed)
    FitPreviewImage(*FDest, *FDest2, Client, *FEngines);
  else
    CopyPreviewImage(*FSrc2, *FDest2);
  FPreviewForm->SetAllViewImage(&FDest2.Get(), &FSrc2.Get());
}

void TPreviewBaseForm::RequestPreview() {
  if (!Master() || !IsPreviewEnabled()) return;
  TPreviewStep Step = MakePreviewStep();
  if (!Step) return;
  const uint64_t Generation = ++FRequestGeneration;
  TPreviewRequest R;
  R.Generation = Generation;
  R.Step = std::move(Step);
  R.AllView = FPreviewForm->ViewMode() == PREVIEW_VIEW_ALL;
  R.Fitted = FSrc2->Mem ? QSize(int(FSrc2->Width), int(FSrc2->Height)) : QSize();
  R.Histogram = UseHistogram && IsHistogramEnabled();
  R.HistogramMode = FHistogramForm->GetHistogramMode();
  R.LabMode = SystemOption.EnabledLabMode != LongFalse;
  R.Dither = GetDitherOption();
  R.Settings = std::make_shared<const TRunSettings>(CurrentRunSettings());
  const int32_t Half = (std::max(1, SystemOption.ProcessorCount) + 1) / 2;
  if (!R.AllView) {
    if (!FSpotPreviewThread) FSpotPreviewThread = std::make_unique<TPreviewThread>(*this, true, Half);
    TPreviewRequest S = R;
    S.Spot = FPreviewForm->GetViewRect();
    FSpotPreviewThread->Request(std::move(S));
  }
  if (!FPreviewThread) FPreviewThread = std::make_unique<TPreviewThread>(*this, false, Half);
  FPreviewForm->CanMove = false;
  FPreviewThread->Request(std::move(R));
}

void TPreviewBaseForm::DeliverFull(TICCImgOwner &Img, bool AllView, uint64_t Generation,
                                   const THistogramCounts *Counts) {
  // A newer request is pending: its result follows, this one is stale.
  if (Generation != FRequestGeneration.load()) return;
  FPreviewForm->CanMove = true;
  if (AllView != (FPreviewForm->ViewMode() == PREVIEW_VIEW_ALL)) return;
  // The result is handed over rather than copied: a full-size picture is
  // tens of megabytes, and the GUI thread also shows the spot results.
  if (AllView) {
    FDest2 = std::move(Img);
    FPreviewForm->SetAllViewImage(&FDest2.Get(), FSrc2->Mem ? &FSrc2.Get() : nullptr);
  } else {
    FDest = std::move(Img);
    FDestProcessed = true;
    FPreviewForm->SetPreviewImage(&FDest.Get(), FSrc->Mem ? &FSrc.Get() : nullptr,
                                  FPreviewForm->Title().toStdString(), true);
  }
  FPreviewForm->UpdateBitmapInfo();
  if (Counts) {
    FShownHistogram = *Counts;
    FHistogramForm->UpdateHistogram(*Counts);
  }
  FShownGeneration = Generation;
  ++FShownFull;
  if (OnPreviewShown) OnPreviewShown(false);
  // Pictures fitted while the window had another size (a window is laid out
  // only when it is shown, and this result was asked for before): fit them
  // to the present size and ask for the result at that size.
  if (AllView && FSrc->Mem && FSrc2->Mem) {
    const QSize Client = FPreviewForm->GetClientSize();
    if (FitPreviewSize(int32_t(FSrc->Width), int32_t(FSrc->Height), Client.width(), Client.height()) !=
        QSize(int(FSrc2->Width), int(FSrc2->Height))) {
      Refit();
      RequestPreview();
    }
  }
}

void TPreviewBaseForm::DeliverSpot(TICCImgOwner &Img, const QRect &Spot, uint64_t Generation) {
  if (Generation != FRequestGeneration.load() || FPreviewForm->ViewMode() == PREVIEW_VIEW_ALL) return;
  UpdatePreview(*Img, Spot);
  ++FShownSpot;
  if (OnPreviewShown) OnPreviewShown(true);
}

void TPreviewBaseForm::UpdatePreview(const TICCImgInfo &Img) {
  FDest.Release();
  CopyPreviewImage(Img, *FDest);
  FDestProcessed = true;
  FPreviewForm->SetPreviewImage(&FDest.Get(), FSrc->Mem ? &FSrc.Get() : nullptr, FPreviewForm->Title().toStdString(),
                                true);
  FPreviewForm->UpdateBitmapInfo();
}

void TPreviewBaseForm::UpdatePreview(const TICCImgInfo &Img, const QRect &Rect) {
  // Rect is in stored rows (bottom-up), as GetViewRect gives it.
  if (!FDest->Mem || FDest->Channels != Img.Channels || FDest->BPP != Img.BPP) return;
  const uint32_t Bytes = Img.BPP == 8 ? Img.Channels : Img.Channels * 2;
  const uint32_t X = uint32_t(std::max(0, Rect.left())), Y = uint32_t(std::max(0, Rect.top()));
  if (X >= FDest->Width || Y >= FDest->Height) return;
  const uint32_t W = std::min(Img.Width, FDest->Width - X), H = std::min(Img.Height, FDest->Height - Y);
  FDestProcessed = true;
  for (uint32_t y = 0; y < H; ++y)
    std::memcpy(FDest->Mem + size_t(Y + y) * FDest->Bpl + size_t(X) * Bytes, Img.Mem + size_t(y) * Img.Bpl,
                size_t(W) * Bytes);
  FPreviewForm->UpdateBitmapInfo();
}

void TPreviewBaseForm::UpdateAllPreview(const TICCImgInfo &Img) {
  FDest2.Release();
  CopyPreviewImage(Img, *FDest2);
  FPreviewForm->SetAllViewImage(&FDest2.Get(), FSrc2->Mem ? &FSrc2.Get() : nullptr);
  FPreviewForm->UpdateBitmapInfo();
}

bool TPreviewBaseForm::WaitForPreview(int TimeoutMs) {
  QElapsedTimer T;
  T.start();
  while (FShownGeneration != FRequestGeneration.load()) {
    if (T.elapsed() > TimeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

void TPreviewBaseForm::ShowHistogramWindow(bool On) {
  if (!UseHistogram) return;
  if (On && Master()) {
    FHistogramForm->show();
    RequestPreview();
  } else {
    FHistogramForm->hide();
  }
}

void TPreviewBaseForm::ShowPreviewWindows() {
  const QRect Work = screen() ? screen()->availableGeometry() : QRect(0, 0, 1600, 1000);
  const bool Preview = FDest->Mem && IsPreviewEnabled();
  TPreviewPlacement P = PlacePreviewWindows(Work, *FCtx.Option, frameGeometry().size(),
                                            FHistogramForm->frameGeometry().size(), Preview);
  if (Preview) {
    FPreviewForm->DlgWidth = frameGeometry().width();
    FPreviewForm->setGeometry(P.Preview);
    FPreviewForm->show();
    // The pictures were fitted before the window had its size.
    if (QLayout *L = FPreviewForm->layout()) L->activate();
    Refit();
  }
  move(P.Dialog.topLeft());
  if (UseHistogram && IsHistogramEnabled() && Master()) {
    FHistogramForm->move(P.Histogram.topLeft());
    FHistogramForm->show();
  }
  if (Preview) RequestPreview();
}

void TPreviewBaseForm::showEvent(QShowEvent *E) {
  QDialog::showEvent(E);
  if (!FPlaced) {
    FPlaced = true;
    // After the dialog has its size, so the three windows can be placed.
    QTimer::singleShot(0, this, [this] { ShowPreviewWindows(); });
  }
}

void TPreviewBaseForm::closeEvent(QCloseEvent *E) {
  FHistogramForm->SaveOption();
  QDialog::closeEvent(E);
}

void TPreviewBaseForm::done(int R) {
  StopPreviewThreads();
  FHistogramForm->SaveOption();
  FPreviewForm->SaveOption();
  FPreviewForm->hide();
  FHistogramForm->hide();
  QDialog::done(R);
}

// The registry.
namespace {
std::map<uint32_t, TEffectDialogOpener> &Openers() {
  static std::map<uint32_t, TEffectDialogOpener> M;
  return M;
}
}  // namespace

void RegisterEffectDialog(uint32_t EffectID, TEffectDialogOpener Open) { Openers()[EffectID] = std::move(Open); }

const TEffectDialogOpener *FindEffectDialog(uint32_t EffectID) {
  auto It = Openers().find(EffectID);
  return It == Openers().end() ? nullptr : &It->second;
}
