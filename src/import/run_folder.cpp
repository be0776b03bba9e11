#include "import/run_folder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <numeric>

#include "common/input_error.h"
#include "common/output_file.h"
#include "import/text_values.h"
#include "run/input_files.h"
#include "run/run_state.h"

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

struct KeptSensor {
  std::size_t index;  // into the survey's sensors
  double offset;      // radial, in the survey's length unit
};

std::vector<KeptSensor> choose_sensors(const SourceSurvey& survey, const ImportOptions& options,
                                       std::vector<std::string>& notes) {
  std::vector<KeptSensor> kept;
  for (std::size_t i = 0; i < survey.sensors.size(); ++i) {
    const SourceSensor& s = survey.sensors[i];
    const bool chosen = options.sensors.empty() || std::find(options.sensors.begin(), options.sensors.end(),
                                                             s.number) != options.sensors.end();
    if (!chosen) continue;
    if (s.x < 0) {
      notes.push_back(
          "sensor " + std::to_string(s.number) + " sits " + number_text(-s.x) + " " +
          symbol(survey.length_unit) +
          " behind the plate and is left out of the basin (the engine takes offsets from the load "
          "forwards)");
      continue;
    }
    kept.push_back({i, std::hypot(s.x, s.y)});
  }
  for (int n : options.sensors) {
    const bool exists = std::any_of(survey.sensors.begin(), survey.sensors.end(),
                                    [n](const SourceSensor& s) { return s.number == n; });
    if (!exists) throw InputError("--sensors", 0, "the survey has no sensor " + std::to_string(n));
  }
  std::stable_sort(kept.begin(), kept.end(),
                   [](const KeptSensor& a, const KeptSensor& b) { return a.offset < b.offset; });
  if (kept.size() > static_cast<std::size_t>(kMaxSensors)) {
    notes.push_back(std::to_string(kept.size()) + " sensors in front of the plate; the " +
                    std::to_string(kMaxSensors) +
                    " nearest the plate are kept (choose others with --sensors)");
    kept.resize(kMaxSensors);
  }
  if (kept.empty()) fail(survey.geometry, "no deflection sensor in front of the plate is left for the basin");
  return kept;
}

std::string chainage_text(double chainage, bool english, bool plus) {
  char buffer[64];
  const double rounded = std::round(chainage * 1000.0) / 1000.0;
  auto plain = [&](double v) {
    std::snprintf(buffer, sizeof buffer, "%.3f", v);
    std::string t = buffer;
    while (t.back() == '0') t.pop_back();
    if (t.back() == '.') t.pop_back();
    if (t == "-0") t = "0";
    return t;
  };
  if (!plus || rounded < 0) return plain(rounded);
  const double step = english ? 100.0 : 1000.0;
  const double whole = std::floor(rounded / step);
  const double rest = rounded - whole * step;
  std::string r = plain(rest);
  const std::size_t digits = english ? 2 : 3;
  const std::size_t int_digits = r.find('.') == std::string::npos ? r.size() : r.find('.');
  if (int_digits < digits) r.insert(0, digits - int_digits, '0');
  return plain(whole) + "+" + r;
}

std::string identifier_text(std::string id) {
  for (char& c : id)
    if (c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n') c = '_';
  return id;
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

  if (survey.stations.empty()) throw InputError(survey.format, 0, "the survey holds no test points");
  const SourceRef& first_ref = survey.stations.front().ref;

  // Sensors and plate.
  const std::vector<KeptSensor> sensors = choose_sensors(survey, options, run.notes);
  const double plate = convert(survey.plate_radius, survey.length_unit, length);
  if (!(plate > 0 && plate <= (english ? kMaxSensorOffsetIn : kMaxSensorOffsetCm)))
    fail(survey.geometry, "plate radius " + number_text(plate) + " " + symbol(length) +
                              ", expected above 0 and at most " +
                              number_text(english ? kMaxSensorOffsetIn : kMaxSensorOffsetCm));
  std::vector<double> offsets;
  for (const KeptSensor& k : sensors) {
    const double r = convert(k.offset, survey.length_unit, length);
    const double limit = english ? kMaxSensorOffsetIn : kMaxSensorOffsetCm;
    if (!(r <= limit))
      fail(survey.geometry, "sensor " + std::to_string(survey.sensors[k.index].number) + " is " +
                                number_text(r) + " " + symbol(length) + " from the load, expected at most " +
                                number_text(limit));
    offsets.push_back(r);
  }
  const std::size_t ns = sensors.size();
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

  // Which lanes are present among the points that will be kept.
  std::vector<std::string> lanes;
  for (const SourceStation& st : survey.stations)
    if (!st.lane.empty() && std::find(lanes.begin(), lanes.end(), st.lane) == lanes.end())
      lanes.push_back(st.lane);
  const bool lane_in_id = lanes.size() > 1;

  std::string deflection_text;
  std::map<std::string, const SourceStation*> ids;
  int written_stations = 0;
  for (const SourceStation& st : survey.stations) {
    StationRow row;
    std::optional<double> chainage;
    if (st.chainage) chainage = convert(*st.chainage, survey.chainage_unit, chainage_unit);
    row.chainage = chainage ? chainage_text(*chainage, english, false) : "-";
    if (!st.identifier.empty()) {
      row.identifier = identifier_text(st.identifier);
    } else if (chainage) {
      row.identifier = options.station_prefix + chainage_text(*chainage, english, options.plus_notation);
      if (lane_in_id) {
        std::string code;
        for (char c : st.lane)
          if (std::isalnum(static_cast<unsigned char>(c))) code.push_back(c);
        row.identifier += "_" + code;
      }
      row.identifier = identifier_text(row.identifier);
    } else {
      fail(st.ref, "the test point has neither an identifier nor a chainage");
    }
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
        if (!std::isfinite(static_cast<float>(h[j])))
          throw InputError(structure.file, range->line, "thickness record: a thickness beyond any pavement");
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
      if (static_cast<int>(k) >= needed && !(t[k] >= lo && t[k] <= hi)) {
        // A reading the run does not use is not worth refusing the survey over.
        run.notes.push_back(st.ref.text() + ": " + options.temperatures[k] + " temperature " +
                            number_text(t[k]) + " is outside the engine's range and not used; 0 written");
        t[k] = 0;
      }
      if (!(t[k] >= lo && t[k] <= hi))
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
      if (!(load >= 0 && load <= load_max))
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
        if (!(std::fabs(v) <= limit))
          fail(d->ref, "deflection of sensor " + std::to_string(survey.sensors[k.index].number) + " is " +
                           number_text(v) + " " + symbol(deflection) + ", expected at most " +
                           number_text(limit) + " in magnitude");
        line += " " + float_text(v);
      }
      deflection_text += line + "\n";
    }
    ++written_stations;
    run.stations.push_back(row);
  }
  if (written_stations == 0)
    throw InputError(first_ref.file, 0, "no test point keeps a drop; nothing to run");

  std::string route = options.route.value_or(survey.route);
  if (route.size() > 79) {
    run.notes.push_back("the route text is cut to the engine's 79 characters");
    route.resize(79);
  }
  for (char& c : route)
    if (c == '\n' || c == '\r') c = ' ';
  run.deflections = route + "\n" + deflection_text;

  // Standard value file: the check value and the reference temperature in F.
  const double reference =
      convert(options.reference_temperature.value_or(english ? 68.0 : 20.0), temperature, Unit::kFahrenheit);
  if (!(reference >= kMinTemperatureF && reference <= kMaxTemperatureF))
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
  auto modulus_text = [&](double value, int line, const char* what, double least) {
    const double v = convert(value, structure_modulus, modulus);
    if (!(v >= least && v <= kMaxModulus))
      throw InputError(structure.file, line,
                       std::string("layer record: ") + what + " " + number_text(v) + " " + symbol(modulus) +
                           ", expected " + float_text(least) + " to " + float_text(kMaxModulus));
    return float_text(v);
  };
  for (const StructureLayer& l : structure.layers) {
    g += std::to_string(l.number) + " " + std::to_string(l.type) + " " + float_text(l.poisson) + " " +
         modulus_text(l.modulus, l.line, l.type == 0 ? "seed modulus" : "fixed modulus",
                      l.type == 0 ? 0.0 : kMinFixedModulus);
    if (l.type == 0)
      g += " " + modulus_text(l.lower, l.line, "lower bound", 0.0) + " " +
           modulus_text(l.upper, l.line, "upper bound", 0.0);
    g += "\n";
  }
  g += std::to_string(options.max_iterations) + " " + float_text(options.rms_tolerance) + " " +
       float_text(options.modulus_tolerance) + "\n";
  for (const EvaluationPoint& p : structure.points) {
    const double r = convert(p.radius, structure_length, length);
    if (!(r <= (english ? kMaxSensorOffsetIn : kMaxSensorOffsetCm)))
      throw InputError(structure.file, p.line,
                       "point record: radial distance " + number_text(r) + " " + symbol(length) +
                           ", expected at most " +
                           number_text(english ? kMaxSensorOffsetIn : kMaxSensorOffsetCm));
    g += float_text(r) + " " + std::to_string(p.layer) + " " + std::to_string(p.position) + "\n";
  }
  run.general_data = g;
  return run;
}

void write_run_folder(const std::string& folder, const RunInput& input, bool force) {
  namespace fs = std::filesystem;
  const fs::path dir(folder);
  const char* all[] = {kControlName, kStandardName, kGeneralName, kDeflectionName,
                       kDetailName,  kSummaryName,  kLogName};
  std::error_code ec;
  if (!force)
    for (const char* name : all)
      if (fs::exists(dir / name, ec))
        throw InputError(
            (dir / name).string(), 0,
            "a run folder's file is already there; give --force to replace the run folder's files",
            InputError::Kind::kFileSystem);
  fs::create_directories(dir, ec);
  if (ec)
    throw InputError(folder, 0, "cannot create the folder: " + ec.message(), InputError::Kind::kFileSystem);

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
                        {kControlName, "control file", &control}};
  std::vector<fs::path> temporary;
  try {
    for (const Item& item : items) {
      const fs::path part = dir / (std::string(".") + item.name + ".partial");
      temporary.push_back(part);
      OutputFile file(part.string(), item.what);
      file.truncate();
      file.write(*item.text);
      file.close();
    }
    for (std::size_t i = 0; i < temporary.size(); ++i) {
      const fs::path target = dir / items[i].name;
      fs::rename(temporary[i], target, ec);
      if (ec)
        throw InputError(target.string(), 0,
                         "cannot put the " + std::string(items[i].what) + " in place: " + ec.message(),
                         InputError::Kind::kFileSystem);
    }
  } catch (...) {
    for (const fs::path& p : temporary) fs::remove(p, ec);
    throw;
  }
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
