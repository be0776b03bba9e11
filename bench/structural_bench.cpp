// Cost of a station's structural evaluation: four drops' basin indices, the AASHTO Guide's NDT
// evaluation and overlay, and the critical strains and lives under the single and the dual
// wheel.  Compare with BM_ThreeLayerDrop of backcalculation_bench (one drop's backcalculation)
// on the same pavement: run both with --benchmark_repetitions and compare the medians.
#include <benchmark/benchmark.h>

#include <array>

#include "model/response_model.h"
#include "structural/station.h"

namespace basinfit {
namespace {

// The pavement of backcalculation_bench: 150 mm at 3000 MPa, 300 mm at 300 MPa on 60 MPa, nine
// sensors to 1800 mm under a 150 mm plate; four drops at 27, 40, 53 and 71 kN.
structural::StationInput make_station() {
  structural::StationInput input;
  input.plate_radius_mm = 150.0;
  input.layers.layer_count = 3;
  input.layers.thickness_mm = {150.0, 300.0, 0.0, 0.0};
  input.layers.poisson = {0.35, 0.35, 0.45, 0.0, 0.0};
  input.layers.bound_layer_count = 1;
  input.layers.subgrade_layer = 3;
  const std::array<double, 9> offsets{0, 200, 300, 450, 600, 900, 1200, 1500, 1800};
  const std::array<double, 4> loads{27.0, 40.0, 53.0, 71.0};
  model::LayerSystem system;
  system.modulus = {3000, 300, 60, 60, 60};
  system.thickness = {150, 300, 300, 300};
  system.poisson = {0.35, 0.35, 0.45, 0.45, 0.45};
  std::array<model::EvaluationPoint, 9> points{};
  for (std::size_t i = 0; i < offsets.size(); ++i)
    points[i] = model::EvaluationPoint{0.0, offsets[i], 0.0, 1};
  input.drop_count = loads.size();
  for (std::size_t d = 0; d < loads.size(); ++d) {
    const double pressure = loads[d] * 1000.0 / (3.14159265358979 * 150.0 * 150.0);
    const model::CircularLoad load{pressure, 150.0, 0.0, 0.0};
    const model::ModelResult r = model::evaluate_response(system, std::span(&load, 1), points);
    structural::DropBasin& basin = input.drops[d];
    basin.load_kn = loads[d];
    basin.sensor_count = offsets.size();
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      basin.offset_mm[i] = offsets[i];
      basin.deflection_um[i] = -1000.0 * r.rows[i][model::kDisplacementZ];
    }
    input.drop_modulus_mpa[d] = {3000, 300, 60, 0, 0};
  }
  input.standard_load_modulus_mpa = {3000, 300, 60, structural::kNoValue, structural::kNoValue};
  return input;
}

structural::StructuralOptions make_options() {
  structural::StructuralOptions options;
  options.rate_condition = true;
  options.traffic.design_esals = 5e6;
  options.traffic.annual_growth_percent = 3.0;
  return options;
}

void BM_StationStructure(benchmark::State& bench) {
  const structural::StationInput input = make_station();
  const structural::StructuralOptions options = make_options();
  int evaluations = 0;
  for (auto _ : bench) {
    const structural::StationStructure s = structural::evaluate_station(input, options);
    benchmark::DoNotOptimize(s);
    evaluations = s.strains.model_evaluations;
  }
  bench.counters["model_evaluations"] = evaluations;
}
BENCHMARK(BM_StationStructure)->Unit(benchmark::kMillisecond);

// The same without the mechanistic part: what the basin and the Guide's equations cost.
void BM_StationIndicesAndAashto(benchmark::State& bench) {
  const structural::StationInput input = make_station();
  structural::StructuralOptions options = make_options();
  options.mechanistic = false;
  for (auto _ : bench) {
    const structural::StationStructure s = structural::evaluate_station(input, options);
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_StationIndicesAndAashto)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace basinfit

BENCHMARK_MAIN();
