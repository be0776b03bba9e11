#pragma once
// Units of the quantities that deflection files carry, and exact conversions between them.
//
// A value keeps the unit its source file gives it until the run folder is written; it is
// converted only when the run's unit differs, so a survey already in the run's units reaches
// the engine digit for digit.  The factors are the exact definitions: 1 in = 25.4 mm,
// 1 mil = 25.4 microns, 1 lbf = 4.4482216152605 N, F = 1.8 C + 32.

#include <optional>
#include <string>
#include <string_view>

namespace basinfit::import {

enum class Quantity { kLength, kForce, kPressure, kTemperature };

enum class Unit {
  // lengths (also deflections and chainages)
  kMicron,
  kMil,
  kMillimetre,
  kCentimetre,
  kMetre,
  kKilometre,
  kInch,
  kFoot,
  kMile,
  // forces
  kNewton,
  kKilonewton,
  kPoundForce,
  kKip,
  // pressures (loads given as plate pressure, moduli)
  kKilopascal,
  kMegapascal,
  kPsi,
  kKsi,
  // temperatures
  kCelsius,
  kFahrenheit,
};

Quantity quantity_of(Unit unit);
// The unit's short symbol for messages: "mm", "kN", "C".
const char* symbol(Unit unit);

// A unit word as files and options write it ("millimeter", "kilo-Newton", "mils", "psi"),
// compared without case, blanks, hyphens and a trailing plural "s".  Nothing for an unknown word.
std::optional<Unit> parse_unit(std::string_view word);

// `value` in `from` expressed in `to` (same quantity).  Identity when the units are equal.
double convert(double value, Unit from, Unit to);

// The force of a plate pressure on a circular plate of radius `radius` (both in their units),
// in `force_unit`: F = p * pi * a^2.
double pressure_to_force(double pressure, Unit pressure_unit, double radius, Unit radius_unit,
                         Unit force_unit);

}  // namespace basinfit::import
