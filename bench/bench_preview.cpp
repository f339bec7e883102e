// bench_preview: how quickly the levels dialog's preview follows its
// controls on a 24-megapixel photo (6000 x 4000), on the offscreen platform:
//
//   bench_preview latency ROUNDS   one change at a time (the input black
//                                  field, as a slider drag sets it): from the
//                                  change to the spot view's update (zoomed
//                                  view, 100 %) and to the full view's update
//                                  (whole view and zoomed), median and worst
//                                  of ROUNDS, beside the levels step alone
//                                  on the whole photo (the floor of a full
//                                  update) timed in the same run
//   bench_preview drag SECONDS [VIEW]  a drag at 60 changes a second in
//                                  view mode VIEW (default 1, 100 %; 0 the
//                                  whole view): how many spot and full
//                                  updates were shown, and from the last
//                                  change to its spot and full update
//   bench_preview shots DIR [W H]  the levels dialog with its preview and
//                                  histogram windows over a W x H photo
//                                  (default 3000 x 2000), each window saved
//                                  as a PNG into DIR; run under xvfb-run to
//                                  see the windows placed on a screen
//
// Processor time is user + system of this process, all threads included; on
// a shared machine it moves less than the wall clock.
#include "app/window/LevelsForm.h"
#include "app/window/preview/HistogramForm.h"
#include "app/window/preview/PreviewForm.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/ImageInfo.h"
#include "batch/SamplePhotos.h"
#include "core/MultiThread.h"
#include "effects/Effect.h"
#include "io/Pixio.h"
#include "resample/Filter.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPixmap>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

double WallMs() {
  using namespace std::chrono;
  return double(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count()) / 1e3;
}

double CpuMs() {
  rusage U{};
  getrusage(RUSAGE_SELF, &U);
  return double(U.ru_utime.tv_sec + U.ru_stime.tv_sec) * 1e3 + double(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e3;
}

std::string MakeTemp(const char *Name) {
  std::string T = std::string("/tmp/") + Name + "-XXXXXX";
  return ::mkdtemp(T.data());
}

double Median(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  return V.empty() ? 0 : V[V.size() / 2];
}

// The photo in a list, and the chain without the resize step so the dialog
// sees the photo at full size; the preview window opens in ViewMode.
struct TSetup {
  TSetup(const std::string &Dir, uint32_t W, uint32_t H, int32_t ViewMode) {
    PreviewOption.Width = 1000;
    PreviewOption.Height = 700;
    PreviewOption.ViewMode = ViewMode;
    TSamplePhotoSpec Desc;
    Desc.Width = W;
    Desc.Height = H;
    Desc.Seed = 7;
    const std::string Path = Dir + "/IMG_2400.jpg";
    WriteSamplePhoto(Path, Desc);
    auto Info = std::make_unique<TImageInfo>();
    Info->FPath = Path;
    List.Add(std::move(Info));
    CreateDefaultEffects(Effects, "", true);
    Effects.FindByID(EFFECT_RESIZE)->SetUse(false);
  }
  TPreviewContext Context() {
    TPreviewContext Ctx;
    Ctx.List = &List;
    Ctx.SelectedIndex = 0;
    Ctx.Effects = &Effects;
    Ctx.Option = &PreviewOption;
    return Ctx;
  }
  TImageInfoList List;
  TEffectList Effects;
};

TLevelsAdjust &LevelsOf(TEffectList &E) { return dynamic_cast<TLevelsAdjust &>(*E.FindByID(EFFECT_LEVELS)); }

// Runs the event loop until Done or Limit milliseconds passed.
bool Until(const std::function<bool()> &Done, double LimitMs = 30000) {
  const double T0 = WallMs();
  while (!Done()) {
    if (WallMs() - T0 > LimitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  return true;
}

int Latency(int Rounds) {
  const std::string Dir = MakeTemp("tessivo-bench-preview");
  TSetup S(Dir, 6000, 4000, 0);
  TLevelsForm F(LevelsOf(S.Effects), S.Context());
  F.HistogramCheck->setChecked(true);
  F.show();
  F.PreviewWindow()->show();
  F.HistogramWindow()->show();
  QCoreApplication::processEvents();
  if (!F.Master()) {
    std::fprintf(stderr, "the photo did not load\n");
    return 1;
  }
  double Spot = 0, Full = 0;
  F.OnPreviewShown = [&](bool IsSpot) { (IsSpot ? Spot : Full) = WallMs(); };

  // The floor: the levels step alone on the whole photo, on a pool of the
  // size a preview thread has.
  std::vector<double> Step;
  {
    TMultiThread Pool((std::max(1, SystemOption.ProcessorCount) + 1) / 2);
    TEffectParams P;
    P.MT = &Pool;
    TLevelsAdjust L;
    L.FInputMin[0] = 20;
    for (int i = 0; i < Rounds; ++i) {
      TICCImgOwner Img;
      CopyICCImgInfo(*F.Master(), *Img, false);
      const double T0 = WallMs();
      L.DoEffect(*Img, P);
      Step.push_back(WallMs() - T0);
    }
  }

  struct TView {
    const char *Name;
    int32_t Mode;
    std::vector<double> SpotMs, FullMs;
    double Cpu = 0;
  } Views[] = {{"whole view", 0, {}, {}}, {"100 % view", 1, {}, {}}};
  for (TView &V : Views) {
    F.PreviewWindow()->SetViewMode(V.Mode);
    F.WaitForPreview(60000);
    const double C0 = CpuMs();
    for (int i = 0; i < Rounds; ++i) {
      Spot = Full = 0;
      const double T0 = WallMs();
      F.InputBlack->setValue(10 + (i % 40));
      if (!Until([&] { return Full != 0 && (V.Mode == 0 || Spot != 0); })) {
        std::fprintf(stderr, "%s: no update within 30 s\n", V.Name);
        return 1;
      }
      if (V.Mode != 0) V.SpotMs.push_back(Spot - T0);
      V.FullMs.push_back(Full - T0);
    }
    V.Cpu = (CpuMs() - C0) / Rounds;
  }
  std::printf("photo %ux%u, %d rounds, %d processors for the program (machine shared)\n", F.Master()->Width,
              F.Master()->Height, Rounds, SystemOption.ProcessorCount);
  std::printf("levels step alone on the whole photo: median %.1f ms, worst %.1f ms\n", Median(Step),
              *std::max_element(Step.begin(), Step.end()));
  for (const TView &V : Views) {
    if (!V.SpotMs.empty())
      std::printf("%s: change -> spot view  median %.1f ms, worst %.1f ms\n", V.Name, Median(V.SpotMs),
                  *std::max_element(V.SpotMs.begin(), V.SpotMs.end()));
    std::printf("%s: change -> full view  median %.1f ms, worst %.1f ms (%.2f x the step alone); "
                "processor time per change %.1f ms\n",
                V.Name, Median(V.FullMs), *std::max_element(V.FullMs.begin(), V.FullMs.end()),
                Median(V.FullMs) / std::max(0.001, Median(Step)), V.Cpu);
  }
  fs::remove_all(Dir);
  return 0;
}

int Drag(double Seconds, int32_t View) {
  const std::string Dir = MakeTemp("tessivo-bench-preview");
  TSetup S(Dir, 6000, 4000, View);
  TLevelsForm F(LevelsOf(S.Effects), S.Context());
  F.show();
  F.PreviewWindow()->show();
  QCoreApplication::processEvents();
  if (!F.Master()) return 1;
  int Spots = 0, Fulls = 0;
  double LastSpot = 0, LastFull = 0;
  F.OnPreviewShown = [&](bool IsSpot) {
    (IsSpot ? Spots : Fulls)++;
    (IsSpot ? LastSpot : LastFull) = WallMs();
  };
  F.RequestPreview();
  F.WaitForPreview(60000);
  Spots = Fulls = 0;
  const double C0 = CpuMs(), T0 = WallMs();
  int Changes = 0;
  double LastChange = 0;
  while (WallMs() - T0 < Seconds * 1000) {
    LastChange = WallMs();
    F.InputBlack->setValue(10 + (Changes++ % 60));
    const double Next = LastChange + 1000.0 / 60;
    while (WallMs() < Next) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  const int SpotsBefore = Spots, FullsBefore = Fulls;
  Until([&] { return LastFull >= LastChange && (View == 0 || LastSpot >= LastChange) && F.WaitForPreview(0); });
  std::printf("%s: drag of %d changes in %.1f s (machine shared): %d spot and %d full updates shown during it; "
              "last change -> spot %.1f ms, -> full %.1f ms; processor time %.0f ms\n",
              View == 0 ? "whole view" : "100 % view", Changes, Seconds, SpotsBefore, FullsBefore,
              View == 0 ? 0.0 : LastSpot - LastChange, LastFull - LastChange, CpuMs() - C0);
  fs::remove_all(Dir);
  return 0;
}

int Shots(const std::string &Out, uint32_t W, uint32_t H) {
  const std::string Dir = MakeTemp("tessivo-bench-preview");
  TSetup S(Dir, W, H, 0);
  fs::create_directories(Out);
  PreviewOption.Width = 820;
  PreviewOption.Height = 600;
  PreviewOption.Left = 10;
  PreviewOption.Top = 10;
  TLevelsAdjust &L = LevelsOf(S.Effects);
  L.FInputMin[0] = 18;
  L.FInputMax[0] = 235;
  L.FGamma[0] = 1.2;
  L.FHistogram = true;
  TLevelsForm F(L, S.Context());
  F.show();
  Until([&] { return F.PreviewWindow()->isVisible() && F.WaitForPreview(0) && F.ShownFullCount() > 0; }, 60000);
  F.HistogramWindow()->SetChannel(THistogramChannel::RGB);
  F.WaitForPreview(60000);
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  F.grab().save(QString::fromStdString(Out + "/levels-dialog.png"));
  F.PreviewWindow()->grab().save(QString::fromStdString(Out + "/levels-preview.png"));
  F.HistogramWindow()->grab().save(QString::fromStdString(Out + "/levels-histogram.png"));
  if (QScreen *Sc = F.screen()) Sc->grabWindow(0).save(QString::fromStdString(Out + "/levels-screen.png"));
  // The same in the 200 % view with the before picture.
  F.PreviewWindow()->SetViewMode(2);
  F.WaitForPreview(60000);
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  F.PreviewWindow()->grab().save(QString::fromStdString(Out + "/levels-preview-200.png"));
  if (QScreen *Sc = F.screen()) Sc->grabWindow(0).save(QString::fromStdString(Out + "/levels-screen-200.png"));
  std::printf("dialog at %d,%d %dx%d; preview window at %d,%d %dx%d; histogram window at %d,%d\n", F.x(), F.y(),
              F.width(), F.height(), F.PreviewWindow()->x(), F.PreviewWindow()->y(), F.PreviewWindow()->width(),
              F.PreviewWindow()->height(), F.HistogramWindow()->x(), F.HistogramWindow()->y());
  fs::remove_all(Dir);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_preview latency ROUNDS | drag SECONDS [VIEW] | shots DIR [W H]\n");
    return 2;
  }
  const std::string Mode = argv[1];
  if (Mode != "shots" && !std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const std::string Data = MakeTemp("tessivo-bench-data");
  ::setenv("TESSIVOPLUS_DATA", (Data + "/").c_str(), 1);
  QApplication App(argc, argv);
  LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  SystemOption.ProcessorCount = int32_t(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));
  CreateBatchObjects(SystemOption.ProcessorCount);
  ErrorLogForm();
  int Result = 2;
  if (Mode == "latency") Result = Latency(std::max(1, std::atoi(argv[2])));
  if (Mode == "drag") Result = Drag(std::max(0.5, std::atof(argv[2])), argc > 3 ? std::atoi(argv[3]) : 1);
  if (Mode == "shots")
    Result = Shots(argv[2], argc > 4 ? uint32_t(std::atoi(argv[3])) : 3000, argc > 4 ? uint32_t(std::atoi(argv[4])) : 2000);
  FreeBatchObjects();
  FreePixio();
  fs::remove_all(Data);
  return Result;
}
