// The sharpen, noise-removal, colour-reduction and colour-space dialogs on
// the offscreen platform: what each shows for the tool or setting chosen,
// that their previews apply the values being edited (over a real photo),
// the noise-removal views and their dropping of superseded requests, and
// the profile choice of the colour-space dialog.
#include "app/window/dialogs/ColorSpaceConvertForm.h"
#include "app/window/dialogs/DecreaseColorForm.h"
#include "app/window/dialogs/DenoiseForm.h"
#include "app/window/dialogs/UnSharpMaskOptionForm.h"
#include "app/window/preview/PreviewForm.h"
#include "app/window/preview/PreviewSource.h"
#include "app/window/tests/DialogTestEnv.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/ImageInfo.h"
#include "color/ICCUtil.h"
#include "core/MultiThread.h"
#include "effects/DecreaseColorEffect.h"
#include "effects/DenoiseEffect.h"
#include "effects/DenoiseView.h"
#include "effects/UnsharpMaskFilter.h"
#include "io/Pixio.h"
#include "resample/Filter.h"
#include "resample/WeightedMean.h"
#include "testutil/ColourReduction.h"
#include "testutil/OutsideTool.h"
#include "testutil/TestEnv.h"

#include "app/window/preview/HistogramForm.h"
#include "app/window/preview/PreviewForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <future>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

[[maybe_unused]] ::testing::Environment *const Environment =
    ::testing::AddGlobalTestEnvironment(new dialogtest::TEnvironment);

std::vector<std::string> Items(const QComboBox *Box) {
  std::vector<std::string> R;
  for (int i = 0; i < Box->count(); ++i) R.push_back(Box->itemText(i).toStdString());
  return R;
}

// The largest difference of two 8-bit records of one geometry.
int MaxDifference(const TICCImgInfo &A, const TICCImgInfo &B) {
  int Worst = 0;
  for (uint32_t y = 0; y < A.Height; ++y)
    for (uint32_t x = 0; x < A.Width * A.Channels; ++x)
      Worst = std::max(Worst, std::abs(int(ScanLine(A, y)[x]) - int(ScanLine(B, y)[x])));
  return Worst;
}

class SharpenColorDialogs : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!testenv::BinFile("libdenoise.so").empty()) LoadDenoiseLibrary(TESSIVO_BIN_DIR);
    // A photograph, and the same with noise for the noise views.
    char Tmpl[] = "/tmp/tessivo-dlgfx-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    const std::string Cat = quanttest::PhotoFolder + "/chelsea.png";
    if (!quanttest::Shell("command -v convert") || !fs::exists(Cat)) return;
    Photo = Dir + "/chelsea.png";
    NoisyPhoto = Dir + "/chelsea-noisy.png";
    if (!quanttest::Shell("convert " + quanttest::Q(Cat) + " -alpha off " + quanttest::Q(Photo)) ||
        !quanttest::Shell("convert " + quanttest::Q(Cat) + " -alpha off -seed 7 -attenuate 0.5 +noise Gaussian " +
                          quanttest::Q(NoisyPhoto)))
      Photo.clear(), NoisyPhoto.clear();
  }
  static void TearDownTestSuite() { fs::remove_all(Dir); }
  void SetUp() override { ErrorLogForm().ClearLog(); }
  // The context over a list of the given files, the first selected.
  TPreviewContext Context(const std::vector<std::string> &Files) {
    for (const std::string &F : Files) {
      auto E = std::make_unique<TImageInfo>();
      E->FPath = F;
      Fixture.List.Add(std::move(E));
    }
    return Fixture.Context();
  }
  template <class T>
  T &Effect(uint32_t ID) {
    TEffectList &L = Fixture.Effects;
    TEffect *E = ID == EFFECT_DECREASE_COLOR ? L.DecreaseColorEffect() : L.FindByID(ID);
    return *dynamic_cast<T *>(E);
  }

  static inline std::string Dir, Photo, NoisyPhoto;
  dialogtest::TDialogFixture Fixture;
};

// ---- Colour reduction ----------------------------------------------------------------

struct TToolCase {
  const char *Name;
  uint32_t Flags;
  int32_t StoredMode, StoredDither;
  int Click;  // tool button to check (0 to 2), -1 none
  std::vector<bool> Enabled;
  std::vector<std::string> Dithers;
  const char *Selected;
  bool FlaxcPanel, PngnqiPanel;
};

class DecreaseColorFormTools : public SharpenColorDialogs, public testing::WithParamInterface<TToolCase> {};

TEST_P(DecreaseColorFormTools, OffersTheDitherTypesAndPanelOfTheCheckedTool) {
  const TToolCase &C = GetParam();
  TDecreaseColorEffect &E = Effect<TDecreaseColorEffect>(EFFECT_DECREASE_COLOR);
  E.FFlags = C.Flags;
  E.FMode = C.StoredMode;
  E.FDitherType = C.StoredDither;
  TDecreaseColorForm Form(E);
  EXPECT_EQ(Form.windowTitle().toStdString(), "減色設定");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Form.ToolButton[i]->isEnabled(), C.Enabled[size_t(i)]) << i;
  if (C.Click >= 0) Form.ToolButton[C.Click]->click();
  EXPECT_EQ(Items(Form.DitherBox), C.Dithers);
  EXPECT_EQ(Form.DitherBox->currentText().toStdString(), C.Selected);
  EXPECT_EQ(Form.FlaxcPanel->isEnabled(), C.FlaxcPanel);
  EXPECT_EQ(Form.PngnqiPanel->isEnabled(), C.PngnqiPanel);
  // Nothing reaches the effect before OK.
  EXPECT_EQ(E.FMode, C.StoredMode);
  EXPECT_EQ(E.FDitherType, C.StoredDither);
}

const std::vector<std::string> FlaxcDithers = {"なし", "gPeanos", "誤差拡散", "平均誤差", "アニメ"};
const std::vector<std::string> IzyinsDithers = {"なし", "誤差拡散", "平均誤差"};
const std::vector<std::string> PngnqiDithers = {"なし", "誤差拡散"};

INSTANTIATE_TEST_SUITE_P(
    Tools, DecreaseColorFormTools,
    testing::Values(
        TToolCase{"FlaxcKeepsItsStoredAnime", 7, 1, 4, -1, {true, true, true}, FlaxcDithers, "アニメ", true, false},
        TToolCase{"IzyinsFallsBackToItsDefaultDiffusion", 7, 1, 4, 1, {true, true, true}, IzyinsDithers, "誤差拡散",
                  true, false},
        TToolCase{"PngnqiFallsBackToNone", 7, 1, 3, 2, {true, true, true}, PngnqiDithers, "なし", false, true},
        TToolCase{"IzyinsKeepsAnOfferedAverage", 7, 2, 3, -1, {true, true, true}, IzyinsDithers, "平均誤差", true,
                  false},
        TToolCase{"OnlyPngnqiPresent", 4, 3, 2, -1, {false, false, true}, PngnqiDithers, "誤差拡散", false, true},
        TToolCase{"BackToFlaxcAfterPngnqiSelectsTheStoredType", 7, 1, 1, 0, {true, true, true}, FlaxcDithers,
                  "gPeanos", true, false}),
    [](const testing::TestParamInfo<TToolCase> &I) { return std::string(I.param.Name); });

// Shows a preview dialog with its window at 100 %, where the window holds
// the whole processed picture at its own size.
void ShowAt100Percent(TPreviewBaseForm &Form) {
  Form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  Form.PreviewWindow()->SetViewMode(1);
}

// ---- Unsharp mask ----------------------------------------------------------------------

// The preview sharpens with the values being edited: no strength leaves the
// picture as it was (within the rounding of the way through YCbCr), a strong
// one changes it visibly.
TEST_F(SharpenColorDialogs, UnsharpMaskPreviewShowsTheStrengthBeingEdited) {
  TESSIVO_REQUIRE(!Photo.empty()) << "no photograph (scikit-image) or ImageMagick";
  TUSMFilter &E = Effect<TUSMFilter>(EFFECT_UNSHARP_MASK);
  TUnSharpMaskOptionForm Form(E, Context({Photo}));
  ASSERT_NE(Form.Master(), nullptr);
  ShowAt100Percent(Form);
  struct Case {
    int Strength;
    int MinDiff, MaxDiff;
  } Cases[] = {{0, 0, 1}, {400, 40, 255}};
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Strength);
    Form.HighlightEdit->setValue(C.Strength);
    Form.ShadowEdit->setValue(C.Strength);
    ASSERT_TRUE(Form.WaitForPreview());
    ASSERT_NE(Form.DestImage(), nullptr);
    ASSERT_EQ(Form.DestImage()->Width, Form.SrcImage()->Width);
    const int D = MaxDifference(*Form.DestImage(), *Form.SrcImage());
    EXPECT_GE(D, C.MinDiff);
    EXPECT_LE(D, C.MaxDiff);
  }
  EXPECT_EQ(E.FHighlight, 100) << "the preview must not store into the effect";
}

// OK hands the new values to the program-wide engine that runs copy.
TEST_F(SharpenColorDialogs, UnsharpMaskOkSetsTheProgramWideEngine) {
  TUSMFilter &E = Effect<TUSMFilter>(EFFECT_UNSHARP_MASK);
  E.ApplyToEngine(*ProgramUnsharpMask, false);
  TUnSharpMaskOptionForm Form(E, Context({}));
  Form.HighlightEdit->setValue(250);
  Form.ShadowEdit->setValue(40);
  Form.RadiusEdit->setValue(2.5);
  Form.accept();
  TUnsharpMask Expected;
  Expected.SetUnSharpMaskParam(250, 40, false, 2.5, 0, 0, 0);
  const TUnsharpMaskCoefficients &Got = ProgramUnsharpMask->Coefficients, &Want = Expected.Coefficients;
  EXPECT_EQ(std::memcmp(&Got, &Want, sizeof Got), 0);
  EXPECT_EQ(ProgramUnsharpMask->FDegamma, false);
}

// The preview and histogram boxes of the two threaded dialogs: unchecking
// "プレビュー" hides the preview window and takes "ヒストグラム" with it, and
// closing the histogram window unchecks "ヒストグラム".
TEST_F(SharpenColorDialogs, PreviewBoxesHideTheWindowsAndFollowTheirClosing) {
  TESSIVO_REQUIRE(!Photo.empty()) << "no photograph (scikit-image) or ImageMagick";
  struct Case {
    const char *Name;
    std::function<std::unique_ptr<TPreviewBaseForm>(QCheckBox *&, QCheckBox *&)> Make;
  } Cases[] = {
      {"unsharp mask",
       [&](QCheckBox *&P, QCheckBox *&H) {
         auto F = std::make_unique<TUnSharpMaskOptionForm>(Effect<TUSMFilter>(EFFECT_UNSHARP_MASK),
                                                           Context({Photo}));
         P = F->PreviewCheck, H = F->HistogramCheck;
         return std::unique_ptr<TPreviewBaseForm>(std::move(F));
       }},
      {"colour-space conversion",
       [&](QCheckBox *&P, QCheckBox *&H) {
         auto F = std::make_unique<TColorSpaceConvertForm>(
             Effect<TColorSpaceConvertEffect>(EFFECT_COLOR_SPACE_CONVERT), Context({Photo}));
         P = F->PreviewCheck, H = F->HistogramCheck;
         return std::unique_ptr<TPreviewBaseForm>(std::move(F));
       }},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    QCheckBox *Preview = nullptr, *Histogram = nullptr;
    std::unique_ptr<TPreviewBaseForm> Form = C.Make(Preview, Histogram);
    Preview->setChecked(true);
    Histogram->setChecked(true);
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    ASSERT_TRUE(Form->WaitForPreview());
    ASSERT_TRUE(Form->PreviewWindow()->isVisible());
    ASSERT_TRUE(Form->HistogramWindow()->isVisible());
    Form->HistogramWindow()->close();
    EXPECT_FALSE(Histogram->isChecked());
    Preview->setChecked(false);
    EXPECT_FALSE(Form->PreviewWindow()->isVisible());
    EXPECT_FALSE(Histogram->isEnabled());
    Preview->setChecked(true);
    EXPECT_TRUE(Form->PreviewWindow()->isVisible());
    EXPECT_TRUE(Histogram->isEnabled());
    Form->reject();
  }
}

// ---- Colour-space conversion ------------------------------------------------------------

TEST_F(SharpenColorDialogs, ColorSpaceProfileFileChoice) {
  const std::string Folder = "/usr/share/color/icc/ghostscript/";
  TESSIVO_REQUIRE(fs::exists(Folder + "sgray.icc") && fs::exists(Folder + "default_cmyk.icc"))
      << "no ghostscript profiles";
  TColorSpaceConvertEffect &E = Effect<TColorSpaceConvertEffect>(EFFECT_COLOR_SPACE_CONVERT);
  ColorManagementOption.ColorProfileDir = "/somewhere/else";
  E.FOutputProfileName = "built-in sRGB Profile";
  TColorSpaceConvertForm Form(E, Context({}));
  EXPECT_EQ(Form.windowTitle().toStdString(), "色空間変換の設定");
  EXPECT_EQ(Form.ProfileBox->currentText().toStdString(), "built-in sRGB Profile");
  const int Before = Form.ProfileBox->count();
  // "..." opens in ColorProfileDir, then in the folder of the file chosen.
  std::vector<std::string> Asked;
  Form.AskProfileFile = [&](const std::string &In) {
    Asked.push_back(In);
    return Folder + "sgray.icc";
  };
  Form.BrowseButton->click();
  Form.BrowseButton->click();
  EXPECT_EQ(Asked, (std::vector<std::string>{"/somewhere/else", "/usr/share/color/icc/ghostscript"}));
  EXPECT_EQ(Form.ProfileBox->count(), Before + 1) << "a file chosen twice is listed once";
  EXPECT_EQ(Form.ProfileBox->currentText().toStdString(), "sgray.icc");
  EXPECT_EQ(Form.SelectedProfile(), Folder + "sgray.icc");
  // A profile of another class is refused with the warning; the choice stays.
  std::vector<std::string> Warnings;
  Form.ShowWarning = [&](const std::string &T) { Warnings.push_back(T); };
  Form.ChooseFile(Folder + "default_cmyk.icc");
  EXPECT_EQ(Warnings, std::vector<std::string>{"RGB,Grayscale以外のプロファイルは選択出来ません"});
  EXPECT_EQ(Form.ProfileBox->count(), Before + 1);
  EXPECT_EQ(Form.SelectedProfile(), Folder + "sgray.icc");
  // The folder is remembered for the next "..." but stored only on OK.
  EXPECT_EQ(ColorManagementOption.ColorProfileDir, "/somewhere/else");
  Form.accept();
  EXPECT_EQ(ColorManagementOption.ColorProfileDir, "/usr/share/color/icc/ghostscript");
  EXPECT_EQ(E.FOutputProfileName, Folder + "sgray.icc");
  ColorManagementOption.ColorProfileDir.clear();
}

// Converting to the gray profile makes the preview gray: the window shows
// what the step makes of the picture with the profile being chosen.
TEST_F(SharpenColorDialogs, ColorSpacePreviewConvertsToTheChosenProfile) {
  TESSIVO_REQUIRE(!Photo.empty()) << "no photograph (scikit-image) or ImageMagick";
  TColorSpaceConvertEffect &E = Effect<TColorSpaceConvertEffect>(EFFECT_COLOR_SPACE_CONVERT);
  E.FOutputProfileName = "built-in sRGB Profile";
  TColorSpaceConvertForm Form(E, Context({Photo}));
  ASSERT_NE(Form.Master(), nullptr);
  ShowAt100Percent(Form);
  auto Saturation = [](const TICCImgInfo &I) {
    if (I.Channels == 1) return 0;
    int Most = 0;
    for (uint32_t y = 0; y < I.Height; ++y)
      for (uint32_t x = 0; x < I.Width; ++x) {
        const uint8_t *P = ScanLine(I, y) + size_t(x) * I.Channels;
        Most = std::max(Most, std::max({P[0], P[1], P[2]}) - std::min({P[0], P[1], P[2]}));
      }
    return Most;
  };
  ASSERT_TRUE(Form.WaitForPreview());
  EXPECT_GT(Saturation(*Form.DestImage()), 60);
  Form.ProfileBox->setCurrentIndex(0);  // "built-in sGray Profile"
  ASSERT_EQ(Form.ProfileBox->currentText().toStdString(), "built-in sGray Profile");
  ASSERT_TRUE(Form.WaitForPreview());
  EXPECT_LE(Saturation(*Form.DestImage()), 2);
  EXPECT_EQ(E.FOutputProfileName, "built-in sRGB Profile");
}

// ---- Noise removal -----------------------------------------------------------------------

TEST_F(SharpenColorDialogs, DenoiseFieldsShowThePresetUnlessAdvancedAndOkKeepsTheAdvancedValues) {
  TDenoiseEffect &E = Effect<TDenoiseEffect>(EFFECT_DENOISE);
  E.FAdvancedSetting = LongTrue;
  E.FSigma = {11, 12, 13, 14, 15, 16};
  E.FSigma2 = {21, 22};
  E.FRadius = {1, 4};
  E.FStr = 3;
  TDenoiseForm Form(E, Context({}));
  EXPECT_EQ(Form.windowTitle().toStdString(), "ノイズ除去");
  EXPECT_TRUE(Form.AdvancedPanel->isEnabled());
  EXPECT_EQ(Form.LevelEdit[0]->value(), 11);
  Form.AdvancedCheck->setChecked(false);
  EXPECT_FALSE(Form.AdvancedPanel->isEnabled());
  Form.StrEdit->setValue(7);
  // Preset 7: levels 40, 12, 6, 6, 6, luma sigma2 50, radius 2, chroma 50, 50, 2.
  const int Shown[] = {Form.LevelEdit[0]->value(), Form.LevelEdit[1]->value(), Form.LevelEdit[2]->value(),
                       Form.LevelEdit[3]->value(), Form.LevelEdit[4]->value(), Form.LumaSigma2Edit->value(),
                       Form.LumaRadiusEdit->value(), Form.ChromaEdit->value(), Form.ChromaSigma2Edit->value(),
                       Form.ChromaRadiusEdit->value()};
  const int Preset7[] = {40, 12, 6, 6, 6, 50, 2, 50, 50, 2};
  EXPECT_TRUE(std::equal(std::begin(Shown), std::end(Shown), std::begin(Preset7)));
  Form.accept();
  EXPECT_EQ(E.FAdvancedSetting, LongFalse);
  EXPECT_EQ(E.FStr, 7);
  EXPECT_EQ(E.FSigma, (std::array<int32_t, 6>{11, 12, 13, 14, 15, 16}));
  EXPECT_EQ(E.FSigma2, (std::array<int32_t, 2>{21, 22}));
  EXPECT_EQ(E.FRadius, (std::array<int32_t, 2>{1, 4}));
}

// Every view of a noisy photograph: the section's size by the zoom, gray
// for the components and the noise, and the view equal to rendering that
// section directly; Lv0 of a noisy picture shows its grain.
TEST_F(SharpenColorDialogs, DenoiseViewsOfANoisyPhoto) {
  TESSIVO_REQUIRE(!NoisyPhoto.empty()) << "no photograph (scikit-image) or ImageMagick";
  TESSIVO_REQUIRE(DenoiseAvailable()) << "no usable bin/libdenoise.so";
  TDenoiseEffect &E = Effect<TDenoiseEffect>(EFFECT_DENOISE);
  TDenoiseForm Form(E, Context({NoisyPhoto}));
  ASSERT_NE(Form.Master(), nullptr);
  const TICCImgInfo &M = *Form.Master();
  ASSERT_EQ(M.Width, 451u);
  ASSERT_EQ(M.Height, 300u);
  TMultiThread Pool(2);
  for (int32_t View = 0; View < DENOISE_VIEW_COUNT; ++View) {
    SCOPED_TRACE(DenoiseViewNames[View]);
    Form.ViewBox->setCurrentIndex(View);
    ASSERT_TRUE(Form.WaitForView());
    const QImage &Shown = Form.ShownView();
    const int Side = DenoiseViewSide / DenoiseViewZoom(View);
    ASSERT_EQ(Shown.width(), std::min(451, Side));
    ASSERT_EQ(Shown.height(), std::min(300, Side));
    EXPECT_EQ(Shown.format() == QImage::Format_Grayscale8, View >= DENOISE_VIEW_Y);
    if (View < DENOISE_VIEW_Y) continue;
    TICCImgOwner Section(false);
    const TDenoiseSection S = DenoiseViewSection(M.Width, M.Height, View, Form.Centre().x(),
                                                 int(M.Height) - 1 - Form.Centre().y());
    CopySection(M, S, *Section);
    RenderDenoiseView(*Section, E.Values(), View, &Pool, DenoiseIsaFor(SystemOption.UseAVX != LongFalse));
    int Worst = 0;
    for (int y = 0; y < Shown.height(); ++y)
      for (int x = 0; x < Shown.width(); ++x)
        Worst = std::max(Worst, std::abs(int(Shown.constScanLine(y)[x]) -
                                         int(ScanLine(*Section, Section->Height - 1 - uint32_t(y))[x])));
    EXPECT_EQ(Worst, 0);
    if (View == DENOISE_VIEW_NOISE0) {
      double Sum = 0, Sum2 = 0;
      const double N = double(Shown.width()) * Shown.height();
      for (int y = 0; y < Shown.height(); ++y)
        for (int x = 0; x < Shown.width(); ++x) {
          const double v = Shown.constScanLine(y)[x];
          Sum += v, Sum2 += v * v;
        }
      const double Mean = Sum / N, Deviation = std::sqrt(Sum2 / N - Mean * Mean);
      EXPECT_NEAR(Mean, 128, 3);
      EXPECT_GT(Deviation, 8) << "the grain the finest level removes should show";
    }
  }
}

// Two quick changes: the first is being rendered when the second comes, and
// only the second one's view is shown.
TEST_F(SharpenColorDialogs, DenoiseShowsOnlyTheNewestOfTwoQuickChanges) {
  TESSIVO_REQUIRE(!NoisyPhoto.empty()) << "no photograph (scikit-image) or ImageMagick";
  TESSIVO_REQUIRE(DenoiseAvailable()) << "no usable bin/libdenoise.so";
  TDenoiseEffect &E = Effect<TDenoiseEffect>(EFFECT_DENOISE);
  E.FAdvancedSetting = LongFalse;
  TDenoiseForm Form(E, Context({NoisyPhoto}));
  Form.ViewBox->setCurrentIndex(DENOISE_VIEW_Y);
  ASSERT_TRUE(Form.WaitForView());
  // The second setting's view, made alone.
  Form.StrEdit->setValue(16);
  ASSERT_TRUE(Form.WaitForView());
  const QImage Second = Form.ShownView();
  Form.StrEdit->setValue(2);
  ASSERT_TRUE(Form.WaitForView());
  ASSERT_NE(Form.ShownView(), Second);
  // The thread holds the first request until the second has been made.
  std::promise<void> Taken, Go;
  std::shared_future<void> GoSignal = Go.get_future().share();
  bool First = true;
  Form.SetBeforeRender([&] {
    if (!First) return;
    First = false;
    Taken.set_value();
    GoSignal.wait();
  });
  const int32_t Before = Form.ShownCount();
  Form.StrEdit->setValue(1);
  Taken.get_future().wait();
  Form.StrEdit->setValue(16);
  Go.set_value();
  // The first result was posted before the second, so it has arrived (and
  // been dropped) by the time the second is shown.
  ASSERT_TRUE(Form.WaitForView());
  EXPECT_EQ(Form.ShownCount(), Before + 1) << "the first change's view was shown";
  EXPECT_EQ(Form.ShownView(), Second);
  Form.SetBeforeRender({});
}

// Dragging moves the section with the mouse: the picture follows the
// pointer by the drag divided by the zoom.
TEST_F(SharpenColorDialogs, DenoiseDragMovesTheSectionByTheDragOverTheZoom) {
  TESSIVO_REQUIRE(!Photo.empty()) << "no photograph (scikit-image) or ImageMagick";
  TDenoiseEffect &E = Effect<TDenoiseEffect>(EFFECT_DENOISE);
  TDenoiseForm Form(E, Context({Photo}));
  ASSERT_NE(Form.Master(), nullptr);
  Form.ViewBox->setCurrentIndex(DENOISE_VIEW_100 + 1);
  const QPoint Start = Form.Centre();
  ASSERT_EQ(Start, QPoint(225, 150));
  ASSERT_TRUE(Form.ViewArea->OnDrag);
  Form.ViewArea->OnDrag(QPoint(40, -20), true);
  EXPECT_EQ(Form.Centre(), QPoint(205, 160));
  Form.ViewArea->OnDrag(QPoint(-4000, 4000), true);
  EXPECT_EQ(Form.Centre(), QPoint(450, 0));
}

}  // namespace
