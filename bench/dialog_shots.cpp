// dialog_shots: pictures of the text, composite and lens correction dialogs
// for people to look at, on the screen a virtual display gives:
//
//   dialog_shots DIR PHOTO PHOTO2 OVERLAY
//       the text dialog over PHOTO with its text block (the selection
//       rectangle that can be dragged) in the preview window, the same after
//       the block was dragged; the composite dialog laying OVERLAY on PHOTO2;
//       the lens correction dialog. Each window and the whole screen are
//       saved as PNGs into DIR. Run under xvfb-run (a 1600 x 1000 screen).
#include "app/window/dialogs/AddTextForm.h"
#include "app/window/dialogs/CompositeForm.h"
#include "app/window/dialogs/DeDistortionForm.h"
#include "app/window/preview/PreviewForm.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/ImageInfo.h"
#include "effects/DeDistortionFilter.h"
#include "effects/Effect.h"
#include "io/Pixio.h"
#include "resample/Filter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QSpinBox>
#include <QMouseEvent>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void Settle(TPreviewBaseForm &F) {
  QElapsedTimer T;
  T.start();
  while ((!F.PreviewWindow()->isVisible() || F.ShownFullCount() == 0) && T.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  F.WaitForPreview(30000);
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void Save(QWidget &W, const std::string &Path) {
  if (!W.grab().save(QString::fromStdString(Path))) std::fprintf(stderr, "cannot write %s\n", Path.c_str());
}

void SaveScreen(QWidget &W, const std::string &Path) {
  if (QScreen *S = W.screen()) S->grabWindow(0).save(QString::fromStdString(Path));
}

void PlacePreview() {
  PreviewOption.Width = 760;
  PreviewOption.Height = 560;
  PreviewOption.Left = 10;
  PreviewOption.Top = 10;
  PreviewOption.ViewMode = 0;
}

// A list of the one photo Path, and the context a dialog opened on it gets.
void ListOf(TImageInfoList &List, const std::string &Path) {
  auto Info = std::make_unique<TImageInfo>();
  Info->FPath = Path;
  List.Add(std::move(Info));
  PlacePreview();
}

TPreviewContext ContextOf(TImageInfoList &List, TEffectList &Effects) {
  TPreviewContext Ctx;
  Ctx.List = &List;
  Ctx.SelectedIndex = 0;
  Ctx.Effects = &Effects;
  Ctx.Option = &PreviewOption;
  return Ctx;
}

int Shots(const std::string &Out, const std::string &Photo, const std::string &Photo2, const std::string &Overlay) {
  fs::create_directories(Out);
  TEffectList Effects;
  CreateDefaultEffects(Effects, "", true);
  Effects.FindByID(EFFECT_RESIZE)->SetUse(false);

  {
    TImageInfoList List;
    ListOf(List, Photo);
    auto &T = dynamic_cast<TAddTextEffect &>(*Effects.FindByID(EFFECT_ADD_TEXT));
    T.FText = "<ymd>\r\n文字入れ  Tessivo";
    T.FFont.Size = 22;
    T.FParam.Position = 8;
    T.FParam.XOffset = -12;
    T.FParam.YOffset = -10;
    TAddTextForm F(T, ContextOf(List, Effects));
    F.show();
    Settle(F);
    Save(F, Out + "/text-dialog.png");
    Save(*F.PreviewWindow(), Out + "/text-preview.png");
    SaveScreen(F, Out + "/text-screen.png");
    // The block dragged up and to the left, as a hand would.
    TPreviewForm &W = *F.PreviewWindow();
    QWidget *Canvas = reinterpret_cast<QWidget *>(W.Canvas);
    const QRect B = F.TextBlock();
    const double Z = W.Zoom();
    const QPoint At(int(B.center().x() * Z) - W.ScrollOffset().x(), int(B.center().y() * Z) - W.ScrollOffset().y());
    const auto Mouse = [Canvas](QEvent::Type Type, QPoint P, Qt::MouseButtons Buttons) {
      QMouseEvent E(Type, QPointF(P), Canvas->mapToGlobal(QPointF(P)), Qt::LeftButton, Buttons, Qt::NoModifier);
      QCoreApplication::sendEvent(Canvas, &E);
    };
    Mouse(QEvent::MouseButtonPress, At, Qt::LeftButton);
    for (int i = 1; i <= 8; ++i) Mouse(QEvent::MouseMove, At + QPoint(-30, -25) * i, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, At + QPoint(-240, -200), Qt::NoButton);
    Settle(F);
    Save(*F.PreviewWindow(), Out + "/text-preview-dragged.png");
    SaveScreen(F, Out + "/text-screen-dragged.png");
    std::printf("text block %d,%d %dx%d, dragged to %d,%d; X %d, Y %d\n", B.x(), B.y(), B.width(), B.height(),
                F.TextBlock().x(), F.TextBlock().y(), F.XEdit->value(), F.YEdit->value());
    F.reject();
  }
  {
    TImageInfoList List;
    ListOf(List, Photo2);
    auto &C = dynamic_cast<TCompositeEffect &>(*Effects.FindByID(EFFECT_COMPOSITE));
    C.FImageFileName = Overlay;
    C.FBasePos = 6;
    C.FOffsetX = -10;
    C.FOffsetY = 10;
    C.FOpacity = 85;
    TCompositeForm F(C, ContextOf(List, Effects));
    F.show();
    Settle(F);
    Save(F, Out + "/composite-dialog.png");
    Save(*F.PreviewWindow(), Out + "/composite-preview.png");
    SaveScreen(F, Out + "/composite-screen.png");
    F.reject();
  }
  {
    // With the tools of the build's bin folder, so their buttons are enabled.
    TDeDistortionFilter L(TESSIVO_BIN_DIR);
    // As reading the settings leaves it where only our tool is installed.
    if (!L.ToolExists(DEDISTORTION_TOOL_PTSTITCHER)) L.FTool = DEDISTORTION_TOOL_DEDISTORTION;
    TDeDistortionForm F(L);
    F.show();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    Save(F, Out + "/dedistortion-dialog.png");
    F.reject();
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: dialog_shots DIR PHOTO PHOTO2 OVERLAY\n");
    return 2;
  }
  char Tmpl[] = "/tmp/tessivo-dialog-shots-XXXXXX";
  const std::string Data = ::mkdtemp(Tmpl);
  ::setenv("TESSIVOPLUS_DATA", (Data + "/").c_str(), 1);
  QApplication App(argc, argv);
  LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  SystemOption.ProcessorCount = int32_t(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));
  CreateBatchObjects(SystemOption.ProcessorCount);
  ErrorLogForm();
  const int Result = Shots(argv[1], argv[2], argv[3], argv[4]);
  FreeBatchObjects();
  FreePixio();
  fs::remove_all(Data);
  return Result;
}
