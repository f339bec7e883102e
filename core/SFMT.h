// SIMD-oriented Fast Mersenne Twister with Mersenne exponent 19937 and the
// generator's standard parameter set. The random dither draws its thresholds
// from it, so the output must match the published generator word for word.
#pragma once

#include <cstdint>

// One 128-bit word of generator state or output, as four 32-bit words
// (u[0] is the least significant).
struct TW128 {
  uint32_t u[4];
};

class TSFMT {
public:
  static constexpr int MEXP = 19937;
  static constexpr int N = MEXP / 128 + 1;  // 156 words of 128 bits
  static constexpr int N32 = N * 4;

  explicit TSFMT(uint32_t Seed = 0) { init_gen_rand(Seed); }

  // The standard integer initialisation followed by period certification.
  void init_gen_rand(uint32_t Seed);
  // Next 32-bit output (the generator's sequential interface).
  uint32_t gen_rand32();
  // Fills Size (at least N) 128-bit words with the next outputs in memory order.
  // Must not be mixed with gen_rand32 on the same generator after the first call,
  // exactly as in the published generator.
  void gen_rand_array(TW128 *Array, int Size);

private:
  void gen_rand_all();
  void period_certification();

  TW128 FState[N];
  int FIdx = N32;
};
