// sin_cos.cpp: sin and cos, correctly rounded. x = k pi/2 + r (Cody-Waite:
// pi/2 in three pieces below 1024, in four up to 2^23), r = i/64 + t with
// |t| <= 1/128, and sin, cos of r from a table of sin(i/64), cos(i/64) in
// double-double and short polynomials in t. Two tries of growing precision, each with its
// error bound tested against the rounding boundaries; when neither can
// decide (about one call in 5000) and for every |x| >= 2^23, the slow
// path of wide.cpp answers, with its own reduction, exact for any double.
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
// For |x| < 1024 (|k| < 2^10), a shorter way with pi/2 in three pieces of
// 43, 29 and 53 bits, together within 2^-127 of it.
constexpr double near_below = 1024.0;
constexpr double near_half_pi_1 = 0x1.921fb54442cp+0;
constexpr double near_half_pi_2 = 0x1.184698ap-44;
constexpr double near_half_pi_3 = -0x1.cceba3f91f197p-74;

// Below it x is its own reduced argument (it is under pi/4).
constexpr double unreduced_below = 0.78;
constexpr double fast_below = 0x1p23;
// sin x within half an ulp of x, and cos x of 1, for |x| below it.
constexpr double tiny_below = 0x1p-27;

constexpr int32_t table_steps = 64;  // entries at i/64
constexpr int32_t table_reach = 50;  // |r| <= pi/4 (1 + 2^-40) rounds to |i| <= 50

// sin(x) = A + B sin t + A (cos t - 1) with r = i/64 + t, where for an even
// quadrant (sin r) A = sin(i/64), B = cos(i/64), and for an odd one (cos r)
// A = cos(i/64), B = -sin(i/64). Each within 2^-107 relative.
struct sin_cos_entry {
  double a_hi, a_lo;
  double b_hi, b_lo;
  double b_upper;  // b_hi's upper half, for exact products by it
};

// Made by the slow path once: a row per i from -50 to 50 for each kind of
// quadrant, so that the fast paths pick without branching.
struct sin_cos_table {
  std::array<std::array<sin_cos_entry, 2 * table_reach + 1>, 2> rows;
  sin_cos_table() {
    for (int32_t i = -table_reach; i <= table_reach; ++i) {
      wide s;
      wide c;
      wide_sin_cos(wide_from_double((i < 0 ? -i : i) / static_cast<double>(table_steps)), s, c);
      double_double sine = wide_to_double_double(s);
      if (i < 0) sine = {-sine.hi, -sine.lo};
      const double_double cosine = wide_to_double_double(c);
      const auto at = static_cast<std::size_t>(i + table_reach);
      rows[0][at] = {sine.hi, sine.lo, cosine.hi, cosine.lo, split_upper(cosine.hi)};
      rows[1][at] = {cosine.hi, cosine.lo, -sine.hi, -sine.lo, split_upper(-sine.hi)};
    }
  }
};

// Inlined: after the first call, a test of the guard and no call.
[[gnu::always_inline]] inline const sin_cos_table &sin_cos_entries() {
  static const sin_cos_table table;
  return table;
}

// x = quadrant pi/2 + r.hi + r.lo, |r| <= pi/4 (1 + 2^-40).
struct reduced {
  int64_t quadrant;
  double_double r;
};

// For |x| < 2^23. Below 0.78 x is its own r. Otherwise x - kd times the
// first piece is exact (Sterbenz) and so are the products by the short
// pieces; the sums of two are exact, and the last piece goes into the low
// part: the error is below 2^-110, from k times the last piece's rounding
// and the constant's own (2^-117 below 1024, 2^-141 k beyond).
[[gnu::always_inline]] inline reduced reduce(double x) {
  if (x < unreduced_below && x > -unreduced_below) return {0, {x, 0.0}};
  const double kd = nearest_whole(x * two_over_pi);
  if (x < near_below && x > -near_below) {
    const double a = x - kd * near_half_pi_1;
    const double b = kd * near_half_pi_2;  // below 2^-33
    // a - b exactly by fast_two_sum, which wants |a| >= |b|; a smaller a
    // (x within 2^-30 of a multiple of pi/2) takes the longer way.
    if (a > 0x1p-30 || a < -0x1p-30) {
      const double hi = a - b;
      return {static_cast<int64_t>(kd), {hi, ((a - hi) - b) - kd * near_half_pi_3}};
    }
  }
  const double_double a = two_sum(x - kd * half_pi_1, -(kd * half_pi_2));
  const double_double b = two_sum(a.hi, -(kd * half_pi_3));
  return {static_cast<int64_t>(kd), two_sum(b.hi, (a.lo + b.lo) - kd * half_pi_4)};
}

// The table's entry for r and t = r.hi - i/64 (exact: both lie on r.hi's
// grid and within 1/128 of each other).
[[gnu::always_inline]] inline const sin_cos_entry &entry_for(const reduced &red, bool odd,
                                                             double &t) {
  const double id = nearest_whole(red.r.hi * table_steps);
  t = red.r.hi - id * (1.0 / table_steps);
  const auto at = static_cast<std::size_t>(static_cast<int32_t>(id) + table_reach);
  return sin_cos_entries().rows[odd ? 1 : 0][at];
}

// The first try, mostly in plain double: B t exact (B's split is in the
// table), the rest of the sum (below 2^-14 |A|) in double.
// Error, relative to the result R:
//   sin t - t = t^3 S(t^2) (S to t^6, remainder below 2^-81.5), below
//   2^-23.6 and evaluated with at most five roundings: 2^-50.7 |t|^3/6;
//   cos t - 1 (to t^6, remainder below 2^-71.3), below 2^-15, with about
//   three roundings (the square's among them): 2^-66.4 |A|; the product by A
//   and the five additions of terms below 2^-15 |A|: 2^-65.7 |A|.
// In an even quadrant with i = 0, A = 0 and R is about t: 2^-67.3 |R|. With
// i != 0, |A| <= 2 |R| (|r| is at least 1/128 and within 1/128 of i/64) and
// in an odd quadrant |A| <= 1.5 |R|. So below 2^-64 |R|, plus the
// reduction's 2^-110 absolute: eps = 2^-62 |h| + 2^-108 (when x was
// reduced) is over twice that. A result so near 0 that the 2^-108 matters
// fails the test and goes on. About one call in 300 goes on to the second
// try.
[[gnu::always_inline]] inline bool sin_cos_quick(const reduced &red, bool odd, double &result) {
  double t;
  const sin_cos_entry &e = entry_for(red, odd, t);
  const double p = t * t;
  const double sine_tail = t * p * (-1.0 / 6 + p * (1.0 / 120 - p * (1.0 / 5040)));
  const double cos_minus_1 = p * (-0.5 + p * (1.0 / 24 - p * (1.0 / 720)));
  const double_double bt = two_prod_split(e.b_hi, e.b_upper, t);
  // r.lo moves sin t by r.lo cos t and cos t by -r.lo sin t: to first order.
  // Summed as a tree, for a shorter chain of dependent additions.
  const double rest = ((bt.lo + e.a_lo) + (e.b_hi * (sine_tail + red.r.lo) + e.b_lo * t)) +
                      e.a_hi * (cos_minus_1 - t * red.r.lo);
  // |A| >= |B t| (i != 0: |A| >= sin(1/64) or cos(pi/4), |t| <= 1/128; i = 0
  // in an even quadrant: A = 0), so the sum of the two is exact.
  const double_double sum = fast_two_sum(e.a_hi, bt.hi);
  const double h = sum.hi < 0 ? -sum.hi : sum.hi;
  const double eps = 0x1p-62 * h + (red.quadrant != 0 ? 0x1p-108 : 0.0);
  return rounds_alike(sum.hi, sum.lo + rest, eps, result);
}

// The second try, in double-double throughout.
// Error of the sum A + B sin t + A (cos t - 1):
//   the reduction: below 2^-110, absolute;
//   sin t = t + t^3 S(t^2), S to t^8, its remainder below 2^-81: the cubic,
//   below |t|^3/6, in plain double with about five roundings: relative to
//   t, 5 2^-53 t^2/6 < 2^-67.2;
//   cos t - 1 = -t^2/2 (exact, two_prod) + t^4 C(t^2), C to t^8 (remainder
//   below 2^-91), the quartic (below 2^-32.5) in double: 2^-84;
//   the products by A and B exact in their leading part (two_prod), the
//   rest and the final sums: below 2^-100 relative.
// With i = 0 in an even quadrant the sine is t's, so its error is relative
// to the result; otherwise the result is at least sin(1/128) (about 2^-7)
// and the t^3 error at most 2^-74.2 absolute. Either way below 2^-67
// relative, plus the reduction's 2^-110: eps = 2^-66 |h| + 2^-104 is over
// twice it. About one call in 5000 ends in the slow path.
bool sin_cos_accurate(const reduced &red, bool odd, double &result) {
  double t;
  const sin_cos_entry &e = entry_for(red, odd, t);
  const double tl = red.r.lo;
  const double_double t2 = two_prod(t, t);
  const double p = t2.hi;
  const double sine_tail =
      tl + t * p * (-1.0 / 6 + p * (1.0 / 120 + p * (-1.0 / 5040 + p * (1.0 / 362880))));
  const double cos_minus_1_tail =
      -0.5 * t2.lo - t * tl +
      p * p * (1.0 / 24 + p * (-1.0 / 720 + p * (1.0 / 40320 + p * (-1.0 / 3628800))));

  double_double bs = two_prod_split(e.b_hi, e.b_upper, t);  // B sin t
  bs.lo += e.b_hi * sine_tail + e.b_lo * t;
  double_double ac = two_prod(e.a_hi, -0.5 * p);  // A (cos t - 1)
  ac.lo += e.a_hi * cos_minus_1_tail + e.a_lo * (-0.5 * p);
  const double_double s1 = two_sum(e.a_hi, bs.hi);
  const double_double s2 = two_sum(s1.hi, ac.hi);
  const double_double sum = fast_two_sum(s2.hi, ((s1.lo + s2.lo) + e.a_lo) + (bs.lo + ac.lo));

  const double h = sum.hi < 0 ? -sum.hi : sum.hi;
  const double eps = 0x1p-66 * h + (red.quadrant != 0 ? 0x1p-104 : 0.0);
  return rounds_alike(sum.hi, sum.lo, eps, result);
}

// sin(q pi/2 + r) is sin r, cos r, -sin r, -cos r for q = 0..3; cos x is
// sin(x + pi/2).
uint64_t quadrant_of(const reduced &red, bool cosine) {
  return static_cast<uint64_t>(red.quadrant) + (cosine ? 1 : 0);
}
double signed_for(uint64_t q, double value) { return (q & 2) != 0 ? -value : value; }

// What the first try leaves: the second try, then the slow path. Apart, so
// that the first try's caller keeps no registers across calls.
[[gnu::noinline]] double sin_cos_undecided(double x, bool cosine) {
  if (x < fast_below && x > -fast_below) {
    const reduced red = reduce(x);
    const uint64_t q = quadrant_of(red, cosine);
    double result;
    if (sin_cos_accurate(red, (q & 1) != 0, result)) return signed_for(q, result);
  }
  return sin_cos_exact(x, cosine);
}

[[gnu::always_inline]] inline double sin_or_cos(double x, bool cosine) {
  if (x != x || x - x != 0.0) return x - x;  // NaN, or +-inf gives NaN
  if (x < tiny_below && x > -tiny_below) return cosine ? 1.0 : x;
  if (x < fast_below && x > -fast_below) {
    const reduced red = reduce(x);
    const uint64_t q = quadrant_of(red, cosine);
    double result;
    if (sin_cos_quick(red, (q & 1) != 0, result)) return signed_for(q, result);
  }
  return sin_cos_undecided(x, cosine);
}

}  // namespace

double sin(double x) { return sin_or_cos(x, false); }
double cos(double x) { return sin_or_cos(x, true); }

}  // namespace tunecast::maths
