// A survey run on several workers must write the same reports, log, charts, messages and exit
// status as the one-worker run, apart from the clock of the drop progress lines.  The surveys
// exercise every way one station can depend on another: seeds from the basin, a station whose
// seeds cannot be computed, a chain of first drops (seeds carried over), one-drop stations that
// show the statistics of an earlier station, and runs that stop at a bad record.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "engine_support.h"

namespace basinfit::e2e {
namespace {

const std::string kExamples = std::string(BASINFIT_SOURCE_DIR) + "/examples/";

std::string example(const std::string& name, const std::string& file) {
  return read_file(kExamples + name + "/" + file);
}

// The example's general data with its fourth record (adjustment, temperature option, seed
// option, stiff layer) replaced.
std::string with_options_record(std::string general, const std::string& record) {
  std::size_t at = 0;
  for (int i = 0; i < 3; ++i) at = general.find('\n', at) + 1;
  const std::size_t end = general.find('\n', at);
  return general.replace(at, end - at, record);
}

// The metric survey repeated `copies` times with station identifiers made unique.
std::string repeated_metric(int copies) {
  const std::string original = example("metric", "deflections.dat");
  const std::size_t body = original.find('\n') + 1;
  std::string text = original.substr(0, body);
  for (int c = 0; c < copies; ++c) {
    std::string block = original.substr(body);
    block = std::regex_replace(block, std::regex("(^|\n)([0-9]+) 4 "),
                               "$1$2" + std::string(1, char('A' + c)) + " 4 ");
    text += block;
    if (text.back() != '\n') text += '\n';
  }
  return text;
}

// Replaces the first match of `pattern`.
std::string edit_line(const std::string& text, const std::string& pattern, const std::string& replacement) {
  return std::regex_replace(text, std::regex(pattern), replacement, std::regex_constants::format_first_only);
}

struct Survey {
  std::string name;
  std::string standard, general, deflections;
  bool plots = false;
};

std::vector<Survey> surveys() {
  const std::string standard = example("metric", "standard.dat");
  const std::string general = example("metric", "general.dat");
  const std::string deflections = repeated_metric(2);
  std::vector<Survey> list;
  list.push_back(
      {"metric example with charts", standard, general, example("metric", "deflections.dat"), true});
  list.push_back({"english example (seeds carried, weights from ratios, user points)",
                  example("english", "standard.dat"), example("english", "general.dat"),
                  example("english", "deflections.dat")});
  list.push_back({"seeds carried over: a chain of first drops", standard,
                  with_options_record(general, "1 1 1 0"), deflections});
  // Without a deflection under the load the seed equations have no basin: such a station starts
  // from the previous station's first-drop moduli.
  list.push_back(
      {"seeds that cannot be computed", standard, general,
       std::regex_replace(deflections, std::regex("(\n1[0-9]50[AB] 4 [^\n]*\n[0-9]+) [0-9]+ "), "$1 0 ")});
  // One-drop stations show the statistics of the last station that had several drops.
  list.push_back(
      {"one-drop stations", standard, general,
       std::regex_replace(deflections,
                          std::regex("\n(1[0-9]00[AB]) 4( [^\n]*\n[^\n]*\n)[^\n]*\n[^\n]*\n[^\n]*\n"),
                          "\n$1 1$2")});
  list.push_back(
      {"a malformed drop in a later station", standard, general,
       edit_line(deflections, "(\n1300A 4 [^\n]*\n[^\n]*\n[^\n]*\n[0-9]+ [0-9]+) [0-9]+", "$1 4x8")});
  list.push_back({"a station header without a separator", standard, general,
                  edit_line(deflections, "\n1050B 4[^\n]*\n", "\n" + std::string(90, 'X') + "\n")});
  // With weights from the deflection ratios, a drop with nothing under the load is an error in
  // the middle of a station, raised on a worker.
  list.push_back({"an error inside a station", standard,
                  std::regex_replace(general, std::regex("15.0 9 0"), "15.0 9 1"),
                  edit_line(deflections, "(\n1050A 4 [^\n]*\n[^\n]*\n[0-9]+) [0-9]+ ", "$1 0 ")});
  return list;
}

struct Outcome {
  EngineRun run;
  std::string detail, summary, log;
  std::vector<std::string> charts;
};

// The clock of "Starting/Finished Drop No" lines shows when each drop really ran.
std::string without_clocks(const std::string& log) {
  return std::regex_replace(log, std::regex("(Drop No[^\n]* at) +[0-9]+: *[0-9]+: *[0-9]+"), "$1 <clock>");
}

Outcome run_survey(const Survey& survey, int jobs) {
  TempFolder folder("parallel-" + std::to_string(jobs));
  write_file(folder / "standard.dat", survey.standard);
  write_file(folder / "general.dat", survey.general);
  write_file(folder / "deflections.dat", survey.deflections);
  const auto control = write_control(folder);
  std::vector<std::string> args = {"--jobs", std::to_string(jobs)};
  if (survey.plots) args.insert(args.end(), {"--plot-dir", (folder / "plots").string()});
  args.push_back(control.string());
  Outcome o;
  o.run = run_program(basinfit_path(), args);
  // Messages name the files of this run's own folder.
  for (std::string* text : {&o.run.out, &o.run.err}) {
    for (std::size_t at; (at = text->find(folder.path().string())) != std::string::npos;)
      text->replace(at, folder.path().string().size(), "<folder>");
  }
  o.detail = read_file(folder / "detail.txt");
  o.summary = read_file(folder / "summary.txt");
  o.log = without_clocks(read_file(folder / "run.log"));
  if (survey.plots)
    for (const auto& entry : std::filesystem::directory_iterator(folder / "plots"))
      o.charts.push_back(entry.path().filename().string() + "\n" + read_file(entry.path()));
  std::sort(o.charts.begin(), o.charts.end());
  return o;
}

TEST(ParallelStations, EveryWorkerCountWritesWhatOneWorkerWrites) {
  for (const Survey& survey : surveys()) {
    SCOPED_TRACE(survey.name);
    const Outcome serial = run_survey(survey, 1);
    ASSERT_FALSE(serial.detail.empty());
    for (int jobs : {3, 8}) {
      SCOPED_TRACE("--jobs " + std::to_string(jobs));
      const Outcome parallel = run_survey(survey, jobs);
      EXPECT_EQ(parallel.run.exit_status, serial.run.exit_status);
      EXPECT_EQ(parallel.run.err, serial.run.err);
      EXPECT_EQ(parallel.run.out, serial.run.out);
      EXPECT_EQ(parallel.detail, serial.detail);
      EXPECT_EQ(parallel.summary, serial.summary);
      EXPECT_EQ(parallel.log, serial.log);
      EXPECT_EQ(parallel.charts, serial.charts);
    }
  }
}

// The surveys above must really exercise what they are named for, or the identity proves little.
TEST(ParallelStations, TheSurveysReachTheirCases) {
  const std::vector<Survey> list = surveys();
  auto outcome = [&](const std::string& name) {
    for (const Survey& s : list)
      if (s.name == name) return run_survey(s, 1);
    ADD_FAILURE() << name;
    return Outcome{};
  };
  EXPECT_EQ(outcome("a malformed drop in a later station").run.exit_status, 1);
  const Outcome stop = outcome("a station header without a separator");
  EXPECT_EQ(stop.run.exit_status, 0);
  EXPECT_NE(stop.run.err.find("warning"), std::string::npos);
  const Outcome inside = outcome("an error inside a station");
  EXPECT_EQ(inside.run.exit_status, 1);
  EXPECT_NE(inside.run.err.find("deflection under the load is 0"), std::string::npos) << inside.run.err;
  // The error comes in the middle of a station: its first drop is in the log.
  EXPECT_NE(inside.log.find("Finished Drop No  1 of  4 drops at Station 1050A"), std::string::npos);
  const Outcome single = outcome("one-drop stations");
  EXPECT_NE(single.log.find("Finished Drop No  1 of  1 drops"), std::string::npos);
  const Outcome unusable = outcome("seeds that cannot be computed");
  EXPECT_EQ(unusable.run.exit_status, 0);
}

TEST(ParallelStations, RefusesAWorkerCountThatIsNotPositive) {
  for (const char* value : {"0", "-2", "many", ""}) {
    SCOPED_TRACE(value);
    const EngineRun run = run_program(basinfit_path(), {"--jobs", value, "control.txt"});
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_FALSE(run.err.empty());
  }
}

// On a terminal a batch run shows one progress line on standard error, with the totals counted
// from the deflection data file; it never reaches the log, and --quiet or a redirected
// standard error shows nothing.  `script` gives the run a terminal.
TEST(ProgressLine, ShownOnlyOnATerminalAndNeverInTheLog) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script is not installed";
  TempFolder folder("progress");
  write_file(folder / "standard.dat", example("metric", "standard.dat"));
  write_file(folder / "general.dat", example("metric", "general.dat"));
  write_file(folder / "deflections.dat", example("metric", "deflections.dat"));
  for (const bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "--quiet" : "default");
    const auto control = write_control(folder);
    const std::string command = basinfit_path() + (quiet ? " --quiet " : " ") + control.string();
    const EngineRun run = run_program("script", {"-qec", command, "/dev/null"});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out.find("stations 0/12  drops 0/48") != std::string::npos, !quiet) << run.out;
    EXPECT_EQ(read_file(folder / "run.log").find("drops/s"), std::string::npos);
  }
}

}  // namespace
}  // namespace basinfit::e2e
