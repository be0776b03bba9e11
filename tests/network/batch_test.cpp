// basinfit-batch run on a small network: each survey's outputs against a single run of
// basinfit-import and basinfit, the database against the results tables, failures, resume.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <charconv>
#include <nlohmann/json.hpp>
#include <regex>

#include "common/csv.h"
#include "network/batch.h"
#include "network/manifest.h"
#include "network_support.h"

namespace basinfit::network_test {
namespace {

using e2e::run_program;
using e2e::TempFolder;

// A survey run alone, as an engineer would: basinfit-import for device files, then the
// engine in the run folder with the batch's options.
fs::path single_run(const fs::path& root, const std::string& survey, const fs::path& place) {
  const std::string bin = std::string(BASINFIT_BINARY_DIR) + "/apps/";
  if (survey == "route12-pddx") {
    const auto imported = run_program(bin + "basinfit-import",
                                      {(root / "survey.pdx").string(), "--structure",
                                       (root / "structure.csv").string(), "--out", place.string(), "-q"});
    EXPECT_EQ(imported.exit_status, 0) << imported.err;
  } else {
    write_run_folder(place, survey);
  }
  std::vector<std::string> args = {"--keep-control", "control.txt", "--results", ".", "--html",
                                   "survey.html",    "-q",          "-j",        "1"};
  // The station table the importer writes, named as the importer's printed command names it.
  if (fs::exists(place / "station-table.csv"))
    args.insert(args.end(), {"--station-table", "station-table.csv"});
  if (survey == "route12-pddx") args.insert(args.end(), {"--multistart", "2"});
  const auto run = run_program(bin + "basinfit", args, "cd '" + place.string() + "' &&");
  EXPECT_EQ(run.exit_status, 0) << run.err;
  return place;
}

// The run record without what belongs to the moment and the way of starting: clock fields
// and the command line.
std::string record_without_clock(const fs::path& file) {
  nlohmann::json record = nlohmann::json::parse(read_file(file));
  for (const char* field : {"started", "finished", "wall_time_seconds", "invocation"}) record.erase(field);
  // The log carries the time of every drop and the page its run date, so their digests are
  // clock fields too.
  for (nlohmann::json& output : record["outputs"])
    if (output["role"] == "log file" || output["role"] == "survey page") output.erase("sha256");
  return record.dump(1);
}

// A file with its clock fields blanked: the log's drop times, the page's run date.
std::string without_clock(const std::string& name, const std::string& text) {
  if (name == "run.log" || name == "basinfit.log")
    return std::regex_replace(text, std::regex("at [ 0-9]{2}: [ 0-9]{2}: [ 0-9]{2}"), "at TIME");
  if (name == "survey.html")
    return std::regex_replace(text, std::regex("<dt>Run date</dt><dd>[^<]*</dd>"),
                              "<dt>Run date</dt><dd></dd>");
  return text;
}

bool same_value(const std::string& csv, sqlite3_stmt* s, int column) {
  switch (sqlite3_column_type(s, column)) {
    case SQLITE_NULL:
      return csv.empty();
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: {
      double x = 0;
      const auto r = std::from_chars(csv.data(), csv.data() + csv.size(), x);
      return r.ec == std::errc() && x == sqlite3_column_double(s, column);
    }
    default:
      return csv == reinterpret_cast<const char*>(sqlite3_column_text(s, column));
  }
}

class LocalBatch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempFolder("network-batch");
    manifest_ = write_network(folder_->path());
    first_ = run_program(batch_path(), {"run", manifest_.string(), "--out", out().string(), "--jobs", "2"});
  }
  static void TearDownTestSuite() { delete folder_; }
  static fs::path out() { return folder_->path() / "out"; }
  static TempFolder* folder_;
  static fs::path manifest_;
  static e2e::EngineRun first_;
};
TempFolder* LocalBatch::folder_ = nullptr;
fs::path LocalBatch::manifest_;
e2e::EngineRun LocalBatch::first_;

TEST_F(LocalBatch, FailedSurveysAreRecordedWithoutRowsAndEndTheBatchWithStatusOne) {
  EXPECT_EQ(first_.exit_status, 1) << first_.err;
  EXPECT_NE(first_.err.find("5 surveys: 5 run, 0 already done, 2 failed (badrecord; unreadable)"),
            std::string::npos)
      << first_.err;
  const fs::path db = out() / "results.sqlite";
  const std::vector<std::string> surveys =
      dump(db, "surveys",
           {"sources", "structure", "input_key", "started_at", "finished_at", "engine_version",
            "engine_revision", "structure_sha256", "options", "route"});
  ASSERT_EQ(surveys.size(), 5u);
  EXPECT_NE(
      surveys[0].find("survey=badrecord|status=failed|stage=engine|exit_status=1|message=basinfit: "
                      "deflections.dat, line 3: expected a number for the load, found '27x00'|stations=0"),
      std::string::npos)
      << surveys[0];
  EXPECT_NE(surveys[4].find("survey=unreadable|status=failed|stage=import|exit_status=1|message="),
            std::string::npos)
      << surveys[4];
  for (const char* table : {"stations", "drops", "sensors"})
    for (const std::string& row : dump(db, table))
      EXPECT_TRUE(row.find("survey=badrecord|") == std::string::npos &&
                  row.find("survey=unreadable|") == std::string::npos)
          << table << ": " << row;
}

// The batch's progress totals count what the engine fits: a run folder's drops, not the lines of
// its deflection file (12 station headers made the 48-drop example 60).
TEST_F(LocalBatch, SurveySizesAreTheDropsTheEngineFits) {
  using network::Manifest;
  const Manifest manifest = network::read_manifest(manifest_);
  const std::vector<long> sizes = network::survey_sizes(manifest);
  for (std::size_t i = 0; i < manifest.surveys.size(); ++i) {
    const std::string& name = manifest.surveys[i].name;
    if (name == "badrecord" || name == "unreadable") continue;
    const std::vector<std::string> rows = dump(out() / "results.sqlite", "drops");
    const long fitted = std::count_if(rows.begin(), rows.end(), [&](const std::string& row) {
      return row.rfind("survey=" + name + "|", 0) == 0;
    });
    EXPECT_EQ(sizes[i], fitted) << name;
  }
}

TEST_F(LocalBatch, EachSurveysOutputsAreThoseOfItsSingleRun) {
  for (const std::string survey : {"metric", "english", "route12-pddx"}) {
    SCOPED_TRACE(survey);
    const fs::path alone = single_run(folder_->path(), survey, folder_->path() / ("alone-" + survey));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(alone)) names.push_back(entry.path().filename().string());
    std::vector<std::string> batch_names;
    for (const auto& entry : fs::directory_iterator(out() / "surveys" / survey))
      batch_names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::sort(batch_names.begin(), batch_names.end());
    EXPECT_EQ(batch_names, names);
    for (const std::string& name : names) {
      const fs::path batch = out() / "surveys" / survey / name;
      if (name == "run.json")
        EXPECT_EQ(record_without_clock(batch), record_without_clock(alone / name));
      else
        EXPECT_TRUE(without_clock(name, read_file(batch)) == without_clock(name, read_file(alone / name)))
            << name << " differs";
    }
  }
}

TEST_F(LocalBatch, DatabaseRowsAreTheResultsTablesRowsColumnByColumn) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((out() / "results.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  for (const std::string survey : {"metric", "english", "route12-pddx"})
    for (const std::string table : {"stations", "drops", "sensors"}) {
      SCOPED_TRACE(survey + " " + table);
      const CsvSheet csv =
          read_csv_sheet(read_file(out() / "surveys" / survey / (table + ".csv")), table + ".csv");
      std::string sql = "SELECT extra";
      for (const std::string& column : csv.header) sql += ", \"" + column + "\"";
      sqlite3_stmt* s = nullptr;
      // Every CSV column is a column of the database (no unknown column falls into `extra`).
      ASSERT_EQ(
          sqlite3_prepare_v2(db, (sql + " FROM " + table + " WHERE survey = ? ORDER BY \"row\"").c_str(), -1,
                             &s, nullptr),
          SQLITE_OK)
          << sqlite3_errmsg(db);
      sqlite3_bind_text(s, 1, survey.c_str(), -1, SQLITE_TRANSIENT);
      std::size_t row = 0;
      while (sqlite3_step(s) == SQLITE_ROW) {
        ASSERT_LT(row, csv.rows.size());
        EXPECT_EQ(sqlite3_column_type(s, 0), SQLITE_NULL);
        for (std::size_t c = 0; c < csv.header.size(); ++c)
          EXPECT_TRUE(same_value(csv.rows[row][c], s, static_cast<int>(c) + 1))
              << "row " << row + 1 << " column " << csv.header[c] << ": " << csv.rows[row][c];
        ++row;
      }
      EXPECT_EQ(row, csv.rows.size());
      sqlite3_finalize(s);
    }
  sqlite3_close(db);
}

TEST_F(LocalBatch, RunningAgainSkipsTheRecordedRerunsTheFailedAndDuplicatesNothing) {
  const auto before = dump_all(out() / "results.sqlite");
  const auto again =
      run_program(batch_path(), {"run", manifest_.string(), "--out", out().string(), "--jobs", "2"});
  EXPECT_EQ(again.exit_status, 1);
  EXPECT_NE(again.err.find("5 surveys: 2 run, 3 already done, 2 failed"), std::string::npos) << again.err;
  EXPECT_EQ(dump_all(out() / "results.sqlite"), before);
  // A changed input reruns that survey alone.
  std::string general = read_file(folder_->path() / "english" / "general.dat");
  write_file(folder_->path() / "english" / "general.dat", general + "\n");
  const auto changed = run_program(batch_path(), {"run", manifest_.string(), "--out", out().string()});
  EXPECT_NE(changed.err.find("5 surveys: 3 run, 2 already done, 2 failed"), std::string::npos) << changed.err;
  write_file(folder_->path() / "english" / "general.dat", general);
}

// Where the system refuses each survey's thread a working folder of its own, the surveys take
// turns with the process's, and the database is the same; the batch's own folder gets nothing.
TEST_F(LocalBatch, ASystemWithoutPrivateWorkingFoldersGivesTheSameDatabase) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's runtime must come first among preloaded libraries";
#endif
  const fs::path place = folder_->path() / "refused";
  fs::create_directories(place / "here");
  const auto refused =
      run_program(batch_path(), {"run", manifest_.string(), "--out", (place / "out").string()},
                  "cd '" + (place / "here").string() + "' && LD_PRELOAD='" + REFUSE_UNSHARE_LIBRARY + "'");
  EXPECT_EQ(refused.exit_status, 1) << refused.err;
  EXPECT_EQ(dump_all(place / "out" / "results.sqlite"), dump_all(out() / "results.sqlite"));
  EXPECT_TRUE(fs::is_empty(place / "here"));
}

TEST_F(LocalBatch, NetworkPageMediansAreThoseOfEachSurveyPage) {
  const fs::path page = folder_->path() / "network.html";
  const auto report = run_program(batch_path(), {"report", out().string(), "--html", page.string()});
  ASSERT_EQ(report.exit_status, 0) << report.err;
  const std::string html = read_file(page);
  for (const std::string survey : {"metric", "english", "route12-pddx"}) {
    SCOPED_TRACE(survey);
    const auto start = html.find("<tr id=\"survey-" + survey + "\"");
    ASSERT_NE(start, std::string::npos);
    const std::string row = html.substr(start, html.find("</tr>", start) - start);
    EXPECT_NE(row.find("<a href=\"out/surveys/" + survey + "/survey.html\">"), std::string::npos) << row;
    // The survey page's own layer statistics (every example station has several drops).
    const std::string own = read_file(out() / "surveys" / survey / "survey.html");
    const std::string unit = survey == "english" ? " ksi" : " MPa";
    for (int layer = 1; layer <= 3; ++layer) {
      std::smatch m;
      const std::regex median("<td>Layer " + std::to_string(layer) +
                              "</td><td>[0-9]+</td><td>[^<]*</td><td>([^<]*)</td>");
      ASSERT_TRUE(std::regex_search(own, m, median)) << "layer " << layer;
      EXPECT_NE(row.find("<td>" + m[1].str() + unit + "</td>"), std::string::npos)
          << "layer " << layer << ": " << m[1] << " in " << row;
    }
  }
  // The same survey from two sources: one route, profiles over each other, every station
  // matched by chainage with no difference.
  const auto compared = run_program(batch_path(), {"report", out().string(), "--html", page.string(),
                                                   "--compare", "metric,route12-pddx", "--tolerance", "5"});
  ASSERT_EQ(compared.exit_status, 0) << compared.err;
  const std::string both = read_file(page);
  const auto chart = both.find("<section id=\"profiles\">");
  ASSERT_NE(chart, std::string::npos);
  EXPECT_NE(both.find("<title>metric</title></polyline>", chart), std::string::npos);
  EXPECT_NE(both.find("<title>route12-pddx</title></polyline>", chart), std::string::npos);
  const std::regex matched(
      "<tr><td>[0-9.]+</td><td class=\"text\">([0-9]+)</td><td "
      "class=\"text\">\\1</td><td>([^<]+)</td><td>\\2</td><td>0</td><td>0.0</td></tr>");
  EXPECT_EQ(std::distance(std::sregex_iterator(both.begin(), both.end(), matched), std::sregex_iterator()),
            12);
  EXPECT_NE(both.find("0 stations of metric without a station of route12-pddx within 5"), std::string::npos);
  for (const std::string survey : {"badrecord", "unreadable"})
    EXPECT_NE(html.find("<tr id=\"survey-" + survey + "\" class=\"failed\">"), std::string::npos) << survey;
}

TEST(NetworkManifest, AMalformedManifestIsRefusedBeforeAnythingRunsNamingRowAndColumn) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"name,source,structure,colour\nmetric,metric,,\n", "line 1: column 4 'colour' is not one of"},
      {"name,source\nmetric,metric\nmetric,metric\n",
       "line 3: column 'name': the survey name 'metric' is used twice"},
      {"name,source,structure\n../up,metric,\n", "line 2: column 'name': expected a survey name"},
      // A name that a command line would take for an option.
      {"name,source\n-x,metric\n", "line 2: column 'name': expected a survey name"},
      {"name,source\n--out=elsewhere,metric\n", "line 2: column 'name': expected a survey name"},
      {"name,source,structure\nx,survey.pdx,\n",
       "line 2: column 'structure': expected the pavement structure file"},
      {"name,source,skip_seating\nmetric,metric,two\n",
       "line 2: column 'skip_seating': expected a whole number from 0 to 1000, found 'two'"},
      {"name,source,load_levels\nmetric,metric,40;-1\n",
       "line 2: column 'load_levels': expected a positive number with an optional unit N, kN, lbf or kip, "
       "found '-1'"},
      // A level with its unit is checked against what a deflectometer drops as basinfit checks it.
      {"name,source,load_levels\nmetric,metric,40kN;500kN\n",
       "line 2: column 'load_levels': 500kN is 500 kN, which no deflectometer drops (1 kN to 350 kN)"},
      {"name,source\nmetric,\"metric\n", "line 2: a quoted field is not closed"},
      {"name,source\nmetric,metric,extra\n", "line 2: expected 2 fields as in the header, found 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TempFolder folder("network-manifest");
    write_run_folder(folder.path() / "metric", "metric");
    write_file(folder / "m.csv", c.text);
    const auto run =
        run_program(batch_path(), {"run", (folder / "m.csv").string(), "--out", (folder / "out").string()});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_NE(run.err.find((folder / "m.csv").string() + ", " + c.message), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(folder / "out"));
  }
}

}  // namespace
}  // namespace basinfit::network_test
