#pragma once
// Error state and typed work stack of the numeric support library.
//
// The solver itself never reaches these paths: they serve the machine-constant routines
// when they are asked for an index outside their tables.  A fatal error "stops the
// program"; in this library that is a SupportLibraryStop exception, so the host decides
// how to end (the engine's main reports it and exits non-zero) and tests can observe it.

#include <stdexcept>
#include <string>

namespace basinfit::solver {

// Raised where the support library would stop the program.  what() holds the text of the
// message that was written.
class SupportLibraryStop : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Records a fatal error of a fresh error state (nothing pending, recovery mode 2) and stops.
[[noreturn]] void raise_fatal_error(const char* message, int length, int error_number);

}  // namespace basinfit::solver
