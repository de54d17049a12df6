// wide.cpp: fixed-point arithmetic on 256 bits and the slow path of each
// function. Every operation truncates at 2^-224 at worst; the series and
// reductions below take a few hundred such steps, so each result is within
// 2^-210 or so of the exact value, relative error below 2^-150 even for the
// smallest sine or cosine a double argument can produce (about 2^-62).
#include "maths/wide.h"

#include <cstddef>
#include <limits>

#include "common/bit_cast.h"

namespace tunecast::maths {
namespace {

constexpr int wide_bits = 32 * wide_limbs;

// Both as 32 whole and 224 fraction bits, truncated.
constexpr wide half_pi{{0x04177d4c, 0x14cf98e8, 0x52049c11, 0x01b839a2, 0x898cc517, 0x42d18469,
                        0x921fb544, 0x00000001}};
constexpr wide ln2{{0x8a0d175b, 0x7298b62d, 0x40f34326, 0x03f2f6af, 0xc9e3b398, 0xd1cf79ab,
                    0xb17217f7, 0x00000000}};

// The bits of 2/pi after the binary point, 32 to a word, most significant
// first: enough for the reduction of the largest double (exponent 971 of
// its last bit) with 10 words to spare.
constexpr std::array<uint32_t, 40> two_over_pi_bits = {
    0xa2f9836e, 0x4e441529, 0xfc2757d1, 0xf534ddc0, 0xdb629599, 0x3c439041, 0xfe5163ab, 0xdebbc561,
    0xb7246e3a, 0x424dd2e0, 0x06492eea, 0x09d1921c, 0xfe1deb1c, 0xb129a73e, 0xe88235f5, 0x2ebb4484,
    0xe99c7026, 0xb45f7e41, 0x3991d639, 0x835339f4, 0x9c845f8b, 0xbdf9283b, 0x1ff897ff, 0xde05980f,
    0xef2f118b, 0x5a0a6d1f, 0x6d367ecf, 0x27cb09b7, 0x4f463f66, 0x9e5fea2d, 0x7527bac7, 0xebe5f17b,
    0x3d0739f7, 0x8a5292ea, 0x6bfb5fb1, 0x1f8d5d08, 0x56033046, 0xfc7b6bab, 0xf0cfbc20, 0x9af4361d};
constexpr int reduction_words = 10;

bool wide_is_zero(const wide &a) {
  for (uint32_t limb : a.limbs) {
    if (limb != 0) return false;
  }
  return true;
}

wide wide_negate(const wide &a) {
  wide r;
  uint64_t carry = 1;
  for (size_t i = 0; i < wide_limbs; ++i) {
    const uint64_t t = uint64_t{~a.limbs[i]} + carry;
    r.limbs[i] = static_cast<uint32_t>(t);
    carry = t >> 32;
  }
  return r;
}

// a * n, a >= 0, the product below 2^31.
wide wide_times(const wide &a, uint32_t n) {
  wide r;
  uint64_t carry = 0;
  for (size_t i = 0; i < wide_limbs; ++i) {
    const uint64_t t = uint64_t{a.limbs[i]} * n + carry;
    r.limbs[i] = static_cast<uint32_t>(t);
    carry = t >> 32;
  }
  return r;
}

// a / n truncated, a >= 0, n > 0.
wide wide_divided(const wide &a, uint32_t n) {
  wide r;
  uint64_t rest = 0;
  for (size_t i = wide_limbs; i-- > 0;) {
    const uint64_t t = (rest << 32) | a.limbs[i];
    r.limbs[i] = static_cast<uint32_t>(t / n);
    rest = t % n;
  }
  return r;
}

// The 32 bits of value * 2^shift starting at bit first (value < 2^64).
uint32_t shifted_word(uint64_t value, int shift, int first) {
  const int from = first - shift;  // the bit of value that lands on bit first
  if (from >= 64 || from <= -32) return 0;
  if (from >= 0) return static_cast<uint32_t>(value >> from);
  return static_cast<uint32_t>(value << -from);
}

bool wide_bit(const wide &w, int i) {
  if (i < 0 || i >= wide_bits) return false;
  return ((w.limbs[static_cast<size_t>(i / 32)] >> (i % 32)) & 1u) != 0;
}

// Whether any bit below bit end is set.
bool wide_any_below(const wide &w, int end) {
  for (int i = 0; i < end && i < wide_bits; ++i) {
    if (wide_bit(w, i)) return true;
  }
  return false;
}

}  // namespace

wide wide_from_double(double x) {
  wide w;
  if (x == 0.0) return w;
  const auto bits = tunecast::bit_cast<uint64_t>(x);
  const auto biased = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t m = bits & ((uint64_t{1} << 52) - 1);
  if (biased != 0) m |= uint64_t{1} << 52;
  // |x| = m * 2^e; placed so that bit 0 of the limbs weighs 2^-224.
  const int e = (biased != 0 ? biased : 1) - 1075;
  for (size_t i = 0; i < wide_limbs; ++i) {
    w.limbs[i] = shifted_word(m, e + wide_fraction_bits, 32 * static_cast<int>(i));
  }
  return x < 0 ? wide_negate(w) : w;
}

wide wide_add(const wide &a, const wide &b) {
  wide r;
  uint64_t carry = 0;
  for (size_t i = 0; i < wide_limbs; ++i) {
    const uint64_t t = uint64_t{a.limbs[i]} + b.limbs[i] + carry;
    r.limbs[i] = static_cast<uint32_t>(t);
    carry = t >> 32;
  }
  return r;
}

wide wide_sub(const wide &a, const wide &b) { return wide_add(a, wide_negate(b)); }

bool wide_is_negative(const wide &a) { return (a.limbs[wide_limbs - 1] >> 31) != 0; }

wide wide_mul(const wide &a, const wide &b) {
  std::array<uint32_t, 2 * wide_limbs> product{};
  for (size_t i = 0; i < wide_limbs; ++i) {
    uint64_t carry = 0;
    for (size_t j = 0; j < wide_limbs; ++j) {
      const uint64_t t = uint64_t{a.limbs[i]} * b.limbs[j] + product[i + j] + carry;
      product[i + j] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    product[i + wide_limbs] = static_cast<uint32_t>(carry);
  }
  // Dropping the 224 lowest bits of the product: 7 whole limbs.
  wide r;
  for (size_t i = 0; i < wide_limbs; ++i) r.limbs[i] = product[i + wide_fraction_bits / 32];
  return r;
}

double wide_round(const wide &w, int scale) {
  if (wide_is_negative(w)) return -wide_round(wide_negate(w), scale);
  if (wide_is_zero(w)) return 0.0;
  int top = wide_bits - 1;
  while (!wide_bit(w, top)) --top;
  // The value lies in [2^exponent, 2^(exponent + 1)).
  const int exponent = top - wide_fraction_bits + scale;
  if (exponent >= 1024) return std::numeric_limits<double>::infinity();
  // A normal double keeps 53 bits; a subnormal those down to 2^-1074 (none
  // or fewer below half of it: the rounding below then gives 0 or 2^-1074).
  const int keep = exponent >= -1022 ? 53 : exponent + 1075;
  const int lowest = top - keep + 1;
  uint64_t m = 0;
  for (int i = top; i >= lowest; --i) m = 2 * m + (wide_bit(w, i) ? 1 : 0);
  if (wide_bit(w, lowest - 1) && (wide_any_below(w, lowest - 1) || (m & 1) != 0)) ++m;
  // m <= 2^53, so exact; the product overflows to infinity only when the
  // rounded value reaches 2^1024.
  return static_cast<double>(m) * two_to(exponent - keep + 1);
}

double_double wide_to_double_double(const wide &w) {
  const double hi = wide_round(w, 0);
  return {hi, wide_round(wide_sub(w, wide_from_double(hi)), 0)};
}

wide wide_exp(const wide &r) {
  wide one;
  one.limbs[wide_limbs - 1] = 1;
  wide sum = one;
  wide term = one;
  // r^n / n! falls below 2^-224 by n = 60; each term truncated adds at most
  // two units of the last place to the sum.
  for (uint32_t n = 1; n < 200; ++n) {
    term = wide_divided(wide_mul(term, r), n);
    if (wide_is_zero(term)) break;
    sum = wide_add(sum, term);
  }
  return sum;
}

void wide_sin_cos(const wide &r, wide &sine, wide &cosine) {
  // The terms r^n / n! by sign and by parity; below 1.6 they fall under
  // 2^-224 by n = 70, and the sums stay below 3.
  std::array<wide, 4> sums{};  // by n mod 4: cos +, sin +, cos -, sin -
  sums[0].limbs[wide_limbs - 1] = 1;
  wide term = sums[0];
  for (uint32_t n = 1; n < 200; ++n) {
    term = wide_divided(wide_mul(term, r), n);
    if (wide_is_zero(term)) break;
    sums[n % 4] = wide_add(sums[n % 4], term);
  }
  sine = wide_sub(sums[1], sums[3]);
  cosine = wide_sub(sums[0], sums[2]);
}

wide wide_ln2() { return ln2; }

double exp_exact(double x) {
  // x = k ln2 + r with 0 <= r < ln2, k first guessed then put right.
  constexpr double inv_ln2 = 0x1.71547652b82fep+0;
  auto k = static_cast<int32_t>(nearest_whole(x * inv_ln2));
  const wide k_ln2 = wide_times(ln2, static_cast<uint32_t>(k < 0 ? -k : k));
  wide r = k >= 0 ? wide_sub(wide_from_double(x), k_ln2) : wide_add(wide_from_double(x), k_ln2);
  while (wide_is_negative(r)) {
    r = wide_add(r, ln2);
    --k;
  }
  while (!wide_is_negative(wide_sub(r, ln2))) {
    r = wide_sub(r, ln2);
    ++k;
  }
  return wide_round(wide_exp(r), k);
}

double exp2_exact(double y) {
  // y = k + f with k whole and 0 <= f < 1; 2^y = 2^k exp(f ln2).
  double k = nearest_whole(y);
  if (k > y) k -= 1.0;
  const wide f = wide_sub(wide_from_double(y), wide_from_double(k));
  return wide_round(wide_exp(wide_mul(f, ln2)), static_cast<int>(k));
}

double sin_cos_exact(double x, bool cosine) {
  // |x| = m 2^e with m whole. |x| 2/pi = m 2^e sum of word_w 2^-32(w+1);
  // the words whose terms are multiples of 4 (whole turns) are skipped,
  // and the next reduction_words ones leave an error below 2^-230.
  const auto bits = tunecast::bit_cast<uint64_t>(x) & ~(uint64_t{1} << 63);
  const auto biased = static_cast<int>(bits >> 52);
  const uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  const int e = biased - 1075;  // |x| >= 2^-27: never subnormal
  const int first_word = e >= 2 ? (e - 2) / 32 : 0;

  // m times the words, as one integer of reduction_words + 2 limbs.
  std::array<uint32_t, reduction_words + 2> product{};
  for (size_t j = 0; j < reduction_words; ++j) {
    const uint32_t word =
        two_over_pi_bits[static_cast<size_t>(first_word) + reduction_words - 1 - j];
    uint64_t carry = 0;
    for (size_t h = 0; h < 2; ++h) {
      const uint64_t half = h == 0 ? (m & 0xFFFFFFFFu) : (m >> 32);
      const uint64_t t = half * word + product[j + h] + carry;
      product[j + h] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    for (size_t i = j + 2; carry != 0 && i < product.size(); ++i) {
      const uint64_t t = uint64_t{product[i]} + carry;
      product[i] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
  }
  // Limb 0 of the product weighs 2^(e - 32 (first_word + reduction_words));
  // placed as a wide, whole turns (bits from 2^2 up) dropped.
  const int shift = e - 32 * (first_word + reduction_words) + wide_fraction_bits;
  wide turns;
  for (size_t i = 0; i < product.size(); ++i) {
    for (size_t l = 0; l < wide_limbs; ++l) {
      turns.limbs[l] |=
          shifted_word(product[i], shift + 32 * static_cast<int>(i), 32 * static_cast<int>(l));
    }
  }
  const uint32_t quadrant = turns.limbs[wide_limbs - 1] & 3u;
  turns.limbs[wide_limbs - 1] = 0;
  wide sine;
  wide cosine_value;
  wide_sin_cos(wide_mul(turns, half_pi), sine, cosine_value);

  // sin(q pi/2 + r) is sin r, cos r, -sin r, -cos r for q = 0..3; the
  // cosine is the sine a quarter turn on, and even.
  const uint32_t q = cosine ? quadrant + 1 : quadrant;
  double result = wide_round((q & 1) != 0 ? cosine_value : sine, 0);
  if ((q & 2) != 0) result = -result;
  if (!cosine && x < 0) result = -result;
  return result;
}

}  // namespace tunecast::maths
