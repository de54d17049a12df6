// shortest_decimal.h: a double as the shortest decimal that reads back as
// the same double, written as std::to_chars writes it without a format:
// fixed or scientific, whichever is shorter (fixed on a tie). For a C++
// library without the floating-point std::to_chars (the WebAssembly
// build's), so that its listings print the same numbers.
#ifndef TUNECAST_COMMON_SHORTEST_DECIMAL_H
#define TUNECAST_COMMON_SHORTEST_DECIMAL_H

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tunecast {

// value: finite. The fewest significant digits that read back exactly come
// from printf's correctly rounded %.*e, tried from 1 digit up to 17, which
// always suffice for a double.
inline std::string shortest_decimal(double value) {
  char sci[40];
  int digits = 1;
  for (; digits < 17; ++digits) {
    std::snprintf(sci, sizeof sci, "%.*e", digits - 1, value);
    if (std::strtod(sci, nullptr) == value) break;
  }
  std::snprintf(sci, sizeof sci, "%.*e", digits - 1, value);
  // sci is [-]d[.ddd]e(+|-)XX: take its digits and its exponent apart.
  const std::string text = sci;
  const bool negative = text[0] == '-';
  const size_t e_at = text.find('e');
  std::string mantissa;
  for (size_t i = negative ? 1 : 0; i < e_at; ++i) {
    if (text[i] != '.') mantissa += text[i];
  }
  while (mantissa.size() > 1 && mantissa.back() == '0') mantissa.pop_back();
  const int exponent = std::atoi(text.c_str() + e_at + 1);
  const auto n = static_cast<int>(mantissa.size());
  std::string scientific(1, mantissa[0]);
  if (n > 1) scientific.append(".").append(mantissa, 1);
  char exp_text[16];
  std::snprintf(exp_text, sizeof exp_text, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
  scientific += exp_text;
  std::string fixed;
  if (exponent < 0) {
    fixed.append("0.").append(static_cast<size_t>(-exponent - 1), '0').append(mantissa);
  } else if (n <= exponent + 1) {
    fixed.append(mantissa).append(static_cast<size_t>(exponent + 1 - n), '0');
  } else {
    const auto point = static_cast<size_t>(exponent + 1);
    fixed.append(mantissa, 0, point).append(".").append(mantissa, point);
  }
  const std::string sign = negative ? "-" : "";
  return sign + (fixed.size() <= scientific.size() ? fixed : scientific);
}

}  // namespace tunecast

#endif  // TUNECAST_COMMON_SHORTEST_DECIMAL_H
