#pragma once
// How a survey of a network ended, and where a failed one stopped.  These are values in the
// program; they become words only where they leave it (the database's `surveys` table, the
// workbench's JSON), through the pair of functions below, so a word is spelled in one place.

#include <optional>
#include <string>
#include <string_view>

namespace basinfit::network {

enum class SurveyStatus {
  kOk,         // backcalculated, its results tables loaded
  kFailed,     // refused or ended early: the stage says where
  kCancelled,  // stopped by its caller (the workbench's Cancel) after a station
};

enum class SurveyStage {
  kNone,    // a survey that did not fail
  kImport,  // the importer refused the survey's files
  kEngine,  // the engine ended with a non-zero status
  kLoad,    // a results table the engine wrote could not be read
};

// "ok", "failed", "cancelled".
std::string to_text(SurveyStatus status);
// "", "import", "engine", "load".
std::string to_text(SurveyStage stage);
// The value a word stands for; none for a word this program does not write (the caller names
// where the word came from in its refusal).
std::optional<SurveyStatus> survey_status_from_text(std::string_view text);
std::optional<SurveyStage> survey_stage_from_text(std::string_view text);

}  // namespace basinfit::network
