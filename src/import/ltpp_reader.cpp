// LTPP deflection tables (MON_DEFL_DROP_DATA, _LOC_INFO, _DEV_CONFIG, _DEV_SENSORS) exported
// as CSV, each table recognised by its columns.  Drops join their test point on the point's
// key; the point joins its device configuration and sensors on CONFIGURATION_NO.  Stored
// units: DROP_LOAD plate pressure in kPa, PLATE_RADIUS and CENTER_OFFSET in mm, POINT_LOC in
// m, PEAK_DEFL_n in microns, temperatures in C.

#include <algorithm>
#include <map>
#include <set>

#include "common/input_error.h"
#include "import/csv_table.h"
#include "import/readers.h"
#include "import/text_values.h"

namespace basinfit::import {

namespace {

enum class Table { kDrops, kPoints, kConfig, kSensors, kOther };

Table classify(const CsvTable& t) {
  if (t.column("PEAK_DEFL_1") >= 0 && t.column("DROP_LOAD") >= 0) return Table::kDrops;
  if (t.column("SENSOR_NO") >= 0 && t.column("CENTER_OFFSET") >= 0) return Table::kSensors;
  if (t.column("PLATE_RADIUS") >= 0) return Table::kConfig;
  if (t.column("POINT_LOC") >= 0 && t.column("CONFIGURATION_NO") >= 0) return Table::kPoints;
  return Table::kOther;
}

const char* table_name(Table t) {
  switch (t) {
    case Table::kDrops:
      return "MON_DEFL_DROP_DATA";
    case Table::kPoints:
      return "MON_DEFL_LOC_INFO";
    case Table::kConfig:
      return "MON_DEFL_DEV_CONFIG";
    case Table::kSensors:
      return "MON_DEFL_DEV_SENSORS";
    default:
      return "?";
  }
}

std::string text(const CsvRecord& row, int column) { return std::string(CsvTable::field(row, column)); }

double number(const CsvTable& t, const CsvRecord& row, int column, const char* what) {
  const std::string v = text(row, column);
  const auto n = parse_number(v);
  if (!n)
    throw InputError(t.file(), row.line,
                     "column " + t.header()[static_cast<std::size_t>(column)] + ": expected " + what +
                         ", found '" + v + "'");
  return *n;
}

// "99" + "999" -> "99-0999": state code and SHRP id, which spreadsheets strip of leading zeros.
std::string section_id(const std::string& state, const std::string& shrp) {
  std::string s = state, id = shrp;
  if (s.size() < 2) s.insert(0, 2 - s.size(), '0');
  if (id.size() < 4) id.insert(0, 4 - id.size(), '0');
  return s + "-" + id;
}

std::string folded_section(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != '-' && c != ' ') out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  return out;
}

struct KeyColumns {
  int state, shrp, date, time, unit, point, lane;
  explicit KeyColumns(const CsvTable& t)
      : state(t.require("STATE_CODE")),
        shrp(t.require("SHRP_ID")),
        date(t.require("TEST_DATE")),
        time(t.column("TEST_TIME")),
        unit(t.column("DEFL_UNIT_ID")),
        point(t.require("POINT_LOC")),
        lane(t.require("LANE_NO")) {}
  std::string key(const CsvTable& t, const CsvRecord& r) const {
    return section_id(text(r, state), text(r, shrp)) + "|" + text(r, date) + "|" + text(r, time) + "|" +
           text(r, unit) + "|" + number_text(number(t, r, point, "the point location (m)")) + "|" +
           text(r, lane);
  }
};

bool status_ok(const CsvTable& t, const CsvRecord& r, bool any) {
  if (any) return true;
  const int c = t.column("RECORD_STATUS");
  return c < 0 || text(r, c) == "E" || text(r, c).empty();
}

// Keeps the rows whose value (by `value`) equals the chosen one; with nothing chosen, the
// only value present; several present and none chosen is an error listing them.
template <typename Value>
void select(std::vector<const CsvRecord*>& rows, const CsvTable& t, const std::string& chosen,
            const char* what, const char* option, Value value, std::string (*fold_value)(std::string_view)) {
  std::vector<std::string> present;
  for (const CsvRecord* r : rows) {
    const std::string v = value(*r);
    if (std::find(present.begin(), present.end(), v) == present.end()) present.push_back(v);
  }
  std::string want;
  if (chosen.empty()) {
    if (present.size() <= 1) return;
    std::string list;
    for (const std::string& p : present) list += (list.empty() ? "" : ", ") + p;
    throw InputError(
        t.file(), 0,
        std::string("several ") + what + " in the tables (" + list + "); choose one with " + option);
  }
  want = fold_value(chosen);
  std::vector<const CsvRecord*> kept;
  for (const CsvRecord* r : rows)
    if (fold_value(value(*r)) == want) kept.push_back(r);
  if (kept.empty()) {
    std::string list;
    for (const std::string& p : present) list += (list.empty() ? "" : ", ") + p;
    throw InputError(t.file(), 0,
                     std::string("no ") + what + " " + chosen + " in the tables (present: " + list + ")");
  }
  rows = kept;
}

std::string same(std::string_view s) { return std::string(trim(s)); }

}  // namespace

SourceSurvey read_ltpp(const std::vector<InputFile>& files, const ReaderOptions& options) {
  std::map<Table, CsvTable> tables;
  SourceSurvey survey;
  survey.format = "LTPP tables";
  for (const InputFile& f : files) {
    CsvTable t(f.name, read_csv(f.text, f.name, device_csv(guess_delimiter(f.text))));
    const Table kind = classify(t);
    if (kind == Table::kOther) {
      survey.notes.push_back(f.name + ": not one of the deflection tables read here; skipped");
      continue;
    }
    if (const auto it = tables.find(kind); it != tables.end())
      throw InputError(
          f.name, 0,
          std::string("a second ") + table_name(kind) + " table (the first is " + it->second.file() + ")");
    tables.emplace(kind, std::move(t));
  }
  for (Table kind : {Table::kDrops, Table::kPoints, Table::kConfig, Table::kSensors})
    if (!tables.count(kind))
      throw InputError(
          files.empty() ? std::string("LTPP") : files.front().name, 0,
          std::string("the ") + table_name(kind) + " table is missing; the LTPP import needs " +
              "MON_DEFL_DROP_DATA, MON_DEFL_LOC_INFO, MON_DEFL_DEV_CONFIG and MON_DEFL_DEV_SENSORS");
  const CsvTable& drops = tables.at(Table::kDrops);
  const CsvTable& points = tables.at(Table::kPoints);
  const CsvTable& configs = tables.at(Table::kConfig);
  const CsvTable& sensors = tables.at(Table::kSensors);
  survey.file = drops.file();
  // What is not read is listed with --verbose: rows below quality level E, and the columns
  // of each table that the import does not use.
  if (!options.any_record_status)
    for (const CsvTable* t : {&drops, &points, &configs, &sensors}) {
      int below = 0;
      for (const CsvRecord& r : t->rows()) below += status_ok(*t, r, false) ? 0 : 1;
      if (below)
        survey.notes.push_back(t->file() + ": " + std::to_string(below) +
                               " rows below quality level E not read (--any-record-status reads them)");
    }
  const std::vector<std::pair<const CsvTable*, std::vector<std::string>>> used = {
      {&drops,
       {"STATE_CODE", "SHRP_ID", "TEST_DATE", "TEST_TIME", "DEFL_UNIT_ID", "POINT_LOC", "LANE_NO", "DROP_NO",
        "DROP_HEIGHT", "DROP_LOAD", "RECORD_STATUS"}},
      {&points,
       {"STATE_CODE", "SHRP_ID", "TEST_DATE", "TEST_TIME", "DEFL_UNIT_ID", "POINT_LOC", "LANE_NO",
        "CONFIGURATION_NO", "PVMT_SURF_TEMP", "AIR_TEMP_TEST", "RECORD_STATUS"}},
      {&configs, {"CONFIGURATION_NO", "PLATE_RADIUS", "NO_ACTIVE_DEFLECTORS", "RECORD_STATUS"}},
      {&sensors, {"CONFIGURATION_NO", "SENSOR_NO", "CENTER_OFFSET", "RECORD_STATUS"}}};
  for (const auto& [t, names] : used) {
    std::string unread;
    for (const std::string& column : t->header()) {
      const std::string f = fold(column);
      const bool peak = t == &drops && f.rfind("peakdefl", 0) == 0;
      if (peak || std::any_of(names.begin(), names.end(), [&](const std::string& n) { return fold(n) == f; }))
        continue;
      unread += (unread.empty() ? "" : ", ") + column;
    }
    if (!unread.empty()) survey.notes.push_back(t->file() + ": columns not read: " + unread);
  }

  const KeyColumns dk(drops);
  std::vector<const CsvRecord*> rows;
  for (const CsvRecord& r : drops.rows())
    if (status_ok(drops, r, options.any_record_status)) rows.push_back(&r);
  if (rows.empty()) throw InputError(drops.file(), 0, "no drop rows (of quality level E)");
  select(
      rows, drops, options.section, "sections", "--section",
      [&](const CsvRecord& r) { return section_id(text(r, dk.state), text(r, dk.shrp)); }, folded_section);
  select(
      rows, drops, options.test_date, "test dates", "--test-date",
      [&](const CsvRecord& r) { return text(r, dk.date); }, same);
  select(
      rows, drops, options.lane, "lanes", "--lane", [&](const CsvRecord& r) { return text(r, dk.lane); },
      same);

  // Test points.
  const KeyColumns pk(points);
  std::map<std::string, const CsvRecord*> point_rows;
  for (const CsvRecord& r : points.rows()) {
    if (!status_ok(points, r, options.any_record_status)) continue;
    const std::string key = pk.key(points, r);
    if (const auto it = point_rows.find(key); it != point_rows.end())
      throw InputError(points.file(), r.line,
                       "the same test point as on line " + std::to_string(it->second->line));
    point_rows.emplace(key, &r);
  }
  const int p_config = points.require("CONFIGURATION_NO");
  const int p_surface = points.column("PVMT_SURF_TEMP");
  const int p_air = points.column("AIR_TEMP_TEST");

  // Device configuration and sensors (one per run: the engine has one plate and one basin).
  const int c_no = configs.require("CONFIGURATION_NO");
  const int c_radius = configs.require("PLATE_RADIUS");
  const int c_active = configs.column("NO_ACTIVE_DEFLECTORS");
  const int s_config = sensors.require("CONFIGURATION_NO");
  const int s_no = sensors.require("SENSOR_NO");
  const int s_offset = sensors.require("CENTER_OFFSET");
  std::string configuration;
  const CsvRecord* configuration_from = nullptr;

  const int d_no = drops.require("DROP_NO");
  const int d_height = drops.column("DROP_HEIGHT");
  const int d_load = drops.require("DROP_LOAD");
  std::map<std::string, std::size_t> station_of;
  std::vector<int> peak_columns;
  std::string lane, date, section;
  for (const CsvRecord* r : rows) {
    const std::string key = dk.key(drops, *r);
    auto found = station_of.find(key);
    if (found == station_of.end()) {
      const auto point = point_rows.find(key);
      if (point == point_rows.end())
        throw InputError(drops.file(), r->line,
                         "no test point of " + points.file() + " matches this drop (" + key + ")");
      const CsvRecord& p = *point->second;
      const std::string config = text(p, p_config);
      if (configuration.empty()) {
        configuration = config;
        configuration_from = &p;
      } else if (config != configuration) {
        throw InputError(points.file(), p.line,
                         "device configuration " + config + " differs from configuration " + configuration +
                             " on line " + std::to_string(configuration_from->line) +
                             "; import one configuration at a time");
      }
      SourceStation st;
      st.ref = {points.file(), p.line, ""};
      st.chainage = number(points, p, pk.point, "the point location (m)");
      st.lane = text(p, pk.lane);
      if (p_surface >= 0) st.temperatures.push_back({"surface", parse_number(text(p, p_surface))});
      if (p_air >= 0) st.temperatures.push_back({"air", parse_number(text(p, p_air))});
      lane = st.lane;
      date = text(p, pk.date);
      section = section_id(text(p, pk.state), text(p, pk.shrp));
      survey.stations.push_back(std::move(st));
      found = station_of.emplace(key, survey.stations.size() - 1).first;
    }
    SourceDrop d;
    d.ref = {drops.file(), r->line, ""};
    const auto seq = parse_number(text(*r, d_no));
    if (!seq)
      throw InputError(drops.file(), r->line,
                       "column DROP_NO: expected the drop number, found '" + text(*r, d_no) + "'");
    d.sequence = static_cast<int>(*seq);
    if (d_height >= 0) d.height = parse_number(text(*r, d_height));
    d.load = parse_number(text(*r, d_load));  // a pressure until the plate is known
    if (!d.load)
      d.problem = "column DROP_LOAD: expected the plate pressure (kPa), found '" + text(*r, d_load) + "'";
    survey.stations[found->second].drops.push_back(std::move(d));
    (void)peak_columns;
  }

  // The configuration's plate and sensors.
  const CsvRecord* config_row = nullptr;
  for (const CsvRecord& r : configs.rows())
    if (status_ok(configs, r, options.any_record_status) && text(r, c_no) == configuration) {
      if (config_row)
        throw InputError(configs.file(), r.line,
                         "configuration " + configuration + " again (also on line " +
                             std::to_string(config_row->line) + ")");
      config_row = &r;
    }
  if (!config_row)
    throw InputError(points.file(), configuration_from->line,
                     "configuration " + configuration + " is not in " + configs.file());
  survey.length_unit = Unit::kMillimetre;
  survey.geometry = {configs.file(), config_row->line, "configuration " + configuration};
  survey.plate_radius = number(configs, *config_row, c_radius, "the plate radius (mm)");
  if (!(survey.plate_radius > 0))
    throw InputError(configs.file(), config_row->line, "the plate radius must be above 0");
  std::vector<std::pair<int, const CsvRecord*>> sensor_rows;
  for (const CsvRecord& r : sensors.rows())
    if (status_ok(sensors, r, options.any_record_status) && text(r, s_config) == configuration) {
      const double n = number(sensors, r, s_no, "the sensor number");
      if (n < 1 || n > 99 || n != static_cast<int>(n))
        throw InputError(sensors.file(), r.line, "sensor number " + text(r, s_no) + ", expected 1 to 99");
      for (const auto& [m, other] : sensor_rows)
        if (m == static_cast<int>(n))
          throw InputError(
              sensors.file(), r.line,
              "sensor " + text(r, s_no) + " again (also on line " + std::to_string(other->line) + ")");
      sensor_rows.emplace_back(static_cast<int>(n), &r);
    }
  std::sort(sensor_rows.begin(), sensor_rows.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  if (sensor_rows.empty())
    throw InputError(sensors.file(), 0, "no sensors of configuration " + configuration);
  if (c_active >= 0) {
    const double active = number(configs, *config_row, c_active, "the number of active sensors");
    if (active != static_cast<double>(sensor_rows.size()))
      throw InputError(configs.file(), config_row->line,
                       "NO_ACTIVE_DEFLECTORS is " + text(*config_row, c_active) + ", but " + sensors.file() +
                           " lists " + std::to_string(sensor_rows.size()) + " sensors of configuration " +
                           configuration);
  }
  for (const auto& [n, r] : sensor_rows) {
    survey.sensors.push_back({n, number(sensors, *r, s_offset, "the sensor offset (mm)"), 0.0});
    const int column = drops.column("PEAK_DEFL_" + std::to_string(n));
    if (column < 0)
      throw InputError(drops.file(), drops.header_line(),
                       "no column PEAK_DEFL_" + std::to_string(n) + " for sensor " + std::to_string(n));
    peak_columns.push_back(column);
  }

  // Deflections and loads, now that the sensors and the plate are known.
  std::size_t next = 0;
  std::vector<std::size_t> done(survey.stations.size(), 0);
  for (const CsvRecord* r : rows) {
    const std::size_t s = station_of.at(dk.key(drops, *r));
    SourceDrop& d = survey.stations[s].drops[done[s]++];
    if (d.load)
      d.load = pressure_to_force(*d.load, Unit::kKilopascal, survey.plate_radius, Unit::kMillimetre,
                                 Unit::kNewton);
    for (std::size_t i = 0; i < peak_columns.size(); ++i) {
      const std::string v = text(*r, peak_columns[i]);
      const auto value = parse_number(v);
      if (!value && d.problem.empty())
        d.problem = "column " + drops.header()[static_cast<std::size_t>(peak_columns[i])] +
                    ": expected a deflection (microns), found '" + v + "'";
      d.deflections.push_back(value);
    }
    ++next;
  }
  survey.chainage_unit = Unit::kMetre;
  survey.load_unit = Unit::kNewton;
  survey.deflection_unit = Unit::kMicron;
  survey.temperature_unit = Unit::kCelsius;
  survey.route = "LTPP section " + section + ", lane " + lane + ", " + date;
  return survey;
}

}  // namespace basinfit::import
