// Generic CSV: one row per drop under a header row.  Columns are found by name, or given by
// role=column pairs; units come from options (metric defaults: N, microns, mm, C, m;
// English: lbf, mils, in, F, ft).  Consecutive rows of the same station, chainage and lane
// form one test point.

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>

#include "common/input_error.h"
#include "import/csv_table.h"
#include "import/readers.h"
#include "import/text_values.h"

namespace basinfit::import {

namespace {

bool one_of(const std::string& folded, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (folded == n) return true;
  return false;
}

// "d1" -> 1, "D200" -> 200, "def-300" -> -300: a deflection column and the number in its name.
std::optional<double> deflection_number(const std::string& folded_name, const std::string& raw) {
  for (const char* prefix : {"deflection", "defl", "def", "df", "sensor", "d"}) {
    const std::string p = prefix;
    if (folded_name.rfind(p, 0) != 0) continue;
    std::string rest = folded_name.substr(p.size());
    // fold() removed a minus sign written as a hyphen: take the sign from the raw name.
    if (!rest.empty() && raw.find('-') != std::string::npos &&
        raw.find("-" + rest.substr(0, 1)) != std::string::npos)
      rest.insert(0, "-");
    if (const auto v = parse_number(rest)) return v;
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::string> temperature_use(const std::string& f) {
  for (const char* p : {"temperature", "temp"}) {
    const std::string s = p;
    if (f.size() > s.size() && f.rfind(s, 0) == 0 && !parse_number(f.substr(s.size())))
      return f.substr(s.size());
    if (f.size() > s.size() && f.compare(f.size() - s.size(), s.size(), s) == 0)
      return f.substr(0, f.size() - s.size());
  }
  if (one_of(f, {"air", "surface", "pavement", "asphalt", "manual"})) return f;
  return std::nullopt;
}

}  // namespace

SourceSurvey read_generic_csv(const InputFile& input, const ReaderOptions& options) {
  const char delimiter = options.delimiter ? options.delimiter : guess_delimiter(input.text);
  if (delimiter == options.decimal)
    throw InputError(input.name, 0, "the column delimiter and the decimal mark are the same character");
  const CsvTable table(input.name, read_csv(input.text, input.name, device_csv(delimiter)));
  const bool english = options.english.value_or(false);
  SourceSurvey survey;
  survey.format = "CSV";
  survey.file = input.name;
  survey.units_from_options = true;
  survey.route = "Imported from " + std::filesystem::path(input.name).filename().string();
  const Unit load_unit = options.load_unit.value_or(english ? Unit::kPoundForce : Unit::kNewton);
  survey.deflection_unit = options.deflection_unit.value_or(english ? Unit::kMil : Unit::kMicron);
  survey.length_unit = options.offset_unit.value_or(english ? Unit::kInch : Unit::kMillimetre);
  survey.temperature_unit = options.temperature_unit.value_or(english ? Unit::kFahrenheit : Unit::kCelsius);
  survey.chainage_unit = options.chainage_unit.value_or(english ? Unit::kFoot : Unit::kMetre);
  const bool pressure = quantity_of(load_unit) == Quantity::kPressure;
  survey.load_unit = pressure ? (survey.english() ? Unit::kPoundForce : Unit::kNewton) : load_unit;

  // Roles to columns.
  int station = -1, chainage = -1, lane = -1, drop = -1, height = -1, load = -1, comment = -1, latitude = -1,
      longitude = -1;
  std::vector<std::pair<double, int>> deflections;  // number in the name (or sensor number), column
  std::vector<std::pair<std::string, int>> temperatures;
  bool named_sensors = false;  // columns named by role d1..dN from --columns
  if (!options.columns.empty()) {
    for (const auto& [role, name] : options.columns) {
      const int index = table.require(name);
      const std::string r = fold(role);
      if (r == "station")
        station = index;
      else if (r == "chainage")
        chainage = index;
      else if (r == "lane")
        lane = index;
      else if (r == "drop")
        drop = index;
      else if (r == "height")
        height = index;
      else if (r == "comment")
        comment = index;
      else if (r == "latitude")
        latitude = index;
      else if (r == "longitude")
        longitude = index;
      else if (r == "load")
        load = index;
      else if (const auto t = temperature_use(r); t && r.rfind("d", 0) != 0)
        temperatures.emplace_back(*t, index);
      else if (const auto n = deflection_number(r, role)) {
        deflections.emplace_back(*n, index);
        named_sensors = true;
      } else
        throw InputError(
            "--columns", 0,
            "unknown role '" + role +
                "'; expected station, chainage, lane, drop, height, load, comment, latitude, longitude, "
                "d1..d10 or temp_<use>");
    }
  } else {
    for (std::size_t i = 0; i < table.header().size(); ++i) {
      const std::string& raw = table.header()[i];
      const std::string f = fold(raw);
      const int index = static_cast<int>(i);
      if (one_of(f, {"station", "stationid", "id", "point", "pointid", "testpoint"}))
        station = index;
      else if (one_of(f, {"chainage", "chain", "distance", "position", "location", "pointloc"}))
        chainage = index;
      else if (one_of(f, {"lane", "laneno", "testlane"}))
        lane = index;
      else if (one_of(f, {"drop", "dropno", "dropnumber", "seq", "sequence"}))
        drop = index;
      else if (one_of(f, {"height", "dropheight"}))
        height = index;
      else if (one_of(f, {"comment", "comments", "remark", "remarks", "note", "notes"}))
        comment = index;
      else if (one_of(f, {"latitude", "lat", "gpslatitude"}))
        latitude = index;
      else if (one_of(f, {"longitude", "lon", "long", "lng", "gpslongitude"}))
        longitude = index;
      else if (one_of(f, {"load", "force", "peakload", "pressure", "stress"}))
        load = index;
      else if (const auto n = deflection_number(f, raw))
        deflections.emplace_back(*n, index);
      else if (const auto t = temperature_use(f))
        temperatures.emplace_back(*t, index);
    }
  }
  if (station < 0 && chainage < 0)
    throw InputError(input.name, table.header_line(),
                     "no station or chainage column (name one with --columns station=NAME)");
  if (load < 0)
    throw InputError(input.name, table.header_line(), "no load column (name one with --columns load=NAME)");
  if (deflections.empty())
    throw InputError(input.name, table.header_line(),
                     "no deflection columns (d1..dN, or D0, D200, ... with the offsets in the names)");
  if (deflections.size() > 64)
    throw InputError(input.name, table.header_line(), "more than 64 deflection columns");
  std::stable_sort(deflections.begin(), deflections.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });

  // Sensor offsets: from --offsets (columns are sensors in order), or from the column names.
  bool numbered = true;
  for (std::size_t i = 0; i < deflections.size(); ++i)
    if (deflections[i].first != static_cast<double>(i + 1)) numbered = false;
  if (!options.offsets.empty()) {
    if (options.offsets.size() != deflections.size())
      throw InputError("--offsets", 0,
                       std::to_string(options.offsets.size()) + " offsets for " +
                           std::to_string(deflections.size()) + " deflection columns");
    for (std::size_t i = 0; i < deflections.size(); ++i)
      survey.sensors.push_back({static_cast<int>(i + 1), options.offsets[i], 0.0});
  } else if (numbered || named_sensors) {
    throw InputError(input.name, table.header_line(),
                     "the deflection columns are numbered sensors; give their offsets with --offsets");
  } else {
    for (std::size_t i = 0; i < deflections.size(); ++i)
      survey.sensors.push_back({static_cast<int>(i + 1), deflections[i].first, 0.0});
  }
  if (!options.plate_radius)
    throw InputError("--plate-radius", 0, "a CSV file holds no plate radius; give it with --plate-radius");
  survey.plate_radius = *options.plate_radius;
  survey.geometry = {input.name, table.header_line(), "the deflection columns and --plate-radius"};

  const char decimal = options.decimal;
  // Columns not read are listed with --verbose.
  std::vector<int> read_columns = {station, chainage, lane, drop, height, load, comment, latitude, longitude};
  for (const auto& d : deflections) read_columns.push_back(d.second);
  for (const auto& t : temperatures) read_columns.push_back(t.second);
  for (std::size_t i = 0; i < table.header().size(); ++i)
    if (std::find(read_columns.begin(), read_columns.end(), static_cast<int>(i)) == read_columns.end())
      survey.notes.push_back(input.name + ", line " + std::to_string(table.header_line()) + ": column " +
                             table.header()[i] + " not read");
  // A semicolon or tab file written with decimal commas and read with the decimal point finds
  // no number in "40,1": say so at the first such field rather than report it missing.
  if (decimal != ',' && delimiter != ',')
    for (const CsvRecord& row : table.rows())
      for (int column : read_columns) {
        if (column < 0 || column == station || column == lane || column == comment) continue;
        const std::string t(trim(CsvTable::field(row, column)));
        if (!parse_number(t, decimal) && parse_number(t, ','))
          throw InputError(input.name, row.line,
                           "column " + table.header()[static_cast<std::size_t>(column)] + ": '" + t +
                               "' is written with a decimal comma; give --decimal ,");
      }
  SourceStation* current = nullptr;
  std::string current_key;
  for (const CsvRecord& row : table.rows()) {
    auto text = [&](int column) { return std::string(CsvTable::field(row, column)); };
    const std::string key = text(station) + "\x1f" + text(chainage) + "\x1f" + text(lane);
    if (!current || key != current_key) {
      SourceStation st;
      st.ref = {input.name, row.line, ""};
      st.identifier = text(station);
      if (chainage >= 0) {
        const auto c = parse_number(text(chainage), decimal);
        if (!c)
          throw InputError(input.name, row.line,
                           "column " + table.header()[static_cast<std::size_t>(chainage)] +
                               ": expected a chainage, found '" + text(chainage) + "'");
        st.chainage = c;
      } else if (const auto c = parse_number(st.identifier, decimal)) {
        st.chainage = c;  // a numeric station is also its chainage (for the thickness ranges)
      }
      if (station >= 0 && chainage >= 0 && st.identifier.empty())
        throw InputError(input.name, row.line, "the station is empty");
      st.lane = text(lane);
      st.comment = text(comment);
      // A GPS position in decimal degrees (WGS 84), kept only when both parts are degrees.
      if (latitude >= 0 && longitude >= 0) {
        const auto lat = parse_number(text(latitude), decimal);
        const auto lon = parse_number(text(longitude), decimal);
        if (lat && lon && std::fabs(*lat) <= 90 && std::fabs(*lon) <= 180) {
          st.latitude = lat;
          st.longitude = lon;
        } else if (!text(latitude).empty() || !text(longitude).empty()) {
          survey.notes.push_back(input.name + ", line " + std::to_string(row.line) + ": '" + text(latitude) +
                                 "', '" + text(longitude) +
                                 "' is no latitude and longitude in degrees; not kept");
        }
      }
      for (const auto& [use, column] : temperatures) {
        TemperatureReading r;
        r.use = use;
        r.value = parse_number(text(column), decimal);
        st.temperatures.push_back(r);
      }
      survey.stations.push_back(std::move(st));
      current = &survey.stations.back();
      current_key = key;
    }
    SourceDrop d;
    d.ref = {input.name, row.line, ""};
    d.sequence = static_cast<int>(current->drops.size()) + 1;
    auto number = [&](int column, const char* what) -> std::optional<double> {
      const std::string t = text(column);
      const auto v = parse_number(t, decimal);
      if (!v && d.problem.empty())
        d.problem = "column " + table.header()[static_cast<std::size_t>(column)] + ": expected " + what +
                    ", found '" + t + "'";
      return v;
    };
    if (drop >= 0)
      if (const auto s = number(drop, "the drop number")) d.sequence = static_cast<int>(*s);
    if (height >= 0) d.height = parse_number(text(height), decimal);
    if (const auto l = number(load, "the load")) {
      d.load = pressure ? pressure_to_force(*l, load_unit, survey.plate_radius, survey.length_unit,
                                            survey.load_unit)
                        : *l;
    }
    for (const auto& [n, column] : deflections) d.deflections.push_back(number(column, "a deflection"));
    current->drops.push_back(std::move(d));
  }
  if (survey.stations.empty()) throw InputError(input.name, table.header_line(), "no rows under the header");
  return survey;
}

}  // namespace basinfit::import
