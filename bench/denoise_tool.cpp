// Developer tool: runs the noise-removal pass on 8-bit PNM images (P5 gray,
// P6 colour) with presets, and prints the time of the pass alone (with the
// YCbCr conversions around it). bench/compare-denoise drives it for the
// quality figures.
//
//   denoise_tool [--threads N] [--isa plain|sse2|avx] [--steps] IN.pnm OUT_PREFIX STR[,STR...]
//
// --steps prints the processor time of every library procedure (summed over
// the run), which stays meaningful on a busy machine.
// writes OUT_PREFIX-<STR>.pnm per preset STR (1 to 16).
#include "core/ImgInfo.h"
#include "core/MultiThread.h"
#include "core/PixelConvert.h"
#include "effects/DenoiseEffect.h"
#include "effects/DenoisePass.h"

#include <cctype>
#include <chrono>
#include <ctime>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

[[noreturn]] void Fail(const std::string &Message) {
  std::fprintf(stderr, "denoise_tool: %s\n", Message.c_str());
  std::exit(2);
}

std::string Token(std::istream &In) {
  std::string t;
  for (int c; (c = In.get()) != EOF;) {
    if (c == '#' && t.empty()) {
      while ((c = In.get()) != EOF && c != '\n') {
      }
      continue;
    }
    if (std::isspace(c)) {
      if (!t.empty()) break;
      continue;
    }
    t.push_back(char(c));
  }
  return t;
}

void MakeImage(TICCImgInfo &Img, uint32_t W, uint32_t H, uint32_t C) {
  Img.Width = W, Img.Height = H, Img.Channels = C, Img.BPP = BPP_8;
  Img.Bpl = GetAlignedBpl(W, C);
  Img.Mem = AllocPixelBlock(Img.Bpl, H);
  Img.PixelFormat = C == 1 ? PIXFMT_GRAY : PIXFMT_BGR;
}

void ReadPnm(const std::string &Path, TICCImgOwner &Img) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) Fail("cannot open " + Path);
  const std::string magic = Token(in);
  if (magic != "P5" && magic != "P6") Fail(Path + ": only 8-bit P5 and P6 are read");
  const uint32_t w = uint32_t(std::stoul(Token(in))), h = uint32_t(std::stoul(Token(in)));
  if (std::stoul(Token(in)) != 255) Fail(Path + ": maxval must be 255");
  const uint32_t c = magic == "P5" ? 1 : 3;
  MakeImage(*Img, w, h, c);
  std::vector<uint8_t> row(size_t(w) * c);
  for (uint32_t y = 0; y < h; ++y) {
    if (!in.read(reinterpret_cast<char *>(row.data()), std::streamsize(row.size()))) Fail(Path + ": truncated");
    uint8_t *d = PictureRow(*Img, y);
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t k = 0; k < c; ++k) d[x * c + k] = row[x * c + (c == 3 ? 2 - k : k)];
  }
}

void WritePnm(const std::string &Path, const TICCImgInfo &Img) {
  std::ofstream out(Path, std::ios::binary);
  const uint32_t c = Img.Channels;
  out << (c == 1 ? "P5" : "P6") << "\n" << Img.Width << " " << Img.Height << "\n255\n";
  std::vector<uint8_t> row(size_t(Img.Width) * c);
  for (uint32_t y = 0; y < Img.Height; ++y) {
    const uint8_t *s = PictureRow(Img, y);
    for (uint32_t x = 0; x < Img.Width; ++x)
      for (uint32_t k = 0; k < c; ++k) row[x * c + k] = s[x * c + (c == 3 ? 2 - k : k)];
    out.write(reinterpret_cast<const char *>(row.data()), std::streamsize(row.size()));
  }
  if (!out) Fail("cannot write " + Path);
}

}  // namespace

int main(int argc, char **argv) {
  int32_t threads = 1;
  TDenoiseIsa isa = TDenoiseIsa::Sse2;
  bool steps = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--threads" && i + 1 < argc) {
      threads = std::atoi(argv[++i]);
    } else if (a == "--steps") {
      steps = true;
    } else if (a == "--isa" && i + 1 < argc) {
      const std::string v = argv[++i];
      isa = v == "plain" ? TDenoiseIsa::Plain : v == "avx" ? TDenoiseIsa::Avx : TDenoiseIsa::Sse2;
    } else {
      args.push_back(a);
    }
  }
  if (args.size() != 3) Fail("usage: denoise_tool [--threads N] [--isa plain|sse2|avx] IN.pnm OUT_PREFIX STR[,STR...]");
  try {
    LoadDenoiseLibrary(TESSIVO_BIN_DIR);
  } catch (const std::exception &E) {
    Fail(E.what());
  }
  TICCImgOwner source;
  ReadPnm(args[0], source);
  std::unique_ptr<TMultiThread> pool = threads > 1 ? std::make_unique<TMultiThread>(threads) : nullptr;
  std::stringstream list(args[2]);
  for (std::string item; std::getline(list, item, ',');) {
    const int32_t str = std::atoi(item.c_str());
    TICCImgOwner img;
    CopyICCImgInfo(*source, *img, false);
    std::map<int32_t, double> cpu;
    double last = CpuSeconds();
    TDenoiseTrace trace;
    trace.PlanesShown = false;
    trace.AfterStep = [&](int32_t Procedure, const TDenoiseBlock &) {
      const double now = CpuSeconds();
      cpu[Procedure] += now - last;
      last = now;
    };
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = CpuSeconds();
    if (img->Channels == 3) ConvertToYCC14(*img);
    last = CpuSeconds();
    DenoisePass(*img, DenoisePreset(str), pool.get(), isa, steps ? &trace : nullptr);
    if (img->Channels == 3) ConvertFromYCC14(*img);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double c = CpuSeconds() - c0;
    if (steps) {
      for (const auto &[p, t] : cpu) std::printf("  procedure %2d: %.3f s processor time\n", p, t);
      std::printf("  whole step: %.3f s processor time, %.1f MPix per processor second\n", c,
                  double(img->Width) * img->Height / c / 1e6);
    }
    if (img->BPP != BPP_8) Convert14To8(*img);
    std::printf("preset %d: %.3f s, %.1f MPix/s\n", str, s, double(img->Width) * img->Height / s / 1e6);
    WritePnm(args[1] + "-" + item + ".pnm", *img);
  }
  return 0;
}
