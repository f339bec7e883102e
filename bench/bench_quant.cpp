// Colour reduction, whole processes as the step starts them: bin/FLAXC and
// bin/IZYINS (BMP in, BMP out, the step's default options) beside pngquant
// --speed 3 and ImageMagick's -colors 256 (PNG in, PNG out) on a 1920 x 1280
// photograph, a mosaic of scikit-image's public-domain photographs; and the
// colour-space conversion sRGB -> Adobe RGB (Ghostscript's a98.icc) of a
// 6000 x 4000 picture with a 2-thread pool.
//   flock /work/bench.lock build/bench/bench_quant
// Each process row reports the wall time and the processor time of the child
// (user + sys, "cpu_s"), since the machine may be shared; compare the rows of
// one run with each other.
#include "color/ICCUtil.h"
#include "core/MultiThread.h"
#include "effects/ColorSpaceConvertEffect.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern char **environ;

namespace {

namespace fs = std::filesystem;

const fs::path Data = fs::path(TESSIVO_BIN_DIR).parent_path() / "bench-data" / "quant";
const std::string PhotoPng = (Data / "mosaic-1920x1280.png").string();
const std::string PhotoBmp = (Data / "mosaic-1920x1280.bmp").string();
const std::string Skimage = "/usr/lib/python3/dist-packages/skimage/data/";

bool EnsurePhoto() {
  if (fs::exists(PhotoPng) && fs::exists(PhotoBmp)) return true;
  fs::create_directories(Data);
  std::string Cmd = "montage";
  for (const char *P : {"astronaut.png", "coffee.png", "chelsea.png", "motorcycle_left.png", "rocket.jpg",
                        "hubble_deep_field.jpg"})
    Cmd += " " + Skimage + P;
  Cmd += " -geometry 640x640^+0+0 -gravity center -extent 640x640 -tile 3x2 -strip PNG24:" + PhotoPng +
         " && convert " + PhotoPng + " -alpha off BMP3:" + PhotoBmp;
  return std::system(Cmd.c_str()) == 0;
}

// Runs a program quietly; answers the child's processor time in seconds, or
// a negative number when it failed.
double RunProcess(const std::vector<std::string> &Args) {
  std::vector<char *> argv;
  for (const std::string &a : Args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  int st = 0;
  struct rusage u {};
  if (wait4(pid, &st, 0, &u) != pid || !WIFEXITED(st) || WEXITSTATUS(st) != 0) return -1;
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Process(benchmark::State &State, const std::vector<std::string> &Args) {
  if (!EnsurePhoto()) {
    State.SkipWithError("cannot make the photograph (ImageMagick and python3-skimage needed)");
    return;
  }
  double Cpu = 0;
  for (auto _ : State) {
    const double c = RunProcess(Args);
    if (c < 0) {
      State.SkipWithError(("failed: " + Args[0]).c_str());
      return;
    }
    Cpu += c;
  }
  State.counters["cpu_s"] = benchmark::Counter(Cpu / double(State.iterations()));
  State.counters["MPix/s_cpu"] = benchmark::Counter(1920.0 * 1280 / 1e6 / (Cpu / double(State.iterations())));
}

const std::string Out = (fs::temp_directory_path() / "bench-quant-out").string();

std::vector<std::string> ToolLine(const char *Tool) {
  return {std::string(TESSIVO_BIN_DIR) + "/" + Tool, PhotoBmp, Out + ".bmp", "-Y10", "-C10", "-G10", "-O8", "-I8",
          "-R1", "-B0", "-A0", "-P256", "-D2", "-L8"};
}

void BM_FLAXC_256(benchmark::State &State) { Process(State, ToolLine("FLAXC")); }
void BM_IZYINS_256(benchmark::State &State) { Process(State, ToolLine("IZYINS")); }
void BM_pngquant_speed3_256(benchmark::State &State) {
  Process(State, {"pngquant", "--speed", "3", "--force", "-o", Out + ".png", "256", PhotoPng});
}
void BM_ImageMagick_colors256(benchmark::State &State) {
  Process(State, {"convert", PhotoPng, "-colors", "256", Out + ".png"});
}

BENCHMARK(BM_FLAXC_256)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_IZYINS_256)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_pngquant_speed3_256)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ImageMagick_colors256)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// sRGB -> Adobe RGB on 6000 x 4000 through the step, 2 threads.
void BM_ColorSpaceConvert_sRGB_to_AdobeRGB_6000x4000(benchmark::State &State) {
  constexpr uint32_t W = 6000, H = 4000;
  const std::string A98 = "/usr/share/color/icc/ghostscript/a98.icc";
  if (!fs::exists(A98)) {
    State.SkipWithError("a98.icc (libgs-common) missing");
    return;
  }
  TColorManagementOption Opt;
  Opt.Enabled = LongTrue;
  CMS.InitProfile(Opt);
  TMultiThread Pool(2);
  TTransForm Transform;
  Transform.SetMultiThread(&Pool);
  TColorSpaceConvertEffect E;
  E.FOutputProfileName = A98;
  TEffectParams Params;
  Params.MT = &Pool;
  Params.ColorTransform = &Transform;
  TICCImgOwner Source;
  TICCImgInfo &S = *Source;
  S.Width = W, S.Height = H, S.Channels = 3, S.BPP = BPP_8, S.PixelFormat = PIXFMT_BGR;
  S.Bpl = GetAlignedBpl(W, 3);
  S.Mem = AllocPixelBlock(S.Bpl, H);
  std::mt19937 Rng(3);
  for (uint32_t y = 0; y < H; ++y)
    for (uint32_t x = 0; x < W * 3; ++x) ScanLine(S, y)[x] = uint8_t((x / 7 + y / 5) + Rng() % 16);
  // The processor time of every thread of the process, around the conversions only.
  const auto ProcessCpu = [] {
    struct rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  };
  double Cpu = 0;
  for (auto _ : State) {
    State.PauseTiming();
    TICCImgOwner Img;
    CopyICCImgInfo(S, *Img, false);
    const double Before = ProcessCpu();
    State.ResumeTiming();
    E.DoEffect(*Img, Params);
    benchmark::DoNotOptimize(Img->Mem);
    State.PauseTiming();
    Cpu += ProcessCpu() - Before;
    State.ResumeTiming();
  }
  State.counters["MPix/s"] =
      benchmark::Counter(double(W) * H / 1e6 * double(State.iterations()), benchmark::Counter::kIsRate);
  // Per second of processor time (both threads together).
  State.counters["MPix/s_cpu"] = benchmark::Counter(double(W) * H / 1e6 * double(State.iterations()) / Cpu);
}
BENCHMARK(BM_ColorSpaceConvert_sRGB_to_AdobeRGB_6000x4000)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
