// The run entry as a library, as the batch and the workbench call it: the exit-status contract,
// two runs side by side in folders of their own (identical to the same runs one after another),
// a cancel between stations, and the stations heard through on_station against stations.csv.

#include "runner/survey_run.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "common/csv.h"
#include "engine_support.h"

namespace basinfit::runner {
namespace {

namespace fs = std::filesystem;
using e2e::read_file;
using e2e::TempFolder;
using e2e::write_file;

// A run folder of the metric example in `folder`, with results and the page asked for.
SurveyRun example_run(const fs::path& folder, const std::string& example = "metric") {
  fs::create_directories(folder);
  for (const char* f : {"standard.dat", "general.dat", "deflections.dat"})
    fs::copy_file(fs::path(BASINFIT_SOURCE_DIR) / "examples" / example / f, folder / f,
                  fs::copy_options::overwrite_existing);
  write_file(folder / "control.txt",
             "9\nstandard.dat\ngeneral.dat\ndeflections.dat\ndetail.txt\nsummary.txt\nrun.log\n");
  SurveyRun run;
  run.folder = folder;
  run.control_file = "control.txt";
  run.keep_control = true;
  run.results.directory = "results";
  run.page.html_file = "survey.html";
  run.window = false;
  run.jobs = 2;
  return run;
}

struct Said {
  std::ostringstream terminal, errors;
};

int run_quietly(SurveyRun run, Said& said) {
  run.terminal = &said.terminal;
  run.errors = &said.errors;
  return run_survey(run);
}

TEST(SurveyRun, ExitStatusSaysWhatWentWrong) {
  TempFolder folder("runner-status");
  const struct {
    const char* name;
    std::function<void(const fs::path&, SurveyRun&)> spoil;
    int status;
    const char* said;
  } cases[] = {
      {"a sound survey", [](const fs::path&, SurveyRun&) {}, 0, ""},
      {"a malformed load",
       [](const fs::path& f, SurveyRun&) {
         std::string d = read_file(f / "deflections.dat");
         d.replace(d.find("27000"), 5, "27x00");
         write_file(f / "deflections.dat", d);
       },
       1, "expected a number for the load"},
      {"a missing input file", [](const fs::path& f, SurveyRun&) { fs::remove(f / "general.dat"); }, 2,
       "general.dat"},
      {"results where a file stands",
       [](const fs::path& f, SurveyRun& run) {
         write_file(f / "taken", "x");
         run.results.directory = "taken";
       },
       2, "taken"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path place = folder.path() / std::to_string(c.status) / c.name;
    SurveyRun run = example_run(place);
    c.spoil(place, run);
    Said said;
    EXPECT_EQ(run_quietly(run, said), c.status) << said.errors.str();
    EXPECT_NE(said.errors.str().find(c.said), std::string::npos) << said.errors.str();
    if (c.status != 0) {
      EXPECT_FALSE(said.errors.str().empty()) << "a failure says why";
    }
  }
}

TEST(SurveyRun, RunsSideBySideEqualTheSameRunsOneAfterAnother) {
  TempFolder folder("runner-side-by-side");
  const std::vector<std::string> examples = {"metric", "english"};
  for (const std::string& e : examples) {
    Said said;
    ASSERT_EQ(run_quietly(example_run(folder.path() / "alone" / e, e), said), 0) << said.errors.str();
  }
  std::vector<std::thread> threads;
  std::vector<int> status(examples.size(), -1);
  std::vector<Said> said(examples.size());
  for (std::size_t i = 0; i < examples.size(); ++i)
    threads.emplace_back([&, i] {
      status[i] = run_quietly(example_run(folder.path() / "together" / examples[i], examples[i]), said[i]);
    });
  for (std::thread& t : threads) t.join();
  for (std::size_t i = 0; i < examples.size(); ++i) {
    SCOPED_TRACE(examples[i]);
    EXPECT_EQ(status[i], 0) << said[i].errors.str();
    for (const char* file : {"detail.txt", "summary.txt", "results/stations.csv", "results/drops.csv"})
      EXPECT_EQ(read_file(folder.path() / "together" / examples[i] / file),
                read_file(folder.path() / "alone" / examples[i] / file))
          << file;
  }
}

TEST(SurveyRun, ACancelEndsTheRunAfterTheStationInHandAndEveryStationIsHeardAsWritten) {
  TempFolder folder("runner-cancel");
  SurveyRun run = example_run(folder.path() / "cancel");
  StopRequest stop;
  run.stop = &stop;
  std::vector<std::vector<std::string>> heard;
  std::vector<std::string> columns;
  run.on_station = [&](const results::StationRow& row) {
    columns = row.columns;
    heard.push_back(row.values);
    if (heard.size() == 2) stop.cancel();
  };
  Said said;
  EXPECT_EQ(run_quietly(run, said), kCancelledStatus) << said.errors.str();
  EXPECT_NE(said.errors.str().find("cancelled: the run stopped after station"), std::string::npos)
      << said.errors.str();
  // The table holds exactly the stations heard, value for value.
  const CsvSheet table =
      read_csv_sheet(read_file(folder.path() / "cancel" / "results" / "stations.csv"), "stations");
  EXPECT_EQ(table.header, columns);
  ASSERT_EQ(table.rows.size(), 2u);
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    ASSERT_EQ(table.rows[r].size(), heard[r].size());
    for (std::size_t c = 0; c < heard[r].size(); ++c)
      EXPECT_EQ(unguarded(table.rows[r][c]), heard[r][c]) << table.header[c];
  }
  // The detail report ends with the same two stations.
  const std::string detail = read_file(folder.path() / "cancel" / "detail.txt");
  EXPECT_NE(detail.find(heard[1][0]), std::string::npos);
}

}  // namespace
}  // namespace basinfit::runner
