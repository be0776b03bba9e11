// The station table the importer writes beside the run files: read back with a CSV reader
// of the test's own, its rows are the deflection data file's stations in order, its
// chainages are the sources' chainages (read here from the source text) converted to the
// run's length unit, GPS positions and comments are the sources' own, and text a spreadsheet
// would execute comes back unchanged once the one leading quote is taken off.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <sstream>

#include "engine_support.h"
#include "example_survey.h"
#include "import_support.h"

namespace basinfit::import_test {
namespace {

using e2e::read_file;
using e2e::run_program;
using e2e::TempFolder;
using e2e::write_file;

const std::filesystem::path kSource = BASINFIT_SOURCE_DIR;

// RFC 4180 records; a field that begins with a quote and one of = + - @ tab CR loses the quote.
std::vector<std::vector<std::string>> read_csv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false, was_quoted = false;
  auto end_field = [&] {
    if (was_quoted && field.size() > 1 && field[0] == '\'' &&
        std::string("=+-@\t\r").find(field[1]) != std::string::npos)
      field.erase(0, 1);
    rows.back().push_back(field);
    field.clear();
    was_quoted = false;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = was_quoted = true;
    } else if (c == ',') {
      end_field();
    } else if (c == '\n') {
      end_field();
      rows.emplace_back();
    } else {
      field += c;
    }
  }
  rows.pop_back();  // after the last line end
  return rows;
}

// The identifiers of the deflection data file: the first word of each station header.
std::vector<std::string> station_ids(const std::string& deflections) {
  std::vector<std::string> ids;
  std::istringstream in(deflections);
  std::string line;
  std::getline(in, line);  // route
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string id;
    int drops = 0;
    words >> id >> drops;
    ids.push_back(id);
    for (int d = 0; d < drops; ++d) std::getline(in, line);
  }
  return ids;
}

std::vector<double> all_numbers(const std::string& text, const std::string& pattern) {
  std::vector<double> values;
  const std::regex re(pattern);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
    values.push_back(std::stod((*it)[1]));
  return values;
}

struct Case {
  std::string name;
  std::vector<std::string> args;  // inputs and options
  std::string structure;
  std::vector<double> chainages;  // the source's, already in the run's unit
  std::string unit;
  std::vector<std::string> latitudes, longitudes, comments;  // "" where none
  std::string pddx;  // a survey written by the test, imported as the first argument
};

TEST(StationTable, RowsFollowTheDeflectionFileWithTheSourcesPositions) {
  const std::string metric = read_file(kData / "pddx_metric.pddx");
  const std::string us = read_file(kData / "pddx_us.pddx");
  const std::string example = read_file(kSource / "examples" / "pddx" / "survey.pdx");
  const std::string ltpp = read_file(kData / "ltpp" / "MON_DEFL_LOC_INFO.csv");
  const std::string f25 = read_file(kData / "f25_example.F25");
  auto scaled = [](std::vector<double> v, double factor) {
    for (double& x : v) x *= factor;
    return v;
  };
  // F25: the station records followed by drops (the header's default record has none), each
  // after its GPS fix.
  const std::vector<double> f25_points =
      all_numbers(f25, R"(5301,2,1,4,2, *([0-9.]+),[^\n]*\n5302[^\n]*\n5303[^\n]*\n +1,)");
  std::vector<Case> cases = {
      {"pddx metric, km to m",
       {(kData / "pddx_metric.pddx").string()},
       kStructure,
       scaled(all_numbers(metric, R"(TestLocation = ([0-9.]+),)"), 1000.0),
       "m",
       {"45.123456", "45.123902"},
       {"7.654321", "7.65431"},
       {"fine surface cracking", "no visible distress"},
       ""},
      {"pddx us, miles to ft",
       {(kData / "pddx_us.pddx").string()},
       kStructure,
       scaled(all_numbers(us, R"(TestLocation = ([0-9.]+),)"), 5280.0),
       "ft",
       {"39.123456", "39.123461"},
       {"-77.654321", "-77.65497"},
       {"longitudinal crack near point", "no visible distress"},
       ""},
      {"pddx us into a metric run, miles to m",
       {(kData / "pddx_us.pddx").string(), "--units", "metric"},
       kStructure,
       scaled(all_numbers(us, R"(TestLocation = ([0-9.]+),)"), 1609.344),
       "m",
       {},
       {},
       {},
       ""},
      {"the project's pddx example",
       {(kSource / "examples" / "pddx" / "survey.pdx").string()},
       read_file(kSource / "examples" / "pddx" / "structure.csv"),
       scaled(all_numbers(example, R"(TestLocation = ([0-9.]+),)"), 1000.0),
       "m",
       {},
       {},
       {},
       ""},
      {"ltpp",
       {(kData / "ltpp").string()},
       kStructure,
       all_numbers(ltpp, R"(,F1,([0-9.]+),)"),
       "m",
       {},
       {},
       {},
       ""},
      {"f25",
       {(kData / "f25_example.F25").string()},
       kStructure,
       f25_points,
       "m",
       {"45.123456", "45.123902"},
       {"7.654321", "7.65431"},
       {"", ""},
       ""},
  };
  // The bundled engine examples written as PDDX: chainages from their identifiers.
  for (const char* name : {"metric", "english"}) {
    const ExampleSurvey s = read_example(kSource / "examples" / name);
    Case c{std::string("examples/") + name,
           {},
           structure_csv(s),
           {},
           s.english ? "ft" : "m",
           {},
           {},
           {},
           to_pddx(s)};
    for (const ExampleStation& st : s.stations) c.chainages.push_back(st.chainage);
    c.args = run_options(s);
    c.args.insert(c.args.begin(), "survey.pdx");
    cases.push_back(c);
  }
  ASSERT_EQ(f25_points.size(), 2u);

  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder f("station-table");
    write_file(f / "structure.csv", c.structure);
    if (!c.pddx.empty()) {
      write_file(f / "survey.pdx", c.pddx);
      c.args[0] = (f / "survey.pdx").string();
    }
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--structure", (f / "structure.csv").string(), "--out", (f / "run").string()});
    const auto run = run_program(import_path(), args);
    ASSERT_EQ(run.exit_status, 0) << run.err;
    const auto rows = read_csv(read_file(f / "run" / "station-table.csv"));
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], (std::vector<std::string>{"station", "chainage", "chainage_unit", "lane", "latitude",
                                                 "longitude", "comment"}));
    const auto ids = station_ids(read_file(f / "run" / "deflections.dat"));
    ASSERT_EQ(rows.size(), ids.size() + 1);
    ASSERT_EQ(ids.size(), c.chainages.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
      const auto& row = rows[i + 1];
      ASSERT_EQ(row.size(), 7u);
      EXPECT_EQ(row[0], ids[i]);
      EXPECT_NEAR(std::stod(row[1]), c.chainages[i], 5e-4) << "station " << ids[i];
      EXPECT_EQ(row[2], c.unit);
      if (!c.latitudes.empty()) {
        EXPECT_EQ(row[4], c.latitudes[i]);
        EXPECT_EQ(row[5], c.longitudes[i]);
        EXPECT_EQ(row[6], c.comments[i]);
      }
    }
  }
}

TEST(StationTable, TextASpreadsheetWouldRunComesBackWhole) {
  TempFolder f("formula");
  write_file(f / "structure.csv", kStructure);
  const std::vector<std::string> station = {"=HYPERLINK(\"x\")", "@SUM(A1)", "-1+2", "plain"};
  const std::vector<std::string> lane = {"+L", "a,b", "-2", "R"};
  const std::vector<std::string> comment = {"say \"hi\", ok", "-", "caf\xc3\xa9", "bad\xff byte"};
  std::string csv = "station,chainage,lane,comment,drop,load,D0,D200,D300,surface temp,air temp,lat,lon\n";
  auto quoted = [](const std::string& t) {
    std::string q = "\"";
    for (char c : t) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
  };
  for (std::size_t i = 0; i < station.size(); ++i)
    csv += quoted(station[i]) + "," + std::to_string(100 * i) + "," + quoted(lane[i]) + "," +
           quoted(comment[i]) + ",1,40000,415,356,318,18,24" + (i < 3 ? ",52.1,-4.25\n" : ",,\n");
  write_file(f / "s.csv", csv);
  const auto run =
      run_program(import_path(), {(f / "s.csv").string(), "--structure", (f / "structure.csv").string(),
                                  "--out", (f / "run").string(), "--plate-radius", "150"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const std::string text = read_file(f / "run" / "station-table.csv");
  const auto rows = read_csv(text);
  ASSERT_EQ(rows.size(), station.size() + 1) << text;
  for (std::size_t i = 0; i < station.size(); ++i) {
    SCOPED_TRACE(i);
    // The identifier as the deflection data file has it (blanks and commas become _).
    EXPECT_EQ(rows[i + 1][0], station_ids(read_file(f / "run" / "deflections.dat"))[i]);
    EXPECT_EQ(rows[i + 1][1], std::to_string(100 * i));
    EXPECT_EQ(rows[i + 1][3], lane[i]);
    EXPECT_EQ(rows[i + 1][4], i < 3 ? "52.1" : "");
    EXPECT_EQ(rows[i + 1][5], i < 3 ? "-4.25" : "");
    EXPECT_EQ(rows[i + 1][6], i == 3 ? std::string("bad\xef\xbf\xbd byte") : comment[i]);
  }
  // Nothing a spreadsheet would take for a formula starts a text field unquoted; numbers stay plain.
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    for (const char* start : {",=", ",+", ",@", ",\"=", ",\"-"})
      EXPECT_EQ(line.find(start), std::string::npos) << line;
    EXPECT_EQ(std::string("=+-@").find(line.front()), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace basinfit::import_test
