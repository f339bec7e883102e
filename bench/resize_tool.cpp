// Developer tool: resizes a PPM/PGM/PAM image (8 or 16 bit, with or without
// alpha) with any kernel, parameter, data path, linear light, limiter and
// thread count, writes the result and prints the time of the resize alone.
// It can also generate the noisy, detailed test image the comparisons use.
#include "core/Errors.h"
#include "core/AsciiCase.h"
#include "resample/Filter.h"
#include "core/ImgInfo.h"
#include "core/MultiThread.h"
#include "resample/Resize.h"
#include "resample/Weight.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char *const Usage = R"(usage: resize_tool [options] INPUT|--generate WxH[:rgba|:gray] [OUTPUT]
  --size WxH          destination size (required unless only generating)
  --kernel NAME       kernel for both directions: area lanczos bilinear bicubic
                      blackman spline16 spline36 gaussian nearest (default lanczos)
  --dec NAME, --int NAME   kernel for reduction / enlargement only
  --param N           radius, sharpness or blur of the kernels (default 3)
  --dec-param N, --int-param N
  --float | --integer data path (default integer)
  --linear            resample in linear light (always the float path)
  --no-alpha          four channels are plain samples, not colour and alpha
  --limiter           clamp overshoot to the source's local range
  --threads N         pool threads (default 1: the calling thread)
  --repeat N          resize N times and report the fastest (default 1)
  --depth 8|16        output depth (default: the input's)
  --isa plain|sse2|avx2  code path of the passes (default: the library's choice)
  --lib DIR           folder holding libresize.so (default: the build's bin/)
  --json              print the timing as one JSON object
  --breakdown         also time the passes alone (front-end cost = the difference)
INPUT/OUTPUT are PNM files (P5, P6, P7 with GRAYSCALE, RGB, GRAYSCALE_ALPHA,
RGB_ALPHA); OUTPUT "-" or absent: no output file.
)";

[[noreturn]] void Fail(const std::string &Msg) {
  std::cerr << "resize_tool: " << Msg << "\n";
  std::exit(2);
}

struct TPnm {
  TICCImgInfo Img{};
  bool GrayAlpha = false;  // 2 channels on disk, widened to BGRA in memory
  uint32_t MaxVal = 255;
  ~TPnm() { FreeICCImgInfo(Img, false); }
};

void AllocImage(TICCImgInfo &Img, uint32_t W, uint32_t H, uint32_t C, uint32_t BPP) {
  Img.Width = W;
  Img.Height = H;
  Img.Channels = C;
  Img.BPP = BPP;
  Img.Bpl = BPP == BPP_8 ? GetAlignedBpl(W, C) : GetAlignedBpl16(W, C);
  Img.Mem = AllocPixelBlock(Img.Bpl, H);
  Img.PixelFormat = C == 1 ? PIXFMT_GRAY : C == 3 ? PIXFMT_BGR : PIXFMT_BGRA;
}

std::string Token(std::istream &In) {
  std::string t;
  int ch;
  while ((ch = In.get()) != EOF) {
    if (ch == '#') {
      while ((ch = In.get()) != EOF && ch != '\n') {
      }
      continue;
    }
    if (std::isspace(ch)) {
      if (!t.empty()) break;
      continue;
    }
    t += char(ch);
  }
  return t;
}

uint32_t Number(const std::string &T, const char *What) {
  char *end = nullptr;
  const unsigned long v = std::strtoul(T.c_str(), &end, 10);
  if (T.empty() || *end || v == 0 || v > 1000000) Fail(std::string("bad ") + What + " in header");
  return uint32_t(v);
}

// Reads P5, P6 or P7 into a bottom-up BGR(A)/gray record: 8-bit for maxval
// 255 or less, else the 14-bit working depth.
void ReadPnm(const std::string &Path, TPnm &P) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) Fail("cannot open " + Path);
  const std::string magic = Token(in);
  uint32_t w = 0, h = 0, depth = 0, maxval = 0;
  std::string tupl;
  if (magic == "P5" || magic == "P6") {
    w = Number(Token(in), "width");
    h = Number(Token(in), "height");
    maxval = Number(Token(in), "maxval");
    depth = magic == "P5" ? 1 : 3;
  } else if (magic == "P7") {
    for (std::string t; (t = Token(in)) != "ENDHDR";) {
      if (t.empty()) Fail("truncated PAM header");
      if (t == "WIDTH") w = Number(Token(in), "width");
      else if (t == "HEIGHT") h = Number(Token(in), "height");
      else if (t == "DEPTH") depth = Number(Token(in), "depth");
      else if (t == "MAXVAL") maxval = Number(Token(in), "maxval");
      else if (t == "TUPLTYPE") tupl = Token(in);
    }
    if (!w || !h || !depth || !maxval) Fail("incomplete PAM header");
  } else {
    Fail(Path + " is not a P5, P6 or P7 file");
  }
  if (maxval > 65535) Fail("maxval above 65535");
  if (depth != 1 && depth != 2 && depth != 3 && depth != 4) Fail("unsupported PAM depth");
  P.MaxVal = maxval;
  P.GrayAlpha = depth == 2;
  const uint32_t channels = depth == 2 ? 4 : depth;
  const bool wide = maxval > 255;
  AllocImage(P.Img, w, h, channels, wide ? BPP_14 : BPP_8);
  const size_t sampleBytes = wide ? 2 : 1;
  std::vector<uint8_t> row(size_t(w) * depth * sampleBytes);
  for (uint32_t y = 0; y < h; ++y) {
    if (!in.read(reinterpret_cast<char *>(row.data()), std::streamsize(row.size()))) Fail("truncated pixels");
    uint8_t *dst = PictureRow(P.Img, y);
    for (uint32_t x = 0; x < w; ++x) {
      uint32_t s[4];
      for (uint32_t c = 0; c < depth; ++c) {
        const size_t i = (size_t(x) * depth + c) * sampleBytes;
        uint32_t v = wide ? uint32_t(row[i]) << 8 | row[i + 1] : row[i];
        v = std::min(v, maxval);
        // Scale to 255 or to the 14-bit full scale.
        s[c] = wide ? uint32_t(uint64_t(v) * FULL_SCALE_14 / maxval) : (maxval == 255 ? v : v * 255 / maxval);
      }
      uint32_t out[4];
      if (depth == 1) {
        out[0] = s[0];
      } else if (depth == 2) {
        out[0] = out[1] = out[2] = s[0];
        out[3] = s[1];
      } else {
        out[0] = s[2];
        out[1] = s[1];
        out[2] = s[0];
        if (depth == 4) out[3] = s[3];
      }
      for (uint32_t c = 0; c < channels; ++c) {
        if (wide)
          reinterpret_cast<uint16_t *>(dst)[size_t(x) * channels + c] = uint16_t(out[c]);
        else
          dst[size_t(x) * channels + c] = uint8_t(out[c]);
      }
    }
  }
}

// Writes a 14-bit (or 8-bit) record as 8- or 16-bit PNM.
void WritePnm(const std::string &Path, const TICCImgInfo &Img, bool GrayAlpha, uint32_t Depth) {
  std::ofstream out(Path, std::ios::binary);
  if (!out) Fail("cannot create " + Path);
  const uint32_t C = Img.Channels, depth = GrayAlpha ? 2 : C, maxval = Depth == 16 ? 65535 : 255;
  if (C == 1 || C == 3)
    out << (C == 1 ? "P5" : "P6") << "\n" << Img.Width << " " << Img.Height << "\n" << maxval << "\n";
  else
    out << "P7\nWIDTH " << Img.Width << "\nHEIGHT " << Img.Height << "\nDEPTH " << depth << "\nMAXVAL " << maxval
        << "\nTUPLTYPE " << (GrayAlpha ? "GRAYSCALE_ALPHA" : "RGB_ALPHA") << "\nENDHDR\n";
  const size_t bytes = Depth == 16 ? 2 : 1;
  std::vector<uint8_t> row(size_t(Img.Width) * depth * bytes);
  for (uint32_t y = 0; y < Img.Height; ++y) {
    const uint8_t *src = PictureRow(Img, y);
    size_t o = 0;
    for (uint32_t x = 0; x < Img.Width; ++x) {
      int32_t s[4] = {0, 0, 0, 0};
      for (uint32_t c = 0; c < C; ++c) {
        if (Img.BPP == BPP_8) {
          s[c] = src[size_t(x) * C + c] * 64;
        } else {
          int32_t v = reinterpret_cast<const int16_t *>(src)[size_t(x) * C + c];
          s[c] = std::clamp(v, 0, FULL_SCALE_14);
        }
      }
      int32_t order[4];
      uint32_t n = 0;
      if (C == 1) order[n++] = s[0];
      else if (GrayAlpha) order[n++] = s[1], order[n++] = s[3];
      else {
        order[n++] = s[2], order[n++] = s[1], order[n++] = s[0];
        if (C == 4) order[n++] = s[3];
      }
      for (uint32_t k = 0; k < n; ++k) {
        if (Depth == 16) {
          const uint32_t v = uint32_t(order[k]) * 4 + (uint32_t(order[k]) >> 6);
          row[o++] = uint8_t(v >> 8);
          row[o++] = uint8_t(v);
        } else {
          row[o++] = uint8_t((order[k] + 32) >> 6);
        }
      }
    }
    out.write(reinterpret_cast<const char *>(row.data()), std::streamsize(row.size()));
  }
  if (!out) Fail("cannot write " + Path);
}

// A deterministic test image with smooth areas, fine periodic detail, sharp
// edges and noise: the things that make resamplers differ.
void Generate(TPnm &P, uint32_t W, uint32_t H, uint32_t Channels) {
  AllocImage(P.Img, W, H, Channels, BPP_8);
  std::mt19937 rng(20261210);
  std::uniform_int_distribution<int> noise(-20, 20);
  const double cx = W / 2.0, cy = H / 2.0, k = 3.14159265358979 / (2.0 * std::max(W, H));
  for (uint32_t y = 0; y < H; ++y) {
    uint8_t *row = PictureRow(P.Img, y);
    for (uint32_t x = 0; x < W; ++x) {
      const double dx = x - cx, dy = y - cy;
      const double zone = std::sin((dx * dx + dy * dy) * k);  // chirp: all frequencies up to Nyquist
      const bool block = ((x / 61) + (y / 47)) % 3 == 0;       // hard edges
      const bool stripe = (x % 7 < 2) && (y % 200 < 40);       // thin lines
      for (uint32_t c = 0; c < std::min(Channels, 3u); ++c) {
        double v = 128 + 50 * std::sin(x * 0.0021 * (c + 1) + y * 0.0013 * (3 - c)) + 45 * zone;
        if (block) v = c == 1 ? 230 : 30 + 20 * c;
        if (stripe) v = 255 - v;
        v += noise(rng);
        row[size_t(x) * Channels + c] = uint8_t(std::clamp(int(std::lround(v)), 0, 255));
      }
      if (Channels == 4) {
        const double a = 160 + 95 * std::sin(x * 0.004) * std::cos(y * 0.003);
        row[size_t(x) * 4 + 3] = uint8_t(((x / 128 + y / 128) % 5 == 0) ? 0 : std::clamp(int(a), 0, 255));
      }
    }
  }
}

bool ParseSize(const std::string &S, uint32_t &W, uint32_t &H) {
  unsigned w = 0, h = 0;
  char extra;
  if (std::sscanf(S.c_str(), "%ux%u%c", &w, &h, &extra) != 2 || !w || !h || w > 1000000 || h > 1000000) return false;
  W = w;
  H = h;
  return true;
}

// The method's tool name, or its generated name without the parameter
// ("average", "blackmansinc").
uint32_t KernelMode(const std::string &Name) {
  const std::string n = AsciiLower(Name);
  for (const TResizeModeInfo &m : ResizeModeTable) {
    const std::string descriptor = m.Descriptor;
    if (n == m.ToolName || n == AsciiLower(descriptor.substr(0, descriptor.find('%')))) return m.Code;
  }
  Fail("unknown kernel " + Name);
}

int32_t IntArg(const std::string &S, const char *What) {
  char *end = nullptr;
  const long v = std::strtol(S.c_str(), &end, 10);
  if (S.empty() || *end || v < -1000 || v > 1000000) Fail(std::string("bad ") + What + ": " + S);
  return int32_t(v);
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc), files;
  uint32_t dw = 0, dh = 0, gw = 0, gh = 0, gc = 3, depth = 0;
  std::string dec = "lanczos", inter;
  int32_t param = 3, decParam = INT32_MIN, intParam = INT32_MIN, threads = 1, repeat = 1;
  bool isFloat = false, linear = false, limiter = false, json = false, generate = false;
  int32_t isa = -1;
  bool noAlpha = false, breakdown = false;
  std::string libDir = TESSIVO_BIN_DIR;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    auto next = [&]() -> const std::string & {
      if (i + 1 >= args.size()) Fail(a + " needs a value");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      std::cout << Usage;
      return 0;
    } else if (a == "--size") {
      if (!ParseSize(next(), dw, dh)) Fail("bad --size");
    } else if (a == "--generate") {
      std::string g = next();
      const size_t colon = g.find(':');
      if (colon != std::string::npos) {
        const std::string kind = g.substr(colon + 1);
        gc = kind == "rgba" ? 4 : kind == "gray" ? 1 : kind == "rgb" ? 3 : 0;
        if (!gc) Fail("bad --generate kind " + kind);
        g.resize(colon);
      }
      if (!ParseSize(g, gw, gh)) Fail("bad --generate size");
      generate = true;
    } else if (a == "--kernel") {
      dec = inter = next();
    } else if (a == "--dec") {
      dec = next();
    } else if (a == "--int") {
      inter = next();
    } else if (a == "--param") {
      param = IntArg(next(), "--param");
    } else if (a == "--dec-param") {
      decParam = IntArg(next(), "--dec-param");
    } else if (a == "--int-param") {
      intParam = IntArg(next(), "--int-param");
    } else if (a == "--float") {
      isFloat = true;
    } else if (a == "--integer") {
      isFloat = false;
    } else if (a == "--linear") {
      linear = true;
    } else if (a == "--limiter") {
      limiter = true;
    } else if (a == "--threads") {
      threads = IntArg(next(), "--threads");
      if (threads < 1 || threads > 256) Fail("bad --threads");
    } else if (a == "--repeat") {
      repeat = IntArg(next(), "--repeat");
      if (repeat < 1) Fail("bad --repeat");
    } else if (a == "--depth") {
      depth = uint32_t(IntArg(next(), "--depth"));
      if (depth != 8 && depth != 16) Fail("--depth is 8 or 16");
    } else if (a == "--isa") {
      const std::string v = next();
      isa = v == "plain" ? RISA_PLAIN : v == "sse2" ? RISA_SSE2 : v == "avx2" ? RISA_AVX2 : -2;
      if (isa == -2) Fail("bad --isa " + v);
    } else if (a == "--breakdown") {
      breakdown = true;
    } else if (a == "--no-alpha") {
      noAlpha = true;
    } else if (a == "--lib") {
      libDir = next();
    } else if (a == "--json") {
      json = true;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      Fail("unknown option " + a + "\n" + Usage);
    } else {
      files.push_back(a);
    }
  }
  if (inter.empty()) inter = dec == "area" || dec == "average" ? "spline36" : dec;
  if (decParam == INT32_MIN) decParam = param;
  if (intParam == INT32_MIN) intParam = param;

  try {
    TPnm src;
    std::string outPath;
    if (generate) {
      Generate(src, gw, gh, gc);
      if (files.size() > 1) Fail(Usage);
      outPath = files.empty() ? "-" : files[0];
      if (!dw) {  // only generating: write the image itself
        if (outPath != "-") WritePnm(outPath, src.Img, false, 8);
        return 0;
      }
    } else {
      if (files.empty() || files.size() > 2) Fail(Usage);
      ReadPnm(files[0], src);
      outPath = files.size() > 1 ? files[1] : "-";
    }
    if (!dw) Fail("--size is required");
    if (!depth) depth = src.Img.BPP == BPP_8 ? 8 : 16;

    LoadResizeLibrary(libDir);
    const uint32_t decMode = KernelMode(dec), intMode = KernelMode(inter);
    const TCreatedWeightSetter d = CreateWeightSetter(decMode, decParam);
    const TCreatedWeightSetter e = CreateWeightSetter(intMode, intParam);
    TResizer resizer(decMode, d.Setter, d.IsLimited, intMode, e.Setter, e.IsLimited,
                     isFloat ? SIMD_MODE_FLOAT : SIMD_MODE_INTEGER, linear, threads);
    resizer.FilterIsa = isa;
    std::unique_ptr<TMultiThread> pool;
    if (threads > 1) pool = std::make_unique<TMultiThread>(threads);
    const bool isRGBA = src.Img.Channels == 4 && !noAlpha;

    double best = 1e30, first = 0;
    TICCImgInfo out{};
    for (int32_t r = 0; r < repeat; ++r) {
      FreeICCImgInfo(out, false);
      const auto t0 = std::chrono::steady_clock::now();
      resizer.ResizeImage(src.Img, out, pool.get(), limiter, isRGBA, dh, dw);
      const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      if (r == 0) first = s;
      best = std::min(best, s);
    }
    if (!out.Mem) {  // same size: nothing was resampled
      CopyICCImgInfo(src.Img, out, false);
    } else if (breakdown && !json && resizer.RF) {
      // The passes alone on the resizer's filter, into one reused block: what
      // the front end adds (filter check, limits, gamma tables, the new
      // destination block and its first touch) is the difference.
      double pass = 1e30;
      for (int32_t r = 0; r < repeat; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        resizer.RF->Execute(src.Img.Mem, out.Mem, pool.get());
        pass = std::min(pass, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
      }
      std::printf("passes alone: %.3f ms; the front end adds %.3f ms (%.1f%%)\n", pass * 1e3, (best - pass) * 1e3,
                  100 * (best - pass) / best);
      if (limiter) {  // the output as asked, clamped
        FreeICCImgInfo(out, false);
        resizer.ResizeImage(src.Img, out, pool.get(), limiter, isRGBA, dh, dw);
      }
    }
    const double srcMpix = double(src.Img.Width) * src.Img.Height / 1e6, dstMpix = double(dw) * dh / 1e6;
    if (json) {
      std::printf("{\"seconds\": %.6f, \"first_seconds\": %.6f, \"src_mpix_per_s\": %.2f, \"dest_mpix_per_s\": %.2f, "
                  "\"threads\": %d}\n",
                  best, first, srcMpix / best, dstMpix / best, threads);
    } else {
      std::printf("%ux%u -> %ux%u %s/%s %s%s%s, %d thread(s): %.3f ms (first %.3f ms), %.1f MPix/s source, "
                  "%.1f MPix/s output\n",
                  src.Img.Width, src.Img.Height, dw, dh, ResizeModeDescriptor(decMode, decParam).c_str(),
                  ResizeModeDescriptor(intMode, intParam).c_str(),
                  linear                       ? "linear"
                  : isRGBA                     ? "float"    // colour with alpha always takes the float path
                  : src.Img.Channels == 4      ? "integer"  // and four plain channels the integer one
                  : isFloat                    ? "float"
                                               : "integer",
                  limiter ? ", limiter" : "", isRGBA ? ", alpha" : "", threads, best * 1e3, first * 1e3,
                  srcMpix / best, dstMpix / best);
    }
    if (outPath != "-") WritePnm(outPath, out, src.GrayAlpha, depth);
    FreeICCImgInfo(out, false);
  } catch (const std::exception &ex) {
    Fail(ex.what());
  }
  return 0;
}
