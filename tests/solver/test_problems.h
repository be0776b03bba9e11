#pragma once
// Standard nonlinear least-squares test problems, written from their published formulas
// (the collection of Moré, Garbow and Hillstrom, and bounded variants with an analytic
// constrained minimum).  The solver minimises f = 1/2 sum r_i^2, so every published
// minimum of sum r_i^2 appears here halved.

#include <cmath>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace basinfit::solver::testing {

using Residuals = std::function<void(std::span<const float> x, std::span<float> r)>;

struct TestProblem {
  std::string name;
  int n;
  int p;
  std::vector<float> start;
  std::vector<float> bounds;  // (lower, upper) per unknown
  Residuals residuals;
  float minimum;              // f* = 1/2 sum r^2 at the published (or analytic) minimum
  float tolerance;            // allowed excess over f*, justified per problem
  float alternative_minimum;  // a published local minimum the method may also reach, or -1
  int max_trial_evaluations;  // generous cap on evaluations at trial points (regression guard)
};

inline std::vector<float> open_bounds(int p) {
  std::vector<float> b;
  for (int k = 0; k < p; ++k) {
    b.push_back(-1.0e6f);
    b.push_back(1.0e6f);
  }
  return b;
}

std::vector<TestProblem> standard_problems();
std::vector<TestProblem> bounded_problems();
// Meyer's thermistor problem, which needs more than the engine's 200 evaluations.
TestProblem meyer_problem();
// Wood's function (four unknowns, six residuals), whose standard start leads the
// Gauss-Newton iteration to a saddle point instead of the minimum.
TestProblem wood_problem();

}  // namespace basinfit::solver::testing
