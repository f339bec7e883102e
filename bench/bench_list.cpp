// Adding and naming at list scale: walking and probing a folder of small
// BMP files (probed and unprobed), the automatic and column sorts over a
// large list, and the naming pass with "[k]" numbering checks.
#include "batch/ConvertOption.h"
#include "batch/FileNameTemplate.h"
#include "batch/ImageInfo.h"
#include "batch/MakeOutputFileName.h"
#include "batch/ProgressFrm3.h"

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

// A folder of Count 24-bit 16 x 16 BMP files with numbered names, made once.
struct TBenchFolder {
  std::string Path;
  ~TBenchFolder() {
    std::error_code ec;
    if (!Path.empty()) std::filesystem::remove_all(Path, ec);
  }
};

const std::string &SourceFolder(int Count) {
  static TBenchFolder holder;
  std::string &folder = holder.Path;
  static int made = 0;
  if (made == Count) return folder;
  if (!folder.empty()) std::filesystem::remove_all(folder);
  std::string tmpl = std::filesystem::temp_directory_path().string() + "/tessivo-bench-list-XXXXXX";
  folder = ::mkdtemp(tmpl.data());
  std::vector<uint8_t> bmp(54 + 16 * 16 * 3, 0);
  auto le32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = uint8_t(v >> (8 * i));
  };
  bmp[0] = 'B', bmp[1] = 'M';
  le32(2, uint32_t(bmp.size())), le32(10, 54), le32(14, 40), le32(18, 16), le32(22, 16);
  bmp[26] = 1, bmp[28] = 24;
  for (int i = 0; i < Count; ++i) {
    std::ofstream out(folder + "/img" + std::to_string(i) + ".bmp", std::ios::binary);
    out.write(reinterpret_cast<const char *>(bmp.data()), std::streamsize(bmp.size()));
  }
  made = Count;
  return folder;
}

void BM_ListFolder(benchmark::State &State) {
  const int count = int(State.range(0));
  const bool probe = State.range(1) != 0;
  const std::string &folder = SourceFolder(count);
  TListupOptions options;
  options.SkipImageCheck = !probe;
  for (auto _ : State) {
    TImageInfoList list;
    TListupThread thread(list, TListupThread::TMode::Folder, {folder}, false, options, nullptr);
    thread.Execute();
    if (list.Count() != count) State.SkipWithError("not every file was listed");
    benchmark::DoNotOptimize(list.Count());
  }
  State.SetItemsProcessed(int64_t(State.iterations()) * count);
  State.SetLabel(probe ? "probed" : "unprobed");
}
BENCHMARK(BM_ListFolder)->Args({2000, 1})->Args({2000, 0})->Unit(benchmark::kMillisecond);

// A list of Count entries in 100 folders with random numbered names.
void FillList(TImageInfoList &List, int Count) {
  std::mt19937 rng(7);
  for (int i = 0; i < Count; ++i) {
    auto e = std::make_unique<TImageInfo>();
    e->FPath = "/photos/f" + std::to_string(rng() % 100) + "/IMG_" + std::to_string(rng() % 100000) + "_" +
               std::to_string(i) + ".jpg";
    e->Width = int32_t(rng() % 6000 + 1), e->Height = int32_t(rng() % 4000 + 1);
    e->Size = int32_t(rng() % 10000000);
    List.Add(std::move(e));
  }
}

void BM_SortByFolderAndName(benchmark::State &State) {
  for (auto _ : State) {
    State.PauseTiming();
    TImageInfoList list;
    FillList(list, int(State.range(0)));
    State.ResumeTiming();
    list.SortByFolderAndName();
    benchmark::DoNotOptimize(list[0]);
  }
  State.SetItemsProcessed(int64_t(State.iterations()) * State.range(0));
}
BENCHMARK(BM_SortByFolderAndName)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ColumnSort(benchmark::State &State) {
  TImageInfoList list;
  FillList(list, int(State.range(0)));
  const int32_t key = int32_t(State.range(1));
  for (auto _ : State) {
    list.SortList(key);
    benchmark::DoNotOptimize(list[0]);
  }
  State.SetItemsProcessed(int64_t(State.iterations()) * State.range(0));
  State.SetLabel(key == 0 ? "name" : key == 1 ? "dimensions" : "path");
}
BENCHMARK(BM_ColumnSort)->Args({100000, 0})->Args({100000, 1})->Args({100000, 6})->Unit(benchmark::kMillisecond);

void BM_MakeOutputFileNames(benchmark::State &State) {
  const int count = int(State.range(0));
  const std::string &folder = SourceFolder(count);
  TImageInfoList list;
  TListupThread thread(list, TListupThread::TMode::Folder, {folder}, false, TListupOptions{}, nullptr);
  thread.Execute();
  FileOption.NotOverwrite = true;
  FileOption.Skip = false;
  for (auto _ : State) {
    const TOutputNameTotals totals = MakeOutputFileNames(list, "out/<old>_<n4>", CurrentRunSettings(), nullptr);
    if (totals.OutputFileCount != count) State.SkipWithError("not every entry was named");
  }
  State.SetItemsProcessed(int64_t(State.iterations()) * count);
}
BENCHMARK(BM_MakeOutputFileNames)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
