// double_double.h: exact sums and products of two doubles, the pieces of
// the fast paths' double-double arithmetic, and the test that decides
// whether an approximation with a known error bound rounds the way the
// exact value does. Plain IEEE-754 double operations, nothing fused: the
// module is built with -ffp-contract=off, so every platform gets the same.
#ifndef TUNECAST_MATHS_DOUBLE_DOUBLE_H
#define TUNECAST_MATHS_DOUBLE_DOUBLE_H

#include <cstdint>

#include "common/bit_cast.h"

namespace tunecast::maths {

// hi + lo with |lo| <= ulp(hi) / 2: the value carried to about 106 bits.
struct double_double {
  double hi;
  double lo;
};

// a + b exactly (Knuth's two-sum).
inline double_double two_sum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

// a + b exactly when |a| >= |b| (or a is 0).
inline double_double fast_two_sum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// The upper 26 bits of a (Veltkamp's split); a minus it is exact and fits
// in 26 bits too. |a| below 2^995.
inline double split_upper(double a) {
  constexpr double splitter = 134217729.0;  // 2^27 + 1
  const double c = splitter * a;
  return c - (c - a);
}

// a * b exactly, a's upper half given (a constant's, split once), by
// Dekker's product: no fused multiply-add, which not every platform has.
inline double_double two_prod_split(double a, double a_hi, double b) {
  const double a_lo = a - a_hi;
  const double b_hi = split_upper(b);
  const double b_lo = b - b_hi;
  const double p = a * b;
  return {p, ((a_hi * b_hi - p) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo};
}

// a * b exactly. |a|, |b| below 2^995.
inline double_double two_prod(double a, double b) { return two_prod_split(a, split_upper(a), b); }

// 2^e as a double, for -1074 <= e <= 1023.
inline double two_to(int e) {
  if (e >= -1022) return tunecast::bit_cast<double>(static_cast<uint64_t>(e + 1023) << 52);
  return tunecast::bit_cast<double>(uint64_t{1} << (e + 1074));
}

// The nearest whole number to x (ties to even), |x| < 2^51, as a double:
// adding 1.5 * 2^52 leaves no fraction bits, so the addition rounds.
inline double nearest_whole(double x) {
  constexpr double shifter = 6755399441055744.0;  // 1.5 * 2^52
  return (x + shifter) - shifter;
}

// True when every value within eps of hi + lo rounds to the same double,
// left in result. Sound when eps is at least twice the true error bound and
// at least 2^-100 |hi|: the two roundings of lo +- eps then move the ends
// by far less than the slack, and rounding is monotonic, so both ends
// rounding alike settles every value between them.
inline bool rounds_alike(double hi, double lo, double eps, double &result) {
  const double low_end = hi + (lo - eps);
  const double high_end = hi + (lo + eps);
  if (low_end != high_end) return false;
  result = low_end;
  return true;
}

}  // namespace tunecast::maths

#endif  // TUNECAST_MATHS_DOUBLE_DOUBLE_H
