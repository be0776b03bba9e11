#include "network/survey_status.h"

#include <array>
#include <stdexcept>
#include <utility>

namespace basinfit::network {
namespace {

// Each value with its word, once: both directions walk the same table.
constexpr std::array<std::pair<SurveyStatus, std::string_view>, 3> kStatusWords{{
    {SurveyStatus::kOk, "ok"},
    {SurveyStatus::kFailed, "failed"},
    {SurveyStatus::kCancelled, "cancelled"},
}};

constexpr std::array<std::pair<SurveyStage, std::string_view>, 4> kStageWords{{
    {SurveyStage::kNone, ""},
    {SurveyStage::kImport, "import"},
    {SurveyStage::kEngine, "engine"},
    {SurveyStage::kLoad, "load"},
}};

template <typename Value, std::size_t N>
std::string word_of(const std::array<std::pair<Value, std::string_view>, N>& words, Value value) {
  for (const auto& [v, word] : words)
    if (v == value) return std::string(word);
  throw std::logic_error("a survey status or stage without its word");
}

template <typename Value, std::size_t N>
std::optional<Value> value_of(const std::array<std::pair<Value, std::string_view>, N>& words,
                              std::string_view text) {
  for (const auto& [v, word] : words)
    if (word == text) return v;
  return std::nullopt;
}

}  // namespace

std::string to_text(SurveyStatus status) { return word_of(kStatusWords, status); }
std::string to_text(SurveyStage stage) { return word_of(kStageWords, stage); }
std::optional<SurveyStatus> survey_status_from_text(std::string_view text) {
  return value_of(kStatusWords, text);
}
std::optional<SurveyStage> survey_stage_from_text(std::string_view text) {
  return value_of(kStageWords, text);
}

}  // namespace basinfit::network
