// mpfr_reference.h: the correctly rounded values the maths module must give,
// from MPFR, with the double's exponent range so that a subnormal result is
// rounded once, where a double has its last bit.
#ifndef TUNECAST_TESTS_MPFR_REFERENCE_H
#define TUNECAST_TESTS_MPFR_REFERENCE_H

#include <mpfr.h>

#include <bit>
#include <cstdint>
#include <ostream>

#include "maths/maths.h"

namespace maths_test {

enum class function { sin, cos, exp, exp2 };

inline const char *function_name(function f) {
  switch (f) {
    case function::sin:
      return "sin";
    case function::cos:
      return "cos";
    case function::exp:
      return "exp";
    default:
      return "pow(2, x)";
  }
}

// For GoogleTest's messages.
inline void PrintTo(function f, std::ostream *os) { *os << function_name(f); }

inline double correctly_rounded(function f, double x) {
  struct numbers {
    mpfr_t in, out;
    numbers() { mpfr_inits2(53, in, out, static_cast<mpfr_ptr>(nullptr)); }
    ~numbers() { mpfr_clears(in, out, static_cast<mpfr_ptr>(nullptr)); }
  };
  static numbers n;
  mpfr_set_emin(-1073);  // 2^-1074 = 0.5 * 2^-1073, the smallest subnormal
  mpfr_set_emax(1024);
  mpfr_set_d(n.in, x, MPFR_RNDN);
  int inexact = 0;
  switch (f) {
    case function::sin:
      inexact = mpfr_sin(n.out, n.in, MPFR_RNDN);
      break;
    case function::cos:
      inexact = mpfr_cos(n.out, n.in, MPFR_RNDN);
      break;
    case function::exp:
      inexact = mpfr_exp(n.out, n.in, MPFR_RNDN);
      break;
    case function::exp2:
      inexact = mpfr_exp2(n.out, n.in, MPFR_RNDN);
      break;
  }
  mpfr_subnormalize(n.out, inexact, MPFR_RNDN);
  return mpfr_get_d(n.out, MPFR_RNDN);
}

inline double computed(function f, double x) {
  switch (f) {
    case function::sin:
      return tunecast::maths::sin(x);
    case function::cos:
      return tunecast::maths::cos(x);
    case function::exp:
      return tunecast::maths::exp(x);
    default:
      return tunecast::maths::pow(2.0, x);
  }
}

// The same double, bit for bit (any NaN matches any NaN).
inline bool same_double(double a, double b) {
  if (a != a || b != b) return a != a && b != b;
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

}  // namespace maths_test

#endif  // TUNECAST_TESTS_MPFR_REFERENCE_H
