// Data-path traits, scratch memory and sample helpers of the resampling
// passes. Included inside each code path's namespace (after ResizeCommon.h),
// so that every path gets its own copy compiled for its instruction set: an
// inline function shared by name between the AVX2 file and the others could
// be kept from the AVX2 file and then run on a processor without AVX2.

// Layout of one data path. Sources are gathered R rows at a time into units of
// 16 lanes: lane r * Cp + c holds channel c of row r, so that one weight
// multiplies the whole unit. Integer units hold two horizontally adjacent
// samples per lane (one weight pair), float units one sample.
template <int Kind>
struct TPathTraits {
  static constexpr int C = (Kind == RFK_GRAYi || Kind == RFK_GRAYf || Kind == RFK_LGRAYf) ? 1
                           : (Kind == RFK_RGBi || Kind == RFK_RGBf || Kind == RFK_LRGBf) ? 3
                                                                                         : 4;
  static constexpr int Cp = C == 1 ? 1 : 4;
  static constexpr int R = 16 / Cp;
  static constexpr bool IsInt = Kind == RFK_GRAYi || Kind == RFK_RGBi || Kind == RFK_CMYKi;
  static constexpr bool Alpha = Kind == RFK_RGBAf || Kind == RFK_LRGBAf;
  static constexpr bool Linear = Kind == RFK_LGRAYf || Kind == RFK_LRGBf || Kind == RFK_LRGBAf;
  // Output columns and rows of one block: the intermediate strip of a block
  // (HB columns by the source rows of VB output rows) stays within L2.
  static constexpr int HB = C == 1 ? 256 : 128;
  static constexpr int VB = IsInt ? 128 : 64;
  // Intermediate line: HB x C lanes of 4 bytes plus room for whole-vector stores.
  static constexpr int TmpBPL = HB * C * 4 + 64;
  static constexpr size_t ResBytes = size_t(HB) * 16 * 4;
  static constexpr size_t OutBytes = (size_t(HB) * C + 64) * 4;

  static int32_t WorkSize(int32_t SrcWidth) {
    const int64_t w = (std::max<int64_t>(SrcWidth, 1) + 8) * 64;
    const int64_t total = ((w + 127) & ~int64_t(127)) + int64_t(ResBytes) + int64_t(OutBytes);
    return int32_t(std::min<int64_t>(total, int64_t(1) << 30));
  }
  // Strip for one row block when the vertical kernel has the given radius;
  // a pass that needs more (wider kernels) takes a temporary block itself.
  static int32_t Work2Size(int32_t SrcHeight, int32_t DestHeight, int32_t Radius) {
    SrcHeight = std::max(SrcHeight, 1);
    DestHeight = std::max(DestHeight, 1);
    Radius = std::max(Radius, 1);
    int64_t taps = DestHeight < SrcHeight ? (int64_t(SrcHeight) * Radius * 2 + DestHeight - 1) / DestHeight
                                          : 2 * Radius;
    const int64_t step = (int64_t(SrcHeight) + DestHeight - 1) / DestHeight;
    int64_t rows = std::min<int64_t>(taps + (VB - 1) * step, SrcHeight) + R + 4;
    rows = std::max<int64_t>(rows, R);
    const int64_t bytes = rows * TmpBPL;
    const int64_t cap = int64_t(64) << 20;
    return int32_t((std::min(bytes, cap) + 127) & ~int64_t(127));
  }
};

// A temporary aligned block kept for one pass on one thread.
struct TScratch {
  void *P = nullptr;
  size_t Size = 0;
  TScratch() = default;
  TScratch(const TScratch &) = delete;
  TScratch &operator=(const TScratch &) = delete;
  ~TScratch() { std::free(P); }
  uint8_t *Get(size_t Bytes) {
    if (Bytes > Size) {
      std::free(P);
      P = nullptr;
      Size = 0;
      void *q = nullptr;
      if (posix_memalign(&q, 128, (Bytes + 127) & ~size_t(127)) != 0) ThrowResizeOutOfMemory();
      P = q;
      Size = Bytes;
    }
    return static_cast<uint8_t *>(P);
  }
};

inline int16_t Sat16(int32_t v) { return int16_t(std::clamp(v, -32768, 32767)); }

inline int16_t RoundSat16(float v) {
  if (!(v > -32768.0f)) v = -32768.0f;
  if (v > 32767.0f) v = 32767.0f;
  return int16_t(std::nearbyint(v));
}

// Linear value on the 14-bit scale to the stored 14-bit value of channel k:
// values below 128 read the fine segment in steps of 1/64.
inline int16_t Regamma(const int16_t *Table, int k, float v) {
  const int16_t *t = Table + k * REGAMMA_LEN;
  if (!(v > 0.0f)) return t[0];
  if (v >= float(FULL14)) return t[REGAMMA_FINE + FULL14];
  if (v < 128.0f) return t[int32_t(v * 64.0f + 0.5f)];
  return t[REGAMMA_FINE + int32_t(v + 0.5f)];
}

