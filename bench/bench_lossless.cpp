// Lossless JPEG, whole processes: bin/WEMBC against jpegtran (libjpeg-turbo)
// on a 24 MP photo for a 90-degree turn, a crop, Huffman optimisation and
// progressive coding, each run as a new process as the batch starts it; and
// tessivo in lossless mode on 20 such photos with one and with two workers.
//   flock /work/bench.lock build/bench/bench_lossless
// Times are wall clock, with the processes' own processor time (user + sys,
// from wait4) beside them as "cpu_ms" per iteration; the machine may be
// shared, so compare the cases of one run with each other rather than with
// figures of another run, and the processor times rather than the walls.
#include "batch/SamplePhotos.h"
#include "effects/Effect.h"
#include "io/Pixio.h"
#include "lossless/WembOption.h"
#include "lossless/WembShared.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

extern char **environ;

namespace {

namespace fs = std::filesystem;

const fs::path Data = fs::path(TESSIVO_BIN_DIR).parent_path() / "bench-data" / "lossless";
const std::string Photo = (Data / "photo-6000x4000.jpg").string();
// A thumbnail-sized photo: its run is little more than starting the program,
// reading the parameter block and the Exif, and writing the file.
const std::string SmallPhoto = (Data / "photo-64x48.jpg").string();

void EnsurePhoto() {
  if (fs::exists(Photo) && fs::exists(SmallPhoto)) return;
  fs::create_directories(Data);
  LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  TSamplePhotoSpec s;
  s.Width = 6000;
  s.Height = 4000;
  s.Orientation = 1;
  s.DateTimeOriginal = "2024:06:01 12:00:00";
  s.Quality = 92;
  WriteSamplePhoto(Photo, s);
  s.Width = 64;
  s.Height = 48;
  WriteSamplePhoto(SmallPhoto, s);
}

double Millis(const timeval &T) { return double(T.tv_sec) * 1e3 + double(T.tv_usec) / 1e3; }

// Runs a program and waits; false when it did not exit with 0. The
// process's user and system time (its threads' and children's included) is
// added to CpuMs.
bool RunQuiet(const std::vector<std::string> &Args, double *CpuMs = nullptr) {
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
  int st = 0;
  struct rusage ru {};
  const bool ok = rc == 0 && wait4(pid, &st, 0, &ru) == pid && WIFEXITED(st) && WEXITSTATUS(st) == 0;
  if (CpuMs) *CpuMs += Millis(ru.ru_utime) + Millis(ru.ru_stime);
  return ok;
}

struct TOp {
  const char *Name;
  TWembOption Option;
  std::vector<uint8_t> Steps;  // the trimming step for the crop
  std::vector<std::string> Jpegtran;
  bool Small = false;          // on SmallPhoto
};

std::vector<uint8_t> DefaultSteps(const std::string &CropValues = "") {
  TEffectList list;
  CreateDefaultEffects(list, "");
  std::vector<uint8_t> s;
  list.WriteParamToStream(s);
  if (CropValues.empty()) return s;
  // Replace the trimming step (type and eight strings) by type 0 with x, y, w, h.
  size_t at = 4;
  for (int i = 0; i < 8; ++i) at += 4 + 2 * size_t(s[at] | s[at + 1] << 8);
  std::vector<uint8_t> out;
  StreamWriteInt32(out, 0);
  for (int half = 0; half < 2; ++half) {
    size_t from = 0;
    for (int i = 0; i < 4; ++i) {
      const size_t comma = CropValues.find(',', from);
      StreamWriteString(out, CropValues.substr(from, comma - from));
      from = comma + 1;
    }
  }
  out.insert(out.end(), s.begin() + std::ptrdiff_t(at), s.end());
  return out;
}

std::vector<TOp> Ops() {
  std::vector<TOp> ops;
  TWembOption o;
  o.OptimizeMode = 0;
  o.Rotation = 2;
  ops.push_back({"rotate90", o, DefaultSteps(), {"-rotate", "90", "-trim"}});
  o.Rotation = 0;
  o.Trimming = LongTrue;
  ops.push_back({"crop", o, DefaultSteps("1000,800,3000,2000"), {"-crop", "3000x2000+1000+800"}});
  o.Trimming = LongFalse;
  o.OptimizeMode = 1;
  ops.push_back({"optimize", o, DefaultSteps(), {"-optimize"}});
  o.OptimizeMode = 2;
  ops.push_back({"progressive", o, DefaultSteps(), {"-progressive"}});
  o.OptimizeMode = 0;
  ops.push_back({"start_up_64x48", o, DefaultSteps(), {}, true});
  return ops;
}

// WEMBC and jpegtran on the same operation, one run of each per iteration in
// turns (which one goes first alternates), so that both meet the same load
// of a shared machine. Counters: each program's wall and processor
// milliseconds per run and their ratios (WEMBC / jpegtran).
void BM_WembcVsJpegtran(benchmark::State &State, TOp Op) {
  EnsurePhoto();
  TWembSharedBlock block(WriteWembParam(Op.Option, {}, Op.Steps));
  setenv(WEMB_PARAM_ENV, block.Name().c_str(), 1);
  const std::string ours = (Data / "wembc-out.jpg").string(), theirs = (Data / "jpegtran-out.jpg").string();
  const std::string &photo = Op.Small ? SmallPhoto : Photo;
  const std::vector<std::string> wembc{std::string(TESSIVO_BIN_DIR) + "/WEMBC", "-m", photo, ours};
  std::vector<std::string> jpegtran{"jpegtran", "-copy", "all"};
  jpegtran.insert(jpegtran.end(), Op.Jpegtran.begin(), Op.Jpegtran.end());
  jpegtran.insert(jpegtran.end(), {"-outfile", theirs, photo});
  double wall[2] = {0, 0}, cpu[2] = {0, 0};
  auto timed = [&](int Who) {
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = RunQuiet(Who == 0 ? wembc : jpegtran, &cpu[Who]);
    wall[Who] += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    return ok;
  };
  int64_t n = 0;
  for (auto _ : State) {
    const int first = int(n++ % 2);
    if (!timed(first) || !timed(1 - first)) State.SkipWithError("a program failed");
  }
  unsetenv(WEMB_PARAM_ENV);
  if (!fs::exists(ours) || !fs::exists(theirs)) State.SkipWithError("no output");
  const double runs = double(State.iterations());
  State.counters["wembc_ms"] = wall[0] / runs;
  State.counters["jpegtran_ms"] = wall[1] / runs;
  State.counters["wembc_cpu_ms"] = cpu[0] / runs;
  State.counters["jpegtran_cpu_ms"] = cpu[1] / runs;
  State.counters["wall_ratio"] = wall[0] / wall[1];
  State.counters["cpu_ratio"] = cpu[0] / cpu[1];
  State.counters["size_ratio"] = double(fs::file_size(ours)) / double(fs::file_size(theirs));
  fs::remove(ours);
  fs::remove(theirs);
}

// 20 copies of the photo turned by tessivo in lossless mode.
void BM_TessivoLossless(benchmark::State &State) {
  EnsurePhoto();
  const fs::path in = Data / "batch-in", out = Data / "batch-out";
  fs::create_directories(in);
  for (int i = 0; i < 20; ++i) {
    const fs::path p = in / ("p" + std::to_string(i) + ".jpg");
    if (!fs::exists(p)) fs::copy_file(Photo, p);
  }
  const std::string home = (Data / "home").string();
  fs::create_directories(home);
  setenv("TESSIVOPLUS_DATA", home.c_str(), 1);
  double cpu = 0;
  for (auto _ : State) {
    fs::remove_all(out);
    if (!RunQuiet({fs::path(TESSIVO_BIN_DIR).parent_path() / "tessivo", "--set", "JPEGTran.Use=1", "--set",
                   "WEMB.Rotation=2", "--set", "WEMB.OptimizeMode=0", "--workers", std::to_string(State.range(0)),
                   "--out", out.string(), in.string()},
                  &cpu))
      State.SkipWithError("tessivo failed");
  }
  unsetenv("TESSIVOPLUS_DATA");
  State.SetItemsProcessed(int64_t(State.iterations()) * 20);
  State.counters["cpu_ms"] = cpu / double(State.iterations());
  fs::remove_all(out);
}

void Register() {
  for (const TOp &op : Ops())
    benchmark::RegisterBenchmark((std::string("WEMBC_vs_jpegtran/") + op.Name).c_str(), BM_WembcVsJpegtran, op)
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(op.Small ? 100 : 10);
  benchmark::RegisterBenchmark("tessivo_lossless_20_files/workers", BM_TessivoLossless)
      ->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
}

}  // namespace

int main(int argc, char **argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
