// The geometry and tone dialogs on the offscreen platform, over a list with
// one picture: the tone-curve grid edited with the mouse and by typed
// coordinates, the trimming selection following the field and a dragged
// selection written back, the selection presets, and each dialog's preview
// showing its step's result.
#include "app/window/dialogs/AddBlankForm.h"
#include "app/window/dialogs/ColorCorrectionForm.h"
#include "app/window/dialogs/CurveGrid.h"
#include "app/window/dialogs/DialogWidgets.h"
#include "app/window/dialogs/GrayscaleForm.h"
#include "app/window/dialogs/RotationForm.h"
#include "app/window/dialogs/SizeFieldRules.h"
#include "app/window/dialogs/ToneCurveOptionForm.h"
#include "app/window/dialogs/TrimmingOptionForm.h"
#include "app/window/preview/PreviewForm.h"
#include "app/window/tests/DialogTestEnv.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <set>

namespace {

[[maybe_unused]] ::testing::Environment *const Environment =
    ::testing::AddGlobalTestEnvironment(new dialogtest::TEnvironment);

std::string NameOf(const char *Name) { return Name; }

// Shows the dialog's preview window large enough for the picture at 1:1,
// so the whole view is the picture itself, not a reduction.
void ShowPreviewAtFullSize(TPreviewBaseForm &F) {
  F.PreviewWindow()->resize(700, 600);
  F.PreviewWindow()->show();
  // The window refits once its size has settled.
  QElapsedTimer T;
  T.start();
  const auto Fitted = [&] {
    const TICCImgInfo *M = F.Master(), *S2 = F.Src2Image();
    return M && S2 && S2->Width == M->Width && S2->Height == M->Height;
  };
  while (!Fitted() && T.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_TRUE(Fitted()) << "the preview window did not refit to show the picture at 1:1";
}

QRgb Ramp(int x, int y) { return qRgb(x, (y * 2) % 256, (x + y) % 256); }

// The shown picture's pixel at x, y of the picture (rows top-down), as B, G, R.
std::array<int, 3> PixelAt(const TICCImgInfo &Img, int x, int y) {
  const uint8_t *Row = Img.Mem + size_t(Img.Height - 1 - uint32_t(y)) * Img.Bpl;
  if (Img.Channels == 1) return {Row[x], Row[x], Row[x]};
  const uint8_t *P = Row + size_t(x) * Img.Channels;
  return {P[0], P[1], P[2]};
}

// ---------------------------------------------------------------------------
// Tone curve

enum class TGesture { Click, Drag };
struct TGridCase {
  const char *Name;
  int32_t Curve;  // the channel edited
  std::vector<std::pair<TGesture, std::array<int, 4>>> Gestures;  // curve points: from x, y (to x, y)
  TCurvePoints Expected;
};

class ToneCurveGrid : public testing::TestWithParam<TGridCase> {};

void Press(TCurveGrid *G, int X, int Y) {
  QTest::mousePress(G, Qt::LeftButton, Qt::NoModifier, TCurveGrid::WidgetPointOf(X, Y));
}
void MoveTo(TCurveGrid *G, int X, int Y) {
  // QTest's mouseMove carries no buttons; a real drag does.
  QMouseEvent E(QEvent::MouseMove, QPointF(TCurveGrid::WidgetPointOf(X, Y)), QPointF(), Qt::NoButton, Qt::LeftButton,
                Qt::NoModifier);
  QApplication::sendEvent(G, &E);
}
void Release(TCurveGrid *G, int X, int Y) {
  QTest::mouseRelease(G, Qt::LeftButton, Qt::NoModifier, TCurveGrid::WidgetPointOf(X, Y));
}

TEST_P(ToneCurveGrid, MouseGesturesEditTheChosenCurveAndOKStoresIt) {
  const TGridCase &C = GetParam();
  dialogtest::TDialogFixture Fixture;
  Fixture.Add("photo", 64, 48, Ramp);
  auto &Effect = dynamic_cast<TToneCurveEffect &>(*Fixture.Effects.FindByID(EFFECT_TONE_CURVE));
  const TCurveSet Before = Effect.FControlPoints;
  TToneCurveOptionForm F(Effect, Fixture.Context());
  F.ChannelBox->setCurrentIndex(C.Curve);
  for (const auto &[G, P] : C.Gestures) {
    Press(F.Grid, P[0], P[1]);
    if (G == TGesture::Drag) {
      MoveTo(F.Grid, (P[0] + P[2]) / 2, (P[1] + P[3]) / 2);
      MoveTo(F.Grid, P[2], P[3]);
    }
    Release(F.Grid, G == TGesture::Drag ? P[2] : P[0], G == TGesture::Drag ? P[3] : P[1]);
  }
  EXPECT_EQ(F.Curves()[size_t(C.Curve)], C.Expected);
  // The point list shows the same points.
  ASSERT_EQ(F.PointList->count(), int(C.Expected.size()));
  for (size_t i = 0; i < C.Expected.size(); ++i)
    EXPECT_EQ(F.PointList->item(int(i))->text(),
              QStringLiteral("%1,%2").arg(C.Expected[i].X).arg(C.Expected[i].Y));
  EXPECT_EQ(Effect.FControlPoints, Before) << "the effect changed before OK";
  F.accept();
  for (int32_t i = 0; i < CURVE_COUNT; ++i)
    EXPECT_EQ(Effect.FControlPoints[size_t(i)], i == C.Curve ? C.Expected : Before[size_t(i)]) << i;
  // The effect's tables follow the stored curves.
  EXPECT_EQ(Effect.Tables().RGB8, MakeToneCurveTables(Effect.FControlPoints).RGB8);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToneCurveGrid,
    testing::Values(
        TGridCase{"AClickAwayFromThePointsAddsOne", CURVE_RGB, {{TGesture::Click, {128, 180}}},
                  {{0, 0}, {128, 180}, {255, 255}}},
        TGridCase{"ADragMovesTheNewPoint", CURVE_GREEN, {{TGesture::Drag, {64, 64, 80, 40}}},
                  {{0, 0}, {80, 40}, {255, 255}}},
        TGridCase{"AClickNearAPointGrabsItInsteadOfAddingOne", CURVE_BLUE,
                  {{TGesture::Click, {128, 128}}, {TGesture::Drag, {133, 128, 140, 200}}},
                  {{0, 0}, {140, 200}, {255, 255}}},
        TGridCase{"DraggingOntoANeighbourRemovesThePoint", CURVE_LUMA,
                  {{TGesture::Click, {100, 100}}, {TGesture::Click, {180, 150}}, {TGesture::Drag, {100, 100, 200, 90}}},
                  {{0, 0}, {180, 150}, {255, 255}}},
        TGridCase{"TheEndPointsMoveToo", CURVE_RED, {{TGesture::Drag, {0, 0, 0, 40}}, {TGesture::Drag, {255, 255, 255, 200}}},
                  {{0, 40}, {255, 200}}}),
    [](const testing::TestParamInfo<TGridCase> &I) { return NameOf(I.param.Name); });

TEST(ToneCurveDialog, TypedCoordinatesMoveAPointOnlyBetweenItsNeighbours) {
  dialogtest::TDialogFixture Fixture;
  Fixture.Add("photo", 64, 48, Ramp);
  auto &Effect = dynamic_cast<TToneCurveEffect &>(*Fixture.Effects.FindByID(EFFECT_TONE_CURVE));
  Effect.FControlPoints[CURVE_RGB] = {{0, 0}, {100, 100}, {255, 255}};
  TToneCurveOptionForm F(Effect, Fixture.Context());
  QString Answer;
  F.AskPoint = [&](const QString &Current) -> std::optional<QString> {
    EXPECT_EQ(Current, QStringLiteral("100,100"));
    return Answer;
  };
  auto DoubleClickMiddle = [&] {
    QListWidgetItem *Item = F.PointList->item(1);
    emit F.PointList->itemDoubleClicked(Item);
  };
  Answer = QStringLiteral("255,10");  // onto the last point's X: ignored
  DoubleClickMiddle();
  EXPECT_EQ(F.Curves()[CURVE_RGB], (TCurvePoints{{0, 0}, {100, 100}, {255, 255}}));
  Answer = QStringLiteral("60,200");
  DoubleClickMiddle();
  EXPECT_EQ(F.Curves()[CURVE_RGB], (TCurvePoints{{0, 0}, {60, 200}, {255, 255}}));
  EXPECT_EQ(F.PointList->item(1)->text(), QStringLiteral("60,200"));
}

TEST(ToneCurveDialog, PresetsSaveAllSixCurvesAndTheFirstItemRestoresTheOpeningCurves) {
  dialogtest::TDialogFixture Fixture;
  Fixture.Add("photo", 64, 48, Ramp);
  auto &Effect = dynamic_cast<TToneCurveEffect &>(*Fixture.Effects.FindByID(EFFECT_TONE_CURVE));
  TToneCurveOptionForm F(Effect, Fixture.Context());
  F.SetPresetFolder(Fixture.Dir + "/ToneCurve/");
  F.ChannelBox->setCurrentIndex(CURVE_CHROMA);
  Press(F.Grid, 60, 20);
  Release(F.Grid, 60, 20);
  const TCurveSet Edited = F.Curves();
  ASSERT_TRUE(F.SavePresetAs("soft"));
  EXPECT_EQ(F.PresetBox->currentText(), QStringLiteral("soft"));
  F.ChoosePreset(0);
  EXPECT_EQ(F.Curves(), Effect.FControlPoints);
  F.ChoosePreset(1);
  EXPECT_EQ(F.Curves(), Edited);
  // The file is the effect's own preset format.
  TToneCurveEffect Reader;
  Reader.LoadPreset(Fixture.Dir + "/ToneCurve/soft.txt");
  EXPECT_EQ(Reader.FControlPoints, Edited);
}

TEST(ToneCurveDialog, ResetButtonsResetTheCurrentCurveOrAll) {
  dialogtest::TDialogFixture Fixture;
  Fixture.Add("photo", 64, 48, Ramp);
  auto &Effect = dynamic_cast<TToneCurveEffect &>(*Fixture.Effects.FindByID(EFFECT_TONE_CURVE));
  for (TCurvePoints &C : Effect.FControlPoints) C = {{0, 30}, {255, 220}};
  TToneCurveOptionForm F(Effect, Fixture.Context());
  F.ChannelBox->setCurrentIndex(CURVE_RED);
  F.ResetButton->click();
  EXPECT_EQ(F.Curves()[CURVE_RED], DefaultCurves()[CURVE_RED]);
  EXPECT_EQ(F.Curves()[CURVE_GREEN], (TCurvePoints{{0, 30}, {255, 220}}));
  F.ResetAllButton->click();
  EXPECT_EQ(F.Curves(), DefaultCurves());
}

// ---------------------------------------------------------------------------
// Trimming

struct TTrimSetup {
  dialogtest::TDialogFixture Fixture;
  TTrimmingFilter *Effect = nullptr;
  std::unique_ptr<TTrimmingOptionForm> Form;
  TTrimSetup(int W, int H) {
    Fixture.Add("photo", W, H, Ramp);
    Effect = dynamic_cast<TTrimmingFilter *>(Fixture.Effects.FindByID(EFFECT_TRIMMING));
    Form = std::make_unique<TTrimmingOptionForm>(*Effect, Fixture.Context());
    ShowPreviewAtFullSize(*Form);
  }
};

struct TFollowCase {
  const char *Name;
  int W, H;
  int32_t Type, Exp;
  const char *Landscape, *Portrait;
  QRect Expected;
};

class TrimmingSelectionFollowsTheField : public testing::TestWithParam<TFollowCase> {};

TEST_P(TrimmingSelectionFollowsTheField, OfThePicturesOrientation) {
  const TFollowCase &C = GetParam();
  TTrimSetup S(C.W, C.H);
  TTrimmingOptionForm &F = *S.Form;
  ASSERT_NE(F.Master(), nullptr);
  F.TypeBox->setCurrentIndex(C.Type);
  F.ExpBox->setCurrentIndex(C.Exp);
  F.LandscapeEdit->setText(QString::fromUtf8(C.Landscape));
  F.PortraitEdit->setText(QString::fromUtf8(C.Portrait));
  EXPECT_EQ(F.PreviewWindow()->SelectRect(), C.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TrimmingSelectionFollowsTheField,
    testing::Values(TFollowCase{"PixelsOnLandscape", 160, 120, 0, 0, "10,10,W,H", "0,0,5,5", QRect(10, 10, 150, 110)},
                    TFollowCase{"PortraitValuesOnPortrait", 120, 160, 1, 0, "1,1,1,1", "5,6,7,8", QRect(5, 6, 108, 146)},
                    TFollowCase{"SquareTakesLandscapeValuesUnderCondition0", 100, 100, 1, 0, "1,2,3,4", "9,9,9,9",
                                QRect(1, 2, 96, 94)},
                    TFollowCase{"SquareTakesPortraitValuesUnderCondition1", 100, 100, 1, 1, "1,2,3,4", "9,9,9,9",
                                QRect(9, 9, 82, 82)},
                    TFollowCase{"AspectCentred", 160, 120, 3, 2, "1:1,50,50", "", QRect(20, 0, 120, 120)},
                    TFollowCase{"AnUnreadableFieldShowsNoSelection", 160, 120, 0, 0, "10,10,W", "", QRect()}),
    [](const testing::TestParamInfo<TFollowCase> &I) { return NameOf(I.param.Name); });

// The point of the preview window's drawing area that shows picture point
// P, found through the window's own mapping (each axis on its own).
// The drawing area; its class is the window's own, a QWidget first of all.
QWidget *CanvasOf(TPreviewForm &W) { return reinterpret_cast<QWidget *>(W.Canvas); }

QPoint ScreenPointOf(TPreviewForm &W, QPoint P) {
  QWidget *C = CanvasOf(W);
  QPoint S(-1, -1);
  for (int x = 0; x < C->width() && S.x() < 0; ++x)
    if (W.ImagePointAt(QPoint(x, 0)).x() >= P.x()) S.setX(x);
  for (int y = 0; y < C->height() && S.y() < 0; ++y)
    if (W.ImagePointAt(QPoint(0, y)).y() >= P.y()) S.setY(y);
  if (S.x() < 0) S.setX(C->width() - 1);
  if (S.y() < 0) S.setY(C->height() - 1);
  return S;
}

// A drag in the preview window from one picture point to another.
void DragInPreview(TPreviewForm &W, QPoint From, QPoint To) {
  const QPoint A = ScreenPointOf(W, From), B = ScreenPointOf(W, To);
  QWidget *C = CanvasOf(W);
  QTest::mousePress(C, Qt::LeftButton, Qt::NoModifier, A);
  QMouseEvent Move(QEvent::MouseMove, QPointF(B), QPointF(), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(C, &Move);
  QTest::mouseRelease(C, Qt::LeftButton, Qt::NoModifier, B);
}

struct TDragCase {
  const char *Name;
  int32_t Type;
  QPoint From, To;
};

class TrimmingDraggedSelection : public testing::TestWithParam<TDragCase> {};

TEST_P(TrimmingDraggedSelection, IsWrittenIntoTheFieldAsTheStepCropsIt) {
  const TDragCase &C = GetParam();
  TTrimSetup S(160, 120);
  TTrimmingOptionForm &F = *S.Form;
  ASSERT_NE(F.Master(), nullptr);
  F.TypeBox->setCurrentIndex(C.Type);
  ASSERT_TRUE(F.PreviewWindow()->SelectMode());
  // The selection follows the field (the whole picture at first); a press
  // inside it would move it, so the drag starts where the field, not yet
  // readable, shows none.
  F.LandscapeEdit->setText(QStringLiteral("?"));
  ASSERT_TRUE(F.PreviewWindow()->SelectRect().isEmpty());
  DragInPreview(*F.PreviewWindow(), C.From, C.To);
  const QRect Sel = F.PreviewWindow()->SelectRect();
  ASSERT_FALSE(Sel.isEmpty());
  // Roughly where the mouse went (the window may show the picture reduced).
  EXPECT_LE(std::abs(Sel.left() - C.From.x()), 4);
  EXPECT_LE(std::abs(Sel.top() - C.From.y()), 4);
  const std::string Text = F.LandscapeEdit->text().toStdString();
  EXPECT_EQ(Text, TrimmingSelectionText(C.Type, {Sel.left(), Sel.top(), Sel.width(), Sel.height()}, 160, 120));
  // OK stores it, and the trimming step crops exactly the selection.
  F.accept();
  TValueSet q = EvaluateValueSet(S.Effect->FValue, S.Effect->FExp, 160, 120);
  const TTrimRect R = TrimmingRect(S.Effect->FType, q, 160, 120);
  EXPECT_EQ(QRect(R.L, R.T, R.W, R.H), Sel) << Text;
}

INSTANTIATE_TEST_SUITE_P(Table, TrimmingDraggedSelection,
                         testing::Values(TDragCase{"Pixels", 0, {12, 14}, {100, 90}},
                                         TDragCase{"PixelInsets", 1, {20, 10}, {150, 100}},
                                         TDragCase{"PercentInsets", 2, {16, 12}, {80, 60}},
                                         TDragCase{"AspectSpanningTheHeight", 3, {20, 0}, {200, 200}}),
                         [](const testing::TestParamInfo<TDragCase> &I) { return NameOf(I.param.Name); });

TEST(TrimmingPresets, AddFixesTheSelectionAspectDeleteSparesTheFreeSizeAndOKStoresTheList) {
  TTrimSetup S(160, 120);
  TTrimmingOptionForm &F = *S.Form;
  std::vector<QString> Asked;
  QString Answer;
  F.AskRatio = [&](const QString &Default) {
    Asked.push_back(Default);
    return std::optional<QString>(Answer);
  };
  Answer = QStringLiteral("0:5");  // refused
  F.AddButton->click();
  Answer = QStringLiteral("16:9");
  F.AddButton->click();
  Answer = QStringLiteral("3:2");
  F.AddButton->click();
  EXPECT_EQ(F.Presets(), (std::vector<std::string>{"フリーサイズ", "16:9", "3:2"}));
  // The question starts from "1:1" on the free size, else from the selected ratio.
  EXPECT_EQ(Asked, (std::vector<QString>{QStringLiteral("1:1"), QStringLiteral("1:1"), QStringLiteral("16:9")}));
  EXPECT_EQ(F.PresetList->currentRow(), 2);
  EXPECT_EQ(F.PreviewWindow()->SelectSize(), QSize(3, 2));
  F.PresetList->setCurrentRow(0);
  EXPECT_EQ(F.PreviewWindow()->SelectSize(), QSize(0, 0));
  EXPECT_FALSE(F.DeleteButton->isEnabled());
  F.DeletePreset();
  EXPECT_EQ(F.Presets().size(), 3u);
  F.PresetList->setCurrentRow(1);
  F.DeleteButton->click();
  EXPECT_EQ(F.Presets(), (std::vector<std::string>{"フリーサイズ", "3:2"}));
  EXPECT_EQ(S.Effect->FSizeList, "フリーサイズ") << "the effect changed before OK";
  F.accept();
  EXPECT_EQ(S.Effect->FSizeList, "フリーサイズ,3:2");
}

// ---------------------------------------------------------------------------
// What the previews show

TEST(GeometryTonePreviews, ColorCorrectionWithoutChromaShowsGray) {
  dialogtest::TDialogFixture Fixture;
  Fixture.Add("photo", 64, 48, Ramp);
  TColorCorrectionForm F(dynamic_cast<TColorAdjust &>(*Fixture.Effects.FindByID(EFFECT_COLOR_ADJUST)),
                         Fixture.Context());
  ShowPreviewAtFullSize(F);
  F.PreviewCheck->setChecked(true);
  F.Chroma->SetText(QStringLiteral("-255"));
  F.RequestPreview();
  ASSERT_TRUE(F.WaitForPreview());
  const TICCImgInfo *D = F.Dest2Image();
  ASSERT_NE(D, nullptr);
  for (int y = 0; y < int(D->Height); y += 3)
    for (int x = 0; x < int(D->Width); x += 3) {
      const auto P = PixelAt(*D, x, y);
      EXPECT_LE(std::max({P[0], P[1], P[2]}) - std::min({P[0], P[1], P[2]}), 1) << x << "," << y;
    }
}

TEST(GeometryTonePreviews, AnInvertingToneCurveShowsTheNegative) {
  dialogtest::TDialogFixture Fixture;
  Fixture.Add("photo", 64, 48, Ramp);
  auto &Effect = dynamic_cast<TToneCurveEffect &>(*Fixture.Effects.FindByID(EFFECT_TONE_CURVE));
  Effect.FControlPoints[CURVE_RGB] = {{0, 255}, {255, 0}};
  TToneCurveOptionForm F(Effect, Fixture.Context());
  ShowPreviewAtFullSize(F);
  F.PreviewCheck->setChecked(true);
  F.RequestPreview();
  ASSERT_TRUE(F.WaitForPreview());
  const TICCImgInfo *D = F.Dest2Image(), *S = F.Src2Image();
  ASSERT_TRUE(D && S);
  ASSERT_EQ(D->Width, S->Width);
  for (int y = 0; y < int(D->Height); y += 3)
    for (int x = 0; x < int(D->Width); x += 3)
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(PixelAt(*D, x, y)[size_t(c)], 255 - PixelAt(*S, x, y)[size_t(c)], 2);
}

TEST(GeometryTonePreviews, GrayscaleWithTwoLevelsShowsTwoGrays) {
  dialogtest::TDialogFixture Fixture;
  Fixture.Add("photo", 64, 48, Ramp);
  TGrayscaleForm F(dynamic_cast<TGrayscaleFilter &>(*Fixture.Effects.FindByID(EFFECT_GRAYSCALE)), Fixture.Context());
  ShowPreviewAtFullSize(F);
  F.PreviewCheck->setChecked(true);
  F.DecreaseCheck->setChecked(true);
  F.ColorCount->setValue(2);
  F.RequestPreview();
  ASSERT_TRUE(F.WaitForPreview());
  const TICCImgInfo *D = F.Dest2Image();
  ASSERT_NE(D, nullptr);
  std::set<std::array<int, 3>> Seen;
  for (int y = 0; y < int(D->Height); ++y)
    for (int x = 0; x < int(D->Width); ++x) Seen.insert(PixelAt(*D, x, y));
  EXPECT_EQ(Seen.size(), 2u);
  for (const auto &P : Seen) EXPECT_TRUE(P[0] == P[1] && P[1] == P[2]);
}

TEST(GeometryTonePreviews, RotationShowsThePictureTurned) {
  dialogtest::TDialogFixture Fixture;
  Fixture.Add("photo", 64, 48, Ramp);
  TRotationForm F(dynamic_cast<TRotationFilter &>(*Fixture.Effects.FindByID(EFFECT_ROTATION)), Fixture.Context());
  F.OperationList->setCurrentRow(0);  // 90° clockwise
  F.RequestPreview();
  const TICCImgInfo *D = F.DestImage(), *S = F.SrcImage();
  ASSERT_TRUE(D && S);
  EXPECT_EQ(D->Width, 48u);
  EXPECT_EQ(D->Height, 64u);
  // Clockwise: the left column, read bottom to top, is the top row.
  EXPECT_EQ(PixelAt(*D, 0, 0), PixelAt(*S, 0, 47));
  EXPECT_EQ(PixelAt(*D, 47, 0), PixelAt(*S, 0, 0));
  F.TypeGroup->button(2)->click();  // portrait only: the landscape picture stays
  EXPECT_EQ(F.DestImage()->Width, 64u);
}

TEST(GeometryTonePreviews, MarginsGrowTheShownPicture) {
  dialogtest::TDialogFixture Fixture;
  Fixture.Add("photo", 100, 100, Ramp);
  TAddBlankForm F(dynamic_cast<TAddBlankFilter &>(*Fixture.Effects.FindByID(EFFECT_ADD_BLANK)), Fixture.Context());
  F.PreviewCheck->setChecked(true);
  F.TypeBox->setCurrentIndex(1);
  F.LandscapeEdit->setText(QStringLiteral("10,20,30,40"));
  const TICCImgInfo *D = F.DestImage();
  ASSERT_NE(D, nullptr);
  EXPECT_EQ(D->Width, 140u);
  EXPECT_EQ(D->Height, 160u);
  F.UseFrame[0]->setChecked(true);
  F.FrameWidth[0]->setValue(5);
  EXPECT_EQ(F.DestImage()->Width, 150u);
  EXPECT_EQ(F.DestImage()->Height, 170u);
}

}  // namespace
