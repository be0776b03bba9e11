// One evaluation of the layered elastic response model at nine surface points, as the
// backcalculation does for every trial set of moduli, once with each arithmetic path this
// processor can run: portable, and avx2 / avx512 where present (the last one listed is the one
// the engine takes by default).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "model/panel_kernels.h"
#include "model/response_model.h"

namespace {

using namespace basinfit::model;

constexpr std::array<double, 9> kOffsets = {0, 200, 300, 450, 600, 900, 1200, 1500, 1800};  // mm

std::array<EvaluationPoint, 9> sensors() {
  std::array<EvaluationPoint, 9> points;
  for (std::size_t i = 0; i < kOffsets.size(); ++i) points[i] = {0.0, kOffsets[i], 0.0, 1};
  return points;
}

// 40 kN on a 150 mm radius plate, in N and mm (pressure in MPa).
CircularLoad falling_weight() { return {40000.0 / (3.1415927 * 150.0 * 150.0), 150.0, 0.0, 0.0}; }

void run(benchmark::State& state, const LayerSystem& system, const PanelKernels& kernels) {
  const CircularLoad load = falling_weight();
  const auto points = sensors();
  ModelResult result;
  for (auto _ : state) {
    result = evaluate_response_with(kernels, system, std::span(&load, 1), points);
    benchmark::DoNotOptimize(result);
  }
  if (!succeeded(result.status)) state.SkipWithError(describe(result.status));
  state.counters["lambda_values"] = static_cast<double>(result.lambda_values);
  state.counters["centre_deflection_mm"] = -result.rows[0][kDisplacementZ];
}

// 150 mm asphalt at 3000 MPa, 300 mm base at 300 MPa, subgrade at 60 MPa.
void BM_ThreeLayerNineSensors(benchmark::State& state, const PanelKernels& kernels) {
  LayerSystem s;
  s.modulus = {3000, 300, 60, 60, 60};
  s.poisson = {0.35, 0.35, 0.45, 0.45, 0.45};
  s.thickness = {150, 300, 300, 300};
  run(state, s, kernels);
}

// 100 mm asphalt, 200 mm base, 300 mm subbase, 2.5 m subgrade on bedrock (stiff bottom layer).
void BM_FiveLayerStiffBottomNineSensors(benchmark::State& state, const PanelKernels& kernels) {
  LayerSystem s;
  s.modulus = {4000, 400, 150, 60, 5000};
  s.poisson = {0.35, 0.35, 0.4, 0.45, 0.3};
  s.thickness = {100, 200, 300, 2500};
  run(state, s, kernels);
}

// The six systems of a sensitivity analysis of the 3-layer pavement (each modulus times
// 10^(+-0.002), the subgrade's repeated below it), once as six evaluations and once side by side.
std::array<LayerSystem, 6> perturbed_pavement() {
  LayerSystem base;
  base.modulus = {3000, 300, 60, 60, 60};
  base.poisson = {0.35, 0.35, 0.45, 0.45, 0.45};
  base.thickness = {150, 300, 300, 300};
  std::array<LayerSystem, 6> systems;
  for (std::size_t k = 0; k < 3; ++k) {
    for (std::size_t side = 0; side < 2; ++side) {
      LayerSystem& s = systems[2 * k + side];
      s = base;
      const double factor = std::pow(10.0, side == 0 ? 0.002 : -0.002);
      for (std::size_t j = 0; j < kMaxLayers; ++j)
        if (std::min<std::size_t>(j, 2) == k) s.modulus[j] = base.modulus[j] * factor;
    }
  }
  return systems;
}

void BM_SixPerturbedSeparately(benchmark::State& state, const PanelKernels& kernels) {
  const CircularLoad load = falling_weight();
  const auto points = sensors();
  const auto systems = perturbed_pavement();
  std::array<ModelResult, 6> results;
  for (auto _ : state) {
    for (std::size_t s = 0; s < systems.size(); ++s)
      results[s] = evaluate_response_with(kernels, systems[s], std::span(&load, 1), points);
    benchmark::DoNotOptimize(results);
  }
  for (const ModelResult& r : results)
    if (!succeeded(r.status)) state.SkipWithError(describe(r.status));
}

void BM_SixPerturbedSideBySide(benchmark::State& state, const PanelKernels& kernels) {
  const CircularLoad load = falling_weight();
  const auto points = sensors();
  const auto systems = perturbed_pavement();
  std::array<ModelResult, 6> results;
  for (auto _ : state) {
    evaluate_responses_with(kernels, systems, std::span(&load, 1), points, results);
    benchmark::DoNotOptimize(results);
  }
  for (const ModelResult& r : results)
    if (!succeeded(r.status)) state.SkipWithError(describe(r.status));
}

}  // namespace

int main(int argc, char** argv) {
  for (const PanelKernels& kernels : supported_panel_kernels()) {
    const std::string path = kernels.name;
    benchmark::RegisterBenchmark(("BM_ThreeLayerNineSensors/" + path).c_str(), BM_ThreeLayerNineSensors,
                                 kernels)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("BM_FiveLayerStiffBottomNineSensors/" + path).c_str(),
                                 BM_FiveLayerStiffBottomNineSensors, kernels)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("BM_SixPerturbedSeparately/" + path).c_str(), BM_SixPerturbedSeparately,
                                 kernels)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("BM_SixPerturbedSideBySide/" + path).c_str(), BM_SixPerturbedSideBySide,
                                 kernels)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
