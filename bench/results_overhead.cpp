// What the results analysis costs beside a drop's fit: the fit itself, the uncertainty of its
// moduli (p - 1 model runs for p backcalculated layers; 2p with the central differences it is
// checked against), the side fits of --multistart 4, and the whole per-station analysis.
// Compare the medians: uncertainty / fit is the overhead of --results.
#include <benchmark/benchmark.h>

#include <cmath>
#include <ostream>
#include <streambuf>

#include "results/multistart.h"
#include "results/results_analysis.h"
#include "results/uncertainty.h"
#include "run/backcalculation.h"
#include "run/model_wrapper.h"

namespace basinfit {
namespace {

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

// The metric example's pavement: 15.9 cm asphalt, 35.2 cm base, subgrade; 9 sensors to 180 cm;
// the basin from the model with a fixed +-1 % pattern, fitted from the usual seeds.
RunState fitted_state() {
  RunState state;
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
  s.rms_tolerance = 0.5f;
  s.modulus_tolerance = 0.5f;
  const float nu[] = {0.35f, 0.35f, 0.45f};
  const float lo[] = {500, 50, 10}, hi[] = {20000, 3000, 500};
  for (std::size_t j = 0; j < 3; ++j) {
    s.layers[j].poisson_ratio = nu[j];
    s.layers[j].lower_bound = lo[j];
    s.layers[j].upper_bound = hi[j];
    s.layers[j].lower_exponent = std::log10(lo[j]);
    s.layers[j].upper_exponent = std::log10(hi[j]);
  }
  state.station.id = "BENCH     ";
  state.station.drop_count = 1;
  state.station.thickness = {15.9f, 35.2f, 0, 0};
  state.station.load[0] = 40000.0f;
  StationResults truth;
  truth.modulus[0] = {3000.0f, 360.0f, 60.0f, 0, 0};
  run_model(s, state.station, truth, 1, WrapperMode::kSensorDeflections);
  for (std::size_t i = 0; i < 9; ++i)
    state.station.measured[0][i] = truth.calculated[0][i] * (1.0f + (i % 2 == 0 ? 0.01f : -0.01f));
  state.results.weight[0] = s.sensor_weight;
  return state;
}

constexpr PerLayer<float> kSeeds{3000.0f, 300.0f, 60.0f, 0, 0};

void BM_DropFit(benchmark::State& bench) {
  RunState state = fitted_state();
  NullBuffer null_buffer;
  std::ostream null_stream(&null_buffer);
  TextUnit log(null_stream);
  MessageWriter messages(&log, nullptr);
  Backcalculation back(messages);
  for (auto _ : bench) {
    state.results.modulus[0] = kSeeds;
    benchmark::DoNotOptimize(back.backcalculate(state, 1));
  }
}
BENCHMARK(BM_DropFit)->Unit(benchmark::kMicrosecond);

// The state after the fit, as the analysis sees it.
RunState after_fit() {
  RunState state = fitted_state();
  std::vector<std::string> scratch;
  MessageWriter messages(&scratch, true);
  Backcalculation back(messages);
  state.results.modulus[0] = kSeeds;
  const DropOutcome outcome = back.backcalculate(state, 1);
  state.results.convergence_code[0] = static_cast<short>(outcome.convergence_code);
  state.results.rms_error[0] = drop_rms_error(state.station, state.results, 9, 1);
  state.results.average_rms_error = state.results.rms_error[0];
  return state;
}

void BM_Uncertainty(benchmark::State& bench) {
  const RunState state = after_fit();
  const results::SensorPrecision precision = results::SensorPrecision::for_units(true);
  for (auto _ : bench)
    benchmark::DoNotOptimize(
        results::analyse_uncertainty(state.settings, state.station, state.results, 1, precision));
}
BENCHMARK(BM_Uncertainty)->Unit(benchmark::kMicrosecond);

// The same with central differences, the scheme the one-sided one replaced.
void BM_UncertaintyCentral(benchmark::State& bench) {
  const RunState state = after_fit();
  const results::SensorPrecision precision = results::SensorPrecision::for_units(true);
  for (auto _ : bench)
    benchmark::DoNotOptimize(results::analyse_uncertainty(state.settings, state.station, state.results, 1,
                                                          precision, results::DifferenceScheme::kCentral));
}
BENCHMARK(BM_UncertaintyCentral)->Unit(benchmark::kMicrosecond);

void BM_Multistart4(benchmark::State& bench) {
  const RunState state = after_fit();
  const results::CheckLimits limits = results::CheckLimits::for_units(true);
  for (auto _ : bench) benchmark::DoNotOptimize(results::run_multistart(state, 1, 4, limits));
}
BENCHMARK(BM_Multistart4)->Unit(benchmark::kMicrosecond);

// Everything --results does per drop without side fits: checks, uncertainty, the records.
void BM_AnalyseDrop(benchmark::State& bench) {
  const RunState state = after_fit();
  const results::CheckLimits limits = results::CheckLimits::for_units(true);
  const results::SensorPrecision precision = results::SensorPrecision::for_units(true);
  for (auto _ : bench) benchmark::DoNotOptimize(results::analyse_station(state, limits, precision, 0));
}
BENCHMARK(BM_AnalyseDrop)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace basinfit

BENCHMARK_MAIN();
