// Text stamping on a 6000 x 4000 photo: the date at 48 pt with shadow and
// glow, once with the worker's mask cached (every file after the first),
// once drawn anew (the first file of a worker: font resolution, FreeType
// faces, shaping, the four-times drawing and its reduction), and the mask
// alone. ImageMagick's -annotate with a shadow and a glow made by -blur on
// label layers is the reference in the same run; "ImageMagick/load_only"
// shows what its command costs without drawing anything.
//   bench_text
// Times are wall clock; the machine may be shared, so compare the cases of
// one run with each other rather than with figures of another run.
#include "bench/MagickPeer.h"
#include "effects/AddTextEffect.h"
#include "effects/FontCache.h"
#include "core/ImgInfo.h"
#include "resample/Filter.h"
#include "resample/Resize.h"
#include "resample/WeightedMean.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint32_t W = 6000, H = 4000;
const char *const Stamp = "2013/05/01 10:20";

void Paint(TICCImgInfo &Img) {
  std::mt19937 rng(5);
  for (uint32_t y = 0; y < Img.Height; ++y) {
    uint8_t *row = ScanLine(Img, y);
    for (uint32_t x = 0; x < Img.Width; ++x)
      for (uint32_t c = 0; c < Img.Channels; ++c)
        row[x * Img.Channels + c] = uint8_t((x * (3 + c) + y * (5 - c)) / 97 % 200 + rng() % 24);
  }
}

struct TPhoto {
  TICCImgInfo I{};
  TPhoto() {
    I.Width = W, I.Height = H, I.Channels = 3, I.BPP = BPP_8, I.PixelFormat = PIXFMT_BGR;
    I.Bpl = GetAlignedBpl(W, 3);
    I.Mem = AllocPixelBlock(I.Bpl, H);
    Paint(I);
  }
  ~TPhoto() { FreeICCImgInfo(I, false); }
};

void EnsureEngines() {
  static bool made = false;
  if (!made) {
    LoadResizeLibrary(TESSIVO_BIN_DIR);
    CreateProgramResizers(1);
    made = true;
  }
}

TAddTextEffect &DateStamp() {
  static const std::unique_ptr<TAddTextEffect> e = [] {
    auto t = std::make_unique<TAddTextEffect>();
    t->FText = Stamp;
    t->FFont.Name = "DejaVu Sans";
    t->FFont.Charset = 0;
    t->FFont.Size = 48;
    t->FParam.Position = 8, t->FParam.XOffset = -16, t->FParam.YOffset = -12;
    t->FParam.Shadow = t->FParam.Glow = LongTrue;  // the defaults: radius 2 and 6
    return t;
  }();
  return *e;
}

// Arg 1: the mask comes from the worker's cache; 0: a new cache every time.
void BM_AddText(benchmark::State &State) {
  EnsureEngines();
  const bool cached = State.range(0) != 0;
  TPhoto photo;
  TGaussianBlur blur;
  TEffectParams params;
  params.GaussianBlur = &blur;
  params.Antialiasing = AntialiasingResizer;
  TAddTextEffect &e = DateStamp();
  e.DoEffect(photo.I, params);  // fontconfig's configuration is loaded once per process
  for (auto _ : State) {
    if (!cached) params.FontCache.reset();
    e.DoEffect(photo.I, params);
    benchmark::ClobberMemory();
  }
  State.counters["renders"] = double(params.FontCache->RenderCount());
}
BENCHMARK(BM_AddText)->ArgName("cached")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// The mask alone, drawn anew each time with a warm cache of faces.
void BM_TextMask(benchmark::State &State) {
  EnsureEngines();
  TFontCache cache;
  TFont font = DateStamp().FFont;
  int32_t n = 0;
  for (auto _ : State) {
    TICCImgOwner mask(false);
    // A different text each time, so the cache never answers.
    cache.GetAntialiasingText(std::string(Stamp) + std::to_string(n++ % 10), font, nullptr, AntialiasingResizer, 9,
                              9, 9, 9, 0, *mask);
    benchmark::DoNotOptimize(mask->Mem);
  }
}
BENCHMARK(BM_TextMask)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- ImageMagick ----------------------------------------------------------------

const TMagickPeer &Magick() {
  static const TPhoto photo;
  static const TMagickPeer peer("bench_text", photo.I);
  return peer;
}

// Arg 1: the stamp (a cyan glow blurred 0x3, a black shadow blurred 0x1 moved
// by 2, 2, then the white text by -annotate, all at 64 px = 48 pt); 0: load only.
void BM_ImageMagickAnnotate(benchmark::State &State) {
  if (!Magick().Ok()) {
    State.SkipWithError("ImageMagick's convert is not available");
    return;
  }
  std::vector<std::string> draw;
  if (State.range(0)) {
    const std::string font = "DejaVu-Sans", size = "64";
    draw = {"-gravity", "southeast",
            "(", "-background", "none", "-fill", "cyan", "-font", font, "-pointsize", size, "label:" + std::string(Stamp),
            "-bordercolor", "none", "-border", "10", "-blur", "0x3", ")", "-geometry", "+6+2", "-composite",
            "(", "-background", "none", "-fill", "black", "-font", font, "-pointsize", size, "label:" + std::string(Stamp),
            "-bordercolor", "none", "-border", "4", "-blur", "0x1", ")", "-geometry", "+10+6", "-composite",
            "-fill", "white", "-font", font, "-pointsize", size, "-annotate", "+16+12", Stamp};
  }
  for (auto _ : State) {
    const auto t0 = std::chrono::steady_clock::now();
    if (!Magick().Run(draw)) {
      State.SkipWithError("convert failed");
      return;
    }
    State.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
}
BENCHMARK(BM_ImageMagickAnnotate)
    ->ArgName("stamp")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
