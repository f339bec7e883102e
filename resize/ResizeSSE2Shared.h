// Gathering and intermediate stores written with SSE2 shuffles, shared by the
// SSE2 and AVX2 code paths. Included inside each path's namespace, so every
// path gets its own copy compiled for its instruction set.
//
// Only units whose bytes lie inside the source row are gathered here (the
// loads never reach past the row's last sample); the caller does the rest,
// including the clamped units at the right edge.

struct TSSE2Shared {
  // Multi-channel gathers prefetch the next group's rows line by line.
  template <class Tr>
  static constexpr bool GatherPrefetches = Tr::C >= 3 && !Tr::Linear;

  template <class Tr, bool S16>
  static int32_t GatherIntAll(const uint8_t *const *Rows, const uint8_t *const *Next, int32_t SrcWidth, int32_t U0,
                              int32_t U1, uint32_t *W) {
    if constexpr (Tr::C == 1)
      return GatherIntGray<Tr, S16>(Rows, SrcWidth, U0, U1, W);
    else
      return GatherIntUnits<Tr, S16>(Rows, Next, SrcWidth, U0, U1, W);
  }
  template <class Tr, bool S16>
  static int32_t GatherFloatAll(const uint8_t *const *Rows, const uint8_t *const *Next, int32_t SrcWidth, int32_t U0,
                                int32_t U1, float *W) {
    if constexpr (Tr::C == 1)
      return GatherFloatGray<Tr, S16>(Rows, SrcWidth, U0, U1, W);
    else
      return GatherFloatUnits<Tr, S16>(Rows, Next, SrcWidth, U0, U1, W);
  }

  template <class Tr, bool S16>
  static int32_t GatherIntUnits(const uint8_t *const *Rows, const uint8_t *const *Next, int32_t SrcWidth, int32_t U0,
                                int32_t U1, uint32_t *O) {
    if constexpr (Tr::C < 3) {
      return U0;
    } else {
      constexpr int BP = Tr::C * (S16 ? 2 : 1);  // bytes per pixel
      constexpr int LB = S16 ? 16 : 8;          // bytes per load
      const int64_t valid = int64_t(SrcWidth) * BP;
      if (valid < LB) return U0;
      const int32_t end = int32_t(std::min<int64_t>({U1, (valid - LB) / (2 * BP) + 1, SrcWidth / 2}));
      const __m128i zero = _mm_setzero_si128();
      __m128i *o = reinterpret_cast<__m128i *>(O);
      int32_t u = U0;
      for (; u < end; ++u, o += 4) {
        const size_t off = size_t(u) * 2 * BP;
        if (Next && (off & 63) < 2 * BP)
          for (int r = 0; r < 4; ++r) _mm_prefetch(reinterpret_cast<const char *>(Next[r] + off), _MM_HINT_T0);
        for (int r = 0; r < 4; ++r) {
          const uint8_t *p = Rows[r] + off;
          __m128i y;
          if constexpr (!S16) {
            const __m128i x = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
            y = _mm_unpacklo_epi8(_mm_unpacklo_epi8(x, _mm_srli_si128(x, Tr::C)), zero);
          } else {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            y = _mm_unpacklo_epi16(x, _mm_srli_si128(x, 2 * Tr::C));
          }
          _mm_store_si128(o + r, y);
        }
      }
      return std::max(u, U0);
    }
  }

  // Single-channel paths: 4 rows by 4 units at a time, transposed so that
  // each unit receives its rows' lanes with one store.
  template <class Tr, bool S16>
  static int32_t GatherIntGray(const uint8_t *const *Rows, int32_t SrcWidth, int32_t U0, int32_t U1, uint32_t *W) {
    if constexpr (Tr::C != 1) {
      return U0;
    } else {
      constexpr int LB = S16 ? 16 : 8;  // 8 samples per load
      const int64_t valid = int64_t(SrcWidth) * (S16 ? 2 : 1);
      if (valid < LB) return U0;
      // Unit u reads samples 2u .. 2u + 7.
      const int32_t end = int32_t(std::min<int64_t>({U1, (valid - LB) / (S16 ? 4 : 2) + 1, SrcWidth / 2}));
      const __m128i zero = _mm_setzero_si128();
      int32_t u = U0;
      for (; u + 4 <= end; u += 4) {
        uint32_t *o = W + size_t(u - U0) * 16;
        for (int r = 0; r < Tr::R; r += 4) {
          __m128i a[4];
          for (int k = 0; k < 4; ++k) {
            const uint8_t *p = Rows[r + k] + size_t(u) * (S16 ? 4 : 2);
            a[k] = S16 ? _mm_loadu_si128(reinterpret_cast<const __m128i *>(p))
                       : _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), zero);
          }
          const __m128i t0 = _mm_unpacklo_epi32(a[0], a[1]), t1 = _mm_unpackhi_epi32(a[0], a[1]);
          const __m128i t2 = _mm_unpacklo_epi32(a[2], a[3]), t3 = _mm_unpackhi_epi32(a[2], a[3]);
          _mm_store_si128(reinterpret_cast<__m128i *>(o + r), _mm_unpacklo_epi64(t0, t2));
          _mm_store_si128(reinterpret_cast<__m128i *>(o + 16 + r), _mm_unpackhi_epi64(t0, t2));
          _mm_store_si128(reinterpret_cast<__m128i *>(o + 32 + r), _mm_unpacklo_epi64(t1, t3));
          _mm_store_si128(reinterpret_cast<__m128i *>(o + 48 + r), _mm_unpackhi_epi64(t1, t3));
        }
      }
      return u;
    }
  }

  template <class Tr, bool S16>
  static int32_t GatherFloatGray(const uint8_t *const *Rows, int32_t SrcWidth, int32_t U0, int32_t U1, float *W) {
    if constexpr (Tr::C != 1 || Tr::Linear) {
      return U0;
    } else {
      constexpr int LB = S16 ? 8 : 4;  // 4 samples per load
      const int64_t valid = int64_t(SrcWidth) * (S16 ? 2 : 1);
      if (valid < LB) return U0;
      const int32_t end = int32_t(std::min<int64_t>({U1, (valid - LB) / (S16 ? 2 : 1) + 1, SrcWidth}));
      const __m128i zero = _mm_setzero_si128();
      const __m128 scale = _mm_set1_ps(S16 ? 1.0f : 64.0f);
      int32_t u = U0;
      for (; u + 4 <= end; u += 4) {
        float *o = W + size_t(u - U0) * 16;
        for (int r = 0; r < Tr::R; r += 4) {
          __m128 a[4];
          for (int k = 0; k < 4; ++k) {
            const uint8_t *p = Rows[r + k] + size_t(u) * (S16 ? 2 : 1);
            __m128i i32;
            if constexpr (S16) {
              const __m128i x = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
              i32 = _mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16);
            } else {
              int32_t b;
              std::memcpy(&b, p, 4);
              i32 = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(b), zero), zero);
            }
            a[k] = _mm_mul_ps(_mm_cvtepi32_ps(i32), scale);
          }
          _MM_TRANSPOSE4_PS(a[0], a[1], a[2], a[3]);
          _mm_store_ps(o + r, a[0]);
          _mm_store_ps(o + 16 + r, a[1]);
          _mm_store_ps(o + 32 + r, a[2]);
          _mm_store_ps(o + 48 + r, a[3]);
        }
      }
      return u;
    }
  }

  template <class Tr, bool S16>
  static int32_t GatherFloatUnits(const uint8_t *const *Rows, const uint8_t *const *Next, int32_t SrcWidth, int32_t U0,
                                  int32_t U1, float *O) {
    if constexpr (Tr::C < 3 || Tr::Linear) {
      return U0;
    } else {
      constexpr int BP = Tr::C * (S16 ? 2 : 1);
      constexpr int LB = S16 ? 8 : 4;
      const int64_t valid = int64_t(SrcWidth) * BP;
      if (valid < LB) return U0;
      const int32_t end = int32_t(std::min<int64_t>({U1, (valid - LB) / BP + 1, SrcWidth}));
      const __m128i zero = _mm_setzero_si128();
      const __m128 scale = _mm_set1_ps(S16 ? 1.0f : 64.0f);
      const __m128 inv = _mm_set1_ps(1.0f / float(FULL14));
      const __m128 amask = _mm_castsi128_ps(_mm_set_epi32(-1, 0, 0, 0));
      int32_t u = U0;
      float *o = O;
      for (; u < end; ++u, o += 16) {
        const size_t off = size_t(u) * BP;
        if (Next && (off & 63) < BP)
          for (int r = 0; r < 4; ++r) _mm_prefetch(reinterpret_cast<const char *>(Next[r] + off), _MM_HINT_T0);
        for (int r = 0; r < 4; ++r) {
          const uint8_t *p = Rows[r] + off;
          __m128i i32;
          if constexpr (!S16) {
            int32_t b;
            std::memcpy(&b, p, 4);
            i32 = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(b), zero), zero);
          } else {
            const __m128i x = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
            i32 = _mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16);
          }
          __m128 v = _mm_mul_ps(_mm_cvtepi32_ps(i32), scale);
          if constexpr (Tr::Alpha) {
            const __m128 a = _mm_shuffle_ps(v, v, 0xFF);
            const __m128 c = _mm_mul_ps(v, _mm_mul_ps(a, inv));
            v = _mm_or_ps(_mm_andnot_ps(amask, c), _mm_and_ps(amask, v));
          }
          _mm_store_ps(o + 4 * r, v);
        }
      }
      return std::max(u, U0);
    }
  }

  // Rows 2Q and 2Q + 1 of the horizontal results, interleaved sample by
  // sample into intermediate line Q.
  template <class Tr>
  static void StorePairs(const int16_t *Res, int32_t Cols, int Q, uint32_t *Line) {
    if constexpr (Tr::Cp == 4) {
      for (int32_t x = 0; x < Cols; ++x) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i *>(Res + x * 16 + 8 * Q));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(Line + x * Tr::C), _mm_unpacklo_epi16(v, _mm_srli_si128(v, 8)));
      }
    } else {
      for (int32_t x = 0; x < Cols; ++x) Line[x] = uint32_t(*reinterpret_cast<const aint32 *>(Res + x * 16 + 2 * Q));
    }
  }
};
