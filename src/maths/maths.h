// maths.h: the project's own sin, cos, exp and pow. Each gives the
// correctly rounded double (the exact value rounded to nearest, ties to
// even), so a sample the synthesizer computes is the same on every
// platform, whatever its C library's maths would have given. Pure
// functions of their arguments; any thread may call them at any time.
#ifndef TUNECAST_MATHS_MATHS_H
#define TUNECAST_MATHS_MATHS_H

namespace tunecast::maths {

// What the synthesizer passes: sin of a vibrato's angle (from -5.2 rad up,
// 124,000 rad after an hour of one note), of drum phases in [0, 2 pi) and
// pan angles in [0, pi/2]; cos of a hexagon's angles in [0, 2 pi) and
// [-pi/6, pi/6], of resonator angles below 0.3 and pan angles; exp of fades
// and resonator radii, 0 down to underflow; 2^y of pitches (|y| < 6) and
// vibratos (|y| < 0.02). All within the fast ranges below.

// Correctly rounded for every finite x (radians). Fast for |x| < 2^23
// (a vibrato's angle stays below it for 67 hours of one note), slower but
// still correctly rounded beyond. sin(+-0) = +-0; sin(+-inf) and sin(NaN)
// are NaN.
double sin(double x);
double cos(double x);  // cos(+-0) = 1; cos(+-inf) and cos(NaN) are NaN.

// Correctly rounded for every double x, subnormal results included: +0
// below about -745.13, +inf above about 709.78, exp(-inf) = +0,
// exp(+inf) = +inf, exp(NaN) is NaN.
double exp(double x);

// base ** exponent for base 2: correctly rounded for every exponent, exact
// powers of two for whole exponents, +0 from -1075 down (2^-1075 is a tie,
// rounded to even), +inf from 1024, pow(2, +-0) = 1, pow(2, NaN) is NaN.
// Any other base gives NaN: the synthesizer only raises 2, and a general
// base would need a correctly rounded logarithm this module does not carry.
double pow(double base, double exponent);

}  // namespace tunecast::maths

#endif  // TUNECAST_MATHS_MATHS_H
