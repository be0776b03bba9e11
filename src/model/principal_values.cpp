#include "model/principal_values.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace basinfit::model {

namespace {
// Single-precision constants widened to double: the zero-stress tolerance, 2 pi / 3 and 4 pi / 3.
constexpr double kZeroStress = 9.999999747378752e-06;
constexpr double kThirdTurn = 2.0943946838378906;
constexpr double kTwoThirdsTurn = 4.188789367675781;
}  // namespace

PrincipalValues principal_values(const StressState& s, double modulus, double poisson) {
  PrincipalValues out;
  const double sxx = s.sigma_xx, syy = s.sigma_yy, szz = s.sigma_zz;
  const double tyz = s.tau_yz, txz = s.tau_xz, sxy = s.sigma_xy;
  const double I1 = sxx + syy + szz;
  if (std::fabs(I1) < kZeroStress && szz < kZeroStress) return out;

  const double I2 = szz * sxx + (szz + sxx) * syy - sxy * sxy - txz * txz - tyz * tyz;
  const double I3 =
      szz * syy * sxx + 2 * sxy * txz * tyz - syy * (txz * txz) - sxx * (tyz * tyz) - szz * (sxy * sxy);
  const double A = (3 * I2 - I1 * I1) / 3;
  std::array<double, 3> sigma;
  if (A < 0) {
    const double B = ((9 * I2 - 2 * (I1 * I1)) * I1 - 27 * I3) / 27;
    const double m = std::sqrt(-A / 3);
    const double c = std::clamp(3 * B / (2 * A * m), -1.0, 1.0);
    const double phi = std::acos(c) / 3;
    sigma = {I1 / 3 + 2 * m * std::cos(phi), I1 / 3 + 2 * m * std::cos(phi + kThirdTurn),
             I1 / 3 + 2 * m * std::cos(phi + kTwoThirdsTurn)};
    std::sort(sigma.begin(), sigma.end(), std::greater<>());
  } else {
    sigma = {sxx, syy, szz};
  }
  const double E = modulus, nu = poisson;
  out.stress = sigma;
  out.strain = {(sigma[0] - nu * (sigma[1] + sigma[2])) / E, (sigma[1] - nu * (sigma[0] + sigma[2])) / E,
                (sigma[2] - nu * (sigma[0] + sigma[1])) / E};
  return out;
}

}  // namespace basinfit::model
