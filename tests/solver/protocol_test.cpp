// The contract between the solver and its caller: return codes and their triggers, the
// evaluation accounting, the user_ints protocol, and the bounds.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "recording_problem.h"
#include "solver/solver_defaults.h"

namespace basinfit::solver::testing {
namespace {

// Rosenbrock's function, a curved valley that makes the solver reject some steps.
void rosenbrock(const Call& call, int, int&, std::span<float> r, std::span<int>) {
  r[0] = 10.0f * (call.x[1] - call.x[0] * call.x[0]);
  r[1] = 1.0f - call.x[0];
}

RecordingSolve rosenbrock_solve() {
  RecordingSolve solve;
  solve.n = 2;
  solve.p = 2;
  solve.x = {-1.2f, 1.0f};
  solve.bounds = {-5.0f, 5.0f, -5.0f, 5.0f};
  solve.model = rosenbrock;
  return solve;
}

// n residuals x_(i mod p) - 0.1 (i + 1): a smooth problem of any size.
RecordingSolve linear_solve(int n, int p) {
  RecordingSolve solve;
  solve.n = n;
  solve.p = p;
  solve.x.assign(static_cast<std::size_t>(p), 0.5f);
  for (int k = 0; k < p; ++k) {
    solve.bounds.push_back(-10.0f);
    solve.bounds.push_back(10.0f);
  }
  solve.model = [p](const Call& call, int, int&, std::span<float> r, std::span<int>) {
    for (std::size_t i = 0; i < r.size(); ++i)
      r[i] = call.x[i % static_cast<std::size_t>(p)] - 0.1f * float(i + 1);
  };
  return solve;
}

// ----- storage -------------------------------------------------------------------------

TEST(StorageCheck, FiveUnknownsAndTenResidualsFitTheEngineArraysExactly) {
  EXPECT_EQ(required_liv(5), 102);
  EXPECT_EQ(required_lv(10, 5), 330);
  RecordingSolve solve = linear_solve(10, 5);
  solve.run(150, 102, 330);
  EXPECT_TRUE(code::is_convergence(solve.code())) << solve.code();
  EXPECT_EQ(solve.ivp(iv::kNeededLiv), 102);
  EXPECT_EQ(solve.ivp(iv::kNeededLv), 330);
}

TEST(StorageCheck, ElevenResidualsWithFiveUnknownsGiveCode16BeforeAnyEvaluation) {
  RecordingSolve solve = linear_solve(11, 5);
  const std::vector<float> start = solve.x;
  solve.run(150, 102, 330);
  EXPECT_EQ(solve.code(), code::kLvTooSmall);
  EXPECT_EQ(solve.ivp(iv::kNeededLv), 105 + 5 * (11 + 10 + 21) + 22);
  EXPECT_TRUE(solve.calls.empty());
  EXPECT_EQ(solve.x, start);
  EXPECT_EQ(solve.user_ints[1], 0);
  EXPECT_EQ(solve.user_ints[2], 26);
}

TEST(StorageCheck, ShortIntegerArrayGivesCode15WithTheNeededLength) {
  RecordingSolve solve = linear_solve(10, 5);
  solve.run(150, 101, 330);
  EXPECT_EQ(solve.code(), code::kLivTooSmall);
  EXPECT_EQ(solve.ivp(iv::kNeededLiv), 102);
  EXPECT_TRUE(solve.calls.empty());
  EXPECT_EQ(solve.user_ints[2], 25);
}

TEST(StorageCheck, DeclaredLengthsBeyondTheArraysAreCutToThem) {
  // Claims of longer arrays than given must not lead to writes past their ends.
  RecordingSolve solve = linear_solve(10, 5);
  solve.liv = 102;
  solve.lv = 330;
  std::vector<int> iv(102, 0);
  std::vector<float> v(300, 0.0f);
  std::vector<int> ints = {150, 0, 0};
  std::vector<float> reals = {0.0f};
  bounded_fit(10, 5, solve.x, solve.bounds, solve.residual_function(), iv, 102, 330, v, ints, reals, [] {});
  EXPECT_EQ(iv[0], code::kLvTooSmall);
  EXPECT_EQ(ints[2], 26);
}

// ----- codes ---------------------------------------------------------------------------

TEST(ReturnCodes, StartingPointRefusedBeyondRlimitOrNotFiniteGivesCode63) {
  // 0 stands for a refusal (nf = 0); the others are residual values.
  for (const float bad :
       {0.0f, 1.0e30f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    RecordingSolve solve = rosenbrock_solve();
    solve.model = [bad](const Call&, int, int& nf, std::span<float> r, std::span<int>) {
      r[0] = bad;
      r[1] = 0.0f;
      if (bad == 0.0f) nf = 0;
    };
    solve.run();
    EXPECT_EQ(solve.code(), code::kInitialFunctionFailed) << bad;
    EXPECT_EQ(solve.user_ints[2], 73);
    EXPECT_EQ(solve.calls.size(), 1u);
  }
}

TEST(ReturnCodes, BoundsTooCloseForEitherDifferenceGiveCode65WithoutThatEvaluation) {
  RecordingSolve solve;
  solve.n = 2;
  solve.p = 1;
  solve.x = {1.0f};
  // h = sqrt(eps) * 1 = 3.45e-4 leaves the interval in both directions.
  solve.bounds = {1.0f - 1.0e-4f, 1.0f + 1.0e-4f};
  solve.model = [](const Call& call, int, int&, std::span<float> r, std::span<int>) {
    r[0] = call.x[0];
    r[1] = 2.0f * call.x[0];
  };
  solve.run();
  EXPECT_EQ(solve.code(), code::kGradientFailed);
  EXPECT_EQ(solve.user_ints[2], 75);
  EXPECT_EQ(solve.trial_calls(), 1);
  EXPECT_EQ(solve.difference_calls(), 0);
}

TEST(ReturnCodes, FourRefusedDifferenceStepsGiveCode65WithAlternatingShorterSteps) {
  RecordingSolve solve;
  solve.n = 1;
  solve.p = 1;
  solve.x = {2.0f};
  solve.bounds = {0.0f, 4.0f};
  solve.model = [](const Call& call, int, int& nf, std::span<float> r, std::span<int>) {
    r[0] = call.x[0] - 1.0f;
    if (call.flag == 0) nf = 0;  // refuse every difference evaluation
  };
  solve.run();
  EXPECT_EQ(solve.code(), code::kGradientFailed);
  ASSERT_EQ(solve.calls.size(), 5u);
  const float h0 = std::sqrt(std::ldexp(1.0f, -23)) * 2.0f;
  const float expected[4] = {h0, -h0 / 2, h0 / 4, -h0 / 8};
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(solve.calls[static_cast<std::size_t>(k) + 1].x[0] - 2.0f, expected[k], 1e-6f) << k;
  }
}

TEST(ReturnCodes, BadDimensionsGiveCode66WithoutEvaluation) {
  RecordingSolve solve = rosenbrock_solve();
  solve.n = 0;
  solve.run();
  EXPECT_EQ(solve.code(), code::kBadDimensions);
  EXPECT_EQ(solve.user_ints[2], 76);
  EXPECT_TRUE(solve.calls.empty());
}

TEST(ReturnCodes, AlgorithmKindOutsideRangeOrChangedGives67) {
  std::vector<int> iv(102, 0);
  std::vector<float> v(330, 0.0f);
  ivset(5, iv, 102, 330, v);
  EXPECT_EQ(iv[0], code::kBadAlgorithm);
  ivset(0, iv, 102, 330, v);
  EXPECT_EQ(iv[0], code::kBadAlgorithm);

  RecordingSolve solve = rosenbrock_solve();
  solve.iv.assign(102, 0);
  solve.v.assign(330, 0.0f);
  ivset(kRegression, solve.iv, 102, 330, solve.v);
  solve.iv[iv::kAlgorithm - 1] = 2;  // as if the defaults were made for another kind
  std::vector<int> ints = {150, 0, 0};
  std::vector<float> reals = {0.0f};
  bounded_fit_driver(2, 2, solve.x, solve.bounds, solve.residual_function(), solve.iv, 102, 330, solve.v,
                     ints, reals, [] {});
  EXPECT_EQ(solve.iv[0], code::kBadAlgorithm);
  EXPECT_TRUE(solve.calls.empty());
}

TEST(ReturnCodes, CrossedOrNaNBoundsGiveCode82BeforeAnyEvaluation) {
  for (const float upper : {0.5f, std::numeric_limits<float>::quiet_NaN()}) {
    RecordingSolve solve = rosenbrock_solve();
    solve.bounds = {-5.0f, 5.0f, 1.0f, upper};
    solve.run();
    EXPECT_EQ(solve.code(), code::kBadBounds);
    EXPECT_EQ(solve.user_ints[2], 92);
    EXPECT_TRUE(solve.calls.empty());
  }
}

// Runs the driver after the defaults, with one change to v.
int driver_code_after(int element, float value, std::vector<std::pair<int, float>> more = {}) {
  RecordingSolve solve = rosenbrock_solve();
  solve.iv.assign(102, 0);
  solve.v.assign(330, 0.0f);
  ivset(kRegression, solve.iv, 102, 330, solve.v);
  solve.iv[iv::kOutputUnit - 1] = 0;
  solve.v[static_cast<std::size_t>(element - 1)] = value;
  for (const auto& [e, x] : more) solve.v[static_cast<std::size_t>(e - 1)] = x;
  std::vector<int> ints = {0, 0, 0};
  std::vector<float> reals = {0.0f};
  bounded_fit_driver(2, 2, solve.x, solve.bounds, solve.residual_function(), solve.iv, 102, 330, solve.v,
                     ints, reals, [] {});
  return solve.calls.empty() ? solve.iv[0] : -solve.iv[0];
}

TEST(ReturnCodes, RealParameterOutOfRangeGivesItsIndexBeforeAnyEvaluation) {
  EXPECT_EQ(driver_code_after(v::kXctol, 2.0f), 33);
  EXPECT_EQ(driver_code_after(v::kEpslon, 0.95f), 19);
  EXPECT_EQ(driver_code_after(v::kRlimit, 1.0e9f), 46);
  // The last offending element wins.
  EXPECT_EQ(driver_code_after(v::kEpslon, 0.95f, {{v::kFuzz, 1.0f}}), 45);
}

TEST(ReturnCodes, EngineTolerancesPassTheRangeTest) {
  EXPECT_TRUE(code::is_convergence(-driver_code_after(v::kXctol, 1.0e-5f, {{v::kAfctol, 1.0e-5f}})));
}

TEST(ReturnCodes, StateOutsideZeroToFourteenGivesCode80) {
  std::vector<int> iv(102, 0);
  std::vector<float> v(330, 0.0f);
  ivset(kRegression, iv, 102, 330, v);
  iv[0] = 15 + 5;
  RecordingSolve solve = rosenbrock_solve();
  std::vector<int> ints = {0, 0, 0};
  std::vector<float> reals = {0.0f};
  bounded_fit_driver(2, 2, solve.x, solve.bounds, solve.residual_function(), iv, 102, 330, v, ints, reals,
                     [] {});
  EXPECT_EQ(iv[0], code::kBadState);
  iv[0] = 1;  // a request code with no solve behind it
  bounded_fit_driver(2, 2, solve.x, solve.bounds, solve.residual_function(), iv, 102, 330, v, ints, reals,
                     [] {});
  EXPECT_EQ(iv[0], code::kBadState);
  EXPECT_TRUE(solve.calls.empty());
}

TEST(ReturnCodes, IterationLimitZeroStopsAfterOneEvaluationAndOneJacobian) {
  RecordingSolve solve = rosenbrock_solve();
  solve.run(0);
  EXPECT_EQ(solve.code(), code::kIterationLimit);
  EXPECT_EQ(solve.user_ints[2], 20);
  EXPECT_EQ(solve.trial_calls(), 1);
  EXPECT_EQ(solve.difference_calls(), 2);
  EXPECT_EQ(solve.ivp(iv::kIterations), 0);
}

TEST(ReturnCodes, EvaluationLimitEndsWithCode9AtTheLastAcceptedPoint) {
  RecordingSolve solve = rosenbrock_solve();
  solve.iv.assign(102, 0);
  solve.v.assign(330, 0.0f);
  ivset(kRegression, solve.iv, 102, 330, solve.v);
  solve.iv[iv::kOutputUnit - 1] = 0;
  solve.iv[iv::kEvaluationLimit - 1] = 6;
  std::vector<int> ints = {0, 0, 0};
  std::vector<float> reals = {0.0f};
  bounded_fit_driver(2, 2, solve.x, solve.bounds, solve.residual_function(), solve.iv, 102, 330, solve.v,
                     ints, reals, [] {});
  EXPECT_EQ(solve.iv[0], code::kEvaluationLimit);
  EXPECT_EQ(solve.trial_calls(), 6);
  // x is a point that was evaluated and accepted: its f is the solver's current f.
  const float f = 0.5f * (std::pow(10.0f * (solve.x[1] - solve.x[0] * solve.x[0]), 2.0f) +
                          std::pow(1.0f - solve.x[0], 2.0f));
  EXPECT_FLOAT_EQ(f, solve.v[v::kFunction - 1]);
}

// ----- accounting ----------------------------------------------------------------------

TEST(EvaluationAccounting, JacobianCostsPEvaluationsTaggedWithTheAcceptedPoint) {
  RecordingSolve solve = linear_solve(6, 3);
  solve.model = [](const Call& call, int, int&, std::span<float> r, std::span<int>) {
    for (int i = 0; i < 6; ++i) r[i] = std::exp(0.3f * call.x[i % 3]) - 0.2f * float(i + 1);
  };
  solve.run();
  ASSERT_TRUE(code::is_convergence(solve.code())) << solve.code();
  int last_trial_tag = 0;
  int trial_number = 0;
  for (std::size_t k = 0; k < solve.calls.size();) {
    const Call& call = solve.calls[k];
    if (call.flag == 1) {
      EXPECT_EQ(call.nf, ++trial_number);  // iv(6) counts trial points, start included
      last_trial_tag = call.nf;
      ++k;
      continue;
    }
    // A Jacobian: exactly p difference calls, all tagged with the point being differenced.
    ASSERT_LE(k + 3, solve.calls.size());
    for (std::size_t j = k; j < k + 3; ++j) {
      EXPECT_EQ(solve.calls[j].flag, 0);
      EXPECT_EQ(solve.calls[j].nf, last_trial_tag);
    }
    k += 3;
  }
  EXPECT_EQ(trial_number, solve.ivp(iv::kFunctionEvaluations));
  EXPECT_EQ(solve.difference_calls(), 3 * solve.ivp(iv::kJacobianCount));
  EXPECT_EQ(solve.difference_calls(), solve.ivp(iv::kDifferenceEvaluations));
}

TEST(EvaluationAccounting, RefusedTrialCostsOneEvaluationNoJacobianAndHalvesTheStep) {
  RecordingSolve solve;
  solve.n = 2;
  solve.p = 1;
  solve.x = {0.0f};
  solve.bounds = {-100.0f, 100.0f};
  int trials = 0;
  solve.model = [&trials](const Call& call, int, int& nf, std::span<float> r, std::span<int>) {
    r[0] = call.x[0] - 30.0f;
    r[1] = 0.1f * (call.x[0] - 30.0f);
    if (call.flag == 1 && ++trials == 2) nf = 0;  // refuse the first proposed step
  };
  solve.run();
  ASSERT_GE(solve.calls.size(), 5u);
  // start, its Jacobian, the refused trial, then at once the next trial
  EXPECT_EQ(solve.calls[0].flag, 1);
  EXPECT_EQ(solve.calls[1].flag, 0);
  EXPECT_EQ(solve.calls[2].flag, 1);
  EXPECT_EQ(solve.calls[3].flag, 1);
  EXPECT_EQ(solve.calls[3].nf, solve.calls[2].nf + 1);
  // The next radius is decfac (0.5) times the refused step's scaled length; with one
  // unknown and an unchanged scale the step itself halves (within the +-10 % window).
  const float refused = std::fabs(solve.calls[2].x[0] - solve.calls[0].x[0]);
  const float next = std::fabs(solve.calls[3].x[0] - solve.calls[0].x[0]);
  EXPECT_GE(next, 0.9f * 0.5f * refused);
  EXPECT_LE(next, 1.1f * 0.5f * refused);
  EXPECT_TRUE(code::is_convergence(solve.code())) << solve.code();
  EXPECT_NEAR(solve.x[0], 30.0f, 1e-3f);
}

TEST(EvaluationAccounting, EqualBoundsGiveAZeroColumnAndNoEvaluation) {
  RecordingSolve solve = rosenbrock_solve();
  solve.bounds = {-5.0f, 5.0f, 0.64f, 0.64f};
  solve.x = {1.5f, 0.64f};
  solve.run();
  EXPECT_TRUE(code::is_convergence(solve.code())) << solve.code();
  for (const Call& call : solve.calls) EXPECT_EQ(call.x[1], 0.64f);
  EXPECT_EQ(solve.difference_calls(), solve.ivp(iv::kJacobianCount));
  // With x2 = 0.64 the right-hand well of Rosenbrock has its minimum near x1 = 0.8 (r1 = 0
  // there, and r2 = 0.2 pulls it slightly right).
  EXPECT_NEAR(solve.x[0], 0.8f, 2e-3f);
  EXPECT_GT(solve.x[0], 0.8f);
}

TEST(EvaluationAccounting, DifferenceStepSizeAndDirectionInsideTheBounds) {
  // h = sqrt(eps) max(|x|, 1/d) with d = 1 in the first Jacobian: backwards within h of the
  // upper bound, forwards within h of the lower one, and 1/d for |x| below 1.
  const float root_eps = std::sqrt(std::ldexp(1.0f, -23));
  const struct {
    float start, lower, upper, h;
  } cases[] = {{3.0f - 1.0e-4f, 1.0f, 3.0f, -root_eps * (3.0f - 1.0e-4f)},
               {1.0f + 1.0e-4f, 1.0f, 3.0f, root_eps * (1.0f + 1.0e-4f)},
               {0.25f, -1.0f, 3.0f, root_eps}};
  for (const auto& c : cases) {
    RecordingSolve solve;
    solve.n = 1;
    solve.p = 1;
    solve.x = {c.start};
    solve.bounds = {c.lower, c.upper};
    solve.model = [](const Call& call, int, int&, std::span<float> r, std::span<int>) {
      r[0] = call.x[0] - 2.0f;
    };
    solve.run(0);
    ASSERT_EQ(solve.calls.size(), 2u);
    // x + h rounds to the float grid of x, so compare to a part in a thousand of h.
    EXPECT_NEAR(solve.calls[1].x[0] - c.start, c.h, 1e-3f * std::fabs(c.h)) << c.start;
  }
}

// ----- the user_ints protocol -----------------------------------------------------------

TEST(StopProtocol, FlagIsOneExactlyAtTrialPointsAndIterationIsPassed) {
  RecordingSolve solve = rosenbrock_solve();
  solve.run();
  ASSERT_TRUE(code::is_convergence(solve.code()));
  EXPECT_EQ(solve.calls[0].iteration, 0);
  int previous_iteration = 0;
  for (const Call& call : solve.calls) {
    if (call.flag == 1) {
      EXPECT_GE(call.iteration, previous_iteration);
      previous_iteration = call.iteration;
    }
  }
  EXPECT_EQ(solve.user_ints[1], previous_iteration);
  EXPECT_EQ(solve.user_ints[2], solve.code() + 10);
}

TEST(StopProtocol, StopAtTheStartingPointEndsAfterThatEvaluation) {
  RecordingSolve solve = rosenbrock_solve();
  solve.model = [](const Call& call, int index, int& nf, std::span<float> r, std::span<int> ints) {
    rosenbrock(call, index, nf, r, ints);
    ints[2] = 2;
  };
  solve.run();
  EXPECT_EQ(solve.calls.size(), 1u);
  EXPECT_EQ(solve.x, (std::vector<float>{-1.2f, 1.0f}));
  EXPECT_EQ(solve.user_ints[1], 0);
  EXPECT_EQ(solve.user_ints[2], 2);
}

TEST(StopProtocol, StopAtAnIterateReturnsThePointJustEvaluated) {
  RecordingSolve solve = rosenbrock_solve();
  solve.model = [](const Call& call, int index, int& nf, std::span<float> r, std::span<int> ints) {
    rosenbrock(call, index, nf, r, ints);
    if (call.flag == 1 && call.nf == 4) ints[2] = 3;
  };
  solve.run();
  const Call& last = solve.calls.back();
  EXPECT_EQ(last.flag, 1);
  EXPECT_EQ(last.nf, 4);
  EXPECT_EQ(solve.x, last.x);
  EXPECT_EQ(solve.user_ints[1], last.iteration);
  EXPECT_EQ(solve.user_ints[2], 3);
}

TEST(StopProtocol, RequestDuringDifferencesActsAfterTheNextTrialEvaluation) {
  RecordingSolve solve = rosenbrock_solve();
  solve.model = [](const Call& call, int index, int& nf, std::span<float> r, std::span<int> ints) {
    rosenbrock(call, index, nf, r, ints);
    if (call.flag == 0) ints[2] = 4;
  };
  solve.run();
  // start, the two difference calls of its Jacobian, then one trial point
  ASSERT_EQ(solve.calls.size(), 4u);
  EXPECT_EQ(solve.calls.back().flag, 1);
  EXPECT_EQ(solve.user_ints[2], 4);
}

// ----- bounds --------------------------------------------------------------------------

TEST(Bounds, StartOutsideTheBoxIsClippedOntoTheNearerBound) {
  RecordingSolve solve = rosenbrock_solve();
  solve.x = {-9.0f, 7.5f};
  solve.bounds = {-2.0f, 2.0f, -1.0f, 3.0f};
  solve.run();
  EXPECT_EQ(solve.calls[0].x, (std::vector<float>{-2.0f, 3.0f}));
  for (const Call& call : solve.calls) {
    EXPECT_GE(call.x[0], -2.0f);
    EXPECT_LE(call.x[0], 2.0f);
    EXPECT_GE(call.x[1], -1.0f);
    EXPECT_LE(call.x[1], 3.0f);
  }
}

TEST(Bounds, UnknownHeldOnItsBoundStaysExactlyThere) {
  // Linear residuals whose minimum (10/3, -5/3) lies outside x1 <= 2, x2 >= 0.
  RecordingSolve solve;
  solve.n = 3;
  solve.p = 2;
  solve.x = {0.5f, 1.0f};
  solve.bounds = {-5.0f, 2.0f, 0.0f, 5.0f};
  solve.model = [](const Call& call, int, int&, std::span<float> r, std::span<int>) {
    r[0] = call.x[0] - 4.0f;
    r[1] = call.x[1] + 1.0f;
    r[2] = call.x[0] + call.x[1] - 1.0f;
  };
  solve.run();
  EXPECT_TRUE(code::is_convergence(solve.code()));
  EXPECT_EQ(solve.x[0], 2.0f);
  EXPECT_EQ(solve.x[1], 0.0f);
  // Once on its bound with the gradient pointing out, every later trial keeps it there.
  bool reached = false;
  for (const Call& call : solve.calls) {
    if (call.flag != 1) continue;
    if (reached) {
      EXPECT_EQ(call.x[0], 2.0f);
    }
    reached = reached || call.x[0] == 2.0f;
  }
  EXPECT_TRUE(reached);
  EXPECT_EQ(solve.ivp(iv::kFreeCount), 0);
}

// ----- refused evaluations during the iteration ----------------------------------------

TEST(RefusedEvaluations, RegionWhereResidualsCannotBeComputedIsAvoided) {
  // Rosenbrock refusing every point with x2 > 1.3: the minimum (1, 1) is still reached.
  RecordingSolve solve = rosenbrock_solve();
  solve.x = {-1.2f, 1.0f};
  solve.model = [](const Call& call, int index, int& nf, std::span<float> r, std::span<int> ints) {
    rosenbrock(call, index, nf, r, ints);
    if (call.x[1] > 1.3f) nf = 0;
  };
  solve.run();
  EXPECT_TRUE(code::is_convergence(solve.code())) << solve.code();
  EXPECT_NEAR(solve.x[0], 1.0f, 5e-3f);
  EXPECT_LE(solve.x[1], 1.3f);
}

TEST(RefusedEvaluations, NonFiniteDifferenceColumnIsRetriedWithAShorterStep) {
  RecordingSolve solve;
  solve.n = 1;
  solve.p = 1;
  solve.x = {2.0f};
  solve.bounds = {0.0f, 4.0f};
  solve.model = [](const Call& call, int, int&, std::span<float> r, std::span<int>) {
    r[0] = call.x[0] > 2.0001f ? std::numeric_limits<float>::quiet_NaN() : call.x[0] - 1.0f;
  };
  solve.run(0);
  ASSERT_EQ(solve.calls.size(), 3u);
  EXPECT_LT(solve.calls[2].x[0], 2.0f);  // the second try goes backwards, half as far
  EXPECT_EQ(solve.code(), code::kIterationLimit);
}

// ----- repeated and concurrent solves --------------------------------------------------

TEST(Reentry, SecondCallWithTheSameArraysRepeatsTheFirst) {
  RecordingSolve first = rosenbrock_solve();
  first.run();
  RecordingSolve second = rosenbrock_solve();
  second.iv = first.iv;  // leftovers of the first solve
  second.v = first.v;
  std::vector<int> ints = {150, 0, 0};
  std::vector<float> reals = {0.0f};
  bounded_fit(2, 2, second.x, second.bounds, second.residual_function(), second.iv, first.liv, first.lv,
              second.v, ints, reals, [] {});
  EXPECT_EQ(second.x, first.x);
  EXPECT_EQ(second.calls.size(), first.calls.size());
  EXPECT_EQ(second.iv[0], first.iv[0]);
}

TEST(Reentry, TwoSolvesOnTwoThreadsMatchTheSequentialOnes) {
  RecordingSolve reference_a = rosenbrock_solve();
  reference_a.run();
  RecordingSolve reference_b = linear_solve(8, 4);
  reference_b.run();
  for (int round = 0; round < 4; ++round) {
    RecordingSolve a = rosenbrock_solve();
    RecordingSolve b = linear_solve(8, 4);
    std::thread ta([&a] { a.run(); });
    std::thread tb([&b] { b.run(); });
    ta.join();
    tb.join();
    EXPECT_EQ(a.x, reference_a.x);
    EXPECT_EQ(a.calls.size(), reference_a.calls.size());
    EXPECT_EQ(b.x, reference_b.x);
    EXPECT_EQ(b.calls.size(), reference_b.calls.size());
  }
}

}  // namespace
}  // namespace basinfit::solver::testing
