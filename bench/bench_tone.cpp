// Colour correction, tone curve, levels and grayscale on a 6000 x 4000 8-bit
// RGB image with 2 threads, beside ImageMagick (-level, -gamma, -modulate,
// -clut, -grayscale) and vips (linear, maplut, colourspace b-w) on the same
// picture in the same run.
//   bench_tone                      every case
//   bench_tone --benchmark_filter=Levels
// Our cases time DoEffect alone on a fresh copy of the 8-bit picture (the
// copy is not timed) in a block the page cache kept, as in a batch of
// same-size photos, so the first touch of new pages is not timed either. The command-line peers are timed as whole commands on
// an uncompressed file (ImageMagick: MPC, vips: .v) with the time of a plain
// copy by the same tool (the best of three) subtracted, so that start-up,
// reading and writing are left out; ImageMagick runs with "-limit thread 2",
// vips with VIPS_CONCURRENCY=2. Every case reports MPix/s.
#include "core/ImgInfo.h"
#include "core/MultiThread.h"
#include "effects/ColorAdjust.h"
#include "effects/GrayscaleFilter.h"
#include "effects/Levels.h"
#include "effects/ToneCurve.h"
#include "bench/MagickPeer.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>


namespace {

constexpr uint32_t W = 6000, H = 4000;
using TClock = std::chrono::steady_clock;

// A photo-like picture: smooth gradients, fine noise and hard edges.
void Paint(TICCImgInfo &Img) {
  std::mt19937 rng(11);
  for (uint32_t y = 0; y < Img.Height; ++y) {
    uint8_t *row = ScanLine(Img, y);
    for (uint32_t x = 0; x < Img.Width; ++x)
      for (uint32_t c = 0; c < 3; ++c) {
        int32_t v = int32_t((x * (3 + c) + y * (5 - c)) / 97 % 200) + int32_t(rng() % 24);
        if (((x / 300) + (y / 200)) % 2) v += 30;
        row[x * 3 + c] = uint8_t(std::min(v, 255));
      }
  }
}

const TICCImgInfo &Source() {
  static const std::unique_ptr<TICCImgInfo, void (*)(TICCImgInfo *)> img(
      [] {
        auto *i = new TICCImgInfo{};
        i->Width = W, i->Height = H, i->Channels = 3, i->BPP = BPP_8, i->PixelFormat = PIXFMT_BGR;
        i->ProfileType = PROFILE_BUILTIN_SRGB;
        i->Bpl = GetAlignedBpl(W, 3);
        i->Mem = AllocPixelBlock(i->Bpl, H);
        Paint(*i);
        return i;
      }(),
      [](TICCImgInfo *i) {
        FreeICCImgInfo(*i, false);
        delete i;
      });
  return *img;
}

// Wall-clock rate, and the rate two idle cores would give from the CPU time
// the work took (the figure to compare on a shared, loaded machine).
void SetRate(benchmark::State &State, double CpuSeconds) {
  const double mpix = double(W) * H * double(State.iterations()) / 1e6;
  State.counters["MPix/s"] = benchmark::Counter(mpix, benchmark::Counter::kIsRate);
  State.counters["MPix/s@2cpu"] = CpuSeconds > 0 ? mpix / (CpuSeconds / 2) : 0;
  State.counters["cpu_ms"] = CpuSeconds * 1000 / double(std::max<int64_t>(State.iterations(), 1));
}

double ProcessCpu() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double ChildrenCpu() {
  rusage r;
  getrusage(RUSAGE_CHILDREN, &r);
  return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

// A copy of the source in a block from the page cache, as a batch of
// same-size photos finds them: the block the previous iteration released.
void CopySource(TICCImgInfo &Img) {
  const TICCImgInfo &s = Source();
  Img = s;
  Img.ICCProfile = nullptr, Img.ProfileLen = 0;
  Img.Mem = AllocPixelBlockReused(s.Bpl, s.Height);
  std::memcpy(Img.Mem, s.Mem, size_t(s.Bpl) * s.Height);
}

// Times Work on a fresh copy of the source for every iteration (Work may
// replace the copy's block; the record is freed afterwards).
template <class F>
void TimeOnCopies(benchmark::State &State, bool TimeTheCopy, const F &Work) {
  double cpu = 0;
  for (auto _ : State) {
    TICCImgInfo img{};
    if (!TimeTheCopy) CopySource(img);
    const auto t0 = TClock::now();
    const double c0 = ProcessCpu();
    if (TimeTheCopy) CopySource(img);
    Work(img);
    cpu += ProcessCpu() - c0;
    State.SetIterationTime(std::chrono::duration<double>(TClock::now() - t0).count());
    FreeICCImgInfo(img, false);
  }
  SetRate(State, cpu);
}

void RunEffect(benchmark::State &State, const TEffect &E) {
  TMultiThread pool(2);
  TEffectParams p;
  p.MT = &pool;
  TimeOnCopies(State, false, [&](TICCImgInfo &Img) { E.DoEffect(Img, p); });
}

#define TONE_BENCH(Name) BENCHMARK(Name)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(1.0)

void BM_LevelsChannels(benchmark::State &State) {
  TLevelsAdjust e;
  for (size_t c = 1; c < 4; ++c) e.FInputMin[c] = 10, e.FInputMax[c] = 245, e.FGamma[c] = 1.8;
  RunEffect(State, e);
}
TONE_BENCH(BM_LevelsChannels);

void BM_LevelsMaster(benchmark::State &State) {
  TLevelsAdjust e;
  e.FInputMin[0] = 10, e.FInputMax[0] = 245, e.FGamma[0] = 1.8;
  RunEffect(State, e);
}
TONE_BENCH(BM_LevelsMaster);

void BM_LevelsAutoPerChannel(benchmark::State &State) {
  TLevelsAdjust e;
  e.FAutoMode = 2;
  RunEffect(State, e);
}
TONE_BENCH(BM_LevelsAutoPerChannel);

void BM_ColorAdjustRGB(benchmark::State &State) {
  TColorAdjust e;
  e.FContrast = 40, e.FRGBGamma = 1.3, e.FHue = 20;
  e.UpdateTables();
  RunEffect(State, e);
}
TONE_BENCH(BM_ColorAdjustRGB);

void BM_ColorAdjustLumaChromaRGB(benchmark::State &State) {
  TColorAdjust e;
  e.FLumaMin = -10, e.FChroma = 60, e.FContrast = 40, e.FRGBGamma = 1.3;
  e.UpdateTables();
  RunEffect(State, e);
}
TONE_BENCH(BM_ColorAdjustLumaChromaRGB);

void BM_ToneCurveRGB(benchmark::State &State) {
  TToneCurveEffect e;
  e.FControlPoints[CURVE_RGB] = *ParseCurve("0,0,64,48,128,140,192,210,255,255");
  e.FControlPoints[CURVE_RED] = *ParseCurve("0,0,128,120,255,255");
  e.UpdateTables();
  RunEffect(State, e);
}
TONE_BENCH(BM_ToneCurveRGB);

void BM_ToneCurveRGBAndLuma(benchmark::State &State) {
  TToneCurveEffect e;
  e.FControlPoints[CURVE_RGB] = *ParseCurve("0,0,64,48,128,140,192,210,255,255");
  e.FControlPoints[CURVE_LUMA] = *ParseCurve("0,0,128,150,255,255");
  e.UpdateTables();
  RunEffect(State, e);
}
TONE_BENCH(BM_ToneCurveRGBAndLuma);

void BM_Grayscale(benchmark::State &State) {
  TGrayscaleFilter e;
  e.FDegamma = State.range(0) != 0;
  RunEffect(State, e);
}
TONE_BENCH(BM_Grayscale)->ArgName("linear")->Arg(0)->Arg(1);

// The copy each of our iterations starts from, for scale.
void BM_CopyOfTheSource(benchmark::State &State) {
  TimeOnCopies(State, true, [](TICCImgInfo &) {});
}
TONE_BENCH(BM_CopyOfTheSource);

// ---- command-line peers ------------------------------------------------------

// Runs a program quietly with VIPS_CONCURRENCY=2; false when it fails.
bool RunQuiet(std::vector<std::string> Args) {
  std::vector<char *> argv;
  for (auto &a : Args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = {"VIPS_CONCURRENCY=2", "PATH=/usr/bin:/bin", "HOME=/tmp"};
  std::vector<char *> envp;
  for (auto &e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const bool started = posix_spawnp(&pid, Args[0].c_str(), &fa, nullptr, argv.data(), envp.data()) == 0;
  posix_spawn_file_actions_destroy(&fa);
  if (!started) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

const TMagickPeer &Magick() {
  static const TMagickPeer peer("bench_tone", Source());
  return peer;
}

// The picture as an uncompressed .v file for vips, with a 256-entry
// identity table for maplut. The rows go out as stored (bottom-up, B, G,
// R): orientation and channel order change nothing in the timing.
struct TVipsInput {
  std::filesystem::path Dir, V, Lut;
  bool Ok = false;
  TVipsInput() {
    Dir = std::filesystem::temp_directory_path() / ("bench_tone_vips_" + std::to_string(getpid()));
    std::filesystem::create_directories(Dir);
    const std::filesystem::path raw = Dir / "img.raw";
    V = Dir / "img.v", Lut = Dir / "lut.v";
    if (FILE *f = std::fopen(raw.c_str(), "wb")) {
      for (uint32_t y = 0; y < H; ++y) std::fwrite(ScanLine(Source(), y), 1, size_t(W) * 3, f);
      std::fclose(f);
      Ok = RunQuiet({"vips", "rawload", raw.string(), V.string(), std::to_string(W), std::to_string(H), "3"}) &&
           RunQuiet({"vips", "identity", Lut.string()});
      std::filesystem::remove(raw);
    }
  }
  ~TVipsInput() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
};

const TVipsInput &Vips() {
  static const TVipsInput input;
  return input;
}

// Wall and CPU seconds of one command (wall < 0: it failed).
struct TTimes {
  double Wall = -1, Cpu = 0;
};
template <class F>
TTimes Seconds(const F &Command) {
  const auto t0 = TClock::now();
  const double c0 = ChildrenCpu();
  if (!Command()) return {};
  return {std::chrono::duration<double>(TClock::now() - t0).count(), ChildrenCpu() - c0};
}

// Times Command against the best of three runs of Copy, a plain copy (or
// load) by the same tool, and rates the difference.
template <class F, class G>
void RunPeer(benchmark::State &State, const F &Command, const G &Copy, bool Available) {
  if (!Available) {
    State.SkipWithError("the peer is not installed");
    return;
  }
  TTimes base{1e9, 1e9};
  for (int i = 0; i < 3; ++i) {
    const TTimes t = Seconds(Copy);
    if (t.Wall < 0) {
      State.SkipWithError("the plain copy failed");
      return;
    }
    base.Wall = std::min(base.Wall, t.Wall), base.Cpu = std::min(base.Cpu, t.Cpu);
  }
  double cpu = 0;
  for (auto _ : State) {
    const TTimes t = Seconds(Command);
    if (t.Wall < 0) {
      State.SkipWithError("the command failed");
      return;
    }
    State.SetIterationTime(std::max(t.Wall - base.Wall, 1e-6));
    cpu += std::max(t.Cpu - base.Cpu, 1e-6);
  }
  State.counters["copy_ms"] = base.Wall * 1000;
  SetRate(State, cpu);
}

void RunMagick(benchmark::State &State, const std::vector<std::string> &Operations) {
  RunPeer(State, [&] { return Magick().Run(Operations); }, [] { return Magick().Run({}); }, Magick().Ok());
}

void RunVips(benchmark::State &State, const std::vector<std::string> &Operation) {
  const std::string in = Vips().V.string(), out = (Vips().Dir / "out.v").string();
  std::vector<std::string> args = {"vips", Operation[0], in, out};
  args.insert(args.end(), Operation.begin() + 1, Operation.end());
  RunPeer(State, [&] { return RunQuiet(args); }, [&] { return RunQuiet({"vips", "copy", in, out}); }, Vips().Ok);
}

#define PEER_BENCH(Name) BENCHMARK(Name)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3)

void BM_ImageMagickLevel(benchmark::State &State) { RunMagick(State, {"-level", "3.92%,96.08%,1.8"}); }
PEER_BENCH(BM_ImageMagickLevel);

void BM_ImageMagickGamma(benchmark::State &State) { RunMagick(State, {"-gamma", "1.3"}); }
PEER_BENCH(BM_ImageMagickGamma);

void BM_ImageMagickModulate(benchmark::State &State) { RunMagick(State, {"-modulate", "100,150,100"}); }
PEER_BENCH(BM_ImageMagickModulate);

// A tone curve as a colour lookup table: a 256-step gradient bent by a gamma.
void BM_ImageMagickClut(benchmark::State &State) {
  RunMagick(State, {"(", "-size", "256x1", "gradient:", "-gamma", "1.4", ")", "-clut"});
}
PEER_BENCH(BM_ImageMagickClut);

void BM_ImageMagickGrayscale(benchmark::State &State) { RunMagick(State, {"-grayscale", "Rec601Luma"}); }
PEER_BENCH(BM_ImageMagickGrayscale);

void BM_VipsLinear(benchmark::State &State) {
  RunVips(State, {"linear", "0.9 0.9 0.9", "10 10 10", "--uchar"});
}
PEER_BENCH(BM_VipsLinear);

void BM_VipsMaplut(benchmark::State &State) { RunVips(State, {"maplut", Vips().Lut.string()}); }
PEER_BENCH(BM_VipsMaplut);

void BM_VipsGrayscale(benchmark::State &State) { RunVips(State, {"colourspace", "b-w"}); }
PEER_BENCH(BM_VipsGrayscale);

}  // namespace

BENCHMARK_MAIN();
