// console_text.cpp: escaping file bytes before they reach a terminal.
#include "common/console_text.h"

#include <cstdint>
#include <cstdio>

namespace tunecast {

namespace {

void append_hex(std::string &out, unsigned char c) {
  char hex[5];
  std::snprintf(hex, sizeof hex, "\\x%02x", c);
  out += hex;
}

// Length of the well-formed UTF-8 sequence starting at text[i], with its
// code point in code, or 0 when the bytes there are not one.
size_t utf8_length(std::string_view text, size_t i, uint32_t &code) {
  const auto lead = static_cast<unsigned char>(text[i]);
  size_t length = 0;
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
  if (code < smallest || code > 0x10FFFF || surrogate) return 0;
  return length;
}

bool is_c1_control(uint32_t code) { return code >= 0x80 && code <= 0x9F; }

// Length of the well-formed UTF-8 sequence starting at text[i] that encodes
// a printable code point (no C1 control), or 0.
size_t printable_utf8_length(std::string_view text, size_t i) {
  uint32_t code = 0;
  const size_t n = utf8_length(text, i, code);
  return n > 0 && !is_c1_control(code) ? n : 0;
}

void append_json_escape(std::string &out, uint32_t code) {
  char hex[7];
  std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(code));
  out += hex;
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

std::string json_quote(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    uint32_t code = 0;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      ++i;
    } else if (const size_t n = c >= 0x80 ? utf8_length(text, i, code) : 0; n > 0) {
      // A C1 control is well-formed but would reach a terminal as one.
      if (is_c1_control(code)) {
        append_json_escape(out, code);
      } else {
        out.append(text.substr(i, n));
      }
      i += n;
    } else {
      // A control byte, DEL, or a byte of no UTF-8 sequence: the byte's value.
      append_json_escape(out, c);
      ++i;
    }
  }
  out += '"';
  return out;
}

}  // namespace tunecast
