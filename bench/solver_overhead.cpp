// The solver's own cost per solve, with residual functions that cost next to nothing, so
// that what is measured is the iteration (QR, steps, secant update) and not the model.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "solver/bounded_fit.h"

namespace basinfit::solver {
namespace {

// An engine-shaped fit: 5 log-moduli, 10 weighted relative residuals of a smooth basin
// function, bounds as the engine sets them.
void basin_like(benchmark::State& state) {
  const int n = 10;
  const int p = 5;
  const float target[5] = {3.6f, 2.7f, 2.2f, 1.9f, 2.4f};
  const ResidualFunction residuals = [&target](int, int, std::span<const float> x, int&, std::span<float> r,
                                               std::span<int> ints, std::span<float>, const UserRoutine&) {
    ints[0] = 0;
    for (int i = 0; i < 10; ++i) {
      const float offset = 0.1f * static_cast<float>(i + 1);
      float measured = 0.0f;
      float calculated = 0.0f;
      for (int k = 0; k < 5; ++k) {
        const float weight = std::exp(-offset * static_cast<float>(k + 1));
        measured += weight * std::pow(10.0f, -target[k]);
        calculated += weight * std::pow(10.0f, -x[static_cast<std::size_t>(k)]);
      }
      r[static_cast<std::size_t>(i)] = (measured - calculated) / measured;
    }
  };
  const std::vector<float> bounds = {3.0f, 4.5f, 2.0f, 3.5f, 1.5f, 3.0f, 1.0f, 2.5f, 1.5f, 3.5f};
  std::vector<int> iv(102);
  std::vector<float> v(330);
  std::vector<float> reals = {0.0f, 0.0f};
  for (auto _ : state) {
    std::vector<float> x = {4.0f, 3.0f, 2.5f, 2.0f, 2.0f};
    std::vector<int> ints = {30, 0, 0, 0, 0};
    bounded_fit(n, p, x, bounds, residuals, iv, 102, 330, v, ints, reals, [] {});
    benchmark::DoNotOptimize(x.data());
    state.counters["code"] = static_cast<double>(ints[2]);
    state.counters["evaluations"] = static_cast<double>(iv[5] + iv[29]);
  }
}
BENCHMARK(basin_like);

}  // namespace
}  // namespace basinfit::solver

BENCHMARK_MAIN();
