#include "run/backcalculation.h"

#include <cmath>

#include "common/record_format.h"
#include "run/model_wrapper.h"
#include "run/regression.h"
#include "run/seeds.h"
#include "run/temperature.h"
#include "solver/bounded_fit.h"

namespace basinfit {

void Backcalculation::compute_seeds(RunState& state) {
  compute_seed_moduli(state.settings, state.station, state.results.modulus[0]);
}

float Backcalculation::temperature_factor(RunState& state) {
  const float pavement = pavement_temperature(state.settings, state.station);
  state.results.pavement_temperature = pavement;
  return basinfit::temperature_factor(pavement, state.settings.reference_temperature);
}

void Backcalculation::station_statistics(RunState& state) {
  regress(state.settings, state.station, state.results);
}

void Backcalculation::user_point_responses(RunState& state, int drop) {
  run_model(state.settings, state.station, state.results, drop, WrapperMode::kUserPoints);
}

void Backcalculation::write_moduli(const char* label, const RunState& state, int drop) {
  const auto& moduli = state.results.modulus[static_cast<std::size_t>(drop - 1)];
  messages_.progress(format_internal(
      BASINFIT_FMT("(5x,a,5f10.0)"), 80, label,
      std::span<const float>(moduli.data(), static_cast<std::size_t>(state.settings.layer_count))));
}

// The residuals of one trial point: relative deflection differences, weighted.  At a new
// iterate it also logs the RMS error and applies the engine's own stopping tolerances.
void Backcalculation::residuals(RunState& state, std::span<const float> x, int& nf, std::span<float> r,
                                std::span<int> ints, std::span<const float> reals) {
  ++evaluations_;
  const RunSettings& s = state.settings;
  const int drop = ints[4];
  const auto d = static_cast<std::size_t>(drop - 1);
  auto& modulus = state.results.modulus[d];
  std::size_t k = 0;
  for (std::size_t j = 0; j < static_cast<std::size_t>(s.layer_count); ++j)
    if (s.layers[j].backcalculated()) modulus[j] = std::pow(10.0f, x[k++]);

  const bool new_iterate = ints[0] == 1;
  if (new_iterate && ints[1] >= 1) write_moduli("Current Moduli: ", state, drop);

  if (!run_model(s, state.station, state.results, drop, WrapperMode::kSensorDeflections)) {
    // The model cannot evaluate this trial point: the solver treats it as refused.
    nf = 0;
    ints[0] = 0;
    return;
  }
  const auto sensors = static_cast<std::size_t>(s.sensor_count);
  const auto& measured = state.station.measured[d];
  const auto& calculated = state.results.calculated[d];
  for (std::size_t i = 0; i < sensors; ++i) {
    const float m = measured[i];
    r[i] = m < 0.01f ? 0.0f : s.sensor_weight[i] * (m - calculated[i]) / m;
  }

  if (new_iterate) {
    float q = 0;
    for (std::size_t i = 0; i < sensors; ++i) {
      if (s.sensor_weight[i] > 0) {
        const float plain = r[i] / s.sensor_weight[i];
        q = q + plain * plain;
      }
    }
    const float rms = 100.0f * std::sqrt(q / static_cast<float>(sensors));
    if (rms <= reals[0]) ints[2] = 2;
    if (ints[1] == 0) {
      messages_.progress(format_internal(
          BASINFIT_FMT("(5X,'Percent RMS Relative Error at the Start of Backanalysis =',F7.2)"), 80, rms));
    } else {
      messages_.progress(format_internal(
          BASINFIT_FMT("(5X,'Percent RMS Relative Error at the End of Iteration ',I3,'   =',F7.2)"), 80,
          ints[1], rms));
      bool all_settled = true;
      for (std::size_t j = 0; j < static_cast<std::size_t>(s.layer_count); ++j) {
        const float before = previous_modulus_[j];
        // A previous modulus of 0 cannot give a relative change; only an unchanged 0 passes.
        const bool changed =
            before == 0.0f ? modulus[j] != 0.0f : std::fabs(modulus[j] - before) / before > reals[1] * 0.01f;
        if (changed) {
          all_settled = false;
          break;
        }
      }
      if (all_settled) ints[2] = ints[2] == 2 ? 4 : 3;
    }
    for (std::size_t j = 0; j < static_cast<std::size_t>(s.layer_count); ++j)
      previous_modulus_[j] = modulus[j];
  }
  ints[0] = 0;
}

DropOutcome Backcalculation::backcalculate(RunState& state, int drop) {
  const RunSettings& s = state.settings;
  const auto d = static_cast<std::size_t>(drop - 1);
  evaluations_ = 0;

  FitParameters params;
  params.ints = {s.max_iterations, 0, 0, messages_.batch() ? 1 : 0, drop};
  params.reals = {s.rms_tolerance, s.modulus_tolerance};

  std::array<float, kMaxLayers> x{};
  std::array<float, 2 * kMaxLayers> bounds{};
  int p = 0;
  for (std::size_t j = 0; j < static_cast<std::size_t>(s.layer_count); ++j) {
    const LayerSettings& layer = s.layers[j];
    if (!layer.backcalculated()) continue;
    const auto k = static_cast<std::size_t>(p++);
    float start = std::log10(state.results.modulus[d][j]);
    if (!(start > layer.lower_exponent))
      start = layer.lower_exponent + 0.01f;
    else if (!(start < layer.upper_exponent))
      start = layer.upper_exponent - 0.01f;
    x[k] = start;
    bounds[2 * k] = layer.lower_exponent;
    bounds[2 * k + 1] = layer.upper_exponent;
  }
  write_moduli("Seed Moduli:    ", state, drop);

  const int n = s.sensor_count;
  if (p > 0) {
    const solver::ResidualFunction residual = [&](int, int, std::span<const float> trial, int& nf,
                                                  std::span<float> r, std::span<int> ints,
                                                  std::span<float> reals, const solver::UserRoutine&) {
      residuals(state, trial, nf, r, ints, reals);
    };
    const solver::UserRoutine nothing = [] {};
    solver::bounded_fit(n, p, std::span<float>(x.data(), static_cast<std::size_t>(p)),
                        std::span<const float>(bounds.data(), static_cast<std::size_t>(2 * p)), residual, iv_,
                        kSolverIntStorage, kSolverRealStorage, v_, params.ints, params.reals, nothing);
    std::size_t k = 0;
    for (std::size_t j = 0; j < static_cast<std::size_t>(s.layer_count); ++j)
      if (s.layers[j].backcalculated()) state.results.modulus[d][j] = std::pow(10.0f, x[k++]);
  }
  const DropOutcome outcome{params.ints[2], params.ints[1], static_cast<int>(evaluations_)};

  write_moduli("Final Moduli:   ", state, drop);
  if (!run_model(s, state.station, state.results, drop, WrapperMode::kSensorDeflections)) {
    // No basin for moduli the model cannot evaluate: show none rather than a stale one.
    for (float& c : state.results.calculated[d]) c = 0.0f;
  }
  if (observer_) {
    const auto sensors = static_cast<std::size_t>(n);
    observer_(state.station.id, drop, std::span<const float>(s.sensor_offset.data(), sensors),
              std::span<const float>(state.station.measured[d].data(), sensors),
              std::span<const float>(state.results.calculated[d].data(), sensors));
  }
  run_model(s, state.station, state.results, drop, WrapperMode::kDefaultPoints);
  return outcome;
}

}  // namespace basinfit
