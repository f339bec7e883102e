// Binding of the noise-removal library and the program's order of its steps.
#include "effects/DenoisePass.h"

#include "core/Errors.h"
#include "core/MultiThread.h"
#include "core/ProgramFolder.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <forward_list>
#include <memory>
#include <mutex>

namespace {

std::mutex LibraryLock;
// Every library record made, never freed: pool jobs hold procedures of it.
std::forward_list<TDenoiseLibrary> &LibraryRecords = *new std::forward_list<TDenoiseLibrary>;
std::atomic<const TDenoiseLibrary *> CurrentLibrary{nullptr};

TDenoiseLibrary OpenDenoiseLibrary(const std::string &Path) {
  void *h = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char *e = dlerror();
    throw ETessivoError(std::string("LoadLibrary Error: ") + (e ? e : Path));
  }
  TDenoiseLibrary lib;
  lib.Handle = h;
  lib.Path = Path;
  // A missing entry leaves the tables empty: the library is bound, noise removal is off.
  if (auto get = reinterpret_cast<TGetDenoiseFuncs>(dlsym(h, "GetDenoiseFuncs")))
    get(lib.Sse2.data(), lib.Avx.data());
  if (auto plain = reinterpret_cast<TGetDenoisePlainFuncs>(dlsym(h, "GetDenoisePlainFuncs")))
    plain(lib.Plain.data());
  return lib;
}

bool AllSet(const TDenoiseProc *P, int32_t N) {
  return std::all_of(P, P + N, [](TDenoiseProc p) { return p != nullptr; });
}

int32_t RoundUp(uint32_t v, int32_t m) { return int32_t((int64_t(v) + m - 1) / m * m); }

struct TAlignedFree {
  void operator()(void *p) const { HeapAlignedFree(p); }
};
using TBlock = std::unique_ptr<uint8_t, TAlignedFree>;

TBlock Allocate(size_t Bytes) {
  auto *p = static_cast<uint8_t *>(HeapAlignedAlloc(Bytes, 64));
  if (!p) throw EOutOfMemory();
  return TBlock(p);
}

// Planes come from the page blocks a batch keeps for reuse: their pages are
// mapped and cleared already, where fresh ones would cost the kernel a
// clearing of every page on first touch. Every plane sample a procedure
// reads was written by an earlier one.
struct TPageFree {
  void operator()(void *p) const { PageFree(p); }
};
using TPlane = std::unique_ptr<uint8_t, TPageFree>;

}  // namespace

bool TDenoiseLibrary::HasSse2() const { return AllSet(Sse2.data(), DNP_SSE2_COUNT); }
bool TDenoiseLibrary::HasAvx() const { return AllSet(Avx.data(), DNA_AVX_COUNT); }

void LoadDenoiseLibrary(const std::string &BinFolder) {
  const std::string path = (BinFolder.empty() ? ProgramBinFolder() : BinFolder) + "/libdenoise.so";
  std::lock_guard guard(LibraryLock);
  for (const TDenoiseLibrary &lib : LibraryRecords)
    if (lib.Path == path) {
      CurrentLibrary.store(&lib);
      return;
    }
  LibraryRecords.push_front(OpenDenoiseLibrary(path));
  CurrentLibrary.store(&LibraryRecords.front());
}

const TDenoiseLibrary *DenoiseLibrary() { return CurrentLibrary.load(); }

bool DenoiseAvailable() {
  const TDenoiseLibrary *lib = DenoiseLibrary();
  return lib && lib->HasSse2();
}

double DenoiseThreshold(int32_t Strength) { return std::pow(2.0, Strength / 100.0) * 40.0; }

double DenoiseCoefficient(double Threshold, int32_t Level) {
  return -1.0 / (Threshold * Threshold * 5.0 * double(4096 << Level));
}

std::vector<float> DenoiseSpatialWeights(int32_t Radius, int32_t Sigma2) {
  const double s = Radius * Sigma2 / 50.0;
  std::vector<float> w;
  for (int32_t y = -Radius; y <= Radius; ++y)
    for (int32_t x = -Radius; x <= Radius; ++x) w.push_back(float(std::exp(-(x * x + y * y) / (2 * s * s))));
  return w;
}

TDenoiseGeometry DenoiseGeometry(uint32_t Width, uint32_t Height, TDenoiseIsa Isa) {
  const int32_t m = Isa == TDenoiseIsa::Avx ? 128 : 64;
  TDenoiseGeometry g;
  g.PaddedWidth = RoundUp(std::max<uint32_t>(Width, 1), m);
  g.PaddedHeight = RoundUp(std::max<uint32_t>(Height, 1), m);
  const int64_t strip = 4 * int64_t(g.PaddedWidth) < 16 * int64_t(g.PaddedHeight) ? int64_t(g.PaddedHeight) * 64
                                                                                    : int64_t(g.PaddedWidth) * 16;
  g.ScratchSize = int32_t(std::max<int64_t>(DenoiseMinScratch, strip));
  return g;
}

TDenoiseIsa DenoiseIsaFor(bool UseAVX) {
  const TDenoiseLibrary *lib = DenoiseLibrary();
  return UseAVX && lib && lib->HasAvx() ? TDenoiseIsa::Avx : TDenoiseIsa::Sse2;
}

namespace {

// One pass's working set: the procedures of the chosen set, the planes, the
// scratch and the block the procedures receive.
class TPassRun {
public:
  TPassRun(TMultiThread *Pool, TDenoiseIsa Isa, const TDenoiseTrace *Trace) : FPool(Pool), FTrace(Trace) {
    const TDenoiseLibrary *lib = DenoiseLibrary();
    if (!lib) throw ETessivoError("LoadLibrary Error: libdenoise.so is not loaded");
    FProcs = Isa == TDenoiseIsa::Plain ? lib->Plain : lib->Sse2;
    if (Isa == TDenoiseIsa::Avx) {
      if (!lib->HasAvx()) throw ETessivoError("ノイズ除去: AVX の処理がありません");
      for (int32_t i = 0; i < DNA_AVX_COUNT; ++i) FProcs[size_t(DenoiseAVXReplaces[i])] = lib->Avx[size_t(i)];
    }
    if (!AllSet(FProcs.data(), DNP_SSE2_COUNT))
      throw ETessivoError("ノイズ除去: " + lib->Path + " に処理がありません");
    FIsa = Isa;
  }

  // The planes and scratch for Img, and the block that points at them.
  void Begin(const TICCImgInfo &Img) {
    TDenoiseGeometry g = DenoiseGeometry(Img.Width, Img.Height, FIsa);
    if (FTrace && FTrace->Padding > 0) {
      g.PaddedWidth = RoundUp(Img.Width, FTrace->Padding);
      g.PaddedHeight = RoundUp(Img.Height, FTrace->Padding);
    }
    const int32_t threads = FPool ? std::max(FPool->MaxThread(), 1) : 1;
    PlaneBytes = size_t(g.PaddedWidth) * 4 * size_t(g.PaddedHeight);
    for (TPlane &p : FPlanes) p.reset(static_cast<uint8_t *>(PageAllocReused(PlaneBytes)));
    FScratch = Allocate(size_t(g.ScratchSize) * size_t(threads));
    // A traced pass shows whole planes, so nothing in them may be left over from before.
    if (FTrace && FTrace->PlanesShown)
      for (TPlane &p : FPlanes) std::memset(p.get(), 0, PlaneBytes);
    FHistogram.resize(size_t(2) * size_t(threads) * DenoiseHistogramBins);

    // The load procedures only read the image; the store procedures write it.
    B.Image = Img.Mem;
    B.Width = int32_t(Img.Width), B.Height = int32_t(Img.Height), B.Bpl = int32_t(Img.Bpl);
    B.Channels = int32_t(Img.Channels), B.BPP = int32_t(Img.BPP);
    for (int i = 0; i < 3; ++i) B.Plane[i] = reinterpret_cast<float *>(FPlanes[i].get());
    B.PlaneStride = g.PaddedWidth;
    B.PaddedWidth = g.PaddedWidth, B.PaddedHeight = g.PaddedHeight;
    B.Scratch = FScratch.get(), B.ScratchSize = g.ScratchSize;
    B.Histogram = FHistogram.data(), B.HistogramThreads = threads;
  }

  void Run(int32_t Index) {
    B.TileCounter = 0;
    if (FPool)
      FPool->exec_multi_thread_func(FProcs[size_t(Index)], &B);
    else
      FProcs[size_t(Index)](0, 1, &B);
    if (FTrace && FTrace->AfterStep) FTrace->AfterStep(Index, B);
  }

  void Load() { Run(B.Channels == 3 ? DNP_LOAD_YCC : B.BPP == BPP_8 ? DNP_LOAD_GRAY8 : DNP_LOAD_GRAY14); }

  float *PlaneRow(int32_t P, int32_t y) { return B.Plane[P] + size_t(y) * size_t(B.PlaneStride); }

  TDenoiseBlock B{};
  size_t PlaneBytes = 0;

private:
  TMultiThread *FPool;
  const TDenoiseTrace *FTrace;
  TDenoiseIsa FIsa = TDenoiseIsa::Sse2;
  std::array<TDenoiseProc, DNP_SSE2_COUNT> FProcs{};
  TPlane FPlanes[3];
  TBlock FScratch;
  std::vector<uint32_t> FHistogram;
};

// The luma levels of a pass after Load: each level's plane filtered and
// split into the next level's plane and its filtered detail bands, so that
// plane 0 ends as the coarsest low band with every level's filtered details.
void FilterLevels(TPassRun &R, const TDenoiseValues &Values, const std::vector<float> &Weights, int32_t Radius) {
  R.B.SpatialWeights = Weights.data();
  R.B.Radius = Radius;
  for (int32_t i = 0; i < DenoiseLevels; ++i) {
    const double u = DenoiseThreshold(std::clamp(Values.Level[size_t(i)], 1, 100));
    R.B.Level = i;
    R.B.Threshold = float(u);
    R.B.Coefficient = float(DenoiseCoefficient(u, i));
    R.Run(DNP_LEVEL_STATS);
    R.Run(DNP_LEVEL_FILTER);
    R.Run(DNP_DECOMPOSE_ROWS);
    R.Run(DNP_DECOMPOSE_COLS);
  }
}

// Plane 0 back to full size from level First down to level 0.
void Reconstruct(TPassRun &R, int32_t First) {
  for (int32_t i = First; i >= 0; --i) {
    R.B.Level = i;
    R.Run(DNP_RECONSTRUCT_COLS);
    R.Run(DNP_RECONSTRUCT_ROWS);
  }
}

}  // namespace

void DenoisePass(TICCImgInfo &Img, const TDenoiseValues &Values, TMultiThread *Pool, TDenoiseIsa Isa,
                 const TDenoiseTrace *Trace) {
  const bool colour = Img.Channels == 3;
  TPassRun R(Pool, Isa, Trace);
  if (Img.Width == 0 || Img.Height == 0 || !(colour || Img.Channels == 1)) return;
  R.Begin(Img);

  const int32_t lumaRadius = std::clamp(Values.LumaRadius, 1, DenoiseMaxRadius);
  const std::vector<float> lumaWeights = DenoiseSpatialWeights(lumaRadius, std::clamp(Values.LumaSigma2, 1, 100));
  R.Load();
  FilterLevels(R, Values, lumaWeights, lumaRadius);
  Reconstruct(R, DenoiseLevels - 1);
  if (!colour) {
    R.Run(Img.BPP == BPP_8 ? DNP_STORE_GRAY8 : DNP_STORE_GRAY14);
    return;
  }
  const int32_t chromaRadius = std::clamp(Values.ChromaRadius, 1, DenoiseMaxRadius);
  const std::vector<float> chromaWeights =
      DenoiseSpatialWeights(chromaRadius, std::clamp(Values.ChromaSigma2, 1, 100));
  const double u = DenoiseThreshold(std::clamp(Values.ChromaStrength, 1, 100));
  R.B.Level = 0;
  R.B.SpatialWeights = chromaWeights.data();
  R.B.Radius = chromaRadius;
  R.B.Threshold = float(u);
  R.B.Coefficient = float(DenoiseCoefficient(u, 0));
  R.Run(DNP_CHROMA_STATS);
  R.Run(DNP_CHROMA_FILTER);
  R.Run(DNP_STORE_YCC);
}

TDenoiseLevelNoise DenoiseLevelNoise(const TICCImgInfo &Img, const TDenoiseValues &Values, TMultiThread *Pool,
                                     TDenoiseIsa Isa) {
  TDenoiseLevelNoise out;
  TPassRun R(Pool, Isa, nullptr);
  if (Img.Width == 0 || Img.Height == 0 || !(Img.Channels == 3 || Img.Channels == 1)) return out;
  R.Begin(Img);
  const int32_t W = R.B.PaddedWidth, H = R.B.PaddedHeight;
  const size_t planeFloats = size_t(R.B.PlaneStride) * size_t(H);
  auto snapshot = [&] { return std::vector<float>(R.B.Plane[0], R.B.Plane[0] + planeFloats); };

  // The unfiltered pyramid: each level decomposed with its own plane in
  // place of the filtered one, so every detail band is the picture's own.
  R.Load();
  for (int32_t i = 0; i < DenoiseLevels; ++i) {
    R.B.Level = i;
    for (int32_t y = 0; y < (H >> i); ++y) std::memcpy(R.PlaneRow(1, y), R.PlaneRow(0, y), size_t(W >> i) * 4);
    R.Run(DNP_DECOMPOSE_ROWS);
    R.Run(DNP_DECOMPOSE_COLS);
  }
  const std::vector<float> unfiltered = snapshot();

  // The pass's own pyramid, from the same statistics and filters.
  const int32_t radius = std::clamp(Values.LumaRadius, 1, DenoiseMaxRadius);
  const std::vector<float> weights = DenoiseSpatialWeights(radius, std::clamp(Values.LumaSigma2, 1, 100));
  R.Load();
  FilterLevels(R, Values, weights, radius);
  const std::vector<float> filtered = snapshot();

  // Level i's detail bands are its corner of W >> i by H >> i without the
  // next level's quarter; the synthesis of their difference alone is what
  // that level took away.
  out.Width = Img.Width, out.Height = Img.Height;
  for (int32_t i = 0; i < DenoiseLevels; ++i) {
    std::memset(R.B.Plane[0], 0, R.PlaneBytes);
    const int32_t lw = W >> i, lh = H >> i;
    for (int32_t y = 0; y < lh; ++y) {
      const size_t row = size_t(y) * size_t(R.B.PlaneStride);
      float *d = R.PlaneRow(0, y);
      for (int32_t x = (y < lh / 2 ? lw / 2 : 0); x < lw; ++x) d[x] = unfiltered[row + x] - filtered[row + x];
    }
    Reconstruct(R, i);
    std::vector<float> &level = out.Level[size_t(i)];
    level.resize(size_t(Img.Width) * Img.Height);
    for (uint32_t y = 0; y < Img.Height; ++y)
      std::memcpy(level.data() + size_t(y) * Img.Width, R.PlaneRow(0, int32_t(y)), size_t(Img.Width) * 4);
  }
  return out;
}
