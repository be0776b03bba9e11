#include "report/report_words.h"

#include <gtest/gtest.h>

namespace basinfit {
namespace {

TEST(ConvergenceText, EveryCodeOfTheTableHasItsWords) {
  const std::pair<int, const char*> table[] = {
      {2, "RMS Error Tolerance Satisfied"},
      {3, "Modulus Tolerance Satisfied"},
      {4, "RMS Error and Modulus Tolerance Satisfied"},
      {13, "Close to Optimum (3)"},
      {14, "Close to Optimum (4)"},
      {15, "Close to Optimum (5)"},
      {16, "Close to Optimum (6)"},
      {17, "Singular Convergence (7)"},
      {18, "False Convergence (8)"},
      {19, "Function Evaluation Limit (9)"},
      {20, "Iteration Limit (10)"},
      {21, "User Terminated (11)"},
  };
  for (const auto& [code, text] : table) {
    const auto words = convergence_text(code);
    ASSERT_TRUE(words.has_value()) << code;
    EXPECT_EQ(*words, text) << code;
  }
}

TEST(ConvergenceText, CodesOutsideTheTableHaveNoWords) {
  for (int code : {-1, 0, 1, 5, 7, 10, 11, 12, 22, 99, 100})
    EXPECT_FALSE(convergence_text(code).has_value()) << code;
}

TEST(WordTables, PositionAndSoilTypeWordsHaveNoTrailingBlanks) {
  EXPECT_EQ(position_word(0), "Top");
  EXPECT_EQ(position_word(1), "Middle");
  EXPECT_EQ(position_word(2), "Bottom");
  EXPECT_EQ(soil_type_word(0), "N/A");
  EXPECT_EQ(soil_type_word(1), "Coarse");
  EXPECT_EQ(soil_type_word(2), "Fine");
}

TEST(WordTables, CodesOutsideATableReadAsNotApplicableInsteadOfPastItsEnd) {
  for (int code : {-7, -1, 3, 6, 1000}) {
    EXPECT_EQ(position_word(code), "N/A") << code;
    EXPECT_EQ(soil_type_word(code), "N/A") << code;
  }
}

TEST(WordTables, OnlyCoarseAndFineLayersShowTheirFit) {
  EXPECT_FALSE(has_stress_fit(0));
  EXPECT_TRUE(has_stress_fit(1));
  EXPECT_TRUE(has_stress_fit(2));
  EXPECT_FALSE(has_stress_fit(3));
  EXPECT_FALSE(has_stress_fit(-1));
}

TEST(PercentageDifference, PositiveWhenTheModelDeflectsLessThanThePavement) {
  EXPECT_FLOAT_EQ(percentage_difference(200.0f, 190.0f), 5.0f);
  EXPECT_FLOAT_EQ(percentage_difference(200.0f, 210.0f), -5.0f);
  EXPECT_EQ(percentage_difference(1.0f, 1.0f), 0.0f);
}

TEST(PercentageDifference, ReadingsOfAHundredthOrLessGiveZero) {
  EXPECT_EQ(percentage_difference(0.01f, 5.0f), 0.0f);  // exactly 0.01 is not above the threshold
  EXPECT_EQ(percentage_difference(0.0f, 5.0f), 0.0f);
  EXPECT_EQ(percentage_difference(-3.0f, 5.0f), 0.0f);
  // Just above the threshold the percentage is computed.
  EXPECT_NEAR(percentage_difference(0.0101f, 0.0100f), 0.990099f, 1e-4f);
  EXPECT_NEAR(percentage_difference(0.0101f, 0.0f), 100.0f, 1e-4f);
}

}  // namespace
}  // namespace basinfit
