#pragma once
// The survey options on a program's command line (CLI11): every option of the table that the
// program takes, with its help text and its value checked by the table's own validator as the
// command line is read.
//
//   options::SurveyOptions survey;
//   const auto added = options::add_to(app, survey, options::Program::kEngine);
//   added.at("--multistart")->needs(results);

#include <CLI/CLI.hpp>
#include <map>
#include <string>
#include <vector>

#include "options/survey_options.h"

namespace basinfit::options {

// The options added, by flag.  `options` must outlive the parse.
inline std::map<std::string, CLI::Option*> add_to(CLI::App& app, SurveyOptions& options, Program program) {
  std::map<std::string, CLI::Option*> added;
  for (const OptionSpec& spec : table()) {
    if (spec.program != program) continue;
    const std::string flag(spec.flag);
    const auto apply = [&options, &spec, flag](const std::string& text) {
      if (auto why = set(options, spec, text)) throw CLI::ValidationError(flag, *why);
    };
    CLI::Option* option = nullptr;
    if (spec.kind == Kind::kSwitch) {
      option = app.add_flag_function(
          flag, [apply](std::int64_t) { apply("yes"); }, std::string(spec.help));
    } else if (spec.kind == Kind::kList && (spec.key == "load_levels" || spec.key == "sensor_precision")) {
      // These two take their values as one list or as separate words, as they always have.
      option = app.add_option_function<std::vector<std::string>>(
                      flag,
                      [apply](const std::vector<std::string>& values) {
                        std::string joined;
                        for (const std::string& v : values) joined += (joined.empty() ? "" : ",") + v;
                        apply(joined);
                      },
                      std::string(spec.help))
                   ->delimiter(',');
      if (spec.key == "sensor_precision") option->expected(2);
    } else {
      option = app.add_option_function<std::string>(flag, apply, std::string(spec.help));
    }
    if (!spec.value_name.empty()) option->type_name(std::string(spec.value_name));
    added[flag] = option;
  }
  return added;
}

}  // namespace basinfit::options
