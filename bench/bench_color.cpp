// Colour transforms on a 6000 x 4000 photo-sized image with a 2-thread pool:
// an sRGB file profile into the built-in sRGB, into 16-bit Lab and back, and
// the slower exact paths (16-bit data, CMYK) for comparison.
#include "color/ICCUtil.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

namespace {

constexpr uint32_t W = 6000, H = 4000;
constexpr int32_t THREADS = 2;
const char *SRGB_FILE = "/usr/share/color/icc/ghostscript/srgb.icc";

std::vector<uint8_t> FileBytes(const char *Path) {
  std::ifstream In(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

// A smooth picture with noise, so the transform cache sees realistic misses.
TICCImgInfo MakeImage(uint32_t Channels, uint32_t BPP, uint32_t PixelFormat) {
  TICCImgInfo Img{};
  Img.Width = W;
  Img.Height = H;
  Img.Channels = Channels;
  Img.BPP = BPP;
  Img.PixelFormat = PixelFormat;
  Img.Bpl = BPP == BPP_8 ? GetAlignedBpl(W, Channels) : GetAlignedBpl16(W, Channels);
  Img.Mem = AllocPixelBlock(Img.Bpl, H);
  std::mt19937 Rng(1);
  for (uint32_t Y = 0; Y < H; ++Y) {
    uint8_t *Row = ScanLine(Img, Y);
    for (uint32_t X = 0; X < W; ++X)
      for (uint32_t C = 0; C < Channels; ++C) {
        const uint32_t V = ((X * (C + 1) + Y * (3 - C % 3)) / 40 + Rng() % 8) & 255;
        if (BPP == BPP_8)
          Row[size_t(X) * Channels + C] = uint8_t(V);
        else
          reinterpret_cast<uint16_t *>(Row)[size_t(X) * Channels + C] = uint16_t(V * 257);
      }
  }
  if (PixelFormat != PIXFMT_CMYK) {
    const auto Bytes = FileBytes(SRGB_FILE);
    Img.ICCProfile = static_cast<uint8_t *>(PageAlloc(Bytes.size()));
    std::memcpy(Img.ICCProfile, Bytes.data(), Bytes.size());
    Img.ProfileLen = uint32_t(Bytes.size());
    Img.ProfileType = PROFILE_EMBEDDED;
  }
  return Img;
}

void SetRate(benchmark::State &State) {
  State.counters["MPix/s"] = benchmark::Counter(double(W) * H / 1e6 * double(State.iterations()),
                                                benchmark::Counter::kIsRate);
}

void InitOnce() {
  static bool Done = false;
  if (!Done) CMS.InitProfile(TColorManagementOption{});
  Done = true;
}

// sRGB (file) -> built-in sRGB, in place.
void BM_DoTransform_sRGB_to_BuiltinsRGB(benchmark::State &State) {
  InitOnce();
  const uint32_t BPP = uint32_t(State.range(0));
  TICCImgInfo Img = MakeImage(3, BPP, PIXFMT_BGR);
  TMultiThread MT(THREADS);
  TTransForm T;
  T.SetMultiThread(&MT);
  if (!T.InitTo(Img, TARGET_BUILTIN_SRGB)) State.SkipWithError("no transform");
  // After the first run the image is tagged with the target; the transform
  // stays the same, so every iteration does the same work.
  for (auto _ : State) T.DoTransform(Img);
  SetRate(State);
  FreeICCImgInfo(Img, true);
}

// sRGB (file) -> 16-bit Lab into a new buffer.
void BM_TransformToLab16_sRGB(benchmark::State &State) {
  InitOnce();
  TICCImgInfo Src = MakeImage(3, BPP_8, PIXFMT_BGR);
  TMultiThread MT(THREADS);
  TTransForm T;
  if (!T.InitToLab16(Src)) State.SkipWithError("no transform");
  for (auto _ : State) {
    State.PauseTiming();
    TICCImgInfo Img{};
    CopyICCImgInfo(Src, Img, true);
    State.ResumeTiming();
    T.TransformToLab16(Img, &MT);
    State.PauseTiming();
    FreeICCImgInfo(Img, false);
    State.ResumeTiming();
  }
  SetRate(State);
  FreeICCImgInfo(Src, true);
}

// 16-bit Lab -> built-in sRGB in place (the way back of the Lab-mode effects).
void BM_TransformFromLab16_sRGB(benchmark::State &State) {
  InitOnce();
  TICCImgInfo Src = MakeImage(3, BPP_8, PIXFMT_BGR);
  TMultiThread MT(THREADS);
  TTransForm To, From;
  if (!To.InitToLab16(Src) || !From.InitFromLab16(Src)) State.SkipWithError("no transform");
  To.TransformToLab16(Src, &MT);
  for (auto _ : State) {
    State.PauseTiming();
    TICCImgInfo Img{};
    CopyICCImgInfo(Src, Img, false);
    State.ResumeTiming();
    From.TransformFromLab16(Img, &MT);
    State.PauseTiming();
    FreeICCImgInfo(Img, true);
    State.ResumeTiming();
  }
  SetRate(State);
  FreeICCImgInfo(Src, true);
}

// Inverted (JPEG) CMYK with the press profile -> working space, new buffer.
void BM_DoTransform_CMYK_to_WorkSpace(benchmark::State &State) {
  InitOnce();
  TICCImgInfo Src = MakeImage(4, BPP_8, PIXFMT_CMYK);
  TMultiThread MT(THREADS);
  TTransForm T;
  T.SetMultiThread(&MT);
  if (!T.InitCMYKTransform(Src, true)) State.SkipWithError("no transform");
  for (auto _ : State) {
    TICCImgInfo Out{};
    T.DoTransform(Src, &Out);
    State.PauseTiming();
    FreeICCImgInfo(Out, true);
    State.ResumeTiming();
  }
  SetRate(State);
  FreeICCImgInfo(Src, true);
}

}  // namespace

BENCHMARK(BM_DoTransform_sRGB_to_BuiltinsRGB)->Arg(BPP_8)->Arg(BPP_16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TransformToLab16_sRGB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TransformFromLab16_sRGB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DoTransform_CMYK_to_WorkSpace)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

BENCHMARK_MAIN();
