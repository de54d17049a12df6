// console_text_test.cpp: which bytes from a file may reach the terminal as
// they are, and how the others are shown.
#include "common/console_text.h"

#include <gtest/gtest.h>

using tunecast::console_escape;
using tunecast::json_quote;

namespace {

TEST(ConsoleEscape, OnlyPrintableTextPassesAsItIs) {
  const std::pair<std::string, std::string> rows[] = {
      {"D_E1M1 [a]\\b", "D_E1M1 [a]\\b"},  // printable ASCII, backslash included
      {"da\xC3\xB1"
       "ado \xE2\x82\xAC",
       "da\xC3\xB1"
       "ado \xE2\x82\xAC"},                        // UTF-8 letters
      {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},  // C0 controls
      {std::string("a\0b", 3), "a\\x00b"},
      {"\x7f", "\\x7f"},  // DEL
      {"\xC2\x9B"
       "2J",
       "\\xc2\\x9b2J"},  // C1 control (CSI) written as UTF-8
      {"\x9B"
       "2J",
       "\\x9b2J"},                          // a lone 8-bit CSI
      {"\xC0\xAF", "\\xc0\\xaf"},           // overlong
      {"\xED\xA0\x80", "\\xed\\xa0\\x80"},  // surrogate
      {"\xE2\x82", "\\xe2\\x82"},           // cut short
  };
  for (const auto &[text, shown] : rows) EXPECT_EQ(console_escape(text), shown) << shown;
}

// Every byte of a name reaches a JSON string, and none acts on a terminal:
// controls (C0, DEL, C1) and bytes outside UTF-8 as \u00XX.
TEST(JsonQuote, EscapesWhatJsonAndTheTerminalNeed) {
  const std::pair<std::string, std::string> rows[] = {
      {"D_E1M1", "\"D_E1M1\""},
      {"a\"b\\c/", "\"a\\\"b\\\\c/\""},  // quote and backslash
      {"da\xC3\xB1"
       "ado",
       "\"da\xC3\xB1"
       "ado\""},                                                  // UTF-8 kept
      {std::string("\x1b\n\0", 3), "\"\\u001b\\u000a\\u0000\""},  // C0 controls
      {"\x7f", "\"\\u007f\""},                                    // DEL
      {"\xC2\x9B", "\"\\u009b\""},                                // C1 as UTF-8: its code point
      {"\xff\xC0\xAF", "\"\\u00ff\\u00c0\\u00af\""},              // no UTF-8: each byte
      {"", "\"\""},
  };
  for (const auto &[text, quoted] : rows) EXPECT_EQ(json_quote(text), quoted) << quoted;
}

}  // namespace
