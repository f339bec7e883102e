// The colour-reduction tools' command line and their BMP input and output.
#include "tools/quant/QuantTool.h"

#include "core/ImgInfo.h"
#include "core/TempFile.h"
#include "io/Bitmap.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unordered_set>

namespace {

struct TOptionRule {
  char Letter;
  int32_t TQuantCommand::*Field;
  int32_t Low, High;
  const char *Meaning;
};

constexpr TOptionRule OptionRules[] = {
    {'P', &TQuantCommand::Colours, 2, 256, "colours of the palette"},
    {'D', &TQuantCommand::DitherType, 0, 4,
     "dither: 0 none, 1 gPeanos (error carried along a space-filling curve),\n"
     "       2 error diffusion (Floyd-Steinberg), 3 averaged error (ordered 8x8\n"
     "       thresholds), 4 drawings (flat areas stay one colour, only gradients\n"
     "       are diffused)"},
    {'L', &TQuantCommand::DitherStrength, 0, 10, "dither strength in tenths"},
    {'A', &TQuantCommand::TransparentCorner, 0, 4,
     "transparent colour: 0 none, 1 top-left, 2 bottom-left, 3 top-right,\n"
     "       4 bottom-right pixel; that colour keeps a palette entry of its own\n"
     "       and only pixels of exactly that colour take it"},
    {'R', &TQuantCommand::Result, 0, 1, "result: 1 an indexed BMP, 0 a 24-bit BMP of the reduced colours"},
    {'B', &TQuantCommand::Bits, 0, 8,
     "bits per index: 0 the fewest that hold the palette (1, 4 or 8),\n"
     "       anything else 8"},
    {'Y', &TQuantCommand::Quality, 1, 10, "the palette search aims at quality 10 x n of 100"},
    {'C', &TQuantCommand::MinQuality, 0, 10,
     "the palette search may give up below quality 10 x (10 - n); 10 never\n"
     "       gives up (a picture is always reduced)"},
    {'G', &TQuantCommand::Gamma, 1, 30, "gamma of the pixel values in tenths of sRGB's (10: sRGB)"},
    {'O', &TQuantCommand::Precision, 4, 8, "bits per channel of the palette colours"},
    {'I', &TQuantCommand::Effort, 1, 10, "effort of the palette search: 1 fast to 10 thorough"},
};

[[noreturn]] void Fail(const std::string &Text) { throw std::runtime_error(Text); }

void Put16(std::vector<uint8_t> &B, uint32_t v) {
  B.push_back(uint8_t(v));
  B.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t> &B, uint32_t v) {
  Put16(B, v & 0xFFFF);
  Put16(B, v >> 16);
}

}  // namespace

bool AsksForHelp(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) return true;
  return false;
}

std::string QuantOptionsHelp() {
  std::string Text;
  for (const TOptionRule &R : OptionRules) {
    char Line[96];
    std::snprintf(Line, sizeof Line, "  -%c<n>  (%d to %d, default %d) ", R.Letter, R.Low, R.High,
                  TQuantCommand{}.*(R.Field));
    Text += Line;
    Text += R.Meaning;
    Text += "\n";
  }
  return Text;
}

std::string ParseQuantCommand(int argc, char **argv, TQuantCommand &Command) {
  std::vector<std::string> Files;
  for (int i = 1; i < argc; ++i) {
    const std::string Arg = argv[i];
    if (Arg.size() >= 2 && Arg[0] == '-' && std::isalpha(static_cast<unsigned char>(Arg[1]))) {
      const char Letter = char(std::toupper(static_cast<unsigned char>(Arg[1])));
      const auto Rule = std::find_if(std::begin(OptionRules), std::end(OptionRules),
                                     [&](const TOptionRule &R) { return R.Letter == Letter; });
      if (Rule == std::end(OptionRules)) return "unknown option " + Arg;
      char *End = nullptr;
      const long V = std::strtol(Arg.c_str() + 2, &End, 10);
      if (Arg.size() == 2 || *End != 0) return "option " + Arg + " needs a number";
      if (V < Rule->Low || V > Rule->High)
        return "option " + Arg + " is out of range (" + std::to_string(Rule->Low) + " to " +
               std::to_string(Rule->High) + ")";
      Command.*(Rule->Field) = int32_t(V);
    } else {
      Files.push_back(Arg);
    }
  }
  if (Files.size() != 2) return "give the source BMP and the destination BMP";
  Command.Source = Files[0];
  Command.Dest = Files[1];
  return {};
}

TPicture ReadBmpPicture(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) Fail("cannot open " + Path + ": " + std::strerror(errno));
  const std::vector<uint8_t> Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  TICCImgOwner Img;
  try {
    LoadBitmapFromMemory(Bytes.data(), Bytes.size(), *Img, 0);
  } catch (const std::exception &E) {
    Fail(Path + ": " + E.what());
  }
  TPicture P;
  P.Width = Img->Width;
  P.Height = Img->Height;
  P.Pixels.resize(size_t(P.Width) * P.Height);
  const uint32_t Ch = Img->Channels;
  for (uint32_t y = 0; y < P.Height; ++y) {
    const uint8_t *Row = PictureRow(*Img, y);
    TRgba *Out = &P.At(0, y);
    for (uint32_t x = 0; x < P.Width; ++x) {
      const uint8_t *s = Row + size_t(x) * Ch;
      Out[x] = Ch >= 3 ? TRgba{s[2], s[1], s[0], Ch == 4 ? s[3] : uint8_t(255)} : TRgba{s[0], s[0], s[0], 255};
    }
  }
  return P;
}

void WriteBmpResult(const std::string &Path, const TIndexed &Indexed, const TQuantCommand &Command) {
  const uint32_t W = Indexed.Width, H = Indexed.Height;
  const size_t N = Indexed.Palette.size();
  const uint32_t Bits = Command.Result == 0 ? 24 : Command.Bits != 0 ? 8 : N <= 2 ? 1 : N <= 16 ? 4 : 8;
  const uint32_t Stride = ((W * Bits + 31) / 32) * 4;
  const uint32_t PaletteEntries = Bits == 24 ? 0 : 1u << Bits;
  const uint32_t Offset = 14 + 40 + 4 * PaletteEntries;
  std::vector<uint8_t> B;
  B.reserve(Offset + size_t(Stride) * H);
  B.push_back('B');
  B.push_back('M');
  Put32(B, uint32_t(Offset + uint64_t(Stride) * H));
  Put32(B, 0);
  Put32(B, Offset);
  Put32(B, 40);
  Put32(B, W);
  Put32(B, H);  // positive: rows bottom-up
  Put16(B, 1);
  Put16(B, Bits);
  Put32(B, 0);
  Put32(B, uint32_t(uint64_t(Stride) * H));
  Put32(B, 3780);
  Put32(B, 3780);
  Put32(B, PaletteEntries ? uint32_t(N) : 0);
  Put32(B, 0);
  for (uint32_t i = 0; i < PaletteEntries; ++i) {
    const TRgba c = i < N ? Indexed.Palette[i] : TRgba{0, 0, 0, 0};
    B.push_back(c.B);
    B.push_back(c.G);
    B.push_back(c.R);
    B.push_back(0);
  }
  std::vector<uint8_t> Row(Stride);
  for (uint32_t y = H; y-- > 0;) {
    std::fill(Row.begin(), Row.end(), 0);
    const uint8_t *Idx = &Indexed.Indexes[size_t(y) * W];
    for (uint32_t x = 0; x < W; ++x) {
      const uint8_t i = Idx[x];
      if (Bits == 24) {
        const TRgba &c = Indexed.Palette[i];
        Row[3 * x] = c.B;
        Row[3 * x + 1] = c.G;
        Row[3 * x + 2] = c.R;
      } else if (Bits == 8) {
        Row[x] = i;
      } else if (Bits == 4) {
        Row[x / 2] |= uint8_t(i << (x % 2 ? 0 : 4));
      } else {
        Row[x / 8] |= uint8_t((i & 1) << (7 - x % 8));
      }
    }
    B.insert(B.end(), Row.begin(), Row.end());
  }
  try {
    TOutputFile Out(Path);
    Out.Write(B);
    Out.Commit();
  } catch (const std::exception &E) {
    Fail(E.what());
  }
}

bool TransparentColour(const TPicture &Picture, int32_t Corner, TRgba &Colour) {
  if (Corner < 1 || Corner > 4 || Picture.Pixels.empty()) return false;
  const uint32_t x = Corner <= 2 ? 0 : Picture.Width - 1;
  const uint32_t y = Corner == 1 || Corner == 3 ? 0 : Picture.Height - 1;
  Colour = Picture.At(x, y);
  Colour.A = 255;  // alpha is not looked at
  return true;
}

std::vector<TRgba> DistinctColours(const TPicture &Picture, size_t Limit) {
  std::unordered_set<uint32_t> Seen;
  std::vector<TRgba> Out;
  for (const TRgba &p : Picture.Pixels) {
    const uint32_t Key = uint32_t(p.R) << 16 | uint32_t(p.G) << 8 | p.B;
    if (Seen.insert(Key).second) {
      Out.push_back(TRgba{p.R, p.G, p.B, 255});
      if (Out.size() > Limit) break;
    }
  }
  return Out;
}
