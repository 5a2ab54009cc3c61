// Signed integer division by a constant without a divide instruction: q = n / d is the high
// half of n times a magic multiplier, corrected and shifted (the method of Hacker's Delight,
// chapter 10), exact for every 64-bit n. For |d| from 2 up, d not the smallest integer.
#pragma once
#include <cstdint>

namespace kv::gen {

struct Magic {
  int64_t multiplier;
  int shift;
};

inline Magic signed_magic(int64_t d) {
  const uint64_t two63 = uint64_t{1} << 63;
  const uint64_t ad = d < 0 ? 0 - static_cast<uint64_t>(d) : static_cast<uint64_t>(d);
  const uint64_t t = two63 + (static_cast<uint64_t>(d) >> 63);
  const uint64_t anc = t - 1 - t % ad;
  int p = 63;
  uint64_t q1 = two63 / anc, r1 = two63 - q1 * anc;
  uint64_t q2 = two63 / ad, r2 = two63 - q2 * ad;
  uint64_t delta = 0;
  do {
    ++p;
    q1 *= 2;
    r1 *= 2;
    if (r1 >= anc) {
      ++q1;
      r1 -= anc;
    }
    q2 *= 2;
    r2 *= 2;
    if (r2 >= ad) {
      ++q2;
      r2 -= ad;
    }
    delta = ad - r2;
  } while (q1 < delta || (q1 == delta && r1 == 0));
  int64_t m = static_cast<int64_t>(q2 + 1);
  if (d < 0) m = static_cast<int64_t>(0 - static_cast<uint64_t>(m));
  return Magic{m, p - 64};
}

// What the emitted code computes for n / d (the test compares it with n / d).
inline int64_t magic_quotient(int64_t n, int64_t d, Magic mg) {
  int64_t high = static_cast<int64_t>((static_cast<__int128>(mg.multiplier) * n) >> 64);
  if (d > 0 && mg.multiplier < 0) high += n;
  if (d < 0 && mg.multiplier > 0) high -= n;
  high >>= mg.shift;
  return high + static_cast<int64_t>(static_cast<uint64_t>(high) >> 63);
}

}  // namespace kv::gen
