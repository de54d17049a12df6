// sin_cos.cpp: sin and cos, correctly rounded. Below 2 pi x needs no
// reduction: x = i/64 + t with |t| <= 1/128, sin and cos of i/64 from a
// table in double-double and short polynomials in t. Beyond, x = k pi/2 + r
// (Cody-Waite: pi/2 in three pieces below 1024, in four up to 2^23) and r
// the same way from a smaller table. Two tries of growing precision, each
// with its error bound tested against the rounding boundaries; when neither
// can decide (about one call in 5000) and for every |x| >= 2^23, the slow
// path of wide.cpp answers, with its own reduction, exact for any double.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "common/bit_cast.h"
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
// Below it (402.5/64, past 2 pi) x needs no reduction: |x| rounds to i <= 402.
constexpr double turn_below = 6.2890625;
constexpr int32_t turn_reach = 402;

// sin(x) = A + B sin t + A (cos t - 1) with r = i/64 + t, where for an even
// quadrant (sin r) A = sin(i/64), B = cos(i/64), and for an odd one (cos r)
// A = cos(i/64), B = -sin(i/64). Each within 2^-107 relative.
struct sin_cos_entry {
  double a_hi, a_lo;
  double b_hi, b_lo;
  double b_upper;  // b_hi's upper 26 bits, for exact products by it
  double b_under;  // b_hi - b_upper, exact
};

// The entry for sin(i/64) and cos(i/64): for sin r, or for cos r when odd.
sin_cos_entry entry_from(double_double sine, double_double cosine, bool odd) {
  const double_double a = odd ? cosine : sine;
  const double_double b = odd ? double_double{-sine.hi, -sine.lo} : cosine;
  const double b_upper = split_upper(b.hi);
  return {a.hi, a.lo, b.hi, b.lo, b_upper, b.hi - b_upper};
}

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
      rows[0][at] = entry_from(sine, cosine, false);
      rows[1][at] = entry_from(sine, cosine, true);
    }
  }
};

// Inlined: after the first call, a test of the guard and no call.
[[gnu::always_inline]] inline const sin_cos_table &sin_cos_entries() {
  static const sin_cos_table table;
  return table;
}

// a b for a, b of either sign (wide_mul takes them unsigned).
wide wide_signed_mul(const wide &a, const wide &b) {
  const wide zero{};
  const bool a_negative = wide_is_negative(a);
  const bool b_negative = wide_is_negative(b);
  const wide product =
      wide_mul(a_negative ? wide_sub(zero, a) : a, b_negative ? wide_sub(zero, b) : b);
  return a_negative != b_negative ? wide_sub(zero, product) : product;
}

// sin(i/64) and cos(i/64) for i from 0 to 402, unreduced (x itself is
// i/64 + t below 2 pi), a row for sin and one for cos. The slow path's
// series stops at 1.6, so each is made from a quarter of the angle, doubled
// twice (sin 2u = 2 sin u cos u, cos 2u = cos^2 u - sin^2 u): four products
// truncated at 2^-224 and the quarter's own error, far below the 2^-107
// the entries need. About 2 ms, once.
struct sin_cos_turn_table {
  std::array<std::array<sin_cos_entry, turn_reach + 1>, 2> rows;
  sin_cos_turn_table() {
    for (int32_t i = 0; i <= turn_reach; ++i) {
      wide s;
      wide c;
      wide_sin_cos(wide_from_double(i / (4.0 * table_steps)), s, c);
      for (int doubling = 0; doubling < 2; ++doubling) {
        const wide sc = wide_signed_mul(s, c);
        c = wide_sub(wide_signed_mul(c, c), wide_signed_mul(s, s));
        s = wide_add(sc, sc);
      }
      const auto at = static_cast<std::size_t>(i);
      rows[0][at] = entry_from(wide_to_double_double(s), wide_to_double_double(c), false);
      rows[1][at] = entry_from(wide_to_double_double(s), wide_to_double_double(c), true);
    }
  }
};

[[gnu::always_inline]] inline const sin_cos_turn_table &sin_cos_turn_entries() {
  static const sin_cos_turn_table table;
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

// x = i/64 + t with i the nearest whole number to 64 x (ties to even) and
// t exact (x and i/64 lie on x's grid within 1/128 of each other), for
// |x| < 2^44. Adding 1.5 * 2^46, whose ulp is 1/64, rounds x to i/64 in
// one step, and the sum's bits less the constant's count i: a shorter
// chain than scaling, rounding and converting.
struct table_point {
  int64_t i;
  double t;
};
[[gnu::always_inline]] inline table_point nearest_table_point(double x) {
  constexpr double shifter = 0x1.8p46;
  const double shifted = x + shifter;
  const auto i = static_cast<int64_t>(tunecast::bit_cast<uint64_t>(shifted) -
                                      tunecast::bit_cast<uint64_t>(shifter));
  return {i, x - (shifted - shifter)};
}

// The table's entry for r, and t = r.hi - i/64.
[[gnu::always_inline]] inline const sin_cos_entry &entry_for(const reduced &red, bool odd,
                                                             double &t) {
  const table_point point = nearest_table_point(red.r.hi);
  t = point.t;
  return sin_cos_entries().rows[odd ? 1 : 0][static_cast<std::size_t>(point.i + table_reach)];
}

// The first try's A + B sin t + A (cos t - 1), mostly in plain double, as
// hi + lo; tl is r.lo, whose terms drop out at compile time when x was not
// reduced. B t is b_upper t_upper, exact (26 bits times 26), plus
// b_under t + b_upper (t - t_upper): each below 2^-25 |B t|, so their
// products and sum are rounded by under 2^-76 |B t|. The rest of the sum
// (below 2^-14 |A|, or 2^-14 when A and B are only known to be at most 1)
// in double. Errors:
//   sin t - t = t^3 S(t^2) (S to t^6, remainder below 2^-81.5), below
//   2^-23.6 and evaluated with at most five roundings: 2^-50.7 |t|^3/6;
//   cos t - 1 (to t^6, remainder below 2^-71.3), below 2^-15, with about
//   three roundings (the square's among them): 2^-66.4 |A|; the product by A
//   and the five additions of terms below 2^-15 |A|: 2^-65.7 |A|.
template <bool x_reduced>
[[gnu::always_inline]] inline double_double first_sum(const sin_cos_entry &e, double t, double tl) {
  const double p = t * t;
  const double sine_tail = t * p * (-1.0 / 6 + p * (1.0 / 120 - p * (1.0 / 5040)));
  const double cos_minus_1 = p * (-0.5 + p * (1.0 / 24 - p * (1.0 / 720)));
  const double t_upper = split_upper(t);
  const double bt_upper = e.b_upper * t_upper;
  const double bt_rest = e.b_under * t + e.b_upper * (t - t_upper);
  // r.lo moves sin t by r.lo cos t and cos t by -r.lo sin t: to first order.
  const double sine_part = x_reduced ? sine_tail + tl : sine_tail;
  const double cos_part = x_reduced ? cos_minus_1 - t * tl : cos_minus_1;
  // Summed as a tree, for a shorter chain of dependent additions.
  const double rest = ((bt_rest + e.a_lo) + (e.b_hi * sine_part + e.b_lo * t)) + e.a_hi * cos_part;
  // The callers see that |A| >= |B t| or A = 0, so the sum of the two is
  // exact.
  const double_double sum = fast_two_sum(e.a_hi, bt_upper);
  return {sum.hi, sum.lo + rest};
}

// The first try for r below pi/4 (1 + 2^-40), from first_sum.
// |A| >= |B t|: for i != 0, |A| >= sin(1/64) or cos(pi/4), |t| <= 1/128;
// for i = 0 in an even quadrant A = 0.
// Error, relative to the result R: in an even quadrant with i = 0, A = 0
// and R is about t: 2^-67.3 |R|. With i != 0, |A| <= 2 |R| (|r| is at
// least 1/128 and within 1/128 of i/64) and in an odd quadrant |A| <= 1.5
// |R|. So below 2^-64 |R|, plus the reduction's 2^-110 absolute: eps =
// 2^-62 |h| + 2^-108 (when x was reduced) is over twice that. A result so
// near 0 that the 2^-108 matters fails the test and goes on. About one
// call in 300 goes on to the second try.
template <bool x_reduced>
[[gnu::always_inline]] inline bool sin_cos_quick(const reduced &red, bool odd, double &result) {
  double t;
  const sin_cos_entry &e = entry_for(red, odd, t);
  const double_double sum = first_sum<x_reduced>(e, t, red.r.lo);
  const double h = sum.hi < 0 ? -sum.hi : sum.hi;
  const double eps = 0x1p-62 * h + (x_reduced ? 0x1p-108 : 0.0);
  return rounds_alike(sum.hi, sum.lo, eps, result);
}

// The first try for 0 <= x < 402.5/64 without reduction: x = i/64 + t,
// t from nearest_table_point, and the turn table's entry. It gives up when
// |A| < 1/128 (four entries, next to a zero of sin or cos), so that |A| >=
// |B t| again. The result may be near 0 and far below A, so the bound is
// absolute: with |A|, |B| <= 1 the errors of first_sum are below 2^-65.7
// + 2^-66.4 + 2^-71.3 + 2^-74 + 2^-76 + the table's 2^-106, under 2^-64.9;
// eps = 2^-63 is over twice that. About one call in 80 over a turn goes on
// to the reduced way: two entries of 403 in each row, and results whose ulp
// is small against eps (one in 500 at |R| near 1, every one below 2^-10).
[[gnu::always_inline]] inline bool sin_cos_turn(double x, bool cosine, double &result) {
  const table_point point = nearest_table_point(x);
  const sin_cos_entry &e =
      sin_cos_turn_entries().rows[cosine ? 1 : 0][static_cast<std::size_t>(point.i)];
  if (e.a_hi < 1.0 / 128 && e.a_hi > -1.0 / 128) return false;
  const double_double sum = first_sum<false>(e, point.t, 0.0);
  return rounds_alike(sum.hi, sum.lo, 0x1p-63, result);
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

// What the first try leaves: the second try, then the slow path; and NaN
// and infinities. Apart, so that the first try's caller keeps no registers
// across calls.
[[gnu::noinline]] double sin_cos_undecided(double x, bool cosine) {
  if (x != x || x - x != 0.0) return x - x;  // NaN, or +-inf gives NaN
  if (x < fast_below && x > -fast_below) {
    const reduced red = reduce(x);
    const uint64_t q = quadrant_of(red, cosine);
    double result;
    if (sin_cos_accurate(red, (q & 1) != 0, result)) return signed_for(q, result);
  }
  return sin_cos_exact(x, cosine);
}

// NaN and infinities fail both tests of |x| and go the long way.
[[gnu::always_inline]] inline double sin_or_cos(double x, bool cosine) {
  const double magnitude = std::fabs(x);
  double result;
  if (magnitude < unreduced_below) {
    if (magnitude < tiny_below) return cosine ? 1.0 : x;
    // Quadrant 0: sin r, or cos r for cos, both unsigned by the quadrant.
    if (sin_cos_quick<false>({0, {x, 0.0}}, cosine, result)) return result;
  } else if (magnitude < fast_below) {
    // cos(-x) = cos x, sin(-x) = -sin x.
    if (magnitude < turn_below && sin_cos_turn(magnitude, cosine, result)) {
      return cosine || x > 0 ? result : -result;
    }
    const reduced red = reduce(x);
    const uint64_t q = quadrant_of(red, cosine);
    if (sin_cos_quick<true>(red, (q & 1) != 0, result)) return signed_for(q, result);
  }
  return sin_cos_undecided(x, cosine);
}

}  // namespace

double sin(double x) { return sin_or_cos(x, false); }
double cos(double x) { return sin_or_cos(x, true); }

}  // namespace tunecast::maths
