// Closed-form response of a homogeneous elastic half-space under a uniform circular pressure.
// The layered solution for points at the surface and in layer 1 is carried as a departure from
// the half-space of layer 1; these terms add that half-space back after the integration.
// All lengths are in units of H1 here, like the integration.
#pragma once

namespace basinfit::model {

// pi as the single-precision value the half-space terms were written with, widened to double.
inline constexpr double kHalfSpacePi = 3.141592025756836;

// Axisymmetric response of one load at one point: vertical displacement w, mean and deviatoric
// horizontal stress X1 and X2, radial displacement U, vertical shear T and vertical stress.
// The caller resolves X1, X2, U and T into the x, y frame (only X1 on the load axis).
struct AxisymmetricResponse {
  double w = 0.0;
  double mean_horizontal = 0.0;        // X1
  double deviatoric_horizontal = 0.0;  // X2
  double radial_displacement = 0.0;    // U
  double vertical_shear = 0.0;         // T
  double vertical_stress = 0.0;
};

// Surface point at horizontal distance rho from the centre of a load of radius a, pressure p.
AxisymmetricResponse half_space_surface(double nu, double E, double p, double a, double rho);

// Point at depth z > 0; on the load axis (rho == 0) by closed forms, elsewhere by 500-interval
// Simpson sums over the loaded circle.
AxisymmetricResponse half_space_at_depth(double nu, double E, double p, double a, double rho, double z);

}  // namespace basinfit::model
