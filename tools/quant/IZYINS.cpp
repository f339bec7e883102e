// IZYINS: reduces a BMP to a palette of at most 256 colours with
// libimagequant and writes the result as a BMP; the command line is FLAXC's.
//   IZYINS SRC.bmp DEST.bmp [-P<n>] [-D<n>] [-L<n>] [-A<n>] [other options]
// Dither 0 and 2 are libimagequant's own mapping (none, or its error
// diffusion at strength -L); 3 is the ordered dither the tools share. A
// transparent colour is fixed in the palette, and then the tools' mapping,
// which keeps that entry for exactly that colour, does the work.
#include "tools/quant/QuantTool.h"
#include "tools/quant/Remap.h"

#include <libimagequant.h>
#include <omp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void PrintHelp() {
  std::printf(
      "usage: IZYINS SRC.bmp DEST.bmp [options]\n"
      "\n"
      "Reduces the colours of SRC.bmp (any BMP: gray, palette, 24 or 32 bits;\n"
      "alpha is not looked at) to a palette found by libimagequant and writes\n"
      "DEST.bmp. Options are a letter and a number, in any order:\n"
      "\n%s\n"
      "IZYINS dithers with -D0 (none), -D2 (libimagequant's error diffusion)\n"
      "and -D3 (ordered); -D1 and -D4 are taken as -D2.\n"
      "Exit status 0 when DEST.bmp was written, 1 when not (with the reason on\n"
      "standard error), 2 for a bad command line.\n",
      QuantOptionsHelp().c_str());
}

struct TLiqFree {
  void operator()(liq_attr *p) const { liq_attr_destroy(p); }
  void operator()(liq_image *p) const { liq_image_destroy(p); }
  void operator()(liq_result *p) const { liq_result_destroy(p); }
};

}  // namespace

int main(int argc, char **argv) {
  if (AsksForHelp(argc, argv)) {
    PrintHelp();
    return 0;
  }
  TQuantCommand Cmd;
  if (const std::string Error = ParseQuantCommand(argc, argv, Cmd); !Error.empty()) {
    std::fprintf(stderr, "IZYINS: %s (see IZYINS --help)\n", Error.c_str());
    return 2;
  }
  if (Cmd.DitherType == DITHER_CURVE || Cmd.DitherType == DITHER_DRAWING) Cmd.DitherType = DITHER_DIFFUSION;
  // One thread: the program runs one tool per worker, which already fills
  // the processors, and libimagequant's OpenMP threads spin while they wait
  // at its many short loops (on a busy machine that spinning cost twice the
  // work itself).
  omp_set_num_threads(1);
  try {
    const TPicture Picture = ReadBmpPicture(Cmd.Source);
    std::vector<TRgba> Opaque(Picture.Pixels);
    for (TRgba &p : Opaque) p.A = 255;
    TRgba Transparent;
    const bool HasTransparent = TransparentColour(Picture, Cmd.TransparentCorner, Transparent);
    TIndexed Result;
    // Few enough colours are kept as they are.
    if (const std::vector<TRgba> Few = DistinctColours(Picture, size_t(Cmd.Colours)); Few.size() <= size_t(Cmd.Colours)) {
      TRemapOptions Exact;
      Exact.DitherType = DITHER_NONE;
      Result = RemapPicture(Picture, Few, Exact);
    } else {
      std::unique_ptr<liq_attr, TLiqFree> Attr(liq_attr_create());
      if (!Attr) throw std::runtime_error("libimagequant cannot start");
      liq_set_max_colors(Attr.get(), Cmd.Colours);
      liq_set_speed(Attr.get(), std::clamp(11 - Cmd.Effort, 1, 10));
      liq_set_min_posterization(Attr.get(), 8 - Cmd.Precision);
      liq_set_quality(Attr.get(), (10 - Cmd.MinQuality) * 10, Cmd.Quality * 10);
      std::unique_ptr<liq_image, TLiqFree> Img(liq_image_create_rgba(
          Attr.get(), Opaque.data(), int(Picture.Width), int(Picture.Height), 0.45455 * 10.0 / Cmd.Gamma));
      if (!Img) throw std::runtime_error("libimagequant refused the picture");
      if (HasTransparent) liq_image_add_fixed_color(Img.get(), liq_color{Transparent.R, Transparent.G, Transparent.B, 255});
      liq_result *Raw = nullptr;
      const liq_error Err = liq_image_quantize(Img.get(), Attr.get(), &Raw);
      std::unique_ptr<liq_result, TLiqFree> Quantized(Raw);
      if (Err == LIQ_QUALITY_TOO_LOW) throw std::runtime_error("the palette does not reach the minimum quality (-C)");
      if (Err != LIQ_OK || !Quantized) throw std::runtime_error("libimagequant failed");
      const float Strength = float(Cmd.DitherStrength) / 10.0f;
      if (!HasTransparent && Cmd.DitherType != DITHER_ORDERED) {
        liq_set_dithering_level(Quantized.get(), Cmd.DitherType == DITHER_NONE ? 0.0f : Strength);
        Result.Width = Picture.Width;
        Result.Height = Picture.Height;
        Result.Indexes.resize(Picture.Pixels.size());
        if (liq_write_remapped_image(Quantized.get(), Img.get(), Result.Indexes.data(), Result.Indexes.size()) != LIQ_OK)
          throw std::runtime_error("libimagequant failed to map the picture");
        // The palette is final only after the mapping, which refines it.
        const liq_palette *Pal = liq_get_palette(Quantized.get());
        for (unsigned i = 0; i < Pal->count; ++i)
          Result.Palette.push_back(TRgba{Pal->entries[i].r, Pal->entries[i].g, Pal->entries[i].b, 255});
      } else {
        const liq_palette *Pal = liq_get_palette(Quantized.get());
        std::vector<TRgba> Palette;
        for (unsigned i = 0; i < Pal->count; ++i)
          Palette.push_back(TRgba{Pal->entries[i].r, Pal->entries[i].g, Pal->entries[i].b, 255});
        TRemapOptions Options;
        Options.DitherType = Cmd.DitherType;
        Options.Strength = Strength;
        if (HasTransparent) {
          for (size_t i = 0; i < Palette.size(); ++i)
            if (Palette[i] == Transparent) Options.Reserved = int32_t(i);
          Options.ReservedColour = Transparent;
        }
        Result = RemapPicture(Picture, Palette, Options);
      }
    }
    WriteBmpResult(Cmd.Dest, Result, Cmd);
  } catch (const std::exception &E) {
    std::fprintf(stderr, "IZYINS: %s\n", E.what());
    return 1;
  }
  return 0;
}
