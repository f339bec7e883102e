// Binding of the lens library and the remap that runs its jobs.
#include "effects/FisheyeLibrary.h"

#include "core/Errors.h"
#include "core/MultiThread.h"
#include "core/PixelConvert.h"
#include "core/ProgramFolder.h"
#include "resample/Weight.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <forward_list>
#include <mutex>
#include <vector>

namespace {

TFisheyeTapTable MakeTaps(bool Even) {
  const TSpline16 s16;
  TFisheyeTapTable t{};
  for (int32_t i = 0; i < FisheyePhases; ++i) {
    const double phase = double(i) / FisheyePhases;
    const double o = Even ? (i < FisheyePhases / 2 ? -1.5 : -0.5) : -1.0;
    double sum = 0;
    for (int32_t j = 0; j < FisheyeTaps; ++j) sum += t[size_t(i)][size_t(j)] = s16.WeightFunc(o - phase + j);
    for (double &w : t[size_t(i)]) w /= sum;
  }
  return t;
}

std::mutex LibraryLock;
// Every binding made, never freed: a pool job may still hold a procedure.
std::forward_list<TFisheyeLibrary> &LibraryRecords = *new std::forward_list<TFisheyeLibrary>;
std::atomic<const TFisheyeLibrary *> CurrentLibrary{nullptr};

TFisheyeLibrary OpenFisheyeLibrary(const std::string &Path) {
  void *h = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char *e = dlerror();
    throw ETessivoError(std::string("LoadLibrary Error: ") + (e ? e : Path));
  }
  TFisheyeLibrary lib;
  lib.Handle = h;
  lib.Path = Path;
  lib.Even4Tap = reinterpret_cast<TFisheyeProc>(dlsym(h, "even_4tap"));
  lib.Odd4Tap = reinterpret_cast<TFisheyeProc>(dlsym(h, "odd_4tap"));
  if (!lib.Even4Tap || !lib.Odd4Tap) {
    dlclose(h);
    throw ETessivoError("LoadLibrary Error: " + Path + ": even_4tap or odd_4tap not found");
  }
  return lib;
}

}  // namespace

const TFisheyeTapTable &EvenTaps() {
  static const TFisheyeTapTable t = MakeTaps(true);
  return t;
}

const TFisheyeTapTable &OddTaps() {
  static const TFisheyeTapTable t = MakeTaps(false);
  return t;
}

void LoadFisheyeLibrary(const std::string &BinFolder) {
  const std::string path = (BinFolder.empty() ? ProgramBinFolder() : BinFolder) + "/libfisheye.so";
  EvenTaps(), OddTaps();  // built at binding, before any worker runs a job
  std::lock_guard guard(LibraryLock);
  for (const TFisheyeLibrary &lib : LibraryRecords)
    if (lib.Path == path) {
      CurrentLibrary.store(&lib);
      return;
    }
  LibraryRecords.push_front(OpenFisheyeLibrary(path));
  CurrentLibrary.store(&LibraryRecords.front());
}

const TFisheyeLibrary *FisheyeLibrary() { return CurrentLibrary.load(); }

void OrthographicRemap(TICCImgInfo &Img, double SrcHFOV, TMultiThread *Pool) {
  const TFisheyeLibrary *lib = FisheyeLibrary();
  if (!lib) throw ETessivoError("LoadLibrary Error: libfisheye.so is not loaded");
  if (Img.Channels != 3 || Img.Width == 0 || Img.Height == 0) return;
  ConvertTo8Bit(Img, false);
  const uint32_t s = std::min(Img.Width, Img.Height);
  const uint32_t side = s + 2 * FisheyeBorder;
  const size_t borderedBpl = size_t(side) * 3;
  std::vector<uint8_t> bordered(borderedBpl * side, 0);
  const uint32_t left = (Img.Width - s) / 2, bottom = (Img.Height - s) / 2;
  for (uint32_t y = 0; y < s; ++y)
    std::memcpy(bordered.data() + (y + FisheyeBorder) * borderedBpl + FisheyeBorder * 3,
                ScanLine(Img, bottom + y) + size_t(left) * 3, size_t(s) * 3);
  const uint32_t bpl = GetAlignedBpl(s, 3);
  uint8_t *mem = AllocPixelBlock(bpl, s);
  PageFree(Img.Mem);
  Img.Mem = mem, Img.Bpl = bpl, Img.Width = s, Img.Height = s;
  const bool odd = s % 2 != 0;
  // std::array rows lie end to end, as the record's plain table does.
  const TFisheyeTapTable &taps = odd ? OddTaps() : EvenTaps();
  TFisheyeParam p{bordered.data(), mem, int32_t(s / 2), int32_t(borderedBpl), int32_t(bpl),
                  reinterpret_cast<const double(*)[FisheyeTaps]>(taps.data()), SrcHFOV};
  static_assert(sizeof(TFisheyeTapTable) == sizeof(double) * FisheyeTaps * FisheyePhases);
  const TFisheyeProc job = odd ? lib->Odd4Tap : lib->Even4Tap;
  if (Pool)
    Pool->exec_multi_thread_func(job, &p);
  else
    job(0, 1, &p);
}
