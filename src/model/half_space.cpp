#include "model/half_space.h"

#include <cmath>

#include "model/bessel_series.h"

namespace basinfit::model {

AxisymmetricResponse half_space_surface(double nu, double E, double p, double a, double rho) {
  AxisymmetricResponse r;
  if (rho < a) {
    // Under the loaded circle: full pressure, uniform compressive horizontal stress.
    const double s = rho / a;
    r.w = -2 * (1 - nu * nu) * hypergeometric_series(-0.5, 1, s * s) * p * a / E;
    if (rho != 0.0) r.radial_displacement = (1 + nu) * (1 - 2 * nu) * p * rho / (2 * E);
    r.mean_horizontal = (1 + 2 * nu) * p / 2;
    r.vertical_stress = p;
  } else if (rho == a) {
    // On the edge of the circle the pressure jumps; the half-sum of both sides.
    r.w = -4 * (1 - nu * nu) * p * a / (E * kHalfSpacePi);
    r.radial_displacement = (1 + nu) * (1 - 2 * nu) * p * a / (2 * E);
    r.mean_horizontal = (1 + 2 * nu) * p / 4;
    r.deviatoric_horizontal = -(1 - 2 * nu) * p / 4;
    r.vertical_stress = p / 2;
  } else {
    // Outside the circle: unloaded surface, pure shear of the horizontal stresses.
    const double s = a / rho;
    r.w = -(1 - nu * nu) * hypergeometric_series(0.5, 2, s * s) * a * a * p / (E * rho);
    r.radial_displacement = (1 + nu) * (1 - 2 * nu) * a * a * p / (2 * E * rho);
    r.deviatoric_horizontal = -(1 - 2 * nu) * a * a * p / (2 * rho * rho);
  }
  return r;
}

namespace {

// The nine half-space integrals at one point below the surface (stress and displacement
// functions of the loaded circle); I1 + I2 is the vertical stress.
struct HalfSpaceIntegrals {
  double I1 = 0, I2 = 0, I3 = 0, I4 = 0, I5 = 0, I6 = 0, I7 = 0, I8 = 0, I9 = 0;
};

HalfSpaceIntegrals on_axis_integrals(double p, double a, double z) {
  HalfSpaceIntegrals I;
  const double R = std::sqrt(z * z + a * a);
  I.I6 = (R - z) * p;
  I.I1 = I.I6 / R;
  I.I2 = p * z * a * a / (R * R * R);
  I.I3 = I.I1 / 2;
  I.I4 = I.I2 / 2;
  I.I7 = z * I.I1;
  return I;
}

// Composite Simpson rule with 500 intervals: chords x of the circle from -a to a for I1, I2, I6,
// the angle phi from 0 to pi for I3, I4, I5.  The integrands vanish at the end nodes, which are
// therefore not evaluated.
HalfSpaceIntegrals off_axis_integrals(double p, double a, double rho, double z) {
  constexpr int kIntervals = 500;
  const double h = 2 * a / kIntervals;
  const double dphi = kHalfSpacePi / kIntervals;
  double sum1 = 0, sum2 = 0, sum3 = 0, sum4 = 0, sum5 = 0, sum6 = 0;
  for (int k = 1; k < kIntervals; ++k) {
    const double weight = (k % 2 == 1) ? 4.0 : 2.0;

    const double x = -a + k * h;
    const double D1 = (rho - x) * (rho - x) + z * z;
    const double D2 = rho * rho - 2 * x * rho + a * a + z * z;
    const double S = std::sqrt(a * a - x * x);
    const double root_D2 = std::sqrt(D2);
    const double f1 = 2 * z * S / (D1 * root_D2);
    const double f2 = 2 * z * S / std::pow(D2, 1.5) -
                      (2 / D1 + 1 / D2) * 2 * z * S * ((rho - x) * (rho - x)) / (root_D2 * D1);
    const double f6 = std::log((root_D2 + S) / (root_D2 - S));

    const double phi = k * dphi;
    const double sin_phi = std::sin(phi);
    const double sin2 = sin_phi * sin_phi;
    const double G = a * a - 2 * a * rho * std::cos(phi) + rho * rho;
    const double f3 = sin2 * (1 - z / std::sqrt(z * z + G)) / G;
    const double f4 = sin2 / std::pow(G + z * z, 1.5);
    const double f5 = sin2 / std::pow(G + z * z, 2.5);

    sum1 = sum1 + weight * f1;
    sum2 = sum2 + weight * f2;
    sum3 = sum3 + weight * f3;
    sum4 = sum4 + weight * f4;
    sum5 = sum5 + weight * f5;
    sum6 = sum6 + weight * f6;
  }
  HalfSpaceIntegrals I;
  I.I1 = h * sum1 / 3 / (2 * kHalfSpacePi) * p;
  I.I2 = h * sum2 / 3 / (2 * kHalfSpacePi) * p + I.I1;
  I.I3 = a * a / kHalfSpacePi * sum3 * dphi / 3 * p;
  I.I4 = a * a * z / kHalfSpacePi * sum4 * dphi / 3 * p;
  I.I5 = 3 * a * a * z * z * rho / kHalfSpacePi * sum5 * dphi / 3 * p;
  I.I6 = h * sum6 / 3 / (2 * kHalfSpacePi) * p;
  I.I7 = z * I.I1;
  I.I8 = rho * I.I3;
  I.I9 = rho * I.I4;
  return I;
}

}  // namespace

AxisymmetricResponse half_space_at_depth(double nu, double E, double p, double a, double rho, double z) {
  const bool on_axis = (rho == 0.0);
  const HalfSpaceIntegrals I = on_axis ? on_axis_integrals(p, a, z) : off_axis_integrals(p, a, rho, z);
  AxisymmetricResponse r;
  r.w = (-2 * (1 - nu * nu) * I.I6 - (1 + nu) * I.I7) / E;
  r.mean_horizontal = (1 + 2 * nu) * I.I1 / 2 - I.I2 / 2;
  r.vertical_stress = I.I1 + I.I2;
  if (!on_axis) {
    r.deviatoric_horizontal = (1 - 2 * nu) * (I.I1 / 2 - I.I3) - I.I2 / 2 + I.I4;
    r.radial_displacement = (1 + nu) * ((1 - 2 * nu) * I.I8 - I.I9) / E;
    r.vertical_shear = I.I5;
  }
  return r;
}

}  // namespace basinfit::model
