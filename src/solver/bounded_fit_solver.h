#pragma once
// The state machine of one bounded least-squares solve.
//
// The least-squares layer never calls the residual function: it leaves a request in iv(1)
// (1 = residuals at x, 2 = Jacobian at x) and the driver answers it.  All numbers that
// survive between requests live in iv and v; this object only adds views of the arrays,
// the problem dimensions and scratch space for the step computation, so one solve's
// state is fully re-created by the defaults and two solves can run on two threads.

#include <span>
#include <vector>

#include "solver/solver_parameters.h"
#include "solver/trust_region_step.h"

namespace basinfit {
class TextUnit;
}

namespace basinfit::solver {

class BoundedFitSolver {
 public:
  BoundedFitSolver(int n, int p, std::span<float> x, std::span<const float> b, std::span<int> iv_storage,
                   int liv, int lv, std::span<float> v_storage, TextUnit* output);

  // One pass of the least-squares layer: processes the answer to the last request (or
  // starts the solve) and leaves the next request or a final code in iv(1).
  void regression_core();

  // Lays out d, r, rd and J behind the layer's blocks (after a successful storage pass).
  void lay_out_driver_blocks();

  float* scale() const { return v_.block(iv_(iv::kScaleBlock)); }
  float* residuals() const { return v_.block(iv_(iv::kResidualBlock)); }
  float* jacobian() const { return v_.block(iv_(iv::kJacobianBlock)); }

 private:
  // Where the request that is outstanding came from.
  enum Pending { kNone = 0, kStartPoint = 1, kTrialPoint = 2, kIterateJacobian = 3, kFinalJacobian = 4 };

  struct StepData {
    float predicted = 0.0f;
    float slope = 0.0f;
    float length = 0.0f;
    float multiplier = 0.0f;
    float full_reduction = -1.0f;
    float full_length = -1.0f;
  };

  void bounded_iteration();
  void allocate_storage();
  void start();
  void process_jacobian();
  void begin_iteration();
  void next_step();
  void trial_evaluated();
  void accept_step();
  void finish(int final_code);
  // Writes the iteration line or the termination report when an output unit is set.
  void summarise();
  void assess();
  bool singular_probe_holds(float tolerance);

  StepData compute_step(int model, float radius, float* step);
  void choose_active_set();
  void model_times(int model, const float* s, float* out) const;
  float secant_quadratic(const float* s) const;
  void update_secant();
  void update_scale();
  void request(int what, Pending pending);
  void restore_previous_iterate();
  void save_good_step(int assess_code);
  void restore_good_step();
  float relative_step() const;

  float* block(int iv_element) const { return v_.block(iv_(iv_element)); }

  int n_;
  int p_;
  std::span<float> x_;
  std::span<const float> b_;
  IntParams iv_;
  RealParams v_;
  TextUnit* output_;

  // Scratch of the step computation, sized once per solve.
  std::vector<int> free_list_;
  std::vector<int> active_list_;
  std::vector<int> fixed_in_step_;
  std::vector<float> matrix_;       // free columns of R while they are rotated to a triangle
  std::vector<float> free_scale_;   // d on the free unknowns of a piece
  std::vector<float> free_vector_;  // residual (Gauss-Newton) or scaled gradient of a piece
  std::vector<float> piece_;
  std::vector<float> step_work_;  // scratch of the multiplier iteration
  std::vector<float> work_p_;
  std::vector<float> work_p2_;
  std::vector<float> probe_step_;
  mutable std::vector<float> model_scratch_;
  std::vector<float> secant_work_;
};

}  // namespace basinfit::solver
