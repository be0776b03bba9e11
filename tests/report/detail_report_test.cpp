// Behaviour of the detail report, line by line, on variations of the test surveys.

#include "report/detail_report.h"

#include <gtest/gtest.h>

#include <sstream>

#include "report_scenarios.h"

namespace basinfit::testing {
namespace {

// The header and the block of one station, as lines.
std::vector<std::string> detail_lines(const RunState& state) {
  std::ostringstream text;
  TextUnit unit(text);
  DetailReport report(unit);
  report.write_header(state);
  report.write_station(state);
  return lines_of(text.str());
}

// The first line starting with `prefix`, or "" when there is none.
std::string line_starting(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines)
    if (line.rfind(prefix, 0) == 0) return line;
  return "";
}

int count_starting(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const std::string& line : lines)
    if (line.rfind(prefix, 0) == 0) ++n;
  return n;
}

RunState metric_station() { return metric_default_points().stations.front(); }

TEST(DetailHeader, OffsetsAndPoissonRatiosShareOneLine) {
  const auto lines = detail_lines(metric_station());
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[4],
            "Offsets (cm):    0.0   20.0   30.0   45.0   60.0   90.0  120.0\tP-Ratio: .350 .400 .450");
}

TEST(DetailHeader, EnglishLabelsAndAStiffLayer) {
  const auto lines = detail_lines(english_stiff_layer_adjusted().stations.front());
  EXPECT_EQ(lines[2], "Plate Radius (in):  5.9\tNo of Layers: 4");
  EXPECT_EQ(lines[3], "No of Sensors:  6\tStiff Layer: Yes");
  EXPECT_EQ(lines[4].rfind("Offsets (in):", 0), 0u);
}

TEST(DetailHeader, RouteLosesItsTrailingBlanksAndAnAllBlankRouteLeavesTheLabel) {
  RunState state = metric_station();
  EXPECT_EQ(detail_lines(state)[1], "Route: Highway 12 northbound, outer lane");
  state.settings.route = std::string(79, ' ');
  EXPECT_EQ(detail_lines(state)[1], "Route: ");
  state.settings.route = "  leading blanks stay";
  EXPECT_EQ(detail_lines(state)[1], "Route:   leading blanks stay");
}

TEST(DetailStation, TemperatureLineWithoutAdjustmentSaysNotApplicable) {
  RunState state = metric_station();
  EXPECT_EQ(detail_lines(state)[6], "Thickness (cm):   10.20   25.40\tPavement Temperature (C): N/A");
  state.settings.unit_flag = 2;  // any value other than 0 is English
  EXPECT_EQ(detail_lines(state)[6], "Thickness (in):   10.20   25.40\tPavement Temperature (F): N/A");
}

TEST(DetailStation, TemperatureLineWithOneReading) {
  RunState state = metric_station();
  state.settings.temperature_adjustment = 1;
  state.settings.temperature_option = 0;
  EXPECT_EQ(detail_lines(state)[6], "Thickness (cm):   10.20   25.40\tPavement Temperature (C):  21.5");
  state.settings.unit_flag = 1;
  state.station.temperature1 = 104.25f;
  EXPECT_EQ(detail_lines(state)[6], "Thickness (in):   10.20   25.40\tPavement Temperature (F): 104.2");
  state.settings.temperature_option = 3;  // any option other than 1 shows the first reading only
  state.station.temperature1 = -5.0f;
  EXPECT_EQ(detail_lines(state)[6], "Thickness (in):   10.20   25.40\tPavement Temperature (F):  -5.0");
}

TEST(DetailStation, TemperatureLineWithBothReadingsAsRead) {
  RunState state = metric_station();
  state.settings.temperature_adjustment = 1;
  state.settings.temperature_option = 1;
  EXPECT_EQ(detail_lines(state)[6], "Thickness (cm):   10.20   25.40\tPavement Temperature (C):  21.5  18.0");
}

TEST(DetailStation, ThicknessesOfEveryLayerAboveTheLast) {
  RunState state = english_stiff_layer_adjusted().stations.front();
  EXPECT_EQ(line_starting(detail_lines(state), "Thickness"),
            "Thickness (in):    4.00   10.00  120.00\tPavement Temperature (F):  68.0  75.5");
  state.settings.layer_count = 5;
  state.station.thickness = {4.0f, 10.0f, 120.0f, 1234.567f};
  EXPECT_EQ(line_starting(detail_lines(state), "Thickness"),
            "Thickness (in):    4.00   10.00  120.00 1234.57\tPavement Temperature (F):  68.0  75.5");
}

TEST(DetailStation, ASingleLayerKeepsTheThicknessAndTemperatureOnOneLine) {
  // A half-space alone has no thickness: the open thickness record must still be continued
  // by the temperature, not leave a line of its own.
  RunState state = metric_station();
  state.settings.layer_count = 1;
  const auto lines = detail_lines(state);
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[6], "Thickness (cm):\tPavement Temperature (C): N/A");
  EXPECT_EQ(lines[7].rfind("Drop No:  1", 0), 0u);
  EXPECT_EQ(line_starting(lines, "Calculated Moduli"), "Calculated Moduli (MPa):\t 3512.46");
}

TEST(DetailStation, StationIdentifierKeepsItsTenColumns) {
  const auto lines = detail_lines(metric_default_points().stations.back());
  EXPECT_EQ(lines[5], "Station: A-17      \tNo of Drops:  1\tAverage RMS Error(%):   0.61");
}

TEST(DetailDrop, ConvergenceCodeOutsideTheTableIsWrittenAsError) {
  RunState state = metric_station();
  state.station.drop_count = 1;
  for (const auto& [code, text] : std::vector<std::pair<short, std::string>>{{7, "Error ( 7)"},
                                                                             {0, "Error ( 0)"},
                                                                             {12, "Error (12)"},
                                                                             {-3, "Error (-3)"},
                                                                             {123, "Error (**)"}}) {
    state.results.convergence_code[0] = code;
    EXPECT_EQ(line_starting(detail_lines(state), "Convergence:"),
              "Convergence: " + text + "\tRMS Error (%):  1.23");
  }
  state.results.convergence_code[0] = 20;
  EXPECT_EQ(line_starting(detail_lines(state), "Convergence:"),
            "Convergence: Iteration Limit (10)\tRMS Error (%):  1.23");
}

TEST(DetailDrop, DifferenceOfAReadingOfExactlyAHundredthIsZero) {
  const auto lines = detail_lines(metric_station());
  // Drop 1, sensor 7 reads 0.01: no percentage.  Drop 2, sensor 7 reads 0.0101: computed.
  const std::vector<std::string> first = columns_of(lines[12]);
  ASSERT_EQ(first.size(), 8u);
  EXPECT_EQ(first[0], "Difference (%):");
  EXPECT_EQ(first[7], "    0.00");
  const std::vector<std::string> second = columns_of(lines[30]);
  ASSERT_EQ(second.size(), 8u);
  EXPECT_EQ(second[7], "    0.99");
}

TEST(DetailDrop, OneColumnPerSensorOnEveryBasinLine) {
  for (const Scenario& scenario : all_scenarios()) {
    const RunState& state = scenario.stations.front();
    const auto lines = detail_lines(state);
    const auto columns = static_cast<std::size_t>(state.settings.sensor_count) + 1;
    for (const char* label :
         {"Sensor No:", "Measured Deflections", "Calculated Deflection", "Difference (%):"}) {
      const std::string line = line_starting(lines, label);
      EXPECT_EQ(columns_of(line).size(), columns) << scenario.name << ": " << line;
    }
  }
}

TEST(DetailDrop, WithoutAdjustmentNoAdjustedColumnAppears) {
  const auto lines = detail_lines(metric_station());
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("1-(adj)"), std::string::npos) << line;
    if (line.rfind("Seed Moduli", 0) == 0) {
      EXPECT_EQ(line.find("N/A"), std::string::npos) << line;
    }
  }
  EXPECT_EQ(line_starting(lines, "Calculated Moduli"),
            "Calculated Moduli (MPa):\t 3512.46\t  231.57\t   84.12");
}

TEST(DetailDrop, AdjustmentAddsTheSurfaceModulusColumn) {
  RunState state = metric_station();
  state.settings.temperature_adjustment = 1;
  state.report.adjusted_surface_modulus[0] = 4031.0625f;
  const auto lines = detail_lines(state);
  EXPECT_EQ(lines[13], "Layer No:\t 1\t 2\t 3\t1-(adj)");
  EXPECT_EQ(lines[14], "Seed Moduli (MPa):\t 3000.00\t  250.00\t   80.00\tN/A");
  EXPECT_EQ(lines[15], "Calculated Moduli (MPa):\t 3512.46\t  231.57\t   84.12\t4031.062");
}

TEST(DetailDrop, ValuesTooWideForTheirFieldsBecomeAsterisks) {
  const auto lines = detail_lines(metric_station());
  EXPECT_EQ(lines[43], "Drop No:  3\tLoad (N):  53110.2\tNo of Iterations:**");
  EXPECT_EQ(lines[44], "Convergence: Error ( 7)\tRMS Error (%): *****");
  EXPECT_EQ(lines[51], "Calculated Moduli (MPa):\t********\t  225.04\t   81.30");
  RunState state = metric_station();
  state.station.load[0] = 123456789.0f;
  state.station.measured[0][0] = 100000.0f;
  EXPECT_EQ(line_starting(detail_lines(state), "Drop No:  1"),
            "Drop No:  1\tLoad (N): ********\tNo of Iterations: 5");
  EXPECT_EQ(columns_of(line_starting(detail_lines(state), "Measured"))[1], "********");
}

TEST(DetailPointTable, DefaultPointsOfThreeLayers) {
  const auto lines = detail_lines(metric_station());
  EXPECT_EQ(lines[16], "Layer No:\t1\t2\t3");
  EXPECT_EQ(lines[17], "Radial Distance (cm):\t  0.00\t  0.00\t  0.00");
  EXPECT_EQ(lines[18], "Position:\tBottom\tMiddle\tTop");
}

TEST(DetailPointTable, DefaultPointsStopAboveAStiffLayer) {
  RunState state = english_stiff_layer_adjusted().stations.front();
  state.settings.point_count = 0;
  set_default_points(state.settings);
  const auto lines = detail_lines(state);
  EXPECT_EQ(lines[16], "Layer No:\t1\t2\t3");
  EXPECT_EQ(lines[17], "Radial Distance (in):\t  0.00\t  0.00\t  0.00");
  EXPECT_EQ(lines[18], "Position:\tBottom\tMiddle\tTop");
  EXPECT_EQ(lines[19], "Vertical Stress (psi):\t   58.21\t    8.95\t    4.10");
  EXPECT_EQ(columns_of(lines[24]).size(), 4u);
}

TEST(DetailPointTable, DefaultPointsOfTwoLayersAreBottomAndTop) {
  RunState state = metric_two_layers_adjusted().stations.front();
  state.settings.point_count = 0;
  set_default_points(state.settings);
  const auto lines = detail_lines(state);
  EXPECT_EQ(line_starting(lines, "Position:"), "Position:\tBottom\tTop");
  EXPECT_EQ(line_starting(lines, "Vertical Stress"), "Vertical Stress (kPa):\t  410.50\t  380.25");
}

TEST(DetailPointTable, UserPointsReplaceTheDefaults) {
  const auto lines = detail_lines(english_stiff_layer_adjusted().stations.front());
  EXPECT_EQ(lines[16], "Layer No:\t1\t2\t3\t3");
  EXPECT_EQ(lines[17], "Radial Distance (in):\t  0.00\t 12.00\t  0.00\t 36.50");
  EXPECT_EQ(lines[18], "Position:\tBottom\tMiddle\tTop\tBottom");
  EXPECT_EQ(lines[20], "Radial Stress (psi):\t -210.40\t    1.33\t    0.45\t   -0.08");
}

TEST(DetailPointTable, APositionCodeOutsideTheTableReadsNotApplicable) {
  RunState state = english_stiff_layer_adjusted().stations.front();
  state.settings.points[1].position = 7;
  EXPECT_EQ(detail_lines(state)[18], "Position:\tBottom\tN/A\tTop\tBottom");
}

TEST(DetailStatistics, OnlyStationsWithSeveralDropsHaveThem) {
  const RunState one_drop = metric_default_points().stations.back();
  const auto lines = detail_lines(one_drop);
  for (const char* label : {"Mean Moduli", "Normalized Moduli", "K1", "K2:", "R-Squared:", "Soil Type:"})
    EXPECT_EQ(count_starting(lines, label), 0) << label;
  EXPECT_EQ(count_starting(lines, "Layer No:"), 2);  // moduli and point table of the one drop
  EXPECT_EQ(lines.back().rfind("Radial Strain (10^-6):", 0), 0u);
  EXPECT_EQ(lines.size(), 5u + 2u + 18u);
}

TEST(DetailStatistics, FitLinesHaveOneColumnPerLayerAndTheSurfaceIsNeverFitted) {
  for (const Scenario& scenario : all_scenarios()) {
    const RunState& state = scenario.stations.front();
    const auto lines = detail_lines(state);
    for (const char* label : {"K1 (", "K2:", "R-Squared:", "Soil Type:"}) {
      const std::vector<std::string> columns = columns_of(line_starting(lines, label));
      ASSERT_EQ(columns.size(), static_cast<std::size_t>(state.settings.layer_count) + 1)
          << scenario.name << label;
      EXPECT_EQ(columns[1], "N/A") << scenario.name << label;
    }
  }
}

TEST(DetailStatistics, CoarseAndFineLayersShowTheirFitOthersNotApplicable) {
  const auto lines = detail_lines(english_stiff_layer_adjusted().stations.front());
  const std::size_t last = lines.size();
  ASSERT_EQ(last, 50u);
  EXPECT_EQ(lines[43], "Layer No:\t 1\t 2\t 3\t 4\t1-(adj)");
  EXPECT_EQ(lines[44], "Mean Moduli (ksi):\t  505.20\t   39.92\t   11.19\t 1000.00\t  490.85");
  EXPECT_EQ(lines[45], "Normalized Moduli (ksi):\t  505.20\t   40.10\t   11.10\t 1000.00\t 487.246");
  EXPECT_EQ(lines[46], "K1 (ksi):\tN/A\t   21.43\t   15.88\tN/A");
  EXPECT_EQ(lines[47], "K2:\tN/A\t    0.53\t   -0.20\tN/A");
  EXPECT_EQ(lines[48], "R-Squared:\tN/A\t  100.00\t  100.00\tN/A");
  EXPECT_EQ(lines[49], "Soil Type:\tN/A\tCoarse\tFine\tN/A");
}

TEST(DetailStatistics, AnUnknownSoilTypeShowsNoFit) {
  RunState state = english_stiff_layer_adjusted().stations.front();
  state.report.statistics.soil_type[2] = 5;
  const auto lines = detail_lines(state);
  EXPECT_EQ(line_starting(lines, "K1 (ksi):"), "K1 (ksi):\tN/A\t   21.43\tN/A\tN/A");
  EXPECT_EQ(line_starting(lines, "Soil Type:"), "Soil Type:\tN/A\tCoarse\tN/A\tN/A");
}

TEST(DetailStatistics, TheStatisticsComeFromTheReportCopies) {
  // The station loop copies the statistics for the reports; the working values may differ.
  RunState state = metric_station();
  state.results.statistics.mean_modulus[1] = 999.0f;
  EXPECT_EQ(line_starting(detail_lines(state), "Mean Moduli"),
            "Mean Moduli (MPa):\t43455.73\t  228.50\t   82.71");
}

TEST(DetailReport, StationsFollowOneAnotherWithoutBlankLines) {
  const Scenario scenario = metric_default_points();
  std::ostringstream text;
  TextUnit unit(text);
  DetailReport report(unit);
  report.write_header(scenario.stations.front());
  for (const RunState& s : scenario.stations) report.write_station(s);
  const auto lines = lines_of(text.str());
  ASSERT_EQ(lines.size(), 88u);
  EXPECT_EQ(lines[67], "Soil Type:\tN/A\tCoarse\tN/A");
  EXPECT_EQ(lines[68].rfind("Station: A-17", 0), 0u);
  EXPECT_FALSE(unit.record_open() && text.str().back() != '\n');
}

}  // namespace
}  // namespace basinfit::testing
