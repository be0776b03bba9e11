#include "import/run_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <string_view>

#include "common/csv.h"
#include "common/input_error.h"
#include "common/list_reader.h"
#include "common/output_file.h"
#include "common/replacement_file.h"
#include "import/internal/chainage_text.h"
#include "import/survey_files.h"
#include "import/text_values.h"
#include "run/input_files.h"
#include "run/run_state.h"
#include "run/station_loop.h"

namespace basinfit::import {

std::string SourceRef::text() const {
  std::string t = file;
  if (line > 0) t += ", line " + std::to_string(line);
  if (!where.empty()) t += " (" + where + ")";
  return t;
}

namespace {

[[noreturn]] void fail(const SourceRef& ref, const std::string& reason) {
  throw InputError(ref.file, ref.line, (ref.where.empty() ? "" : ref.where + ": ") + reason);
}

// The engine holds every value in single precision: a value is checked as the engine will
// read it, so that nothing the importer writes is refused by the engine (a plate radius of
// 1e-300 becomes 0, a tolerance of 1e300 infinity).
float engine_value(double value) { return static_cast<float>(value); }

bool single_positive(double value) {
  const float f = engine_value(value);
  return f > 0 && std::isfinite(f);
}

// Reads the rendered input files back with the engine's own readers, as a last guard: every
// value was checked before against the engine's limits with a message naming its source, so
// a refusal here means a rule of the engine that the importer does not know.
void check_with_engine_readers(const RunInput& run) {
  auto refuse = [](const InputError& e) {
    throw EngineRefusal(e.file(), e.line(), e.reason() + " (in the file the import would write)");
  };
  RunSettings settings;
  const TextFile standard(kStandardName, run.standard_values);
  const TextFile general(kGeneralName, run.general_data);
  const TextFile deflections(kDeflectionName, run.deflections);
  try {
    if (const auto problem = read_standard_values(standard, settings)) refuse(problem->detail);
    if (const auto problem = read_general_data(general, settings)) refuse(problem->detail);
    ListReader reader(deflections);
    reader.read_text(79);
    StationData station;
    while (true) {
      const StationRead read = read_station(reader, settings, station);
      if (read == StationRead::kEndOfData) break;
      if (read == StationRead::kNoSeparator)
        throw InputError(kDeflectionName, station.header_line, "a station header without a separator");
      check_station_values(settings, station, kDeflectionName);
    }
  } catch (const EngineRefusal&) {
    throw;
  } catch (const InputError& e) {
    refuse(e);
  }
}

std::string degrees_text(std::optional<double> value) {
  if (!value) return "";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.7f", *value);  // about 1 cm on the ground
  std::string t = buffer;
  while (t.back() == '0') t.pop_back();
  if (t.back() == '.') t.pop_back();
  return t;
}

// Plausibility of what a deflectometer measures, judged on the survey's medians so that one
// misfired drop does not decide it.  A value outside its range is almost always a unit that
// does not fit the file; the candidate units that would bring it inside are named.
struct Plausible {
  const char* what;
  Unit unit;     // the unit of the range
  double least;  // inclusive range in `unit`
  double most;
};
inline constexpr Plausible kPlausibleLoad{"median load", Unit::kNewton, 1000.0, 300000.0};
inline constexpr Plausible kPlausibleCentreDeflection{"median deflection nearest the plate", Unit::kMicron,
                                                      20.0, 5000.0};
inline constexpr Plausible kPlausiblePlate{"plate radius", Unit::kMillimetre, 50.0, 250.0};
inline constexpr Plausible kPlausibleFarthestOffset{"farthest sensor offset", Unit::kMillimetre, 200.0,
                                                    3000.0};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void check_plausible(const SourceSurvey& survey, const Plausible& range, double value, Unit unit,
                     const SourceRef& where, std::initializer_list<Unit> candidates, const char* option,
                     const char* file_key) {
  const double v = convert(value, unit, range.unit);
  if (v >= range.least && v <= range.most) return;
  std::string likely;
  for (Unit u : candidates) {
    if (u == unit) continue;
    const double as = convert(value, u, range.unit);
    if (as >= range.least && as <= range.most)
      likely += (likely.empty() ? "" : " or ") + std::string(symbol(u));
  }
  std::string reason =
      std::string("the survey's ") + range.what + " is " + number_text(value) + " " + symbol(unit) +
      (unit == range.unit ? std::string() : " (" + number_text(v) + " " + symbol(range.unit) + ")") +
      ", outside what a deflectometer gives (" + number_text(range.least) + " to " + number_text(range.most) +
      " " + symbol(range.unit) + ")";
  if (!likely.empty()) {
    reason += "; the values look like " + likely;
    reason += survey.units_from_options
                  ? std::string(": give ") + option + " " + likely.substr(0, likely.find(' '))
                  : std::string(": the file's ") + file_key + " does not fit its values";
  } else {
    reason += survey.units_from_options ? std::string("; check the unit (") + option + ")"
                                        : std::string("; check the file's ") + file_key;
  }
  throw InputError(where.file, where.line, (where.where.empty() ? "" : where.where + ": ") + reason);
}

void check_plausible_survey(const SourceSurvey& survey) {
  using enum Unit;
  if (survey.sensors.empty()) return;
  check_plausible(survey, kPlausiblePlate, survey.plate_radius, survey.length_unit, survey.geometry,
                  {kMillimetre, kCentimetre, kInch, kMetre}, "--offset-unit", "LoadPlateRadiusUnits");
  double farthest = 0;
  std::size_t nearest = 0;
  for (std::size_t i = 0; i < survey.sensors.size(); ++i) {
    const SourceSensor& s = survey.sensors[i];
    farthest = std::max(farthest, std::hypot(s.x, s.y));
    if (std::hypot(s.x, s.y) < std::hypot(survey.sensors[nearest].x, survey.sensors[nearest].y)) nearest = i;
  }
  check_plausible(survey, kPlausibleFarthestOffset, farthest, survey.length_unit, survey.geometry,
                  {kMillimetre, kCentimetre, kInch, kMetre}, "--offset-unit", "SensorLocationUnits");
  std::vector<double> loads, centre;
  const SourceRef* first_drop = nullptr;
  for (const SourceStation& st : survey.stations)
    for (const SourceDrop& d : st.drops) {
      if (!first_drop) first_drop = &d.ref;
      if (d.load && *d.load > 0) loads.push_back(*d.load);
      if (nearest < d.deflections.size() && d.deflections[nearest] && *d.deflections[nearest] > 0)
        centre.push_back(*d.deflections[nearest]);
    }
  if (!first_drop) return;
  const SourceRef where{survey.file.empty() ? first_drop->file : survey.file, 0, ""};
  if (!loads.empty())
    check_plausible(survey, kPlausibleLoad, median(loads), survey.load_unit, where,
                    {kNewton, kKilonewton, kPoundForce, kKip}, "--load-unit", "LoadUnits");
  if (!centre.empty())
    check_plausible(survey, kPlausibleCentreDeflection, median(centre), survey.deflection_unit, where,
                    {kMicron, kMillimetre, kMil, kInch}, "--deflection-unit", "DeflectionUnits");
}

}  // namespace

RunInput assemble_run(const SourceSurvey& survey, const Structure& structure, const ImportOptions& options) {
  RunInput run;
  run.english = options.english.value_or(survey.english());
  const bool english = run.english;
  const Unit length = english ? Unit::kInch : Unit::kCentimetre;
  const Unit force = english ? Unit::kPoundForce : Unit::kNewton;
  const Unit deflection = english ? Unit::kMil : Unit::kMicron;
  const Unit temperature = english ? Unit::kFahrenheit : Unit::kCelsius;
  const Unit modulus = english ? Unit::kKsi : Unit::kMegapascal;
  const Unit chainage_unit = english ? Unit::kFoot : Unit::kMetre;
  const bool structure_english = structure.units_given ? structure.english : english;
  const Unit structure_length = structure_english ? Unit::kInch : Unit::kCentimetre;
  const Unit structure_modulus = structure_english ? Unit::kKsi : Unit::kMegapascal;
  const Unit structure_chainage_unit = structure_english ? Unit::kFoot : Unit::kMetre;

  if (survey.stations.empty())
    throw InputError(survey.file.empty() ? survey.format : survey.file, 0, "the survey holds no test points");
  const SourceRef& first_ref = survey.stations.front().ref;

  // Sensors and plate.
  const std::vector<KeptSensor> sensors = kept_sensors(survey, options, &run.notes);
  if (sensors.empty())
    fail(survey.geometry, "no deflection sensor in front of the plate is left for the basin");
  const double plate = convert(survey.plate_radius, survey.length_unit, length);
  if (!(engine_value(plate) > 0 &&
        engine_value(plate) <= (english ? kMaxSensorOffsetIn : kMaxSensorOffsetCm)))
    fail(survey.geometry, "plate radius " + number_text(plate) + " " + symbol(length) +
                              ", expected above 0 and at most " +
                              number_text(english ? kMaxSensorOffsetIn : kMaxSensorOffsetCm));
  std::vector<double> offsets;
  for (const KeptSensor& k : sensors) {
    const double r = convert(k.offset, survey.length_unit, length);
    const double limit = english ? kMaxSensorOffsetIn : kMaxSensorOffsetCm;
    if (!(engine_value(r) <= limit))
      fail(survey.geometry, "sensor " + std::to_string(survey.sensors[k.index].number) + " is " +
                                number_text(r) + " " + symbol(length) + " from the load, expected at most " +
                                number_text(limit));
    offsets.push_back(r);
  }
  const std::size_t ns = sensors.size();
  check_plausible_survey(survey);
  auto check_setting = [](double value, const char* option) {
    if (!single_positive(value))
      throw InputError(option, 0,
                       number_text(value) + ", expected a number above 0 that single precision holds");
  };
  check_setting(options.rms_tolerance, "--rms-tolerance");
  check_setting(options.modulus_tolerance, "--modulus-tolerance");
  for (double w : options.weights)
    if (!(w >= 0 && std::isfinite(static_cast<float>(w))))
      throw InputError("--weights", 0, "weight " + number_text(w) + ", expected a number of 0 or more");
  if (options.weighting == 2 && options.weights.size() != ns)
    throw InputError("--weights", 0,
                     std::to_string(options.weights.size()) + " weights for " + std::to_string(ns) +
                         " sensors in the basin; give one per sensor in order of offset");

  // Layers.
  const int nl = static_cast<int>(structure.layers.size());
  const int seed_option = options.seed_option.value_or(nl <= 3 ? 0 : 1);
  if (nl > 3 && seed_option == 0)
    throw InputError(structure.file, 0,
                     "more than 3 layers need seed moduli from the structure (--seeds given)");

  // Temperatures.
  const int needed = options.temperature_adjustment != 1 ? 0 : options.temperature_option == 1 ? 2 : 1;
  if (options.temperatures.size() < static_cast<std::size_t>(needed) || options.temperatures.size() > 2)
    throw InputError("--temperatures", 0,
                     "expected " + std::to_string(std::max(needed, 1)) + " or 2 reading names");

  const std::vector<std::string> identifiers = engine_identifiers(survey, options);

  std::string deflection_text;
  run.station_table = "station,chainage,chainage_unit,lane,latitude,longitude,comment\n";
  std::map<std::string, const SourceStation*> ids;
  int written_stations = 0;
  for (std::size_t point = 0; point < survey.stations.size(); ++point) {
    const SourceStation& st = survey.stations[point];
    StationRow row;
    std::optional<double> chainage;
    if (st.chainage) chainage = convert(*st.chainage, survey.chainage_unit, chainage_unit);
    row.chainage = chainage ? chainage_text(*chainage, english, false) : "-";
    row.identifier = identifiers[point];
    // The engine reads a station header as an 80-character record and needs the separator
    // after the identifier inside it.
    if (row.identifier.size() > 79)
      fail(st.ref, "the identifier '" + row.identifier.substr(0, 20) + "...' has " +
                       std::to_string(row.identifier.size()) +
                       " characters; the engine reads at most 79 (and keeps 10)");
    const std::string id10 = row.identifier.substr(0, kStationIdLength);

    // Drops.
    std::vector<const SourceDrop*> kept;
    int seating = 0, filtered = 0;
    std::vector<const SourceDrop*> ordered;
    for (const SourceDrop& d : st.drops) ordered.push_back(&d);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const SourceDrop* a, const SourceDrop* b) { return a->sequence < b->sequence; });
    for (std::size_t i = 0; i < ordered.size(); ++i) {
      const SourceDrop& d = *ordered[i];
      if (static_cast<int>(i) < options.skip_seating) {
        ++seating;
        continue;
      }
      const bool by_sequence = options.drops.empty() || std::find(options.drops.begin(), options.drops.end(),
                                                                  d.sequence) != options.drops.end();
      const bool by_height = options.drop_heights.empty() ||
                             (d.height && std::find(options.drop_heights.begin(), options.drop_heights.end(),
                                                    *d.height) != options.drop_heights.end());
      if (!by_sequence || !by_height) {
        ++filtered;
        continue;
      }
      kept.push_back(&d);
    }
    row.kept = static_cast<int>(kept.size());
    row.skipped = seating + filtered;
    std::vector<std::string> why;
    if (seating) why.push_back(std::to_string(seating) + " seating");
    if (filtered) why.push_back(std::to_string(filtered) + " filtered");
    if (kept.empty()) {
      why.push_back("point skipped: no drop kept");
      row.why = "";
      for (std::size_t i = 0; i < why.size(); ++i) row.why += (i ? "; " : "") + why[i];
      run.stations.push_back(row);
      continue;
    }
    if (kept.size() > static_cast<std::size_t>(kMaxDrops))
      fail(st.ref, "test point " + row.identifier + " has " + std::to_string(kept.size()) +
                       " drops, the engine takes at most " + std::to_string(kMaxDrops) +
                       "; choose drops with --skip-seating, --drops or --drop-heights");
    for (std::size_t i = 0; i < why.size(); ++i) row.why += (i ? "; " : "") + why[i];

    if (const auto clash = ids.find(id10); clash != ids.end())
      fail(st.ref, "test point gets the identifier '" + id10 + "', as does the test point at " +
                       clash->second->ref.text() +
                       "; the engine keeps 10 characters (choose a lane, a test date, or --station-prefix)");
    ids.emplace(id10, &st);

    // Thicknesses.
    std::optional<double> structure_chainage;
    if (st.chainage)
      structure_chainage = convert(*st.chainage, survey.chainage_unit, structure_chainage_unit);
    std::vector<double> h(kMaxThicknesses, 0.0);
    if (nl > 1) {
      const ThicknessRange* range = structure.thickness_at(structure_chainage);
      if (!range)
        fail(st.ref, "no thickness record of " + structure.file + " covers test point " + row.identifier +
                         (structure_chainage ? " at chainage " + number_text(*structure_chainage) + " " +
                                                   symbol(structure_chainage_unit)
                                             : std::string(" (it has no chainage)")));
      for (std::size_t j = 0; j < range->thicknesses.size(); ++j) {
        h[j] = convert(range->thicknesses[j], structure_length, length);
        if (!single_positive(h[j]))
          throw InputError(structure.file, range->line,
                           "thickness record: layer " + std::to_string(j + 1) + " thickness " +
                               number_text(h[j]) + " " + symbol(length) +
                               ", expected a value above 0 that single precision holds");
      }
    }

    // Temperatures.
    std::vector<double> t(2, 0.0);
    for (std::size_t k = 0; k < options.temperatures.size(); ++k) {
      const std::string wanted = fold(options.temperatures[k]);
      const TemperatureReading* reading = nullptr;
      for (const TemperatureReading& r : st.temperatures)
        if (r.use == wanted) reading = &r;
      if (!reading || !reading->value) {
        if (static_cast<int>(k) >= needed) continue;
        std::string have;
        for (const TemperatureReading& r : st.temperatures)
          if (r.value) have += (have.empty() ? "" : ", ") + r.use;
        fail(st.ref, "no " + options.temperatures[k] + " temperature at this test point (readings: " +
                         (have.empty() ? std::string("none") : have) +
                         "); choose readings with --temperatures or turn the adjustment off with "
                         "--temperature-adjust 0");
      }
      t[k] = convert(*reading->value, survey.temperature_unit, temperature);
      const double lo = english ? kMinTemperatureF : kMinTemperatureC;
      const double hi = english ? kMaxTemperatureF : kMaxTemperatureC;
      const auto inside = [&](double v) { return engine_value(v) >= lo && engine_value(v) <= hi; };
      if (static_cast<int>(k) >= needed && !inside(t[k])) {
        // A reading the run does not use is not worth refusing the survey over.
        run.notes.push_back(st.ref.text() + ": " + options.temperatures[k] + " temperature " +
                            number_text(t[k]) + " is outside the engine's range and not used; 0 written");
        t[k] = 0;
      }
      if (!inside(t[k]))
        fail(st.ref, options.temperatures[k] + " temperature " + number_text(t[k]) + " " +
                         symbol(temperature) + ", expected " + number_text(lo) + " to " + number_text(hi));
    }

    deflection_text += row.identifier + " " + std::to_string(kept.size());
    for (double v : h) deflection_text += " " + float_text(v);
    deflection_text += " " + float_text(t[0]) + " " + float_text(t[1]) + "\n";
    for (const SourceDrop* d : kept) {
      if (!d->problem.empty()) fail(d->ref, d->problem);
      if (!d->load) fail(d->ref, "the load is missing");
      const double load = convert(*d->load, survey.load_unit, force);
      const double load_max = english ? kMaxLoadLbf : kMaxLoadN;
      if (!(engine_value(load) >= 0 && engine_value(load) <= load_max))
        fail(d->ref,
             "load " + number_text(load) + " " + symbol(force) + ", expected 0 to " + number_text(load_max));
      std::string line = float_text(load);
      for (const KeptSensor& k : sensors) {
        const auto& value = k.index < d->deflections.size() ? d->deflections[k.index] : std::nullopt;
        if (!value)
          fail(d->ref,
               "the deflection of sensor " + std::to_string(survey.sensors[k.index].number) + " is missing");
        const double v = convert(*value, survey.deflection_unit, deflection);
        const double limit = english ? kMaxDeflectionMils : kMaxDeflectionMicrons;
        if (!(std::fabs(engine_value(v)) <= limit))
          fail(d->ref, "deflection of sensor " + std::to_string(survey.sensors[k.index].number) + " is " +
                           number_text(v) + " " + symbol(deflection) + ", expected at most " +
                           number_text(limit) + " in magnitude");
        line += " " + float_text(v);
      }
      deflection_text += line + "\n";
    }
    ++written_stations;
    CsvRow table_row;
    table_row.field(row.identifier)
        .plain(chainage ? chainage_text(*chainage, english, false) : "")
        .plain(symbol(chainage_unit))
        .field(st.lane)
        .plain(degrees_text(st.latitude))
        .plain(degrees_text(st.longitude))
        .field(st.comment);
    run.station_table += table_row.text() + "\n";
    run.stations.push_back(row);
  }
  if (written_stations == 0)
    throw InputError(first_ref.file, 0, "no test point keeps a drop; nothing to run");

  std::string route = options.route.value_or(survey.route);
  if (route.size() > 79) {
    run.notes.push_back((options.route ? std::string("--route") : first_ref.file) +
                        ": the route text is cut to the engine's 79 characters");
    route.resize(79);
  }
  for (char& c : route)
    if (c == '\n' || c == '\r') c = ' ';
  run.deflections = route + "\n" + deflection_text;

  // Standard value file: the check value and the reference temperature in F.
  const double reference =
      convert(options.reference_temperature.value_or(english ? 68.0 : 20.0), temperature, Unit::kFahrenheit);
  if (!(engine_value(reference) >= kMinTemperatureF && engine_value(reference) <= kMaxTemperatureF))
    throw InputError("--reference-temperature", 0,
                     "reference temperature " + number_text(reference) + " F is outside the engine's range");
  run.standard_values = "1 " + float_text(reference) + "\n";

  // General data file.
  std::string title = options.title.value_or(structure.title.empty() ? "Imported " + survey.format + " survey"
                                                                     : structure.title);
  for (char& c : title)
    if (c == '\n' || c == '\r') c = ' ';
  if (title.size() > 79) title.resize(79);
  std::string g = title + "\n";
  g += std::to_string(nl) + " " + (english ? "1" : "0") + " " + float_text(plate) + " " + std::to_string(ns) +
       " " + std::to_string(options.weighting) + "\n";
  std::string line;
  for (double r : offsets) line += (line.empty() ? "" : " ") + float_text(r);
  if (options.weighting == 2)
    for (double w : options.weights) line += " " + float_text(w);
  g += line + "\n";
  g += std::to_string(options.temperature_adjustment) + " " + std::to_string(options.temperature_option) +
       " " + std::to_string(seed_option) + " " + (structure.stiff_layer ? "1" : "0") + "\n";
  // A seed must stay above 0 in single precision (`above`); bounds of 0 mean "none".
  auto modulus_text = [&](double value, int line, const char* what, double least, bool above = false) {
    const double v = convert(value, structure_modulus, modulus);
    if (!(engine_value(v) >= least && engine_value(v) <= kMaxModulus) || (above && !(engine_value(v) > 0)))
      throw InputError(structure.file, line,
                       std::string("layer record: ") + what + " " + number_text(v) + " " + symbol(modulus) +
                           ", expected " +
                           (above ? std::string("above 0 and at most ") : float_text(least) + " to ") +
                           float_text(kMaxModulus));
    return float_text(v);
  };
  for (const StructureLayer& l : structure.layers) {
    g += std::to_string(l.number) + " " + std::to_string(l.type) + " " + float_text(l.poisson) + " " +
         modulus_text(l.modulus, l.line, l.type == 0 ? "seed modulus" : "fixed modulus",
                      l.type == 0 ? 0.0 : kMinFixedModulus, l.type == 0);
    if (l.type == 0)
      g += " " + modulus_text(l.lower, l.line, "lower bound", 0.0) + " " +
           modulus_text(l.upper, l.line, "upper bound", 0.0);
    g += "\n";
  }
  g += std::to_string(options.max_iterations) + " " + float_text(options.rms_tolerance) + " " +
       float_text(options.modulus_tolerance) + "\n";
  for (const EvaluationPoint& p : structure.points) {
    const double r = convert(p.radius, structure_length, length);
    if (!(engine_value(r) <= (english ? kMaxSensorOffsetIn : kMaxSensorOffsetCm)))
      throw InputError(structure.file, p.line,
                       "point record: radial distance " + number_text(r) + " " + symbol(length) +
                           ", expected at most " +
                           number_text(english ? kMaxSensorOffsetIn : kMaxSensorOffsetCm));
    g += float_text(r) + " " + std::to_string(p.layer) + " " + std::to_string(p.position) + "\n";
  }
  run.general_data = g;
  check_with_engine_readers(run);
  return run;
}

void write_run_folder(const std::string& folder, const RunInput& input, bool force) {
  namespace fs = std::filesystem;
  const fs::path dir(folder);
  const std::string control = std::string("9\n") + kStandardName + "\n" + kGeneralName + "\n" +
                              kDeflectionName + "\n" + kDetailName + "\n" + kSummaryName + "\n" + kLogName +
                              "\n";
  struct Item {
    const char* name;
    const char* what;
    const std::string* text;
  };
  const Item items[] = {{kStandardName, "standard value file", &input.standard_values},
                        {kGeneralName, "general data file", &input.general_data},
                        {kDeflectionName, "deflection data file", &input.deflections},
                        {kStationTableName, "station table", &input.station_table},
                        {kControlName, "control file", &control}};

  // Every target first: nothing is replaced unless everything can be.
  std::error_code ec;
  const char* others[] = {kDetailName, kSummaryName, kLogName};
  if (!force) {
    for (const Item& item : items)
      if (fs::exists(fs::symlink_status(dir / item.name, ec)))
        throw InputError(
            (dir / item.name).string(), 0,
            "a run folder's file is already there; give --force to replace the run folder's files",
            InputError::Kind::kFileSystem);
    for (const char* name : others)
      if (fs::exists(fs::symlink_status(dir / name, ec)))
        throw InputError(
            (dir / name).string(), 0,
            "a run folder's file is already there; give --force to replace the run folder's files",
            InputError::Kind::kFileSystem);
  }
  for (const Item& item : items)
    if (fs::is_directory(fs::symlink_status(dir / item.name, ec)))
      throw InputError((dir / item.name).string(), 0,
                       std::string("a folder stands where the ") + item.what + " goes; nothing was replaced",
                       InputError::Kind::kFileSystem);

  // The folders this import creates, outermost last, to be removed again on a failure.
  std::vector<fs::path> created;
  for (fs::path p = dir; !p.empty() && !fs::exists(fs::symlink_status(p, ec)); p = p.parent_path()) {
    created.push_back(p);
    if (p == p.parent_path()) break;
  }
  fs::create_directories(dir, ec);
  if (ec)
    throw InputError(folder, 0, "cannot create the folder: " + ec.message(), InputError::Kind::kFileSystem);
  try {
    std::vector<ReplacementFile> files;
    for (const Item& item : items) {
      files.emplace_back(dir / item.name, item.what);
      files.back().write(*item.text);
    }
    for (ReplacementFile& file : files) file.commit();
  } catch (...) {
    for (const fs::path& p : created) fs::remove(p, ec);  // only while empty
    throw;
  }
}

long RunFolderContents::drops() const {
  long total = 0;
  for (const Station& s : stations) total += s.drops;
  return total;
}

RunFolderContents read_run_folder_control(const std::filesystem::path& folder) {
  RunFolderContents contents;
  contents.control = read_control_file((folder / kControlName).string());
  const auto resolve = [&](const std::string& name) {
    const std::filesystem::path p(name);
    return p.is_absolute() ? p : folder / p;
  };
  contents.standard_values = resolve(contents.control.standard_values);
  contents.general_data = resolve(contents.control.general_data);
  contents.deflections = resolve(contents.control.deflections);
  return contents;
}

RunFolderContents read_run_folder(const std::filesystem::path& folder) {
  RunFolderContents contents = read_run_folder_control(folder);
  RunSettings settings;
  if (const auto problem = read_general_data(TextFile::load(contents.general_data.string()), settings))
    throw problem->detail;
  const TextFile deflections = TextFile::load(contents.deflections.string());
  ListReader reader(deflections);
  contents.route = std::string(trim(reader.read_text(79).value_or("")));
  StationData station;
  while (true) {
    const StationRead read = read_station(reader, settings, station);
    if (read == StationRead::kEndOfData) break;
    if (read == StationRead::kNoSeparator)
      throw InputError(deflections.name(), station.header_line, "a station header without a separator");
    contents.stations.push_back({station.id, station.drop_count});
  }
  return contents;
}

std::string station_table(const RunInput& input) {
  std::string out;
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, "%-12s %12s %5s %8s  %s\n", "Station",
                input.english ? "Chainage ft" : "Chainage m", "Drops", "Skipped", "Why");
  out += buffer;
  for (const StationRow& r : input.stations) {
    std::snprintf(buffer, sizeof buffer, "%-12s %12s %5d %8d  %s\n", r.identifier.substr(0, 10).c_str(),
                  r.chainage.c_str(), r.kept, r.skipped, r.why.c_str());
    std::string line = buffer;
    while (line.size() > 1 && line[line.size() - 2] == ' ') line.erase(line.size() - 2, 1);
    out += line;
  }
  return out;
}

}  // namespace basinfit::import
