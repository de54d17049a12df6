// console_text.cpp: escaping file bytes before they reach a terminal.
#include "common/console_text.h"

#include <cstdint>
#include <cstdio>

namespace {

void append_hex(std::string &out, unsigned char c) {
  char hex[5];
  std::snprintf(hex, sizeof hex, "\\x%02x", c);
  out += hex;
}

// Length of the well-formed UTF-8 sequence starting at text[i] that encodes
// a printable code point (no C1 control), or 0.
size_t printable_utf8_length(std::string_view text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  size_t length = 0;
  uint32_t code = 0;
  uint32_t smallest = 0;  // below this the sequence is overlong
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1Fu, smallest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0Fu, smallest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07u, smallest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    code = code << 6 | (c & 0x3Fu);
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  const bool c1_control = code >= 0x80 && code <= 0x9F;
  if (code < smallest || code > 0x10FFFF || surrogate || c1_control) return 0;
  return length;
}

}  // namespace

std::string console_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      ++i;
    } else if (const size_t n = c >= 0x80 ? printable_utf8_length(text, i) : 0; n > 0) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      append_hex(out, c);
      ++i;
    }
  }
  return out;
}
