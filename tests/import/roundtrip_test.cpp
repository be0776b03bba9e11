// Round trips: the bundled example surveys written out as PDDX, LTPP tables and generic CSV,
// imported with a structure equivalent to their general data, and run by the engine: both
// reports must equal those of the engine run directly on the example.  Where the source is
// in the run's units nothing is converted; the LTPP tables hold SI units, so the English
// survey passes through exact conversions there and back.
#include <gtest/gtest.h>

#include <cmath>

#include "engine_support.h"
#include "example_survey.h"
#include "import_support.h"

namespace basinfit::import_test {
namespace {

using e2e::EngineRun;
using e2e::read_file;
using e2e::run_program;
using e2e::TempFolder;
using e2e::write_file;

const std::filesystem::path kSource = BASINFIT_SOURCE_DIR;

// The engine run directly on an example folder: its detail and summary reports.
std::pair<std::string, std::string> direct_reports(const std::string& example) {
  TempFolder f("direct-" + example);
  for (const char* name : {"standard.dat", "general.dat", "deflections.dat"})
    std::filesystem::copy_file(kSource / "examples" / example / name, f / name);
  const EngineRun run = run_program(e2e::basinfit_path(), {e2e::write_control(f).string()});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  return {read_file(f / "detail.txt"), read_file(f / "summary.txt")};
}

// Imports `inputs` into f/run and runs the engine there with --keep-control, twice.
std::pair<std::string, std::string> imported_reports(const TempFolder& f,
                                                     const std::vector<std::string>& inputs,
                                                     const std::vector<std::string>& options) {
  std::vector<std::string> args = inputs;
  args.insert(args.end(), {"--structure", (f / "structure.csv").string(), "--out", (f / "run").string()});
  args.insert(args.end(), options.begin(), options.end());
  const EngineRun imported = run_program(import_path(), args);
  EXPECT_EQ(imported.exit_status, 0) << imported.err;
  EXPECT_NE(imported.out.find("--keep-control --station-table " + (f / "run" / "station-table.csv").string() +
                              " control.txt"),
            std::string::npos)
      << imported.out;
  const std::string control = (f / "run" / "control.txt").string();
  std::pair<std::string, std::string> reports;
  for (int round = 0; round < 2; ++round) {
    const EngineRun run = run_program(e2e::basinfit_path(), {"--keep-control", "control.txt"},
                                      "cd '" + (f / "run").string() + "' &&");
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_TRUE(std::filesystem::exists(control)) << "the control file must stay with --keep-control";
    const std::pair<std::string, std::string> now{read_file(f / "run" / "detail.txt"),
                                                  read_file(f / "run" / "summary.txt")};
    if (round == 1) {
      EXPECT_EQ(now, reports) << "a second run of the same folder must give the same reports";
    }
    reports = now;
  }
  return reports;
}

void expect_same_reports(const std::pair<std::string, std::string>& want,
                         const std::pair<std::string, std::string>& got, const std::string& what) {
  ASSERT_FALSE(want.second.empty());
  EXPECT_EQ(want.first, got.first) << what << ": detail report differs";
  EXPECT_EQ(want.second, got.second) << what << ": summary report differs";
}

class RoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(RoundTrip, PddxLtppAndCsvGiveTheReportsOfTheDirectRun) {
  const std::string example = GetParam();
  const ExampleSurvey s = read_example(kSource / "examples" / example);
  ASSERT_FALSE(s.stations.empty());
  const auto want = direct_reports(example);
  const std::vector<std::string> options = run_options(s);

  {
    TempFolder f("pddx-" + example);
    write_file(f / "structure.csv", structure_csv(s));
    write_file(f / "survey.pdx", to_pddx(s));
    expect_same_reports(want, imported_reports(f, {(f / "survey.pdx").string()}, options), "PDDX");
  }
  {
    TempFolder f("ltpp-" + example);
    write_file(f / "structure.csv", structure_csv(s));
    std::filesystem::create_directories(f / "tables");
    for (const auto& [name, text] : to_ltpp(s)) write_file(f / "tables" / name, text);
    std::vector<std::string> o = options;
    o.insert(o.end(), {"--route", s.route, "--units", s.english ? "english" : "metric"});
    expect_same_reports(want, imported_reports(f, {(f / "tables").string()}, o), "LTPP");
  }
  {
    TempFolder f("csv-" + example);
    write_file(f / "structure.csv", structure_csv(s));
    write_file(f / "survey.csv", to_generic_csv(s));
    std::vector<std::string> o = options;
    o.insert(o.end(), {"--route", s.route, "--plate-radius", s.english ? "5.91" : "150", "--source-units",
                       s.english ? "english" : "metric"});
    expect_same_reports(want, imported_reports(f, {(f / "survey.csv").string()}, o), "CSV");
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, RoundTrip, ::testing::Values("metric", "english"));

}  // namespace
}  // namespace basinfit::import_test
