// The engine with --results: the specified reports and log stay byte-identical under every
// results option, the results do not depend on the worker count, the run record repeats, the
// results never replace the run's own files, and an interrupted run leaves whole stations.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "engine_support.h"

namespace basinfit::e2e {
namespace {

const std::string kExamples = std::string(BASINFIT_SOURCE_DIR) + "/examples/";

// The clock of "Starting/Finished Drop No" lines shows when each drop really ran.
std::string without_clocks(const std::string& log) {
  return std::regex_replace(log, std::regex("(Drop No[^\n]* at) +[0-9]+: *[0-9]+: *[0-9]+"), "$1 <clock>");
}

struct Outcome {
  EngineRun run;
  std::string detail, summary, log;
  std::string drops, sensors, stations;
  nlohmann::json record;
};

// Runs the engine in `folder` on the example `name` (its files copied there unless `deflections`
// or `general` replace them) with `options` before the control file.
Outcome run_engine_in(const TempFolder& folder, const std::string& name,
                      const std::vector<std::string>& options, const std::string& deflections = "",
                      const std::string& general = "") {
  for (const char* file : {"standard.dat", "general.dat", "deflections.dat"})
    write_file(folder / file, read_file(kExamples + name + "/" + file));
  if (!deflections.empty()) write_file(folder / "deflections.dat", deflections);
  if (!general.empty()) write_file(folder / "general.dat", general);
  std::vector<std::string> args = options;
  args.push_back(write_control(folder).string());
  Outcome o;
  o.run = run_program(basinfit_path(), args);
  o.detail = read_file(folder / "detail.txt");
  o.summary = read_file(folder / "summary.txt");
  o.log = without_clocks(read_file(folder / "run.log"));
  const std::filesystem::path results = folder / "results";
  // Only regular files: a table may be a device in a test (reading /dev/full never ends).
  auto table = [&](const char* name) {
    return std::filesystem::is_regular_file(results / name) ? read_file(results / name) : std::string();
  };
  o.drops = table("drops.csv");
  o.sensors = table("sensors.csv");
  o.stations = table("stations.csv");
  const std::string record = table("run.json");
  if (!record.empty()) o.record = nlohmann::json::parse(record);
  return o;
}

// The record without what may differ between two runs of the same inputs: the invocation and
// the times, and so the digest of the log, whose progress lines carry the clock.
nlohmann::json repeatable_part(nlohmann::json record) {
  for (const char* key : {"invocation", "started", "finished", "wall_time_seconds"}) record.erase(key);
  for (nlohmann::json& file : record["outputs"])
    if (file["role"] == "log file") file.erase("sha256");
  return record;
}

TEST(ResultsOptions, LeaveTheReportsAndTheLogByteIdentical) {
  for (const char* example : {"metric", "english"}) {
    SCOPED_TRACE(example);
    TempFolder plain_folder("plain");
    const Outcome plain = run_engine_in(plain_folder, example, {"--jobs", "1"});
    ASSERT_EQ(plain.run.exit_status, 0) << plain.run.err;
    ASSERT_FALSE(plain.detail.empty());
    const std::vector<std::vector<std::string>> option_sets = {
        {"--jobs", "1", "--results", "RESULTS"},
        {"--jobs", "1", "--results", "RESULTS", "--multistart", "3"},
        {"--jobs", "1", "--results", "RESULTS", "--load-levels", "30000,45000", "--sensor-precision", "1,1"},
        {"--jobs", "3", "--results", "RESULTS", "--multistart", "2"},
    };
    for (std::vector<std::string> options : option_sets) {
      TempFolder folder("options");
      for (std::string& o : options)
        if (o == "RESULTS") o = (folder / "results").string();
      std::string joined;
      for (const std::string& o : options) joined += o + " ";
      SCOPED_TRACE(joined);
      const Outcome with = run_engine_in(folder, example, options);
      EXPECT_EQ(with.run.exit_status, 0);
      EXPECT_EQ(with.run.err, plain.run.err);
      EXPECT_EQ(with.run.out, plain.run.out);
      EXPECT_EQ(with.detail, plain.detail);
      EXPECT_EQ(with.summary, plain.summary);
      EXPECT_EQ(with.log, plain.log);
      EXPECT_FALSE(with.drops.empty());
    }
  }
}

TEST(ResultsOptions, SameResultsForAnyWorkerCountAndARepeatableRecord) {
  TempFolder folder("repeat");
  const std::string results = (folder / "results").string();
  const Outcome serial =
      run_engine_in(folder, "metric", {"--jobs", "1", "--results", results, "--multistart", "2"});
  const Outcome parallel =
      run_engine_in(folder, "metric", {"--jobs", "3", "--results", results, "--multistart", "2"});
  ASSERT_EQ(serial.run.exit_status, 0) << serial.run.err;
  EXPECT_EQ(parallel.drops, serial.drops);
  EXPECT_EQ(parallel.sensors, serial.sensors);
  EXPECT_EQ(parallel.stations, serial.stations);
  EXPECT_EQ(repeatable_part(parallel.record), repeatable_part(serial.record));
  EXPECT_EQ(serial.record["invocation"]["jobs"], 1);
  EXPECT_EQ(parallel.record["invocation"]["jobs"], 3);
  EXPECT_EQ(serial.record["counts"]["drops"], 48);
  EXPECT_EQ(serial.record["options"]["multistart"], 2);
}

TEST(ResultsOptions, EnglishRunsNameEnglishUnits) {
  TempFolder folder("english");
  const Outcome o = run_engine_in(folder, "english", {"--results", (folder / "results").string()});
  ASSERT_EQ(o.run.exit_status, 0) << o.run.err;
  const std::string header = o.drops.substr(0, o.drops.find('\n'));
  for (const char* column : {"load_lbf", "E1_ksi", "rms_deflection_mils", "E3_se_percent"})
    EXPECT_NE(header.find(column), std::string::npos) << column;
  EXPECT_EQ(header.find("MPa"), std::string::npos);
  EXPECT_EQ(
      o.sensors.substr(0, o.sensors.find('\n')),
      "station,station_no,drop,sensor,offset_in,measured_mils,calculated_mils,weight,weighted_residual\r");
  EXPECT_EQ(o.record["settings"]["units"], "English");
  // 6000, 9000 and 12000 lbf lie on the usual levels converted to pounds-force.
  EXPECT_EQ(o.record["counts"]["by_flag"]["load_off_level"], 0);
}

TEST(ResultsOptions, ListedInTheHelp) {
  const EngineRun help = run_program(basinfit_path(), {"--help"});
  EXPECT_EQ(help.exit_status, 0);
  for (const char* option :
       {"--results DIR", "--load-levels LIST", "--sensor-precision ABS,PERCENT", "--multistart K"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

TEST(ResultsOptions, RefusedWithoutResultsOrWithMalformedValues) {
  const std::vector<std::vector<std::string>> cases = {
      {"--multistart", "2"},
      {"--load-levels", "40000"},
      {"--sensor-precision", "2,2"},
      {"--results", "R", "--sensor-precision", "2"},
      {"--results", "R", "--sensor-precision", "2,-1"},
      {"--results", "R", "--load-levels", "40000,0"},
      {"--results", "R", "--load-levels", "40000,heavy"},
      {"--results", "R", "--sensor-precision", "0,0"},
      {"--results", "R", "--multistart", "-1"},
      {"--results", ""},
  };
  for (std::vector<std::string> args : cases) {
    TempFolder folder("usage");
    for (std::string& a : args)
      if (a == "R") a = (folder / "results").string();
    std::string joined;
    for (const std::string& a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    for (const char* file : {"standard.dat", "general.dat", "deflections.dat"})
      write_file(folder / file, read_file(kExamples + "metric/" + file));
    const auto control = write_control(folder);
    args.push_back(control.string());
    const EngineRun run = run_program(basinfit_path(), args);
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_FALSE(run.err.empty());
    // A usage error changes nothing: the control file stays, no report or results appear.
    EXPECT_TRUE(std::filesystem::exists(control));
    EXPECT_FALSE(std::filesystem::exists(folder / "detail.txt"));
    EXPECT_FALSE(std::filesystem::exists(folder / "results"));
  }
}

TEST(ResultsOptions, NeverReplaceTheRunsOwnFiles) {
  {
    // The detail report named as the drops table.
    TempFolder folder("kept");
    for (const char* file : {"standard.dat", "general.dat", "deflections.dat"})
      write_file(folder / file, read_file(kExamples + "metric/" + file));
    std::filesystem::create_directories(folder / "results");
    const std::string control =
        "9\n" + (folder / "standard.dat").string() + "\n" + (folder / "general.dat").string() + "\n" +
        (folder / "deflections.dat").string() + "\n" + (folder / "results" / "drops.csv").string() + "\n" +
        (folder / "summary.txt").string() + "\n" + (folder / "run.log").string() + "\n";
    write_file(folder / "control.txt", control);
    const EngineRun run = run_program(
        basinfit_path(), {"--results", (folder / "results").string(), (folder / "control.txt").string()});
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_NE(run.err.find("drops.csv"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("detail report"), std::string::npos) << run.err;
  }
  {
    // The summary report named as the run record: refused before any table is emptied.
    TempFolder folder("kept-record");
    for (const char* file : {"standard.dat", "general.dat", "deflections.dat"})
      write_file(folder / file, read_file(kExamples + "metric/" + file));
    std::filesystem::create_directories(folder / "results");
    write_file(folder / "results" / "drops.csv", "an earlier table\n");
    const std::string control =
        "9\n" + (folder / "standard.dat").string() + "\n" + (folder / "general.dat").string() + "\n" +
        (folder / "deflections.dat").string() + "\n" + (folder / "detail.txt").string() + "\n" +
        (folder / "results" / "run.json").string() + "\n" + (folder / "run.log").string() + "\n";
    write_file(folder / "control.txt", control);
    const EngineRun run = run_program(
        basinfit_path(), {"--results", (folder / "results").string(), (folder / "control.txt").string()});
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_NE(run.err.find("run.json"), std::string::npos) << run.err;
    EXPECT_EQ(read_file(folder / "results" / "drops.csv"), "an earlier table\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "results" / "sensors.csv"));
  }
  {
    // The results folder is an input file.
    TempFolder folder("input");
    const std::string general = read_file(kExamples + "metric/general.dat");
    const Outcome o = run_engine_in(folder, "metric", {"--results", (folder / "general.dat").string()});
    EXPECT_EQ(o.run.exit_status, 2);
    EXPECT_NE(o.run.err.find("results folder"), std::string::npos) << o.run.err;
    EXPECT_EQ(read_file(folder / "general.dat"), general);
  }
}

TEST(ResultsOptions, AFailedWriteIsReportedAndBytesThatAreNotUtf8AreRecorded) {
  {
    // The drops table on a full device: the write fails, the run says so and ends with status 2.
    TempFolder folder("full");
    std::filesystem::create_directories(folder / "results");
    std::filesystem::create_symlink("/dev/full", folder / "results" / "drops.csv");
    const Outcome o = run_engine_in(folder, "metric", {"--results", (folder / "results").string()});
    EXPECT_EQ(o.run.exit_status, 2);
    EXPECT_NE(o.run.err.find("drops.csv: cannot write the drops table"), std::string::npos) << o.run.err;
  }
  {
    // A title and a route in Latin-1: the record is still written, and valid JSON.
    TempFolder folder("latin1");
    std::string general = read_file(kExamples + "metric/general.dat");
    general.replace(0, general.find('\n'),
                    "Stra\xdf"
                    "e 12, \xe9t\xe9 survey");
    std::string deflections = read_file(kExamples + "metric/deflections.dat");
    deflections.replace(0, deflections.find('\n'), "Route \xe9");
    const Outcome o =
        run_engine_in(folder, "metric", {"--results", (folder / "results").string()}, deflections, general);
    ASSERT_EQ(o.run.exit_status, 0) << o.run.err;
    EXPECT_EQ(o.record["settings"]["route"].get<std::string>().rfind("Route \xef\xbf\xbd", 0), 0u);
    EXPECT_EQ(o.record["settings"]["title"].get<std::string>().rfind("Stra\xef\xbf\xbd"
                                                                     "e 12",
                                                                     0),
              0u);
  }
}

TEST(ResultsOptions, AnInterruptedRunKeepsWholeStationsAndOneDropStationsHaveNoStatistics) {
  // Station 1050 becomes a one-drop station; station 1150 has a malformed reading.
  std::string deflections = read_file(kExamples + "metric/deflections.dat");
  deflections =
      std::regex_replace(deflections, std::regex("\n1050 4( [^\n]*\n[^\n]*\n)[^\n]*\n[^\n]*\n[^\n]*\n"),
                         "\n1050 1$1", std::regex_constants::format_first_only);
  deflections = std::regex_replace(deflections, std::regex("(\n1150 4 [^\n]*\n[^\n]*\n[0-9]+ [0-9]+) [0-9]+"),
                                   "$1 4x8", std::regex_constants::format_first_only);
  TempFolder folder("interrupted");
  const Outcome o =
      run_engine_in(folder, "metric", {"--results", (folder / "results").string()}, deflections);
  ASSERT_EQ(o.run.exit_status, 1) << o.run.err;
  // Stations 1000, 1050 (one drop) and 1100 are whole; nothing of 1150.
  std::vector<std::string> rows;
  std::istringstream in(o.drops);
  for (std::string line; std::getline(in, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 1u + 4u + 1u + 4u);
  EXPECT_EQ(o.drops.find("1150"), std::string::npos);
  EXPECT_EQ(o.record["exit_status"], 1);
  EXPECT_EQ(o.record["counts"]["stations"], 3);
  // The one-drop station's normalised moduli are empty, not another station's.
  const std::string one_drop = rows[5];
  ASSERT_EQ(one_drop.rfind("1050,2,1,", 0), 0u) << one_drop;
  EXPECT_NE(one_drop.find(",,,,"), std::string::npos) << one_drop;
  std::istringstream stations(o.stations);
  std::string line;
  std::getline(stations, line);
  std::getline(stations, line);
  std::getline(stations, line);
  EXPECT_EQ(line.rfind("1050,2,", 0), 0u);
  const std::string tail = line.substr(line.find(",,,,"));
  EXPECT_NE(tail.find(",,,,,,,,"), std::string::npos) << line;
}

}  // namespace
}  // namespace basinfit::e2e
