// Exact unit factors of the structural evaluation, and the survey's units carried to SI at the
// room's edge.  Surveys come in metric file units (cm, N, microns, MPa, degrees C) or English
// ones (in, lbf, mils, ksi, degrees F); the room works in SI with the unit in every name
// (offset_mm, load_kn, deflection_um, modulus_mpa) and takes the 1993 AASHTO Guide's
// equations in the Guide's own units (lbf, in, psi).  The factors are the exact definitions
// (1 in = 25.4 mm, 1 lbf = 4.4482216152605 N), not the engine's single-precision ones, so a
// value carried over and back comes home unchanged to the last digits.
#pragma once

namespace basinfit::structural {

inline constexpr double kMillimetresPerInch = 25.4;
inline constexpr double kNewtonsPerPoundForce = 4.4482216152605;
// 1 psi = 1 lbf/in^2 = 4.4482216152605 N / 645.16 mm^2, in kPa.
inline constexpr double kKilopascalsPerPsi =
    kNewtonsPerPoundForce / (kMillimetresPerInch * kMillimetresPerInch) * 1000.0;
inline constexpr double kMicrometresPerMil = 25.4;

inline constexpr double inches_from_mm(double mm) { return mm / kMillimetresPerInch; }
inline constexpr double mm_from_inches(double in) { return in * kMillimetresPerInch; }
inline constexpr double lbf_from_kn(double kn) { return kn * 1000.0 / kNewtonsPerPoundForce; }
inline constexpr double kn_from_lbf(double lbf) { return lbf * kNewtonsPerPoundForce / 1000.0; }
inline constexpr double psi_from_mpa(double mpa) { return mpa * 1000.0 / kKilopascalsPerPsi; }
inline constexpr double mpa_from_psi(double psi) { return psi * kKilopascalsPerPsi / 1000.0; }
inline constexpr double psi_from_kpa(double kpa) { return kpa / kKilopascalsPerPsi; }
// Deflections: micrometres to inches (the Guide's deflections are in inches, not mils).
inline constexpr double inches_from_um(double um) { return um / 1000.0 / kMillimetresPerInch; }

// The units a survey's files and records are in (the engine's unit flag: 0 metric).
enum class SurveyUnits {
  kMetric,   // lengths cm, loads N, deflections microns, moduli MPa, temperatures C
  kEnglish,  // lengths in, loads lbf, deflections mils, moduli ksi, temperatures F
};

inline constexpr double mm_from_survey_length(double length, SurveyUnits units) {
  return units == SurveyUnits::kMetric ? length * 10.0 : length * kMillimetresPerInch;
}
inline constexpr double kn_from_survey_load(double load, SurveyUnits units) {
  return units == SurveyUnits::kMetric ? load / 1000.0 : kn_from_lbf(load);
}
inline constexpr double um_from_survey_deflection(double deflection, SurveyUnits units) {
  return units == SurveyUnits::kMetric ? deflection : deflection * kMicrometresPerMil;
}
inline constexpr double mpa_from_survey_modulus(double modulus, SurveyUnits units) {
  return units == SurveyUnits::kMetric ? modulus : mpa_from_psi(modulus * 1000.0);
}
inline constexpr double celsius_from_survey_temperature(double temperature, SurveyUnits units) {
  return units == SurveyUnits::kMetric ? temperature : (temperature - 32.0) * 5.0 / 9.0;
}

}  // namespace basinfit::structural
