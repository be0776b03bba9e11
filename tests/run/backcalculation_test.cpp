// Backcalculation round trips: basins computed by the model from known moduli must be
// backcalculated to those moduli.
#include "run/backcalculation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "run/model_wrapper.h"

namespace basinfit {
namespace {

struct Survey {
  RunState state;
  std::ostringstream log_text;
  TextUnit log{log_text};
  MessageWriter messages{&log, nullptr};

  // A metric three-layer pavement: 150 mm asphalt, 300 mm base, subgrade; 9 sensors to 1800 mm.
  Survey() {
    RunSettings& s = state.settings;
    s.unit_flag = 0;
    s.units = UnitFactors::for_flag(0);
    s.atmospheric_pressure = atmospheric_pressure(s.units);
    s.layer_count = 3;
    s.plate_radius = 15.0f;
    s.sensor_count = 9;
    s.sensor_offset = {0, 20, 30, 45, 60, 90, 120, 150, 180};
    s.sensor_weight.fill(1.0f);
    s.max_iterations = 30;
    s.rms_tolerance = 0.0f;
    s.modulus_tolerance = 0.0f;
    const float nu[] = {0.35f, 0.35f, 0.45f};
    const float lo[] = {500, 50, 10}, hi[] = {20000, 3000, 500};
    for (std::size_t j = 0; j < 3; ++j) {
      s.layers[j].type = 0;
      s.layers[j].poisson_ratio = nu[j];
      s.layers[j].lower_exponent = std::log10(lo[j]);
      s.layers[j].upper_exponent = std::log10(hi[j]);
    }
    state.station.id = "TEST      ";
    state.station.drop_count = 1;
    state.station.thickness = {15.0f, 30.0f, 0, 0};
    state.station.load[0] = 40000.0f;
  }

  // Measured deflections from the model itself at the given moduli.
  void make_basin(const PerLayer<float>& truth, float noise = 0.0f) {
    StationResults probe;
    probe.modulus[0] = truth;
    ASSERT_TRUE(run_model(state.settings, state.station, probe, 1, WrapperMode::kSensorDeflections));
    for (std::size_t i = 0; i < 9; ++i) {
      // A fixed, alternating pattern stands in for measurement noise.
      const float sign = (i % 2 == 0) ? 1.0f : -1.0f;
      state.station.measured[0][i] = probe.calculated[0][i] * (1.0f + sign * noise);
    }
  }
};

TEST(Backcalculation, RecoversTheModuliThatMadeTheBasin) {
  Survey survey;
  const PerLayer<float> truth{3000.0f, 300.0f, 60.0f, 0, 0};
  survey.make_basin(truth);
  survey.state.results.modulus[0] = {1500.0f, 600.0f, 100.0f, 0, 0};
  Backcalculation back(survey.messages);
  const DropOutcome outcome = back.backcalculate(survey.state, 1);
  for (std::size_t j = 0; j < 3; ++j)
    EXPECT_NEAR(survey.state.results.modulus[0][j], truth[j], truth[j] * 0.005f) << "layer " << j + 1;
  EXPECT_GE(outcome.convergence_code, 2);
  EXPECT_LT(drop_rms_error(survey.state.station, survey.state.results, 9, 1), 0.1f);
  // The log carries the seed line, the RMS lines and the final moduli.
  const std::string log = survey.log_text.str();
  EXPECT_NE(log.find("      Seed Moduli:         1500.      600.      100."), std::string::npos) << log;
  EXPECT_NE(log.find("Percent RMS Relative Error at the Start of Backanalysis ="), std::string::npos);
  EXPECT_NE(log.find("Percent RMS Relative Error at the End of Iteration   1   ="), std::string::npos);
  EXPECT_NE(log.find("      Final Moduli:   "), std::string::npos);
}

TEST(Backcalculation, RmsToleranceAtTheStartEndsTheFitWithoutIterations) {
  Survey survey;
  const PerLayer<float> truth{3000.0f, 300.0f, 60.0f, 0, 0};
  survey.make_basin(truth);
  survey.state.settings.rms_tolerance = 1.0f;
  survey.state.results.modulus[0] = truth;
  Backcalculation back(survey.messages);
  const DropOutcome outcome = back.backcalculate(survey.state, 1);
  EXPECT_EQ(outcome.convergence_code, 2);
  EXPECT_EQ(outcome.iterations, 0);
}

TEST(Backcalculation, NoisyBasinStillConvergesAndTheRmsReflectsTheNoise) {
  Survey survey;
  survey.make_basin({3000.0f, 300.0f, 60.0f, 0, 0}, 0.02f);
  survey.state.results.modulus[0] = {2000.0f, 200.0f, 80.0f, 0, 0};
  Backcalculation back(survey.messages);
  const DropOutcome outcome = back.backcalculate(survey.state, 1);
  EXPECT_GT(outcome.convergence_code, 0);
  const float rms = drop_rms_error(survey.state.station, survey.state.results, 9, 1);
  EXPECT_GT(rms, 0.5f);
  EXPECT_LT(rms, 2.5f);
}

TEST(Backcalculation, FixedLayerKeepsItsModulus) {
  Survey survey;
  survey.state.settings.layers[2].type = 1;
  survey.make_basin({3000.0f, 300.0f, 60.0f, 0, 0});
  survey.state.results.modulus[0] = {1000.0f, 1000.0f, 60.0f, 0, 0};
  Backcalculation back(survey.messages);
  back.backcalculate(survey.state, 1);
  EXPECT_EQ(survey.state.results.modulus[0][2], 60.0f);
  EXPECT_NEAR(survey.state.results.modulus[0][0], 3000.0f, 15.0f);
  EXPECT_NEAR(survey.state.results.modulus[0][1], 300.0f, 1.5f);
}

TEST(Backcalculation, SeedsOutsideTheBoundsStartJustInside) {
  Survey survey;
  survey.make_basin({3000.0f, 300.0f, 60.0f, 0, 0});
  survey.state.settings.max_iterations = 0;
  survey.state.results.modulus[0] = {100.0f, 300.0f, 60.0f, 0, 0};  // below 500 MPa
  Backcalculation back(survey.messages);
  back.backcalculate(survey.state, 1);
  // With no iteration allowed the modulus is the clipped start, 10^(log10(500) + 0.01).
  EXPECT_NEAR(survey.state.results.modulus[0][0], 500.0f * std::pow(10.0f, 0.01f), 0.5f);
}

// A station whose surface layer is so thin that the model cannot evaluate it: the drop keeps
// no basin and no stresses of another drop or station, and reports them as missing.
TEST(Backcalculation, ModelFailureAtTheFinalModuliLeavesNoStaleResponses) {
  Survey survey;
  survey.make_basin({3000.0f, 300.0f, 60.0f, 0, 0});
  survey.state.station.thickness[0] = 0.01f;  // a 15 cm plate is 1500 top layers wide
  survey.state.results.modulus[0] = {3000.0f, 300.0f, 60.0f, 0, 0};
  PointResponses& responses = survey.state.results.responses;
  responses.vertical_stress[0].fill(123.0f);  // left by the previous station
  responses.bulk_stress[0].fill(123.0f);
  survey.state.results.calculated[0].fill(99.0f);
  Backcalculation back(survey.messages);
  back.backcalculate(survey.state, 1);
  EXPECT_TRUE(responses.missing[0]);
  for (std::size_t i = 0; i < kMaxPoints; ++i) {
    EXPECT_EQ(responses.vertical_stress[0][i], 0.0f);
    EXPECT_EQ(responses.bulk_stress[0][i], 0.0f);
  }
  for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(survey.state.results.calculated[0][i], 0.0f);
}

}  // namespace
}  // namespace basinfit
