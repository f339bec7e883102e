// pngnqi: the colour reduction by pngnq with the command line the program
// writes, "pngnqi -n<colours> -s<speed> -Qf|-Qn FILE.png"; the result is
// FILE-nq8.png beside FILE.png, an indexed PNG (alpha kept in the palette).
// Debian's pngnq (NeuQuant) does the work; what it cannot do — fewer than 16
// colours, which its network is not made for — is done through
// libimagequant, with the same result file.
#include "core/TempFile.h"
#include "tools/quant/QuantTool.h"

#include <libimagequant.h>
#include <omp.h>
#include <png.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

extern char **environ;

namespace {

constexpr int32_t PNGNQ_FEWEST_COLOURS = 16;

struct TCommand {
  int32_t Colours = 256;
  int32_t Speed = 3;
  bool Diffuse = false;  // -Qf: Floyd-Steinberg; -Qn: none
  std::string File;
};

void PrintHelp() {
  std::printf(
      "usage: pngnqi [-n<colours>] [-s<speed>] [-Qf|-Qn] FILE.png\n"
      "\n"
      "Reduces FILE.png to an indexed PNG of at most <colours> colours (2 to\n"
      "256, default 256) and writes it beside it as FILE-nq8.png, replacing an\n"
      "older one. -s1 (slow, best) to -s10 (fast), default 3. -Qf dithers by\n"
      "error diffusion, -Qn (default) does not. A value may also follow its\n"
      "option as the next word (-n 64).\n"
      "\n"
      "The work is done by pngnq. Fewer than %d colours are more than its\n"
      "neural network is made for; then libimagequant reduces the picture\n"
      "instead (speed and dithering carried over), and the result file is the\n"
      "same. Exit status 0 when the result was written, else 1 with the\n"
      "reason on standard error (2 for a bad command line).\n",
      PNGNQ_FEWEST_COLOURS);
}

std::string Parse(int argc, char **argv, TCommand &C) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.size() >= 2 && a[0] == '-' && (a[1] == 'n' || a[1] == 's' || a[1] == 'Q')) {
      std::string v = a.substr(2);
      if (v.empty() && i + 1 < argc) v = argv[++i];
      if (a[1] == 'Q') {
        if (v != "f" && v != "n") return "-Q takes f or n";
        C.Diffuse = v == "f";
        continue;
      }
      char *End = nullptr;
      const long n = std::strtol(v.c_str(), &End, 10);
      if (v.empty() || *End) return std::string("-") + a[1] + " needs a number";
      if (a[1] == 'n') C.Colours = int32_t(std::clamp(n, 2L, 256L));
      else C.Speed = int32_t(std::clamp(n, 1L, 10L));
    } else if (!a.empty() && a[0] == '-') {
      return "unknown option " + a;
    } else if (C.File.empty()) {
      C.File = a;
    } else {
      return "give one PNG file";
    }
  }
  return C.File.empty() ? "give the PNG file" : "";
}

std::string ResultName(const std::string &File) {
  const size_t Slash = File.find_last_of('/');
  const size_t Dot = File.find_last_of('.');
  const std::string Stem = Dot != std::string::npos && (Slash == std::string::npos || Dot > Slash) ? File.substr(0, Dot) : File;
  return Stem + "-nq8.png";
}

int RunPngnq(const TCommand &C) {
  std::vector<std::string> Args = {"pngnq", "-f", "-n", std::to_string(C.Colours), "-s", std::to_string(C.Speed),
                                   "-Q", C.Diffuse ? "f" : "n", C.File};
  std::vector<char *> Argv;
  for (auto &a : Args) Argv.push_back(a.data());
  Argv.push_back(nullptr);
  pid_t Pid = 0;
  if (const int r = posix_spawnp(&Pid, "pngnq", nullptr, nullptr, Argv.data(), environ); r != 0) {
    std::fprintf(stderr, "pngnqi: cannot start pngnq: %s\n", std::strerror(r));
    return 1;
  }
  int Status = 0;
  while (::waitpid(Pid, &Status, 0) < 0)
    if (errno != EINTR) return 1;
  if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) {
    std::fprintf(stderr, "pngnqi: pngnq failed on %s\n", C.File.c_str());
    return 1;
  }
  return 0;
}

void PngWarning(png_structp, png_const_charp) {}

// The PNG as 8-bit RGBA rows.
std::vector<uint8_t> ReadRgba(const std::string &File, uint32_t &W, uint32_t &H) {
  FILE *F = std::fopen(File.c_str(), "rb");
  if (!F) throw std::runtime_error("cannot open " + File + ": " + std::strerror(errno));
  std::unique_ptr<FILE, int (*)(FILE *)> Closer(F, std::fclose);
  png_structp Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, PngWarning);
  png_infop Info = png_create_info_struct(Png);
  // Everything a failure must release lives outside the jump.
  std::vector<uint8_t> Pixels;
  std::vector<png_bytep> Rows;
  if (setjmp(png_jmpbuf(Png))) {
    png_destroy_read_struct(&Png, &Info, nullptr);
    throw std::runtime_error(File + ": not a readable PNG");
  }
  png_init_io(Png, F);
  png_read_info(Png, Info);
  png_set_expand(Png);
  png_set_strip_16(Png);
  png_set_gray_to_rgb(Png);
  png_set_add_alpha(Png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(Png);
  png_read_update_info(Png, Info);
  W = png_get_image_width(Png, Info);
  H = png_get_image_height(Png, Info);
  Pixels.resize(size_t(W) * H * 4);
  Rows.resize(H);
  for (uint32_t y = 0; y < H; ++y) Rows[y] = Pixels.data() + size_t(y) * W * 4;
  png_read_image(Png, Rows.data());
  png_destroy_read_struct(&Png, &Info, nullptr);
  return Pixels;
}

void WriteIndexed(const std::string &File, uint32_t W, uint32_t H, const liq_palette &Pal,
                  const std::vector<uint8_t> &Indexes) {
  TOutputFile Out(File);
  FILE *F = ::fdopen(::dup(Out.Fd()), "wb");
  if (!F) throw std::runtime_error("cannot write " + File);
  std::vector<png_color> Colours(Pal.count);
  std::vector<png_byte> Alpha(Pal.count);
  for (unsigned i = 0; i < Pal.count; ++i) {
    Colours[i] = png_color{Pal.entries[i].r, Pal.entries[i].g, Pal.entries[i].b};
    Alpha[i] = Pal.entries[i].a;
  }
  const bool AnyAlpha = std::any_of(Alpha.begin(), Alpha.end(), [](png_byte a) { return a != 255; });
  png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, PngWarning);
  png_infop Info = png_create_info_struct(Png);
  if (setjmp(png_jmpbuf(Png))) {
    png_destroy_write_struct(&Png, &Info);
    std::fclose(F);
    throw std::runtime_error("cannot write " + File);
  }
  png_init_io(Png, F);
  png_set_IHDR(Png, Info, W, H, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(Png, Info, Colours.data(), int(Pal.count));
  if (AnyAlpha) png_set_tRNS(Png, Info, Alpha.data(), int(Pal.count), nullptr);
  png_write_info(Png, Info);
  for (uint32_t y = 0; y < H; ++y) png_write_row(Png, const_cast<png_bytep>(Indexes.data() + size_t(y) * W));
  png_write_end(Png, Info);
  png_destroy_write_struct(&Png, &Info);
  if (std::fclose(F) != 0) throw std::runtime_error("cannot write " + File);
  Out.Commit();
}

int RunLibimagequant(const TCommand &C) {
  uint32_t W = 0, H = 0;
  const std::vector<uint8_t> Rgba = ReadRgba(C.File, W, H);
  omp_set_num_threads(1);  // one tool per worker, as in IZYINS
  liq_attr *Attr = liq_attr_create();
  liq_set_max_colors(Attr, C.Colours);
  liq_set_speed(Attr, C.Speed);
  liq_image *Img = liq_image_create_rgba(Attr, Rgba.data(), int(W), int(H), 0);
  liq_result *Result = nullptr;
  int Code = 0;
  if (!Img || liq_image_quantize(Img, Attr, &Result) != LIQ_OK) {
    std::fprintf(stderr, "pngnqi: libimagequant failed on %s\n", C.File.c_str());
    Code = 1;
  } else {
    liq_set_dithering_level(Result, C.Diffuse ? 1.0f : 0.0f);
    std::vector<uint8_t> Indexes(size_t(W) * H);
    if (liq_write_remapped_image(Result, Img, Indexes.data(), Indexes.size()) != LIQ_OK) {
      std::fprintf(stderr, "pngnqi: libimagequant failed to map %s\n", C.File.c_str());
      Code = 1;
    } else {
      try {
        WriteIndexed(ResultName(C.File), W, H, *liq_get_palette(Result), Indexes);
      } catch (const std::exception &E) {
        std::fprintf(stderr, "pngnqi: %s\n", E.what());
        Code = 1;
      }
    }
  }
  if (Result) liq_result_destroy(Result);
  if (Img) liq_image_destroy(Img);
  liq_attr_destroy(Attr);
  return Code;
}

}  // namespace

int main(int argc, char **argv) {
  if (AsksForHelp(argc, argv)) {
    PrintHelp();
    return 0;
  }
  TCommand C;
  if (const std::string E = Parse(argc, argv, C); !E.empty()) {
    std::fprintf(stderr, "pngnqi: %s (see pngnqi --help)\n", E.c_str());
    return 2;
  }
  try {
    return C.Colours < PNGNQ_FEWEST_COLOURS ? RunLibimagequant(C) : RunPngnq(C);
  } catch (const std::exception &E) {
    std::fprintf(stderr, "pngnqi: %s\n", E.what());
    return 1;
  }
}
