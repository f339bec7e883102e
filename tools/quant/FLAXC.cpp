// FLAXC: reduces a BMP to a palette of at most 256 colours and writes the
// result as a BMP. The palette comes from the companion library
// Zone_BorderOfColor.so beside the program (the tool refuses to run without
// it); the mapping onto the palette and its five dithers are the tool's own.
//   FLAXC SRC.bmp DEST.bmp [-P<n>] [-D<n>] [-L<n>] [-A<n>] [other options]
#include "core/ProgramFolder.h"
#include "tools/quant/QuantTool.h"
#include "tools/quant/Remap.h"
#include "tools/quant/ZoneSearch.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace {

constexpr const char *COMPANION = "Zone_BorderOfColor.so";

void PrintHelp() {
  std::printf(
      "usage: FLAXC SRC.bmp DEST.bmp [options]\n"
      "\n"
      "Reduces the colours of SRC.bmp (any BMP: gray, palette, 24 or 32 bits;\n"
      "alpha is not looked at) to a palette and writes DEST.bmp. The palette is\n"
      "searched by %s beside this program, which must be there.\n"
      "Options are a letter and a number, in any order, before or after the files:\n"
      "\n%s\n"
      "A picture with no more colours than -P keeps its colours exactly.\n"
      "Exit status 0 when DEST.bmp was written, 1 when not (with the reason on\n"
      "standard error), 2 for a bad command line.\n",
      COMPANION, QuantOptionsHelp().c_str());
}

}  // namespace

int main(int argc, char **argv) {
  if (AsksForHelp(argc, argv)) {
    PrintHelp();
    return 0;
  }
  TQuantCommand Cmd;
  if (const std::string Error = ParseQuantCommand(argc, argv, Cmd); !Error.empty()) {
    std::fprintf(stderr, "FLAXC: %s (see FLAXC --help)\n", Error.c_str());
    return 2;
  }
  const std::string Companion = ProgramFolder() + "/" + COMPANION;
  void *Library = ::dlopen(Companion.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Library) {
    std::fprintf(stderr, "FLAXC: cannot load %s: %s\n", Companion.c_str(), ::dlerror());
    return 1;
  }
  const auto Find = reinterpret_cast<TZoneFindPalette>(::dlsym(Library, "ZoneFindPalette"));
  if (!Find) {
    std::fprintf(stderr, "FLAXC: %s has no ZoneFindPalette\n", Companion.c_str());
    return 1;
  }
  try {
    const TPicture Picture = ReadBmpPicture(Cmd.Source);
    std::vector<uint8_t> Rgba(Picture.Pixels.size() * 4);
    for (size_t i = 0; i < Picture.Pixels.size(); ++i) {
      const TRgba &p = Picture.Pixels[i];
      Rgba[4 * i] = p.R;
      Rgba[4 * i + 1] = p.G;
      Rgba[4 * i + 2] = p.B;
      Rgba[4 * i + 3] = 255;
    }
    TZoneSearch Search{};
    Search.Rgba = Rgba.data();
    Search.Width = Picture.Width;
    Search.Height = Picture.Height;
    Search.Colours = Cmd.Colours;
    Search.QualityMax = Cmd.Quality * 10;
    Search.QualityMin = (10 - Cmd.MinQuality) * 10;
    Search.Effort = Cmd.Effort;
    Search.Precision = Cmd.Precision;
    Search.Gamma = 0.45455 * 10.0 / Cmd.Gamma;
    TRgba Transparent;
    const bool HasTransparent = TransparentColour(Picture, Cmd.TransparentCorner, Transparent);
    if (HasTransparent) {
      Search.HasFixed = 1;
      Search.FixedColour[0] = Transparent.R;
      Search.FixedColour[1] = Transparent.G;
      Search.FixedColour[2] = Transparent.B;
      Search.FixedColour[3] = 255;
    }
    uint8_t Found[256 * 4];
    uint32_t Count = 0;
    char Message[256] = "";
    if (Find(&Search, Found, &Count, Message, sizeof Message) != 0 || Count == 0) {
      std::fprintf(stderr, "FLAXC: %s: %s\n", Cmd.Source.c_str(), Message);
      return 1;
    }
    std::vector<TRgba> Palette;
    for (uint32_t i = 0; i < Count; ++i) Palette.push_back(TRgba{Found[4 * i], Found[4 * i + 1], Found[4 * i + 2], 255});
    TRemapOptions Options;
    // A palette that holds every colour of the picture maps it exactly: no dither.
    const bool Exact = DistinctColours(Picture, Palette.size()).size() <= Palette.size();
    Options.DitherType = Exact ? DITHER_NONE : Cmd.DitherType;
    Options.Strength = float(Cmd.DitherStrength) / 10.0f;
    if (HasTransparent) {
      for (size_t i = 0; i < Palette.size(); ++i)
        if (Palette[i] == Transparent) Options.Reserved = int32_t(i);
      Options.ReservedColour = Transparent;
    }
    WriteBmpResult(Cmd.Dest, RemapPicture(Picture, Palette, Options), Cmd);
  } catch (const std::exception &E) {
    std::fprintf(stderr, "FLAXC: %s\n", E.what());
    return 1;
  }
  return 0;
}
