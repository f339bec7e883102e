// SFMT19937: recursion, initialisation and bulk generation as published.
#include "core/SFMT.h"

#include "core/Errors.h"

namespace {

constexpr int POS1 = 122;
constexpr int SL1 = 18;
constexpr int SL2 = 1;  // in bytes
constexpr int SR1 = 11;
constexpr int SR2 = 1;  // in bytes
constexpr uint32_t MSK1 = 0xdfffffefU;
constexpr uint32_t MSK2 = 0xddfecb7fU;
constexpr uint32_t MSK3 = 0xbffaffffU;
constexpr uint32_t MSK4 = 0xbffffff6U;
constexpr uint32_t PARITY[4] = {0x00000001U, 0x00000000U, 0x00000000U, 0x13c9e684U};

// 128-bit shifts by whole bytes, treating u[3] as the most significant word.
TW128 rshift128(const TW128 &In, int Shift) {
  const uint64_t th = (uint64_t(In.u[3]) << 32) | In.u[2];
  const uint64_t tl = (uint64_t(In.u[1]) << 32) | In.u[0];
  const uint64_t oh = th >> (Shift * 8);
  const uint64_t ol = (tl >> (Shift * 8)) | (th << (64 - Shift * 8));
  return {{uint32_t(ol), uint32_t(ol >> 32), uint32_t(oh), uint32_t(oh >> 32)}};
}

TW128 lshift128(const TW128 &In, int Shift) {
  const uint64_t th = (uint64_t(In.u[3]) << 32) | In.u[2];
  const uint64_t tl = (uint64_t(In.u[1]) << 32) | In.u[0];
  const uint64_t oh = (th << (Shift * 8)) | (tl >> (64 - Shift * 8));
  const uint64_t ol = tl << (Shift * 8);
  return {{uint32_t(ol), uint32_t(ol >> 32), uint32_t(oh), uint32_t(oh >> 32)}};
}

void do_recursion(TW128 &R, const TW128 &A, const TW128 &B, const TW128 &C, const TW128 &D) {
  const TW128 x = lshift128(A, SL2);
  const TW128 y = rshift128(C, SR2);
  const uint32_t msk[4] = {MSK1, MSK2, MSK3, MSK4};
  TW128 r;
  for (int i = 0; i < 4; ++i)
    r.u[i] = A.u[i] ^ x.u[i] ^ ((B.u[i] >> SR1) & msk[i]) ^ y.u[i] ^ (D.u[i] << SL1);
  R = r;  // R may alias A
}

}  // namespace

void TSFMT::init_gen_rand(uint32_t Seed) {
  uint32_t *s = &FState[0].u[0];
  s[0] = Seed;
  for (int i = 1; i < N32; ++i) s[i] = 1812433253U * (s[i - 1] ^ (s[i - 1] >> 30)) + uint32_t(i);
  FIdx = N32;
  period_certification();
}

void TSFMT::period_certification() {
  uint32_t *s = &FState[0].u[0];
  uint32_t inner = 0;
  for (int i = 0; i < 4; ++i) inner ^= s[i] & PARITY[i];
  for (int i = 16; i > 0; i >>= 1) inner ^= inner >> i;
  if (inner & 1) return;
  for (int i = 0; i < 4; ++i) {
    uint32_t work = 1;
    for (int j = 0; j < 32; ++j, work <<= 1)
      if (work & PARITY[i]) {
        s[i] ^= work;
        return;
      }
  }
}

void TSFMT::gen_rand_all() {
  const TW128 *r1 = &FState[N - 2];
  const TW128 *r2 = &FState[N - 1];
  for (int i = 0; i < N; ++i) {
    do_recursion(FState[i], FState[i], FState[(i + POS1) % N], *r1, *r2);
    r1 = r2;
    r2 = &FState[i];
  }
}

uint32_t TSFMT::gen_rand32() {
  if (FIdx >= N32) {
    gen_rand_all();
    FIdx = 0;
  }
  return (&FState[0].u[0])[FIdx++];
}

void TSFMT::gen_rand_array(TW128 *Array, int Size) {
  if (Size < N) throw ETessivoError("SFMT: output array shorter than the state");
  const TW128 *r1 = &FState[N - 2];
  const TW128 *r2 = &FState[N - 1];
  int i = 0;
  for (; i < N - POS1; ++i) {
    do_recursion(Array[i], FState[i], FState[i + POS1], *r1, *r2);
    r1 = r2;
    r2 = &Array[i];
  }
  for (; i < N; ++i) {
    do_recursion(Array[i], FState[i], Array[i + POS1 - N], *r1, *r2);
    r1 = r2;
    r2 = &Array[i];
  }
  for (; i < Size - N; ++i) {
    do_recursion(Array[i], Array[i - N], Array[i + POS1 - N], *r1, *r2);
    r1 = r2;
    r2 = &Array[i];
  }
  int j = 0;
  for (; j < 2 * N - Size; ++j) FState[j] = Array[j + Size - N];
  for (; i < Size; ++i, ++j) {
    do_recursion(Array[i], Array[i - N], Array[i + POS1 - N], *r1, *r2);
    r1 = r2;
    r2 = &Array[i];
    FState[j] = Array[i];
  }
}
