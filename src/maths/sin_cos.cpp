// sin_cos.cpp: sin and cos, correctly rounded. x = k pi/2 + r (Cody-Waite
// in four pieces of pi/2, for |x| < 2^23), r = i/64 + t with |t| <= 1/128,
// and sin, cos of r from a table of sin(i/64), cos(i/64) in double-double
// and short polynomials in t. The fast path's error (below) is tested
// against the rounding boundaries; when it cannot decide, about once in
// 2^12 calls, and for every |x| >= 2^23, the slow path of wide.cpp
// answers (with its own reduction, exact for any double).
#include <array>
#include <cstddef>
#include <cstdint>

#include "maths/double_double.h"
#include "maths/maths.h"
#include "maths/wide.h"

namespace tunecast::maths {
namespace {

// pi/2 in four pieces, the first three of 29 bits so that k times them is
// exact for |k| < 2^24; together within 2^-141 of pi/2.
constexpr double half_pi_1 = 0x1.921fb54p+0;
constexpr double half_pi_2 = 0x1.10b4612p-30;
constexpr double half_pi_3 = -0x1.676733bp-60;
constexpr double half_pi_4 = 0x1.701b839a25205p-92;
constexpr double two_over_pi = 0x1.45f306dc9c883p-1;

// Below it x is its own reduced argument (it is under pi/4).
constexpr double unreduced_below = 0.78;
constexpr double fast_below = 0x1p23;
// sin x within half an ulp of x, and cos x of 1, for |x| below it.
constexpr double tiny_below = 0x1p-27;

constexpr int32_t table_steps = 64;    // entries at i/64
constexpr std::size_t table_len = 51;  // |r| <= pi/4 rounds to i <= 50

struct sin_cos_entry {
  double_double sine;
  double_double cosine;
};

// sin(i/64) and cos(i/64), each within 2^-107 relative, made by the slow
// path once.
struct sin_cos_table {
  std::array<sin_cos_entry, table_len> entries;
  sin_cos_table() {
    for (std::size_t i = 0; i < table_len; ++i) {
      wide s;
      wide c;
      wide_sin_cos(wide_from_double(static_cast<double>(i) / table_steps), s, c);
      entries[i] = {wide_to_double_double(s), wide_to_double_double(c)};
    }
  }
};

const sin_cos_table &sin_cos_entries() {
  static const sin_cos_table table;
  return table;
}

// sin(x) (cosine false) or cos(x) when the fast evaluation rounds
// unambiguously; false otherwise. 2^-27 <= |x| < 2^23.
//
// Error of the sum A + B sin t + A (cos t - 1), with A, B the table's
// sin(a), cos(a) (or cos(a), -sin(a)) for the quadrant:
//   the reduction: exact but for k * half_pi_4 (rounded by under 2^-116)
//   and the constant (2^-141 k): absolute 2^-110 at most;
//   sin t = t + t^3 S(t^2), S to t^6, its remainder below 2^-81: the
//   cubic (under 2^-21.6 t-relative... below |t|^3/6) in plain double,
//   about five roundings: relative to t, 5 2^-53 t^2/6 < 2^-67.2;
//   cos t - 1 = -t^2/2 (exact, two_prod) + t^4 C(t^2), C to t^8 (remainder
//   below 2^-91), the quartic (below 2^-32.5) in double: 2^-84;
//   the products by A and B exact in their leading part (two_prod), the
//   rest and the final sums: below 2^-100 relative.
// With i = 0 the sine is t's, so its error is relative to the result; with
// i != 0 the result is at least sin(1/128) (about 2^-7) and the t^3 error
// is at most 2^-74.2 absolute. Either way below 2^-67 relative, plus the
// reduction's 2^-110: eps = 2^-66 |h| + 2^-104 is over twice it.
bool sin_cos_fast(double x, bool cosine, double &result) {
  double_double r{x, 0.0};
  int64_t k = 0;
  if (x > unreduced_below || x < -unreduced_below) {
    const double kd = nearest_whole(x * two_over_pi);
    k = static_cast<int64_t>(kd);
    // x - kd * half_pi_1 is exact (Sterbenz), the next two differences
    // exact by two_sum, and the last piece goes into the low part.
    const double_double a = two_sum(x - kd * half_pi_1, -(kd * half_pi_2));
    const double_double b = two_sum(a.hi, -(kd * half_pi_3));
    r = two_sum(b.hi, (a.lo + b.lo) - kd * half_pi_4);
  }
  const double id = nearest_whole(r.hi * table_steps);
  const double t = r.hi - id * (1.0 / table_steps);  // exact: both near, on r.hi's grid
  const double tl = r.lo;
  const auto i = static_cast<int32_t>(id);
  const sin_cos_entry &entry = sin_cos_entries().entries[static_cast<std::size_t>(i < 0 ? -i : i)];
  const double_double sin_a = i < 0 ? double_double{-entry.sine.hi, -entry.sine.lo} : entry.sine;
  const double_double &cos_a = entry.cosine;

  // sin(q pi/2 + r): q even, sin r = sin a cos t + cos a sin t; q odd,
  // cos r = cos a cos t - sin a sin t. Both A + B sin t + A (cos t - 1).
  const uint64_t q = static_cast<uint64_t>(k) + (cosine ? 1 : 0);
  const bool odd = (q & 1) != 0;
  const double_double a = odd ? cos_a : sin_a;
  const double_double b = odd ? double_double{-sin_a.hi, -sin_a.lo} : cos_a;

  const double_double t2 = two_prod(t, t);
  const double p = t2.hi;
  const double sine_tail =
      tl + t * p * (-1.0 / 6 + p * (1.0 / 120 + p * (-1.0 / 5040 + p * (1.0 / 362880))));
  const double cos_minus_1_tail =
      -0.5 * t2.lo - t * tl +
      p * p * (1.0 / 24 + p * (-1.0 / 720 + p * (1.0 / 40320 + p * (-1.0 / 3628800))));

  double_double bs = two_prod(b.hi, t);  // B sin t
  bs.lo += b.hi * sine_tail + b.lo * t;
  double_double ac = two_prod(a.hi, -0.5 * p);  // A (cos t - 1)
  ac.lo += a.hi * cos_minus_1_tail + a.lo * (-0.5 * p);
  const double_double s1 = two_sum(a.hi, bs.hi);
  const double_double s2 = two_sum(s1.hi, ac.hi);
  const double_double sum = fast_two_sum(s2.hi, ((s1.lo + s2.lo) + a.lo) + (bs.lo + ac.lo));

  const double h = sum.hi < 0 ? -sum.hi : sum.hi;
  const double eps = 0x1p-66 * h + (k != 0 ? 0x1p-104 : 0.0);
  if (!rounds_alike(sum.hi, sum.lo, eps, result)) return false;
  if ((q & 2) != 0) result = -result;
  return true;
}

double sin_or_cos(double x, bool cosine) {
  if (x != x || x - x != 0.0) return x - x;  // NaN, or +-inf gives NaN
  if (x < tiny_below && x > -tiny_below) return cosine ? 1.0 : x;
  double result;
  if (x < fast_below && x > -fast_below && sin_cos_fast(x, cosine, result)) return result;
  return sin_cos_exact(x, cosine);
}

}  // namespace

double sin(double x) { return sin_or_cos(x, false); }
double cos(double x) { return sin_or_cos(x, true); }

}  // namespace tunecast::maths
