// GetPluginInfo of our plug-ins: the answer to info number N is entry N of
// the plug-in's table (the version, its name, then pattern and description
// pairs), copied into the caller's buffer and cut to fit; 0 past the table.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

inline int AnswerPluginInfo(const char *const *Info, size_t Count, int InfoNo, char *Buf, int BufLen) {
  if (InfoNo < 0 || size_t(InfoNo) >= Count || !Buf || BufLen <= 0) return 0;
  const size_t n = std::min(std::strlen(Info[InfoNo]), size_t(BufLen - 1));
  std::memcpy(Buf, Info[InfoNo], n);
  Buf[n] = 0;
  return int(n);
}
