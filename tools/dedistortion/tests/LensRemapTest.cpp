// The reprojection tool's interpolation rows: the vector rows give the plain
// rows' bytes on random pictures and positions, and the kernel reproduces
// pixels at their centres and flat areas anywhere.
#include "tools/dedistortion/LensRemap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// A picture of random samples whose rows leave REMAP_OVERRUN bytes after
// their last pixel, read top-down or bottom-up.
template <class T>
struct TPicture {
  std::vector<uint8_t> Bytes;
  TRemapSource Source{};
  TPicture(int32_t W, int32_t H, int32_t C, bool BottomUp, std::mt19937 &Rng) {
    const size_t stride = size_t(W) * C * sizeof(T) + REMAP_OVERRUN;
    Bytes.resize(stride * size_t(H));
    std::uniform_int_distribution<int> sample(0, sizeof(T) == 1 ? 255 : 65535);
    for (size_t i = 0; i + sizeof(T) <= Bytes.size(); i += sizeof(T)) {
      const T v = T(sample(Rng));
      std::memcpy(&Bytes[i], &v, sizeof(T));
    }
    Source = {BottomUp ? Bytes.data() + stride * size_t(H - 1) : Bytes.data(),
              BottomUp ? -ptrdiff_t(stride) : ptrdiff_t(stride), W, H, C};
  }
  T At(int32_t X, int32_t Y, int32_t C) const {
    T v;
    std::memcpy(&v, Source.Top + ptrdiff_t(Y) * Source.Stride + (size_t(X) * Source.Channels + size_t(C)) * sizeof(T),
                sizeof(T));
    return v;
  }
};

struct TRowCase {
  const char *Name;
  int32_t Width, Height, Channels;
  bool Wide;  // 16-bit samples
  bool BottomUp;
};

class RemapRow : public ::testing::TestWithParam<TRowCase> {};

template <class T>
void CompareRows(const TRowCase &c, std::mt19937 &rng) {
  const TPicture<T> pic(c.Width, c.Height, c.Channels, c.BottomUp, rng);
  constexpr int32_t N = 997;
  std::vector<float> sx(N), sy(N);
  std::vector<uint8_t> valid(N);
  // Positions inside, on the edges and up to three pixels outside.
  std::uniform_real_distribution<float> px(-3.f, float(c.Width) + 2.f), py(-3.f, float(c.Height) + 2.f);
  for (int32_t i = 0; i < N; ++i) sx[size_t(i)] = px(rng), sy[size_t(i)] = py(rng), valid[size_t(i)] = i % 7 != 0;
  std::vector<T> plain(N * 4, T(1)), vector(N * 4, T(2));
  const auto plainRow = (sizeof(T) == 1 ? PlainRemapKernels().Row8 : PlainRemapKernels().Row16)[c.Channels];
  const auto vectorRow = (sizeof(T) == 1 ? SSE2RemapKernels().Row8 : SSE2RemapKernels().Row16)[c.Channels];
  plainRow(pic.Source, sx.data(), sy.data(), valid.data(), N, reinterpret_cast<uint8_t *>(plain.data()));
  vectorRow(pic.Source, sx.data(), sy.data(), valid.data(), N, reinterpret_cast<uint8_t *>(vector.data()));
  for (int32_t i = 0; i < N * 4; ++i)
    ASSERT_EQ(plain[size_t(i)], vector[size_t(i)]) << "sample " << i << " at " << sx[size_t(i / 4)] << ", " << sy[size_t(i / 4)];
  const T full = sizeof(T) == 1 ? 255 : 65535;
  for (int32_t i = 0; i < N; ++i) {
    if (i % 7 == 0) {
      for (int32_t k = 0; k < 4; ++k) EXPECT_EQ(plain[size_t(i) * 4 + size_t(k)], 0) << "invalid pixel " << i;
    } else if (c.Channels != 4) {
      EXPECT_EQ(plain[size_t(i) * 4 + 3], full) << "alpha of a source without one, pixel " << i;
    }
  }
}

#if defined(__x86_64__) || defined(__i386__)
TEST_P(RemapRow, VectorRowGivesThePlainBytes) {
  std::mt19937 rng(1234);
  if (GetParam().Wide)
    CompareRows<uint16_t>(GetParam(), rng);
  else
    CompareRows<uint8_t>(GetParam(), rng);
}
#endif

INSTANTIATE_TEST_SUITE_P(Remap, RemapRow,
                         ::testing::Values(TRowCase{"Bgr8x17x9", 17, 9, 3, false, false},
                                           TRowCase{"Bgr8BottomUp", 23, 11, 3, false, true},
                                           TRowCase{"Bgra8x1x1", 1, 1, 4, false, false},
                                           TRowCase{"Bgra8x3x250", 3, 250, 4, false, true},
                                           TRowCase{"Gray8", 13, 5, 1, false, false},
                                           TRowCase{"Bgr16x31x7", 31, 7, 3, true, true},
                                           TRowCase{"Bgra16x2x2", 2, 2, 4, true, false},
                                           TRowCase{"Gray16", 9, 9, 1, true, true}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

struct TKernelCase {
  const char *Name;
  const TRemapKernels &(*Kernels)();
  int32_t Channels;
};

class RemapKernel : public ::testing::TestWithParam<TKernelCase> {};

TEST_P(RemapKernel, PixelCentresGiveThePixelAndFlatAreasStayFlat) {
  const TKernelCase &c = GetParam();
  constexpr int32_t W = 9, H = 6;
  std::mt19937 rng(99);
  TPicture<uint8_t> pic(W, H, c.Channels, true, rng);
  std::vector<float> sx, sy;
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) sx.push_back(float(x)), sy.push_back(float(y));
  std::vector<uint8_t> valid(sx.size(), 1), out(sx.size() * 4);
  const TRemapRowProc row = c.Kernels().Row8[c.Channels];
  row(pic.Source, sx.data(), sy.data(), valid.data(), int32_t(sx.size()), out.data());
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x)
      for (int32_t k = 0; k < 3; ++k)
        ASSERT_EQ(out[(size_t(y) * W + x) * 4 + size_t(k)], pic.At(x, y, c.Channels == 1 ? 0 : k)) << x << "," << y;
  // A flat picture stays flat between the pixels too.
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x)
      for (int32_t k = 0; k < c.Channels; ++k)
        const_cast<uint8_t *>(pic.Source.Top + ptrdiff_t(y) * pic.Source.Stride)[x * c.Channels + k] = uint8_t(100 + k);
  for (float &x : sx) x += 0.37f;
  for (float &y : sy) y -= 0.61f;
  row(pic.Source, sx.data(), sy.data(), valid.data(), int32_t(sx.size()), out.data());
  for (size_t i = 0; i < sx.size(); ++i)
    for (int32_t k = 0; k < 3; ++k) ASSERT_EQ(out[i * 4 + size_t(k)], 100 + (c.Channels == 1 ? 0 : k)) << "pixel " << i;
}

INSTANTIATE_TEST_SUITE_P(Remap, RemapKernel,
                         ::testing::Values(TKernelCase{"PlainBgr", PlainRemapKernels, 3},
                                           TKernelCase{"BestBgr", BestRemapKernels, 3},
                                           TKernelCase{"BestBgra", BestRemapKernels, 4},
                                           TKernelCase{"BestGray", BestRemapKernels, 1}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
