// The text and composite dialogs over a real preview: dragging the text
// block or the overlay in the preview window moves the offsets by the drag,
// and the effect then draws exactly there; the zoomed view's spot preview
// draws the block where the whole picture has it; the colour buttons open
// the colour dialog with the stored custom colours and store them only on OK.
// The lens correction dialog's OK checks, from its controls, in their order.
#include "app/window/dialogs/AddTextForm.h"
#include "app/window/dialogs/ColorChoice.h"
#include "app/window/dialogs/CompositeForm.h"
#include "app/window/dialogs/DeDistortionForm.h"
#include "app/window/preview/PreviewForm.h"
#include "app/window/preview/PreviewSource.h"
#include "app/window/tests/DialogTestEnv.h"
#include "core/IniFile.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QGroupBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace {

[[maybe_unused]] ::testing::Environment *const Environment =
    ::testing::AddGlobalTestEnvironment(new dialogtest::TEnvironment);

constexpr QRgb Gray = 0xFF808080;

// The rectangle (picture coordinates, rows from the top) where A and B
// differ; empty when they are the same. Both have one size and layout.
QRect Difference(const TICCImgInfo &A, const TICCImgInfo &B) {
  EXPECT_EQ(A.Width, B.Width);
  EXPECT_EQ(A.Height, B.Height);
  EXPECT_EQ(A.Channels, B.Channels);
  int x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
  const uint32_t n = A.Width * A.Channels;
  for (uint32_t y = 0; y < std::min(A.Height, B.Height); ++y) {
    const uint8_t *a = PictureRow(A, y), *b = PictureRow(B, y);
    for (uint32_t i = 0; i < n; ++i)
      if (a[i] != b[i]) {
        const int x = int(i / A.Channels);
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, int(y)), y1 = std::max(y1, int(y));
      }
  }
  return x1 < 0 ? QRect() : QRect(QPoint(x0, y0), QPoint(x1, y1));
}

// One consumer's engines, bound into Params as a conversion worker binds its own.
struct TWorker {
  std::unique_ptr<TEngineSet> Set = TEngineSet::FromPrototypes()->CreateFor(1);
  TEffectParams Params;
  TWorker() { Set->Bind(Params); }
};

// E run on a copy of Picture, as the conversion runs it.
TICCImgOwner Rendered(const TEffect &E, const TICCImgInfo &Picture) {
  TICCImgOwner Img;
  CopyPreviewImage(Picture, *Img);
  TWorker W;
  E.DoEffect(*Img, W.Params);
  return Img;
}

// Drags the preview window's selection from picture point From by Delta
// picture pixels (the view at 100 %, so a screen pixel is a picture pixel).
void DragInPreview(TPreviewForm &Window, QPoint From, QPoint Delta) {
  QWidget *Canvas = reinterpret_cast<QWidget *>(Window.Canvas);
  // The screen point showing picture point From.
  QPoint At = From - Window.ScrollOffset();
  At += From - Window.ImagePointAt(At);
  ASSERT_EQ(Window.ImagePointAt(At), From);
  QTest::mousePress(Canvas, Qt::LeftButton, Qt::NoModifier, At);
  // In steps, as a hand moves; each step reports the selection.
  for (int i = 1; i <= 4; ++i) QTest::mouseMove(Canvas, At + Delta * i / 4);
  QTest::mouseRelease(Canvas, Qt::LeftButton, Qt::NoModifier, At + Delta);
}

// Where the gray picture lies on a result (the composite's picture over a
// file that has no gray pixel).
QRect WhereGray(const TICCImgInfo &Img) {
  int x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
  for (uint32_t y = 0; y < Img.Height; ++y) {
    const uint8_t *p = PictureRow(Img, y);
    for (uint32_t x = 0; x < Img.Width; ++x, p += Img.Channels)
      if (p[0] == 128 && p[1] == 128 && p[2] == 128)
        x0 = std::min(x0, int(x)), x1 = std::max(x1, int(x)), y0 = std::min(y0, int(y)), y1 = std::max(y1, int(y));
  }
  return x1 < 0 ? QRect() : QRect(QPoint(x0, y0), QPoint(x1, y1));
}

// A dialog with a draggable block, opened on the fixture's picture.
struct TBlockDialog {
  std::unique_ptr<TPreviewBaseForm> Form;
  std::function<QRect()> Block;     // the block on the shown picture
  std::function<QPoint()> Offsets;  // X and Y as the controls hold them
  TEffect *Effect = nullptr;
  // What the block put on Result, made from Picture.
  std::function<QRect(const TICCImgInfo &Result, const TICCImgInfo &Picture)> Drawn = [](const auto &R, const auto &P) {
    return Difference(R, P);
  };
};

struct TDragCase {
  const char *Name;
  // Sets up the effect (before the dialog opens) and opens its dialog.
  std::function<TBlockDialog(dialogtest::TDialogFixture &F)> Open;
  QPoint Delta;
};

TBlockDialog OpenText(dialogtest::TDialogFixture &F, int32_t Anchor, QPoint Offsets) {
  auto *E = dynamic_cast<TAddTextEffect *>(F.Effects.FindByID(EFFECT_ADD_TEXT));
  E->FText = "Ab";
  E->FFont.Name = "DejaVu Sans";
  E->FFont.Size = 14;
  E->FFont.Color = 0xFFFFFF;
  E->FParam.Position = Anchor;
  E->FParam.XOffset = Offsets.x();
  E->FParam.YOffset = Offsets.y();
  E->FParam.Shadow = E->FParam.Glow = LongFalse;
  auto Form = std::make_unique<TAddTextForm>(*E, F.Context());
  TAddTextForm *T = Form.get();
  TBlockDialog D{std::move(Form), [T] { return T->TextBlock(); },
                 [T] { return QPoint(T->XEdit->value(), T->YEdit->value()); }, E};
  return D;
}

TBlockDialog OpenComposite(dialogtest::TDialogFixture &F, int32_t Mode, int32_t Anchor, int W, int H) {
  const std::string File = F.Dir + "/overlay.png";
  dialogtest::WritePicture(File, W, H, [](int x, int y) { return qRgb(200, (x * 7) % 256, (y * 5) % 256); });
  auto *E = dynamic_cast<TCompositeEffect *>(F.Effects.FindByID(EFFECT_COMPOSITE));
  E->FMode = Mode;
  E->FImageFileName = File;
  E->FBasePos = Anchor;
  E->FOffsetX = 4;
  E->FOffsetY = 6;
  E->FOpacity = 100;
  E->LoadExternalImage();  // as before a run
  auto Form = std::make_unique<TCompositeForm>(*E, F.Context());
  TCompositeForm *C = Form.get();
  TBlockDialog D{std::move(Form), [C] { return C->OverlayBlock(); },
                 [C] { return QPoint(C->XEdit->value(), C->YEdit->value()); }, E};
  if (Mode == COMPOSITE_BACKGROUND) D.Drawn = [](const auto &R, const auto &) { return WhereGray(R); };
  return D;
}

void PrintTo(const TDragCase &C, std::ostream *Os) { *Os << C.Name; }

const TDragCase DragCases[] = {
    {"TextFromTopLeftRightAndDown", [](auto &F) { return OpenText(F, 0, {3, 2}); }, {30, 20}},
    {"TextFromCentreLeftAndDown", [](auto &F) { return OpenText(F, 4, {3, -2}); }, {-25, 15}},
    {"TextFromBottomRightLeftAndUp", [](auto &F) { return OpenText(F, 8, {-3, -2}); }, {-40, -30}},
    {"OverlayFromCentre", [](auto &F) { return OpenComposite(F, COMPOSITE_FOREGROUND, 4, 60, 40); }, {-35, 22}},
    {"PictureOverTheFileFromTopLeft", [](auto &F) { return OpenComposite(F, COMPOSITE_BACKGROUND, 0, 400, 300); },
     {45, 30}},
};

class DraggingTheBlock : public ::testing::TestWithParam<TDragCase> {};

TEST_P(DraggingTheBlock, MovesTheOffsetsByTheDragAndTheEffectDrawsThere) {
  dialogtest::TDialogFixture F;
  F.Add("photo", 320, 240, [](int, int) { return Gray; });
  TBlockDialog D = GetParam().Open(F);
  TPreviewBaseForm &Form = *D.Form;
  ASSERT_NE(Form.Master(), nullptr);
  Form.show();
  Form.PreviewWindow()->SetViewMode(1);
  ASSERT_TRUE(Form.WaitForPreview());
  const QPoint Delta = GetParam().Delta;

  // Where the effect draws with the values the dialog opened with: inside the block.
  const QRect Block = D.Block();
  ASSERT_FALSE(Block.isEmpty());
  const QRect DrawnBefore = D.Drawn(*Rendered(*D.Effect, *Form.Master()), *Form.Master());
  ASSERT_FALSE(DrawnBefore.isEmpty());
  EXPECT_TRUE(Block.contains(DrawnBefore)) << "the block holds what the effect draws";
  const QPoint Offsets = D.Offsets();

  DragInPreview(*Form.PreviewWindow(), Block.center(), Delta);
  EXPECT_EQ(D.Offsets(), Offsets + Delta);
  EXPECT_EQ(D.Block(), Block.translated(Delta));
  // The preview shows it at its new place.
  ASSERT_TRUE(Form.WaitForPreview());
  EXPECT_EQ(D.Drawn(*Form.DestImage(), *Form.SrcImage()), DrawnBefore.translated(Delta));

  // OK stores the offsets, and the effect draws where the preview showed it.
  Form.accept();
  EXPECT_EQ(D.Drawn(*Rendered(*D.Effect, *Form.Master()), *Form.Master()), DrawnBefore.translated(Delta));
}

INSTANTIATE_TEST_SUITE_P(Dialogs, DraggingTheBlock, ::testing::ValuesIn(DragCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// The zoomed view's spot preview: the step run on a rectangle of the
// picture gives exactly that rectangle of the step run on the whole
// picture, so the block shows where the whole picture has it.
struct TSpotCase {
  const char *Name;
  std::function<TBlockDialog(dialogtest::TDialogFixture &F)> Open;
  QRect Spot;  // stored rows, bottom-up, as the preview window's view rectangle
};

void PrintTo(const TSpotCase &C, std::ostream *Os) { *Os << C.Name; }

const TSpotCase SpotCases[] = {
    {"TextAtTheCentreCutByTheRectangle", [](auto &F) { return OpenText(F, 4, {7, -5}); }, QRect(150, 100, 30, 30)},
    {"TextAtTheBottomRight", [](auto &F) { return OpenText(F, 8, {-6, -4}); }, QRect(200, 0, 120, 70)},
    {"TextNearTheTopLeft", [](auto &F) { return OpenText(F, 0, {5, 9}); }, QRect(0, 180, 100, 60)},
    {"OverlayAtTheLeftBottom", [](auto &F) { return OpenComposite(F, COMPOSITE_FOREGROUND, 2, 60, 40); },
     QRect(0, 0, 90, 70)},
    {"OverlayAtTheRightTop", [](auto &F) { return OpenComposite(F, COMPOSITE_FOREGROUND, 6, 60, 40); },
     QRect(230, 170, 90, 70)},
    {"PictureOverTheFile", [](auto &F) { return OpenComposite(F, COMPOSITE_BACKGROUND, 4, 400, 300); },
     QRect(280, 200, 120, 100)},
};

class SpotPreview : public ::testing::TestWithParam<TSpotCase> {};

TEST_P(SpotPreview, ShowsTheRectangleOfTheWholePicturesResult) {
  dialogtest::TDialogFixture F;
  // A picture with a different colour at every place, so that a shifted block shows.
  F.Add("photo", 320, 240, [](int x, int y) { return qRgb(x * 255 / 320, y * 255 / 240, 90); });
  TBlockDialog D = GetParam().Open(F);
  const TICCImgInfo *M = D.Form->Master();
  ASSERT_NE(M, nullptr);
  const TPreviewStep Step = D.Form->MakePreviewStep();
  ASSERT_TRUE(bool(Step));
  const std::atomic<bool> Stale{false};

  TICCImgOwner Whole;
  CopyPreviewImage(*M, *Whole);
  TWorker W1;
  TPreviewStepEnv WholeEnv{W1.Params, W1.Params.MT, W1.Params.ColorTransform, nullptr, Stale, false, QRect()};
  Step(*Whole, WholeEnv);

  TICCImgOwner Part;
  CopyPreviewImage(*M, *Part, GetParam().Spot);
  TWorker W2;
  TPreviewStepEnv SpotEnv{W2.Params, W2.Params.MT, W2.Params.ColorTransform, nullptr, Stale, true, GetParam().Spot};
  Step(*Part, SpotEnv);

  TICCImgOwner Expected;
  CopyPreviewImage(*Whole, *Expected, GetParam().Spot);
  ASSERT_EQ(Part->Width, Expected->Width);
  ASSERT_EQ(Part->Height, Expected->Height);
  EXPECT_TRUE(Difference(*Part, *Expected).isEmpty()) << "differs at " << Difference(*Part, *Expected).x() << ","
                                                      << Difference(*Part, *Expected).y();
  // The block does reach into the rectangle (the case tests something).
  TICCImgOwner Unprocessed;
  CopyPreviewImage(*M, *Unprocessed, GetParam().Spot);
  if (Unprocessed->Width == Part->Width && Unprocessed->Height == Part->Height)
    EXPECT_FALSE(Difference(*Part, *Unprocessed).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Dialogs, SpotPreview, ::testing::ValuesIn(SpotCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// The colour buttons: the colour dialog opens with the stored custom
// colours; what it ends with is stored when the text dialog's OK is
// pressed, and not when it is cancelled.
struct TColourCase {
  const char *Name;
  bool PressOK;
};

void PrintTo(const TColourCase &C, std::ostream *Os) { *Os << C.Name; }

class ColourChoice : public ::testing::TestWithParam<TColourCase> {};

TEST_P(ColourChoice, OpensWithTheStoredCustomColoursAndStoresThemOnlyOnOK) {
  dialogtest::TDialogFixture F;
  F.Add("photo", 64, 48, [](int, int) { return Gray; });
  auto *E = dynamic_cast<TAddTextEffect *>(F.Effects.FindByID(EFFECT_ADD_TEXT));
  const auto Stored = SystemOption.CustomPalette;
  for (size_t i = 0; i < 16; ++i) SystemOption.CustomPalette[i] = int32_t(0x010203 * (i + 1));
  const auto Palette = SystemOption.CustomPalette;
  const uint32_t FontColourBefore = E->FFont.Color;
  TAddTextForm Form(*E, F.Context());

  std::vector<uint32_t> Seen;
  bool Answered = false;
  QTimer::singleShot(0, [&] {
    auto *Box = qobject_cast<QColorDialog *>(QApplication::activeModalWidget());
    ASSERT_NE(Box, nullptr) << "the colour dialog did not open";
    for (int i = 0; i < 16; ++i) Seen.push_back(ColorRefOfColor(QColorDialog::customColor(i)));
    QColorDialog::setCustomColor(5, QColor(10, 20, 30));
    Box->setCurrentColor(QColor(0x12, 0x34, 0x56));
    Answered = true;
    Box->accept();
  });
  Form.FontColorButton->click();
  ASSERT_TRUE(Answered);
  std::vector<uint32_t> Expected(Palette.begin(), Palette.end());
  EXPECT_EQ(Seen, Expected);
  EXPECT_EQ(Form.FontColorButton->Color(), 0x563412);

  if (GetParam().PressOK) {
    Form.accept();
    EXPECT_EQ(SystemOption.CustomPalette[5], 0x1E140A);
    EXPECT_EQ(E->FFont.Color, 0x563412u);
  } else {
    Form.reject();
    EXPECT_EQ(SystemOption.CustomPalette, Palette);
    EXPECT_EQ(E->FFont.Color, FontColourBefore);
  }
  SystemOption.CustomPalette = Stored;
}

INSTANTIATE_TEST_SUITE_P(Dialogs, ColourChoice, ::testing::Values(TColourCase{"OK", true}, TColourCase{"Cancel", false}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// The whole view, loaded while the preview window was not laid out yet,
// shows the pictures fitted to the window as it is shown.
struct TWholeViewCase {
  const char *Name;
  std::function<TBlockDialog(dialogtest::TDialogFixture &F)> Open;
};

void PrintTo(const TWholeViewCase &C, std::ostream *Os) { *Os << C.Name; }

class WholeView : public ::testing::TestWithParam<TWholeViewCase> {};

TEST_P(WholeView, FitsThePicturesToTheShownWindow) {
  dialogtest::TDialogFixture F;
  F.Add("photo", 1200, 900, [](int x, int y) { return qRgb(x % 256, y % 256, 60); });
  TBlockDialog D = GetParam().Open(F);
  TPreviewBaseForm &Form = *D.Form;
  ASSERT_EQ(Form.PreviewWindow()->ViewMode(), PREVIEW_VIEW_ALL);
  Form.show();
  QElapsedTimer T;
  T.start();
  while (!Form.PreviewWindow()->isVisible() && T.elapsed() < 10000) QCoreApplication::processEvents();
  ASSERT_TRUE(Form.WaitForPreview());
  const QSize Client = Form.PreviewWindow()->GetClientSize();
  const QSize Want = FitPreviewSize(1200, 900, Client.width(), Client.height());
  ASSERT_GT(Want.width(), 200) << "the window is laid out";
  ASSERT_NE(Form.Src2Image(), nullptr);
  ASSERT_NE(Form.Dest2Image(), nullptr);
  EXPECT_EQ(QSize(int(Form.Src2Image()->Width), int(Form.Src2Image()->Height)), Want);
  EXPECT_EQ(QSize(int(Form.Dest2Image()->Width), int(Form.Dest2Image()->Height)), Want);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, WholeView,
                         ::testing::Values(TWholeViewCase{"Text", [](auto &F) { return OpenText(F, 4, {0, 0}); }},
                                           TWholeViewCase{"Composite",
                                                          [](auto &F) {
                                                            return OpenComposite(F, COMPOSITE_FOREGROUND, 4, 60, 40);
                                                          }}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// OK on the lens correction dialog: the first failing check's message in a
// warning box titled "Error", the dialog open and the effect unchanged.
struct TLensCheckCase {
  const char *Name;
  std::function<void(TDeDistortionForm &F)> Edit;
  const char *Message;
};

void PrintTo(const TLensCheckCase &C, std::ostream *Os) { *Os << C.Name; }

const TLensCheckCase LensCheckCases[] = {
    {"RectilinearResultOver179",
     [](auto &F) {
       F.DestProjectionBox->setCurrentIndex(0);  // "心射方位"
       F.DestHFOVEdit->setValue(179.5);
     },
     DEDISTORTION_RECTILINEAR_ERROR},
    {"EquidistantSourceOver179WithDedistortion",
     [](auto &F) {
       F.DeDistortionButton->setChecked(true);
       F.SrcProjectionBox->setCurrentIndex(1);  // "等距離射影(対角)"
       F.SrcHFOVEdit->setValue(200);
     },
     DEDISTORTION_EQUIDISTANT_ERROR},
    {"ExpressionBeforeTheAngles",
     [](auto &F) {
       F.DestProjectionBox->setCurrentIndex(0);
       F.DestHFOVEdit->setValue(300);
       F.HeightEdit->setText(QStringLiteral("w*0.75)"));
     },
     DEDISTORTION_EXPRESSION_ERROR},
    {"RectilinearBeforeTheSourceAngle",
     [](auto &F) {
       F.DestProjectionBox->setCurrentIndex(0);
       F.DestHFOVEdit->setValue(180);
       F.DeDistortionButton->setChecked(true);
       F.SrcProjectionBox->setCurrentIndex(0);
       F.SrcHFOVEdit->setValue(190);
     },
     DEDISTORTION_RECTILINEAR_ERROR},
};

class LensCorrectionDialog : public ::testing::TestWithParam<TLensCheckCase> {};

TEST_P(LensCorrectionDialog, OKShowsTheFirstFailingChecksMessageAndStaysOpen) {
  dialogtest::TDialogFixture F;
  auto *E = dynamic_cast<TDeDistortionFilter *>(F.Effects.FindByID(EFFECT_DEDISTORTION));
  ASSERT_NE(E, nullptr);
  TMemIniFile Before;
  E->WriteIniFile(Before);
  TDeDistortionForm Form(*E);
  Form.show();
  GetParam().Edit(Form);
  QString Title, Text;
  QTimer::singleShot(0, [&] {
    auto *Box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    ASSERT_NE(Box, nullptr) << "no message box";
    Title = Box->windowTitle();
    Text = Box->text();
    Box->accept();
  });
  Form.accept();
  EXPECT_EQ(Title, QStringLiteral("Error"));
  EXPECT_EQ(Text, QString::fromUtf8(GetParam().Message));
  EXPECT_TRUE(Form.isVisible());
  TMemIniFile After;
  E->WriteIniFile(After);
  EXPECT_EQ(After.SaveToBytes(), Before.SaveToBytes());
}

INSTANTIATE_TEST_SUITE_P(Dialogs, LensCorrectionDialog, ::testing::ValuesIn(LensCheckCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
