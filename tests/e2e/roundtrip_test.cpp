// The decisive test of the engine: basins computed by the layered elastic model from known
// moduli are backcalculated by the basinfit executable to those moduli.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "engine_support.h"
#include "run/input_files.h"
#include "run/model_wrapper.h"

namespace basinfit::e2e {
namespace {

struct Layer {
  float poisson;
  float modulus;  // the truth, MPa or ksi
  int type = 0;   // 0 backcalculated, 1 fixed
};

struct RoundTrip {
  std::string name;
  bool metric = true;
  std::vector<Layer> layers;
  std::array<float, 4> thickness{};
  int stiff = 0;
  int seed_option = 1;
  int weighting = 0;
  float noise = 0;  // relative, alternating in sign from sensor to sensor
};

void PrintTo(const RoundTrip& c, std::ostream* os) { *os << c.name; }

std::string number(float v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.7g", static_cast<double>(v));
  return buffer;
}

// Writes the input files of a round trip and returns the truth of every drop.
void write_round_trip(const TempFolder& f, const RoundTrip& c) {
  const bool m = c.metric;
  const std::vector<float> offsets = m ? std::vector<float>{0, 20, 30, 45, 60, 90, 120, 150, 180}
                                       : std::vector<float>{0, 8, 12, 18, 24, 36, 48, 60, 72};
  std::string general = c.name + "\n";
  general += std::to_string(c.layers.size()) + (m ? " 0 15.0 " : " 1 5.91 ") +
             std::to_string(offsets.size()) + " " + std::to_string(c.weighting) + "\n";
  for (float o : offsets) general += number(o) + " ";
  if (c.weighting == 2)
    for (std::size_t i = 0; i < offsets.size(); ++i) general += (i < 3 ? "2 " : "1 ");
  general += "\n0 0 " + std::to_string(c.seed_option) + " " + std::to_string(c.stiff) + "\n";
  for (std::size_t j = 0; j < c.layers.size(); ++j) {
    const Layer& l = c.layers[j];
    // Seeds a factor of about two away from the truth.
    const float seed = l.type == 0 ? l.modulus * (j % 2 == 0 ? 0.5f : 1.8f) : l.modulus;
    general +=
        std::to_string(j + 1) + " " + std::to_string(l.type) + " " + number(l.poisson) + " " + number(seed);
    if (l.type == 0) general += " " + number(l.modulus / 20) + " " + number(l.modulus * 20);
    general += "\n";
  }
  general += "60 0.001 0.001\n";
  write_file(f / "standard.dat", "1 68\n");
  write_file(f / "general.dat", general);

  RunSettings settings;
  ASSERT_FALSE(read_general_data(TextFile("general.dat", general), settings).has_value());
  StationData station;
  station.thickness = c.thickness;
  StationResults truth;
  const std::array<float, 2> loads =
      m ? std::array<float, 2>{40000.0f, 53000.0f} : std::array<float, 2>{9000.0f, 12000.0f};
  std::string deflections = "Round trip " + c.name + "\n";
  deflections += "RT-1 2";
  for (float h : c.thickness) deflections += " " + number(h);
  deflections += " 20 20\n";
  for (std::size_t d = 0; d < 2; ++d) {
    station.load[d] = loads[d];
    for (std::size_t j = 0; j < c.layers.size(); ++j) truth.modulus[d][j] = c.layers[j].modulus;
    ASSERT_TRUE(
        run_model(settings, station, truth, static_cast<int>(d + 1), WrapperMode::kSensorDeflections));
    deflections += number(loads[d]);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      const float sign = i % 2 == 0 ? 1.0f : -1.0f;
      deflections += " " + number(truth.calculated[d][i] * (1.0f + sign * c.noise));
    }
    deflections += "\n";
  }
  write_file(f / "deflections.dat", deflections);
}

struct Fit {
  std::vector<std::vector<float>> moduli;  // per drop
  std::vector<float> rms;
  std::vector<std::string> convergence;
};

Fit read_fit(const std::string& detail, std::size_t layers) {
  Fit fit;
  for (const auto& row : lines_starting_with(detail, "Calculated Moduli")) {
    std::vector<float> m;
    for (std::size_t j = 1; j <= layers; ++j) m.push_back(std::stof(row.at(j)));
    fit.moduli.push_back(m);
  }
  for (const auto& row : lines_starting_with(detail, "Convergence: ")) {
    fit.convergence.push_back(row.at(0));
    fit.rms.push_back(std::stof(row.at(1).substr(row.at(1).find(':') + 1)));
  }
  return fit;
}

class EngineRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(EngineRoundTrip, RecoversTheModuliOfTheBasin) {
  const RoundTrip& c = GetParam();
  TempFolder f(c.name);
  write_round_trip(f, c);
  const EngineRun run = run_program(basinfit_path(), {write_control(f).string()});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const Fit fit = read_fit(read_file(f / "detail.txt"), c.layers.size());
  ASSERT_EQ(fit.moduli.size(), 2u);
  ASSERT_EQ(fit.rms.size(), 2u);
  for (std::size_t d = 0; d < 2; ++d) {
    EXPECT_EQ(fit.convergence[d].find("Error ("), std::string::npos) << fit.convergence[d];
    for (std::size_t j = 0; j < c.layers.size(); ++j) {
      const float truth = c.layers[j].modulus;
      if (c.noise == 0)
        EXPECT_NEAR(fit.moduli[d][j], truth, truth * 0.005f) << "drop " << d + 1 << " layer " << j + 1;
      else
        EXPECT_NEAR(fit.moduli[d][j], truth, truth * 0.5f) << "drop " << d + 1 << " layer " << j + 1;
    }
    if (c.noise == 0) {
      EXPECT_LT(fit.rms[d], 0.1f) << "drop " << d + 1;
    } else {
      // The RMS error reflects the noise: the relative misfit is of the noise's size.
      EXPECT_GT(fit.rms[d], 0.3f * 100 * c.noise) << "drop " << d + 1;
      EXPECT_LT(fit.rms[d], 1.5f * 100 * c.noise) << "drop " << d + 1;
    }
  }
}

const Layer kAsphaltMetric{0.35f, 3000.0f}, kBaseMetric{0.35f, 300.0f}, kSubgradeMetric{0.45f, 60.0f};
const Layer kAsphaltEnglish{0.35f, 450.0f}, kBaseEnglish{0.35f, 40.0f}, kSubgradeEnglish{0.45f, 9.0f};

INSTANTIATE_TEST_SUITE_P(
    Surveys, EngineRoundTrip,
    ::testing::Values(RoundTrip{"metric3_seed0_weights0",
                                true,
                                {kAsphaltMetric, kBaseMetric, kSubgradeMetric},
                                {15, 30, 0, 0},
                                0,
                                0,
                                0},
                      RoundTrip{"metric3_seed1_weights1",
                                true,
                                {kAsphaltMetric, kBaseMetric, kSubgradeMetric},
                                {15, 30, 0, 0},
                                0,
                                1,
                                1},
                      RoundTrip{"english3_seed0_weights2",
                                false,
                                {kAsphaltEnglish, kBaseEnglish, kSubgradeEnglish},
                                {6, 12, 0, 0},
                                0,
                                0,
                                2},
                      RoundTrip{"english4_seed1",
                                false,
                                {kAsphaltEnglish, kBaseEnglish, {0.40f, 20.0f}, kSubgradeEnglish},
                                {5, 8, 12, 0},
                                0,
                                1,
                                0},
                      RoundTrip{"metric4_stiff_layer",
                                true,
                                {kAsphaltMetric, kBaseMetric, kSubgradeMetric, {0.35f, 7000.0f, 1}},
                                {15, 30, 200, 0},
                                1,
                                1,
                                0},
                      RoundTrip{"english3_stiff_layer",
                                false,
                                {kAsphaltEnglish, kSubgradeEnglish, {0.35f, 1000.0f, 1}},
                                {5, 150, 0, 0},
                                1,
                                1,
                                1},
                      RoundTrip{"metric3_noise",
                                true,
                                {kAsphaltMetric, kBaseMetric, kSubgradeMetric},
                                {15, 30, 0, 0},
                                0,
                                0,
                                0,
                                0.02f}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return info.param.name; });

}  // namespace
}  // namespace basinfit::e2e
