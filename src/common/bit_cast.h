// bit_cast.h: a value's bits as another type of the same size, without
// aliasing. std::bit_cast where the standard library has it; the compiler's
// builtin where the library predates it (the WebAssembly toolchain's), so the
// synthesizer and its maths build there unchanged.
#pragma once

#include <version>

#if defined(__cpp_lib_bit_cast)
#include <bit>
#endif

namespace tunecast {

#if defined(__cpp_lib_bit_cast)
using std::bit_cast;
#else
template <class To, class From>
constexpr To bit_cast(const From &from) noexcept {
  static_assert(sizeof(To) == sizeof(From), "bit_cast keeps the size");
  return __builtin_bit_cast(To, from);
}
#endif

}  // namespace tunecast
