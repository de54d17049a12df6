// exp.cpp: exp(x) and 2^y, correctly rounded. Both become
// 2^e * 2^(j/64) * exp(r) with |r| <= ln2/128: a table of the 64 values of
// 2^(j/64) in double-double, and a short polynomial. Two tries of growing
// precision, each with its error bound tested against the rounding
// boundaries; when neither can decide (about once in 2^18 calls) the slow
// path of wide.cpp answers.
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "common/bit_cast.h"
#include "maths/double_double.h"
#include "maths/maths.h"
#include "maths/wide.h"

namespace tunecast::maths {
namespace {

// ln2/64 in three pieces, the first two of 36 bits so that k times them is
// exact for |k| < 2^17; together within 2^-140 of ln2/64.
constexpr double ln2_64_1 = 0x1.62e42fefap-7;
constexpr double ln2_64_2 = 0x1.cf79abc9ep-46;
constexpr double ln2_64_3 = 0x1.d9cc01f97b57ap-85;
constexpr double sixty_four_over_ln2 = 0x1.71547652b82fep+6;
// ln2 in double-double, within 2^-108 of it.
constexpr double ln2_hi = 0x1.62e42fefa39efp-1;
constexpr double ln2_lo = 0x1.abc9e3b39803fp-56;

// exp below this is under half the smallest subnormal, above that over the
// largest double; between, the result is computed (and rounds itself to 0
// or infinity where it must).
constexpr double exp_zero_below = -745.2;
constexpr double exp_infinite_above = 709.8;
// exp(x) for |x| < 2^-54 lies within half an ulp of 1 (either side).
constexpr double exp_one_below = 0x1p-54;

// 2^(j/64), each within 2^-107 relative of it, its upper 26 bits (for
// exact products by it) and the rest of hi, made by the slow path once.
struct exp2_entry {
  double hi, lo;
  double hi_upper;
  double hi_under;  // hi - hi_upper, exact
};

struct exp2_table {
  std::array<exp2_entry, 64> entries;
  exp2_table() {
    for (int32_t j = 0; j < 64; ++j) {
      const wide r = wide_mul(wide_from_double(j / 64.0), wide_ln2());
      const double_double t = wide_to_double_double(wide_exp(r));
      const double upper = split_upper(t.hi);
      entries[static_cast<std::size_t>(j)] = {t.hi, t.lo, upper, t.hi - upper};
    }
  }
};

// Inlined: after the first call, a test of the guard and no call.
[[gnu::always_inline]] inline const exp2_entry &exp2_entry_for(int64_t k) {
  static const exp2_table table;
  return table.entries[static_cast<std::size_t>(k & 63)];
}

// (hi + lo) 2^e2, hi + lo normalized and within eps of the exact value,
// rounded once when every value within eps rounds alike; false otherwise.
[[gnu::always_inline]] inline bool scaled_rounding(double hi, double lo, double eps, int64_t e2,
                                                   double &result) {
  if (e2 > -1022) {
    double rounded;
    if (!rounds_alike(hi, lo, eps, rounded)) return false;
    // Exact scaling, in one product up to 2^1023 and in two for 2^1024
    // (not a double); past the largest double it overflows to infinity, as
    // the exact value would round.
    if (e2 < 1024) {
      result = rounded * two_to(static_cast<int>(e2));
      return true;
    }
    result = rounded * 2.0 * two_to(1023);
    return true;
  }
  // Below 2^-1021 the doubles are the multiples of 2^-1074: the value in
  // those units (below 1.99 * 2^52) goes to the nearest whole number, and
  // the rounding test asks whether the error keeps it there.
  const double unit = two_to(static_cast<int>(e2) + 1074);
  const double q_hi = hi * unit;
  const double q_lo = lo * unit;
  const double whole = q_hi < 0x1p52 ? nearest_whole(q_hi) : q_hi;
  const double offset = (q_hi - whole) + q_lo;  // q_hi - whole is exact
  if (!(offset + eps * unit < 0.5 - 0x1p-40 && offset - eps * unit > -0.5 + 0x1p-40)) {
    return false;
  }
  result = whole * 0x1p-1074;
  return true;
}

// The first try at 2^(k/64) exp(rh + rl), |rh + rl| <= 0.00542, |rl| <=
// 2^-53 |rh|: T + T rh + T q + Tl (1 + rh) with q = exp(r) - 1 - rh, the
// rest in plain double. T rh is hi_upper rh_upper, exact (26 bits times
// 26), plus hi_under rh + hi_upper (rh - rh_upper): each below 2^-25 |T rh|,
// so their products and sum are rounded by under 2^-76 |T rh|.
// Error, relative to T: q (below 2^-15.9) to r^7/7! (remainder below
// 2^-75.4), with the square's rounding and about five more: 2^-67.4; its
// product by T and the four additions of terms below 2^-15: 2^-66.
// Below 2^-65.4: eps = 2^-63 |hi| is over twice that (the result is at
// least 0.99 T). About one call in 700 goes on to the second try.
[[gnu::always_inline]] inline bool exp_quick(int64_t k, double rh, double rl, double &result) {
  const exp2_entry &t = exp2_entry_for(k);
  const double p = rh * rh;
  const double q =
      rl +
      p * (0.5 + rh * (1.0 / 6 +
                       rh * (1.0 / 24 + rh * (1.0 / 120 + rh * (1.0 / 720 + rh * (1.0 / 5040))))));
  const double rh_upper = split_upper(rh);
  const double tr_upper = t.hi_upper * rh_upper;
  const double tr_rest = t.hi_under * rh + t.hi_upper * (rh - rh_upper);
  const double_double sum = fast_two_sum(t.hi, tr_upper);  // T >= 1 > |T rh|
  const double_double r =
      fast_two_sum(sum.hi, sum.lo + ((tr_rest + t.lo) + (t.hi * q + t.lo * rh)));
  return scaled_rounding(r.hi, r.lo, 0x1p-63 * r.hi, k >> 6, result);
}

// The second try, in double-double.
// Error, relative, of the value R = Rh + Rl of 2^(j/64) exp(r):
//   the series stops after r^7/7!: the rest is below r^8/8! < 2^-75.4;
//   the cubic and higher terms (below 2^-25.2) in plain double, about six
//   roundings: 2^-75; the r^2/2 term exact (two_prod) but for rl^2 and
//   the rounding of rh rl: 2^-110; the sums into El and the products by
//   the table, each a rounding of a term below 2^-25: 2^-77 together;
//   the table itself: 2^-106; the reduction of x (given by the caller):
//   below 2^-100.
// Sum below 2^-73.4: eps = 2^-71 |Rh| is more than twice that. About one
// call in 2^18 goes on to the slow path.
[[gnu::noinline]] bool exp_accurate(int64_t k, double rh, double rl, double &result) {
  const double_double r2 = two_prod(rh, rh);
  const double cubic =
      r2.hi * rh *
      (1.0 / 6 + rh * (1.0 / 24 + rh * (1.0 / 120 + rh * (1.0 / 720 + rh * (1.0 / 5040)))));
  const double_double t = fast_two_sum(rh, 0.5 * r2.hi);
  const double tail = t.lo + rl + (0.5 * r2.lo + rh * rl) + cubic;
  double_double e = fast_two_sum(1.0, t.hi);
  e.lo += tail;

  const exp2_entry &entry = exp2_entry_for(k);
  double_double p = two_prod_split(entry.hi, entry.hi_upper, e.hi);
  p.lo += entry.hi * e.lo + entry.lo * e.hi;
  p = fast_two_sum(p.hi, p.lo);
  return scaled_rounding(p.hi, p.lo, 0x1p-71 * p.hi, k >> 6, result);
}

// 2^(k/64) exp(rh + rl) correctly rounded, when one of the tries decides.
bool exp_fast(int64_t k, double rh, double rl, double &result) {
  return exp_quick(k, rh, rl, result) || exp_accurate(k, rh, rl, result);
}

}  // namespace

double exp(double x) {
  if (!(x > exp_zero_below)) return x != x ? x + x : 0.0;  // NaN stays NaN
  if (x > exp_infinite_above) return std::numeric_limits<double>::infinity();
  if (x < exp_one_below && x > -exp_one_below) return 1.0;
  // x = k ln2/64 + r. k * ln2_64_1 and k * ln2_64_2 are exact, and x minus
  // the first is exact too (Sterbenz); k * ln2_64_3 is rounded by under
  // 2^-115. |r| <= ln2/128 (1 + 2^-35).
  const double kd = nearest_whole(x * sixty_four_over_ln2);
  const double a = x - kd * ln2_64_1;
  const double b = kd * ln2_64_2;  // below 2^-28
  // a - b exactly: by fast_two_sum when |a| >= |b|, as it nearly always is.
  const double_double r = a > 0x1p-27 || a < -0x1p-27 ? fast_two_sum(a, -b) : two_sum(a, -b);
  const double_double rr = two_sum(r.hi, r.lo - kd * ln2_64_3);
  double result;
  if (exp_fast(static_cast<int64_t>(kd), rr.hi, rr.lo, result)) return result;
  return exp_exact(x);
}

double pow(double base, double exponent) {
  if (base != 2.0) return std::numeric_limits<double>::quiet_NaN();
  const double y = exponent;
  if (!(y > -1075.0)) return y != y ? y + y : 0.0;  // 2^-1075 is a tie, to 0
  if (y >= 1024.0) return std::numeric_limits<double>::infinity();
  if (y < exp_one_below && y > -exp_one_below) return 1.0;
  // y = k/64 + f, f exact (y is a multiple of its last bit, which is below
  // 2^-6 here, or y is whole); f ln2 in double-double within 2^-113.
  const double kd = nearest_whole(64.0 * y);
  const double f = y - kd * (1.0 / 64);
  const double_double p = two_prod(f, ln2_hi);
  const double_double r = fast_two_sum(p.hi, p.lo + f * ln2_lo);
  double result;
  if (exp_fast(static_cast<int64_t>(kd), r.hi, r.lo, result)) return result;
  return exp2_exact(y);
}

}  // namespace tunecast::maths
