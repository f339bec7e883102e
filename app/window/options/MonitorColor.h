// The swatch of a colour setting: a working-space colour as the monitor
// shows it.
#pragma once

#include <cstdint>

// Color (0x00BBGGRR, in the working space) through the monitor profile
// while colour management is on, else unchanged.
uint32_t MonitorColorOf(uint32_t Color);
