// Fuzz target: the F25 reader (agreed records only), then the assembly of a run.
#include <cstddef>
#include <cstdint>
#include <string>

#include "import/readers.h"
#include "import_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    basinfit::import::fuzz::assemble(basinfit::import::read_f25({"fuzz.F25", text}, {}));
  } catch (const basinfit::InputError&) {
  }
  return 0;
}
