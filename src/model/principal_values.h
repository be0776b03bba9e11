// Principal stresses from the stress tensor (roots of its characteristic cubic by the
// trigonometric method) and principal strains from them by Hooke's law.
#pragma once

#include <array>

namespace basinfit::model {

struct StressState {
  double sigma_xx, sigma_yy, sigma_zz, tau_yz, tau_xz, sigma_xy;
};

struct PrincipalValues {
  std::array<double, 3> stress{};  // sigma1 >= sigma2 >= sigma3 (see principal_values)
  std::array<double, 3> strain{};
};

// An all-but-zero stress state gives zeros.  When the reduced cubic has no negative
// coefficient A (a hydrostatic state) the normal stresses sigma_xx, sigma_yy, sigma_zz are
// returned as they are, unsorted.
PrincipalValues principal_values(const StressState& s, double modulus, double poisson);

}  // namespace basinfit::model
