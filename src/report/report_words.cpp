#include "report/report_words.h"

#include <array>

namespace basinfit {

std::optional<std::string_view> convergence_text(int code) {
  switch (code) {
    case 2:
      return "RMS Error Tolerance Satisfied";
    case 3:
      return "Modulus Tolerance Satisfied";
    case 4:
      return "RMS Error and Modulus Tolerance Satisfied";
    case 13:
      return "Close to Optimum (3)";
    case 14:
      return "Close to Optimum (4)";
    case 15:
      return "Close to Optimum (5)";
    case 16:
      return "Close to Optimum (6)";
    case 17:
      return "Singular Convergence (7)";
    case 18:
      return "False Convergence (8)";
    case 19:
      return "Function Evaluation Limit (9)";
    case 20:
      return "Iteration Limit (10)";
    case 21:
      return "User Terminated (11)";
    default:
      return std::nullopt;
  }
}

namespace {

constexpr std::string_view kNotApplicable = "N/A";

template <std::size_t N>
std::string_view word_at(const std::array<std::string_view, N>& words, int code) {
  if (code < 0 || static_cast<std::size_t>(code) >= N) return kNotApplicable;
  return words[static_cast<std::size_t>(code)];
}

}  // namespace

std::string_view position_word(int code) {
  static constexpr std::array<std::string_view, 3> kWords{"Top", "Middle", "Bottom"};
  return word_at(kWords, code);
}

std::string_view soil_type_word(int code) {
  static constexpr std::array<std::string_view, 3> kWords{"N/A", "Coarse", "Fine"};
  return word_at(kWords, code);
}

bool has_stress_fit(int soil_type) { return soil_type == 1 || soil_type == 2; }

float percentage_difference(float measured, float calculated) {
  if (!(measured > 0.01f)) return 0.0f;
  return 100.0f * (measured - calculated) / measured;
}

}  // namespace basinfit
