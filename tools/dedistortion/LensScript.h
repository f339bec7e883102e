// The script of the reprojection tool: the lines of the panorama script
// language that the lens correction writes, one source image and one result.
//   o y<yaw> p<pitch> r<roll> f<lens code> v<angle> [n"<source>"]
//   p w<width> h<height> f<projection code> v<angle> [P"100 0 0"] [n"<format>"]
//   m i1
// Angles are degrees; the codes are the script language's own. Lines are
// separated by CR LF or LF; empty lines and lines starting with "#" are
// passed over.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// Lens codes of the "o" line this tool reads.
enum : int32_t {
  LENS_FISHEYE_CIRCULAR = 2,      // equidistant, the picture a circle of the width's diameter
  LENS_FISHEYE_FULL_FRAME = 3,    // equidistant, filling the frame
  LENS_FISHEYE_ORTHOGRAPHIC = 8,
  LENS_FISHEYE_EQUISOLID = 21,
};
// Projection codes of the "p" line this tool writes.
enum : int32_t {
  PANO_RECTILINEAR = 0,
  PANO_CYLINDRICAL = 1,
  PANO_EQUIRECTANGULAR = 2,
  PANO_FISHEYE_EQUIDISTANT = 3,
  PANO_FISHEYE_EQUISOLID = 15,
  PANO_PANINI_GENERAL = 19,
};

struct TLensScript {
  // The "o" line.
  double Yaw = 0, Pitch = 0, Roll = 0;
  int32_t LensCode = -1;
  double LensHFOV = 0;
  std::string SourceName;  // n"...", empty when absent
  // The "p" line.
  int32_t Width = 0, Height = 0;
  int32_t PanoCode = -1;
  double PanoHFOV = 0;
};

// A script that cannot be read: What names the line and the token.
class ELensScriptError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Reads a whole script. Raises ELensScriptError for a line or token outside
// the subset above, a missing "o" or "p" line, a second "o" line, codes this
// tool does not project, sizes below 1 or above 65535, angles outside
// (0, 360], and a rectilinear result angle of 180 or more.
TLensScript ParseLensScript(std::string_view Text);
