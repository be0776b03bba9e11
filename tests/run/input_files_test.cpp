#include "run/input_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace basinfit {
namespace {

const char* kGeneral3Layer =
    "Three-layer flexible pavement\n"
    "3 0 15.0 9 0\n"
    "0 20 30 45 60 90 120 150 180\n"
    "1 1 0 0\n"
    "1 0 0.35 3000 100 20000\n"
    "2 0 0.40 300 0 0\n"
    "3 1 0.45 60\n"
    "20 1.0 1.0\n";

std::optional<SettingsProblem> read(const std::string& text, RunSettings& s) {
  return read_general_data(TextFile("gen.dat", text), s);
}

TEST(GeneralData, ReadsEveryRecordAndDerivesWorkingValues) {
  RunSettings s;
  ASSERT_FALSE(read(kGeneral3Layer, s).has_value());
  EXPECT_EQ(s.layer_count, 3);
  EXPECT_TRUE(s.metric());
  EXPECT_FLOAT_EQ(s.plate_radius, 15.0f);
  EXPECT_EQ(s.sensor_count, 9);
  EXPECT_FLOAT_EQ(s.sensor_offset[8], 180.0f);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(s.sensor_weight[static_cast<std::size_t>(i)], 1.0f);
  EXPECT_EQ(s.seed_option, 0);
  EXPECT_FLOAT_EQ(s.initial_modulus[0], 3000.0f);
  // Bounds become exponents: 100 and 20000 give 2 and log10(20000); 0 and 0 give -1 and 6.
  EXPECT_FLOAT_EQ(s.layers[0].lower_exponent, 2.0f);
  EXPECT_NEAR(s.layers[0].upper_exponent, 4.30103f, 1e-5f);
  EXPECT_FLOAT_EQ(s.layers[1].lower_exponent, -1.0f);
  EXPECT_FLOAT_EQ(s.layers[1].upper_exponent, 6.0f);
  EXPECT_FALSE(s.layers[2].backcalculated());
  // Metric factors; 40000 N is 8992 lbf.
  EXPECT_FLOAT_EQ(s.units.load, 0.2248f);
  EXPECT_FLOAT_EQ(40000.0f * s.units.load, 8992.0f);
  EXPECT_FLOAT_EQ(s.atmospheric_pressure, 14.696f / 0.145f);
  EXPECT_EQ(s.max_iterations, 20);
  // No point records: P stays 0 and the defaults label the table.
  EXPECT_EQ(s.point_count, 0);
  EXPECT_EQ(s.default_point_count, 3);
  EXPECT_EQ(s.points[0].layer, 1);
  EXPECT_EQ(s.points[0].position, kBottomOfLayer);
  EXPECT_EQ(s.points[1].position, kMiddleOfLayer);
  EXPECT_EQ(s.points[2].layer, 3);
  EXPECT_EQ(s.points[2].position, kTopOfLayer);
}

TEST(GeneralData, EnglishUnitsLeaveValuesUnchanged) {
  RunSettings s;
  std::string text = kGeneral3Layer;
  text.replace(text.find("3 0 15.0"), 8, "3 2 5.91");
  ASSERT_FALSE(read(text, s).has_value());
  EXPECT_FALSE(s.metric());
  EXPECT_EQ(s.units.length, 1.0f);
  EXPECT_EQ(s.units.modulus, 1.0f);
  EXPECT_FLOAT_EQ(s.atmospheric_pressure, 14.696f);
}

TEST(GeneralData, LayerRecordsInAnyOrderAndSensorWeights) {
  RunSettings s;
  ASSERT_FALSE(read("t\n2 1 5.9 3 2\n"
                    "0 12 24\n"
                    "1 0.5 2\n"  // the weights of option 2 may continue on the next line
                    "0 0 1 0\n"
                    "2 1 0.35 400 0 0\n"  // extra values on a fixed layer's record are ignored
                    "1 0 0.4 10000 5000 800000\n"
                    "5, 2., 3.\n"
                    "0 1 0\n12 2 2\n",
                    s)
                   .has_value());
  EXPECT_EQ(s.weighting_option, 2);
  EXPECT_FLOAT_EQ(s.sensor_weight[0], 1.0f);
  EXPECT_FLOAT_EQ(s.sensor_weight[2], 2.0f);
  EXPECT_FLOAT_EQ(s.sensor_weight[1], 0.5f);
  EXPECT_EQ(s.stiff_layer, 0);
  EXPECT_FLOAT_EQ(s.layers[0].lower_bound, 5000.0f);
  EXPECT_FLOAT_EQ(s.initial_modulus[1], 400.0f);
  EXPECT_EQ(s.point_count, 2);
  EXPECT_FLOAT_EQ(s.points[1].radial_distance, 12.0f);
  EXPECT_EQ(s.points[1].position, kBottomOfLayer);
}

TEST(GeneralData, AtMostTenPointsAreRead) {
  RunSettings s;
  std::string text = kGeneral3Layer;
  for (int i = 0; i < 12; ++i) text += std::to_string(i) + " 2 1\n";
  ASSERT_FALSE(read(text, s).has_value());
  EXPECT_EQ(s.point_count, 10);
  EXPECT_FLOAT_EQ(s.points[9].radial_distance, 9.0f);
}

TEST(GeneralData, WeightingOptionOneReadsOnlyOffsets) {
  RunSettings s;
  std::string text = kGeneral3Layer;
  text.replace(text.find("15.0 9 0"), 8, "15.0 9 1");
  ASSERT_FALSE(read(text, s).has_value());
  EXPECT_EQ(s.weighting_option, 1);
  EXPECT_EQ(s.layer_count, 3);
}

TEST(GeneralData, DefaultPointsFollowTheLayersAboveTheStiffLayer) {
  RunSettings s;
  s.layer_count = 4;
  s.stiff_layer = 1;
  set_default_points(s);
  EXPECT_EQ(s.default_point_count, 3);
  EXPECT_EQ(s.points[2].layer, 3);
  EXPECT_EQ(s.points[2].position, kTopOfLayer);
  s.layer_count = 2;
  set_default_points(s);
  EXPECT_EQ(s.default_point_count, 1);
  EXPECT_EQ(s.points[0].position, kBottomOfLayer);
}

struct BadGeneral {
  const char* find;
  const char* replace;
  const char* message;
  int line;
  const char* reason_part;
};

TEST(GeneralData, UnusableValuesGiveTheWordedMessageAndAPreciseReason) {
  const BadGeneral cases[] = {
      {"3 0 15.0 9 0", "6 0 15.0 9 0", kGeneralDataMessage, 2, "number of layers is 6"},
      {"3 0 15.0 9 0", "3 0 15.0 11 0", kGeneralDataMessage, 2, "number of sensors is 11"},
      {"3 0 15.0 9 0", "3 0 0 9 0", kGeneralDataMessage, 2, "plate radius is 0"},
      {"3 0 15.0 9 0", "3 0 15.0 9 3", kGeneralDataMessage, 2, "weighting option is 3"},
      {"1 0 0.35 3000", "1 0 0.55 3000", kGeneralDataMessage, 5, "Poisson's ratio of layer 1 is 0.55"},
      {"3 1 0.45 60", "3 1 0.45 0", kGeneralDataMessage, 7, "modulus of layer 3 is 0"},
      {"3 1 0.45 60", "4 1 0.45 60", kGeneralDataMessage, 7, "layer number is 4"},
      {"3 1 0.45 60", "2 1 0.45 60", kGeneralDataMessage, 7, "layer 2 is given twice"},
      {"100 20000", "30000 20000", kGeneralDataMessage, 5, "above its upper bound"},
      {"20 1.0 1.0", "20 1.0 NaN", kGeneralDataMessage, 8, "expected a finite number"},
      {"20 1.0 1.0", "20 1.0 1e39", kGeneralDataMessage, 8, "within single precision"},
      {"20 1.0 1.0\n", "", kGeneralDataMessage, 8, "ends before"},
      {"20 1.0 1.0\n", "20 1.0 1.0\n5 9 1\n", kGeneralDataMessage, 9, "lies in layer 9"},
      {"20 1.0 1.0\n", "20 1.0 1.0\n5 2 3\n", kGeneralDataMessage, 9, "position code is 3"},
      {"20 1.0 1.0\n", "20 1.0 1.0\n5 2\n", kGeneralDataMessage, 9, "incomplete"},
      {"1 1 0 0", "1 1 0 2", kGeneralDataMessage, 4, "stiff-layer flag is 2"},
      {"3 0 15.0 9 0", "4 0 15.0 9 0\n", kSeedOptionMessage, 0, "at most 3 layers"},
  };
  for (const BadGeneral& c : cases) {
    std::string text = kGeneral3Layer;
    text.replace(text.find(c.find), std::string(c.find).size(), c.replace);
    if (std::string(c.message) == kSeedOptionMessage) text.insert(text.find("20 1.0"), "4 1 0.45 60\n");
    RunSettings s;
    const auto problem = read(text, s);
    ASSERT_TRUE(problem.has_value()) << c.replace;
    EXPECT_EQ(problem->message, c.message) << c.replace;
    EXPECT_EQ(problem->detail.line(), c.line) << c.replace << ": " << problem->detail.what();
    EXPECT_NE(problem->detail.reason().find(c.reason_part), std::string::npos) << problem->detail.reason();
  }
}

TEST(StandardValues, CheckValueMustBeOne) {
  RunSettings s;
  EXPECT_FALSE(read_standard_values(TextFile("std", "1 70.0\n"), s).has_value());
  EXPECT_FLOAT_EQ(s.reference_temperature, 70.0f);
  const auto problem = read_standard_values(TextFile("std", "2, 68\n"), s);
  ASSERT_TRUE(problem.has_value());
  EXPECT_EQ(problem->message, "Error Standard Value File");
  EXPECT_THROW(read_standard_values(TextFile("std", "1\n"), s), InputError);
  EXPECT_THROW(read_standard_values(TextFile("std", "x 70\n"), s), InputError);
}

TEST(GeneralData, PhysicalLimitsAreAcceptedAndValuesBeyondThemRefused) {
  struct Limit {
    const char* find;
    const char* replace;
    int line;                 // 0: accepted
    const char* reason_part;  // for a refused value
  };
  const Limit cases[] = {
      {"180\n", "1000\n", 0, ""},
      {"180\n", "1000.1\n", 3, "the offset of sensor 9 is 1000.1, expected 0 to 1000 cm"},
      {"3 0 15.0 9 0\n0 20 30 45 60 90 120 150 180", "3 1 15.0 9 0\n0 20 30 45 60 90 120 150 400", 0, ""},
      {"3 0 15.0 9 0\n0 20 30 45 60 90 120 150 180", "3 1 15.0 9 0\n0 20 30 45 60 90 120 150 400.5", 3,
       "the offset of sensor 9 is 400.5, expected 0 to 400 in"},
      {"3 0 15.0 9 0\n0 20 30 45 60 90 120 150 180", "3 0 15.0 9 2\n0 20 30 45 60 90 120 150 180 8*0 0.5", 0,
       ""},
      {"3 0 15.0 9 0\n0 20 30 45 60 90 120 150 180", "3 0 15.0 9 2\n0 20 30 45 60 90 120 150 180 9*0", 3,
       "every sensor weight is 0"},
      {"3000 100 20000", "1e7 100 1e7", 0, ""},
      {"3000 100 20000", "1.1e7 100 20000", 5,
       "the modulus of layer 1 is 1.1e+07, expected above 0 and at most"},
      {"3000 100 20000", "3000 100 3e38", 5, "the modulus bounds of layer 1 are 100 and 3e+38"},
      {"3 1 0.45 60", "3 1 0.45 0.1", 0, ""},
      {"3 1 0.45 60", "3 1 0.45 0.09", 7, "the modulus of layer 3 is 0.09, expected 0.1 to 1e+07"},
      {"3 1 0.45 60", "3 1 0.45 3.4e38", 7, "the modulus of layer 3 is 3.4e+38"},
  };
  for (const Limit& c : cases) {
    std::string text = kGeneral3Layer;
    text.replace(text.find(c.find), std::string(c.find).size(), c.replace);
    RunSettings s;
    const auto problem = read(text, s);
    if (c.line == 0) {
      EXPECT_FALSE(problem.has_value()) << c.replace << ": " << problem->detail.what();
      continue;
    }
    ASSERT_TRUE(problem.has_value()) << c.replace;
    EXPECT_EQ(problem->message, kGeneralDataMessage) << c.replace;
    EXPECT_EQ(problem->detail.line(), c.line) << c.replace << ": " << problem->detail.what();
    EXPECT_NE(problem->detail.reason().find(c.reason_part), std::string::npos) << problem->detail.reason();
  }
}

TEST(StandardValues, ReferenceTemperatureWithinThePhysicalRangeInFahrenheit) {
  for (const char* good : {"1 -76\n", "1 194\n"}) {
    RunSettings s;
    EXPECT_FALSE(read_standard_values(TextFile("std", good), s).has_value()) << good;
  }
  for (const char* bad : {"1 194.5\n", "1 -273\n", "1 1e20\n"}) {
    RunSettings s;
    const auto problem = read_standard_values(TextFile("std", bad), s);
    ASSERT_TRUE(problem.has_value()) << bad;
    EXPECT_EQ(problem->message, kStandardValueMessage);
    EXPECT_EQ(problem->detail.line(), 1);
    EXPECT_NE(problem->detail.reason().find("expected -76 to 194 F"), std::string::npos)
        << problem->detail.reason();
  }
}

TEST(StationValues, TemperaturesInUseLoadsAndDeflectionsWithinTheirLimits) {
  struct StationCase {
    int unit_flag;
    int adjustment;
    int option;
    float t1, t2, load, deflection;
    const char* reason;  // nullptr: accepted
    int line;
  };
  const StationCase cases[] = {
      {0, 1, 1, 90, -60, 1e6f, 100000, nullptr, 0},
      {0, 1, 1, 90.5f, 20, 40000, 300, "station S7: temperature 1 is 90.5 C, expected -60 to 90 C", 12},
      {0, 1, 1, 20, -60.5f, 40000, 300, "station S7: temperature 2 is -60.5 C", 12},
      {0, 1, 0, 20, -273, 40000, 300, nullptr, 0},     // temperature 2 is not used
      {0, 0, 1, 1e20f, -273, 40000, 300, nullptr, 0},  // no adjustment: neither is used
      {1, 1, 0, 194, 0, 225000, 4000, nullptr, 0},
      {1, 1, 0, -76.5f, 0, 9000, 10, "temperature 1 is -76.5 F, expected -76 to 194 F", 12},
      {0, 0, 0, 20, 20, 1.5e6f, 300, "station S7, drop 2: the load is 1.5e+06 N, expected 0 to 1e+06 N", 14},
      {0, 0, 0, 20, 20, -1, 300, "drop 2: the load is -1 N", 14},
      {1, 0, 0, 20, 20, 225001, 300, "the load is 225001 lbf", 14},
      {0, 0, 0, 20, 20, 40000, 1e38f, "drop 2: the deflection of sensor 3 is 1e+38 microns", 14},
      {0, 0, 0, 20, 20, 40000, -100001, "the deflection of sensor 3 is -100001 microns", 14},
      {1, 0, 0, 20, 20, 9000, 4000.5f,
       "the deflection of sensor 3 is 4000.5 mils, expected -4000 to 4000 mils", 14},
  };
  for (const StationCase& c : cases) {
    RunSettings s;
    s.unit_flag = c.unit_flag;
    s.temperature_adjustment = c.adjustment;
    s.temperature_option = c.option;
    s.sensor_count = 3;
    StationData st;
    st.id = "S7        ";
    st.header_line = 12;
    st.drop_count = 2;
    st.temperature1 = c.t1;
    st.temperature2 = c.t2;
    st.load = {40000, c.load};
    st.drop_line = {13, 14};
    st.measured[0] = {300, 200, 100};
    st.measured[1] = {300, 200, c.deflection};
    const std::string label =
        std::to_string(c.t1) + " " + std::to_string(c.load) + " " + std::to_string(c.deflection);
    if (c.reason == nullptr) {
      EXPECT_NO_THROW(check_station_values(s, st, "defl.dat")) << label;
      continue;
    }
    try {
      check_station_values(s, st, "defl.dat");
      ADD_FAILURE() << "accepted: " << label;
    } catch (const InputError& e) {
      EXPECT_EQ(e.line(), c.line) << e.what();
      EXPECT_NE(std::string(e.what()).find("defl.dat"), std::string::npos) << e.what();
      EXPECT_NE(e.reason().find(c.reason), std::string::npos) << e.what();
    }
  }
}

// The solver's first difference step, h = sqrt(eps) max(|x|, 1), walked along a box from its
// ends and its middle exactly as the Jacobian is formed: the classification must agree.
TEST(DifferenceStep, RoomInTheBoundBoxFollowsTheFirstJacobianStep) {
  const float h3000 = std::sqrt(std::ldexp(1.0f, -23)) * std::log10(3000.0f);
  struct Box {
    float lower, upper;
    DifferenceRoom room;
  };
  const float x = std::log10(3000.0f);
  const Box cases[] = {
      {std::log10(2999.0f), std::log10(3001.0f), DifferenceRoom::kNowhere},
      {x - 0.45f * h3000, x + 0.45f * h3000, DifferenceRoom::kNowhere},
      {x - 0.55f * h3000, x + 0.55f * h3000, DifferenceRoom::kNotMidway},
      {x - 0.95f * h3000, x + 0.95f * h3000, DifferenceRoom::kNotMidway},
      {x - 1.05f * h3000, x + 1.05f * h3000, DifferenceRoom::kEverywhere},
      {std::log10(500.0f), std::log10(20000.0f), DifferenceRoom::kEverywhere},
      {x, x, DifferenceRoom::kEverywhere},  // a closed box needs no difference
      {-1.0f, -1.0f + 0.9f * std::sqrt(std::ldexp(1.0f, -23)),
       DifferenceRoom::kNowhere},  // |x| < 1: h = sqrt(eps)
  };
  for (const Box& c : cases) {
    EXPECT_EQ(difference_step_room(c.lower, c.upper), c.room) << c.lower << " " << c.upper;
    // Independent check on a fine grid of starts across the box.
    if (!(c.lower < c.upper)) continue;
    int without_column = 0;
    const int starts = 101;
    for (int i = 0; i < starts; ++i) {
      const float start = c.lower + (c.upper - c.lower) * static_cast<float>(i) / (starts - 1);
      const float h = std::sqrt(std::ldexp(1.0f, -23)) * std::max(std::fabs(start), 1.0f);
      if (start - h < c.lower && start + h > c.upper) ++without_column;
    }
    const DifferenceRoom seen = without_column == starts ? DifferenceRoom::kNowhere
                                : without_column > 0     ? DifferenceRoom::kNotMidway
                                                         : DifferenceRoom::kEverywhere;
    EXPECT_EQ(seen, c.room) << c.lower << " " << c.upper;
  }
}

TEST(DifferenceStep, WarningNamesTheFileLineAndLayerOnce) {
  std::string text = kGeneral3Layer;
  text.replace(text.find("3000 100 20000"), 14, "3000 2999 3001");
  RunSettings s;
  ASSERT_FALSE(read(text, s).has_value());
  const std::vector<std::string> warnings = settings_warnings(s, "gen.dat");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].rfind("gen.dat, line 5: warning: layer 1 is backcalculated between 2999 and 3001", 0),
            0u)
      << warnings[0];
  EXPECT_NE(warnings[0].find("every drop will end with Error (75)"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[0].find("widen its bounds"), std::string::npos) << warnings[0];
  RunSettings wide;
  ASSERT_FALSE(read(kGeneral3Layer, wide).has_value());
  EXPECT_TRUE(settings_warnings(wide, "gen.dat").empty());
}

}  // namespace
}  // namespace basinfit
