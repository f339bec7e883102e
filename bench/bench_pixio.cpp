// JPEG decoding through the codec library against libjpeg-turbo's djpeg, on
// the same 6000x4000 camera-like file in the same run: full size and the
// reduced decodes 1/2, 1/4, 1/8. The time column is CPU time (user + system)
// of the decode, which a busy shared machine disturbs far less than the wall
// clock: the calling thread for read_jpeg, the child's rusage for djpeg
// (including its start-up and its discarded PPM output).
#include "core/ImgInfo.h"
#include "io/Pixio.h"

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char **environ;

namespace {

constexpr uint32_t kW = 6000, kH = 4000;

struct Fixture {
  std::filesystem::path Dir, Jpeg;
  std::vector<uint8_t> Bytes;
  TPixio Lib{std::string(TESSIVO_BIN_DIR) + "/libpixio.so"};

  Fixture() {
    char tmpl[] = "/tmp/bench-pixio-XXXXXX";
    Dir = mkdtemp(tmpl);
    // A smooth gradient with texture and a little noise compresses like a photo.
    const auto ppm = Dir / "src.ppm";
    {
      std::ofstream f(ppm, std::ios::binary);
      f << "P6\n" << kW << " " << kH << "\n255\n";
      std::vector<uint8_t> row(kW * 3);
      uint32_t r = 1;
      for (uint32_t y = 0; y < kH; ++y) {
        for (uint32_t x = 0; x < kW; ++x)
          for (uint32_t c = 0; c < 3; ++c) {
            r = r * 1664525u + 1013904223u;
            const int v = int((x * (c + 2) / 40 + y * (4 - c) / 30) % 200) + int(((x / 9 + y / 13) % 3) * 12) + int(r >> 29);
            row[x * 3 + c] = uint8_t(std::min(v, 255));
          }
        f.write(reinterpret_cast<const char *>(row.data()), std::streamsize(row.size()));
      }
    }
    Jpeg = Dir / "big.jpg";
    const std::string cmd = "cjpeg -quality 90 -sample 2x2 -outfile '" + Jpeg.string() + "' '" + ppm.string() + "'";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("cjpeg failed (libjpeg-turbo-progs installed?)");
    std::filesystem::remove(ppm);
    std::ifstream f(Jpeg, std::ios::binary);
    Bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  ~Fixture() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
};

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

Fixture &Shared() {
  static Fixture f;
  return f;
}

void BM_PixioReadJpeg(benchmark::State &state) {
  Fixture &f = Shared();
  const int denom = int(state.range(0));
  for (auto _ : state) {
    TPixioDecode d{};
    d.ScaleDenom = denom;
    const double t0 = ThreadCpuSeconds();
    if (!f.Lib.read_jpeg(&d, f.Bytes.data(), f.Bytes.size())) state.SkipWithError("read_jpeg failed");
    benchmark::DoNotOptimize(d.Mem);
    PageFree(d.Mem);
    PageFree(d.ICCProfile);
    state.SetIterationTime(ThreadCpuSeconds() - t0);
  }
  // Source pixels per second, whatever the scale.
  state.counters["MPix/s"] = benchmark::Counter(double(kW) * kH * double(state.iterations()) / 1e6,
                                                benchmark::Counter::kIsRate);
}

void BM_Djpeg(benchmark::State &state) {
  Fixture &f = Shared();
  const std::string scale = "1/" + std::to_string(state.range(0));
  const std::string jpeg = f.Jpeg.string();
  for (auto _ : state) {
    const char *argv[] = {"djpeg", "-scale", scale.c_str(), "-outfile", "/dev/null", jpeg.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "djpeg", nullptr, nullptr, const_cast<char **>(argv), environ) != 0) {
      state.SkipWithError("djpeg not installed (libjpeg-turbo-progs)");
      break;
    }
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("djpeg failed");
    state.SetIterationTime(double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6);
  }
  // Source pixels per second, whatever the scale.
  state.counters["MPix/s"] = benchmark::Counter(double(kW) * kH * double(state.iterations()) / 1e6,
                                                benchmark::Counter::kIsRate);
}

// Interleaved so that both sides see the same machine state at each scale.
BENCHMARK(BM_PixioReadJpeg)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2);
BENCHMARK(BM_Djpeg)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2);
BENCHMARK(BM_PixioReadJpeg)->Arg(2)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(1);
BENCHMARK(BM_Djpeg)->Arg(2)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(1);
BENCHMARK(BM_PixioReadJpeg)->Arg(4)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(1);
BENCHMARK(BM_Djpeg)->Arg(4)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(1);
BENCHMARK(BM_PixioReadJpeg)->Arg(8)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(1);
BENCHMARK(BM_Djpeg)->Arg(8)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(1);

}  // namespace

BENCHMARK_MAIN();
