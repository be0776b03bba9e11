#include "structural/aashto.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "structural/root_finding.h"
#include "structural/units.h"

namespace basinfit::structural {

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string number(double value, const char* unit) {
  char text[48];
  std::snprintf(text, sizeof text, "%.4g %s", value, unit);
  return text;
}

bool positive(double x) { return std::isfinite(x) && x > 0.0; }

}  // namespace

double aashto_subgrade_modulus_psi(double load_lbf, double deflection_in, double offset_in) {
  return 0.24 * load_lbf / (deflection_in * offset_in);
}

double aashto_centre_deflection_in(double pressure_psi, double radius_in, double thickness_in,
                                   double subgrade_modulus_psi, double pavement_modulus_psi) {
  const double ratio = thickness_in / radius_in;
  const double spread = ratio * std::cbrt(pavement_modulus_psi / subgrade_modulus_psi);
  const double subgrade_part = 1.0 / (subgrade_modulus_psi * std::sqrt(1.0 + spread * spread));
  const double pavement_part = (1.0 - 1.0 / std::sqrt(1.0 + ratio * ratio)) / pavement_modulus_psi;
  return 1.5 * pressure_psi * radius_in * (subgrade_part + pavement_part);
}

Value aashto_effective_modulus_psi(double d0_in, double pressure_psi, double radius_in, double thickness_in,
                                   double subgrade_modulus_psi) {
  if (!positive(d0_in)) return Value::none("no positive deflection under the load");
  if (!positive(thickness_in)) return Value::none("no pavement above the subgrade");
  if (!positive(pressure_psi) || !positive(radius_in) || !positive(subgrade_modulus_psi))
    return Value::none("no positive load, plate radius or subgrade modulus");
  // d0 falls strictly as Ep rises: from infinity (Ep -> 0) towards 0 (Ep -> infinity).  Solve in
  // log Ep, bracketing outward from MR by factors of e^2 within 1e-6 MR .. 1e15 MR.
  const auto excess = [&](double log_modulus) {
    return aashto_centre_deflection_in(pressure_psi, radius_in, thickness_in, subgrade_modulus_psi,
                                       std::exp(log_modulus)) -
           d0_in;
  };
  const double centre = std::log(subgrade_modulus_psi);
  double low = centre - 2.0, high = centre + 2.0;
  while (excess(low) < 0.0 && low > centre - 14.0) low -= 2.0;
  while (excess(high) > 0.0 && high < centre + 35.0) high += 2.0;
  const Root root = find_root(excess, low, high, 1e-12);
  if (!root.found)
    return Value::none("no pavement modulus gives the deflection " + number(d0_in, "in") + " on MR " +
                       number(subgrade_modulus_psi, "psi"));
  return Value::of(std::exp(root.x));
}

double aashto_stress_bulb_radius_in(double radius_in, double thickness_in, double pavement_modulus_psi,
                                    double subgrade_modulus_psi) {
  const double spread = thickness_in * std::cbrt(pavement_modulus_psi / subgrade_modulus_psi);
  return std::sqrt(radius_in * radius_in + spread * spread);
}

double aashto_effective_structural_number(double thickness_in, double pavement_modulus_psi) {
  return 0.0045 * thickness_in * std::cbrt(pavement_modulus_psi);
}

double aashto_log10_esals(double structural_number, double zr, double overall_standard_deviation,
                          double serviceability_loss, double subgrade_modulus_psi) {
  const double sn1 = structural_number + 1.0;
  return zr * overall_standard_deviation + 9.36 * std::log10(sn1) - 0.20 +
         std::log10(serviceability_loss / (4.2 - 1.5)) / (0.40 + 1094.0 / std::pow(sn1, 5.19)) +
         2.32 * std::log10(subgrade_modulus_psi) - 8.07;
}

Value standard_normal_deviate(double reliability_percent) {
  if (!(reliability_percent > 0.0 && reliability_percent < 100.0))
    return Value::none("the reliability must lie strictly between 0 and 100 percent");
  // ZR is the quantile of the failure probability 1 - R: Phi(ZR) = 1 - R/100, with
  // Phi(z) = erfc(-z / sqrt 2) / 2.
  const double failure = 1.0 - reliability_percent / 100.0;
  const auto excess = [failure](double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)) - failure; };
  const Root root = find_root(excess, -40.0, 40.0, 1e-13);
  if (!root.found) return Value::none("the standard normal deviate could not be solved");
  return Value::of(root.x);
}

Value aashto_required_structural_number(const DesignTraffic& traffic, double subgrade_modulus_psi) {
  if (!positive(traffic.design_esals)) return Value::none("no design traffic (W18) given");
  if (!(traffic.serviceability_loss > 0.0 && traffic.serviceability_loss <= 2.7))
    return Value::none("the serviceability loss must lie in (0, 2.7], the range of the design equation");
  if (!(std::isfinite(traffic.overall_standard_deviation) && traffic.overall_standard_deviation >= 0.0))
    return Value::none("the overall standard deviation must be a number >= 0");
  if (!positive(subgrade_modulus_psi)) return Value::none("no positive design subgrade modulus");
  double zr = traffic.standard_normal_deviate;
  if (std::isnan(zr)) {
    Value deviate = standard_normal_deviate(traffic.reliability_percent);
    if (!deviate.has_value()) return deviate;
    zr = deviate.value;
  }
  if (!std::isfinite(zr)) return Value::none("the standard normal deviate is not a number");
  const double target = std::log10(traffic.design_esals);
  const auto excess = [&](double sn) {
    return aashto_log10_esals(sn, zr, traffic.overall_standard_deviation, traffic.serviceability_loss,
                              subgrade_modulus_psi) -
           target;
  };
  if (excess(0.0) >= 0.0) return Value::of(0.0);
  // The allowable traffic need not rise with SN everywhere for very small dPSI; the required SN
  // is the least SN that carries W18, so take the first change of sign.
  constexpr double kStep = 0.25, kLargest = 25.0;
  for (double low = 0.0; low < kLargest; low += kStep) {
    if (excess(low + kStep) < 0.0) continue;
    const Root root = find_root(excess, low, low + kStep, 1e-12);
    if (root.found) return Value::of(root.x);
    break;
  }
  return Value::none("no structural number up to 25 carries " + number(traffic.design_esals, "ESALs"));
}

NdtDrop evaluate_ndt(const DropBasin& basin, double plate_radius_mm, double pavement_thickness_mm,
                     double d0_temperature_factor, const NdtOptions& options,
                     const BasinOptions& basin_options) {
  NdtDrop ndt;
  const auto fail = [&ndt](const std::string& reason) {
    ndt.subgrade_modulus_psi = ndt.design_subgrade_modulus_psi = ndt.subgrade_sensor_offset_in =
        Value::none(reason);
    ndt.stress_bulb_radius_in = ndt.effective_modulus_psi = ndt.effective_structural_number =
        Value::none(reason);
    return ndt;
  };
  if (!positive(basin.load_kn)) return fail("the drop has no positive load");
  if (!positive(plate_radius_mm)) return fail("no positive plate radius");
  if (!positive(pavement_thickness_mm)) return fail("no pavement above the subgrade");
  if (!(std::isfinite(options.correction_factor) && options.correction_factor > 0.0))
    return fail("the correction factor C must be positive");
  const BasinReading centre = read_basin(basin, 0.0, basin_options);
  if (centre.source != ReadingSource::kSensor)
    return fail("no deflection under the load: " +
                (centre.reason.empty() ? std::string("no sensor at 0") : centre.reason));

  const double load_lbf = lbf_from_kn(basin.load_kn);
  const double radius_in = inches_from_mm(plate_radius_mm);
  const double thickness_in = inches_from_mm(pavement_thickness_mm);
  const double pressure_psi = load_lbf / (kPi * radius_in * radius_in);
  const double factor = positive(d0_temperature_factor) ? d0_temperature_factor : 1.0;
  const double d0_in = inches_from_um(centre.deflection_um) * factor;

  // Sensors outward from the load, in order of offset.
  std::array<std::size_t, kMaxSensors> order{};
  std::size_t count = 0;
  for (std::size_t i = 0; i < basin.sensor_count && i < kMaxSensors; ++i)
    if (std::isfinite(basin.offset_mm[i]) && basin.offset_mm[i] > centre.sensor_offset_mm &&
        positive(basin.deflection_um[i]))
      order[count++] = i;
  for (std::size_t i = 1; i < count; ++i)
    for (std::size_t j = i; j > 0 && basin.offset_mm[order[j - 1]] > basin.offset_mm[order[j]]; --j)
      std::swap(order[j - 1], order[j]);

  std::string last_miss = "no usable sensor beyond the load";
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t i = order[k];
    const double offset_in = inches_from_mm(basin.offset_mm[i]);
    const double mr =
        aashto_subgrade_modulus_psi(load_lbf, inches_from_um(basin.deflection_um[i]), offset_in);
    const Value ep = aashto_effective_modulus_psi(d0_in, pressure_psi, radius_in, thickness_in, mr);
    if (!ep.has_value()) {
      last_miss = ep.reason;
      continue;
    }
    const double bulb = aashto_stress_bulb_radius_in(radius_in, thickness_in, ep.value, mr);
    if (offset_in < 0.7 * bulb) {
      last_miss = "no sensor at or beyond 0.7 a_e: the outermost usable sensor at " +
                  number(offset_in, "in") + " has 0.7 a_e = " + number(0.7 * bulb, "in");
      continue;
    }
    ndt.subgrade_modulus_psi = Value::of(mr);
    ndt.design_subgrade_modulus_psi = Value::of(options.correction_factor * mr);
    ndt.subgrade_sensor_offset_in = Value::of(offset_in);
    ndt.stress_bulb_radius_in = Value::of(bulb);
    ndt.effective_modulus_psi = ep;
    ndt.effective_structural_number = Value::of(aashto_effective_structural_number(thickness_in, ep.value));
    return ndt;
  }
  return fail(last_miss);
}

OverlayDesign design_overlay(const Value& effective_structural_number,
                             const Value& design_subgrade_modulus_psi, const DesignTraffic& traffic,
                             double overlay_layer_coefficient) {
  OverlayDesign design;
  design.required_structural_number =
      design_subgrade_modulus_psi.has_value()
          ? aashto_required_structural_number(traffic, design_subgrade_modulus_psi.value)
          : Value::none(design_subgrade_modulus_psi.reason);
  const Value* missing = !design.required_structural_number.has_value() ? &design.required_structural_number
                         : !effective_structural_number.has_value()     ? &effective_structural_number
                                                                        : nullptr;
  if (missing) {
    design.structural_deficiency = design.overlay_thickness_in = design.overlay_thickness_mm =
        Value::none(missing->reason);
    return design;
  }
  const double deficiency =
      std::max(0.0, design.required_structural_number.value - effective_structural_number.value);
  design.structural_deficiency = Value::of(deficiency);
  if (!positive(overlay_layer_coefficient)) {
    design.overlay_thickness_in = design.overlay_thickness_mm =
        Value::none("the overlay layer coefficient must be positive");
    return design;
  }
  design.overlay_thickness_in = Value::of(deficiency / overlay_layer_coefficient);
  design.overlay_thickness_mm = Value::of(mm_from_inches(deficiency / overlay_layer_coefficient));
  return design;
}

}  // namespace basinfit::structural
