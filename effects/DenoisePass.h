// Noise removal, program side: binding the noise-removal library
// (bin/libdenoise.so) and running its procedures in the fixed order of a
// denoise pass (planes, five levels of filtering and decomposition,
// reconstruction, chroma, store). What each procedure computes belongs to
// the library (denoise/DenoiseKernels.inc).
#pragma once

#include "core/ImgInfo.h"
#include "denoise/DenoiseApi.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TMultiThread;

// One loaded library: its tables as GetDenoiseFuncs filled them. A library
// without the entry binds with empty tables, and noise removal is off.
struct TDenoiseLibrary {
  void *Handle = nullptr;
  std::string Path;
  std::array<TDenoiseProc, DNP_SSE2_COUNT> Sse2{};
  std::array<TDenoiseProc, DNA_AVX_COUNT> Avx{};
  std::array<TDenoiseProc, DNP_SSE2_COUNT> Plain{};  // optional entry, for tests
  bool HasSse2() const;
  bool HasAvx() const;
};

// Binds libdenoise.so from BinFolder (empty: the program's bin folder) once
// per process; binding a file again only makes it current. Raises
// ETessivoError "LoadLibrary Error: <the system's message>" when the file
// cannot be loaded.
void LoadDenoiseLibrary(const std::string &BinFolder = std::string());
// The current binding, or null.
const TDenoiseLibrary *DenoiseLibrary();
// Whether noise removal can run: a library is bound and has its procedures.
bool DenoiseAvailable();

// The filter values of one pass (luma and chroma).
struct TDenoiseValues {
  std::array<int32_t, 5> Level{};  // luma level strengths Lv0 .. Lv4, 1 to 100
  int32_t LumaSigma2 = 50, LumaRadius = 3;
  int32_t ChromaStrength = 40, ChromaSigma2 = 50, ChromaRadius = 3;
};

// Which procedures run: the library's SSE2 set, its SSE2 set with the AVX
// set in place of six of them, or (tests) the plain reference.
enum class TDenoiseIsa { Plain, Sse2, Avx };

// Threshold of a level strength: 2^(Lv / 100) * 40, and the range
// coefficient of level i: -1 / (u^2 * 5 * (4096 shl i)).
double DenoiseThreshold(int32_t Strength);
double DenoiseCoefficient(double Threshold, int32_t Level);
// The (2R + 1)^2 spatial weights exp(-(x^2 + y^2) / (2 s^2)), s = R * Sigma2 / 50.
std::vector<float> DenoiseSpatialWeights(int32_t Radius, int32_t Sigma2);

// Plane geometry of a W x H image for a set: sides rounded up to 64 (SSE2,
// plain) or 128 (AVX), and the scratch bytes per pool thread.
struct TDenoiseGeometry {
  int32_t PaddedWidth, PaddedHeight, ScratchSize;
};
TDenoiseGeometry DenoiseGeometry(uint32_t Width, uint32_t Height, TDenoiseIsa Isa);

// The code path a run takes: AVX when UseAVX, the library has the AVX set
// and the processor has AVX2; else SSE2.
TDenoiseIsa DenoiseIsaFor(bool UseAVX);

// What a pass shows of itself (tests compare code paths step by step):
// Padding other than 0 replaces the set's rounding of the plane sides, and
// AfterStep sees the block after every procedure with its SSE2 index.
// Planes that AfterStep looks at are cleared first (PlanesShown), so that
// nothing in them is left over from before; a trace that only times the
// steps leaves them as a real pass has them.
struct TDenoiseTrace {
  int32_t Padding = 0;
  std::function<void(int32_t Procedure, const TDenoiseBlock &Block)> AfterStep;
  bool PlanesShown = true;
};

// Runs one pass on a 1-channel 8- or 14-bit image (gray pass) or a 3-channel
// YCC14 image (colour pass), in place. Pool may be null. Raises
// ETessivoError when the library or the chosen set is missing.
void DenoisePass(TICCImgInfo &Img, const TDenoiseValues &Values, TMultiThread *Pool, TDenoiseIsa Isa,
                 const TDenoiseTrace *Trace = nullptr);

// What each luma level of a pass removes, as pictures of the image's size
// on the 14-bit scale, rows as stored: level i's picture is the synthesis of
// the difference between that level's detail bands as the picture has them
// and as the pass filters them, every other band zero. The pyramid is
// linear, so the five pictures add up to the luma (or gray) the pass takes
// away before its store rounds and clamps; the coarsest low band is never
// filtered and adds nothing. Img is read only (1 channel 8 or 14 bits, or
// 3-channel YCC14 of which Y counts); the pass's own statistics and filters
// run, so the levels are those of DenoisePass with the same values.
struct TDenoiseLevelNoise {
  uint32_t Width = 0, Height = 0;
  std::array<std::vector<float>, DenoiseLevels> Level;
};
TDenoiseLevelNoise DenoiseLevelNoise(const TICCImgInfo &Img, const TDenoiseValues &Values, TMultiThread *Pool,
                                     TDenoiseIsa Isa);
