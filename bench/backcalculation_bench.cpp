// Speed of the backcalculation: one drop in-process, and a whole survey through the executable.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "run/backcalculation.h"
#include "run/model_wrapper.h"

namespace basinfit {
namespace {

// A stream that discards what it is given: the progress lines cost formatting, not disk.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

// A metric three-layer pavement with 9 sensors to 1800 mm; the basin comes from the model.
RunState make_state() {
  RunState state;
  RunSettings& s = state.settings;
  s.unit_flag = 0;
  s.units = UnitFactors::for_flag(0);
  s.layer_count = 3;
  s.plate_radius = 15.0f;
  s.sensor_count = 9;
  s.sensor_offset = {0, 20, 30, 45, 60, 90, 120, 150, 180};
  s.sensor_weight.fill(1.0f);
  s.max_iterations = 30;
  s.rms_tolerance = 0.1f;
  s.modulus_tolerance = 0.1f;
  const float nu[] = {0.35f, 0.35f, 0.45f};
  const float lo[] = {500, 50, 10}, hi[] = {20000, 3000, 500};
  for (std::size_t j = 0; j < 3; ++j) {
    s.layers[j].poisson_ratio = nu[j];
    s.layers[j].lower_exponent = std::log10(lo[j]);
    s.layers[j].upper_exponent = std::log10(hi[j]);
  }
  state.station.id = "BENCH     ";
  state.station.drop_count = 1;
  state.station.thickness = {15.0f, 30.0f, 0, 0};
  state.station.load[0] = 40000.0f;
  StationResults truth;
  truth.modulus[0] = {3000.0f, 300.0f, 60.0f, 0, 0};
  run_model(s, state.station, truth, 1, WrapperMode::kSensorDeflections);
  for (std::size_t i = 0; i < 9; ++i)
    state.station.measured[0][i] = truth.calculated[0][i] * (1.0f + (i % 2 == 0 ? 0.01f : -0.01f));
  return state;
}

void BM_ThreeLayerDrop(benchmark::State& bench) {
  RunState state = make_state();
  NullBuffer null_buffer;
  std::ostream null_stream(&null_buffer);
  TextUnit log(null_stream);
  MessageWriter messages(&log, nullptr);
  Backcalculation back(messages);
  long evaluations = 0, drops = 0;
  for (auto _ : bench) {
    state.results.modulus[0] = {1500.0f, 600.0f, 100.0f, 0, 0};
    const DropOutcome outcome = back.backcalculate(state, 1);
    benchmark::DoNotOptimize(outcome);
    evaluations += back.last_drop_evaluations();
    ++drops;
  }
  // Residual evaluations per drop; each runs the model once, and the drop adds two more
  // model runs (final basin and default points).
  bench.counters["residual_evaluations"] = static_cast<double>(evaluations) / static_cast<double>(drops);
}
BENCHMARK(BM_ThreeLayerDrop)->Unit(benchmark::kMillisecond);

void BM_ModelAtNineSensors(benchmark::State& bench) {
  RunState state = make_state();
  state.results.modulus[0] = {3000.0f, 300.0f, 60.0f, 0, 0};
  for (auto _ : bench) {
    const bool ok =
        run_model(state.settings, state.station, state.results, 1, WrapperMode::kSensorDeflections);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_ModelAtNineSensors)->Unit(benchmark::kMicrosecond);

// A 20-station, 4-drop metric survey (27, 40, 53, 71 kN) run by the basinfit executable.
void BM_SurveyThroughExecutable(benchmark::State& bench) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "basinfit-bench-survey";
  std::filesystem::create_directories(dir);
  const std::string examples = std::string(BASINFIT_SOURCE_DIR) + "/examples/metric/";
  std::filesystem::copy_file(examples + "standard.dat", dir / "standard.dat",
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::copy_file(examples + "general.dat", dir / "general.dat",
                             std::filesystem::copy_options::overwrite_existing);
  // Twenty stations: the twelve of the example, then its first eight again under new names.
  std::ifstream in(examples + "deflections.dat");
  std::string route, line;
  std::getline(in, route);
  std::vector<std::vector<std::string>> stations;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line.find(' ') != std::string::npos && line.substr(line.find(' ') + 1, 2) == "4 ")
      stations.push_back({});
    stations.back().push_back(line);
  }
  std::ofstream out(dir / "deflections.dat");
  out << route << "\n";
  for (std::size_t k = 0; k < 20; ++k) {
    const auto& st = stations[k % stations.size()];
    out << "B" << k << st[0].substr(st[0].find(' ')) << "\n";
    for (std::size_t d = 1; d < st.size(); ++d) out << st[d] << "\n";
  }
  out.close();
  const std::string binary = std::string(BASINFIT_SOURCE_DIR) + "/build/apps/basinfit";
  for (auto _ : bench) {
    std::ofstream control(dir / "control.txt");
    control << "9\n"
            << (dir / "standard.dat").string() << "\n"
            << (dir / "general.dat").string() << "\n"
            << (dir / "deflections.dat").string() << "\n"
            << (dir / "detail.txt").string() << "\n"
            << (dir / "summary.txt").string() << "\n"
            << (dir / "run.log").string() << "\n";
    control.close();
    const std::string command = binary + " " + (dir / "control.txt").string();
    if (std::system(command.c_str()) != 0) bench.SkipWithError("the engine failed");
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SurveyThroughExecutable)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace basinfit

BENCHMARK_MAIN();
