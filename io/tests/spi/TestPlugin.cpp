// An image-loader plug-in for the host's tests, built once per behaviour
// (TEST_SPI_MODE): a well-behaved one, and ones that answer a wrong interface
// version, fail every decode, or hand back a DIB whose pixel block is far
// shorter than its header promises. They read a tiny format of their own:
// "TPIC", width and height (32-bit little-endian), then RGB rows top-down.
// Two extra exports let a test see how the host called it.
#include "io/SusieABI.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#define MODE_GOOD 0
#define MODE_WRONG_VERSION 1
#define MODE_ERROR 2
#define MODE_TRUNCATED 3

#ifndef TEST_SPI_MODE
#error "TEST_SPI_MODE must be set"
#endif

namespace {

const char *Patterns() {
  switch (TEST_SPI_MODE) {
    case MODE_WRONG_VERSION: return "*.piw";
    case MODE_ERROR: return "*.pie";
    case MODE_TRUNCATED: return "*.pit";
    default: return "*.pic";
  }
}

std::atomic<int> IsSupportedCalls{0};
std::atomic<int> LastInputFlag{-1};
std::atomic<int> InFlight{0};
std::atomic<int> MostInFlight{0};

// Notes one call in progress; decoding lingers a little so that calls from
// two threads would overlap if the host let them.
struct TCall {
  TCall() {
    const int now = ++InFlight;
    int seen = MostInFlight.load();
    while (now > seen && !MostInFlight.compare_exchange_weak(seen, now)) {
    }
  }
  ~TCall() { --InFlight; }
};

bool ReadSource(const char *Buf, intptr_t Len, unsigned Flag, std::vector<uint8_t> &Bytes) {
  LastInputFlag = int(Flag & SPI_INPUT_MASK);
  if ((Flag & SPI_INPUT_MASK) == SPI_INPUT_MEMORY) {
    if (Len < 0) return false;
    Bytes.assign(reinterpret_cast<const uint8_t *>(Buf), reinterpret_cast<const uint8_t *>(Buf) + Len);
    return true;
  }
  FILE *f = std::fopen(Buf, "rb");
  if (!f) return false;
  uint8_t chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) Bytes.insert(Bytes.end(), chunk, chunk + n);
  std::fclose(f);
  return true;
}

uint32_t LE32(const uint8_t *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

bool Parse(const std::vector<uint8_t> &B, uint32_t &W, uint32_t &H) {
  if (B.size() < 12 || std::memcmp(B.data(), "TPIC", 4) != 0) return false;
  W = LE32(&B[4]);
  H = LE32(&B[8]);
  return W > 0 && H > 0 && W <= 4096 && H <= 4096 && B.size() >= 12 + size_t(W) * H * 3;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int GetPluginInfo(int infono, char *buf, int buflen) {
  const char *text = nullptr;
  switch (infono) {
    case 0: text = TEST_SPI_MODE == MODE_WRONG_VERSION ? "00XX" : SPI_VERSION_IMAGE; break;
    case 1: text = "test plug-in"; break;
    case 2: text = Patterns(); break;
    case 3: text = "test pictures"; break;
    default: return 0;
  }
  const int n = std::min(int(std::strlen(text)), buflen - 1);
  std::memcpy(buf, text, size_t(n));
  buf[n] = 0;
  return n;
}

__attribute__((visibility("default"))) int IsSupported(const char *, const void *head) {
  ++IsSupportedCalls;
  return std::memcmp(head, "TPIC", 4) == 0 ? 1 : 0;
}

__attribute__((visibility("default"))) int GetPictureInfo(const char *buf, intptr_t len, unsigned int flag,
                                                          SusiePictureInfo *lpInfo) {
  std::vector<uint8_t> bytes;
  if (!ReadSource(buf, len, flag, bytes)) return SPI_FILE_READ_ERROR;
  uint32_t w, h;
  if (!Parse(bytes, w, h)) return SPI_UNKNOWN_FORMAT;
  *lpInfo = {};
  lpInfo->width = int32_t(w);
  lpInfo->height = int32_t(h);
  lpInfo->colorDepth = 24;
  lpInfo->hInfo = std::malloc(16);  // extra text the host must free
  return SPI_SUCCESS;
}

__attribute__((visibility("default"))) int GetPicture(const char *buf, intptr_t len, unsigned int flag,
                                                      void **pHBInfo, void **pHBm, SusieProgressCallback, intptr_t) {
  TCall call;
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  std::vector<uint8_t> bytes;
  if (!ReadSource(buf, len, flag, bytes)) return SPI_FILE_READ_ERROR;
  uint32_t w, h;
  if (!Parse(bytes, w, h)) return SPI_UNKNOWN_FORMAT;
  if (TEST_SPI_MODE == MODE_ERROR) return SPI_BROKEN_DATA;
  const size_t stride = (size_t(w) * 3 + 3) & ~size_t(3);
  auto *info = static_cast<SusieBitmapInfoHeader *>(std::calloc(1, sizeof(SusieBitmapInfoHeader)));
  const size_t bitsSize = TEST_SPI_MODE == MODE_TRUNCATED ? 16 : stride * h;
  auto *bits = static_cast<uint8_t *>(std::calloc(bitsSize, 1));
  info->biSize = sizeof(SusieBitmapInfoHeader);
  info->biWidth = int32_t(w);
  info->biHeight = int32_t(h);
  info->biPlanes = 1;
  info->biBitCount = 24;
  if (TEST_SPI_MODE != MODE_TRUNCATED)
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t *s = &bytes[12 + (size_t(y) * w + x) * 3];
        uint8_t *d = bits + size_t(h - 1 - y) * stride + size_t(x) * 3;
        d[0] = s[2], d[1] = s[1], d[2] = s[0];
      }
  *pHBInfo = info;
  *pHBm = bits;
  return SPI_SUCCESS;
}

#if TEST_SPI_MODE == MODE_GOOD
// Only the well-behaved one has a configuration dialog; it accepts function 1
// (settings) and remembers how it was last called.
std::atomic<int> ConfigCalls{0};
std::atomic<int> LastConfigFunction{-1};
std::atomic<void *> LastConfigParent{nullptr};
__attribute__((visibility("default"))) int ConfigurationDlg(void *parent, int fnc) {
  ++ConfigCalls;
  LastConfigFunction = fnc;
  LastConfigParent = parent;
  return fnc == 1 ? SPI_SUCCESS : SPI_INTERNAL_ERROR;
}
// The configuration calls so far, the function and the parent window of the last.
__attribute__((visibility("default"))) void TestPluginConfigCalls(int *Calls, int *Function, void **Parent) {
  *Calls = ConfigCalls;
  *Function = LastConfigFunction;
  *Parent = LastConfigParent;
}
#endif

// How the host called: IsSupported calls so far, the input flag of the last
// picture call (-1 none), and the most calls that were ever in progress at once.
__attribute__((visibility("default"))) void TestPluginCalls(int *Supported, int *Flag, int *MostAtOnce) {
  *Supported = IsSupportedCalls;
  *Flag = LastInputFlag;
  *MostAtOnce = MostInFlight;
}

__attribute__((visibility("default"))) void TestPluginReset() {
  IsSupportedCalls = 0;
  LastInputFlag = -1;
  MostInFlight = 0;
}

}  // extern "C"
