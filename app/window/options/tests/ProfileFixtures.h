// Profile files made in code for the option-dialog tests: one of each kind
// the colour-management page sorts (RGB, CMYK, gray) and of the kinds it
// leaves out (a device link, a Lab profile, a file that is no profile).
#pragma once

#include <lcms2.h>

#include <fstream>
#include <string>

namespace optiontest {

enum class TProfileFixture { RGB, CMYK, Gray, DeviceLink, Lab, Junk };

// Writes a profile of Kind to Path; false when it could not be written.
inline bool WriteProfile(TProfileFixture Kind, const std::string &Path) {
  if (Kind == TProfileFixture::Junk) {
    std::ofstream(Path) << "this is no colour profile";
    return true;
  }
  cmsHPROFILE P = nullptr;
  switch (Kind) {
    case TProfileFixture::RGB:
      P = cmsCreate_sRGBProfile();
      break;
    case TProfileFixture::Gray: {
      cmsToneCurve *Curve = cmsBuildGamma(nullptr, 2.2);
      P = cmsCreateGrayProfile(cmsD50_xyY(), Curve);
      cmsFreeToneCurve(Curve);
      break;
    }
    case TProfileFixture::CMYK:
      // A press profile needs only its header to be known as CMYK.
      P = cmsCreateProfilePlaceholder(nullptr);
      cmsSetDeviceClass(P, cmsSigOutputClass);
      cmsSetColorSpace(P, cmsSigCmykData);
      cmsSetPCS(P, cmsSigLabData);
      break;
    case TProfileFixture::DeviceLink:
      P = cmsCreateInkLimitingDeviceLink(cmsSigCmykData, 300);
      break;
    case TProfileFixture::Lab:
      P = cmsCreateLab4Profile(nullptr);
      break;
    case TProfileFixture::Junk:
      break;
  }
  if (!P) return false;
  const bool Ok = cmsSaveProfileToFile(P, Path.c_str());
  cmsCloseProfile(P);
  return Ok;
}

}  // namespace optiontest
