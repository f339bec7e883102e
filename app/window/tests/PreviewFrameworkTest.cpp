// The preview framework of the effect dialogs on the offscreen platform:
// fitting and zoom, the visible rectangle, next and previous with
// wrap-around, before and after, the selection, the histogram window's
// views, and the preview threads (a newer request drops the older result,
// the spot view fills the visible part first). The levels dialog as the
// first real consumer.
#include "app/window/LevelsForm.h"
#include "app/window/preview/HistogramForm.h"
#include "app/window/preview/PreviewForm.h"
#include "app/window/preview/PreviewSource.h"
#include "app/window/tests/DialogTestEnv.h"
#include "core/MultiThread.h"
#include "core/PixelConvert.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <random>
#include <set>

namespace {

[[maybe_unused]] ::testing::Environment *const Environment =
    ::testing::AddGlobalTestEnvironment(new dialogtest::TEnvironment);

// Holds a preview computation inside its step until the test lets it go.
class TGate {
public:
  void Enter() {
    std::unique_lock L(FLock);
    FEntered = true;
    FCond.notify_all();
    FCond.wait(L, [this] { return FReleased; });
  }
  void WaitEntered() {
    std::unique_lock L(FLock);
    FCond.wait(L, [this] { return FEntered; });
  }
  void Release() {
    std::lock_guard L(FLock);
    FReleased = true;
    FCond.notify_all();
  }

private:
  std::mutex FLock;
  std::condition_variable FCond;
  bool FEntered = false, FReleased = false;
};

// A dialog over the base whose effect step sets every sample to Value; a
// gate, when set, holds the full computation (not the spot one).
class TFillDialog : public TPreviewBaseForm {
public:
  explicit TFillDialog(const TPreviewContext &Ctx, bool Histogram = false) : TPreviewBaseForm(Ctx) {
    UseHistogram = Histogram;
  }
  ~TFillDialog() override { StopPreviewThreads(); }
  void PreviewClosed() override { Closed = true; }
  uint32_t GetEffectID() const override { return EFFECT_LEVELS; }
  bool IsPreviewEnabled() const override { return true; }
  bool IsHistogramEnabled() const override { return UseHistogram; }
  TPreviewStep MakePreviewStep() const override {
    if (!Threaded) return {};
    const uint8_t V = Value;
    std::shared_ptr<TGate> G = Gate;
    return [V, G](TICCImgInfo &Img, TPreviewStepEnv &Env) {
      if (G && !Env.Spot) G->Enter();
      for (uint32_t y = 0; y < Img.Height; ++y) std::memset(Img.Mem + size_t(y) * Img.Bpl, V, Img.Width * Img.Channels);
    };
  }
  uint8_t Value = 0;
  bool Threaded = true;
  bool Closed = false;
  std::shared_ptr<TGate> Gate;
};

// The sample at x, y (top-down) of channel c of an 8-bit record.
int Sample(const TICCImgInfo &Img, uint32_t x, uint32_t y, uint32_t c = 0) {
  return Img.Mem[size_t(Img.Height - 1 - y) * Img.Bpl + size_t(x) * Img.Channels + c];
}

// Gives the preview window's drawing area exactly W x H.
void SetClientSize(TPreviewForm &F, int W, int H) {
  F.show();
  QCoreApplication::processEvents();
  const QSize Extra = F.size() - F.GetClientSize();
  F.resize(W + Extra.width(), H + Extra.height());
  QCoreApplication::processEvents();
  ASSERT_EQ(F.GetClientSize(), QSize(W, H));
}

QRgb Flat(int, int) { return qRgb(90, 90, 90); }

// Shows entry 0 without a threaded preview in a window whose drawing area is Client.
void LoadStill(TFillDialog &D, QSize Client) {
  D.Threaded = false;
  SetClientSize(*D.PreviewWindow(), Client.width(), Client.height());
  D.SetPreviewImageIndex(0);
}

TEST(PreviewFit, FitsLargePicturesByTheLimitingSideAndKeepsSmallOnes) {
  struct Case {
    const char *Name;
    int W, H, Cw, Ch;
    QSize Expected;
  } Cases[] = {
      {"4000 x 3000 into 800 x 500 is limited by the height", 4000, 3000, 800, 500, {666, 500}},
      {"a wide picture is limited by the width", 4000, 1000, 800, 500, {800, 200}},
      {"a tall picture is limited by the height", 1000, 4000, 800, 500, {125, 500}},
      {"too wide only", 1000, 100, 800, 500, {800, 80}},
      {"too tall only", 100, 1000, 800, 500, {50, 500}},
      {"a fraction of a row is dropped: 800 x 1001 / 3000 = 266.9", 3000, 1001, 800, 500, {800, 266}},
      {"a picture that fits keeps its size", 300, 200, 800, 500, {300, 200}},
      {"a line keeps at least one pixel", 100000, 10, 800, 500, {800, 1}},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(FitPreviewSize(C.W, C.H, C.Cw, C.Ch), C.Expected);
  }
}

TEST(PreviewPlacement, PreviewAtItsPlaceDialogAtItsRightHistogramBelowOrWhereThereIsRoom) {
  const QRect Work(0, 0, 1600, 1000);
  const QSize Histogram(280, 200);
  struct Case {
    const char *Name;
    int32_t Left, Top, DialogHeight;
    bool WithPreview;
    QRect Preview, Dialog, HistogramAt;
  } Cases[] = {
      {"all at their places", 100, 100, 300, true, {100, 100, 800, 600}, {900, 100, 400, 300}, {900, 400, 280, 200}},
      {"no stored place: centred with the dialog's width", -1, -1, 300, true, {200, 200, 800, 600},
       {1000, 200, 400, 300}, {1000, 500, 280, 200}},
      {"no room for the dialog at the right: centred", 900, 100, 300, true, {200, 200, 800, 600},
       {1000, 200, 400, 300}, {1000, 500, 280, 200}},
      {"no room below the dialog: above it", 100, 300, 600, true, {100, 300, 800, 600}, {900, 300, 400, 600},
       {900, 100, 280, 200}},
      {"no room below or above: at its right", 100, 100, 800, true, {100, 100, 800, 600}, {900, 100, 400, 800},
       {1300, 100, 280, 200}},
      {"without a preview the dialog is centred", 100, 100, 300, false, {}, {600, 350, 400, 300},
       {600, 650, 280, 200}},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    TPreviewOption O;
    O.Left = C.Left, O.Top = C.Top, O.Width = 800, O.Height = 600;
    const TPreviewPlacement P = PlacePreviewWindows(Work, O, QSize(400, C.DialogHeight), Histogram, C.WithPreview);
    if (C.WithPreview) {
      EXPECT_EQ(P.Preview, C.Preview);
    }
    EXPECT_EQ(P.Dialog, C.Dialog);
    EXPECT_EQ(P.Histogram, C.HistogramAt);
  }
}

TEST(PreviewWindow, WholeViewOf4000x3000In800x500ShowsTheFittedPictureAtItsZoom) {
  dialogtest::TDialogFixture Fx;
  Fx.Add("big", 4000, 3000, Flat);
  TFillDialog D(Fx.Context());
  LoadStill(D, QSize(800, 500));
  ASSERT_NE(D.Master(), nullptr);
  ASSERT_NE(D.Src2Image(), nullptr);
  EXPECT_EQ(D.Src2Image()->Width, 666u);
  EXPECT_EQ(D.Src2Image()->Height, 500u);
  EXPECT_EQ(D.Src2Image()->BPP, 8u);
  EXPECT_DOUBLE_EQ(D.PreviewWindow()->Zoom(), 666.0 / 4000.0);
  EXPECT_EQ(D.PreviewWindow()->GetViewRect(), QRect(0, 0, 666, 500));
  EXPECT_EQ(D.PreviewWindow()->SizeText(), QStringLiteral(" 4000x3000"));
}

TEST(PreviewWindow, ShowingTheWindowsFitsThePictureToTheWindowAsShown) {
  dialogtest::TDialogFixture Fx;
  Fx.Add("big", 1200, 900, Flat);
  ::PreviewOption.Left = ::PreviewOption.Top = 10;
  ::PreviewOption.Width = 820;
  ::PreviewOption.Height = 600;
  TFillDialog D(Fx.Context());
  D.Threaded = false;
  // Loaded before any window is shown, as a dialog loads in its constructor.
  D.SetPreviewImageIndex(0);
  D.ShowPreviewWindows();
  const QSize C = D.PreviewWindow()->GetClientSize();
  ASSERT_GT(C.width(), 400);
  ASSERT_NE(D.Src2Image(), nullptr);
  EXPECT_EQ(QSize(int(D.Src2Image()->Width), int(D.Src2Image()->Height)), FitPreviewSize(1200, 900, C.width(), C.height()));
  EXPECT_EQ(D.Dest2Image()->Width, D.Src2Image()->Width);
}

TEST(PreviewWindow, ZoomKeepsTheViewCentreAndTheViewRectCountsRowsBottomUp) {
  dialogtest::TDialogFixture Fx;
  Fx.Add("big", 4000, 3000, Flat);
  TFillDialog D(Fx.Context());
  LoadStill(D, QSize(800, 500));
  TPreviewForm &F = *D.PreviewWindow();
  F.SetViewMode(1);
  F.SetScrollOffset(QPoint(1000, 700));
  // 100 %: columns 1000 to 1799, rows 700 to 1199 from the top.
  EXPECT_EQ(F.GetViewRect(), QRect(1000, 3000 - 1200, 800, 500));
  F.SetViewMode(2);
  // The centre (1400, 950) stays: 1400 x 2 - 400, 950 x 2 - 250.
  EXPECT_DOUBLE_EQ(F.Zoom(), 2.0);
  EXPECT_EQ(F.ScrollOffset(), QPoint(2400, 1650));
  EXPECT_EQ(F.GetViewRect(), QRect(1200, 3000 - 1075, 400, 250));
  // Near the edge the offset is clamped to the zoomed picture.
  F.SetScrollOffset(QPoint(100000, 100000));
  EXPECT_EQ(F.ScrollOffset(), QPoint(8000 - 800, 6000 - 500));
  // From there to 400 %: the centre (3800, 2875) stays.
  F.SetViewMode(4);
  EXPECT_EQ(F.ScrollOffset(), QPoint(3800 * 4 - 400, 2875 * 4 - 250));
  // Right: trunc((800 + 14800 + 3) / 4) = 3900; top: 3000 - trunc((500 + 11250 + 3) / 4) = 62.
  EXPECT_EQ(F.GetViewRect(), QRect(3700, 62, 200, 3000 - 2812 - 62));
}

TEST(PreviewWindow, NextAndPreviousWrapAroundTheList) {
  dialogtest::TDialogFixture Fx;
  for (int i = 0; i < 3; ++i) Fx.Add("p" + std::to_string(i), 30 + i, 20, Flat);
  struct Case {
    const char *Name;
    int32_t Start;
    Qt::Key Key;
    int32_t Expected;
  } Cases[] = {
      {"next on the last goes to the first", 2, Qt::Key_Right, 0},
      {"previous on the first goes to the last", 0, Qt::Key_Left, 2},
      {"next in the middle", 1, Qt::Key_Right, 2},
      {"previous in the middle", 1, Qt::Key_Left, 0},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    TFillDialog D(Fx.Context(C.Start));
    D.Threaded = false;
    D.SetPreviewImageIndex(C.Start);
    QTest::keyClick(D.PreviewWindow(), C.Key);
    EXPECT_EQ(D.PreviewImageIndex(), C.Expected);
    ASSERT_NE(D.Master(), nullptr);
    EXPECT_EQ(D.Master()->Width, uint32_t(30 + C.Expected));
    EXPECT_EQ(D.PreviewWindow()->Title(), QStringLiteral("p%1.png").arg(C.Expected));
  }
}

TEST(PreviewWindow, UpAndDownToggleBeforeAndAfterInTheTitle) {
  dialogtest::TDialogFixture Fx;
  Fx.Add("photo", 40, 30, Flat);
  TFillDialog D(Fx.Context());
  D.Threaded = false;
  D.SetPreviewImageIndex(0);
  TPreviewForm &F = *D.PreviewWindow();
  EXPECT_EQ(F.windowTitle(), QStringLiteral("photo.png[After]"));
  QTest::keyClick(&F, Qt::Key_Up);
  EXPECT_EQ(F.windowTitle(), QStringLiteral("photo.png[Before]"));
  EXPECT_EQ(F.ShownImage(), 1);
  QTest::keyClick(&F, Qt::Key_Down);
  EXPECT_EQ(F.windowTitle(), QStringLiteral("photo.png[After]"));
}

TEST(PreviewWindow, SelectionModeSelectAllAndAFixedAspectDrag) {
  dialogtest::TDialogFixture Fx;
  Fx.Add("photo", 300, 200, Flat);
  TFillDialog D(Fx.Context());
  LoadStill(D, QSize(800, 500));
  TPreviewForm &F = *D.PreviewWindow();
  ASSERT_DOUBLE_EQ(F.Zoom(), 1.0);
  // Without a selection handler there is no selection mode.
  QTest::keyClick(&F, Qt::Key_Space);
  EXPECT_FALSE(F.SelectMode());
  std::vector<QRect> Reported;
  F.SetOnChangeSelectRect([&](const QRect &R) { Reported.push_back(R); });
  EXPECT_TRUE(F.SelectMode());
  QTest::keyClick(&F, Qt::Key_Space);
  EXPECT_FALSE(F.SelectMode());
  QTest::keyClick(&F, Qt::Key_Space);
  EXPECT_TRUE(F.SelectMode());
  F.SelectAllAction->trigger();
  ASSERT_FALSE(Reported.empty());
  EXPECT_EQ(Reported.back(), QRect(0, 0, 300, 200));
  EXPECT_EQ(F.PointText(), QStringLiteral("(0,0)-(300,200)"));

  // A new selection 4 : 3 from (10, 10): 100 wide is 75 high.
  F.SetSelectRect(QRect());
  F.SetSelectSize(QSize(4, 3));
  QWidget *C = reinterpret_cast<QWidget *>(F.Canvas);
  QTest::mousePress(C, Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseMove(C, QPoint(110, 30));
  QTest::mouseRelease(C, Qt::LeftButton, {}, QPoint(110, 30));
  EXPECT_EQ(F.SelectRect(), QRect(10, 10, 100, 75));
  EXPECT_EQ(Reported.back(), QRect(10, 10, 100, 75));
  // Grabbing the bottom-right corner keeps the aspect within the picture:
  // at most 190 high below row 10, so 190 x 4 / 3 = 253 wide.
  QTest::mousePress(C, Qt::LeftButton, {}, QPoint(110, 85));
  QTest::mouseMove(C, QPoint(500, 90));
  QTest::mouseRelease(C, Qt::LeftButton, {}, QPoint(500, 90));
  EXPECT_EQ(F.SelectRect(), QRect(10, 10, 253, 190));
  // A press inside moves it, limited to the picture (300 - 253 = 47).
  QTest::mousePress(C, Qt::LeftButton, {}, QPoint(100, 100));
  QTest::mouseMove(C, QPoint(400, 100));
  QTest::mouseRelease(C, Qt::LeftButton, {}, QPoint(400, 100));
  EXPECT_EQ(F.SelectRect(), QRect(47, 10, 253, 190));
  EXPECT_EQ(Reported.back(), QRect(47, 10, 253, 190));
}

// The counts of a picture whose samples are given, counted as the dialogs count.
THistogramCounts CountsOf(uint32_t Channels, const std::function<uint8_t(uint32_t i, uint32_t c)> &Sample) {
  TICCImgOwner Img;
  Img->Width = 64;
  Img->Height = 4;
  Img->Channels = Channels;
  Img->BPP = 8;
  Img->PixelFormat = Channels == 1 ? PIXFMT_GRAY : PIXFMT_BGR;
  Img->Bpl = GetAlignedBpl(Img->Width, Channels);
  Img->Mem = AllocPixelBlock(Img->Bpl, Img->Height);
  for (uint32_t y = 0; y < Img->Height; ++y)
    for (uint32_t x = 0; x < Img->Width; ++x)
      for (uint32_t c = 0; c < Channels; ++c) Img->Mem[y * Img->Bpl + x * Channels + c] = Sample(y * 64 + x, c);
  THistogramCounts H{};
  CalcHistogram(*Img, H, 3, nullptr, nullptr, false);
  return H;
}

// The colours of the bitmap's non-white pixels.
std::set<QRgb> Inked(const QImage &B) {
  std::set<QRgb> S;
  for (int y = 0; y < B.height(); ++y)
    for (int x = 0; x < B.width(); ++x)
      if ((B.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF) S.insert(B.pixel(x, y) & 0xFFFFFF);
  return S;
}

TEST(HistogramWindow, AGrayPictureShowsOneGrayHistogramInRGBAndYAndNothingInTheColourViews) {
  const THistogramCounts Gray = CountsOf(1, [](uint32_t i, uint32_t) { return uint8_t(i % 200); });
  TPreviewOption Option;
  THistogramForm W(Option, false);
  W.SetDefaultCount(Gray);
  EXPECT_TRUE(W.IsGrayscale);
  EXPECT_EQ(W.TotalCount, 256u);
  // The unprocessed picture blends 0x808080 with weight 30 into white.
  const int v = (30 * 0x80 + 226 * 255) >> 8;
  const QRgb Light = QRgb(v << 16 | v << 8 | v);
  struct Case {
    THistogramChannel Channel;
    std::set<QRgb> Expected;
  } Cases[] = {
      {THistogramChannel::RGB, {Light}}, {THistogramChannel::R, {}}, {THistogramChannel::G, {}},
      {THistogramChannel::B, {}},        {THistogramChannel::CbCr, {}}, {THistogramChannel::Y, {Light}},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(int(C.Channel));
    W.SetChannel(C.Channel);
    EXPECT_EQ(Inked(W.BackBuf()), C.Expected);
  }
  // "Y" draws the gray levels where they are: level 0 to 199, none above.
  W.SetChannel(THistogramChannel::Y);
  EXPECT_NE(W.BackBuf().pixel(6 + 0, 128) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_NE(W.BackBuf().pixel(6 + 199, 128) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(W.BackBuf().pixel(6 + 200, 128) & 0xFFFFFF, 0xFFFFFFu);
  const THistogramCounts Colour = CountsOf(3, [](uint32_t i, uint32_t c) { return uint8_t(i * (c + 1)); });
  W.SetDefaultCount(Colour);
  EXPECT_FALSE(W.IsGrayscale);
}

TEST(HistogramWindow, BarsFollowTheScaleAndBlendTheProcessedPictureOverTheUnprocessedOne) {
  THistogramCounts Before{}, After{};
  Before[HIST_RED + 10] = 1000;  // the maximum: a full bar of 127
  Before[HIST_RED + 20] = 10;
  After[HIST_RED + 10] = 1000;
  struct Case {
    const char *Name;
    bool Log;
    int Level, Height;
  } Cases[] = {
      {"linear, the maximum", false, 10, 127},
      {"linear: 10 x 127 / 1000 truncates to 1", false, 20, 1},
      {"logarithmic: ln 10 x 127 / ln 1000 is 42.3", true, 20, 42},
      {"logarithmic, the maximum", true, 10, 127},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    const QImage B = DrawHistogram(Before, nullptr, THistogramChannel::R, C.Log, false);
    int H = 0;
    while (H < 130 && (B.pixel(6 + C.Level, 128 - H) & 0xFFFFFF) != 0xFFFFFF) ++H;
    EXPECT_EQ(H, C.Height);
  }
  // Red over white with 30, then red again with 85: each byte blends in turn.
  const QImage B = DrawHistogram(Before, &After, THistogramChannel::R, false, false);
  const int g1 = (226 * 255) >> 8, r1 = (30 * 255 + 226 * 255) >> 8;
  const int g2 = (171 * g1) >> 8, r2 = (85 * 255 + 171 * r1) >> 8;
  EXPECT_EQ(B.pixel(16, 128) & 0xFFFFFF, QRgb(r2 << 16 | g2 << 8 | g2));
  EXPECT_EQ(B.pixel(26, 128) & 0xFFFFFF, QRgb(r1 << 16 | g1 << 8 | g1));
}

TEST(HistogramWindow, MouseOverTextAndModesByChannel) {
  TPreviewOption Option;
  THistogramForm W(Option, true);
  THistogramCounts H = CountsOf(3, [](uint32_t i, uint32_t c) { return uint8_t(c == 2 ? i % 4 : 0); });
  W.SetDefaultCount(H);
  W.UpdateHistogram(H);
  struct Case {
    THistogramChannel Channel;
    int32_t Mode;
    QString Text;  // at level 3
  } Cases[] = {
      {THistogramChannel::RGB, 1, {}},
      {THistogramChannel::R, 1, QStringLiteral("Value:3  64/256 (25.00%)")},
      {THistogramChannel::G, 1, QStringLiteral("Value:3  0/256 (0.00%)")},
      {THistogramChannel::B, 1, QStringLiteral("Value:3  0/256 (0.00%)")},
      {THistogramChannel::Y, 2, QStringLiteral("Value:3  0/256 (0.00%)")},
      {THistogramChannel::CbCr, 2, {}},
      {THistogramChannel::L, 4, QStringLiteral("Value:3  0/256 (0.00%)")},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(int(C.Channel));
    W.SetChannel(C.Channel);
    EXPECT_EQ(W.GetHistogramMode(), C.Mode);
    EXPECT_EQ(W.ValueText(3), C.Text);
  }
  // "L" is offered only in Lab mode.
  THistogramForm NoLab(Option, false);
  EXPECT_EQ(NoLab.ChannelBox->count(), 6);
  EXPECT_EQ(W.ChannelBox->count(), 7);
}

TEST(PreviewThreads, OfTwoQuickChangesOnlyTheSecondResultIsShown) {
  dialogtest::TDialogFixture Fx;
  Fx.Add("photo", 120, 80, Flat);
  TFillDialog D(Fx.Context());
  D.SetPreviewImageIndex(0);
  ASSERT_NE(D.Master(), nullptr);
  auto Gate = std::make_shared<TGate>();
  D.Gate = Gate;
  D.Value = 50;
  D.RequestPreview();
  // The first computation is running when the second change comes.
  Gate->WaitEntered();
  D.Gate = nullptr;
  D.Value = 200;
  D.RequestPreview();
  Gate->Release();
  ASSERT_TRUE(D.WaitForPreview());
  // Let anything still queued arrive.
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(D.ShownFullCount(), 1);
  ASSERT_NE(D.Dest2Image(), nullptr);
  EXPECT_EQ(Sample(*D.Dest2Image(), 5, 5), 200);
  EXPECT_TRUE(D.PreviewWindow()->CanMove);
}

TEST(PreviewThreads, ZoomedViewShowsTheSpotBeforeTheFullPictureIsDone) {
  dialogtest::TDialogFixture Fx;
  Fx.Add("photo", 600, 400, Flat);
  TFillDialog D(Fx.Context());
  TPreviewForm &F = *D.PreviewWindow();
  SetClientSize(F, 200, 100);
  D.SetPreviewImageIndex(0);
  F.SetViewMode(1);
  F.SetScrollOffset(QPoint(100, 50));
  const QRect Spot = F.GetViewRect();
  ASSERT_EQ(Spot, QRect(100, 400 - 150, 200, 100));
  auto Gate = std::make_shared<TGate>();
  D.Gate = Gate;
  D.Value = 222;
  D.RequestPreview();
  while (D.ShownSpotCount() == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  const TICCImgInfo &Dest = *D.DestImage();
  // Rows bottom-up: the spot covers rows 250 to 349 as stored, 50 to 149 from the top.
  EXPECT_EQ(Sample(Dest, 100, 50), 222);
  EXPECT_EQ(Sample(Dest, 299, 149), 222);
  EXPECT_EQ(Sample(Dest, 99, 50), 90);
  EXPECT_EQ(Sample(Dest, 100, 150), 90);
  EXPECT_EQ(D.ShownFullCount(), 0);
  Gate->Release();
  ASSERT_TRUE(D.WaitForPreview());
  EXPECT_EQ(Sample(*D.DestImage(), 0, 0), 222);
}

TEST(PreviewThreads, TheProcessedHistogramReachesTheHistogramWindow) {
  dialogtest::TDialogFixture Fx;
  Fx.Add("photo", 64, 32, Flat);
  TFillDialog D(Fx.Context(), true);
  D.SetPreviewImageIndex(0);
  // The unprocessed picture: every pixel at 90.
  EXPECT_EQ(D.DefaultHistogram()[HIST_RED + 90], 64u * 32u);
  EXPECT_EQ(D.HistogramWindow()->TotalCount, 64u * 32u);
  D.Value = 17;
  D.RequestPreview();
  ASSERT_TRUE(D.WaitForPreview());
  EXPECT_EQ(D.ProcessedHistogram()[HIST_RED + 17], 64u * 32u);
  EXPECT_EQ(D.ProcessedHistogram()[HIST_GREEN + 17], 64u * 32u);
}

// The spot of the levels dialog takes the automatic ranges of the whole
// picture: resolved from its histogram, the manual levels do to the whole
// picture exactly what the automatic mode does.
TEST(LevelsDialog, ResolvedAutomaticRangesMatchTheEffectOnTheWholePicture) {
  std::mt19937 Rng(7);
  TICCImgOwner Img;
  Img->Width = 97;
  Img->Height = 41;
  Img->Channels = 3;
  Img->BPP = 8;
  Img->PixelFormat = PIXFMT_BGR;
  Img->Bpl = GetAlignedBpl(97, 3);
  Img->Mem = AllocPixelBlock(Img->Bpl, 41);
  for (uint32_t y = 0; y < 41; ++y)
    for (uint32_t x = 0; x < 97 * 3; ++x) Img->Mem[y * Img->Bpl + x] = uint8_t(20 + (x % 3) * 15 + Rng() % 150);
  THistogramCounts H{};
  CalcHistogram(*Img, H, 3, nullptr, nullptr, false);
  TMultiThread Pool(2);
  for (uint32_t Mode : {1u, 2u, 3u}) {
    SCOPED_TRACE(Mode);
    TLevelsAdjust Auto;
    Auto.FAutoMode = Mode;
    Auto.FClipShadow = 50;
    Auto.FClipHighlight = 120;
    Auto.FInputMin[1] = 30;  // set by hand, overruled by every automatic mode
    TLevelsAdjust Manual;
    ResolveAutomaticLevels(Auto, H, 97u * 41u, false, false, Manual);
    EXPECT_EQ(Manual.FAutoMode, 0u);
    TICCImgOwner A, B;
    CopyICCImgInfo(*Img, *A, false);
    CopyICCImgInfo(*Img, *B, false);
    TEffectParams P;
    P.MT = &Pool;
    Auto.DoEffect(*A, P);
    Manual.DoEffect(*B, P);
    ASSERT_EQ(A->BPP, B->BPP);
    EXPECT_EQ(0, std::memcmp(A->Mem, B->Mem, size_t(A->Bpl) * A->Height));
  }
}

TEST(LevelsDialog, AnEditedFieldReachesThePreview) {
  dialogtest::TDialogFixture Fx;
  Fx.Add("photo", 64, 32, [](int x, int) { return qRgb(100, 100, 100 + (x % 2)); });
  TLevelsAdjust &Levels = dynamic_cast<TLevelsAdjust &>(*Fx.Effects.FindByID(EFFECT_LEVELS));
  TLevelsForm F(Levels, Fx.Context());
  F.HistogramCheck->setChecked(false);
  ASSERT_NE(F.Master(), nullptr);
  // Input black 100 on the master: luma 100 becomes 0.
  F.InputBlack->setValue(100);
  ASSERT_TRUE(F.WaitForPreview());
  ASSERT_NE(F.Dest2Image(), nullptr);
  EXPECT_LE(Sample(*F.Dest2Image(), 0, 0, 1), 2);
  // The effect itself is untouched until OK.
  EXPECT_EQ(Levels.FInputMin[0], 0);
  // "RGB" edits the three colour channels together.
  F.InputBlack->setValue(0);
  F.ChannelBox->setCurrentIndex(4);
  F.OutputWhite->setValue(128);
  EXPECT_EQ(F.Working().FHighlightOut, (std::array<int32_t, 4>{255, 128, 128, 128}));
  ASSERT_TRUE(F.WaitForPreview());
  EXPECT_NEAR(Sample(*F.Dest2Image(), 0, 0, 1), 50, 1);
}

TEST(LevelsDialog, TheSlidersOfBothStripsSetTheFields) {
  dialogtest::TDialogFixture Fx;
  Fx.Add("photo", 64, 32, Flat);
  TLevelsAdjust &Levels = dynamic_cast<TLevelsAdjust &>(*Fx.Effects.FindByID(EFFECT_LEVELS));
  TLevelsForm F(Levels, Fx.Context());
  F.PreviewCheck->setChecked(false);
  auto Drag = [](QWidget *W, int FromLevel, int ToLevel) {
    // Level 0 stands at x = 6, as in the histogram window.
    QTest::mousePress(W, Qt::LeftButton, {}, QPoint(6 + FromLevel, 50));
    QTest::mouseMove(W, QPoint(6 + ToLevel, 50));
    QTest::mouseRelease(W, Qt::LeftButton, {}, QPoint(6 + ToLevel, 50));
  };
  QWidget *In = reinterpret_cast<QWidget *>(F.InputStrip);
  QWidget *Out = reinterpret_cast<QWidget *>(F.OutputStrip);
  Drag(In, 0, 50);
  EXPECT_EQ(F.InputBlack->value(), 50);
  Drag(In, 255, 205);
  EXPECT_EQ(F.InputWhite->value(), 205);
  // The midtone slider sits where the gamma puts middle gray: 50 + 155 / 2.
  // Dragged to 38 of the 155 levels, 38 / 155 = 0.5 ^ gamma gives gamma 2.03.
  Drag(In, 127, 50 + 38);
  EXPECT_DOUBLE_EQ(F.GammaEdit->value(), 2.03);
  Drag(Out, 255, 200);
  EXPECT_EQ(F.OutputWhite->value(), 200);
  Drag(Out, 0, 30);
  EXPECT_EQ(F.OutputBlack->value(), 30);
  EXPECT_EQ(F.Working().FInputMin[0], 50);
  EXPECT_EQ(F.Working().FHighlightOut[0], 200);
  EXPECT_EQ(F.Working().FInputMin[1], 0);
}

}  // namespace

namespace {
// The trimming dialog starts from the whole picture selected; a fixed aspect
// then takes over from whichever corner is grabbed. (QTest reads a press at
// the null point as the widget's centre, so the corners are pressed one
// pixel in.)
TEST(PreviewWindow, AFixedAspectDragFromACornerOfTheWholePictureStaysOnThePicture) {
  dialogtest::TDialogFixture Fx;
  Fx.Add("small", 160, 120, Flat);
  TFillDialog D(Fx.Context());
  LoadStill(D, QSize(800, 500));
  TPreviewForm &F = *D.PreviewWindow();
  F.SetOnChangeSelectRect([](const QRect &) {});
  QWidget *C = reinterpret_cast<QWidget *>(F.Canvas);
  struct Case {
    const char *Name;
    QRect Before;
    QPoint From, To;
    QRect Expected;
  } Cases[] = {
      {"a new selection near the top-left corner", QRect(), {1, 1}, {81, 46}, QRect(1, 1, 80, 45)},
      {"the top-left corner dragged inwards", QRect(0, 0, 160, 120), {1, 1}, {20, 20}, QRect(0, 30, 160, 90)},
      {"the top-left corner dragged a little", QRect(0, 0, 160, 120), {1, 1}, {60, 80}, QRect(60, 64, 100, 56)},
      {"the bottom-right corner dragged inwards", QRect(0, 0, 160, 120), {159, 119}, {100, 50}, QRect(0, 0, 100, 56)},
  };
  for (const Case &K : Cases) {
    F.SetSelectSize(QSize(16, 9));
    F.SetSelectRect(K.Before);
    QTest::mousePress(C, Qt::LeftButton, {}, K.From);
    QTest::mouseMove(C, K.To);
    QTest::mouseRelease(C, Qt::LeftButton, {}, K.To);
    EXPECT_EQ(F.SelectRect(), K.Expected) << K.Name;
    EXPECT_TRUE(QRect(0, 0, 160, 120).contains(F.SelectRect())) << K.Name;
  }
}
}  // namespace
