#include "solver/support_library.h"

#include <algorithm>
#include <string>

namespace basinfit::solver {

void raise_fatal_error(const char* message, int length, int error_number) {
  const int kept = std::clamp(length, 0, 72);
  throw SupportLibraryStop(" error " + std::to_string(error_number) + " in " + std::string(message, kept));
}

}  // namespace basinfit::solver
