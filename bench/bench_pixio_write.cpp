// JPEG encoding through the codec library against libjpeg-turbo's cjpeg, on
// the same 1920x1280 photo-like picture in the same run, quality 90, 4:2:0.
// The time column is CPU time (user + system) of the encode, which a busy
// shared machine disturbs far less than the wall clock: the calling thread
// for write_jpeg (into /dev/null), the child's rusage for cjpeg (including its
// start-up and the reading of its PPM input).
#include "core/ImgInfo.h"
#include "io/Pixio.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char **environ;

namespace {

constexpr uint32_t kW = 1920, kH = 1280;

struct Fixture {
  std::filesystem::path Dir, Ppm;
  std::vector<uint8_t> Bgr;  // bottom-up B,G,R rows, as the saver hands them over
  uint32_t Bpl = 0;
  TPixio Lib{std::string(TESSIVO_BIN_DIR) + "/libpixio.so"};

  Fixture() {
    char tmpl[] = "/tmp/bench-pixio-write-XXXXXX";
    Dir = mkdtemp(tmpl);
    Ppm = Dir / "src.ppm";
    Bpl = GetAlignedBpl(kW, 3);
    Bgr.assign(size_t(Bpl) * kH, 0);
    std::vector<uint8_t> rgb(size_t(kW) * kH * 3);
    uint32_t r = 1;
    for (uint32_t y = 0; y < kH; ++y)
      for (uint32_t x = 0; x < kW; ++x)
        for (uint32_t c = 0; c < 3; ++c) {
          r = r * 1664525u + 1013904223u;
          const double v = 128 + 70 * std::sin(x * 0.013 + c) * std::cos(y * 0.011 - c) +
                           25 * std::sin((x + 3.0 * y) * 0.05) + double(r >> 28) - 8;
          const uint8_t s = uint8_t(std::clamp(v, 0.0, 255.0));
          rgb[(size_t(y) * kW + x) * 3 + c] = s;
          Bgr[size_t(kH - 1 - y) * Bpl + x * 3 + (2 - c)] = s;
        }
    std::ofstream f(Ppm, std::ios::binary);
    f << "P6\n" << kW << " " << kH << "\n255\n";
    f.write(reinterpret_cast<const char *>(rgb.data()), std::streamsize(rgb.size()));
  }
  ~Fixture() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
};

Fixture &Shared() {
  static Fixture f;
  return f;
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

void BM_PixioWriteJpeg(benchmark::State &state) {
  Fixture &f = Shared();
  TPixioEncode e{};
  e.Mem = f.Bgr.data(), e.Width = kW, e.Height = kH, e.Bpl = f.Bpl, e.Channels = 3, e.BitsPerSample = 8;
  e.Quality = 90, e.HSamp = 2, e.VSamp = 2, e.XDensity = e.YDensity = 1;
  const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  for (auto _ : state) {
    const double t0 = ThreadCpuSeconds();
    if (!f.Lib.write_jpeg(&e, fd, nullptr, 0)) state.SkipWithError("write_jpeg failed");
    state.SetIterationTime(ThreadCpuSeconds() - t0);
  }
  close(fd);
  state.counters["MPix/s"] = benchmark::Counter(double(kW) * kH * double(state.iterations()) / 1e6,
                                                benchmark::Counter::kIsRate);
}

void BM_Cjpeg(benchmark::State &state) {
  Fixture &f = Shared();
  const std::string ppm = f.Ppm.string();
  for (auto _ : state) {
    const char *argv[] = {"cjpeg", "-quality", "90", "-sample", "2x2", "-outfile", "/dev/null", ppm.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "cjpeg", nullptr, nullptr, const_cast<char **>(argv), environ) != 0) {
      state.SkipWithError("cjpeg not installed (libjpeg-turbo-progs)");
      break;
    }
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("cjpeg failed");
    state.SetIterationTime(double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6);
  }
  state.counters["MPix/s"] = benchmark::Counter(double(kW) * kH * double(state.iterations()) / 1e6,
                                                benchmark::Counter::kIsRate);
}

// Alternating rounds, so that both sides see the same machine state.
BENCHMARK(BM_PixioWriteJpeg)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2);
BENCHMARK(BM_Cjpeg)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2);
BENCHMARK(BM_PixioWriteJpeg)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2);
BENCHMARK(BM_Cjpeg)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
