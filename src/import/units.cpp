#include "import/units.h"

#include <array>
#include <cctype>
#include <cmath>
#include <numbers>

namespace basinfit::import {

namespace {

struct UnitInfo {
  Unit unit;
  Quantity quantity;
  // Size of the unit in a base chosen so that the common factors are exact integers or exact
  // decimal definitions: lengths in microns, forces in newtons, pressures in pascals.
  double size;
  const char* symbol;
};

// 1 lbf = 4.4482216152605 N exactly; 1 psi = 1 lbf / (0.0254 m)^2.
constexpr double kPoundForceNewtons = 4.4482216152605;
constexpr double kPsiPascals = kPoundForceNewtons / (0.0254 * 0.0254);

constexpr std::array<UnitInfo, 19> kUnits{{
    {Unit::kMicron, Quantity::kLength, 1.0, "microns"},
    {Unit::kMil, Quantity::kLength, 25.4, "mils"},
    {Unit::kMillimetre, Quantity::kLength, 1000.0, "mm"},
    {Unit::kCentimetre, Quantity::kLength, 10000.0, "cm"},
    {Unit::kMetre, Quantity::kLength, 1.0e6, "m"},
    {Unit::kKilometre, Quantity::kLength, 1.0e9, "km"},
    {Unit::kInch, Quantity::kLength, 25400.0, "in"},
    {Unit::kFoot, Quantity::kLength, 304800.0, "ft"},
    {Unit::kMile, Quantity::kLength, 1609344000.0, "mi"},
    {Unit::kNewton, Quantity::kForce, 1.0, "N"},
    {Unit::kKilonewton, Quantity::kForce, 1000.0, "kN"},
    {Unit::kPoundForce, Quantity::kForce, kPoundForceNewtons, "lbf"},
    {Unit::kKip, Quantity::kForce, kPoundForceNewtons * 1000.0, "kip"},
    {Unit::kKilopascal, Quantity::kPressure, 1000.0, "kPa"},
    {Unit::kMegapascal, Quantity::kPressure, 1.0e6, "MPa"},
    {Unit::kPsi, Quantity::kPressure, kPsiPascals, "psi"},
    {Unit::kKsi, Quantity::kPressure, kPsiPascals * 1000.0, "ksi"},
    {Unit::kCelsius, Quantity::kTemperature, 1.0, "C"},
    {Unit::kFahrenheit, Quantity::kTemperature, 1.0, "F"},
}};

const UnitInfo& info(Unit unit) { return kUnits[static_cast<std::size_t>(unit)]; }

struct Word {
  const char* word;
  Unit unit;
};

// Spellings after folding (lower case, no blanks, hyphens, underscores or dots).
constexpr std::array<Word, 45> kWords{{
    {"micron", Unit::kMicron},
    {"micrometer", Unit::kMicron},
    {"micrometre", Unit::kMicron},
    {"um", Unit::kMicron},
    {"\xc2\xb5m", Unit::kMicron},
    {"mil", Unit::kMil},
    {"thou", Unit::kMil},
    {"millimeter", Unit::kMillimetre},
    {"millimetre", Unit::kMillimetre},
    {"mm", Unit::kMillimetre},
    {"centimeter", Unit::kCentimetre},
    {"centimetre", Unit::kCentimetre},
    {"cm", Unit::kCentimetre},
    {"meter", Unit::kMetre},
    {"metre", Unit::kMetre},
    {"m", Unit::kMetre},
    {"kilometer", Unit::kKilometre},
    {"kilometre", Unit::kKilometre},
    {"km", Unit::kKilometre},
    {"inch", Unit::kInch},
    {"inche", Unit::kInch},
    {"in", Unit::kInch},
    {"foot", Unit::kFoot},
    {"feet", Unit::kFoot},
    {"ft", Unit::kFoot},
    {"mile", Unit::kMile},
    {"mi", Unit::kMile},
    {"newton", Unit::kNewton},
    {"n", Unit::kNewton},
    {"kilonewton", Unit::kKilonewton},
    {"kn", Unit::kKilonewton},
    {"pound", Unit::kPoundForce},
    {"poundforce", Unit::kPoundForce},
    {"lbf", Unit::kPoundForce},
    {"lb", Unit::kPoundForce},
    {"kilopound", Unit::kKip},
    {"kip", Unit::kKip},
    {"kilopascal", Unit::kKilopascal},
    {"kpa", Unit::kKilopascal},
    {"megapascal", Unit::kMegapascal},
    {"mpa", Unit::kMegapascal},
    {"psi", Unit::kPsi},
    {"ksi", Unit::kKsi},
    {"celsius", Unit::kCelsius},
    {"fahrenheit", Unit::kFahrenheit},
}};

}  // namespace

Quantity quantity_of(Unit unit) { return info(unit).quantity; }
const char* symbol(Unit unit) { return info(unit).symbol; }

std::optional<Unit> parse_unit(std::string_view word) {
  std::string folded;
  for (char c : word) {
    if (c == ' ' || c == '\t' || c == '-' || c == '_' || c == '.') continue;
    folded.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  if (folded == "c" || folded == "degc" || folded == "degreec" || folded == "degreescelsius")
    return Unit::kCelsius;
  if (folded == "f" || folded == "degf" || folded == "degreef" || folded == "degreesfahrenheit")
    return Unit::kFahrenheit;
  for (int pass = 0; pass < 2; ++pass) {
    for (const Word& w : kWords)
      if (folded == w.word) return w.unit;
    // A plural: "microns", "mils", "pounds", "inches", "kips".
    if (folded.size() > 2 && folded.back() == 's') {
      folded.pop_back();
    } else {
      break;
    }
  }
  return std::nullopt;
}

double convert(double value, Unit from, Unit to) {
  if (from == to) return value;
  if (quantity_of(from) == Quantity::kTemperature)
    return from == Unit::kCelsius ? value * 1.8 + 32.0 : (value - 32.0) / 1.8;
  const double a = info(from).size;
  const double b = info(to).size;
  // Whole-number ratios are applied as one exact multiplication or division.
  if (std::fmod(a, b) == 0.0) return value * (a / b);
  if (std::fmod(b, a) == 0.0) return value / (b / a);
  return value * a / b;
}

double pressure_to_force(double pressure, Unit pressure_unit, double radius, Unit radius_unit,
                         Unit force_unit) {
  const double pascals = convert(pressure, pressure_unit, Unit::kKilopascal) * 1000.0;
  const double metres = convert(radius, radius_unit, Unit::kMetre);
  const double newtons = pascals * std::numbers::pi * metres * metres;
  return convert(newtons, Unit::kNewton, force_unit);
}

}  // namespace basinfit::import
