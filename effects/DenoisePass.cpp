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

void DenoisePass(TICCImgInfo &Img, const TDenoiseValues &Values, TMultiThread *Pool, TDenoiseIsa Isa,
                 const TDenoiseTrace *Trace) {
  const TDenoiseLibrary *lib = DenoiseLibrary();
  if (!lib) throw ETessivoError("LoadLibrary Error: libdenoise.so is not loaded");
  std::array<TDenoiseProc, DNP_SSE2_COUNT> procs = Isa == TDenoiseIsa::Plain ? lib->Plain : lib->Sse2;
  if (Isa == TDenoiseIsa::Avx) {
    if (!lib->HasAvx()) throw ETessivoError("ノイズ除去: AVX の処理がありません");
    for (int32_t i = 0; i < DNA_AVX_COUNT; ++i) procs[size_t(DenoiseAVXReplaces[i])] = lib->Avx[size_t(i)];
  }
  if (!AllSet(procs.data(), DNP_SSE2_COUNT)) throw ETessivoError("ノイズ除去: " + lib->Path + " に処理がありません");
  const bool colour = Img.Channels == 3;
  if (Img.Width == 0 || Img.Height == 0 || !(colour || Img.Channels == 1)) return;

  TDenoiseGeometry g = DenoiseGeometry(Img.Width, Img.Height, Isa);
  if (Trace && Trace->Padding > 0) {
    g.PaddedWidth = RoundUp(Img.Width, Trace->Padding);
    g.PaddedHeight = RoundUp(Img.Height, Trace->Padding);
  }
  const int32_t threads = Pool ? std::max(Pool->MaxThread(), 1) : 1;
  const size_t planeBytes = size_t(g.PaddedWidth) * 4 * size_t(g.PaddedHeight);
  TPlane planes[3];
  for (TPlane &p : planes) p.reset(static_cast<uint8_t *>(PageAllocReused(planeBytes)));
  TBlock scratch = Allocate(size_t(g.ScratchSize) * size_t(threads));
  // A traced pass shows whole planes, so nothing in them may be left over from before.
  if (Trace && Trace->PlanesShown)
    for (TPlane &p : planes) std::memset(p.get(), 0, planeBytes);
  std::vector<uint32_t> histogram(size_t(2) * size_t(threads) * DenoiseHistogramBins);

  TDenoiseBlock B{};
  B.Image = Img.Mem;
  B.Width = int32_t(Img.Width), B.Height = int32_t(Img.Height), B.Bpl = int32_t(Img.Bpl);
  B.Channels = int32_t(Img.Channels), B.BPP = int32_t(Img.BPP);
  for (int i = 0; i < 3; ++i) B.Plane[i] = reinterpret_cast<float *>(planes[i].get());
  B.PlaneStride = g.PaddedWidth;
  B.PaddedWidth = g.PaddedWidth, B.PaddedHeight = g.PaddedHeight;
  B.Scratch = scratch.get(), B.ScratchSize = g.ScratchSize;
  B.Histogram = histogram.data(), B.HistogramThreads = threads;

  auto run = [&](int32_t Index) {
    B.TileCounter = 0;
    if (Pool)
      Pool->exec_multi_thread_func(procs[size_t(Index)], &B);
    else
      procs[size_t(Index)](0, 1, &B);
    if (Trace && Trace->AfterStep) Trace->AfterStep(Index, B);
  };
  const int32_t lumaRadius = std::clamp(Values.LumaRadius, 1, DenoiseMaxRadius);
  const std::vector<float> lumaWeights = DenoiseSpatialWeights(lumaRadius, std::clamp(Values.LumaSigma2, 1, 100));

  run(colour ? DNP_LOAD_YCC : Img.BPP == BPP_8 ? DNP_LOAD_GRAY8 : DNP_LOAD_GRAY14);
  B.SpatialWeights = lumaWeights.data();
  B.Radius = lumaRadius;
  for (int32_t i = 0; i < DenoiseLevels; ++i) {
    const double u = DenoiseThreshold(std::clamp(Values.Level[size_t(i)], 1, 100));
    B.Level = i;
    B.Threshold = float(u);
    B.Coefficient = float(DenoiseCoefficient(u, i));
    run(DNP_LEVEL_STATS);
    run(DNP_LEVEL_FILTER);
    run(DNP_DECOMPOSE_ROWS);
    run(DNP_DECOMPOSE_COLS);
  }
  for (int32_t i = DenoiseLevels - 1; i >= 0; --i) {
    B.Level = i;
    run(DNP_RECONSTRUCT_COLS);
    run(DNP_RECONSTRUCT_ROWS);
  }
  if (!colour) {
    run(Img.BPP == BPP_8 ? DNP_STORE_GRAY8 : DNP_STORE_GRAY14);
    return;
  }
  const int32_t chromaRadius = std::clamp(Values.ChromaRadius, 1, DenoiseMaxRadius);
  const std::vector<float> chromaWeights =
      DenoiseSpatialWeights(chromaRadius, std::clamp(Values.ChromaSigma2, 1, 100));
  const double u = DenoiseThreshold(std::clamp(Values.ChromaStrength, 1, 100));
  B.Level = 0;
  B.SpatialWeights = chromaWeights.data();
  B.Radius = chromaRadius;
  B.Threshold = float(u);
  B.Coefficient = float(DenoiseCoefficient(u, 0));
  run(DNP_CHROMA_STATS);
  run(DNP_CHROMA_FILTER);
  run(DNP_STORE_YCC);
}
