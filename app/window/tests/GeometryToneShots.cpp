// Pictures of the rotation, trimming, margins, colour-correction, tone-curve
// and grayscale dialogs over a photograph, for a person to look at:
//   geotone-shots OUTDIR PHOTO
// Run it on a display (a virtual one will do: xvfb-run -a -s '-screen 0
// 1600x1000x24'). Each dialog is shown with settings that visibly change
// the picture; once its preview is shown, the whole screen is saved.
#include "app/window/dialogs/AddBlankForm.h"
#include "app/window/dialogs/ColorCorrectionForm.h"
#include "app/window/dialogs/DialogWidgets.h"
#include "app/window/dialogs/GrayscaleForm.h"
#include "app/window/dialogs/RotationForm.h"
#include "app/window/dialogs/ToneCurveOptionForm.h"
#include "app/window/dialogs/TrimmingOptionForm.h"
#include "app/window/preview/PreviewForm.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/ImageInfo.h"
#include "io/Pixio.h"
#include "resample/Filter.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>

#include <cstdio>
#include <functional>
#include <string>

namespace {

// Shows F, lets Prepare set it up, waits for its preview (threaded or not)
// and the windows' painting, then saves the screen as OUTDIR/Name.png.
void Shoot(TPreviewBaseForm &F, const std::string &Out, const std::string &Name,
           const std::function<void()> &Prepare) {
  F.show();
  QElapsedTimer T;
  T.start();
  // Placement, the preview window's refit after it took its size, painting.
  while (T.elapsed() < 1500) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  Prepare();
  F.RequestPreview();
  F.WaitForPreview(60000);
  T.restart();
  while (T.elapsed() < 500) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  const QString Path = QString::fromStdString(Out + "/" + Name + ".png");
  if (QScreen *S = F.screen()) S->grabWindow(0).save(Path);
  std::printf("%s\n", Path.toLocal8Bit().constData());
  F.reject();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: geotone-shots OUTDIR PHOTO\n");
    return 2;
  }
  QApplication App(argc, argv);
  const std::string Out = argv[1];
  LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  SystemOption.ProcessorCount = 2;
  CreateBatchObjects(2);
  ErrorLogForm();
  PreviewOption.Width = 820;
  PreviewOption.Height = 600;
  PreviewOption.Left = 10;
  PreviewOption.Top = 10;
  PreviewOption.ViewMode = 0;

  TEffectList Effects;
  CreateDefaultEffects(Effects, TESSIVO_BIN_DIR, true);
  Effects.FindByID(EFFECT_RESIZE)->SetUse(false);
  TImageInfoList List;
  auto Entry = std::make_unique<TImageInfo>();
  Entry->FPath = argv[2];
  List.Add(std::move(Entry));
  TPreviewContext Ctx;
  Ctx.List = &List;
  Ctx.SelectedIndex = 0;
  Ctx.Effects = &Effects;
  Ctx.Option = &PreviewOption;
  auto Find = [&](uint32_t ID) -> TEffect & { return *Effects.FindByID(ID); };

  {
    auto &E = dynamic_cast<TToneCurveEffect &>(Find(EFFECT_TONE_CURVE));
    E.FControlPoints[CURVE_RGB] = {{0, 0}, {64, 40}, {192, 220}, {255, 255}};
    E.FControlPoints[CURVE_BLUE] = {{0, 0}, {128, 110}, {255, 255}};
    TToneCurveOptionForm F(E, Ctx);
    Shoot(F, Out, "tone-curve", [] {});
  }
  {
    auto &E = dynamic_cast<TTrimmingFilter &>(Find(EFFECT_TRIMMING));
    E.FSizeList = "フリーサイズ,4:3,16:9";
    TTrimmingOptionForm F(E, Ctx);
    Shoot(F, Out, "trimming", [&] {
      F.TypeBox->setCurrentIndex(3);
      F.PresetList->setCurrentRow(2);
      F.LandscapeEdit->setText(QStringLiteral("16:9,50,30"));
      F.PortraitEdit->setText(QStringLiteral("16:9,50,30"));
    });
  }
  {
    auto &E = dynamic_cast<TAddBlankFilter &>(Find(EFFECT_ADD_BLANK));
    E.FAddBlankParam.Value = {"40", "40", "40", "40", "40", "40", "40", "40"};
    E.FAddBlankParam.UseFrame1 = E.FAddBlankParam.UseFrame2 = LongTrue;
    E.FAddBlankParam.Frame1Width = 4;
    E.FAddBlankParam.Frame2Width = 10;
    E.FAddBlankParam.UseDropShadow = LongTrue;
    E.FAddBlankParam.ShadowRadius = 8;
    E.FAddBlankParam.ShadowOffsetX = E.FAddBlankParam.ShadowOffsetY = 12;
    E.FAddBlankParam.Color = int32_t(0xFFE0E8F0u);
    TAddBlankForm F(E, Ctx);
    Shoot(F, Out, "margins", [] {});
  }
  {
    auto &E = dynamic_cast<TColorAdjust &>(Find(EFFECT_COLOR_ADJUST));
    TColorCorrectionForm F(E, Ctx);
    Shoot(F, Out, "color-correction", [&] {
      F.Chroma->Bar->setValue(90);
      F.Contrast->Bar->setValue(40);
      F.Hue->Bar->setValue(-60);
    });
  }
  {
    auto &E = dynamic_cast<TGrayscaleFilter &>(Find(EFFECT_GRAYSCALE));
    TGrayscaleForm F(E, Ctx);
    Shoot(F, Out, "grayscale", [&] {
      F.DecreaseCheck->setChecked(true);
      F.ColorCount->setValue(6);
    });
  }
  {
    auto &E = dynamic_cast<TRotationFilter &>(Find(EFFECT_ROTATION));
    TRotationForm F(E, Ctx);
    Shoot(F, Out, "rotation", [&] { F.OperationList->setCurrentRow(0); });
  }
  FreeBatchObjects();
  FreePixio();
  return 0;
}
