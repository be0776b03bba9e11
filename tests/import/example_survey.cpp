#include "example_survey.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <sstream>

namespace basinfit::import_test {

namespace {

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::string w;
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == ',' || c == '\r') {
      if (!w.empty()) out.push_back(w);
      w.clear();
    } else {
      w.push_back(c);
    }
  }
  if (!w.empty()) out.push_back(w);
  return out;
}

std::vector<double> numbers(const std::string& line) {
  std::vector<double> out;
  for (const std::string& w : words(line)) out.push_back(std::stod(w));
  return out;
}

std::vector<std::string> lines_of(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  std::string line;
  while (std::getline(in, line))
    if (!words(line).empty() || out.empty()) out.push_back(line);
  return out;
}

std::string g17(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%.17g", v);
  return b;
}

// The decimal text as the example wrote it, for identity where no conversion is meant.
std::string plain(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%.9g", v);
  return b;
}

}  // namespace

ExampleSurvey read_example(const std::filesystem::path& folder) {
  ExampleSurvey s;
  const auto standard = numbers(lines_of(folder / "standard.dat")[0]);
  s.reference_f = standard[1];
  const auto g = lines_of(folder / "general.dat");
  const auto r2 = numbers(g[1]);
  s.layers = static_cast<int>(r2[0]);
  s.english = r2[1] != 0;
  s.radius = r2[2];
  const int ns = static_cast<int>(r2[3]);
  s.weighting = static_cast<int>(r2[4]);
  s.offsets = numbers(g[2]);
  s.offsets.resize(static_cast<std::size_t>(ns));
  const auto r4 = numbers(g[3]);
  s.adjust = static_cast<int>(r4[0]);
  s.temperature_option = static_cast<int>(r4[1]);
  s.seed_option = static_cast<int>(r4[2]);
  s.stiff = static_cast<int>(r4[3]);
  std::size_t i = 4;
  for (int j = 0; j < s.layers; ++j) s.layer_records.push_back(numbers(g[i++]));
  const auto tol = numbers(g[i++]);
  s.max_iterations = tol[0];
  s.rms = tol[1];
  s.modulus = tol[2];
  for (; i < g.size(); ++i) s.points.push_back(numbers(g[i]));

  const auto d = lines_of(folder / "deflections.dat");
  s.route = d[0];
  for (std::size_t k = 1; k < d.size();) {
    const auto w = words(d[k]);
    ExampleStation st;
    st.id = w[0];
    st.drops = std::stoi(w[1]);
    for (int t = 0; t < 4; ++t) st.thickness.push_back(std::stod(w[static_cast<std::size_t>(2 + t)]));
    st.t1 = std::stod(w[6]);
    st.t2 = std::stod(w[7]);
    // Identifiers are chainages: "1050" (m) or "STA10+50" (hundreds of feet).
    std::string digits;
    for (char c : st.id)
      if (std::isdigit(static_cast<unsigned char>(c))) digits.push_back(c);
    st.chainage = std::stod(digits);
    ++k;
    for (int r = 0; r < st.drops; ++r) st.rows.push_back(numbers(d[k++]));
    s.stations.push_back(st);
  }
  return s;
}

std::string structure_csv(const ExampleSurvey& s) {
  std::string out = std::string("units,") + (s.english ? "english" : "metric") + "\n";
  out += "title,\"Example structure, from the general data\"\n";
  for (const auto& l : s.layer_records) {
    out += "layer," + plain(l[0]) + "," + (l[1] == 0 ? "backcalculated" : "fixed") + "," + plain(l[2]) + "," +
           plain(l[3]);
    if (l[1] == 0) out += "," + plain(l[4]) + "," + plain(l[5]);
    out += "\n";
  }
  out += std::string("stiff_layer,") + (s.stiff ? "yes" : "no") + "\n";
  for (const ExampleStation& st : s.stations) {
    out += "thickness," + plain(st.chainage) + "," + plain(st.chainage);
    for (int j = 0; j < s.layers - 1; ++j) out += "," + plain(st.thickness[static_cast<std::size_t>(j)]);
    out += "\n";
  }
  for (const auto& p : s.points) out += "point," + plain(p[0]) + "," + plain(p[1]) + "," + plain(p[2]) + "\n";
  return out;
}

std::vector<std::string> run_options(const ExampleSurvey& s) {
  std::vector<std::string> o = {"--weighting",
                                std::to_string(s.weighting),
                                "--temperature-adjust",
                                std::to_string(s.adjust),
                                "--temperature-option",
                                std::to_string(s.temperature_option),
                                "--seeds",
                                s.seed_option == 0 ? "computed" : "given",
                                "--max-iterations",
                                plain(s.max_iterations),
                                "--rms-tolerance",
                                plain(s.rms),
                                "--modulus-tolerance",
                                plain(s.modulus),
                                "--reference-temperature",
                                s.english ? plain(s.reference_f) : plain((s.reference_f - 32) / 1.8)};
  if (s.english) {
    o.insert(o.end(), {"--station-prefix", "STA", "--station-format", "plus"});
  }
  return o;
}

std::string to_pddx(const ExampleSurvey& s) {
  const std::size_t ns = s.offsets.size();
  std::string o =
      "[Pavement Deflection Data Exchange File]\nPDDXVersionNumber = 2.0\nDelimiterSymbol = ,\nDecimalSymbol "
      "= .\n\n";
  // Metric: lengths in mm and loads in kN (converted back exactly); English: as the example.
  o += "[Units]\n";
  o += s.english ? "LoadPlateRadiusUnits = inch\nLoadUnits = pound\nDeflectionUnits = mil\nTemperatureUnits "
                   "= Fahrenheit\n"
                   "SensorLocationUnits = inch\nTestLocationUnits = foot,foot,foot\n"
                 : "LoadPlateRadiusUnits = millimeter\nLoadUnits = kilo-Newton\nDeflectionUnits = micron\n"
                   "TemperatureUnits = Celsius\nSensorLocationUnits = millimeter\nTestLocationUnits = "
                   "kilometer,meter,meter\n";
  o += "\n[Location Identification]\nFacilityName = " + s.route +
       "\nNumberOfTestLocations = " + std::to_string(s.stations.size()) +
       "\n\n[Device Configuration]\nLoadPlateRadius = " + plain(s.english ? s.radius : s.radius * 10) +
       "\nNumberOfDeflectionSensors = " + std::to_string(ns) + "\nDeflectionSensorXAxisDistances = ";
  for (std::size_t i = 0; i < ns; ++i)
    o += (i ? "," : "") + plain(s.english ? s.offsets[i] : s.offsets[i] * 10);
  o += "\nDeflectionSensorYAxisDistances = ";
  for (std::size_t i = 0; i < ns; ++i) o += i ? ",0" : "0";
  o += "\nNumberOfTemperatureSensors = 2\nTemperatureSensorUse = air,surface\n";
  int n = 0;
  for (const ExampleStation& st : s.stations) {
    o += "\n[Test Location " + std::to_string(++n) + "]\n";
    o += "TestLocation = " + (s.english ? plain(st.chainage) : plain(st.chainage / 1000)) + ",0,0\n";
    o += "TestTemperatures = " + plain(st.t2) + "," + plain(st.t1) +
         "\nNumberOfDrops = " + std::to_string(st.drops) + "\n";
    int k = 0;
    for (const auto& row : st.rows) {
      o += "DropData" + std::to_string(++k) + " = " + plain(s.english ? row[0] : row[0] / 1000);
      for (std::size_t i = 1; i < row.size(); ++i) o += "," + plain(row[i]);
      o += "\n";
    }
  }
  return o;
}

std::vector<std::pair<std::string, std::string>> to_ltpp(const ExampleSurvey& s) {
  // LTPP stores SI units: mm, m, microns, C, and the load as plate pressure in kPa.
  const double mm = s.english ? 25.4 : 10.0;
  const double radius_mm = s.radius * mm;
  auto defl = [&](double v) { return s.english ? v * 25.4 : v; };
  auto celsius = [&](double v) { return s.english ? (v - 32) / 1.8 : v; };
  auto metres = [&](double v) { return s.english ? v * 0.3048 : v; };
  auto kpa = [&](double load) {
    const double newtons = s.english ? load * 4.4482216152605 : load;
    return newtons / (std::numbers::pi * radius_mm * radius_mm / 1e6) / 1000;
  };
  std::string config = "CONFIGURATION_NO,PLATE_RADIUS,NO_ACTIVE_DEFLECTORS,RECORD_STATUS\n7," +
                       g17(radius_mm) + "," + std::to_string(s.offsets.size() + 1) + ",E\n";
  std::string sensors = "RECORD_STATUS,CONFIGURATION_NO,SENSOR_NO,CENTER_OFFSET\n";
  for (std::size_t i = 0; i < s.offsets.size(); ++i)
    sensors += "E,7," + std::to_string(i + 1) + "," + g17(s.offsets[i] * mm) + "\n";
  // A rear sensor, which the importer must leave out of the basin.
  sensors += "E,7," + std::to_string(s.offsets.size() + 1) + ",-305\n";
  std::string points =
      "STATE_CODE,SHRP_ID,TEST_DATE,TEST_TIME,DEFL_UNIT_ID,LANE_NO,POINT_LOC,CONFIGURATION_NO,PVMT_SURF_TEMP,"
      "AIR_TEMP_TEST,RECORD_STATUS\n";
  std::string drops =
      "STATE_CODE,SHRP_ID,TEST_DATE,TEST_TIME,DEFL_UNIT_ID,LANE_NO,POINT_LOC,DROP_NO,DROP_HEIGHT,DROP_LOAD";
  const std::size_t ns = s.offsets.size();
  for (std::size_t i = 0; i <= ns; ++i) drops += ",PEAK_DEFL_" + std::to_string(i + 1);
  drops += ",RECORD_STATUS\n";
  int minute = 0;
  for (const ExampleStation& st : s.stations) {
    const std::string key =
        "9,999,6/14/2016,10:" + std::to_string(10 + minute++) + ",FWD9,F1," + g17(metres(st.chainage));
    points += key + ",7," + g17(celsius(st.t1)) + "," + g17(celsius(st.t2)) + ",E\n";
    int k = 0;
    for (const auto& row : st.rows) {
      ++k;
      drops += key + "," + std::to_string(k) + "," + std::to_string(k) + "," + g17(kpa(row[0]));
      for (std::size_t i = 1; i < row.size(); ++i) drops += "," + g17(defl(row[i]));
      drops += ",99.9,E\n";
    }
    // A row below quality level E, which the import leaves out by default.
    drops += key + ",99,1,1e9";
    for (std::size_t i = 0; i <= ns; ++i) drops += ",x";
    drops += ",C\n";
  }
  return {{"MON_DEFL_DROP_DATA.csv", drops},
          {"MON_DEFL_LOC_INFO.csv", points},
          {"MON_DEFL_DEV_CONFIG.csv", config},
          {"MON_DEFL_DEV_SENSORS.csv", sensors}};
}

std::string to_generic_csv(const ExampleSurvey& s) {
  // Offsets in the column names, in mm (metric) or in (English).
  std::string o = "Station;Chainage;Drop;Load";
  for (double off : s.offsets) o += ";D" + plain(s.english ? off : off * 10);
  o += ";Surface Temp;Air Temp\n";
  for (const ExampleStation& st : s.stations) {
    int k = 0;
    for (const auto& row : st.rows) {
      o += "\"" + st.id + "\";" + plain(st.chainage) + ";" + std::to_string(++k);
      for (double v : row) o += ";" + plain(v);
      o += ";" + plain(st.t1) + ";" + plain(st.t2) + "\n";
    }
  }
  return o;
}

}  // namespace basinfit::import_test
