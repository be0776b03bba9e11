// PDDX (Pavement Deflection Data Exchange, versions 1.0 and 2.0): an INI-like text of
// [Section] headings and Key = value lines.  Read tolerantly: keys in any order and case,
// section names without regard to case and runs of blanks, unknown sections and keys noted
// and skipped, list values split on the file's declared delimiter and numbers read with its
// declared decimal mark.  What the run needs and is missing is an error naming the section.

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "common/input_error.h"
#include "import/readers.h"
#include "import/text_values.h"

namespace basinfit::import {

namespace {

struct Entry {
  std::string key;  // as written
  std::string value;
  int line = 0;
};

struct Section {
  std::string name;  // as written
  int line = 0;
  std::map<std::string, Entry> entries;  // by lower-case key
};

std::string section_key(std::string_view name) {
  std::string out;
  bool blank = false;
  for (char c : trim(name)) {
    if (c == ' ' || c == '\t') {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out.push_back(' ');
    blank = false;
    out.push_back(c);
  }
  return lower(out);
}

class PddxFile {
 public:
  explicit PddxFile(const InputFile& file) : name_(file.name) {
    std::string_view text = file.text;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    Section* current = nullptr;
    int line = 0;
    std::size_t start = 0;
    while (start < text.size()) {
      ++line;
      auto end = text.find('\n', start);
      const std::string_view raw =
          text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
      start = end == std::string_view::npos ? text.size() : end + 1;
      const std::string_view s = trim(raw);
      if (s.empty()) continue;
      if (s.front() == '[') {
        if (s.back() != ']') throw InputError(name_, line, "a section heading must end with ']'");
        sections_.push_back({std::string(trim(s.substr(1, s.size() - 2))), line, {}});
        current = &sections_.back();
        continue;
      }
      const auto eq = s.find('=');
      if (eq == std::string_view::npos)
        throw InputError(name_, line,
                         "expected a [Section] heading or a Key = value line, found '" +
                             std::string(s.substr(0, 40)) + "'");
      if (!current) throw InputError(name_, line, "a Key = value line before the first [Section] heading");
      Entry entry{std::string(trim(s.substr(0, eq))), std::string(trim(s.substr(eq + 1))), line};
      const std::string key = lower(entry.key);
      if (const auto found = current->entries.find(key); found != current->entries.end())
        throw InputError(name_, line,
                         "[" + current->name + "] " + entry.key + " is given twice (also on line " +
                             std::to_string(found->second.line) + ")");
      current->entries.emplace(key, std::move(entry));
    }
    last_line_ = line;
  }

  const std::string& name() const { return name_; }
  int last_line() const { return last_line_; }
  std::vector<Section>& sections() { return sections_; }

  const Section* find(std::string_view section) const {
    const std::string key = section_key(section);
    const Section* found = nullptr;
    for (const Section& s : sections_)
      if (section_key(s.name) == key) {
        if (found)
          throw InputError(
              name_, s.line,
              "section [" + s.name + "] appears twice (also on line " + std::to_string(found->line) + ")");
        found = &s;
      }
    return found;
  }
  const Section& require(std::string_view section) const {
    const Section* s = find(section);
    if (!s)
      throw InputError(name_, 0,
                       "no [" + std::string(section) + "] section; the survey cannot be read without it");
    return *s;
  }

 private:
  std::string name_;
  std::vector<Section> sections_;
  int last_line_ = 0;
};

class Values {
 public:
  Values(const PddxFile& file, char delimiter, char decimal)
      : file_(file), delimiter_(delimiter), decimal_(decimal) {}

  const Entry* find(const Section& s, std::string_view key) const {
    used_.insert(&s.entries);
    used_keys_.insert(section_key(s.name) + "/" + lower(key));
    const auto it = s.entries.find(lower(key));
    return it == s.entries.end() ? nullptr : &it->second;
  }
  const Entry& require(const Section& s, std::string_view key) const {
    const Entry* e = find(s, key);
    if (!e)
      throw InputError(file_.name(), s.line,
                       "[" + s.name + "] has no " + std::string(key) + " key; it is needed");
    return *e;
  }
  [[noreturn]] void fail(const Section& s, const Entry& e, const std::string& reason) const {
    throw InputError(file_.name(), e.line, "[" + s.name + "] " + e.key + ": " + reason);
  }
  std::vector<std::string> list(const Entry& e) const {
    std::string value = e.value;
    // Some producers append "// remark" to a value; the remark is set aside with a note.
    if (const auto comment = value.find("//"); comment != std::string::npos) {
      value.resize(comment);
      notes_.push_back(file_.name() + ", line " + std::to_string(e.line) + ": text after // in " + e.key +
                       " ignored");
    }
    return split(trim(value), delimiter_);
  }
  double number(const Section& s, const Entry& e, const std::string& item, const std::string& what) const {
    const auto v = parse_number(item, decimal_);
    if (!v) fail(s, e, "expected " + what + ", found '" + item + "'");
    return *v;
  }
  std::vector<double> numbers(const Section& s, const Entry& e, const std::string& what) const {
    std::vector<double> out;
    for (const std::string& item : list(e)) out.push_back(number(s, e, item, what));
    return out;
  }
  int count(const Section& s, std::string_view key) const {
    const Entry& e = require(s, key);
    const double v = number(s, e, std::string(trim(e.value)), "a whole number");
    if (v < 0 || v > 100000 || v != static_cast<int>(v))
      fail(s, e, "expected a whole number, found '" + e.value + "'");
    return static_cast<int>(v);
  }
  Unit unit(const Section& s, std::string_view key, Quantity quantity, std::size_t item = 0) const {
    const Entry& e = require(s, key);
    const auto items = list(e);
    const std::string word = item < items.size() ? items[item] : std::string();
    const auto u = parse_unit(word);
    if (!u) fail(s, e, "unknown unit word '" + word + "'");
    if (quantity_of(*u) != quantity &&
        !(quantity == Quantity::kForce && quantity_of(*u) == Quantity::kPressure))
      fail(s, e,
           "'" + word + "' is not a unit of " +
               (quantity == Quantity::kLength        ? "length"
                : quantity == Quantity::kTemperature ? "temperature"
                                                     : "force"));
    return *u;
  }
  bool used(const Section& s, const std::string& key) const {
    return used_keys_.count(section_key(s.name) + "/" + key) > 0;
  }

 private:
  const PddxFile& file_;
  char delimiter_;
  char decimal_;
  mutable std::set<const void*> used_;
  mutable std::set<std::string> used_keys_;

 public:
  mutable std::vector<std::string> notes_;
};

char symbol_value(const PddxFile& file, const Section& s, std::string_view key, char fallback,
                  SourceSurvey& survey) {
  const auto it = s.entries.find(lower(key));
  if (it == s.entries.end()) {
    survey.notes.push_back(file.name() + ": no " + std::string(key) + "; '" + std::string(1, fallback) +
                           "' assumed");
    return fallback;
  }
  // The symbol itself may be a blank-free single character; a comma is written bare.
  const std::string v(trim(it->second.value));
  if (v.size() != 1)
    throw InputError(file.name(), it->second.line,
                     std::string(key) + ": expected one character, found '" + v + "'");
  return v[0];
}

}  // namespace

SourceSurvey read_pddx(const InputFile& input) {
  PddxFile file(input);
  SourceSurvey survey;
  survey.file = file.name();
  const Section& head = file.require("Pavement Deflection Data Exchange File");
  const char delimiter = symbol_value(file, head, "DelimiterSymbol", ',', survey);
  const char decimal = symbol_value(file, head, "DecimalSymbol", '.', survey);
  if (delimiter == decimal)
    throw InputError(file.name(), head.line, "DelimiterSymbol and DecimalSymbol are the same character");
  const Values v(file, delimiter, decimal);
  v.find(head, "DelimiterSymbol");
  v.find(head, "DecimalSymbol");
  const Entry& version = v.require(head, "PDDXVersionNumber");
  // Producers write the version as "2.0" whatever the file's decimal mark is.
  auto version_number = parse_number(version.value, decimal);
  for (char mark : {'.', ','})
    if (!version_number) version_number = parse_number(version.value, mark);
  if (!version_number || (*version_number != 1.0 && *version_number != 2.0))
    v.fail(head, version, "expected 1.0 or 2.0, found '" + version.value + "'");
  survey.format = *version_number == 1.0 ? "PDDX 1.0" : "PDDX 2.0";

  const Section& units = file.require("Units");
  survey.length_unit = v.unit(units, "SensorLocationUnits", Quantity::kLength);
  const Unit plate_unit = v.unit(units, "LoadPlateRadiusUnits", Quantity::kLength);
  const Unit load_unit = v.unit(units, "LoadUnits", Quantity::kForce);
  survey.deflection_unit = v.unit(units, "DeflectionUnits", Quantity::kLength);
  // A load given as plate pressure becomes a force on the plate.
  survey.load_unit = quantity_of(load_unit) == Quantity::kPressure
                         ? (survey.english() ? Unit::kPoundForce : Unit::kNewton)
                         : load_unit;
  const Section* ops = file.find("Operations Information");
  (void)ops;

  const Section& device = file.require("Device Configuration");
  survey.geometry = {file.name(), device.line, "[" + device.name + "]"};
  const Entry& radius_entry = v.require(device, "LoadPlateRadius");
  survey.plate_radius =
      convert(v.number(device, radius_entry, std::string(trim(radius_entry.value)), "the plate radius"),
              plate_unit, survey.length_unit);
  const int ns = v.count(device, "NumberOfDeflectionSensors");
  const Entry& xs_entry = v.require(device, "DeflectionSensorXAxisDistances");
  const std::vector<double> xs = v.numbers(device, xs_entry, "a sensor distance");
  std::vector<double> ys(xs.size(), 0.0);
  if (const Entry* ye = v.find(device, "DeflectionSensorYAxisDistances")) {
    ys = v.numbers(device, *ye, "a sensor distance");
    if (ys.size() != xs.size())
      v.fail(
          device, *ye,
          std::to_string(ys.size()) + " values, expected " + std::to_string(xs.size()) + " as on the X list");
  }
  if (static_cast<int>(xs.size()) != ns)
    v.fail(device, xs_entry,
           std::to_string(xs.size()) + " values, expected NumberOfDeflectionSensors = " + std::to_string(ns));
  if (ns == 0) v.fail(device, xs_entry, "no sensors");
  for (int i = 0; i < ns; ++i) {
    const auto k = static_cast<std::size_t>(i);
    survey.sensors.push_back({i + 1, xs[k], ys[k]});
    if (ys[k] != 0)
      survey.notes.push_back(file.name() + ", line " + std::to_string(xs_entry.line) + ": sensor " +
                             std::to_string(i + 1) + " has a Y distance; its offset is sqrt(x^2 + y^2)");
  }
  std::vector<std::string> uses;
  if (const Entry* use = v.find(device, "TemperatureSensorUse"))
    for (const std::string& u : v.list(*use)) uses.push_back(fold(u));
  v.find(device, "NumberOfTemperatureSensors");

  const Section* location = file.find("Location Identification");
  if (location) {
    std::string route;
    for (const char* key : {"FacilityName", "SectionName"})
      if (const Entry* e = v.find(*location, key); e && !e->value.empty())
        route += (route.empty() ? "" : ", ") + e->value;
    survey.route = route;
  }

  // Test locations, ordered by their number.
  std::vector<std::pair<long, const Section*>> points;
  for (const Section& s : file.sections()) {
    const std::string key = section_key(s.name);
    if (key.rfind("test location", 0) != 0) continue;
    const auto n = parse_number(key.substr(13));
    if (!n || *n != static_cast<long>(*n))
      throw InputError(file.name(), s.line,
                       "expected [Test Location n] with a whole number n, found [" + s.name + "]");
    points.emplace_back(static_cast<long>(*n), &s);
  }
  std::stable_sort(points.begin(), points.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 1; i < points.size(); ++i)
    if (points[i].first == points[i - 1].first)
      throw InputError(file.name(), points[i].second->line, "[" + points[i].second->name + "] appears twice");
  if (location) {
    if (v.find(*location, "NumberOfTestLocations")) {
      const int declared = v.count(*location, "NumberOfTestLocations");
      if (declared != static_cast<int>(points.size()))
        throw InputError(file.name(), file.last_line(),
                         "the file holds " + std::to_string(points.size()) +
                             " [Test Location n] sections, but " + "NumberOfTestLocations is " +
                             std::to_string(declared) + " (a truncated or damaged file?)");
    }
  }
  if (points.empty()) throw InputError(file.name(), file.last_line(), "no [Test Location n] section");

  // GPS positions are kept where GPSUnits gives degrees (or is absent: degrees are the rule).
  bool gps_in_degrees = true;
  if (const Entry* gps_units = v.find(units, "GPSUnits")) {
    const auto words = v.list(*gps_units);
    for (std::size_t i = 0; i < 2; ++i)
      if (i >= words.size() || fold(words[i]).rfind("degree", 0) != 0) gps_in_degrees = false;
    if (!gps_in_degrees)
      survey.notes.push_back(file.name() + ", line " + std::to_string(gps_units->line) +
                             ": GPS positions not kept: GPSUnits gives no degrees of latitude and longitude");
  }

  bool temperatures_needed = false;
  bool have_location_units = false;
  for (const auto& [n, section] : points) {
    const Section& s = *section;
    SourceStation st;
    st.ref = {file.name(), s.line, "[" + s.name + "]"};
    const Entry& loc = v.require(s, "TestLocation");
    const auto loc_items = v.list(loc);
    if (!have_location_units) {
      survey.chainage_unit = v.unit(units, "TestLocationUnits", Quantity::kLength);
      have_location_units = true;
    }
    st.chainage =
        v.number(s, loc, loc_items.empty() ? std::string() : loc_items[0], "the station (chainage)");
    if (const Entry* lane = v.find(s, "TestLane")) st.lane = lane->value;
    if (const Entry* comment = v.find(s, "TestComment")) st.comment = comment->value;
    if (const Entry* gps = v.find(s, "GPSLocation"); gps && gps_in_degrees) {
      const auto items = v.list(*gps);
      const auto lat = items.size() >= 2 ? parse_number(items[0], decimal) : std::nullopt;
      const auto lon = items.size() >= 2 ? parse_number(items[1], decimal) : std::nullopt;
      if (lat && lon && std::fabs(*lat) <= 90 && std::fabs(*lon) <= 180) {
        st.latitude = lat;
        st.longitude = lon;
      } else {
        survey.notes.push_back(file.name() + ", line " + std::to_string(gps->line) + ": [" + s.name +
                               "] GPSLocation '" + gps->value +
                               "' is no latitude and longitude in degrees; not kept");
      }
    }
    if (const Entry* temps = v.find(s, "TestTemperatures")) {
      const auto items = v.list(*temps);
      if (!uses.empty() && items.size() != uses.size())
        v.fail(s, *temps,
               std::to_string(items.size()) + " values, expected one per TemperatureSensorUse (" +
                   std::to_string(uses.size()) + ")");
      for (std::size_t i = 0; i < items.size(); ++i) {
        TemperatureReading r;
        r.use = i < uses.size() ? uses[i] : "t" + std::to_string(i + 1);
        if (!items[i].empty()) r.value = v.number(s, *temps, items[i], "a temperature");
        st.temperatures.push_back(r);
      }
      temperatures_needed = true;
    }
    const int drops = v.count(s, "NumberOfDrops");
    // DropData1..n; also DropData_1 and 0-based numbering, ordered by the number.
    std::vector<std::pair<long, const Entry*>> found;
    for (const auto& [key, entry] : s.entries) {
      std::string k = key;
      if (k.rfind("dropdata", 0) != 0) continue;
      k.erase(0, 8);
      if (!k.empty() && k[0] == '_') k.erase(0, 1);
      const auto number = parse_number(k);
      if (k.empty() || !number || *number != static_cast<long>(*number) ||
          k.find_first_not_of("0123456789") != std::string::npos)
        continue;
      v.find(s, key);
      found.emplace_back(static_cast<long>(*number), &entry);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    int sequence = 0;
    for (const auto& [number, entry] : found) {
      SourceDrop d;
      d.sequence = ++sequence;
      d.ref = {file.name(), entry->line, "[" + s.name + "] " + entry->key};
      const auto items = v.list(*entry);
      if (static_cast<int>(items.size()) != ns + 1)
        v.fail(s, *entry,
               std::to_string(items.size()) + " values, expected the load and " + std::to_string(ns) +
                   " deflections");
      const double load = v.number(s, *entry, items[0], "the load");
      d.load =
          quantity_of(load_unit) == Quantity::kPressure
              ? pressure_to_force(load, load_unit, survey.plate_radius, survey.length_unit, survey.load_unit)
              : load;
      for (int i = 1; i <= ns; ++i)
        d.deflections.push_back(v.number(s, *entry, items[static_cast<std::size_t>(i)], "a deflection"));
      st.drops.push_back(std::move(d));
    }
    if (static_cast<int>(found.size()) != drops)
      throw InputError(file.name(), found.empty() ? s.line : found.back().second->line,
                       "[" + s.name + "] holds " + std::to_string(found.size()) +
                           " DropData entries, but NumberOfDrops is " + std::to_string(drops) +
                           " (a truncated or damaged file?)");
    survey.stations.push_back(std::move(st));
  }
  if (temperatures_needed || units.entries.count("temperatureunits"))
    survey.temperature_unit = v.unit(units, "TemperatureUnits", Quantity::kTemperature);

  survey.notes.insert(survey.notes.end(), v.notes_.begin(), v.notes_.end());
  // Everything not read is listed: keys of the test locations once each, keys of the other
  // sections (device information, calibration factors, ...) each, unknown sections whole.
  const std::set<std::string> known_sections = {"pavement deflection data exchange file",
                                                "units",
                                                "operations information",
                                                "device information",
                                                "device configuration",
                                                "device calibration",
                                                "location identification"};
  std::set<std::string> noted_keys;
  for (const Section& s : file.sections()) {
    const std::string key = section_key(s.name);
    const bool location = key.rfind("test location", 0) == 0;
    if (!location && !known_sections.count(key)) {
      survey.notes.push_back(file.name() + ", line " + std::to_string(s.line) + ": section [" + s.name +
                             "] not read");
      continue;
    }
    std::vector<const Entry*> unread;
    for (const auto& [k, e] : s.entries)
      if (!v.used(s, k) && (!location || noted_keys.insert(k).second)) unread.push_back(&e);
    std::sort(unread.begin(), unread.end(), [](const Entry* a, const Entry* b) { return a->line < b->line; });
    for (const Entry* e : unread)
      survey.notes.push_back(file.name() + ", line " + std::to_string(e->line) + ": [" + s.name + "] " +
                             e->key + " not read" +
                             (location ? " (in any test location)"
                              : lower(e->key).find("calibration") != std::string::npos
                                  ? " (the peaks are taken as the file gives them)"
                                  : ""));
  }
  return survey;
}

}  // namespace basinfit::import
