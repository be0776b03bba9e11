#pragma once
// The options a survey can need, typed, listed once with one validator, for every front end:
// basinfit-import's command line (how device files are read and turned into a run folder),
// basinfit's command line (what the results and the page analyse), a manifest's columns and the
// workbench's survey form.  An option added to the table below is all of these at once.
//
//   options::SurveyOptions survey;
//   if (auto why = options::set(survey, *options::find("skip_seating"), "1")) ... refuse *why ...
//   options::check(survey);                           // rules between options
//   options::arguments(survey, options::Program::kEngine)  // -> {"--multistart", "4", ...}
//
// Every option keeps the text it was given beside its typed value, so that what is recorded of
// a run (its command line, its manifest row, the key that says whether its results still hold)
// repeats the engineer's own words.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "import/readers.h"
#include "import/run_folder.h"
#include "runner/survey_run.h"

namespace basinfit::options {

// Which program's command line takes an option; a manifest and the workbench take all.
enum class Program { kImport, kEngine };

// What an option is about, for forms: how the device files are read, how the run folder is
// written, what the results analyse.
enum class Group { kReading, kRunFolder, kAnalysis };

// What a value looks like, for forms and help: one of fixed words, a whole number, a number,
// free text, a list, or a switch (no value on a command line; yes/no elsewhere).
enum class Kind { kChoice, kWhole, kNumber, kText, kList, kSwitch };

struct SurveyOptions {
  // How the device files are read (basinfit-import only).
  std::optional<import::Format> format;
  import::ReaderOptions reader;
  // How the run folder is written (basinfit-import only).
  import::ImportOptions import;
  // What the results and the page analyse (basinfit only).
  runner::AnalysisOptions analysis;

  // The options given, as (key, text), in table order.
  std::vector<std::pair<std::string, std::string>> given;
  const std::string* text(std::string_view key) const;
};

struct OptionSpec {
  std::string_view key;   // manifest column, form field and run-record name: "skip_seating"
  std::string_view flag;  // command line: "--skip-seating"
  Program program;
  Kind kind;
  std::string_view value_name;  // "N", "LIST", "UNIT", ... (empty for a switch)
  std::string_view help;
  std::vector<std::string_view> choices;  // kChoice: the words taken
  // Sets the typed value from `text`; nothing when it fits, else what was expected (a sentence
  // that follows the option's name: "expected a whole number from 0 to 1000, found 'x'").
  std::function<std::optional<std::string>(SurveyOptions&, std::string_view)> apply;
  Group group = Group::kRunFolder;  // set for every row by table()
};

// Every option, in the order of a manifest's columns and of the run's command line.
const std::vector<OptionSpec>& table();
const OptionSpec* find(std::string_view key);

// Sets one option from its text (and records the text); nothing when it fits, else what was
// expected.  A value given twice keeps the later one.
std::optional<std::string> set(SurveyOptions& options, const OptionSpec& spec, std::string_view text);

// The rules between options that need no survey: a weighting of 2 with its weights, a sensor
// precision that is not all zero.  (How many weights, and which readings a temperature adjustment
// needs, depend on the survey: the importer checks those.)
// Nothing when they hold, else the first broken rule with the option it names.
struct Refusal {
  std::string option;  // the flag ("--weights")
  std::string reason;
};
std::optional<Refusal> check(const SurveyOptions& options);

// The command-line arguments of `program` for the options given, in table order, each value as
// given ("--load-levels", "40kN,53kN").
std::vector<std::string> arguments(const SurveyOptions& options, Program program);

}  // namespace basinfit::options
