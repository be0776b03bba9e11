// Fuzz target: the PDDX reader, then the assembly of a run from what it read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "import/readers.h"
#include "import_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    basinfit::import::fuzz::assemble(basinfit::import::read_pddx({"fuzz.pdx", text}));
  } catch (const basinfit::InputError&) {
  }
  return 0;
}
