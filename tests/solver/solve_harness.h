#pragma once
// Runs the solver on a test problem and records what it cost.

#include <vector>

#include "solver/bounded_fit.h"
#include "solver/solver_defaults.h"
#include "test_problems.h"

namespace basinfit::solver::testing {

struct SolveRecord {
  std::vector<float> x;
  float f = 0.0f;             // 1/2 ||r||^2 recomputed at the returned x
  int return_code = 0;        // iv(1)
  int user_code = 0;          // user_ints(3)
  int trial_evaluations = 0;  // calls with user_ints(1) = 1
  int difference_evaluations = 0;
  int iterations = 0;  // iv(31)
  std::vector<int> iv;
  std::vector<float> v;
};

// Counts the calls by kind, resets user_ints(1) as the engine's residual function does,
// and evaluates the problem.
inline ResidualFunction counting_residuals(const TestProblem& problem, SolveRecord& record) {
  return [&problem, &record](int, int, std::span<const float> x, int&, std::span<float> r,
                             std::span<int> ints, std::span<float>, const UserRoutine&) {
    if (ints[0] == 1) {
      ++record.trial_evaluations;
    } else {
      ++record.difference_evaluations;
    }
    ints[0] = 0;
    problem.residuals(x, r);
  };
}

inline void finish_record(const TestProblem& problem, SolveRecord& record) {
  record.return_code = record.iv[0];
  record.iterations = record.iv[30];
  std::vector<float> r(static_cast<std::size_t>(problem.n));
  problem.residuals(record.x, r);
  record.f = 0.0f;
  for (float ri : r) record.f += 0.5f * ri * ri;
}

// Through the engine's entry, with its settings and the given iteration limit.
inline SolveRecord solve(const TestProblem& problem, int iteration_limit = 150) {
  SolveRecord record;
  record.x = problem.start;
  const int liv = required_liv(problem.p);
  const int lv = required_lv(problem.n, problem.p);
  record.iv.assign(static_cast<std::size_t>(liv), 0);
  record.v.assign(static_cast<std::size_t>(lv), 0.0f);
  std::vector<int> user_ints = {iteration_limit, 0, 0, 0, 0};
  std::vector<float> user_reals = {0.0f, 0.0f};
  bounded_fit(problem.n, problem.p, record.x, problem.bounds, counting_residuals(problem, record), record.iv,
              liv, lv, record.v, user_ints, user_reals, [] {});
  record.user_code = user_ints[2];
  finish_record(problem, record);
  return record;
}

// Through the driver with the engine's tolerances but other limits.
inline SolveRecord solve_with_limits(const TestProblem& problem, int iteration_limit, int evaluation_limit) {
  SolveRecord record;
  record.x = problem.start;
  const int liv = required_liv(problem.p);
  const int lv = required_lv(problem.n, problem.p);
  record.iv.assign(static_cast<std::size_t>(liv), 0);
  record.v.assign(static_cast<std::size_t>(lv), 0.0f);
  ivset(kRegression, record.iv, liv, lv, record.v);
  record.iv[iv::kOutputUnit - 1] = 0;
  record.iv[iv::kIterationLimit - 1] = iteration_limit;
  record.iv[iv::kEvaluationLimit - 1] = evaluation_limit;
  record.v[v::kAfctol - 1] = 1.0e-5f;
  record.v[v::kXctol - 1] = 1.0e-5f;
  std::vector<int> user_ints = {0, 0, 0};
  std::vector<float> user_reals = {0.0f};
  bounded_fit_driver(problem.n, problem.p, record.x, problem.bounds, counting_residuals(problem, record),
                     record.iv, liv, lv, record.v, user_ints, user_reals, [] {});
  finish_record(problem, record);
  record.user_code = record.return_code + 10;
  return record;
}

}  // namespace basinfit::solver::testing
