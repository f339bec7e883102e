#include "core/Errors.h"
#include "core/SFMT.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(SFMT, MatchesPublishedOutputForSeed1234) {
  TSFMT gen(1234);
  const uint32_t expected[] = {3440181298u, 1564997079u, 1510669302u, 2930277156u, 1452439940u};
  for (uint32_t e : expected) EXPECT_EQ(gen.gen_rand32(), e);
}

// Bulk generation continues the same sequence as the word-by-word interface,
// for array sizes below, at and above twice the state size.
TEST(SFMT, ArrayFillContinuesTheSequence) {
  for (int size : {TSFMT::N, TSFMT::N + 1, 2 * TSFMT::N - 1, 2 * TSFMT::N, 2 * TSFMT::N + 7, 1000}) {
    TSFMT bulk(0), single(0);
    std::vector<TW128> words(size);
    for (int round = 0; round < 3; ++round) {
      bulk.gen_rand_array(words.data(), size);
      for (int i = 0; i < size; ++i)
        for (int j = 0; j < 4; ++j) ASSERT_EQ(words[i].u[j], single.gen_rand32()) << size << " " << round << " " << i;
    }
  }
}

TEST(SFMT, RefusesArraysShorterThanTheState) {
  TSFMT gen(0);
  std::vector<TW128> words(TSFMT::N - 1);
  EXPECT_THROW(gen.gen_rand_array(words.data(), TSFMT::N - 1), ETessivoError);
}

}  // namespace
