// The scale of the resize step for one image: output size divided by input
// size, per axis; (1, 1) when nothing is resized. The effect chain reports
// it, the loader chooses a reduced JPEG decode from it and the naming writes
// the resampling method from it.
#pragma once

struct TScale {
  double XScale = 1.0;
  double YScale = 1.0;
};
