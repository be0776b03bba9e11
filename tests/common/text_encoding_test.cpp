// Text from the inputs reaches the page, the charts and the tables as valid UTF-8 without
// control characters, whatever bytes it held.
#include "common/text_encoding.h"

#include <gtest/gtest.h>

namespace basinfit {
namespace {

TEST(PrintableUtf8, KeepsWellFormedTextAndReplacesEachBadByteAndControl) {
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const struct {
    const char* what;
    std::string in, out;
  } cases[] = {
      {"ASCII with tab and line ends", "K 1+100\t\r\n", "K 1+100\t\r\n"},
      {"two-, three- and four-byte forms",
       "Stra\xC3\x9F"
       "e \xE2\x80\x94 \xF0\x9F\x9A\xA7",
       "Stra\xC3\x9F"
       "e \xE2\x80\x94 \xF0\x9F\x9A\xA7"},
      {"largest code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
      {"Latin-1 byte", "10\xE9", "10" + r},
      {"lone continuation byte", "\x80x", r + "x"},
      {"overlong slash", "\xC0\xAF", r + r},
      {"overlong three-byte form", "\xE0\x80\xAF", r + r + r},
      {"surrogate", "\xED\xA0\x80", r + r + r},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
      {"sequence cut by the end", "ab\xE2\x82", "ab" + r + r},
      {"C0 control, escape and DEL", std::string("a\0b\x1B[2J\x7F", 8), "a" + r + "b" + r + "[2J" + r},
      {"C1 control", "x\xC2\x85y", "x" + r + "y"},
  };
  for (const auto& c : cases) EXPECT_EQ(printable_utf8(c.in), c.out) << c.what;
}

}  // namespace
}  // namespace basinfit
