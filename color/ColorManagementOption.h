// The colour-management settings record: which profiles the program uses and
// how it converts between them. The settings file fills it; TCMS::InitProfile
// reads it.
#pragma once

#include "core/ImgInfo.h"

#include <cstdint>
#include <string>

struct TColorManagementOption {
  LongBool Enabled = LongTrue;
  std::string MonitorProfile;    // profile file paths, UTF-8; empty = not configured
  std::string RGBProfile;
  std::string GrayscaleProfile;
  std::string CMYKProfile;
  std::string WorkSpaceProfile;
  LongBool CreateICCProfileFromExif = LongTrue;
  int32_t RenderingIntent = 0;   // 0 "知覚的", 1 "相対的", 2 "彩度", 3 "絶対的"
  std::string ColorProfileDir;   // folder offered when choosing profiles
};
using PColorManagementOption = TColorManagementOption *;

// The program-wide record.
extern TColorManagementOption ColorManagementOption;
