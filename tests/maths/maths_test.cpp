// The maths module against MPFR: edge arguments, then a million random ones
// per function over its stated range (the MathsSweep cases, ten million
// each, are left out of ctest and run by .ci/run).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "mpfr_reference.h"

namespace {

using maths_test::function;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Compares n arguments drawn by next(); reports the first few mismatches.
void expect_all_correctly_rounded(function f, int64_t n, const std::function<double()> &next) {
  int64_t mismatches = 0;
  for (int64_t i = 0; i < n; ++i) {
    const double x = next();
    const double want = maths_test::correctly_rounded(f, x);
    const double got = maths_test::computed(f, x);
    if (!maths_test::same_double(want, got) && ++mismatches <= 5) {
      ADD_FAILURE() << maths_test::function_name(f) << "(" << std::hexfloat << x << ") = " << got
                    << ", correctly rounded " << want;
    }
  }
  EXPECT_EQ(mismatches, 0) << maths_test::function_name(f);
}

double nudged(double x, int ulps) {
  for (; ulps > 0; --ulps) x = std::nextafter(x, inf);
  for (; ulps < 0; ++ulps) x = std::nextafter(x, -inf);
  return x;
}

TEST(Maths, EdgeArgumentsAreCorrectlyRounded) {
  std::vector<double> common = {0.0,     -0.0,    5e-324,  -5e-324,  0x1p-1022,
                                0x1p-60, 0x1p-54, 0x1p-27, -0x1p-27, 0x1p-26,
                                1e-9,    1.0,     inf,     -inf,     nan};
  for (int ulps = -2; ulps <= 2; ++ulps) {
    common.push_back(nudged(0x1p-27, ulps));
    common.push_back(nudged(-0x1p-54, ulps));
  }
  std::vector<double> trig = common;
  // The ends of the fast range, of the unreduced one and of the near one,
  // doubles next to multiples of pi/2 (where the reduction cancels), and the
  // double known to lie closest to one.
  for (double x : {0x1p23, 0.78, 6.2890625, 1024.0, 0x1p1023, 6381956970095103.0 * 0x1p797}) {
    for (int ulps = -2; ulps <= 2; ++ulps) {
      trig.push_back(nudged(x, ulps));
      trig.push_back(-nudged(x, ulps));
    }
  }
  for (int k = 1; k < 200000; k = k * 3 + 1) {
    const double near_multiple = k * 1.5707963267948966;
    for (int ulps = -3; ulps <= 3; ++ulps) trig.push_back(nudged(near_multiple, ulps));
  }
  // Below 2 pi, unreduced: every point of the table (t = 0) and its
  // neighbours, and the zeros of sin and cos, where the result is far
  // below the table's value.
  for (int i = 1; i <= 402; ++i) {
    for (int ulps = -1; ulps <= 1; ++ulps) {
      trig.push_back(nudged(i / 64.0, ulps));
      trig.push_back(-nudged(i / 64.0, ulps));
    }
  }
  for (int k = 2; k <= 3; ++k) {
    for (int ulps = -3; ulps <= 3; ++ulps) trig.push_back(nudged(k * 1.5707963267948966, ulps));
  }
  std::vector<double> exp_args = common;
  // Around the last result above 0, the subnormal threshold and overflow.
  for (double x : {-745.1332191019411, -745.13321910194122, -708.39641853226408,
                   -708.39641853226412, 709.782712893384, 709.78271289338397, 709.8, -745.2}) {
    for (int ulps = -3; ulps <= 3; ++ulps) exp_args.push_back(nudged(x, ulps));
  }
  std::vector<double> exp2_args = common;
  for (int n = -1080; n <= 1030; ++n) {
    exp2_args.push_back(n);
    exp2_args.push_back(n + 0.5);
    exp2_args.push_back(nudged(n, 1));
    exp2_args.push_back(nudged(n, -1));
  }
  for (auto [f, args] :
       {std::pair{function::sin, trig}, std::pair{function::cos, trig},
        std::pair{function::exp, exp_args}, std::pair{function::exp2, exp2_args}}) {
    SCOPED_TRACE(maths_test::function_name(f));
    size_t i = 0;
    expect_all_correctly_rounded(f, static_cast<int64_t>(args.size()), [&] { return args[i++]; });
  }
}

TEST(Maths, PowOfAnyOtherBaseIsNaN) {
  for (double base : {0.0, 1.0, 3.0, -2.0, 1.9999999999999998, nan}) {
    SCOPED_TRACE(base);
    EXPECT_TRUE(std::isnan(tunecast::maths::pow(base, 2.0)));
  }
}

// Arguments over the stated range of each function, weighted to where the
// synthesizer calls it: sin and cos mostly in [-8, 8], the rest with a
// magnitude spread evenly by exponent up to the end of the fast range, and
// a few far past it; exp over its whole range; 2^y mostly in [-16, 16].
std::function<double()> random_arguments(function f, uint64_t seed) {
  auto engine = std::make_shared<std::mt19937_64>(seed);
  return [f, engine]() {
    std::mt19937_64 &g = *engine;
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(g);
    const double sign = (g() & 1) != 0 ? 1.0 : -1.0;
    const auto between = [&](double lo, double hi) {
      return std::uniform_real_distribution<double>(lo, hi)(g);
    };
    switch (f) {
      case function::sin:
      case function::cos:
        if (u < 0.6) return between(-8.0, 8.0);
        if (u < 0.999) return sign * std::exp2(between(-30.0, 23.0));
        return sign * std::exp2(between(23.0, 1023.0));
      case function::exp:
        return between(-746.0, 710.0);
      default:
        if (u < 0.7) return between(-16.0, 16.0);
        return between(-1076.0, 1025.0);
    }
  };
}

class MathsRandom : public testing::TestWithParam<function> {};

TEST_P(MathsRandom, AMillionArgumentsAreCorrectlyRounded) {
  expect_all_correctly_rounded(GetParam(), 1000000, random_arguments(GetParam(), 20261208));
}

// Ten million more per function, other seeds: run by .ci/run, not ctest.
class MathsSweep : public testing::TestWithParam<function> {};

TEST_P(MathsSweep, TenMillionArgumentsAreCorrectlyRounded) {
  expect_all_correctly_rounded(GetParam(), 10000000, random_arguments(GetParam(), 7));
}

const auto all_functions =
    testing::Values(function::sin, function::cos, function::exp, function::exp2);
std::string function_label(const testing::TestParamInfo<function> &info) {
  return info.param == function::exp2 ? "exp2" : maths_test::function_name(info.param);
}
INSTANTIATE_TEST_SUITE_P(Functions, MathsRandom, all_functions, function_label);
INSTANTIATE_TEST_SUITE_P(Functions, MathsSweep, all_functions, function_label);

}  // namespace
