// Pictures of the unsharp-mask, noise-removal, colour-reduction and
// colour-space dialogs over a photograph, for a person to look at:
//   sharpen-color-shots OUTDIR PHOTO NOISY-PHOTO
// Run it on a display (a virtual one will do: xvfb-run -a -s '-screen 0
// 1600x1000x24'); each dialog is shown with its windows, given time to
// show its preview, and its windows and the whole screen are saved.
#include "app/window/dialogs/ColorSpaceConvertForm.h"
#include "app/window/dialogs/DecreaseColorForm.h"
#include "app/window/dialogs/DenoiseForm.h"
#include "app/window/dialogs/UnSharpMaskOptionForm.h"
#include "app/window/preview/HistogramForm.h"
#include "app/window/preview/PreviewForm.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/ImageInfo.h"
#include "effects/ColorSpaceConvertEffect.h"
#include "effects/DecreaseColorEffect.h"
#include "effects/DenoiseEffect.h"
#include "effects/DenoiseView.h"
#include "effects/UnsharpMaskFilter.h"
#include "io/Pixio.h"
#include "resample/Filter.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QWidget>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

namespace {

std::string Out;

// Runs the event loop until Done, at most LimitMs, then a little longer so
// that the windows have painted.
void Settle(const std::function<bool()> &Done, int LimitMs = 60000) {
  QElapsedTimer T;
  T.start();
  while (!Done() && T.elapsed() < LimitMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void Save(QWidget *W, const std::string &Name) {
  W->grab().save(QString::fromStdString(Out + "/" + Name + ".png"));
}

void SaveScreen(QWidget *W, const std::string &Name) {
  if (QScreen *S = W->screen()) S->grabWindow(0).save(QString::fromStdString(Out + "/" + Name + ".png"));
}

void SavePreviewDialog(TPreviewBaseForm &F, const std::string &Name) {
  Settle([&] { return F.PreviewWindow()->isVisible() && F.WaitForPreview(0) && F.ShownFullCount() > 0; });
  // The window refits its pictures a moment after it has taken its size.
  QElapsedTimer T;
  T.start();
  while (T.elapsed() < 1000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  Settle([&] { return F.WaitForPreview(0); });
  Save(&F, Name + "-dialog");
  Save(F.PreviewWindow(), Name + "-preview");
  if (F.HistogramWindow()->isVisible()) Save(F.HistogramWindow(), Name + "-histogram");
  SaveScreen(&F, Name + "-screen");
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: sharpen-color-shots OUTDIR PHOTO NOISY-PHOTO\n");
    return 2;
  }
  QApplication App(argc, argv);
  Out = argv[1];
  LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  LoadDenoiseLibrary(TESSIVO_BIN_DIR);
  SystemOption.ProcessorCount = 2;
  CreateBatchObjects(2);
  ErrorLogForm();
  PreviewOption.Width = 820;
  PreviewOption.Height = 600;
  PreviewOption.Left = 10;
  PreviewOption.Top = 10;

  TEffectList Effects;
  CreateDefaultEffects(Effects, TESSIVO_BIN_DIR, true);
  Effects.FindByID(EFFECT_RESIZE)->SetUse(false);
  TImageInfoList List;
  for (int i = 2; i <= 3; ++i) {
    auto E = std::make_unique<TImageInfo>();
    E->FPath = argv[i];
    List.Add(std::move(E));
  }
  auto Context = [&](int32_t Index) {
    TPreviewContext Ctx;
    Ctx.List = &List;
    Ctx.SelectedIndex = Index;
    Ctx.Effects = &Effects;
    Ctx.Option = &PreviewOption;
    return Ctx;
  };

  {
    auto &U = dynamic_cast<TUSMFilter &>(*Effects.FindByID(EFFECT_UNSHARP_MASK));
    U.FHighlight = 180, U.FShadow = 120, U.FRadius = 1.6;
    PreviewOption.ViewMode = 0;
    TUnSharpMaskOptionForm F(U, Context(0));
    F.show();
    SavePreviewDialog(F, "unsharpmask");
    F.PreviewWindow()->SetViewMode(2);
    SavePreviewDialog(F, "unsharpmask-200");
  }
  {
    auto &C = dynamic_cast<TColorSpaceConvertEffect &>(*Effects.FindByID(EFFECT_COLOR_SPACE_CONVERT));
    C.FOutputProfileName = "built-in sGray Profile";
    PreviewOption.ViewMode = 0;
    TColorSpaceConvertForm F(C, Context(0));
    F.show();
    SavePreviewDialog(F, "colorspace");
  }
  {
    auto &R = dynamic_cast<TDecreaseColorEffect &>(*Effects.DecreaseColorEffect());
    R.FFlags = DECREASE_COLOR_HAS_FLAXC | DECREASE_COLOR_HAS_PNGNQI;
    R.FMode = DECREASE_COLOR_FLAXC;
    TDecreaseColorForm F(R);
    F.show();
    Settle([] { return true; }, 0);
    Save(&F, "decreasecolor-flaxc");
    F.ToolButton[2]->click();
    Settle([] { return true; }, 0);
    Save(&F, "decreasecolor-pngnqi");
  }
  {
    auto &N = dynamic_cast<TDenoiseEffect &>(*Effects.FindByID(EFFECT_DENOISE));
    N.FAdvancedSetting = LongFalse;
    N.FStr = 9;
    TDenoiseForm F(N, Context(1));
    F.show();
    for (const int32_t View : std::initializer_list<int32_t>{DENOISE_VIEW_100, DENOISE_VIEW_100 + 1, DENOISE_VIEW_Y, DENOISE_VIEW_CB, DENOISE_VIEW_CR,
                         DENOISE_VIEW_NOISE0, DENOISE_VIEW_NOISE0 + 2, DENOISE_VIEW_NOISE0 + 4}) {
      F.ViewBox->setCurrentIndex(View);
      Settle([&] { return F.WaitForView(0); });
      const std::string Name = View < DENOISE_VIEW_Y   ? "zoom" + std::to_string(100 * DenoiseViewZoom(View))
                               : View < DENOISE_VIEW_NOISE0 ? std::string(DenoiseViewNames[View])
                                                            : "noise-lv" + std::to_string(View - DENOISE_VIEW_NOISE0);
      Save(&F, "denoise-" + Name);
    }
    F.AdvancedCheck->setChecked(true);
    F.ViewBox->setCurrentIndex(DENOISE_VIEW_100);
    Settle([&] { return F.WaitForView(0); });
    Save(&F, "denoise-advanced");
    SaveScreen(&F, "denoise-screen");
  }
  std::printf("pictures in %s\n", Out.c_str());
  FreeBatchObjects();
  FreePixio();
  return 0;
}
