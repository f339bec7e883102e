// Shared helpers of the codec-library tests: the bound library, a scratch
// folder, tool lookup and small image comparisons.
#pragma once

#include "io/Pixio.h"
#include "core/ImgInfo.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

namespace pixiotest {

inline TPixio &Lib() {
  static TPixio lib(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  return lib;
}

// The last message the library reported through the error callback.
inline std::string &LastMessage() {
  static std::string msg;
  return msg;
}
inline void CaptureMessages() {
  Lib().set_errormsg_callback([](const char *title, const char *message) {
    LastMessage() = std::string(title) + ": " + message;
  });
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path &p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}
inline void WriteFile(const std::filesystem::path &p, const std::vector<uint8_t> &d) {
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char *>(d.data()), std::streamsize(d.size()));
}

// A scratch folder per test process, removed at exit.
inline const std::filesystem::path &TempDir() {
  static struct Holder {
    std::filesystem::path Dir;
    Holder() {
      char tmpl[] = "/tmp/pixio-test-XXXXXX";
      Dir = mkdtemp(tmpl);
    }
    ~Holder() {
      std::error_code ec;
      std::filesystem::remove_all(Dir, ec);
    }
  } holder;
  return holder.Dir;
}

inline bool HaveTool(const char *name) {
  const char *path = std::getenv("PATH");
  std::string p = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= p.size()) {
    const size_t end = p.find(':', start);
    const std::string dir = p.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

inline std::string Quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs a command line built from already quoted parts; true on exit status 0.
inline bool RunTool(const std::string &cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// A decode result that releases itself, as the program will after a load.
struct Decoded {
  TPixioDecode D{};
  Decoded() = default;
  Decoded(const Decoded &) = delete;
  ~Decoded() {
    PageFree(D.Mem);
    PageFree(D.ICCProfile);
  }
  const uint8_t *Row(uint32_t y, bool topDown) const {
    return D.Mem + size_t(topDown ? y : D.Height - 1 - y) * D.Bpl;
  }
};

// A binary PPM/PGM as written by djpeg and read by cjpeg.
struct Pnm {
  uint32_t Width = 0, Height = 0, Channels = 0;
  std::vector<uint8_t> Pixels;  // top-down, R,G,B or gray
};

inline bool ParsePnm(const std::vector<uint8_t> &d, Pnm &out) {
  size_t pos = 0;
  auto token = [&]() {
    while (pos < d.size() && (isspace(d[pos]) || d[pos] == '#')) {
      if (d[pos] == '#') while (pos < d.size() && d[pos] != '\n') ++pos;
      else ++pos;
    }
    std::string t;
    while (pos < d.size() && !isspace(d[pos])) t += char(d[pos++]);
    return t;
  };
  const std::string magic = token();
  if (magic != "P6" && magic != "P5") return false;
  out.Channels = magic == "P6" ? 3 : 1;
  out.Width = uint32_t(std::stoul(token()));
  out.Height = uint32_t(std::stoul(token()));
  token();
  ++pos;
  const size_t n = size_t(out.Width) * out.Height * out.Channels;
  if (d.size() < pos + n) return false;
  out.Pixels.assign(d.begin() + long(pos), d.begin() + long(pos + n));
  return true;
}

inline std::vector<uint8_t> MakePnm(const Pnm &p) {
  const std::string head = std::string(p.Channels == 3 ? "P6" : "P5") + "\n" + std::to_string(p.Width) + " " +
                           std::to_string(p.Height) + "\n255\n";
  std::vector<uint8_t> d(head.begin(), head.end());
  d.insert(d.end(), p.Pixels.begin(), p.Pixels.end());
  return d;
}

// A smooth picture with some detail, so that every DCT path does real work.
inline Pnm TestPicture(uint32_t w, uint32_t h, uint32_t channels, uint32_t seed = 1) {
  Pnm p{w, h, channels, std::vector<uint8_t>(size_t(w) * h * channels)};
  uint32_t r = seed * 2654435761u;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t c = 0; c < channels; ++c) {
        r = r * 1664525u + 1013904223u;
        const int v = int((x * (3 + c) + y * (5 - c)) % 256) / 2 + int((x / 7 + y / 5 + c) % 2) * 60 + int(r >> 28);
        p.Pixels[(size_t(y) * w + x) * channels + c] = uint8_t(std::min(v, 255));
      }
  return p;
}

}  // namespace pixiotest
