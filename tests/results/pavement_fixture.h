#pragma once
// A metric pavement whose basins come from the model itself at known moduli, fitted by the
// engine's own station loop, for the results tests.

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/message_writer.h"
#include "run/backcalculation.h"
#include "run/model_wrapper.h"
#include "run/station_loop.h"

namespace basinfit::results {

struct Pavement {
  RunState state;
  std::vector<std::string> progress;
  MessageWriter messages{&progress, true};

  // Layers with (thickness cm, modulus MPa); the last entry's thickness is ignored.  Bounds are
  // a factor 20 either side of the modulus; 9 sensors to 180 cm; one 40 kN drop.
  struct Layer {
    float thickness;
    float modulus;
  };
  Pavement(const Pavement&) = delete;  // the message writer points into this object
  Pavement& operator=(const Pavement&) = delete;
  explicit Pavement(const std::vector<Layer>& layers) {
    RunSettings& s = state.settings;
    s.unit_flag = 0;
    s.units = UnitFactors::for_flag(0);
    s.atmospheric_pressure = atmospheric_pressure(s.units);
    s.layer_count = static_cast<int>(layers.size());
    s.plate_radius = 15.0f;
    set_sensors({0, 20, 30, 45, 60, 90, 120, 150, 180});
    s.max_iterations = 50;
    s.rms_tolerance = 0.0f;
    s.modulus_tolerance = 0.0f;
    std::size_t j = 0;
    for (const Layer& layer : layers) {
      s.layers[j].type = kBackcalculatedLayer;
      s.layers[j].poisson_ratio = j + 1 == layers.size() ? 0.45f : 0.35f;
      s.layers[j].lower_bound = layer.modulus / 20.0f;
      s.layers[j].upper_bound = layer.modulus * 20.0f;
      s.layers[j].lower_exponent = std::log10(s.layers[j].lower_bound);
      s.layers[j].upper_exponent = std::log10(s.layers[j].upper_bound);
      truth[j] = layer.modulus;
      if (j < kMaxThicknesses && j + 1 < layers.size()) state.station.thickness[j] = layer.thickness;
      ++j;
    }
    state.station.id = "TEST      ";
    state.station.drop_count = 1;
    state.station.load[0] = 40000.0f;
  }

  void set_sensors(std::initializer_list<float> offsets) {
    RunSettings& s = state.settings;
    s.sensor_count = static_cast<int>(offsets.size());
    s.sensor_offset = {};
    std::size_t i = 0;
    for (const float offset : offsets) s.sensor_offset[i++] = offset;
    s.sensor_weight = {};
    for (std::size_t k = 0; k < i; ++k) s.sensor_weight[k] = 1.0f;
  }

  // Measured deflections of every drop from the model at the true moduli, each sensor scaled
  // by (1 + noise[i]) when noise is given.
  void make_basins(const std::vector<float>& noise = {}) {
    for (int drop = 1; drop <= state.station.drop_count; ++drop) {
      const auto d = static_cast<std::size_t>(drop - 1);
      StationResults probe;
      probe.modulus[d] = truth;
      run_model(state.settings, state.station, probe, drop, WrapperMode::kSensorDeflections);
      for (std::size_t i = 0; i < static_cast<std::size_t>(state.settings.sensor_count); ++i)
        state.station.measured[d][i] = probe.calculated[d][i] * (1.0f + (i < noise.size() ? noise[i] : 0.0f));
    }
  }

  // The reported moduli set to the truth with the basin the model gives there, as a fit that
  // found them exactly would leave them.
  void settle_at_truth() {
    StationResults& r = state.results;
    for (int drop = 1; drop <= state.station.drop_count; ++drop) {
      const auto d = static_cast<std::size_t>(drop - 1);
      r.modulus[d] = truth;
      r.weight[d] = state.settings.sensor_weight;
      r.convergence_code[d] = 13;
      run_model(state.settings, state.station, r, drop, WrapperMode::kSensorDeflections);
      r.rms_error[d] = drop_rms_error(state.station, r, state.settings.sensor_count, drop);
    }
  }

  // Runs the engine's station loop from seeds at the truth times `seed_factor`.
  void fit(float seed_factor = 1.5f) {
    for (std::size_t j = 0; j < kMaxLayers; ++j) state.results.modulus[0][j] = truth[j] * seed_factor;
    Backcalculation computations(messages);
    process_station(
        state, messages, computations, [] { return ClockTime{}; }, "deflections.dat", false);
  }

  PerLayer<float> truth{};
};

}  // namespace basinfit::results
