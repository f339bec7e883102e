// A colour painted through an 8-bit coverage mask with an opacity: the drop
// shadow of the margins and the glows and shadows of the text effect. Gray
// and colour images mix toward the colour; images with alpha are composited
// "over" them, so the colour shows through transparent places.
#pragma once

#include "core/ImgInfo.h"

#include <array>
#include <cstdint>

// Blends Color (the image's own sample order: gray, or blue, green, red)
// into the 8-bit image Img through the 1-channel 8-bit Mask, whose top-left
// corner lies at the picture position (X, Y) of Img; the parts of the mask
// outside Img are ignored, so X and Y may be negative. Opacity in percent.
void BlendColorThroughMask(TICCImgInfo &Img, const TICCImgInfo &Mask, int32_t X, int32_t Y, const uint8_t Color[3],
                           int32_t Opacity);

// A 0x00BBGGRR colour as the samples BlendColorThroughMask takes for an
// image of Channels: gray (the low byte; a colour brought into a gray
// profile has it in every byte) or blue, green, red.
std::array<uint8_t, 3> MaskBlendColor(uint32_t Color, uint32_t Channels);
