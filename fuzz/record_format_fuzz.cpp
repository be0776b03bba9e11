// Fuzz target: the format parser and writer.  The first line is a format string; the values
// written with it are fixed.  A malformed format or a mismatch must end in FormatError.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/record_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (text.size() > 256) text = text.substr(0, 256);
  try {
    const basinfit::Format format(text);
    const std::array<float, 4> reals{1.5f, -0.004f, 123456.0f, 0.0f};
    const char tab = '\t';
    basinfit::format_to_string(format, "label", tab, 7, 2.5f, std::span<const float>(reals), -3, 1.0e30);
    basinfit::format_internal(format, 80, "x");
  } catch (const basinfit::FormatError&) {
  }
  return 0;
}
