#pragma once
// Inside the import room: a chainage as the run folder writes it.

#include <string>

namespace basinfit::import {

// `chainage` (in the run's chainage unit, m or ft) with up to three decimals and no trailing
// zeros, or in plus notation ("12+50" in hundreds of feet, "1+250" in kilometres and metres).
std::string chainage_text(double chainage, bool english, bool plus);

}  // namespace basinfit::import
