// The survey options: what a manifest cell sets, a command line sets the same way, and the
// command line derived from the options reads back to the same options.

#include "options/survey_options.h"

#include <gtest/gtest.h>

#include "options/command_line.h"

namespace basinfit::options {
namespace {

// Options as a manifest gives them: column and cell text.
SurveyOptions from_cells(const std::vector<std::pair<std::string, std::string>>& cells) {
  SurveyOptions o;
  for (const auto& [key, text] : cells) {
    const OptionSpec* spec = find(key);
    EXPECT_NE(spec, nullptr) << key;
    if (spec) {
      EXPECT_EQ(set(o, *spec, text), std::nullopt) << key << "=" << text;
    }
  }
  return o;
}

// Options read from a command line of `program` by the program's own option parser.
SurveyOptions from_command_line(const std::vector<std::string>& args, Program program) {
  CLI::App app;
  SurveyOptions o;
  add_to(app, o, program);
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  app.parse(reversed);
  return o;
}

TEST(SurveyOptions, DerivedCommandLinesReadBackToTheSameOptions) {
  const SurveyOptions cells = from_cells({
      {"format", "f25"},           {"units", "English"},       {"route", "A 12; north"},
      {"skip_seating", "1"},       {"seeds", "given"},         {"drops", "2-4;7"},
      {"sensors", "1,3-5"},        {"temperatures", "asphalt;air"},
      {"chainage_unit", "km"},     {"plate_radius", "150"},    {"any_record_status", "yes"},
      {"columns", "d1=D0,load=F"}, {"delimiter", "tab"},       {"load_levels", "40kN;53.4kN;9000"},
      {"multistart", "4"},         {"sections_by", "deflection"}, {"sensor_precision", "2;0.3"},
  });
  EXPECT_EQ(cells.format, import::Format::kF25);
  EXPECT_EQ(cells.import.english, true);
  EXPECT_EQ(cells.import.drops, (std::vector<int>{2, 3, 4, 7}));
  EXPECT_EQ(cells.import.sensors, (std::vector<int>{1, 3, 4, 5}));
  EXPECT_EQ(cells.import.temperatures, (std::vector<std::string>{"asphalt", "air"}));
  EXPECT_EQ(cells.reader.chainage_unit, import::Unit::kKilometre);
  EXPECT_EQ(cells.reader.delimiter, '\t');
  EXPECT_TRUE(cells.reader.any_record_status);
  ASSERT_EQ(cells.analysis.load_levels.size(), 3u);
  EXPECT_EQ(cells.analysis.load_levels[0].unit, "kN");
  EXPECT_EQ(cells.analysis.load_levels[2].unit, "");
  EXPECT_TRUE(cells.analysis.sections_by.deflection);

  // Each program's share of the options through its own command line: the same values.
  for (const Program program : {Program::kImport, Program::kEngine}) {
    const SurveyOptions line = from_command_line(arguments(cells, program), program);
    EXPECT_EQ(arguments(line, program), arguments(cells, program));
    if (program == Program::kImport) {
      EXPECT_EQ(line.import.drops, cells.import.drops);
      EXPECT_EQ(line.import.route, cells.import.route);
      EXPECT_EQ(line.reader.columns, cells.reader.columns);
      EXPECT_TRUE(line.reader.any_record_status);
    } else {
      EXPECT_EQ(line.analysis.multistart, 4);
      EXPECT_EQ(line.analysis.sensor_precision, (std::vector<double>{2, 0.3}));
      EXPECT_EQ(line.analysis.load_levels.size(), 3u);
    }
  }
}

TEST(SurveyOptions, OneValidatorRefusesWhatNoFrontEndMayTake) {
  const struct {
    const char* key;
    const char* text;
    const char* expected;
  } cases[] = {
      {"skip_seating", "two", "expected a whole number from 0 to 1000, found 'two'"},
      {"max_iterations", "0", "expected a whole number from 1 to 10000"},
      {"load_levels", "40kN;-1", "found '-1'"},
      {"load_levels", "500kN", "which no deflectometer drops (1 kN to 350 kN)"},
      {"sections_by", "6", "expected a layer number from 1 to 5"},
      {"rms_tolerance", "nan", "expected a finite number above 0"},
      {"load_unit", "mm", "unknown or unfitting unit 'mm'"},
      {"drops", "5-2", "expected a range a-b, found '5-2'"},
      {"title", "two\nlines", "expected text on one line"},
      {"delimiter", ";;", "expected one character or 'tab'"},
      {"units", "imperial", "expected metric or english, found 'imperial'"},
  };
  for (const auto& c : cases) {
    SurveyOptions o;
    const auto why = set(o, *find(c.key), c.text);
    ASSERT_TRUE(why.has_value()) << c.key << "=" << c.text;
    EXPECT_NE(why->find(c.expected), std::string::npos) << *why;
    EXPECT_TRUE(o.given.empty()) << "a refused value is not recorded";
    // The command line refuses it with the same words, naming the option.
    CLI::App app;
    SurveyOptions line;
    add_to(app, line, find(c.key)->program);
    try {
      app.parse(std::vector<std::string>{c.text, std::string(find(c.key)->flag)});
      ADD_FAILURE() << "accepted on the command line: " << c.key << " " << c.text;
    } catch (const CLI::ParseError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(check(from_cells({{"weighting", "2"}}))->option, "--weights");
  EXPECT_FALSE(check(from_cells({{"weighting", "2"}, {"weights", "1;1;2"}})).has_value());
  SurveyOptions both_zero = from_cells({{"sensor_precision", "0,0"}});
  ASSERT_TRUE(check(both_zero).has_value());
  EXPECT_EQ(check(both_zero)->option, "--sensor-precision");
}

}  // namespace
}  // namespace basinfit::options
