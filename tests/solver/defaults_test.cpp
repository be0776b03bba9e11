// Defaults written by ivset, the storage minima, and the parameter checks with their
// messages.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "common/record_format.h"
#include "solver/machine_constants.h"
#include "solver/solver_defaults.h"

namespace basinfit::solver {
namespace {

struct Arrays {
  std::vector<int> iv = std::vector<int>(102, -7);
  std::vector<float> v = std::vector<float>(330, 7.0f);
  int ivp(int e) const { return iv[static_cast<std::size_t>(e - 1)]; }
  float vp(int e) const { return v[static_cast<std::size_t>(e - 1)]; }
};

TEST(Defaults, RegressionIntegerDefaults) {
  Arrays a;
  ivset(kRegression, a.iv, 102, 330, a.v);
  const std::pair<int, int> expected[] = {
      {1, 12},  {3, 0},  {4, 0},  {11, 2},  {14, 3},  {15, 1}, {16, 1},  {17, 200}, {18, 150}, {19, 1},
      {20, 1},  {21, 6}, {22, 1}, {23, 1},  {24, 1},  {25, 0}, {42, 99}, {44, 82},  {45, 98},  {49, 67},
      {50, 32}, {51, 1}, {57, 3}, {58, 83}, {60, 58}, {71, 0}, {75, 0},  {80, 1}};
  for (const auto& [element, value] : expected) EXPECT_EQ(a.ivp(element), value) << "iv(" << element << ")";
}

TEST(Defaults, RegressionRealDefaults) {
  Arrays a;
  ivset(kRegression, a.iv, 102, 330, a.v);
  const float eps = std::ldexp(1.0f, -23);
  const float cube_root = std::pow(eps, 1.0f / 3.0f);  // about 4.92e-3
  const float expected[32] = {0.1f,
                              -0.1f,
                              0.1f,
                              0.5f,
                              2.0f,
                              0.1f,
                              4.0f,
                              0.1f,
                              1.0e-4f,
                              0.75f,
                              0.5f,
                              0.75f,
                              std::ldexp(1.0f, -46),
                              cube_root * cube_root,
                              std::sqrt(eps),
                              100.0f * eps,
                              1.0f,
                              1.0f,
                              cube_root * cube_root,
                              0.0f,
                              1.0e-6f,
                              1.0f,
                              0.6f,
                              cube_root,
                              std::sqrt(eps),
                              std::sqrt(eps),
                              1.5f,
                              machine_constant(5),
                              100.0f * eps,
                              0.7f,
                              0.001f,
                              1.0e-4f};
  for (int element = 19; element <= 50; ++element) {
    EXPECT_EQ(a.vp(element), expected[element - 19]) << parameter_range(element).name;
  }
  EXPECT_NEAR(a.vp(v::kRfctol), 2.42e-5f, 0.01e-5f);
  EXPECT_NEAR(a.vp(v::kRlimit), 1.8447e19f, 0.0001e19f);
}

TEST(Defaults, EveryDefaultLiesInItsAllowedRange) {
  Arrays a;
  ivset(kRegression, a.iv, 102, 330, a.v);
  for (int element = 19; element <= 50; ++element) {
    const ParameterRange range = parameter_range(element);
    EXPECT_GE(a.vp(element), range.lower) << range.name;
    EXPECT_LE(a.vp(element), range.upper) << range.name;
  }
}

TEST(Defaults, ShortRealArrayGives16BeforeAnyDefaultIsWritten) {
  Arrays a;
  ivset(kRegression, a.iv, 102, 97, a.v);
  EXPECT_EQ(a.ivp(1), code::kLvTooSmall);
  for (float x : a.v) EXPECT_EQ(x, 7.0f);
}

TEST(Defaults, ShortIntegerArrayGives15AfterSettingUnitAndKind) {
  Arrays a;
  ivset(kRegression, a.iv, 81, 330, a.v);
  EXPECT_EQ(a.ivp(1), code::kLivTooSmall);
  EXPECT_EQ(a.ivp(iv::kOutputUnit), 6);
  EXPECT_EQ(a.ivp(iv::kAlgorithm), 1);
  EXPECT_EQ(a.ivp(iv::kEvaluationLimit), -7);  // defaults not written
}

TEST(Defaults, GeneralMinimizationKindsHaveTheirOwnMinimaAndSettings) {
  EXPECT_EQ(minimum_liv(2), 59);
  EXPECT_EQ(minimum_lv(2), 71);
  EXPECT_EQ(minimum_liv(3), 103);
  EXPECT_EQ(minimum_lv(3), 101);
  EXPECT_EQ(minimum_liv(4), 103);
  EXPECT_EQ(minimum_lv(4), 85);
  Arrays a;
  a.iv.assign(110, 0);
  ivset(2, a.iv, 110, 330, a.v);
  EXPECT_EQ(a.ivp(1), 12);
  EXPECT_EQ(a.ivp(iv::kScaleType), 0);
  EXPECT_EQ(a.ivp(iv::kInitialSecantKind), 1);
  EXPECT_EQ(a.ivp(iv::kRealDefaultCount), 25);
  EXPECT_EQ(a.ivp(iv::kDefaultCopy), 47);
  EXPECT_EQ(a.vp(v::kDinit), -1.0f);
  EXPECT_EQ(a.vp(42), 1000.0f * std::ldexp(1.0f, -23));
  EXPECT_FLOAT_EQ(a.vp(43), 0.8f);
  ivset(4, a.iv, 110, 330, a.v);
  EXPECT_EQ(a.ivp(101), 1);
  EXPECT_EQ(a.ivp(iv::kDefaultCopy), 61);
}

// ----- check messages ------------------------------------------------------------------

std::string check_output(int unit_number, std::function<void(Arrays&)> change, int* code = nullptr) {
  Arrays a;
  ivset(kRegression, a.iv, 102, 330, a.v);
  a.iv[iv::kOutputUnit - 1] = unit_number;
  a.iv[iv::kParameterListing - 1] = 0;
  change(a);
  std::ostringstream text;
  TextUnit unit(text);
  // The storage pass, then a later pass with the parameters.
  a.iv[0] = code::kStorageOnly;
  a.iv[iv::kExtraIvNeeded - 1] = 8;
  a.iv[iv::kExtraVNeeded - 1] = 2 * 19 + 2 * 15 / 2 + 0;
  check_parameters(kRegression, {}, a.iv, 102, 330, 2, a.v, &unit);
  if (a.iv[0] == code::kStorageOnly) {
    a.iv[0] = code::kStorageReady;
    check_parameters(kRegression, {}, a.iv, 102, 330, 2, a.v, &unit);
  }
  unit.finish();
  if (code) *code = a.iv[0];
  return text.str();
}

TEST(ParameterCheck, OutOfRangeMessageNamesTheElementItsValueAndRange) {
  int result = 0;
  const std::string text = check_output(
      6, [](Arrays& a) { a.v[v::kXctol - 1] = 2.0f; }, &result);
  EXPECT_EQ(result, 33);
  EXPECT_EQ(text, "\n ///  xctol..... v(33) =  0.200E+01 should be between  0.000E+00 and  0.100D+01\n");
}

TEST(ParameterCheck, SilentAtUnitZeroWhateverTheCode) {
  int result = 0;
  EXPECT_EQ(check_output(
                0, [](Arrays& a) { a.v[v::kXctol - 1] = 2.0f; }, &result),
            "");
  EXPECT_EQ(result, 33);
  EXPECT_EQ(check_output(
                0, [](Arrays& a) { a.iv[iv::kRealDefaultCount - 1] = 31; }, &result),
            "");
  EXPECT_EQ(result, code::kDefaultCountWrong);
}

TEST(ParameterCheck, StorageShortageMessages) {
  Arrays a;
  ivset(kRegression, a.iv, 102, 330, a.v);
  a.iv[0] = code::kStorageOnly;
  a.iv[iv::kExtraVNeeded - 1] = 300;
  std::ostringstream text;
  TextUnit unit(text);
  check_parameters(kRegression, {}, a.iv, 102, 330, 5, a.v, &unit);
  unit.finish();
  EXPECT_EQ(a.iv[0], code::kLvTooSmall);
  EXPECT_EQ(a.ivp(iv::kNeededLv), 398);
  EXPECT_EQ(text.str(), "\n /// lv =  330 must be at least  398\n");
}

TEST(ParameterCheck, WrongDefaultCountGives51) {
  int result = 0;
  const std::string text = check_output(
      6, [](Arrays& a) { a.iv[iv::kRealDefaultCount - 1] = 31; }, &result);
  EXPECT_EQ(result, 51);
  EXPECT_EQ(text, "\n iv(nvdflt) =   31 rather than    32\n");
}

TEST(ParameterCheck, NondefaultValuesAreListedWhenAsked) {
  Arrays a;
  ivset(kRegression, a.iv, 102, 330, a.v);
  a.v[v::kAfctol - 1] = 1.0e-5f;
  a.iv[0] = code::kStorageReady;
  a.iv[iv::kStoredP - 1] = 2;
  std::ostringstream text;
  TextUnit unit(text);
  check_parameters(kRegression, {}, a.iv, 102, 330, 2, a.v, &unit);
  unit.finish();
  EXPECT_EQ(a.iv[0], code::kStorageReady);
  EXPECT_EQ(text.str(), "\n nondefault values....\n\n afctol.... v(31) =  0.1000000E-04\n");
}

}  // namespace
}  // namespace basinfit::solver
