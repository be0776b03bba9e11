// The outputs beside the reports under attack: the results tables and record, the survey page
// and the chart files, with devices, pipes, collisions, file-size limits, interrupts, endless
// input, bytes that are not UTF-8, formula text and option values out of range.  Each case runs
// the executable under a time limit (a hang fails instead of blocking the suite) and checks the
// exit status, the message and what is left on disk; every refusal leaves the control file and
// the earlier reports as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>

#include "engine_support.h"

namespace basinfit::e2e {
namespace {

const std::string kExamples = std::string(BASINFIT_SOURCE_DIR) + "/examples/metric/";
const std::string kOldReport = "an earlier report\n";

// The example's stations repeated `times` times under new identifiers (first = 10001, ...).
std::string long_survey(int times) {
  const std::string text = read_file(kExamples + "deflections.dat");
  std::string out = text.substr(0, text.find('\n') + 1);
  int id = 10000;
  for (int t = 0; t < times; ++t) {
    std::size_t at = text.find('\n') + 1;
    while (at < text.size()) {
      std::size_t end = text.find('\n', at);
      const std::string header = text.substr(at, end - at);
      const int drops = std::stoi(header.substr(header.find(' ') + 1));
      out += std::to_string(++id) + header.substr(header.find(' ')) + "\n";
      for (int d = 0; d < drops; ++d) {
        at = end + 1;
        end = text.find('\n', at);
        out += text.substr(at, end - at) + "\n";
      }
      at = end + 1;
    }
  }
  return out;
}

// The time limit of one case: an engine that hangs is killed.  A sanitized engine runs several
// times slower, and a case runs the 40-station survey twice.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr const char* kCaseSeconds = "600";
#else
constexpr const char* kCaseSeconds = "60";
#endif

// Runs `command` in bash in the folder, $B the executable, under a time limit.
EngineRun run_in(const TempFolder& f, const std::string& command) {
  return run_program("timeout",
                     {"-s", "KILL", kCaseSeconds, "bash", "-c", "B=\"$1\"; cd \"$2\" || exit 99; " + command,
                      "bash", basinfit_path(), f.path().string()});
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

bool valid_utf8_without_controls(const std::string& text) {
  const std::string probe =
      "import sys; t = open(sys.argv[1], encoding='utf-8').read(); "
      "sys.exit(any(ord(c) == 127 or 128 <= ord(c) < 160 for c in t))";
  TempFolder f("utf8");
  write_file(f / "t", text);
  return run_program("python3", {"-c", probe, (f / "t").string()}).exit_status == 0;
}

struct Case {
  const char* name;
  std::string command;            // after the folder is prepared; "$B" is the engine
  int status;                     // the exit status (130: ended by SIGINT)
  std::string message;            // held by standard error ("" for nothing)
  bool refused_at_start = false;  // the control file and the earlier reports are left as they were
  std::function<void(const TempFolder&)> check = nullptr;
};

TEST(HostileCompanions, EveryOutputIsCheckedFirstNothingHangsAndEveryRecordTellsTheTruth) {
  const std::string control =
      "9\nstandard.dat\ngeneral.dat\ndeflections.dat\ndetail.txt\nsummary.txt\nrun.log\n";
  auto with_control = [](const std::string& deflections, const std::string& detail) {
    return "printf '9\\nstandard.dat\\ngeneral.dat\\n" + deflections + "\\n" + detail +
           "\\nsummary.txt\\nrun.log\\n' > control.txt; cp control.txt control.orig; ";
  };
  const std::string page_intact = "grep -q '<!DOCTYPE html>' page.html";
  // A rerun stopped once the detail report holds two stations (job control on, so the
  // background run receives the interrupt as from a terminal).
  const std::string rerun_stopped_by =
      "set -m; \"$B\" -q --keep-control --results R --html page.html control.txt && "
      "rm detail.txt; { \"$B\" -q --keep-control --jobs 1 --results R --html page.html control.txt & "
      "p=$!; n=0; until [ \"$(grep -c 'Station: ' detail.txt 2>/dev/null)\" -ge 2 ] || "
      "[ $n -ge 600 ]; do sleep 0.05; n=$((n+1)); done; kill -";
  const std::string and_wait = " $p; wait $p; }";
  auto stations_agree = [](const TempFolder& f) {
    const int reported = count(read_file(f / "detail.txt"), "Station: ");
    EXPECT_GE(reported, 2);
    EXPECT_LT(reported, 480);
    EXPECT_EQ(count(read_file(f / "R" / "stations.csv"), "\r\n") - 1, reported);
    return reported;
  };

  const std::vector<Case> cases = {
      // Devices and pipes are digested as read or recorded as what they are, never read by name.
      {"detail report on /dev/zero",
       with_control("deflections.dat", "/dev/zero") + "\"$B\" -q --results R control.txt", 0, "", false,
       [](const TempFolder& f) {
         EXPECT_TRUE(
             std::regex_search(read_file(f / "R" / "run.json"),
                               std::regex("\"kind\": \"character device\",\\s*\"name\": \"/dev/zero\"")));
       }},
      {"detail report on /dev/full",
       with_control("deflections.dat", "/dev/full") + "\"$B\" -q --results R --html page.html control.txt", 2,
       "/dev/full: cannot write the detail report", false,
       [](const TempFolder& f) {
         EXPECT_NE(read_file(f / "R" / "run.json").find("\"exit_status\": 2"), std::string::npos);
       }},
      {"deflection data from a pipe",
       with_control("pipe", "detail.txt") +
           "mkfifo pipe && { cat deflections.dat > pipe & } && \"$B\" -q --results R "
           "--html page.html control.txt",
       0, "", false,
       [](const TempFolder& f) {
         const std::string record = read_file(f / "R" / "run.json");
         EXPECT_TRUE(std::regex_search(
             record,
             std::regex(
                 "\"kind\": \"pipe\",\\s*\"name\": \"pipe\",\\s*\"role\": \"deflection data file\",\\s*"
                 "\"sha256\": \"[0-9a-f]{64}\"")))
             << record;
       }},
      {"page on a pipe that nobody reads", "mkfifo pipe && \"$B\" -q --html pipe control.txt", 2,
       "pipe: cannot create the survey page: a pipe that nobody reads", true},
      // The results folder and the page are checked with every other output, before anything is emptied.
      {"results folder is a file", "\"$B\" -q --results standard.dat control.txt", 2,
       "standard.dat: cannot create the results folder", true},
      {"page is an input", "\"$B\" -q --html general.dat control.txt", 2,
       "general.dat: the survey page would replace the general data file", true},
      {"page is a results table", "\"$B\" -q --results R --html R/drops.csv control.txt", 2,
       "the survey page and the drops table name the same file", true,
       [](const TempFolder& f) { EXPECT_FALSE(std::filesystem::exists(f / "R")); }},
      {"page is the control file", "\"$B\" -q --keep-control --html control.txt control.txt", 2,
       "control.txt: the survey page would replace the control file", true},
      {"page is a chart file", "\"$B\" -q --plot-dir . --html 1050-1.svg control.txt", 2,
       "1050-1.svg: the chart file would replace the survey page", false,
       [](const TempFolder& f) { EXPECT_EQ(read_file(f / "1050-1.svg").rfind("<!DOCTYPE html>", 0), 0u); }},
      // The record is the last file written, with the status the run ends with.
      // The reports and the log go to /dev/null, so the page is the largest file the run writes.
      {"page beyond the file-size limit",
       "printf '9\\nstandard.dat\\ngeneral.dat\\ndeflections.dat\\n/dev/null\\n/dev/null\\n/dev/null\\n' > "
       "control.txt; ulimit -f 24; \"$B\" -q --results R --html page.html control.txt",
       2, "page.html: cannot write the survey page: File too large", false,
       [](const TempFolder& f) {
         EXPECT_NE(read_file(f / "R" / "run.json").find("\"exit_status\": 2,"), std::string::npos);
       }},
      // An interrupted rerun: tables, record and page end with the reports' last station.
      {"rerun interrupted", rerun_stopped_by + "INT" + and_wait, 130, "interrupted (SIGINT)", false,
       [&](const TempFolder& f) {
         const int reported = stations_agree(f);
         const std::string record = read_file(f / "R" / "run.json");
         EXPECT_NE(record.find("\"exit_status\": 130"), std::string::npos);
         EXPECT_NE(record.find("\"stations\": " + std::to_string(reported) + "\n"), std::string::npos);
         EXPECT_NE(read_file(f / "page.html").find("<title>INCOMPLETE"), std::string::npos);
       }},
      {"rerun killed", rerun_stopped_by + "KILL" + and_wait, 137, "Killed", false,
       [&](const TempFolder& f) {
         EXPECT_EQ(read_file(f / "R" / "run.json"), "");  // no record of the earlier run
         EXPECT_EQ(read_file(f / "page.html"), "");
       }},
      // Option values: bounded, finite, told with their bounds.
      {"jobs without bound", "\"$B\" -q --jobs 10000000 control.txt", 2,
       "--jobs: expected a whole number from 1 to 1024, found 10000000", true},
      {"sensor precision NaN", "\"$B\" -q --results R --sensor-precision nan,1 control.txt", 2,
       "--sensor-precision: expected a finite number at least 0, found 'nan'", true},
      {"load level NaN", "\"$B\" -q --results R --load-levels nan control.txt", 2, "--load-levels", true},
      {"section length NaN", "\"$B\" -q --html page.html --min-section-length nan control.txt", 2,
       "--min-section-length", true},
      {"load levels in kN without their unit", "\"$B\" -q --results R --load-levels 40,50,60 control.txt", 2,
       "write 40kN", true},
      {"load levels with their unit", "\"$B\" -q --results R --load-levels 40kN,9000lbf control.txt", 0, "",
       false,
       [](const TempFolder& f) {
         EXPECT_TRUE(std::regex_search(read_file(f / "R" / "run.json"),
                                       std::regex("\"load_levels\": \\[\\s*40000\\.0,\\s*40033\\.99")));
       }},
      // Endless input is refused with the file and the limit.
      {"deflection data from /dev/zero", with_control("/dev/zero", "detail.txt") + "\"$B\" -q control.txt", 1,
       "/dev/zero: line 1 runs beyond 64 KiB without a line end", true},
      // Identifiers that are not UTF-8, hold DEL, or start like a formula.
      {"identifiers against the outputs",
       "sed -i 's/^1000 /10\\xe9\\x7f /; s/^1050 /=1+2 /; s/^1100 /-1100 /; s/^1150 /@SUM(A1) /' "
       "deflections.dat; "
       "\"$B\" -q --plot-dir charts --results R --html page.html control.txt",
       0, "", false,
       [](const TempFolder& f) {
         EXPECT_TRUE(std::filesystem::exists(f / "charts" / "10__-1.png"));
         EXPECT_TRUE(valid_utf8_without_controls(read_file(f / "page.html")));
         const std::string stations = read_file(f / "R" / "stations.csv");
         EXPECT_TRUE(valid_utf8_without_controls(stations));
         for (const char* guarded : {"\r\n\"'=1+2\",2,", "\r\n\"'-1100\",3,", "\r\n\"'@SUM(A1)\",4,"})
           EXPECT_NE(stations.find(guarded), std::string::npos) << guarded;
         EXPECT_NE(stations.find(",-"), std::string::npos);  // negative numbers stay plain numbers
       }},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder f("companions");
    for (const char* file : {"standard.dat", "general.dat"})
      write_file(f / file, read_file(kExamples + file));
    write_file(f / "deflections.dat", std::string(c.name).rfind("rerun", 0) == 0
                                          ? long_survey(40)
                                          : read_file(kExamples + "deflections.dat"));
    write_file(f / "detail.txt", kOldReport);
    write_file(f / "summary.txt", kOldReport);
    write_file(f / "control.txt", control);
    const EngineRun run = run_in(f, c.command);
    EXPECT_EQ(run.exit_status, c.status) << run.err;
    if (c.message.empty()) {
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    if (c.refused_at_start) {
      const bool own = std::filesystem::exists(f / "control.orig");
      EXPECT_EQ(read_file(f / "control.txt"), own ? read_file(f / "control.orig") : control);
      EXPECT_EQ(read_file(f / "detail.txt"), kOldReport);
      EXPECT_EQ(read_file(f / "summary.txt"), kOldReport);
    }
    if (c.check) c.check(f);
  }
}

}  // namespace
}  // namespace basinfit::e2e
