// Working-space colours for the monitor.
#include "app/window/options/MonitorColor.h"

#include "color/ICCUtil.h"
#include "core/ImgInfo.h"

#include <exception>

uint32_t MonitorColorOf(uint32_t Color) {
  TICCImgInfo Monitor{};
  Monitor.Channels = 3;
  Monitor.PixelFormat = PIXFMT_BGR;
  Monitor.ProfileType = PROFILE_MONITOR;
  try {
    TTransForm T;
    if (T.InitWork2DestTransform(Monitor)) return T.Work2DestColor(Color) & 0xFFFFFF;
  } catch (const std::exception &) {
    // Profiles that cannot be loaded leave the swatch unconverted; the
    // reason is logged where the profiles are loaded.
  }
  return Color & 0xFFFFFF;
}
