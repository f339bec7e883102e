// The work of the console tool WEMBC on one JPEG file: crop, turn, grayscale,
// optimise, export and import Exif and ICC data, rewrite the Exif, delete
// segments, and write the output, all without re-encoding the picture.
#pragma once

#include "lossless/WembOption.h"

#include <functional>
#include <string>

// Tells why a step gave no output (the program prints it on standard error).
using TWembMessage = std::function<void(const std::string &Text)>;

// Runs the flow for Input; true when Output was written. Input is never changed.
bool RunWembTool(const TWembParam &Param, const std::string &Input, const std::string &Output,
                 const TWembMessage &Message);

// The trimming rectangle of the block's trimming step for a W x H picture;
// false when a value does not evaluate (trimming is then off).
struct TWembRect {
  int32_t X = 0, Y = 0, Width = 0, Height = 0;
};
bool WembTrimRect(const TWembParam &Param, int32_t W, int32_t H, TWembRect &Rect);

// The transform code (Exif orientation) of a Rotation value, 0 for none;
// Rotation 1 takes the Exif orientation given.
int32_t WembRotationTransform(int32_t Rotation, int32_t ExifOrientation);
