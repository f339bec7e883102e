// The reprojection tool's interpolation rows: the vector rows give the plain
// rows' bytes on random pictures and positions, and the kernel reproduces
// pixels at their centres and flat areas anywhere.
#include "tools/dedistortion/LensRemap.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

struct TRowCase {
  const char *Name;
  int32_t Width, Height;
  bool Wide;  // 16-bit samples
};

class RemapRow : public ::testing::TestWithParam<TRowCase> {};

template <class T>
void CompareRows(const TRowCase &c, std::mt19937 &rng) {
  std::vector<T> pixels(size_t(c.Width) * c.Height * 4);
  std::uniform_int_distribution<int> sample(0, sizeof(T) == 1 ? 255 : 65535);
  for (T &p : pixels) p = T(sample(rng));
  const TRemapSource src{reinterpret_cast<const uint8_t *>(pixels.data()), c.Width, c.Height,
                         size_t(c.Width) * 4 * sizeof(T)};
  constexpr int32_t N = 997;
  std::vector<float> sx(N), sy(N);
  std::vector<uint8_t> valid(N);
  // Positions inside, on the edges and up to three pixels outside.
  std::uniform_real_distribution<float> px(-3.f, float(c.Width) + 2.f), py(-3.f, float(c.Height) + 2.f);
  for (int32_t i = 0; i < N; ++i) sx[size_t(i)] = px(rng), sy[size_t(i)] = py(rng), valid[size_t(i)] = i % 7 != 0;
  std::vector<T> plain(N * 4, T(1)), vector(N * 4, T(2));
  const auto plainRow = sizeof(T) == 1 ? PlainRemapKernels().Row8 : PlainRemapKernels().Row16;
  const auto vectorRow = sizeof(T) == 1 ? SSE2RemapKernels().Row8 : SSE2RemapKernels().Row16;
  plainRow(src, sx.data(), sy.data(), valid.data(), N, reinterpret_cast<uint8_t *>(plain.data()));
  vectorRow(src, sx.data(), sy.data(), valid.data(), N, reinterpret_cast<uint8_t *>(vector.data()));
  for (int32_t i = 0; i < N * 4; ++i)
    ASSERT_EQ(plain[size_t(i)], vector[size_t(i)]) << "sample " << i << " at " << sx[size_t(i / 4)] << ", " << sy[size_t(i / 4)];
  for (int32_t i = 0; i < N; i += 7)
    for (int32_t k = 0; k < 4; ++k) EXPECT_EQ(plain[size_t(i) * 4 + size_t(k)], 0) << "invalid pixel " << i;
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
                         ::testing::Values(TRowCase{"Bytes17x9", 17, 9, false}, TRowCase{"Bytes1x1", 1, 1, false},
                                           TRowCase{"Bytes3x250", 3, 250, false}, TRowCase{"Words31x7", 31, 7, true},
                                           TRowCase{"Words2x2", 2, 2, true}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

struct TKernelCase {
  const char *Name;
  const TRemapKernels &(*Kernels)();
};

class RemapKernel : public ::testing::TestWithParam<TKernelCase> {};

TEST_P(RemapKernel, PixelCentresGiveThePixelAndFlatAreasStayFlat) {
  constexpr int32_t W = 9, H = 6;
  std::vector<uint8_t> pixels(W * H * 4), flat(W * H * 4);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 37 % 251), flat[i] = uint8_t(100 + i % 4);
  const TRemapSource src{pixels.data(), W, H, W * 4}, flatSrc{flat.data(), W, H, W * 4};
  std::vector<float> sx, sy;
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) sx.push_back(float(x)), sy.push_back(float(y));
  std::vector<uint8_t> valid(sx.size(), 1), out(sx.size() * 4);
  GetParam().Kernels().Row8(src, sx.data(), sy.data(), valid.data(), int32_t(sx.size()), out.data());
  EXPECT_EQ(out, pixels);
  for (float &x : sx) x += 0.37f;
  for (float &y : sy) y -= 0.61f;
  GetParam().Kernels().Row8(flatSrc, sx.data(), sy.data(), valid.data(), int32_t(sx.size()), out.data());
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], 100 + i % 4) << "sample " << i;
}

INSTANTIATE_TEST_SUITE_P(Remap, RemapKernel,
                         ::testing::Values(TKernelCase{"Plain", PlainRemapKernels}, TKernelCase{"Best", BestRemapKernels}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
