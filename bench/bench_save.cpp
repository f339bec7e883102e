// The JPEG file-size search on a 6000 x 4000 photograph-like image: how many
// encodes a search takes and how long, for a limit met at once, one met after
// a few steps, and one never met (the whole search, then the final write).
#include "io/FormatOption.h"
#include "core/ImgInfo.h"
#include "io/Pixio.h"
#include "io/SavePicture.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

constexpr uint32_t W = 6000, H = 4000;

// Smooth colour fields with fine texture, so the file size reacts to quality
// and sampling the way a photograph does.
const TICCImgInfo &Photo() {
  static TICCImgInfo Img = [] {
    TICCImgInfo img{};
    img.Width = W, img.Height = H, img.Channels = 3, img.BPP = BPP_8, img.PixelFormat = PIXFMT_BGR;
    img.Bpl = GetAlignedBpl(W, 3);
    img.Mem = AllocPixelBlock(img.Bpl, H);
    uint32_t seed = 12345;
    for (uint32_t y = 0; y < H; ++y) {
      uint8_t *row = ScanLine(img, y);
      for (uint32_t x = 0; x < W; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int n = int(seed >> 28) - 8;
        const double fx = x / 700.0, fy = y / 500.0;
        row[3 * x] = uint8_t(std::clamp(128 + 90 * std::sin(fx + fy) + n, 0.0, 255.0));
        row[3 * x + 1] = uint8_t(std::clamp(128 + 80 * std::sin(fx * 1.7 - fy) + n, 0.0, 255.0));
        row[3 * x + 2] = uint8_t(std::clamp(128 + 70 * std::cos(fx * 0.6 + fy * 1.3) + n, 0.0, 255.0));
      }
    }
    return img;
  }();
  return Img;
}

void SizeSearch(benchmark::State &State) {
  if (!Pixio()) LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  JPEGOption = TJPEGOption{};
  JPEGOption.UseFileSizeLimit = true;
  JPEGOption.FileSizeLimit = int32_t(State.range(0));
  JPEGOption.Quality = 90;
  JPEGOption.SampleType = 2;
  JPEGOption.SampleTypeLimit = 0;
  JPEGOption.QualityLimit = 75;
  const std::string out = (std::filesystem::temp_directory_path() / "tessivo-bench-save.jpg").string();
  TImageProbe entry;
  TResolutionInfo rinfo{72, 72, 1};
  Photo();  // made once, outside the timing
  int encodes = 0;
  TSaveContext ctx;
  ctx.OnJPEGAttempt = [&](const TJPEGAttempt &) { ++encodes; };
  for (auto _ : State) {
    encodes = 0;
    // The 8-bit BGR image is written as it is, so one image serves every iteration.
    TICCImgInfo img = Photo();
    SavePicture(img, entry, out, rinfo, 8, ctx);
  }
  State.counters["encodes"] = encodes;
  State.counters["KB"] = double(std::filesystem::file_size(out)) / 1024;
  std::filesystem::remove(out);
}

void PlainEncode(benchmark::State &State) {
  if (!Pixio()) LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  JPEGOption = TJPEGOption{};
  JPEGOption.Quality = 90;
  JPEGOption.SampleType = 2;
  const std::string out = (std::filesystem::temp_directory_path() / "tessivo-bench-save.jpg").string();
  TImageProbe entry;
  TResolutionInfo rinfo{72, 72, 1};
  TSaveContext ctx;
  Photo();
  for (auto _ : State) {
    TICCImgInfo img = Photo();
    SavePicture(img, entry, out, rinfo, 8, ctx);
  }
  State.counters["KB"] = double(std::filesystem::file_size(out)) / 1024;
  std::filesystem::remove(out);
}

}  // namespace

// Limits in KB: met by the first encode, met after some steps, never met.
BENCHMARK(SizeSearch)->Arg(20000)->Arg(2500)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(PlainEncode)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

BENCHMARK_MAIN();
