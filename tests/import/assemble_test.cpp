// The rules every format shares, applied to surveys built here: sensor choice, identifiers,
// drop filters, thickness ranges across unit systems, and errors naming the source record.
#include <gtest/gtest.h>

#include <sstream>

#include "common/input_error.h"
#include "import/run_folder.h"
#include "import/structure.h"

namespace basinfit::import {
namespace {

SourceSurvey survey_with(int points, int drops, std::vector<double> xs) {
  SourceSurvey s;
  s.format = "test";
  s.plate_radius = 150;
  for (std::size_t i = 0; i < xs.size(); ++i) s.sensors.push_back({static_cast<int>(i + 1), xs[i], 0.0});
  s.geometry = {"survey.txt", 3, "geometry"};
  for (int p = 0; p < points; ++p) {
    SourceStation st;
    st.chainage = 1000.0 + 50.0 * p;
    st.ref = {"survey.txt", 10 + 100 * p, ""};
    st.temperatures = {{"surface", 25.0}, {"air", 20.0}};
    for (int d = 0; d < drops; ++d) {
      SourceDrop drop;
      drop.sequence = d + 1;
      drop.load = 40000.0 + d;
      drop.ref = {"survey.txt", 11 + 100 * p + d, ""};
      for (std::size_t i = 0; i < xs.size(); ++i)
        drop.deflections.push_back(400.0 - 10.0 * static_cast<double>(i));
      st.drops.push_back(drop);
    }
    s.stations.push_back(st);
  }
  return s;
}

const Structure kStructure = parse_structure(
    "units,metric\nlayer,1,backcalculated,0.35,3000,500,20000\nlayer,2,fixed,0.45,60\nthickness,,,15\n",
    "s.csv");

std::vector<std::vector<std::string>> words_of(const std::string& text) {
  std::vector<std::vector<std::string>> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream w(line);
    std::vector<std::string> row;
    std::string word;
    while (w >> word) row.push_back(word);
    out.push_back(row);
  }
  return out;
}

std::string error_of(const SourceSurvey& s, const Structure& st, const ImportOptions& o) {
  try {
    assemble_run(s, st, o);
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

TEST(AssembleRun, SensorsSortedRearLeftOutAndTenNearestKept) {
  // Twelve sensors in front, out of order, and one behind the plate.
  const std::vector<double> xs = {0, 1800, 200, 300, 450, 600, 900, 1200, 1500, 2100, 2400, 250, -300};
  const SourceSurvey s = survey_with(1, 1, xs);
  RunInput run = assemble_run(s, kStructure, {});
  auto g = words_of(run.general_data);
  EXPECT_EQ(g[2], (std::vector<std::string>{"0", "20", "25", "30", "45", "60", "90", "120", "150", "180"}));
  // The deflections follow their sensors: sensor 12 (x = 250) is the third in the basin.
  auto d = words_of(run.deflections);
  EXPECT_EQ(d[2][3], "290") << run.deflections;
  ASSERT_EQ(run.notes.size(), 2u);
  EXPECT_NE(run.notes[0].find("sensor 13 sits 300 mm behind the plate"), std::string::npos) << run.notes[0];
  EXPECT_NE(run.notes[1].find("12 sensors in front of the plate; the 10 nearest"), std::string::npos)
      << run.notes[1];

  ImportOptions chosen;
  chosen.sensors = {11, 1, 10};
  run = assemble_run(s, kStructure, chosen);
  g = words_of(run.general_data);
  EXPECT_EQ(g[2], (std::vector<std::string>{"0", "210", "240"}));
  chosen.sensors = {14};
  EXPECT_NE(error_of(s, kStructure, chosen).find("no sensor 14"), std::string::npos);
  SourceSurvey far = survey_with(1, 1, {0, 20000});
  EXPECT_NE(
      error_of(far, kStructure, {}).find("survey.txt, line 3: geometry: sensor 2 is 2000 cm from the load"),
      std::string::npos)
      << error_of(far, kStructure, {});
}

TEST(AssembleRun, IdentifiersFromChainagePrefixPlusNotationAndLanes) {
  SourceSurvey s = survey_with(2, 1, {0, 300});
  ImportOptions o;
  o.plus_notation = true;
  auto d = words_of(assemble_run(s, kStructure, o).deflections);
  EXPECT_EQ(d[1][0], "1+000");
  EXPECT_EQ(d[3][0], "1+050");
  // English run: chainage in feet, hundreds with a prefix.
  o.english = true;
  o.station_prefix = "STA";
  s.stations[1].chainage = 1000.0 + 1.234;
  s.chainage_unit = Unit::kFoot;
  d = words_of(assemble_run(s, kStructure, o).deflections);
  EXPECT_EQ(d[1][0], "STA10+00");
  EXPECT_EQ(d[3][0], "STA10+01.234");
  // Two lanes at one chainage: the lane becomes part of the identifier.
  s = survey_with(2, 1, {0, 300});
  s.stations[1].chainage = 1000.0;
  s.stations[0].lane = "L 1";
  s.stations[1].lane = "R 1";
  d = words_of(assemble_run(s, kStructure, {}).deflections);
  EXPECT_EQ(d[1][0], "1000_L1");
  EXPECT_EQ(d[3][0], "1000_R1");
  // ... but the first 10 characters of "1000_outerL" and "1000_outerR" agree: refused, naming both.
  s.stations[0].lane = "outer L";
  s.stations[1].lane = "outer R";
  const std::string e = error_of(s, kStructure, {});
  EXPECT_NE(e.find("survey.txt, line 110: test point gets the identifier '1000_outer'"), std::string::npos)
      << e;
  EXPECT_NE(e.find("as does the test point at survey.txt, line 10"), std::string::npos) << e;
}

TEST(AssembleRun, DropFiltersCapacityAndProblemsOnlyInKeptDrops) {
  SourceSurvey s = survey_with(2, 17, {0, 300});
  EXPECT_NE(error_of(s, kStructure, {}).find("has 17 drops, the engine takes at most 16"), std::string::npos);
  // A bad value in the seating drop does not matter; the same in a kept drop is the error.
  s.stations[0].drops[0].problem = "column D300: expected a deflection, found 'x'";
  ImportOptions o;
  o.skip_seating = 1;
  RunInput run = assemble_run(s, kStructure, o);
  EXPECT_EQ(run.stations[0].kept, 16);
  EXPECT_EQ(run.stations[0].why, "1 seating");
  s.stations[0].drops[5].deflections[1].reset();
  EXPECT_NE(error_of(s, kStructure, o).find("survey.txt, line 16: the deflection of sensor 2 is missing"),
            std::string::npos)
      << error_of(s, kStructure, o);
  // Drops chosen by sequence; a point left without drops is skipped and listed.
  o.skip_seating = 0;
  o.drops = {2, 4};
  s.stations[1].drops.resize(1);
  run = assemble_run(s, kStructure, o);
  ASSERT_EQ(run.stations.size(), 2u);
  EXPECT_EQ(run.stations[1].kept, 0);
  EXPECT_EQ(run.stations[1].why, "1 filtered; point skipped: no drop kept");
  const auto d = words_of(run.deflections);
  ASSERT_EQ(d.size(), 4u) << run.deflections;
  EXPECT_EQ(d[2][0], "40001");
  EXPECT_EQ(d[3][0], "40003");
}

TEST(AssembleRun, ThicknessRangesAcrossUnitSystemsAndTemperatures) {
  // Structure in English units (in, ksi, ft); survey and run metric.
  const Structure english = parse_structure(
      "units,english\nlayer,1,backcalculated,0.35,450,50,3000\nlayer,2,fixed,0.45,10\n"
      "thickness,0,3400,5\nthickness,3400,,6\npoint,12,1,0\n",
      "s.csv");
  SourceSurvey s = survey_with(2, 1, {0, 300});
  s.stations[1].chainage = 1050.0;  // 3444.9 ft
  const RunInput run = assemble_run(s, english, {});
  const auto d = words_of(run.deflections);
  EXPECT_EQ(d[1], (std::vector<std::string>{"1000", "1", "12.7", "0", "0", "0", "25", "20"}));
  EXPECT_EQ(d[3][2], "15.24");
  const auto g = words_of(run.general_data);
  EXPECT_EQ(g[4][3], "3102.6409") << "450 ksi in MPa";
  EXPECT_EQ(g[7][0], "30.48") << "12 in in cm";
  // A missing reading needed by the temperature option names the point and what it has.
  s.stations[0].temperatures.pop_back();
  std::string e = error_of(s, english, {});
  EXPECT_NE(e.find("survey.txt, line 10: no air temperature at this test point (readings: surface)"),
            std::string::npos)
      << e;
  ImportOptions off;
  off.temperature_adjustment = 0;
  EXPECT_EQ(error_of(s, english, off), "");
  // Out of the engine's range.
  s.stations[0].temperatures = {{"surface", 120.0}, {"air", 20.0}};
  e = error_of(s, english, {});
  EXPECT_NE(e.find("surface temperature 120 C, expected -60 to 90"), std::string::npos) << e;
  // A modulus beyond the engine's range names the structure's line.
  const Structure stiff = parse_structure("layer,1,fixed,0.35,20000000\n", "m.csv");
  e = error_of(survey_with(1, 1, {0, 300}), stiff, {});
  EXPECT_NE(e.find("m.csv, line 1: layer record: fixed modulus 20000000 MPa, expected 0.1 to 10000000"),
            std::string::npos)
      << e;
  // A point beyond every range.
  const Structure ranged =
      parse_structure("layer,1,fixed,0.35,450\nlayer,2,fixed,0.45,10\nthickness,0,1020,5\n", "r.csv");
  e = error_of(survey_with(2, 1, {0, 300}), ranged, {});
  EXPECT_NE(e.find("line 110: no thickness record of r.csv covers test point 1050 at chainage 1050 m"),
            std::string::npos)
      << e;
}

}  // namespace
}  // namespace basinfit::import
