// Archives through the plug-in host: listing a zip of 10,000 small members
// (probed and unprobed) beside the same files as a folder, and tessivo
// converting 50 photos from a zip beside the same photos as files, each run
// as a whole process as a user starts it.
//   flock /work/bench.lock build/bench/bench_archive
// The machine may be shared: compare the cases of one run with each other;
// the processor-time rate (user + system of the child) is reported beside
// the wall clock.
#include "batch/ImageInfo.h"
#include "batch/ProgressFrm3.h"
#include "batch/SamplePhotos.h"
#include "batch/SusieArchiveHost.h"
#include "io/Pixio.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char **environ;

namespace {

namespace fs = std::filesystem;

const fs::path Build = fs::path(TESSIVO_BIN_DIR).parent_path();
const fs::path Data = Build / "bench-data" / "archive";

// Runs a program quietly and waits; false when it did not exit with 0.
// Cpu receives the child's user + system seconds.
bool Run(const std::vector<std::string> &Args, double &Cpu, const std::string &Dir = {}) {
  std::vector<char *> argv;
  for (const std::string &a : Args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  if (!Dir.empty()) posix_spawn_file_actions_addchdir_np(&fa, Dir.c_str());
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return false;
  int status = 0;
  struct rusage use {};
  if (::wait4(pid, &status, 0, &use) != pid) return false;
  Cpu = double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) + double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// 10,000 BMP files of 16 x 16 in a folder and in a zip of them, made once.
const fs::path &SmallMembers() {
  static const fs::path folder = Data / "small";
  static const fs::path zip = Data / "small.zip";
  if (fs::exists(zip)) return zip;
  fs::create_directories(folder);
  std::vector<uint8_t> bmp(54 + 16 * 16 * 3, 0);
  auto le32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = uint8_t(v >> (8 * i));
  };
  bmp[0] = 'B', bmp[1] = 'M';
  le32(2, uint32_t(bmp.size())), le32(10, 54), le32(14, 40), le32(18, 16), le32(22, 16);
  bmp[26] = 1, bmp[28] = 24;
  for (int i = 0; i < 10000; ++i) {
    bmp[60] = uint8_t(i);
    std::ofstream(folder / ("img" + std::to_string(i) + ".bmp"), std::ios::binary)
        .write(reinterpret_cast<const char *>(bmp.data()), std::streamsize(bmp.size()));
  }
  double cpu;
  if (!Run({"zip", "-q", "-r", "-0", zip.string(), "."}, cpu, folder.string())) std::abort();
  return zip;
}

// 50 photos of 2400 x 1600 as files and in a zip (stored, as photo archives
// usually are, and deflated).
const fs::path &Photos() {
  static const fs::path folder = Data / "photos";
  if (fs::exists(Data / "photos-deflated.zip")) return folder;
  fs::create_directories(folder);
  LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  for (uint32_t i = 0; i < 50; ++i) {
    TSamplePhotoSpec s;
    s.Width = 2400;
    s.Height = 1600;
    s.Seed = i + 1;
    s.DateTimeOriginal = "2024:06:01 12:00:00";
    WriteSamplePhoto((folder / ("photo" + std::to_string(i) + ".jpg")).string(), s);
  }
  double cpu;
  if (!Run({"zip", "-q", "-r", "-0", (Data / "photos-stored.zip").string(), "."}, cpu, folder.string()) ||
      !Run({"zip", "-q", "-r", (Data / "photos-deflated.zip").string(), "."}, cpu, folder.string()))
    std::abort();
  return folder;
}

void LoadOurPlugins() {
  static bool loaded = false;
  if (loaded) return;
  TSPIOrder image = ParseSPIOrder("ifraw.spi=1"), archive = ParseSPIOrder("axarchive.spi=1");
  LoadProgramPlugins((Build / "SusiePlugin").string(), false, image, archive);
  loaded = true;
}

// Arguments: 0 the folder, 1 the zip; probed (1) or not (0).
void BM_ListTenThousandMembers(benchmark::State &State) {
  const fs::path &zip = SmallMembers();
  LoadOurPlugins();
  const bool fromZip = State.range(0) != 0;
  TListupOptions options;
  options.SkipImageCheck = State.range(1) == 0;
  const std::string source = fromZip ? zip.string() : (Data / "small").string();
  for (auto _ : State) {
    TImageInfoList list;
    TListupThread thread(list, fromZip ? TListupThread::TMode::Files : TListupThread::TMode::Folder, {source}, false,
                         options, nullptr);
    thread.Execute();
    if (list.Count() != 10000) State.SkipWithError("not every member was listed");
  }
  State.SetItemsProcessed(int64_t(State.iterations()) * 10000);
  State.SetLabel(std::string(fromZip ? "zip" : "folder") + (options.SkipImageCheck ? ", unprobed" : ", probed"));
}
BENCHMARK(BM_ListTenThousandMembers)
    ->Args({1, 1})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// tessivo on the 50 photos, reduced to 1200 pixels: 0 the folder, 1 the
// stored zip, 2 the deflated zip; with 2 workers.
void BM_Convert50Photos(benchmark::State &State) {
  const fs::path &folder = Photos();
  const char *sources[] = {"photos", "photos-stored.zip", "photos-deflated.zip"};
  const std::string source = State.range(0) == 0 ? folder.string() : (Data / sources[State.range(0)]).string();
  const fs::path out = Data / "out";
  double cpuTotal = 0;
  for (auto _ : State) {
    State.PauseTiming();
    fs::remove_all(out);
    State.ResumeTiming();
    double cpu = 0;
    if (!Run({(Build / "tessivo").string(), "--size", "1200", "--workers", "2", "--overwrite", "--out", out.string(),
              source},
             cpu))
      State.SkipWithError("tessivo failed");
    cpuTotal += cpu;
  }
  State.SetItemsProcessed(int64_t(State.iterations()) * 50);
  State.counters["cpu_s_per_run"] = benchmark::Counter(cpuTotal / double(State.iterations()));
  State.counters["photos_per_cpu_s"] = benchmark::Counter(50.0 * double(State.iterations()) / cpuTotal);
  State.SetLabel(sources[State.range(0)]);
}
BENCHMARK(BM_Convert50Photos)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
