// Fuzz target: the generic CSV reader (offsets in the column names, then numbered sensors
// with given offsets) and the structure file reader, over the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "import/readers.h"
#include "import/structure.h"
#include "import_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  basinfit::import::ReaderOptions options;
  options.plate_radius = 150;
  for (int variant = 0; variant < 3; ++variant) {
    if (variant == 1) options.offsets = {0, 200, 300};
    if (variant == 2) {
      options.decimal = ',';
      options.delimiter = ';';
      options.load_unit = basinfit::import::Unit::kKilopascal;
    }
    try {
      basinfit::import::fuzz::assemble(basinfit::import::read_generic_csv({"fuzz.csv", text}, options));
    } catch (const basinfit::InputError&) {
    }
  }
  try {
    (void)basinfit::import::parse_structure(text, "fuzz.csv");
  } catch (const basinfit::InputError&) {
  }
  (void)basinfit::import::detect_format(text);
  return 0;
}
