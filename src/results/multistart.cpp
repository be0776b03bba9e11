#include "results/multistart.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/message_writer.h"
#include "run/backcalculation.h"
#include "run/station_loop.h"

namespace basinfit::results {

namespace {

// A small fixed-sequence generator (SplitMix64): the same numbers on every machine and library,
// unlike the distributions and shuffles of the standard library.
class FixedSequence {
 public:
  explicit FixedSequence(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

 private:
  std::uint64_t state_;
};

}  // namespace

double spread_position(int start, int starts, int dimension) {
  // The strata of each dimension in a shuffled order fixed by the dimension.
  std::vector<int> stratum(static_cast<std::size_t>(starts));
  for (int i = 0; i < starts; ++i) stratum[static_cast<std::size_t>(i)] = i;
  FixedSequence sequence(0x5eed0000ULL + static_cast<std::uint64_t>(dimension));
  for (int i = starts - 1; i > 0; --i) {
    const auto j = static_cast<std::size_t>(sequence.next() % static_cast<std::uint64_t>(i + 1));
    std::swap(stratum[static_cast<std::size_t>(i)], stratum[j]);
  }
  return (stratum[static_cast<std::size_t>(start)] + 0.5) / starts;
}

MultistartOutcome run_multistart(const RunState& state, int drop, int starts, const CheckLimits& limits) {
  MultistartOutcome outcome;
  const RunSettings& s = state.settings;
  const auto d = static_cast<std::size_t>(drop - 1);
  const auto layers = static_cast<std::size_t>(s.layer_count);
  bool any = false;
  for (std::size_t j = 0; j < layers; ++j) any = any || s.layers[j].backcalculated();
  if (starts <= 0 || !any) return outcome;

  auto side = std::make_unique<RunState>(state);
  // The weights this drop was fitted with (they follow the drop under deflection-ratio weighting).
  side->settings.sensor_weight = state.results.weight[d];
  std::vector<std::string> scratch;
  MessageWriter quiet(&scratch, true);
  const double reported_rms = state.results.rms_error[d];
  for (int start = 0; start < starts; ++start) {
    side->results.modulus[d] = state.results.modulus[d];
    int dimension = 0;
    for (std::size_t j = 0; j < layers; ++j) {
      const LayerSettings& layer = s.layers[j];
      if (!layer.backcalculated()) continue;
      const double u = spread_position(start, starts, dimension++);
      const double exponent = layer.lower_exponent + u * (layer.upper_exponent - layer.lower_exponent);
      side->results.modulus[d][j] = static_cast<float>(std::pow(10.0, exponent));
    }
    Backcalculation fit(quiet);
    fit.backcalculate(*side, drop);
    scratch.clear();
    const float rms = drop_rms_error(side->station, side->results, s.sensor_count, drop);
    double difference = 0;
    for (std::size_t j = 0; j < layers; ++j) {
      if (!s.layers[j].backcalculated()) continue;
      const double reported = state.results.modulus[d][j];
      const double other = side->results.modulus[d][j];
      difference = std::max(difference, 100.0 * std::fabs(other - reported) / std::fabs(reported));
    }
    ++outcome.runs;
    if (missing(outcome.best_rms_percent) || rms < outcome.best_rms_percent) {
      outcome.best_rms_percent = rms;
      outcome.best_max_difference_percent = difference;
    }
    if (rms <= limits.multistart_rms_ratio * reported_rms &&
        difference > limits.multistart_difference_percent)
      outcome.non_unique = true;
  }
  return outcome;
}

}  // namespace basinfit::results
