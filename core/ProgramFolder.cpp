// The running program's folder, as the kernel names it in /proc/self/exe.
#include "core/ProgramFolder.h"

#include <unistd.h>

#include <vector>

std::string ProgramFolder() {
  // A path may be longer than PATH_MAX on Linux; grow until readlink leaves room.
  for (size_t size = 4096; size <= (size_t(1) << 20); size *= 4) {
    std::vector<char> buf(size);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n <= 0) break;
    if (size_t(n) < buf.size()) {
      const std::string exe(buf.data(), size_t(n));
      const size_t slash = exe.rfind('/');
      if (slash == std::string::npos) break;
      return slash == 0 ? std::string("/") : exe.substr(0, slash);
    }
  }
  return ".";
}

std::string ProgramBinFolder() {
  const std::string folder = ProgramFolder();
  return folder == "/" ? "/bin" : folder + "/bin";
}
