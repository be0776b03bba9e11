#include "run/station_loop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "run/input_files.h"

namespace basinfit {
namespace {

const char* kStandard = "1 70\n";
const char* kGeneral =
    "Loop test\n"
    "3 0 15.0 3 0\n"
    "0 30 60\n"
    "1 1 1 0\n"
    "1 0 0.35 3000 100 20000\n"
    "2 0 0.40 300 10 2000\n"
    "3 0 0.45 60 5 500\n"
    "20 1.0 1.0\n";

// Records every call the loop makes and plays a simple backcalculation: each drop's moduli
// are its seeds plus 1, and the calculated deflections are 90 % of the measured ones.
class RecordingComputations : public StationComputations {
 public:
  std::vector<std::string> calls;
  void compute_seeds(RunState& s) override {
    calls.push_back("seeds " + s.station.id);
    for (int j = 0; j < 3; ++j)
      s.results.modulus[0][static_cast<std::size_t>(j)] = 1000.0f * static_cast<float>(j + 1);
  }
  float temperature_factor(RunState&) override {
    calls.push_back("temperature");
    return 0.5f;
  }
  DropOutcome backcalculate(RunState& s, int drop) override {
    calls.push_back("drop " + std::to_string(drop));
    const auto d = static_cast<std::size_t>(drop - 1);
    seeds_seen.push_back(s.results.seed[d][0]);
    for (std::size_t j = 0; j < 3; ++j) s.results.modulus[d][j] = s.results.modulus[d][j] + 1.0f;
    for (std::size_t k = 0; k < 3; ++k) s.results.calculated[d][k] = 0.9f * s.station.measured[d][k];
    s.results.responses.vertical_stress[d][0] = 100.0f;
    weights_seen.push_back(s.settings.sensor_weight[1]);
    return DropOutcome{12 + drop, drop};
  }
  void station_statistics(RunState&) override { calls.push_back("statistics"); }
  void user_point_responses(RunState& s, int drop) override {
    calls.push_back("points " + std::to_string(drop));
    s.results.responses.vertical_stress[static_cast<std::size_t>(drop - 1)][0] = 7.0f;
  }
  std::vector<float> seeds_seen;
  std::vector<float> weights_seen;
};

class RecordingReports : public ReportWriter {
 public:
  int headers = 0;
  std::vector<std::string> stations;
  std::vector<float> first_stress;
  void write_headers(const RunState& s) override {
    ++headers;
    route = s.settings.route;
  }
  void write_station(const RunState& s) override {
    stations.push_back(s.station.id);
    first_stress.push_back(s.report.responses.vertical_stress[0][0]);
  }
  std::string route;
};

struct LoopRun {
  RunState state;
  std::ostringstream log_text;
  TextUnit log{log_text};
  MessageWriter messages{&log, nullptr};
  RecordingComputations computations;
  RecordingReports reports;
  DriverEnd end{};
  Driver driver{state, messages, computations, reports, [] { return ClockTime{9, 5, 7}; }};

  void run(const std::string& general, const std::string& deflections) {
    TextFile std_file("std.dat", kStandard), gen_file("gen.dat", general), defl_file("defl.dat", deflections);
    end = driver.run({&std_file, &gen_file, &defl_file});
    log.finish();
  }
};

TEST(StationLoop, WalksStationsAndDropsWithProgressLines) {
  LoopRun r;
  r.run(kGeneral,
        "Route 7 northbound\n"
        "1250, 2 10.2 25.4 0 0 21.5 18.0\n"
        "40000 300 200 100\n"
        "53000 400 266 133\n"
        "\n"
        "ST-000000012345 1 10 20 0 0 20 20\n"
        "27000 200 150 80\n"
        "   \n\t\n");
  EXPECT_EQ(r.end, DriverEnd::kEndOfData);
  EXPECT_EQ(r.reports.headers, 1);
  EXPECT_EQ(r.reports.route.size(), 79u);
  EXPECT_EQ(r.reports.route.substr(0, 18), "Route 7 northbound");
  ASSERT_EQ(r.reports.stations.size(), 2u);
  EXPECT_EQ(r.reports.stations[0], "1250      ");
  EXPECT_EQ(r.reports.stations[1], "ST-0000000");  // cut to ten characters
  // Seeds come from the layer records (seed option 1); drop 2 starts from drop 1's result;
  // the next station's first drop starts from the previous station's first-drop result.
  EXPECT_EQ(r.computations.seeds_seen, (std::vector<float>{3000.0f, 3001.0f, 3001.0f}));
  EXPECT_EQ(r.computations.calls, (std::vector<std::string>{"temperature", "drop 1", "drop 2", "statistics",
                                                            "temperature", "drop 1"}));
  const std::string expected =
      "  Starting Drop No  1 of  2 drops at Station 1250       at  9:  5:  7\n"
      "  Finished Drop No  1 of  2 drops at Station 1250       at  9:  5:  7\n"
      "  Starting Drop No  2 of  2 drops at Station 1250       at  9:  5:  7\n"
      "  Finished Drop No  2 of  2 drops at Station 1250       at  9:  5:  7\n"
      "  Starting Drop No  1 of  1 drops at Station ST-0000000 at  9:  5:  7\n"
      "  Finished Drop No  1 of  1 drops at Station ST-0000000 at  9:  5:  7\n";
  EXPECT_EQ(r.log_text.str(), expected);
  // The last station's values: one drop, code and count stored, adjusted modulus with the factor.
  const StationResults& res = r.state.results;
  EXPECT_EQ(res.convergence_code[0], 13);
  EXPECT_EQ(res.iterations[0], 1);
  EXPECT_FLOAT_EQ(res.adjusted_surface_modulus[0], 3002.0f * 0.5f);
  // Every calculated deflection is 10 % low: RMS = 100 sqrt(3 * 0.01 / 3) = 10 %.
  EXPECT_NEAR(res.rms_error[0], 10.0f, 1e-4f);
  EXPECT_NEAR(res.average_rms_error, 10.0f, 1e-4f);
  // Default-point responses reach the reports with their sign changed.
  EXPECT_EQ(r.reports.first_stress, (std::vector<float>{-100.0f, -100.0f}));
}

TEST(StationLoop, SeedOptionZeroComputesSeedsPerStationAndUserPointsOverwriteDefaults) {
  LoopRun r;
  std::string general = kGeneral;
  general.replace(general.find("1 1 1 0"), 7, "0 0 0 0");
  general += "0 2 1\n";
  r.run(general,
        "route\n"
        "A 1 10 20 0 0 20 20\n27000 200 150 80\n"
        "B 1 10 20 0 0 20 20\n27000 200 150 80\n");
  EXPECT_EQ(r.computations.calls, (std::vector<std::string>{"seeds A         ", "drop 1", "points 1",
                                                            "seeds B         ", "drop 1", "points 1"}));
  EXPECT_EQ(r.computations.seeds_seen, (std::vector<float>{1000.0f, 1000.0f}));
  EXPECT_EQ(r.reports.first_stress, (std::vector<float>{-7.0f, -7.0f}));
  EXPECT_FLOAT_EQ(r.state.results.adjusted_surface_modulus[0], 0.0f);  // no adjustment: factor 0
}

TEST(StationLoop, WeightingOptionOneUsesDeflectionRatiosPerDrop) {
  LoopRun r;
  std::string general = kGeneral;
  general.replace(general.find("15.0 3 0"), 8, "15.0 3 1");
  r.run(general, "route\nA 2 10 20 0 0 20 20\n40000 400 200 100\n40000 500 100 50\n");
  EXPECT_EQ(r.computations.weights_seen, (std::vector<float>{0.5f, 0.2f}));
}

TEST(StationLoop, RmsLeavesOutSmallDeflectionsButCountsThem) {
  StationData st;
  StationResults res;
  st.measured[0] = {100.0f, 0.05f, 50.0f};
  res.calculated[0] = {90.0f, 7.0f, 50.0f};
  // Only the first sensor contributes 0.01; the divisor is 3.
  EXPECT_NEAR(drop_rms_error(st, res, 3, 1), 100.0f * std::sqrt(0.01f / 3.0f), 1e-4f);
}

TEST(StationLoop, HeaderWithoutSeparatorStopsProcessing) {
  LoopRun r;
  // A shorter line is padded with blanks to 80 characters, so only a line whose first 80
  // characters hold no separator stops the loop.
  const std::string long_line(85, 'X');
  r.run(kGeneral, "route\nA 1 10 20 0 0 20 20\n27000 200 150 80\n" + long_line +
                      "\nB 1 10 20 0 0 20 20\n27000 1 1 1\n");
  EXPECT_EQ(r.end, DriverEnd::kHeaderStop);
  EXPECT_EQ(r.driver.stop_line(), 4);
  EXPECT_EQ(r.reports.stations.size(), 1u);
}

struct BadStation {
  const char* text;
  int line;
  const char* reason_part;
};

TEST(StationLoop, MalformedStationsNameStationAndLineAndKeepFinishedStations) {
  const BadStation cases[] = {
      {" A 1 10 20 0 0 20 20\n", 4, "begins with a separator"},
      {",A 1 10 20 0 0 20 20\n", 4, "begins with a separator"},
      {"B 0 10 20 0 0 20 20\n", 4, "station B: the number of drops is 0"},
      {"B -2 10 20 0 0 20 20\n", 4, "number of drops is -2"},
      {"B 17 10 20 0 0 20 20\n", 4, "number of drops is 17"},
      {"B 1 0 20 0 0 20 20\n27000 1 1 1\n", 4, "thickness of layer 1 is 0"},
      {"B 1 10 -20 0 0 20 20\n27000 1 1 1\n", 4, "thickness of layer 2 is -20"},
      {"B 1 10 20 0 0 20\n27000 1 1 1\n", 4, "header ends too early"},
      {"B 1 10 20 0 0 20 x\n27000 1 1 1\n", 4, "expected a number for temperature 2"},
      {"B 2 10 20 0 0 20 20\n27000 1 1 1\n", 6, "the file ends before drop 2 of 2"},
      {"B 1 10 20 0 0 20 20\n27000 1 Inf 1\n", 5, "expected a finite number"},
      {"B 1 10 20 0 0 20 20\n1e40 1 1 1\n", 5, "within single precision"},
  };
  for (const BadStation& c : cases) {
    LoopRun r;
    try {
      r.run(kGeneral, std::string("route\nA 1 10 20 0 0 20 20\n27000 200 150 80\n") + c.text);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const InputError& e) {
      EXPECT_EQ(e.file(), "defl.dat");
      EXPECT_EQ(e.line(), c.line) << c.text << e.what();
      EXPECT_NE(e.reason().find(c.reason_part), std::string::npos) << e.reason();
    }
    EXPECT_EQ(r.reports.stations.size(), 1u) << c.text;  // station A was written completely
  }
}

TEST(StationLoop, SettingsErrorsEndTheDriverBeforeAnyReport) {
  LoopRun r;
  std::string general = kGeneral;
  general.replace(general.find("0.35"), 4, "0.75");
  r.run(general, "route\n");
  EXPECT_EQ(r.end, DriverEnd::kSettingsError);
  EXPECT_EQ(r.reports.headers, 0);
  EXPECT_EQ(r.log_text.str(), " Error in General Data File! Press <Enter> to Continue...\n");
  ASSERT_TRUE(r.driver.settings_problem().has_value());
  EXPECT_EQ(r.driver.settings_problem()->line(), 5);
}

}  // namespace
}  // namespace basinfit
