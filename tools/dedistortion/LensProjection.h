// Where each result pixel of the reprojection tool looks in the source.
// Directions are unit vectors with x to the right, y down and z straight
// ahead; a result pixel gives a direction by the inverse of its projection,
// the direction is turned by yaw, pitch and roll into the source's frame,
// and the source lens gives the point in the source. Pixel centres are at
// whole coordinates and both images are centred on their middle, as the
// panorama script language has it:
//  - rectilinear: distance D = W / (2 tan(v/2)); cylindrical, equirectangular
//    and equidistant fisheye: D = W / v; equisolid fisheye: r = 2D sin(theta/2)
//    with D = W / (4 sin(v/4)); general Panini (compression 100, no tops or
//    bottoms): x = 2D tan(lon/2), y = 2D tan(lat) / (1 + cos lon) with
//    D = W / (4 tan(v/4)).
//  - source lenses, angle a across the width w: equidistant r = F theta with
//    F = w / a (the circular kind keeps only the circle of diameter w);
//    orthographic r = F sin theta, F = (w/2) / sin(min(a, 180)/2), nothing
//    beyond 90 degrees; equisolid r = 2F sin(theta/2), F = (w/2) / (2 sin(a/4)).
//  - a positive yaw puts the source further right in the result, a positive
//    pitch higher, and a positive roll turns it clockwise.
#pragma once

#include "tools/dedistortion/LensScript.h"

#include <cstdint>

// The angle between a direction and the straight-ahead axis, atan2(Rho, Z)
// for Rho >= 0, to within 1e-9 radians: a short series after two range
// reductions, several times quicker than the library's atan2.
double AngleFromAxis(double Rho, double Z);

class TLensMapping {
public:
  TLensMapping(const TLensScript &Script, int32_t SourceWidth, int32_t SourceHeight);

  // Source position of the result pixel (X, Y) (counted from the top left);
  // false when it sees nothing of the source.
  bool Map(double X, double Y, double &SX, double &SY) const;
  // The positions of one result row; Valid[x] is 0 where nothing is seen
  // (SX and SY are 0 there).
  void MapRow(int32_t Y, float *SX, float *SY, uint8_t *Valid) const;

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }

private:
  bool Direction(double x, double y, double D[3]) const;
  bool SourcePoint(const double D[3], double &SX, double &SY) const;

  int32_t FWidth, FHeight, FPanoCode, FLensCode;
  int32_t FSourceWidth, FSourceHeight;
  double FPanoDistance;    // D of the result projection
  double FLensScale;       // F of the source lens
  double FCircleRadius2;   // circular fisheye: squared radius of the picture
  double FMatrix[3][3];
  bool FTurned;            // the matrix is not the identity
};
