#pragma once
// A residual function that records every call the solver makes, for protocol tests.

#include <functional>
#include <span>
#include <vector>

#include "solver/bounded_fit.h"

namespace basinfit::solver::testing {

struct Call {
  std::vector<float> x;
  int nf = 0;         // tag passed in
  int flag = 0;       // user_ints(1) on entry: 1 at trial points
  int iteration = 0;  // user_ints(2) on entry
};

// Runs one solve through the engine's entry and keeps the calls.
struct RecordingSolve {
  int n = 0;
  int p = 0;
  std::vector<float> x;
  std::vector<float> bounds;
  // Fills r; may refuse (set nf <= 0) or raise user_ints(3).
  std::function<void(const Call& call, int call_index, int& nf, std::span<float> r, std::span<int> ints)>
      model;
  std::vector<Call> calls;
  std::vector<int> iv;
  std::vector<float> v;
  std::vector<int> user_ints;
  int liv = 0;
  int lv = 0;

  int trial_calls() const {
    int count = 0;
    for (const Call& c : calls) count += c.flag == 1 ? 1 : 0;
    return count;
  }
  int difference_calls() const { return static_cast<int>(calls.size()) - trial_calls(); }

  ResidualFunction residual_function() {
    return [this](int, int, std::span<const float> trial, int& nf, std::span<float> r, std::span<int> ints,
                  std::span<float>, const UserRoutine&) {
      Call call{std::vector<float>(trial.begin(), trial.end()), nf, ints[0], ints[1]};
      calls.push_back(call);
      ints[0] = 0;  // as the engine's residual function does
      model(calls.back(), static_cast<int>(calls.size()) - 1, nf, r, ints);
    };
  }

  void run(int iteration_limit = 150, int liv_given = -1, int lv_given = -1) {
    liv = liv_given > 0 ? liv_given : required_liv(p);
    lv = lv_given > 0 ? lv_given : required_lv(n, p);
    iv.assign(static_cast<std::size_t>(liv), 0);
    v.assign(static_cast<std::size_t>(lv), 0.0f);
    user_ints = {iteration_limit, 0, 0, 0, 0};
    std::vector<float> user_reals = {0.0f};
    bounded_fit(n, p, x, bounds, residual_function(), iv, liv, lv, v, user_ints, user_reals, [] {});
  }

  int code() const { return iv[0]; }
  int ivp(int element) const { return iv[static_cast<std::size_t>(element - 1)]; }
  float vp(int element) const { return v[static_cast<std::size_t>(element - 1)]; }
};

}  // namespace basinfit::solver::testing
