// maths.h: the project's own sin, cos, exp and pow. Each gives the
// correctly rounded double (the exact value rounded to nearest, ties to
// even), so a sample the synthesizer computes is the same on every
// platform, whatever its C library's maths would have given. Pure
// functions of their arguments; any thread may call them at any time.
#ifndef TUNECAST_MATHS_MATHS_H
#define TUNECAST_MATHS_MATHS_H

namespace tunecast::maths {

// Correctly rounded for every finite x (radians). Fast for |x| < 2^23
// (a vibrato's age in radians stays below it for 67 hours), slower but
// still exact beyond. sin(+-0) = +-0; sin(+-inf) and sin(NaN) are NaN.
double sin(double x);
double cos(double x);  // cos(+-0) = 1; cos(+-inf) and cos(NaN) are NaN.

// Correctly rounded for every double x, subnormal results included: +0
// below about -745.13, +inf above about 709.78, exp(-inf) = +0,
// exp(+inf) = +inf, exp(NaN) is NaN.
double exp(double x);

// base ** exponent for base 2 (correctly rounded for every exponent, exact
// powers of two for whole exponents, +0 below -1074.x, +inf from 1024,
// pow(2, +-0) = 1, pow(2, NaN) is NaN). Any other base gives NaN: the
// synthesizer only raises 2, and a general base would need a correctly
// rounded logarithm this module does not carry.
double pow(double base, double exponent);

}  // namespace tunecast::maths

#endif  // TUNECAST_MATHS_MATHS_H
