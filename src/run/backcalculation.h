#pragma once
// Per-drop backcalculation: the layer moduli become base-ten exponents inside their bounds,
// the bounded least-squares solver searches them with the residual function below, and the
// final moduli give the calculated basin and the responses at the default points.

#include <array>
#include <functional>
#include <span>
#include <string>

#include "common/message_writer.h"
#include "run/station_loop.h"

namespace basinfit {

// Lengths of the solver's work arrays.
inline constexpr int kSolverIntStorage = 102;
inline constexpr int kSolverRealStorage = 330;

// Elements of the integer and real parameter blocks shared by the backcalculation, the
// residual function and the solver entry (1-based element numbers as documented there).
struct FitParameters {
  // (1) iteration limit on entry, then the new-iterate flag; (2) iteration; (3) convergence
  // code; (4) log unit; (5) drop number.
  std::array<int, 5> ints{};
  // (1) RMS tolerance, percent; (2) modulus tolerance, percent.
  std::array<float, 2> reals{};
};

class Backcalculation : public StationComputations {
 public:
  explicit Backcalculation(MessageWriter& messages, BasinObserver observer = {})
      : messages_(messages), observer_(std::move(observer)) {}

  void compute_seeds(RunState& state) override;
  float temperature_factor(RunState& state) override;
  DropOutcome backcalculate(RunState& state, int drop) override;
  void station_statistics(RunState& state) override;
  void user_point_responses(RunState& state, int drop) override;

  // Residual evaluations and model runs of the last drop, for benchmarks.
  long last_drop_evaluations() const { return evaluations_; }

 private:
  void residuals(RunState& state, std::span<const float> x, int& nf, std::span<float> r, std::span<int> ints,
                 std::span<const float> reals);
  void write_moduli(const char* label, const RunState& state, int drop);

  MessageWriter& messages_;
  BasinObserver observer_;
  std::array<int, kSolverIntStorage> iv_{};
  std::array<float, kSolverRealStorage> v_{};
  PerLayer<float> previous_modulus_{};
  long evaluations_ = 0;
};

}  // namespace basinfit
