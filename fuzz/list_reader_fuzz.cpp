// Fuzz target: the list-directed reader over arbitrary file contents.  Any input must end in
// values or in one InputError, never in a crash, a hang or an out-of-bounds access.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/list_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  basinfit::TextFile file("fuzz.dat", text);
  basinfit::ListReader reader(file);
  int count = 0;
  short drops = 0;
  float value = 0;
  std::array<float, 10> values{};
  for (int round = 0; round < 64 && !reader.at_end(); ++round) {
    try {
      switch (round % 4) {
        case 0:
          reader.read_text(80);
          break;
        case 1:
          reader.read({{count, "a count"}, {value, "a value"}});
          break;
        case 2:
          reader.read({{drops, "drops"}, {std::span<float>(values), "values"}});
          reader.reread_last();
          reader.skip_record();
          break;
        default:
          reader.read({{std::span<float>(values.data(), 3), "values"}, {count, "a count"}});
      }
    } catch (const basinfit::InputError&) {
      reader.skip_record();
    }
  }
  return 0;
}
