#pragma once
// Header lines 2 to 5 that both reports carry byte for byte: route, plate radius and layer
// count, sensor count and stiff layer, and the offsets with the Poisson's ratios on one line.

#include <string_view>

#include "common/record_format.h"
#include "run/run_state.h"

namespace basinfit {

void write_project_lines(TextUnit& out, const RunSettings& settings);

// A count from the run state held to the capacity of the array it indexes, so that an
// inconsistent state can never make a writer read past an array.
inline int within_capacity(int count, int capacity) {
  return count < 0 ? 0 : (count > capacity ? capacity : count);
}

// Text without its trailing blanks.
std::string_view without_trailing_blanks(std::string_view text);

}  // namespace basinfit
