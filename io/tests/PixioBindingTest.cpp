// The run-time binding of the codec library: a missing library or entry point
// raises "LoadLibrary Error" with the system's text; memory the library hands
// out is released by the program's own page allocator.
#include "io/Pixio.h"

#include "core/ImgInfo.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string LibPath = std::string(TESSIVO_BIN_DIR) + "/libpixio.so";

struct BadLibrary {
  const char *Path;
  const char *Expect;  // part of the system's text
};
void PrintTo(const BadLibrary &c, std::ostream *os) { *os << c.Path << ", message names " << c.Expect; }

class PixioBindingErrors : public ::testing::TestWithParam<BadLibrary> {};

TEST_P(PixioBindingErrors, RaiseLoadLibraryError) {
  try {
    TPixio lib(GetParam().Path);
    FAIL() << "bound " << GetParam().Path;
  } catch (const ELoadLibraryError &e) {
    const std::string what = e.what();
    EXPECT_EQ(what.rfind("LoadLibrary Error: ", 0), 0u) << what;
    EXPECT_NE(e.Detail().find(GetParam().Expect), std::string::npos) << e.Detail();
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, PixioBindingErrors,
                         ::testing::Values(BadLibrary{"/nonexistent/bin/libpixio.so", "libpixio.so"},
                                           // a real library without our entry points
                                           BadLibrary{"libm.so.6", "read_png"}),
                         [](const auto &i) {
                           return std::string(i.param.Path[0] == '/' ? "MissingFile" : "LibraryWithoutEntryPoints");
                         });

TEST(PixioBinding, BindsEveryDecoderAndSharesThePageAllocator) {
  LoadPixio(LibPath);
  TPixio *lib = Pixio();
  ASSERT_NE(lib, nullptr);
  EXPECT_NE(lib->read_png, nullptr);
  EXPECT_NE(lib->read_wic_info2, nullptr);
  EXPECT_NE(lib->set_errormsg_callback, nullptr);
  // A 1x1 gray PNG, decoded and released with the program's allocator.
  static const uint8_t png[] = {
      0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00,
      0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x3A, 0x7E, 0x9B, 0x55, 0x00,
      0x00, 0x00, 0x0A, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0x0F, 0x00, 0x01, 0x01, 0x01, 0x00,
      0xB1, 0x38, 0xF6, 0x14, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
  TPixioDecode d{};
  ASSERT_NE(lib->read_png(&d, png, sizeof png), 0);
  EXPECT_EQ(d.Width, 1u);
  EXPECT_EQ(d.Channels, 1u);
  EXPECT_EQ(d.Mem[0], 0xFF);
  EXPECT_EQ(d.Bpl, GetAlignedBpl(1, 1));
  TICCImgInfo img{};
  img.Mem = d.Mem;
  img.Width = d.Width, img.Height = d.Height, img.Bpl = d.Bpl, img.Channels = d.Channels;
  FreeICCImgInfo(img, true);
  EXPECT_EQ(img.Mem, nullptr);
  FreePixio();
  EXPECT_EQ(Pixio(), nullptr);
}

}  // namespace
