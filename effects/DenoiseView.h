// What the noise-removal dialog shows of its settings: a section of the
// picture, at most a square of the view's side, as the step makes it
// ("100%" to "400%"), one denoised component as a gray picture ("Y", "Cb",
// "Cr"), or the noise one luma level removes ("輝度ノイズLv0" to "Lv4"). The
// dialog takes the section from its source on the main thread and renders
// it on its background thread with these functions.
#pragma once

#include "core/ImgInfo.h"
#include "effects/DenoisePass.h"

#include <cstdint>

class TMultiThread;

enum : int32_t {
  DENOISE_VIEW_100 = 0,  // zoom views 0 to 3: 100 % to 400 %
  DENOISE_VIEW_Y = 4,
  DENOISE_VIEW_CB = 5,
  DENOISE_VIEW_CR = 6,
  DENOISE_VIEW_NOISE0 = 7,  // 7 to 11: luma levels 0 to 4
  DENOISE_VIEW_COUNT = 12,
};
extern const char *const DenoiseViewNames[DENOISE_VIEW_COUNT];

// The side of the dialog's view area, and so of the largest section, in pixels.
inline constexpr int32_t DenoiseViewSide = 480;
// How many times each removed-noise sample is drawn stronger around mid-gray:
// the noise of a level is a few 8-bit steps, invisible at its own size.
inline constexpr int32_t DenoiseNoiseGain = 4;

// The zoom of a view: 1 to 4 for the zoom views, 1 for the others.
int32_t DenoiseViewZoom(int32_t View);

// The part of a W x H picture a view shows: Side / zoom pixels each way,
// at most the picture, centred on (CX, CY) (memory rows) as far as the
// picture allows. Left, top, width and height in X, Y, W, H.
struct TDenoiseSection {
  uint32_t X = 0, Y = 0, W = 0, H = 0;
  bool operator==(const TDenoiseSection &) const = default;
};
TDenoiseSection DenoiseViewSection(uint32_t Width, uint32_t Height, int32_t View, int32_t CX, int32_t CY,
                                   int32_t Side = DenoiseViewSide);

// A new record with that section of Img (same depth, channels and profile
// fields; the profile stays Img's).
void CopySection(const TICCImgInfo &Img, const TDenoiseSection &S, TICCImgInfo &Out);

// Renders View of Section (1 or 3 channels of 8, 14 or 16 bits; taken over
// and changed) with Values into an 8-bit record of the section's size: the
// denoised picture for the zoom views (the caller enlarges it), a gray
// picture for the others. Y is (v + 32) >> 6, Cb and Cr (v + 8192) >> 6; a
// gray picture's Cb and Cr are mid-gray. A level's noise n (14-bit scale) is
// 128 + DenoiseNoiseGain * n / 64. A 4-channel picture, which the step
// leaves alone, is shown as it is in every view.
void RenderDenoiseView(TICCImgInfo &Section, const TDenoiseValues &Values, int32_t View, TMultiThread *Pool,
                       TDenoiseIsa Isa);
