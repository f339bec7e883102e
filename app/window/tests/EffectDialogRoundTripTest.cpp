// Every effect dialog, opened the way the main window opens it (through the
// dialog registry, modally, over a list with one photo): OK stores exactly
// the values edited in its controls into the effect, Cancel leaves every
// setting the effect writes as it was, and a dialog with expressions stays
// open with the evaluation message when one does not evaluate.
//
// A dialog joins by adding a row to Rows (and, with expressions, to
// BadExpressionRows). Each dialog has the buttons "OK" and "キャンセル".
#include "app/window/LevelsForm.h"
#include "app/window/dialogs/AddBlankForm.h"
#include "app/window/dialogs/AddTextForm.h"
#include "app/window/dialogs/ColorCorrectionForm.h"
#include "app/window/dialogs/ColorSpaceConvertForm.h"
#include "app/window/dialogs/CompositeForm.h"
#include "app/window/dialogs/DeDistortionForm.h"
#include "app/window/dialogs/DecreaseColorForm.h"
#include "app/window/dialogs/CurveGrid.h"
#include "app/window/dialogs/DenoiseForm.h"
#include "app/window/dialogs/DialogWidgets.h"
#include "app/window/dialogs/GrayscaleForm.h"
#include "app/window/dialogs/RotationForm.h"
#include "app/window/dialogs/ToneCurveOptionForm.h"
#include "app/window/dialogs/TrimmingOptionForm.h"
#include "app/window/dialogs/UnSharpMaskOptionForm.h"
#include "app/window/tests/DialogTestEnv.h"
#include "core/IniFile.h"
#include "effects/ColorSpaceConvertEffect.h"
#include "effects/DecreaseColorEffect.h"
#include "effects/DenoiseEffect.h"
#include "effects/UnsharpMaskFilter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QButtonGroup>
#include <QGroupBox>
#include <QListWidget>
#include <QScrollBar>
#include <QTest>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

[[maybe_unused]] ::testing::Environment *const Environment =
    ::testing::AddGlobalTestEnvironment(new dialogtest::TEnvironment);

struct TDialogRow {
  const char *Name;  // the test's name: letters, digits and "_"
  uint32_t EffectID;
  // Sets the dialog's controls to values other than the effect's defaults.
  std::function<void(QDialog &D)> Edit;
  // The effect holds exactly the edited values (and its other settings
  // unchanged).
  std::function<void(const TEffect &E)> CheckEdited;
};

template <class T>
T &Find(QDialog &D, const char *What) {
  T *W = dynamic_cast<T *>(&D);
  if (!W) ADD_FAILURE() << "the open dialog is not " << What;
  return *W;
}

// The overlay the composite row chooses: beside the listed photo, so it
// goes with the fixture's folder.
std::string CompositeRowFile(const TPreviewBaseForm &F) {
  return std::filesystem::path(F.Context().List->Items(0)->FPath).replace_filename("overlay.png").string();
}

QPushButton *Button(QWidget &D, const QString &Text) {
  for (QPushButton *B : D.findChildren<QPushButton *>())
    if (B->text() == Text) return B;
  return nullptr;
}

const TDialogRow Rows[] = {
    {"Levels", EFFECT_LEVELS,
     [](QDialog &D) {
       TLevelsForm &F = Find<TLevelsForm>(D, "the levels dialog");
       F.ChannelBox->setCurrentIndex(1);  // "Red"
       F.InputBlack->setValue(12);
       F.InputWhite->setValue(240);
       F.GammaEdit->setValue(1.5);
       F.OutputBlack->setValue(5);
       F.OutputWhite->setValue(250);
       F.ChannelBox->setCurrentIndex(0);  // "輝度"
       F.InputBlack->setValue(3);
       F.AutoBox->setCurrentIndex(2);  // "RGB(個別)"
       F.ShadowEdit->setValue(0.25);
       F.HighlightEdit->setValue(0.5);
       F.LinearCheck->setChecked(true);
       F.PreviewCheck->setChecked(false);
       F.HistogramCheck->setChecked(false);
       F.ScaleBox->setCurrentIndex(1);  // "対数"
     },
     [](const TEffect &E) {
       const auto &L = dynamic_cast<const TLevelsAdjust &>(E);
       EXPECT_EQ(L.FInputMin, (std::array<int32_t, 4>{3, 12, 0, 0}));
       EXPECT_EQ(L.FInputMax, (std::array<int32_t, 4>{255, 240, 255, 255}));
       EXPECT_EQ(L.FGamma, (std::array<double, 4>{1.0, 1.5, 1.0, 1.0}));
       EXPECT_EQ(L.FShadowOut, (std::array<int32_t, 4>{0, 5, 0, 0}));
       EXPECT_EQ(L.FHighlightOut, (std::array<int32_t, 4>{255, 250, 255, 255}));
       EXPECT_EQ(L.FAutoMode, 2u);
       EXPECT_EQ(L.FClipShadow, 25u);
       EXPECT_EQ(L.FClipHighlight, 50u);
       EXPECT_TRUE(L.FDegamma);
       EXPECT_FALSE(L.FLab);
       EXPECT_FALSE(L.FPreview);
       EXPECT_FALSE(L.FHistogram);
       EXPECT_EQ(L.FHistogramType, 1u);
     }},
    {"AddText", EFFECT_ADD_TEXT,
     [](QDialog &D) {
       TAddTextForm &F = Find<TAddTextForm>(D, "the text dialog");
       F.TextEdit->setPlainText(QStringLiteral("撮影 <ymd>\n<n3>"));
       F.PositionBox->setCurrentIndex(6);  // "右上"
       F.XEdit->setValue(12);
       F.YEdit->setValue(-7);
       // What the font dialog would leave.
       F.Font.Name = "DejaVu Serif";
       F.Font.Size = 32;
       F.Font.Style = FONT_STYLE_BOLD | FONT_STYLE_ITALIC;
       F.FontColorButton->SetColor(0x0000FF);
       F.FontOpacityEdit->setValue(80);
       F.BackColorButton->SetColor(0x00FF00);
       F.BackOpacityEdit->setValue(40);
       F.MarginXEdit->setValue(5);
       F.MarginYEdit->setValue(6);
       F.LinePitchEdit->setValue(2.5);
       F.ShadowBox->setChecked(false);
       F.ShadowColorButton->SetColor(0x112233);
       F.ShadowOpacityEdit->setValue(60);
       F.ShadowRadiusEdit->setValue(3.5);
       F.ShadowOffsetXEdit->setValue(4);
       F.ShadowOffsetYEdit->setValue(-5);
       F.ShadowStrEdit->setValue(6);
       F.GlowColorButton->SetColor(0x445566);
       F.GlowOpacityEdit->setValue(50);
       F.GlowRadiusEdit->setValue(8.5);
       F.GlowStrEdit->setValue(9);
       F.PreviewBox->setChecked(false);
     },
     [](const TEffect &E) {
       const auto &T = dynamic_cast<const TAddTextEffect &>(E);
       EXPECT_EQ(T.FText, "撮影 <ymd>\r\n<n3>");
       EXPECT_EQ(T.FFont.Name, "DejaVu Serif");
       EXPECT_EQ(T.FFont.Charset, FONT_CHARSET_SHIFTJIS);
       EXPECT_EQ(T.FFont.Size, 32);
       EXPECT_EQ(T.FFont.Style, FONT_STYLE_BOLD | FONT_STYLE_ITALIC);
       EXPECT_EQ(T.FFont.Color, 0x0000FFu);
       const TAddTextParam &P = T.FParam;
       EXPECT_EQ(P.Position, 6);
       EXPECT_EQ(P.XOffset, 12);
       EXPECT_EQ(P.YOffset, -7);
       EXPECT_EQ(P.FontOpacity, 80);
       EXPECT_EQ(P.BackColor, 0x00FF00);
       EXPECT_EQ(P.BackOpacity, 40);
       EXPECT_EQ(P.MarginX, 5);
       EXPECT_EQ(P.MarginY, 6);
       EXPECT_EQ(P.LinePitch, 2.5);
       EXPECT_EQ(P.Shadow, LongFalse);
       EXPECT_EQ(P.ShadowColor, 0x112233);
       EXPECT_EQ(P.ShadowOpacity, 60);
       EXPECT_EQ(P.ShadowRadius, 3.5);
       EXPECT_EQ(P.ShadowOffsetX, 4);
       EXPECT_EQ(P.ShadowOffsetY, -5);
       EXPECT_EQ(P.ShadowStr, 6);
       EXPECT_NE(P.Glow, LongFalse);
       EXPECT_EQ(P.GlowColor, 0x445566);
       EXPECT_EQ(P.GlowOpacity, 50);
       EXPECT_EQ(P.GlowRadius, 8.5);
       EXPECT_EQ(P.GlowStr, 9);
       EXPECT_EQ(P.Padding1, 0);
       EXPECT_EQ(P.Padding2, 0);
     }},
    {"Composite", EFFECT_COMPOSITE,
     [](QDialog &D) {
       TCompositeForm &F = Find<TCompositeForm>(D, "the composite dialog");
       dialogtest::WritePicture(CompositeRowFile(F), 40, 30, [](int x, int y) { return qRgb(x, y, 7); });
       F.BackgroundButton->setChecked(true);
       F.FileEdit->setText(QString::fromStdString(CompositeRowFile(F)));
       F.PositionBox->setCurrentIndex(0);  // "左上"
       F.XEdit->setValue(15);
       F.YEdit->setValue(-9);
       F.OpacityEdit->setValue(70);
       F.PreviewBox->setChecked(false);
     },
     [](const TEffect &E) {
       const auto &C = dynamic_cast<const TCompositeEffect &>(E);
       EXPECT_EQ(C.FMode, COMPOSITE_BACKGROUND);
       EXPECT_EQ(std::filesystem::path(C.FImageFileName).filename(), "overlay.png");
       EXPECT_EQ(C.FBasePos, 0);
       EXPECT_EQ(C.FOffsetX, 15);
       EXPECT_EQ(C.FOffsetY, -9);
       EXPECT_EQ(C.FOpacity, 70);
       // OK makes the effect read its image.
       EXPECT_EQ(C.FExternalImg->Width, 40u);
       EXPECT_EQ(C.FExternalImg->Height, 30u);
     }},
    {"DeDistortion", EFFECT_DEDISTORTION,
     [](QDialog &D) {
       TDeDistortionForm &F = Find<TDeDistortionForm>(D, "the lens correction dialog");
       F.DeDistortionButton->setChecked(true);
       F.SrcProjectionBox->setCurrentIndex(2);  // "等立体角射影"
       F.SrcHFOVEdit->setValue(150.5);
       F.RollEdit->setValue(10.25);
       F.PitchEdit->setValue(-20.5);
       F.YawEdit->setValue(30.75);
       F.DestProjectionBox->setCurrentIndex(1);  // "心射円筒"
       F.DestHFOVEdit->setValue(120.5);
       F.WidthEdit->setText(QStringLiteral("w / 2"));
       F.HeightEdit->setText(QStringLiteral("h*0.5"));
     },
     [](const TEffect &E) {
       const auto &L = dynamic_cast<const TDeDistortionFilter &>(E);
       EXPECT_EQ(L.FMode, 0);
       EXPECT_EQ(L.FTool, DEDISTORTION_TOOL_DEDISTORTION);
       EXPECT_EQ(L.FSrcProjection, 2);
       EXPECT_EQ(L.FSrcHFOV, 150.5);
       EXPECT_EQ(L.FRoll, 10.25);
       EXPECT_EQ(L.FPitch, -20.5);
       EXPECT_EQ(L.FYaw, 30.75);
       EXPECT_EQ(L.FDestProjection, 1);
       EXPECT_EQ(L.FDestHFOV, 120.5);
       EXPECT_EQ(L.FWidth, "w/2");  // spaces are removed on OK
       EXPECT_EQ(L.FHeight, "h*0.5");
     }},
    {"UnsharpMask", EFFECT_UNSHARP_MASK,
     [](QDialog &D) {
       TUnSharpMaskOptionForm &F = Find<TUnSharpMaskOptionForm>(D, "the unsharp-mask dialog");
       F.HighlightEdit->setValue(250);
       F.ShadowEdit->setValue(40);
       F.RadiusEdit->setValue(2.35);
       F.ThresholdEdit->setValue(12);
       F.MaxEdit->setValue(30);
       F.MinEdit->setValue(20);
       F.DegammaCheck->setChecked(true);
       F.LabCheck->setChecked(true);
       F.LumaOnlyCheck->setChecked(false);
       F.HistogramCheck->setChecked(false);
       F.PreviewCheck->setChecked(false);
     },
     [](const TEffect &E) {
       const auto &U = dynamic_cast<const TUSMFilter &>(E);
       EXPECT_EQ(U.FHighlight, 250);
       EXPECT_EQ(U.FShadow, 40);
       EXPECT_EQ(U.FRadius, 2.35);
       EXPECT_EQ(U.FThreshold, 12);
       EXPECT_EQ(U.FMax, 30);
       EXPECT_EQ(U.FMin, 20);
       EXPECT_TRUE(U.FDegamma);
       EXPECT_FALSE(U.FLumaOnly);
       EXPECT_TRUE(U.FLab);
       EXPECT_FALSE(U.FPreview);
       EXPECT_FALSE(U.FHistogram);
     }},
    {"DenoiseAdvanced", EFFECT_DENOISE,
     [](QDialog &D) {
       TDenoiseForm &F = Find<TDenoiseForm>(D, "the noise-removal dialog");
       F.AdvancedCheck->setChecked(true);
       for (int i = 0; i < 5; ++i) F.LevelEdit[size_t(i)]->setValue(61 + i);
       F.LumaSigma2Edit->setValue(77);
       F.LumaRadiusEdit->setValue(1);
       F.ChromaEdit->setValue(9);
       F.ChromaSigma2Edit->setValue(33);
       F.ChromaRadiusEdit->setValue(4);
       F.PreviewCheck->setChecked(false);
     },
     [](const TEffect &E) {
       const auto &N = dynamic_cast<const TDenoiseEffect &>(E);
       EXPECT_EQ(N.FSigma, (std::array<int32_t, 6>{61, 62, 63, 64, 65, 9}));
       EXPECT_EQ(N.FSigma2, (std::array<int32_t, 2>{77, 33}));
       EXPECT_EQ(N.FRadius, (std::array<int32_t, 2>{1, 4}));
       EXPECT_EQ(N.FAdvancedSetting, LongTrue);
       EXPECT_EQ(N.FStr, 7);
       EXPECT_EQ(N.FPreview, LongFalse);
     }},
    {"DenoisePreset", EFFECT_DENOISE,
     [](QDialog &D) {
       TDenoiseForm &F = Find<TDenoiseForm>(D, "the noise-removal dialog");
       F.AdvancedCheck->setChecked(false);
       F.StrEdit->setValue(13);
     },
     [](const TEffect &E) {
       // The preset shown in the fields is not stored over the advanced values.
       const auto &N = dynamic_cast<const TDenoiseEffect &>(E);
       EXPECT_EQ(N.FAdvancedSetting, LongFalse);
       EXPECT_EQ(N.FStr, 13);
       EXPECT_EQ(N.FSigma, (std::array<int32_t, 6>{35, 25, 15, 15, 15, 40}));
       EXPECT_EQ(N.FSigma2, (std::array<int32_t, 2>{50, 50}));
       EXPECT_EQ(N.FRadius, (std::array<int32_t, 2>{3, 3}));
       EXPECT_EQ(N.FPreview, LongTrue);
     }},
    {"ColorSpaceConvert", EFFECT_COLOR_SPACE_CONVERT,
     [](QDialog &D) {
       TColorSpaceConvertForm &F = Find<TColorSpaceConvertForm>(D, "the colour-space dialog");
       F.ProfileBox->setCurrentIndex(F.ProfileBox->findText(QStringLiteral("built-in sRGB Profile")));
       F.IntentBox->setCurrentIndex(2);  // "彩度"
       F.RemoveAlphaCheck->setChecked(true);
       F.HistogramCheck->setChecked(false);
       F.PreviewCheck->setChecked(false);
     },
     [](const TEffect &E) {
       const auto &C = dynamic_cast<const TColorSpaceConvertEffect &>(E);
       EXPECT_EQ(C.FOutputProfileName, "built-in sRGB Profile");
       EXPECT_EQ(C.FRenderingIntent, 2);
       EXPECT_EQ(C.FRemoveAlpha, LongTrue);
       EXPECT_FALSE(C.FPreview);
       EXPECT_FALSE(C.FHistogram);
     }},
    {"DecreaseColor", EFFECT_DECREASE_COLOR,
     [](QDialog &D) {
       TDecreaseColorForm &F = Find<TDecreaseColorForm>(D, "the colour-reduction dialog");
       F.ToolButton[2]->setChecked(true);  // "pngnqi.exe"
       F.DitherBox->setCurrentIndex(F.DitherBox->findText(QStringLiteral("なし")));
       F.PaletteEntriesEdit->setValue(64);
       F.TransparentBox->setCurrentIndex(3);  // "右上"
       F.DitherStrEdit->setValue(5);
       F.OptionEdit->setText(QStringLiteral("-Y5 -C7"));
       F.QualityEdit->setValue(4);
     },
     [](const TEffect &E) {
       const auto &R = dynamic_cast<const TDecreaseColorEffect &>(E);
       EXPECT_EQ(R.FMode, DECREASE_COLOR_PNGNQI);
       EXPECT_EQ(R.FDitherType, 0);
       EXPECT_EQ(R.FPaletteEntries, 64);
       EXPECT_EQ(R.FTransparentType, 3);
       EXPECT_EQ(R.FDitherStr, 5);
       EXPECT_EQ(R.FOption, "-Y5 -C7");
       EXPECT_EQ(R.FQuality, 4);
     }},
    {"Rotation", EFFECT_ROTATION,
     [](QDialog &D) {
       TRotationForm &F = Find<TRotationForm>(D, "the rotation dialog");
       F.TypeGroup->button(1)->click();  // "横長画像のみ"
       F.OperationList->setCurrentRow(3);  // "左右反転"
     },
     [](const TEffect &E) {
       const auto &R = dynamic_cast<const TRotationFilter &>(E);
       EXPECT_EQ(R.FType, 1);
       EXPECT_EQ(R.FValue, 3);
     }},
    {"Trimming", EFFECT_TRIMMING,
     [](QDialog &D) {
       TTrimmingOptionForm &F = Find<TTrimmingOptionForm>(D, "the trimming dialog");
       F.TypeBox->setCurrentIndex(2);  // insets in percent
       F.ExpBox->setCurrentIndex(1);   // "W > H  or  W <= H"
       F.LandscapeEdit->setText(QStringLiteral("5, 6 ,7,8"));
       F.PortraitEdit->setText(QStringLiteral("w/10,1,2,3"));
       F.PreviewCheck->setChecked(false);
       F.AskRatio = [](const QString &) { return std::optional<QString>(QStringLiteral("4:3")); };
       Button(D, QStringLiteral("追加"))->click();
     },
     [](const TEffect &E) {
       const auto &T = dynamic_cast<const TTrimmingFilter &>(E);
       EXPECT_EQ(T.FType, 2);
       EXPECT_EQ(T.FExp, 1);
       EXPECT_EQ(T.FValue, (TValueStrings{"5", "6", "7", "8", "w/10", "1", "2", "3"}));
       EXPECT_EQ(T.FPreview, LongFalse);
       EXPECT_EQ(T.FSizeList, "フリーサイズ,4:3");
     }},
    {"AddBlank", EFFECT_ADD_BLANK,
     [](QDialog &D) {
       TAddBlankForm &F = Find<TAddBlankForm>(D, "the margins dialog");
       F.TypeBox->setCurrentIndex(0);  // aspect ratio
       F.LandscapeEdit->setText(QStringLiteral("16:9"));
       F.PortraitEdit->setText(QStringLiteral("3:4,0,100"));
       F.ColorBox->setCurrentIndex(4);  // "固定色"
       F.ColorButton->SetColor(0x123456);
       F.Opacity->setValue(128);
       F.UseFrame[1]->setChecked(true);
       F.FrameColor[1]->SetColor(0x00FF00);
       F.FrameWidth[1]->setValue(9);
       F.ShadowGroup->setChecked(true);
       F.ShadowColor->SetColor(0x0000FF);
       F.ShadowOpacity->setValue(40);
       F.ShadowRadius->setValue(2.5);
       F.ShadowStr->setValue(7);
       F.ShadowOffsetX->setValue(-3);
       F.ShadowOffsetY->setValue(5);
       F.PreviewCheck->setChecked(false);
     },
     [](const TEffect &E) {
       const auto &B = dynamic_cast<const TAddBlankFilter &>(E);
       const TAddBlankParam &P = B.FAddBlankParam;
       EXPECT_EQ(P.BlankType, 0);
       EXPECT_EQ(P.ExpType, 0);
       EXPECT_EQ(P.ColorType, 4);
       EXPECT_EQ(P.Value, (TValueStrings{"16", "9", "-1", "-1", "3", "4", "0", "100"}));
       EXPECT_EQ(uint32_t(P.Color), 0x80123456u);
       EXPECT_EQ(P.UseFrame1, LongFalse);
       EXPECT_NE(P.UseFrame2, LongFalse);
       EXPECT_EQ(P.UseFrame3, LongFalse);
       EXPECT_EQ(P.Frame2Color, 0x00FF00);
       EXPECT_EQ(P.Frame2Width, 9);
       EXPECT_EQ(P.Frame1Width, 1);
       EXPECT_NE(P.UseDropShadow, LongFalse);
       EXPECT_EQ(P.ShadowColor, 0x0000FF);
       EXPECT_EQ(P.ShadowOpacity, 40);
       EXPECT_EQ(P.ShadowRadius, 2.5);
       EXPECT_EQ(P.ShadowStr, 7);
       EXPECT_EQ(P.ShadowOffsetX, -3);
       EXPECT_EQ(P.ShadowOffsetY, 5);
       EXPECT_EQ(B.FPreview, LongFalse);
     }},
    {"ColorCorrection", EFFECT_COLOR_ADJUST,
     [](QDialog &D) {
       TColorCorrectionForm &F = Find<TColorCorrectionForm>(D, "the colour-correction dialog");
       F.LumaMin->Bar->setValue(-20);
       F.LumaMax->Bar->setValue(15);
       F.Chroma->Bar->setValue(128);
       F.Hue->Bar->setValue(-30);
       F.Contrast->Bar->setValue(64);
       F.RGBGamma->Bar->setValue(25);   // 1.25
       F.YGamma->Bar->setValue(-50);    // 0.8
       F.PreviewCheck->setChecked(false);
       F.HistogramCheck->setChecked(false);
     },
     [](const TEffect &E) {
       const auto &C = dynamic_cast<const TColorAdjust &>(E);
       EXPECT_EQ(C.FLumaMin, -20);
       EXPECT_EQ(C.FLumaMax, 15);
       EXPECT_EQ(C.FChroma, 128);
       EXPECT_EQ(C.FHue, -30);
       EXPECT_EQ(C.FContrast, 64);
       EXPECT_DOUBLE_EQ(C.FRGBGamma, 1.25);
       EXPECT_DOUBLE_EQ(C.FYGamma, 0.8);
       EXPECT_FALSE(C.FPreview);
       EXPECT_FALSE(C.FHistogram);
     }},
    {"ToneCurve", EFFECT_TONE_CURVE,
     [](QDialog &D) {
       TToneCurveOptionForm &F = Find<TToneCurveOptionForm>(D, "the tone-curve dialog");
       F.ChannelBox->setCurrentIndex(CURVE_GREEN);
       QTest::mouseClick(F.Grid, Qt::LeftButton, {}, TCurveGrid::WidgetPointOf(100, 150));
       F.HistogramCheck->setChecked(false);
       F.ScaleBox->setCurrentIndex(1);  // "対数"
       F.PreviewCheck->setChecked(false);
     },
     [](const TEffect &E) {
       const auto &T = dynamic_cast<const TToneCurveEffect &>(E);
       TCurveSet Expected = DefaultCurves();
       Expected[CURVE_GREEN] = {{0, 0}, {100, 150}, {255, 255}};
       EXPECT_EQ(T.FControlPoints, Expected);
       EXPECT_FALSE(T.FHistogram);
       EXPECT_EQ(T.FHistogramType, 1);
       EXPECT_FALSE(T.FPreview);
       EXPECT_FALSE(T.FLab);
     }},
    {"Grayscale", EFFECT_GRAYSCALE,
     [](QDialog &D) {
       TGrayscaleForm &F = Find<TGrayscaleForm>(D, "the grayscale dialog");
       F.TypeBox->setCurrentIndex(2);  // "カスタム"
       F.Red->Bar->setValue(5000);
       F.Green->Bar->setValue(3000);
       F.Blue->Bar->setValue(2000);
       F.DegammaCheck->setChecked(false);
       F.DecreaseCheck->setChecked(true);
       F.ColorCount->setValue(8);
       F.CustomPaletteCheck->setChecked(true);
       // The colour dialog hands back sixteen colours; their reds become the levels.
       F.AskPalette = [](const std::array<QColor, 16> &) {
         std::array<QColor, 16> Picked;
         for (int i = 0; i < 16; ++i) Picked[size_t(i)] = QColor(250 - i * 10, 7, 9);
         return std::optional<std::array<QColor, 16>>(Picked);
       };
       Button(D, QStringLiteral("パレットの編集"))->click();
       F.PreviewCheck->setChecked(false);
       F.HistogramCheck->setChecked(false);
     },
     [](const TEffect &E) {
       const auto &G = dynamic_cast<const TGrayscaleFilter &>(E);
       EXPECT_EQ(G.FType, 2);
       EXPECT_EQ(G.FRed, 5000);
       EXPECT_EQ(G.FGreen, 3000);
       EXPECT_EQ(G.FBlue, 2000);
       EXPECT_FALSE(G.FDegamma);
       EXPECT_TRUE(G.FDecreaseColor);
       EXPECT_EQ(G.FColor, 8);
       EXPECT_TRUE(G.FUseCustomPalette);
       for (int i = 0; i < 16; ++i) EXPECT_EQ(G.FCustomPalette[size_t(i)], (100 + i * 10) * 0x010101) << i;
       EXPECT_FALSE(G.FPreview);
       EXPECT_FALSE(G.FHistogram);
     }},
};

// A row whose Edit puts an expression that does not evaluate into a field.
struct TBadExpressionRow {
  const char *Name;
  uint32_t EffectID;
  std::function<void(QDialog &D)> Edit;
};
const std::vector<TBadExpressionRow> BadExpressionRows = {
    {"DeDistortionWidth", EFFECT_DEDISTORTION,
     [](QDialog &D) { Find<TDeDistortionForm>(D, "the lens correction dialog").WidthEdit->setText("w*("); }},
    {"DeDistortionHeight", EFFECT_DEDISTORTION,
     [](QDialog &D) { Find<TDeDistortionForm>(D, "the lens correction dialog").HeightEdit->setText("h+q"); }},
    {"TrimmingLandscape", EFFECT_TRIMMING,
     [](QDialog &D) { Find<TTrimmingOptionForm>(D, "the trimming dialog").LandscapeEdit->setText("0,0,w*(,H"); }},
    {"TrimmingPortrait", EFFECT_TRIMMING,
     [](QDialog &D) { Find<TTrimmingOptionForm>(D, "the trimming dialog").PortraitEdit->setText("0,0,W,h+q"); }},
    {"TrimmingThreeValues", EFFECT_TRIMMING,
     [](QDialog &D) { Find<TTrimmingOptionForm>(D, "the trimming dialog").LandscapeEdit->setText("1,2,3"); }},
    {"AddBlankRatio", EFFECT_ADD_BLANK,
     [](QDialog &D) {
       TAddBlankForm &F = Find<TAddBlankForm>(D, "the margins dialog");
       F.TypeBox->setCurrentIndex(0);
       F.LandscapeEdit->setText("16:");
     }},
    {"AddBlankPortrait", EFFECT_ADD_BLANK,
     [](QDialog &D) { Find<TAddBlankForm>(D, "the margins dialog").PortraitEdit->setText("10,20,w/0,40"); }},
};

// Runs While on the dialog once it is open and modal; answers when the
// dialog has closed. While must close it.
void WithDialog(const std::function<void(QWidget *Modal)> &While, const std::function<void()> &OpenModal) {
  bool Done = false;
  std::function<void()> Poll;
  Poll = [&] {
    QWidget *M = QApplication::activeModalWidget();
    if (!M) {
      QTimer::singleShot(5, Poll);
      return;
    }
    Done = true;
    While(M);
  };
  QTimer::singleShot(0, Poll);
  OpenModal();
  EXPECT_TRUE(Done) << "the dialog never became the modal window";
}

class EffectDialogRoundTrip : public ::testing::TestWithParam<TDialogRow> {
protected:
  void SetUp() override {
    Fixture.Add("photo", 160, 120, [](int x, int y) { return qRgb(x, y * 2, (x + y) % 256); });
    // The colour reduction is kept beside the ordered chain.
    Effect = GetParam().EffectID == EFFECT_DECREASE_COLOR ? Fixture.Effects.DecreaseColorEffect()
                                                          : Fixture.Effects.FindByID(GetParam().EffectID);
    ASSERT_NE(Effect, nullptr);
    Open = FindEffectDialog(GetParam().EffectID);
    ASSERT_NE(Open, nullptr) << "no dialog is registered for effect " << GetParam().EffectID;
  }
  std::string Settings() const {
    TMemIniFile Ini;
    Effect->WriteIniFile(Ini);
    return Ini.SaveToBytes();
  }
  void Run(const QString &Press) {
    WithDialog(
        [&](QWidget *M) {
          auto *D = qobject_cast<QDialog *>(M);
          ASSERT_NE(D, nullptr);
          GetParam().Edit(*D);
          QPushButton *B = Button(*D, Press);
          ASSERT_NE(B, nullptr) << "no button " << Press.toStdString();
          B->click();
          if (D->isVisible()) {
            ADD_FAILURE() << "the dialog stayed open after " << Press.toStdString();
            D->reject();
          }
        },
        [&] { (*Open)(*Effect, Fixture.Context(), nullptr); });
  }
  dialogtest::TDialogFixture Fixture;
  TEffect *Effect = nullptr;
  const TEffectDialogOpener *Open = nullptr;
};

TEST_P(EffectDialogRoundTrip, OKStoresExactlyTheEditedValues) {
  Run(QStringLiteral("OK"));
  GetParam().CheckEdited(*Effect);
}

TEST_P(EffectDialogRoundTrip, CancelChangesNoSetting) {
  const std::string Before = Settings();
  Run(QStringLiteral("キャンセル"));
  EXPECT_EQ(Settings(), Before);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, EffectDialogRoundTrip, ::testing::ValuesIn(Rows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

class EffectDialogBadExpression : public ::testing::TestWithParam<TBadExpressionRow> {};

TEST_P(EffectDialogBadExpression, KeepsTheDialogOpenWithTheEvaluationMessage) {
  dialogtest::TDialogFixture Fixture;
  Fixture.Add("photo", 160, 120, [](int x, int y) { return qRgb(x, y, 128); });
  TEffect *Effect = Fixture.Effects.FindByID(GetParam().EffectID);
  ASSERT_NE(Effect, nullptr);
  const TEffectDialogOpener *Open = FindEffectDialog(GetParam().EffectID);
  ASSERT_NE(Open, nullptr);
  TMemIniFile Before;
  Effect->WriteIniFile(Before);
  QString Message;
  bool StayedOpen = false;
  WithDialog(
      [&](QWidget *M) {
        auto *D = qobject_cast<QDialog *>(M);
        ASSERT_NE(D, nullptr);
        GetParam().Edit(*D);
        // The message box is modal over the dialog: read it and close it.
        std::function<void()> Answer;
        Answer = [&] {
          auto *Box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
          if (!Box) {
            QTimer::singleShot(5, Answer);
            return;
          }
          Message = Box->text();
          Box->accept();
        };
        QTimer::singleShot(0, Answer);
        Button(*D, QStringLiteral("OK"))->click();
        StayedOpen = D->isVisible();
        Button(*D, QStringLiteral("キャンセル"))->click();
      },
      [&] { (*Open)(*Effect, Fixture.Context(), nullptr); });
  EXPECT_TRUE(StayedOpen);
  EXPECT_EQ(Message, QStringLiteral("入力されたパラメータの評価でエラーが発生しました"));
  TMemIniFile After;
  Effect->WriteIniFile(After);
  EXPECT_EQ(After.SaveToBytes(), Before.SaveToBytes());
}

// Until a dialog with expressions has its row, the suite has no cases.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(EffectDialogBadExpression);
INSTANTIATE_TEST_SUITE_P(Dialogs, EffectDialogBadExpression, ::testing::ValuesIn(BadExpressionRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
