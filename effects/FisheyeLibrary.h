// The lens library (bin/libfisheye.so), program side: binding its two jobs
// at start-up together with the Spline16 phase tables it is handed, and the
// orthographic remap of the lens correction built on them.
#pragma once

#include "core/ImgInfo.h"
#include "fisheye/FisheyeApi.h"

#include <array>
#include <string>

class TMultiThread;

using TFisheyeTapTable = std::array<std::array<double, FisheyeTaps>, FisheyePhases>;

// The phase tables: for phase i and tap j, with t = i / 128, the Spline16
// weight at x = o - t + j divided by the sum of the phase's four weights;
// o is -1.5 below phase 64 and -0.5 from there (EvenTaps) or -1 (OddTaps).
const TFisheyeTapTable &EvenTaps();
const TFisheyeTapTable &OddTaps();

struct TFisheyeLibrary {
  void *Handle = nullptr;
  std::string Path;
  TFisheyeProc Even4Tap = nullptr;
  TFisheyeProc Odd4Tap = nullptr;
};

// Binds libfisheye.so from BinFolder (empty: the program's bin folder) once
// per process and builds the phase tables; binding a file again only makes
// it current. Raises ETessivoError "LoadLibrary Error: <the system's
// message>" when the file cannot be loaded or lacks a job.
void LoadFisheyeLibrary(const std::string &BinFolder = std::string());
// The current binding, or null.
const TFisheyeLibrary *FisheyeLibrary();

// The remap for an orthographic source: the image comes to 8 bits (no
// dithering) and becomes the centred square of its shorter side, remapped by
// "even_4tap" (even side) or "odd_4tap" (odd side) on Pool into an
// equidistant picture of the same angle of view SrcHFOV. Only 3-channel
// images; raises when the library is not bound.
void OrthographicRemap(TICCImgInfo &Img, double SrcHFOV, TMultiThread *Pool);
