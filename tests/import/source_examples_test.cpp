// The format examples (PDDX metric and US, an LTPP export, an F25 file) import without error
// and give the test points and drops they hold, counted here from the files' text by simple
// independent means; values pass unchanged where the units agree and by the exact factors
// where they do not.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>

#include "engine_support.h"
#include "import_support.h"

namespace basinfit::import_test {
namespace {

using e2e::read_file;
using e2e::run_program;
using e2e::TempFolder;
using e2e::write_file;

int count_lines_starting(const std::string& text, const std::string& start) {
  std::istringstream in(text);
  std::string line;
  int n = 0;
  while (std::getline(in, line))
    if (line.rfind(start, 0) == 0) ++n;
  return n;
}

std::vector<std::vector<std::string>> word_lines(const std::string& text) {
  std::vector<std::vector<std::string>> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream w(line);
    std::vector<std::string> words;
    std::string word;
    while (w >> word) words.push_back(word);
    out.push_back(words);
  }
  return out;
}

// A deflection data file read back: per station its header words and drop rows.
struct Written {
  std::vector<std::vector<std::string>> headers;
  std::vector<std::vector<std::vector<double>>> drops;
};

Written read_deflections(const std::string& text, std::size_t sensors) {
  Written w;
  const auto lines = word_lines(text);
  for (std::size_t i = 1; i < lines.size();) {
    if (lines[i].empty()) {
      ++i;
      continue;
    }
    w.headers.push_back(lines[i]);
    const int d = std::stoi(lines[i][1]);
    ++i;
    std::vector<std::vector<double>> rows;
    for (int k = 0; k < d; ++k, ++i) {
      EXPECT_EQ(lines[i].size(), sensors + 1) << "drop line " << i + 1;
      std::vector<double> row;
      for (const std::string& v : lines[i]) row.push_back(std::stod(v));
      rows.push_back(row);
    }
    w.drops.push_back(rows);
  }
  return w;
}

struct Case {
  std::string name;
  std::vector<std::string> inputs;
  std::vector<std::string> options;
  int stations;
  int drops;
  std::size_t sensors;  // kept in the basin
};

TEST(SourceExamples, ImportWithTheirTestPointsAndDrops) {
  const std::string metric = read_file(kData / "pddx_metric.pddx");
  const std::string us = read_file(kData / "pddx_us.pddx");
  const std::string ltpp = read_file(kData / "ltpp" / "MON_DEFL_DROP_DATA.csv");
  const std::string f25 = read_file(kData / "f25_example.F25");
  // LTPP points: distinct (time, POINT_LOC) among the drop rows.
  std::set<std::string> ltpp_points;
  for (const auto& row : word_lines(ltpp)) {
    if (row.empty() || row[0].rfind("STATE_CODE", 0) == 0) continue;
    std::string line = row[0];
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string f;
    while (std::getline(ss, f, ',')) fields.push_back(f);
    ltpp_points.insert(fields[4] + "|" + fields[7]);
  }
  const std::vector<Case> cases = {
      {"pddx metric",
       {(kData / "pddx_metric.pddx").string()},
       {},
       count_lines_starting(metric, "[Test Location"),
       count_lines_starting(metric, "DropData"),
       9},
      // The US layout's ninth sensor sits behind the plate and is left out.
      {"pddx us",
       {(kData / "pddx_us.pddx").string()},
       {},
       count_lines_starting(us, "[Test Location"),
       count_lines_starting(us, "DropData"),
       8},
      {"ltpp",
       {(kData / "ltpp").string()},
       {},
       static_cast<int>(ltpp_points.size()),
       count_lines_starting(ltpp, "99,"),
       8},
      // F25 drop lines begin with blanks and a small sequence number.
      {"f25",
       {(kData / "f25_example.F25").string()},
       {},
       count_lines_starting(f25, "5301") - 1,
       count_lines_starting(f25, "  "),
       9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder f("examples");
    write_file(f / "structure.csv", kStructure);
    std::vector<std::string> args = c.inputs;
    args.insert(args.end(), {"--structure", (f / "structure.csv").string(), "--out", (f / "run").string()});
    const auto run = run_program(import_path(), args);
    ASSERT_EQ(run.exit_status, 0) << run.err;
    const Written w = read_deflections(read_file(f / "run" / "deflections.dat"), c.sensors);
    EXPECT_EQ(static_cast<int>(w.headers.size()), c.stations);
    int drops = 0;
    for (const auto& d : w.drops) drops += static_cast<int>(d.size());
    EXPECT_EQ(drops, c.drops);
    const auto general = word_lines(read_file(f / "run" / "general.dat"));
    EXPECT_EQ(general[1][3], std::to_string(c.sensors));
    // The station table lists every point.
    EXPECT_EQ(count_lines_starting(run.out, "Station"), 1);
    // And the engine takes the folder.
    const auto engine =
        run_program(e2e::basinfit_path(), {"control.txt"}, "cd '" + (f / "run").string() + "' &&");
    EXPECT_EQ(engine.exit_status, 0) << engine.err;
  }
}

TEST(SourceExamples, ValuesPassUnchangedOrByTheExactFactors) {
  TempFolder f("values");
  write_file(f / "structure.csv", kStructure);
  // US file into a metric run: mils -> microns x 25.4, lbf -> N x 4.4482216152605, F -> C,
  // inches -> cm x 2.54, feet of chainage (miles here) -> m.
  const auto run = run_program(
      import_path(), {(kData / "pddx_us.pddx").string(), "--structure", (f / "structure.csv").string(),
                      "--out", (f / "run").string(), "--units", "metric"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const Written w = read_deflections(read_file(f / "run" / "deflections.dat"), 8);
  ASSERT_EQ(w.drops.size(), 2u);
  // Test location 1, drop 1: 6105 lbf, 7.9,6.4,5.5,4.5,3.6,2.4,1.7,1.3 mils; temperatures
  // air 68.5, surface 79.2 F; station 10.200 miles.
  const std::vector<double> source = {6105 * 4.4482216152605, 7.9, 6.4, 5.5, 4.5, 3.6, 2.4, 1.7, 1.3};
  for (std::size_t i = 0; i < source.size(); ++i) {
    const double want = i == 0 ? source[i] : source[i] * 25.4;
    EXPECT_NEAR(w.drops[0][0][i], want, std::fabs(want) * 1e-7) << "value " << i;
  }
  EXPECT_NEAR(std::stod(w.headers[0][6]), (79.2 - 32) / 1.8, 1e-5);  // surface first
  EXPECT_NEAR(std::stod(w.headers[0][7]), (68.5 - 32) / 1.8, 1e-5);
  EXPECT_EQ(w.headers[0][0], "16415.309");  // 10.2 mi = 16415.3088 m, to the millimetre
  const auto general = word_lines(read_file(f / "run" / "general.dat"));
  EXPECT_EQ(general[1][1], "0");
  EXPECT_NEAR(std::stod(general[1][2]), 5.91 * 2.54, 1e-5);
  const std::vector<double> offsets_in = {0, 8, 12, 18, 24, 36, 48, 60};
  for (std::size_t i = 0; i < offsets_in.size(); ++i)
    EXPECT_NEAR(std::stod(general[2][i]), offsets_in[i] * 2.54, 1e-5);

  // Metric file into a metric run: every deflection digit for digit.
  TempFolder g("identity");
  write_file(g / "structure.csv", kStructure);
  ASSERT_EQ(run_program(import_path(), {(kData / "pddx_metric.pddx").string(), "--structure",
                                        (g / "structure.csv").string(), "--out", (g / "run").string()})
                .exit_status,
            0);
  const auto lines = word_lines(read_file(g / "run" / "deflections.dat"));
  EXPECT_EQ(lines[2], (std::vector<std::string>{"40100", "312.4", "254.8", "221.3", "178.6", "142.7", "93.5",
                                                "64.2", "46.8", "35.1"}));
}

TEST(SourceExamples, CsvColumnsGivenByMappingWithUnitsAndDecimalCommas) {
  TempFolder f("columns");
  write_file(f / "structure.csv", kStructure);
  write_file(f / "drops.csv",
             "Point;Dist_km;Seq;Force kN;S1;S2;S3;Tsurf;Tair\n"
             "P-1;1,250;1;40,1;312,4;254,8;221,3;27,9;21,4\n"
             "P-1;1,250;2;50,3;392,0;319,7;277,5;27,9;21,4\n");
  const auto run = run_program(
      import_path(),
      {(f / "drops.csv").string(), "--structure", (f / "structure.csv").string(), "--out",
       (f / "run").string(), "--columns",
       "station=Point,chainage=Dist_km,drop=Seq,load=Force kN,d1=S1,d2=S2,d3=S3,temp_surface=Tsurf,"
       "temp_air=Tair",
       "--offsets", "0,20,30", "--offset-unit", "cm", "--plate-radius", "15", "--load-unit", "kN",
       "--chainage-unit", "km", "--decimal", ","});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const auto lines = word_lines(read_file(f / "run" / "deflections.dat"));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], (std::vector<std::string>{"P-1", "2", "15", "30", "0", "0", "27.9", "21.4"}));
  EXPECT_EQ(lines[2], (std::vector<std::string>{"40100", "312.4", "254.8", "221.3"}));
  EXPECT_EQ(lines[3], (std::vector<std::string>{"50300", "392", "319.7", "277.5"}));
  const auto general = word_lines(read_file(f / "run" / "general.dat"));
  EXPECT_EQ(general[1], (std::vector<std::string>{"3", "0", "15", "3", "0"}));
  EXPECT_EQ(general[2], (std::vector<std::string>{"0", "20", "30"}));
  EXPECT_NE(run.out.find("1250"), std::string::npos) << "chainage 1.25 km in m: " << run.out;
}

}  // namespace
}  // namespace basinfit::import_test
