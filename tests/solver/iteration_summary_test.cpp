// The iteration summary: silent at unit 0, and at a non-zero unit the header, the
// iteration lines in their fixed layout, the termination message and the listings.

#include <gtest/gtest.h>

#include <sstream>

#include "common/record_format.h"
#include "solver/bounded_fit.h"
#include "solver/solver_defaults.h"
#include "test_problems.h"

namespace basinfit::solver::testing {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Solves a problem through the driver with every listing on at unit 6, or silent.
std::string summary_of(const TestProblem& problem, int unit_number, int interval, int* result = nullptr,
                       int evaluation_limit = 200) {
  std::vector<float> x = problem.start;
  const int liv = required_liv(problem.p);
  const int lv = required_lv(problem.n, problem.p);
  std::vector<int> iv(static_cast<std::size_t>(liv), 0);
  std::vector<float> v(static_cast<std::size_t>(lv), 0.0f);
  ivset(kRegression, iv, liv, lv, v);
  iv[iv::kOutputUnit - 1] = unit_number;
  iv[iv::kSummaryInterval - 1] = interval;
  iv[iv::kEvaluationLimit - 1] = evaluation_limit;
  std::vector<int> ints = {0, 0, 0};
  std::vector<float> reals = {0.0f};
  ResidualFunction residuals = [&problem](int, int, std::span<const float> trial, int&, std::span<float> r,
                                          std::span<int>, std::span<float>,
                                          const UserRoutine&) { problem.residuals(trial, r); };
  std::ostringstream text;
  TextUnit unit(text);
  bounded_fit_driver(
      problem.n, problem.p, x, problem.bounds, residuals, iv, liv, lv, v, ints, reals, [] {}, &unit);
  unit.finish();
  if (result) *result = iv[0];
  return text.str();
}

const TestProblem& problem_named(const std::string& name) {
  static const std::vector<TestProblem> problems = standard_problems();
  for (const TestProblem& p : problems) {
    if (p.name == name) return p;
  }
  throw std::runtime_error(name);
}

TEST(IterationSummary, SilentAtUnitZero) {
  int result = 0;
  EXPECT_EQ(summary_of(problem_named("Rosenbrock"), 0, 1, &result), "");
  EXPECT_TRUE(code::is_convergence(result));
}

TEST(IterationSummary, EngineEntryWritesNothingEvenWithAnOutputUnitGiven) {
  std::vector<float> x = {-1.2f, 1.0f};
  const std::vector<float> b = {-5.0f, 5.0f, -5.0f, 5.0f};
  std::vector<int> iv(102, 0);
  std::vector<float> v(330, 0.0f);
  std::vector<int> ints = {150, 0, 0};
  std::vector<float> reals = {0.0f};
  std::ostringstream text;
  TextUnit unit(text);
  bounded_fit(
      2, 2, x, b,
      [](int, int, std::span<const float> t, int&, std::span<float> r, std::span<int>, std::span<float>,
         const UserRoutine&) {
        r[0] = 10.0f * (t[1] - t[0] * t[0]);
        r[1] = 1.0f - t[0];
      },
      iv, 102, 330, v, ints, reals, [] {}, &unit);
  unit.finish();
  EXPECT_EQ(text.str(), "");
  EXPECT_EQ(ints[2], iv[0] + 10);
}

TEST(IterationSummary, LongLinesFollowTheirLayout) {
  int result = 0;
  const std::string text = summary_of(problem_named("Rosenbrock"), 6, 1, &result);
  const std::vector<std::string> lines = lines_of(text);
  // Starting listing, header, iteration 0, then one line per iteration.
  auto header = std::find(lines.begin(), lines.end(),
                          "    it   nf      f       reldf   preldf   reldx  model  stppar  d*step  npreldf");
  ASSERT_NE(header, lines.end()) << text;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "     i     initial x(i)        d(i)"), lines.end());
  // The starting listing is written once the first Jacobian has set the scale.
  EXPECT_NE(std::find(lines.begin(), lines.end(), "     1    -0.120000E+01     0.240E+02"), lines.end())
      << text;
  ASSERT_GE(lines.end() - header, 4);
  EXPECT_EQ(*(header + 2), "     0    1 0.121E+02");
  int iteration_lines = 0;
  for (auto it = header + 3; it != lines.end() && !it->empty(); ++it) {
    // I6, I5, E10.3, 2E9.2, E8.1, A3, A4, 2E8.1, E9.2: 79 columns.
    EXPECT_EQ(it->size(), 79u) << *it;
    EXPECT_EQ(std::stoi(it->substr(0, 6)), ++iteration_lines);
  }
  EXPECT_GT(iteration_lines, 5);
  // With the default tolerances (afctol 2^-46, xctol sqrt(eps)) the last full step ends
  // the solve by x-convergence.
  EXPECT_EQ(result, code::kXConvergence);
  EXPECT_NE(text.find("\n ***** x-convergence *****\n"), std::string::npos);
  EXPECT_NE(text.find("\n function"), std::string::npos);
  EXPECT_NE(text.find(" func. evals"), std::string::npos);
  EXPECT_NE(text.find("     i      final x(i)        d(i)          g(i)"), std::string::npos);
}

TEST(IterationSummary, ShortLinesStopAfterTheStepParameter) {
  const std::string text = summary_of(problem_named("Beale"), 6, -1);
  const std::vector<std::string> lines = lines_of(text);
  auto header =
      std::find(lines.begin(), lines.end(), "   it   nf      f       reldf   preldf   reldx  model  stppar");
  ASSERT_NE(header, lines.end()) << text;
  for (auto it = header + 3; it != lines.end() && !it->empty(); ++it) EXPECT_EQ(it->size(), 62u) << *it;
}

TEST(IterationSummary, ModelColumnShowsTheModelsTried) {
  // Meyer's problem switches from the Gauss-Newton to the augmented model.
  const std::string text = summary_of(meyer_problem(), 6, 1, nullptr, 60);
  EXPECT_NE(text.find("    g   "), std::string::npos);
  EXPECT_NE(text.find("   g-s "), std::string::npos) << text;
  EXPECT_NE(text.find("\n ***** function evaluation limit *****\n"), std::string::npos);
}

TEST(IterationSummary, ErrorCodesPrintTheirMessages) {
  TestProblem crossed = problem_named("Rosenbrock");
  crossed.bounds = {1.0f, 0.0f, -5.0f, 5.0f};
  int result = 0;
  EXPECT_EQ(summary_of(crossed, 6, 1, &result), "\n ***** iv(1) =   82 *****\n");
  EXPECT_EQ(result, code::kBadBounds);
  TestProblem refused = problem_named("Rosenbrock");
  refused.residuals = [](std::span<const float>, std::span<float> r) { r[0] = r[1] = 1.0e30f; };
  EXPECT_EQ(summary_of(refused, 6, 1, &result), "\n ***** initial f(x) cannot be computed *****\n");
  EXPECT_EQ(result, code::kInitialFunctionFailed);
}

}  // namespace
}  // namespace basinfit::solver::testing
