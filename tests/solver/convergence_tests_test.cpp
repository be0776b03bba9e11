// Each stopping rule of the step assessment, reached on a problem built to meet it.

#include <gtest/gtest.h>

#include <cmath>

#include "recording_problem.h"

namespace basinfit::solver::testing {
namespace {

RecordingSolve one_unknown(float start, std::function<void(float x, std::span<float> r)> residuals, int n) {
  RecordingSolve solve;
  solve.n = n;
  solve.p = 1;
  solve.x = {start};
  solve.bounds = {-1.0e7f, 1.0e7f};
  solve.model = [residuals](const Call& call, int, int&, std::span<float> r, std::span<int>) {
    residuals(call.x[0], r);
  };
  return solve;
}

TEST(ConvergenceTests, XConvergenceWhenAFullStepIsTinyRelativeToX) {
  // Minimum at 1e6 + 5 with a constant residual of 1: the last full step moves x by a few
  // units in 1e6 (reldx ~ 1e-6) while its predicted reduction is still a large part of f.
  RecordingSolve solve = one_unknown(
      1.0e6f,
      [](float x, std::span<float> r) {
        r[0] = x - (1.0e6f + 5.0f);
        r[1] = 1.0f;
      },
      2);
  solve.run();
  EXPECT_EQ(solve.code(), code::kXConvergence);
  EXPECT_NEAR(solve.x[0], 1.0e6f + 5.0f, 0.07f);
}

TEST(ConvergenceTests, BothXAndRelativeFunctionConvergence) {
  // One float spacing (0.0625) from the minimum, with a large constant residual: the full
  // step is tiny both relative to x and in its predicted reduction.
  RecordingSolve solve = one_unknown(
      1.0e6f,
      [](float x, std::span<float> r) {
        r[0] = x - (1.0e6f + 0.0625f);
        r[1] = 100.0f;
      },
      2);
  solve.run();
  EXPECT_EQ(solve.code(), code::kBothConvergence);
}

TEST(ConvergenceTests, RelativeFunctionConvergenceOnANonzeroResidualFit) {
  // Straight-line fit with scatter: f* > 0 and the model's best reduction vanishes.
  RecordingSolve solve;
  solve.n = 5;
  solve.p = 2;
  solve.x = {0.0f, 0.0f};
  solve.bounds = {-10.0f, 10.0f, -10.0f, 10.0f};
  solve.model = [](const Call& call, int, int&, std::span<float> r, std::span<int>) {
    const float y[5] = {1.1f, 1.9f, 3.2f, 3.9f, 5.1f};
    for (int i = 0; i < 5; ++i) r[i] = call.x[0] + call.x[1] * float(i + 1) - y[i];
  };
  solve.run();
  EXPECT_EQ(solve.code(), code::kRelativeFunctionConvergence);
  // Least-squares line through the data: Sxy = Sxx = 10 about the means (3, 3.04), so
  // slope 1 and intercept 0.04.
  EXPECT_NEAR(solve.x[1], 1.0f, 1e-4f);
  EXPECT_NEAR(solve.x[0], 0.04f, 3e-4f);
}

TEST(ConvergenceTests, AbsoluteFunctionConvergenceBelowAfctol) {
  RecordingSolve solve = one_unknown(
      3.0f, [](float x, std::span<float> r) { r[0] = std::exp(x) - 2.0f; }, 1);
  solve.run();
  EXPECT_EQ(solve.code(), code::kAbsoluteFunctionConvergence);
  const float r = std::exp(solve.x[0]) - 2.0f;
  EXPECT_LT(0.5f * r * r, 1.0e-5f);
}

TEST(ConvergenceTests, SingularConvergenceWhenTheJacobianIsRankDeficient) {
  // Only x1 + x2 matters and a constant residual keeps f away from 0: no full step exists
  // and no step of bounded length can reduce f.
  RecordingSolve solve;
  solve.n = 2;
  solve.p = 2;
  solve.x = {1.0f, 2.0f};
  solve.bounds = {-10.0f, 10.0f, -10.0f, 10.0f};
  solve.model = [](const Call& call, int, int&, std::span<float> r, std::span<int>) {
    r[0] = call.x[0] + call.x[1];
    r[1] = 1.0f;
  };
  solve.run();
  EXPECT_EQ(solve.code(), code::kSingularConvergence);
  EXPECT_NEAR(solve.x[0] + solve.x[1], 0.0f, 1e-3f);
}

TEST(ConvergenceTests, FalseConvergenceAtAKink) {
  // f has a corner at x = 1 where the difference gradient never vanishes: steps across the
  // corner keep failing until they are too short to matter.
  RecordingSolve solve = one_unknown(
      3.0f, [](float x, std::span<float> r) { r[0] = 1.0f + std::fabs(x - 1.0f); }, 1);
  solve.run();
  EXPECT_EQ(solve.code(), code::kFalseConvergence);
  EXPECT_NEAR(solve.x[0], 1.0f, 1e-3f);
}

TEST(ConvergenceTests, ResidualFunctionStopPreemptsEveryTest) {
  RecordingSolve solve = one_unknown(
      3.0f, [](float x, std::span<float> r) { r[0] = std::exp(x) - 2.0f; }, 1);
  solve.model = [](const Call& call, int, int&, std::span<float> r, std::span<int> ints) {
    r[0] = std::exp(call.x[0]) - 2.0f;
    if (call.flag == 1 && std::fabs(r[0]) < 0.5f) ints[2] = 3;
  };
  solve.run();
  EXPECT_EQ(solve.user_ints[2], 3);
  EXPECT_EQ(solve.code(), 1);  // iv(1) still holds the request that was being answered
}

}  // namespace
}  // namespace basinfit::solver::testing
