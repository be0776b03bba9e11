#pragma once
// The unit system of a run.  Input files and reports are in metric (cm, N, microns, MPa,
// kPa, C) or English (in, lbf, mils, ksi, psi, F) units; the layered elastic model works in
// inches, pounds-force and psi.  The four factors carry file units into those working units
// and are all 1.0 in English runs, so they can be applied unconditionally.

namespace basinfit {

struct UnitFactors {
  float length = 1.0f;      // cm -> in
  float load = 1.0f;        // N -> lbf
  float deflection = 1.0f;  // microns -> mils
  float modulus = 1.0f;     // MPa -> ksi, and kPa -> psi

  // Unit flag 0 is metric; any other value is English.
  static UnitFactors for_flag(int unit_flag) {
    if (unit_flag == 0) return UnitFactors{0.3937f, 0.2248f, 0.03937f, 0.145f};
    return UnitFactors{};
  }
};

// Atmospheric pressure in the stress unit of the run (kPa or psi): 14.696 psi carried back
// through the modulus factor.
inline float atmospheric_pressure(const UnitFactors& units) { return 14.696f / units.modulus; }

}  // namespace basinfit
