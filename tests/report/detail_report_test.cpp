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

RunState metric_station() { return metric_default_points().stations.front(); }

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

TEST(DetailDrop, LoadsAndDeflectionsTooWideForTheirFieldsBecomeAsterisks) {
  RunState state = metric_station();
  state.station.load[0] = 123456789.0f;
  state.station.measured[0][0] = 100000.0f;
  const auto lines = detail_lines(state);
  EXPECT_EQ(lines[7], "Drop No:  1\tLoad (N): ********\tNo of Iterations: 5");
  EXPECT_EQ(columns_of(lines[10])[1], "********");
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

TEST(DetailPointTable, APositionCodeOutsideTheTableReadsNotApplicable) {
  RunState state = english_stiff_layer_adjusted().stations.front();
  state.settings.points[1].position = 7;
  EXPECT_EQ(detail_lines(state)[18], "Position:\tBottom\tN/A\tTop\tBottom");
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

}  // namespace
}  // namespace basinfit::testing
