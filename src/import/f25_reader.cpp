// Dynatest F25, limited to the records whose meaning independent readers and writers of the
// format agree on: 5031 (title), 5020 (plate radius, then sensor positions from the plate
// centre, unused slots N0), 5301 (a test point: field 5 the station, field 8 the lane),
// 5303 (three temperatures after a unit flag, 0 = Celsius) and the drop lines (a sequence
// number below 5000, the peak load as plate pressure, then one peak deflection per sensor).
// Units are not stated in the file: positions in mm, pressure in kPa, deflections in microns,
// the station in m, unless options say otherwise.  Every other record is skipped.

#include <cmath>
#include <map>
#include <optional>
#include <utility>

#include "common/input_error.h"
#include "import/csv_table.h"
#include "import/readers.h"
#include "import/text_values.h"

namespace basinfit::import {

SourceSurvey read_f25(const InputFile& input, const ReaderOptions& options) {
  SourceSurvey survey;
  survey.format = "F25";
  survey.file = input.name;
  survey.units_from_options = true;
  survey.length_unit = options.offset_unit.value_or(Unit::kMillimetre);
  survey.chainage_unit = options.chainage_unit.value_or(Unit::kMetre);
  survey.deflection_unit = options.deflection_unit.value_or(Unit::kMicron);
  const Unit pressure = options.load_unit.value_or(Unit::kKilopascal);
  if (quantity_of(pressure) != Quantity::kPressure)
    throw InputError("--load-unit", 0,
                     "F25 drop lines hold the plate pressure; give a pressure unit (kPa or psi)");
  survey.load_unit = survey.english() ? Unit::kPoundForce : Unit::kNewton;
  survey.temperature_unit = Unit::kCelsius;

  bool have_geometry = false;
  std::size_t sensor_count = 0;
  std::map<int, int> skipped_records;  // record id -> count
  // A GPS fix (record 5280) belongs to the station record that follows it.
  std::optional<std::pair<double, double>> pending_fix;
  int extra_fields = 0;  // drop lines with fields after the deflections (meaning unknown)
  for (const CsvRecord& r : read_csv(input.text, input.name, device_csv(','))) {
    auto field = [&](std::size_t i) {
      return i < r.fields.size() ? std::string_view(r.fields[i]) : std::string_view();
    };
    auto number = [&](std::size_t i, const char* what) {
      const auto v = parse_number(field(i));
      if (!v)
        throw InputError(input.name, r.line,
                         "record " + std::string(field(0)) + ", field " + std::to_string(i) + ": expected " +
                             what + ", found '" + std::string(field(i)) + "'");
      return *v;
    };
    const auto id_value = parse_number(field(0));
    if (!id_value || *id_value != static_cast<int>(*id_value) || *id_value < 0)
      throw InputError(input.name, r.line,
                       "expected a record id (a whole number) first, found '" + std::string(field(0)) + "'");
    const int id = static_cast<int>(*id_value);
    if (id == 5031) {
      survey.route = std::string(trim(field(1)));
    } else if (id == 5020) {
      survey.plate_radius = number(1, "the plate radius");
      survey.geometry = {input.name, r.line, "record 5020"};
      survey.sensors.clear();
      for (std::size_t i = 2; i < r.fields.size(); ++i) {
        if (fold(field(i)) == "n0" || field(i).empty()) continue;
        survey.sensors.push_back({static_cast<int>(i - 1), number(i, "a sensor position"), 0.0});
      }
      sensor_count = survey.sensors.size();
      have_geometry = true;
    } else if (id == 5301) {
      SourceStation st;
      st.ref = {input.name, r.line, "record 5301"};
      st.chainage = number(5, "the station");
      st.lane = std::string(trim(field(8)));
      if (pending_fix) {
        st.latitude = pending_fix->first;
        st.longitude = pending_fix->second;
        pending_fix.reset();
      }
      survey.stations.push_back(std::move(st));
    } else if (id == 5280) {
      // Status 0 is a valid fix; latitude and longitude in signed decimal degrees.
      const auto status = parse_number(field(1));
      const auto lat = parse_number(field(3));
      const auto lon = parse_number(field(4));
      if (status && *status == 0 && lat && lon && std::fabs(*lat) <= 90 && std::fabs(*lon) <= 180) {
        pending_fix = std::make_pair(*lat, *lon);
      } else {
        pending_fix.reset();
        survey.notes.push_back(input.name + ", line " + std::to_string(r.line) +
                               ": record 5280 holds no valid GPS fix; not kept");
      }
    } else if (id == 5302) {
      // Position flags, then the operator's comment in the last field.
      if (!survey.stations.empty() && r.fields.size() > 8)
        survey.stations.back().comment = std::string(trim(r.fields.back()));
    } else if (id == 5303) {
      if (survey.stations.empty()) continue;  // the header's defaults
      const double flag = number(1, "the temperature unit flag");
      if (flag != 0)
        throw InputError(
            input.name, r.line,
            "record 5303: temperature unit flag " + std::string(field(1)) + "; only 0 (Celsius) is known");
      const char* uses[] = {"asphalt", "surface", "air"};
      auto& temps = survey.stations.back().temperatures;
      temps.clear();
      for (std::size_t i = 0; i < 3; ++i) temps.push_back({uses[i], parse_number(field(i + 2))});
    } else if (id < 5000) {
      if (survey.stations.empty())
        throw InputError(input.name, r.line, "a drop line before the first station record (5301)");
      if (!have_geometry)
        throw InputError(input.name, r.line, "a drop line before the sensor positions (record 5020)");
      SourceDrop d;
      d.sequence = id;
      d.ref = {input.name, r.line, "drop " + std::to_string(id)};
      if (r.fields.size() < sensor_count + 2)
        throw InputError(input.name, r.line,
                         "drop line: " + std::to_string(r.fields.size() - 1) +
                             " values, expected the load and " + std::to_string(sensor_count) +
                             " deflections");
      const auto load = parse_number(field(1));
      if (load) {
        d.load =
            pressure_to_force(*load, pressure, survey.plate_radius, survey.length_unit, survey.load_unit);
      } else {
        d.problem = "field 1: expected the load (plate pressure), found '" + std::string(field(1)) + "'";
      }
      for (std::size_t i = 0; i < sensor_count; ++i) {
        const auto v = parse_number(field(i + 2));
        if (!v && d.problem.empty())
          d.problem = "field " + std::to_string(i + 2) + ": expected a deflection, found '" +
                      std::string(field(i + 2)) + "'";
        d.deflections.push_back(v);
      }
      if (r.fields.size() > sensor_count + 2) ++extra_fields;
      survey.stations.back().drops.push_back(std::move(d));
    } else {
      ++skipped_records[id];
    }
  }
  if (!have_geometry) throw InputError(input.name, 0, "no record 5020 (plate radius and sensor positions)");
  // Station records without drop lines are the header's defaults or empty points.
  std::erase_if(survey.stations, [](const SourceStation& s) { return s.drops.empty(); });
  if (extra_fields)
    survey.notes.push_back(input.name + ": " + std::to_string(extra_fields) +
                           " drop lines carry fields after the deflections; they are not read");
  if (!skipped_records.empty()) {
    std::string list;
    for (const auto& [id, count] : skipped_records)
      list += (list.empty() ? "" : ", ") + std::to_string(id) +
              (count > 1 ? " (" + std::to_string(count) + ")" : "");
    survey.notes.push_back(input.name + ": records not read (their meaning is not established): " + list);
  }
  return survey;
}

}  // namespace basinfit::import
