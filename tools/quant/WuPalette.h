// A fast palette search: Wu's variance-minimising box cuts over a 5-bit
// colour histogram give the starting palette, then k-means passes over a
// 6-bit histogram (each bin at the mean of its pixels) move every entry to
// the mean of the colours nearest to it. Plain RGB distances throughout, so
// each pass lowers the squared error that PSNR measures.
#pragma once

#include "tools/quant/QuantTool.h"

#include <cstdint>
#include <vector>

// At most Colours entries (fewer when the picture has fewer colours);
// Passes k-means passes (0 keeps Wu's boxes). With HasFixed, Fixed is one of
// the entries and stays where it is.
std::vector<TRgba> WuPalette(const TRgba *Pixels, size_t Count, int32_t Colours, int32_t Passes,
                             bool HasFixed = false, TRgba Fixed = {});
