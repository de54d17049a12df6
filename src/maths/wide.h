// wide.h: the slow, exact-enough path. Fixed-point numbers of 256 bits (32
// whole, 224 fraction, two's complement) in integer arithmetic, and the
// four functions computed with them to a relative error far below 2^-150:
// the doubles whose value lies hardest against a rounding boundary for
// sin, cos, exp and 2^y lie no closer to it than about 2^-120 relative, so
// rounding this approximation rounds the exact value. The fast paths come
// here only when their own rounding test cannot decide, and the tables of
// the fast paths are made from here.
#ifndef TUNECAST_MATHS_WIDE_H
#define TUNECAST_MATHS_WIDE_H

#include <array>
#include <cstdint>

#include "maths/double_double.h"

namespace tunecast::maths {

constexpr int wide_limbs = 8;
constexpr int wide_fraction_bits = 224;

// The value is the limbs (least significant first) as a two's complement
// integer, divided by 2^224.
struct wide {
  std::array<uint32_t, wide_limbs> limbs{};
};

// x exactly; x must have no bit below 2^-224 and |x| < 2^31.
wide wide_from_double(double x);
wide wide_add(const wide &a, const wide &b);
wide wide_sub(const wide &a, const wide &b);
bool wide_is_negative(const wide &a);
// a * b truncated, for a, b >= 0 whose product stays below 2^31.
wide wide_mul(const wide &a, const wide &b);

// The double nearest to w * 2^scale (ties to even), subnormals and
// overflow to infinity included.
double wide_round(const wide &w, int scale);
// w as hi + lo, each rounded to nearest (w between 2^-1000 and 2^30).
double_double wide_to_double_double(const wide &w);

// exp(r) for 0 <= r < 1, and sin(r), cos(r) for 0 <= r < 1.6, by series.
wide wide_exp(const wide &r);
void wide_sin_cos(const wide &r, wide &sine, wide &cosine);
wide wide_ln2();

// The correctly rounded results, for the arguments the callers leave
// here: exp of x in [-746, 710], 2^y for y in [-1076, 1024], and sin or cos
// of any finite x with |x| >= 2^-27.
double exp_exact(double x);
double exp2_exact(double y);
double sin_cos_exact(double x, bool cosine);

}  // namespace tunecast::maths

#endif  // TUNECAST_MATHS_WIDE_H
