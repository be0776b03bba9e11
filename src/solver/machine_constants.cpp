#include "solver/machine_constants.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "solver/support_library.h"

namespace basinfit::solver {

float r1mach(int index) {
  switch (index) {
    case 1:
      return std::numeric_limits<float>::min();  // 2^-126
    case 2:
      return std::numeric_limits<float>::max();
    case 3:
      return std::ldexp(1.0f, -24);
    case 4:
      return std::ldexp(1.0f, -23);
    case 5:
      return 0.30103f;  // log10(2) to single precision
    default:
      raise_fatal_error("r1mach - i out of bounds", 24, 1);
  }
}

int i1mach(int index) {
  static constexpr int kTable[16] = {5, 6, 7, 6, 32, 4, 2, 31, 2147483647, 2, 24, -125, 128, 53, -1021, 1024};
  if (index < 1 || index > 16) {
    throw SupportLibraryStop("1error    1 in i1mach - i out of bounds");
  }
  // Character storage is counted in single characters.
  if (index == 6) return 1;
  return kTable[index - 1];
}

float machine_constant(int index) {
  // Derived from the fixed table once; the values are constants, so a function-local
  // constant table is safe to share between threads.
  struct Derived {
    float value[6];
  };
  static const Derived derived = [] {
    const float tiny = r1mach(1);
    const float huge = r1mach(2);
    const float eps = r1mach(4);
    Derived d{};
    d.value[0] = tiny;
    d.value[1] = std::sqrt(256.0f * tiny) / 16.0f;
    d.value[2] = eps;
    d.value[3] = std::sqrt(eps);
    d.value[4] = 16.0f * std::sqrt(huge / 256.0f);
    d.value[5] = huge;
    return d;
  }();
  if (index >= 1 && index <= 6) return derived.value[index - 1];
  return derived.value[0];
}

int output_unit(int which) {
  switch (which) {
    case 1:
      return i1mach(2);
    case 2:
      return i1mach(4);
    case 3:
      return i1mach(1);
    default:
      return 0;
  }
}

}  // namespace basinfit::solver
