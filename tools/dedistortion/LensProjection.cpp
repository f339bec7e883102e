// The reprojection geometry: result projections, the turn and source lenses.
#include "tools/dedistortion/LensProjection.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double Pi = std::numbers::pi;
double Radians(double Degrees) { return Degrees * Pi / 180; }

void Multiply(const double A[3][3], const double B[3][3], double C[3][3]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) C[i][j] = A[i][0] * B[0][j] + A[i][1] * B[1][j] + A[i][2] * B[2][j];
}

// atan(X) for 0 <= X <= 1: below tan(pi/8) by its series up to the 19th
// power (the next term is under 5e-10), above it through atan(1) + atan((X - 1) / (X + 1)).
double AtanUnit(double X) {
  constexpr double TanEighthPi = 0.41421356237309503;
  double base = 0;
  if (X > TanEighthPi) base = Pi / 4, X = (X - 1) / (X + 1);
  constexpr double C[10] = {1.0, -1.0 / 3, 1.0 / 5, -1.0 / 7, 1.0 / 9, -1.0 / 11, 1.0 / 13, -1.0 / 15, 1.0 / 17, -1.0 / 19};
  const double z = X * X;
  double sum = C[9];
  for (int k = 8; k >= 0; --k) sum = sum * z + C[k];
  return base + X * sum;
}

}  // namespace

double AngleFromAxis(double Rho, double Z) {
  const double z = std::fabs(Z);
  if (Rho <= z) {
    if (z == 0) return 0;
    const double t = AtanUnit(Rho / z);
    return Z > 0 ? t : Pi - t;
  }
  const double t = AtanUnit(z / Rho);
  return Z >= 0 ? Pi / 2 - t : Pi / 2 + t;
}

TLensMapping::TLensMapping(const TLensScript &Script, int32_t SourceWidth, int32_t SourceHeight)
    : FWidth(Script.Width), FHeight(Script.Height), FPanoCode(Script.PanoCode), FLensCode(Script.LensCode),
      FSourceWidth(SourceWidth), FSourceHeight(SourceHeight) {
  const double v = Radians(Script.PanoHFOV), a = Radians(Script.LensHFOV);
  const double w = FWidth;
  switch (FPanoCode) {
    case PANO_RECTILINEAR: FPanoDistance = w / (2 * std::tan(v / 2)); break;
    case PANO_FISHEYE_EQUISOLID: FPanoDistance = w / (4 * std::sin(v / 4)); break;
    case PANO_PANINI_GENERAL: FPanoDistance = w / (4 * std::tan(v / 4)); break;
    default: FPanoDistance = w / v; break;
  }
  const double sw = SourceWidth;
  switch (FLensCode) {
    case LENS_FISHEYE_ORTHOGRAPHIC: FLensScale = (sw / 2) / std::sin(std::min(a, Pi) / 2); break;
    case LENS_FISHEYE_EQUISOLID: FLensScale = (sw / 2) / (2 * std::sin(a / 4)); break;
    default: FLensScale = sw / a; break;
  }
  FCircleRadius2 = (sw / 2) * (sw / 2);
  // Result direction to source direction: the yaw turn first, then pitch, then roll.
  const double y = -Radians(Script.Yaw), p = -Radians(Script.Pitch), r = -Radians(Script.Roll);
  const double yaw[3][3] = {{std::cos(y), 0, std::sin(y)}, {0, 1, 0}, {-std::sin(y), 0, std::cos(y)}};
  const double pitch[3][3] = {{1, 0, 0}, {0, std::cos(p), -std::sin(p)}, {0, std::sin(p), std::cos(p)}};
  const double roll[3][3] = {{std::cos(r), -std::sin(r), 0}, {std::sin(r), std::cos(r), 0}, {0, 0, 1}};
  double rp[3][3];
  Multiply(roll, pitch, rp);
  Multiply(rp, yaw, FMatrix);
  FTurned = Script.Yaw != 0 || Script.Pitch != 0 || Script.Roll != 0;
}

bool TLensMapping::Direction(double x, double y, double D[3]) const {
  const double d = FPanoDistance;
  switch (FPanoCode) {
    case PANO_RECTILINEAR: D[0] = x, D[1] = y, D[2] = d; return true;
    case PANO_CYLINDRICAL: {
      const double lon = x / d;
      if (std::fabs(lon) > Pi) return false;
      D[0] = std::sin(lon), D[1] = y / d, D[2] = std::cos(lon);
      return true;
    }
    case PANO_EQUIRECTANGULAR: {
      const double lon = x / d, lat = y / d;
      if (std::fabs(lon) > Pi || std::fabs(lat) > Pi / 2) return false;
      D[0] = std::sin(lon) * std::cos(lat), D[1] = std::sin(lat), D[2] = std::cos(lon) * std::cos(lat);
      return true;
    }
    case PANO_FISHEYE_EQUIDISTANT:
    case PANO_FISHEYE_EQUISOLID: {
      const double r = std::sqrt(x * x + y * y);
      double theta = r / d;
      if (FPanoCode == PANO_FISHEYE_EQUISOLID) {
        if (r > 2 * d) return false;
        theta = 2 * std::asin(r / (2 * d));
      }
      if (theta > Pi) return false;
      const double s = r > 0 ? std::sin(theta) / r : 0;
      D[0] = x * s, D[1] = y * s, D[2] = std::cos(theta);
      return true;
    }
    case PANO_PANINI_GENERAL: {
      const double lon = 2 * std::atan(x / (2 * d));
      const double c = std::cos(lon);
      D[0] = std::sin(lon), D[1] = y / d * (1 + c) / 2, D[2] = c;
      return true;
    }
    default: return false;
  }
}

bool TLensMapping::SourcePoint(const double D[3], double &SX, double &SY) const {
  const double rho = std::sqrt(D[0] * D[0] + D[1] * D[1]);
  const double theta = AngleFromAxis(rho, D[2]);
  double r;
  switch (FLensCode) {
    case LENS_FISHEYE_ORTHOGRAPHIC:
      if (theta > Pi / 2) return false;
      r = FLensScale * std::sin(theta);
      break;
    case LENS_FISHEYE_EQUISOLID: r = 2 * FLensScale * std::sin(theta / 2); break;
    default: r = FLensScale * theta; break;
  }
  if (FLensCode == LENS_FISHEYE_CIRCULAR && r * r > FCircleRadius2) return false;
  if (rho > 0) {
    const double k = r / rho;
    SX = k * D[0], SY = k * D[1];
  } else {
    if (D[2] < 0) return false;  // straight behind: no direction in the picture
    SX = SY = 0;
  }
  SX += (FSourceWidth - 1) / 2.0, SY += (FSourceHeight - 1) / 2.0;
  return SX >= -0.5 && SY >= -0.5 && SX <= FSourceWidth - 0.5 && SY <= FSourceHeight - 0.5;
}

bool TLensMapping::Map(double X, double Y, double &SX, double &SY) const {
  double d[3];
  if (!Direction(X - (FWidth - 1) / 2.0, Y - (FHeight - 1) / 2.0, d)) return false;
  if (FTurned) {
    const double t[3] = {d[0], d[1], d[2]};
    for (int i = 0; i < 3; ++i) d[i] = FMatrix[i][0] * t[0] + FMatrix[i][1] * t[1] + FMatrix[i][2] * t[2];
  }
  return SourcePoint(d, SX, SY);
}

void TLensMapping::MapRow(int32_t Y, float *SX, float *SY, uint8_t *Valid) const {
  const auto exact = [&](int32_t x) {
    double sx = 0, sy = 0;
    const bool ok = Map(x, Y, sx, sy);
    SX[x] = ok ? float(sx) : 0.f, SY[x] = ok ? float(sy) : 0.f, Valid[x] = ok ? 1 : 0;
  };
  // Every other pixel is worked out; one between two seen neighbours takes
  // their midpoint where the mapping is nearly straight there. The midpoint
  // misses by an eighth of the second derivative, and the second difference
  // of the worked-out pixels (two apart) is four times that derivative, so
  // a second difference below 32 x MidpointError keeps the miss under
  // MidpointError; elsewhere (a seam, the rim, a bend) the point is worked out.
  constexpr float MidpointError = 0.002f;
  for (int32_t x = 0; x < FWidth; x += 2) exact(x);
  const auto straight = [&](int32_t a, int32_t b, int32_t c) {
    return Valid[a] && Valid[b] && Valid[c] && std::fabs(SX[a] - 2 * SX[b] + SX[c]) < 32 * MidpointError &&
           std::fabs(SY[a] - 2 * SY[b] + SY[c]) < 32 * MidpointError;
  };
  for (int32_t x = 1; x < FWidth; x += 2) {
    const bool inside = x + 1 < FWidth && (x + 3 < FWidth ? straight(x - 1, x + 1, x + 3) : x >= 3 && straight(x - 3, x - 1, x + 1));
    if (inside) {
      SX[x] = (SX[x - 1] + SX[x + 1]) * 0.5f, SY[x] = (SY[x - 1] + SY[x + 1]) * 0.5f, Valid[x] = 1;
    } else {
      exact(x);
    }
  }
}
