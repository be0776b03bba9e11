// Fuzz target: the LTPP table reader.  The input holds the tables one after another,
// separated by form feeds, so that mutations reach every table and the joins between them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "import/readers.h"
#include "import_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<basinfit::import::InputFile> files;
  std::size_t start = 0;
  while (start <= text.size() && files.size() < 6) {
    const auto end = text.find('\f', start);
    files.push_back({"table" + std::to_string(files.size()) + ".csv", text.substr(start, end - start)});
    if (end == std::string::npos) break;
    start = end + 1;
  }
  basinfit::import::ReaderOptions options;
  for (int variant = 0; variant < 2; ++variant) {
    options.any_record_status = variant == 1;
    try {
      basinfit::import::fuzz::assemble(basinfit::import::read_ltpp(files, options));
    } catch (const basinfit::InputError&) {
    }
  }
  return 0;
}
