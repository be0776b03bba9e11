#include "run/input_files.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace basinfit
