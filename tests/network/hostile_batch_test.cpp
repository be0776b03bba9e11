// basinfit-batch against a hostile user: shards merged out of turn, views written over the batch,
// names that would become script lines, inputs that never end, damaged plans, file-size limits,
// ambiguous resume keys.  Each row runs the executable in a folder of its own on a small
// network (a run folder and a PDDX survey) and checks the exit status, the message and what is
// left on disk; each names the fault it guards.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <functional>
#include <memory>

#include "network/output_lock.h"
#include "network_support.h"

namespace basinfit::network_test {
namespace {

using e2e::EngineRun;
using e2e::run_program;
using e2e::TempFolder;

// Runs SQL on a database from outside the batch; an open transaction stays open while the
// returned handle lives (another program writing).
std::shared_ptr<sqlite3> execute(const fs::path& database, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(database.c_str(), &db);
  std::shared_ptr<sqlite3> handle(db, sqlite3_close);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  return handle;
}

// The `surveys` row of one survey as text ("" when there is none).
std::string survey_row(const fs::path& database, const std::string& survey) {
  for (const std::string& row : dump(database, "surveys"))
    if (row.rfind("survey=" + survey + "|", 0) == 0) return row;
  return "";
}

// The batch of the network run before the row's command: both surveys recorded ok, their
// folders whole.
void expect_batch_intact(const TempFolder& f) {
  EXPECT_NE(survey_row(f / "out/results.sqlite", "metric").find("|status=ok|"), std::string::npos);
  EXPECT_NE(survey_row(f / "out/results.sqlite", "r12").find("|status=ok|"), std::string::npos);
  EXPECT_EQ(dump(f / "out/results.sqlite", "stations").size(), 24u);
  EXPECT_EQ(read_file(f / "out/surveys/metric/stations.csv").rfind("station", 0), 0u);
}

// Runs a bash command in the row's folder: $B is basinfit-batch, run_network runs the network
// into out/ (its summary line left out).
EngineRun shell(const TempFolder& f, const std::string& command) {
  return run_program("bash", {"-c",
                              "B=\"$1\"; cd \"$2\" || exit 99; "
                              "run_network() { \"$B\" run network.csv --out out 2>/dev/null; }; " +
                                  command,
                              "bash", batch_path(), f.path().string()});
}

struct Case {
  const char* defect;   // the fault the row guards
  std::string command;  // see shell()
  int status;
  std::string message;  // a part of standard error
  // Before the command; what it returns is held while the command runs (a lock, a transaction).
  std::function<std::shared_ptr<void>(const TempFolder&)> setup = nullptr;
  std::function<void(const TempFolder&, const EngineRun&)> check = nullptr;
};

// A survey named x in a run folder that lacks its deflection file (it fails, and counts one
// drop), and the metric example: with two shards x goes to shard 1; once its file is there it
// weighs as much as the other and goes to shard 0.
const std::string kMovingSurvey =
    "mkdir -p x && cp metric/control.txt metric/standard.dat metric/general.dat x/ && "
    "printf 'name,source\\nx,x\\nmetric,metric\\n' > moving.csv && "
    "shards() { for s in 0/2 1/2; do \"$B\" run moving.csv --out out --shard $s 2>/dev/null; done; true; } "
    "&& "
    "fix() { cp metric/deflections.dat x/; } && ";

std::vector<Case> cases() {
  const auto intact = [](const TempFolder& f, const EngineRun&) { expect_batch_intact(f); };
  const auto x_is = [](const char* status) {
    return [status](const TempFolder& f, const EngineRun&) {
      EXPECT_NE(survey_row(f / "out/results.sqlite", "x").find(std::string("|status=") + status + "|"),
                std::string::npos)
          << survey_row(f / "out/results.sqlite", "x");
    };
  };
  std::vector<Case> rows = {
      // Merge: the newest record of a survey wins.
      {"merge: the stale failed record of a survey's earlier shard won over its result in its new shard",
       kMovingSurvey + "shards && fix && shards && \"$B\" merge out", 0, "basinfit-batch: merged", nullptr,
       x_is("ok")},
      {"merge: a later merge undid a local run that fixed a survey",
       kMovingSurvey +
           "shards && \"$B\" merge out && fix && \"$B\" run moving.csv --out out && \"$B\" merge out",
       0, "merged 0 surveys", nullptr, x_is("ok")},
      {"merge: a shard's older success replaced the newer failure the survey's folder holds",
       "rm x/deflections.dat; \"$B\" run moving.csv --out out; \"$B\" merge out", 0, "merged 0 surveys",
       [](const TempFolder& f) -> std::shared_ptr<void> {
         shell(f, kMovingSurvey + "fix && shards");
         // The shard ran the survey a day long past.
         execute(
             f / "out/shards/0.sqlite",
             "UPDATE surveys SET started_at = '2000-01-01T00:00:00Z', finished_at = '2000-01-01T00:00:01Z' "
             "WHERE survey = 'x'");
         return nullptr;
       },
       x_is("failed")},

      // Views of the batch written over it.
      {"report: the page was renamed over the results database",
       "run_network; \"$B\" report out --html out/results.sqlite", 2,
       "the network page would replace the results database", nullptr, intact},
      {"export: the GeoPackage was renamed over the results database",
       "run_network; \"$B\" export out --geopackage out/results.sqlite", 2,
       "the GeoPackage would replace the results database", nullptr, intact},
      {"report: a link to the database let the page replace it",
       "run_network; ln -s out/results.sqlite db; \"$B\" report out --html db", 2,
       "would replace the results database", nullptr, intact},
      {"report: the page replaced a survey's results table",
       "run_network; \"$B\" report out --html out/./surveys/metric/stations.csv", 2,
       "would replace a file of the batch's folder", nullptr, intact},
      {"report: the page replaced a survey's structure file, an input",
       "run_network; cp structure.csv kept.csv; \"$B\" report out --html structure.csv", 2,
       "would replace the structure file of survey r12", nullptr,
       [](const TempFolder& f, const EngineRun&) {
         EXPECT_EQ(read_file(f / "structure.csv"), read_file(f / "kept.csv"));
       }},
      {"report: the page replaced the manifest", "run_network; \"$B\" report out --html network.csv", 2,
       "would replace the manifest", nullptr, nullptr},
      {"export: a pipe (not a regular file) was put aside by the GeoPackage",
       "run_network; mkfifo pipe; \"$B\" export out --geopackage pipe", 2, "a pipe, not a regular file",
       nullptr,
       [](const TempFolder& f, const EngineRun&) {
         struct stat st {};
         EXPECT_TRUE(::lstat((f / "pipe").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
       }},
      {"report: a folder without a batch got an empty results database and status 0",
       "mkdir empty; \"$B\" report empty --html page.html", 2, "no results database here", nullptr,
       [](const TempFolder& f, const EngineRun&) {
         EXPECT_FALSE(fs::exists(f / "empty/results.sqlite"));
         EXPECT_FALSE(fs::exists(f / "page.html"));
       }},
      {"report: a reader took the write lock and waited for another program's transaction",
       "\"$B\" report out --html page.html", 0, "",
       [](const TempFolder& f) -> std::shared_ptr<void> {
         run_program(batch_path(), {"run", (f / "network.csv").string(), "--out", (f / "out").string()});
         return execute(f / "out/results.sqlite", "BEGIN IMMEDIATE; DELETE FROM batch;");
       },
       [](const TempFolder& f, const EngineRun&) { EXPECT_TRUE(fs::exists(f / "page.html")); }},
      {"run: another program's SQLite file at DIR/results.sqlite was adopted",
       "\"$B\" run network.csv --out out", 2, "an SQLite file of another program",
       [](const TempFolder& f) -> std::shared_ptr<void> {
         fs::create_directories(f / "out");
         execute(f / "out/results.sqlite",
                 "CREATE TABLE notes (text TEXT); INSERT INTO notes VALUES ('mine');");
         return nullptr;
       },
       [](const TempFolder& f, const EngineRun&) {
         EXPECT_EQ(dump(f / "out/results.sqlite", "surveys"),
                   std::vector<std::string>{"error: no such table: surveys"});
         execute(f / "out/results.sqlite", "SELECT text FROM notes");
       }},

      // Signals of a file-size limit.
      {"report: killed by SIGXFSZ without a word",
       "run_network; echo old > page.html; (ulimit -f 8; \"$B\" report out --html page.html)", 2,
       "File too large", nullptr,
       [](const TempFolder& f, const EngineRun&) { EXPECT_EQ(read_file(f / "page.html"), "old\n"); }},
      {"export: killed by SIGXFSZ without a word, its temporary file left",
       "run_network; (ulimit -f 40; \"$B\" export out --geopackage map.gpkg)", 2,
       "cannot write the GeoPackage", nullptr,
       [](const TempFolder& f, const EngineRun&) { EXPECT_FALSE(fs::exists(f / "map.gpkg")); }},
      {"merge: killed by SIGXFSZ without a word",
       kMovingSurvey + "fix && shards && (ulimit -f 8; \"$B\" merge out)", 2, "File too large", nullptr,
       nullptr},

      // Inputs that never end: refused, the survey recorded failed.
      {"run: /dev/zero as a source was read, not refused as no regular file",
       "printf 'z,/dev/zero,structure.csv\\n' >> network.csv; timeout -k 10 120 \"$B\" run network.csv --out "
       "out",
       1, "1 failed (z)", nullptr,
       [](const TempFolder& f, const EngineRun&) {
         EXPECT_NE(survey_row(f / "out/results.sqlite", "z")
                       .find("|status=failed|stage=import|exit_status=2|"
                             "message=/dev/zero: a character device"),
                   std::string::npos);
       }},
      {"run: a pipe as a source hung the batch",
       "mkfifo p.pdx; printf 'p,p.pdx,structure.csv\\n' >> network.csv; timeout -k 10 120 \"$B\" run "
       "network.csv "
       "--out out",
       1, "1 failed (p)", nullptr, nullptr},
      {"run: a pipe as a structure hung the batch",
       "mkfifo s.csv; printf 's,survey.pdx,s.csv\\n' >> network.csv; timeout -k 10 120 \"$B\" run "
       "network.csv "
       "--out out",
       1, "1 failed (s)", nullptr, nullptr},
      {"run: a run folder naming /dev/zero as its general data file hung the batch",
       "mkdir -p z && cp metric/*.dat z/ && printf "
       "'9\\nstandard.dat\\n/dev/zero\\ndeflections.dat\\nd\\ns\\nl\\n' "
       "> z/control.txt && printf 'z,z,\\n' >> network.csv; timeout -k 10 120 \"$B\" run network.csv --out "
       "out",
       1, "1 failed (z)", nullptr,
       [](const TempFolder& f, const EngineRun&) {
         EXPECT_NE(survey_row(f / "out/results.sqlite", "z").find("|message=/dev/zero: a character device"),
                   std::string::npos);
       }},
      {"run: the first SIGTERM did not end a batch digesting its surveys' files",
       "truncate -s 250M big.pdx; for i in $(seq 1 400); do echo \"s$i,big.pdx,structure.csv\"; done >> "
       "network.csv; \"$B\" run network.csv --out out & pid=$!; "
       "until [ -e out/results.sqlite.lock ] || ! kill -0 $pid 2>/dev/null; do sleep 0.05; done; kill -TERM "
       "$pid; "
       "for i in $(seq 1 600); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done; "
       "if kill -0 $pid 2>/dev/null; then kill -KILL $pid; echo 'still running a minute after SIGTERM' >&2; "
       "fi; "
       "wait $pid",
       143, "0 run", nullptr,
       [](const TempFolder& f, const EngineRun&) {
         if (fs::exists(f / "out/results.sqlite")) {
           EXPECT_TRUE(dump(f / "out/results.sqlite", "surveys").empty());
         }
       }},

      // Damaged shard plans.
      {"merge: a shard count below one merged nothing with status 0",
       "mkdir -p out/shards; echo '{\"shards\": -1, \"surveys\": []}' > out/shards/plan.json; \"$B\" merge "
       "out",
       1, "not a shard plan: expected \"shards\", the number of shards, from 1", nullptr, nullptr},

      // The resume key.
      {"run: a route holding ';title=' was taken for the route and the title as given apart",
       "printf 'name,source,structure,route,title\\nr,survey.pdx,structure.csv,R;title=T,\\n' > a.csv; "
       "printf 'name,source,structure,route,title\\nr,survey.pdx,structure.csv,R,T\\n' > b.csv; "
       "\"$B\" run a.csv --out out 2>/dev/null && \"$B\" run b.csv --out out",
       0, "1 surveys: 1 run, 0 already done", nullptr, nullptr},
      {"run: a project moved to another folder ran every survey again",
       "mkdir p && mv metric survey.pdx structure.csv network.csv p/ && \"$B\" run p/network.csv --out p/out "
       "2>/dev/null && mv p q && \"$B\" run q/network.csv --out q/out",
       0, "2 surveys: 0 run, 2 already done", nullptr, nullptr},
      {"run: a structure given for a run folder was ignored without a word yet entered the resume key",
       "printf 'name,source,structure\\nm,metric,structure.csv\\n' > m.csv; \"$B\" run m.csv --out out "
       "2>/dev/null; echo '# changed' >> structure.csv; \"$B\" run m.csv --out out",
       0, "line 2: note: column 'structure': 'm' is a run folder", nullptr,
       [](const TempFolder& f, const EngineRun& run) {
         EXPECT_NE(run.err.find("1 surveys: 0 run, 1 already done"), std::string::npos);
         EXPECT_NE(survey_row(f / "out/results.sqlite", "m").find("|structure=|"), std::string::npos);
       }},

      // One program at a time; names that look like another's folders.
      {"run: two runs into one --out took each other's folders", "\"$B\" run network.csv --out out", 2,
       "another program is writing these results now",
       [](const TempFolder& f) -> std::shared_ptr<void> {
         run_program(batch_path(), {"run", (f / "network.csv").string(), "--out", (f / "out").string()});
         return std::make_shared<std::optional<network::OutputLock>>(
             network::OutputLock::try_take(f / "out/results.sqlite"));
       },
       intact},
      {"run: surveys x and x.partial.1 side by side aborted the batch",
       "printf 'name,source\\nx,metric\\nx.partial.1,metric\\n' > m.csv; "
       "for i in 1 2 3; do \"$B\" run m.csv --out out$i -j 2 || exit $?; done",
       0, "2 surveys: 2 run", nullptr, nullptr},

      // The Slurm scripts: no name becomes a line of its own.
      {"slurm: a line break in --partition ran a command in the job",
       "\"$B\" slurm network.csv --out out --tasks 2 --partition $'debug\\necho owned'", 2,
       "--partition: 'debug\\x0aecho owned': a control character", nullptr,
       [](const TempFolder& f, const EngineRun&) { EXPECT_FALSE(fs::exists(f / "out")); }},
      {"slurm: a line break in --time ran a command in the job",
       "\"$B\" slurm network.csv --out out --tasks 2 --time $'10\\necho owned'", 2,
       "--time: '10\\x0aecho owned'", nullptr, nullptr},
      {"slurm: a time limit sbatch does not take was pasted into the script",
       "\"$B\" slurm network.csv --out out --tasks 2 --time '10 --wrap=x'", 2, "expected a time limit",
       nullptr, nullptr},
      {"slurm: a line break in --out ran a command in the job",
       "\"$B\" slurm network.csv --out $'o\\necho owned' --tasks 2", 2, "a control character", nullptr,
       [](const TempFolder& f, const EngineRun&) { EXPECT_FALSE(fs::exists(f / "o\necho owned")); }},
      {"slurm: a backslash in --out made Slurm expand none of the output patterns",
       "\"$B\" slurm network.csv --out 'o\\ut' --tasks 2", 2, "Slurm drops a backslash", nullptr, nullptr},
      {"slurm: a blank, '%' or a quote in --out broke the #SBATCH output line",
       "\"$B\" slurm network.csv --out 'a b%c\"d#e' --tasks 2 --partition 'p q'", 0, "", nullptr,
       [](const TempFolder& f, const EngineRun&) {
         const std::string script = read_file(f / "a b%c\"d#e/slurm/array.sh");
         EXPECT_NE(script.find("\n#SBATCH --partition=\"p q\"\n"), std::string::npos) << script;
         EXPECT_NE(script.find("\n#SBATCH --output=\"" + f.path().string() +
                               "/a b%%c\\\"d#e/slurm/task-%A_%a.out\"\n"),
                   std::string::npos)
             << script;
       }},
      {"slurm: the scripts were written through a link planted at their name",
       "mkdir -p out/slurm && echo kept > victim && ln -s ../../victim out/slurm/array.sh && "
       "\"$B\" slurm network.csv --out out --tasks 2",
       0, "", nullptr,
       [](const TempFolder& f, const EngineRun&) {
         EXPECT_EQ(read_file(f / "victim"), "kept\n");
         struct stat st {};
         EXPECT_TRUE(::stat((f / "victim").c_str(), &st) == 0 && (st.st_mode & 0111) == 0);
         EXPECT_TRUE(::lstat((f / "out/slurm/array.sh").c_str(), &st) == 0 && S_ISREG(st.st_mode));
         EXPECT_NE(st.st_mode & 0100, 0u);
       }},
  };
  // Plans of the wrong shape made merge abort (SIGABRT).
  for (const char* plan : {"[]", "{\"shards\": \"2\", \"surveys\": [[], []]}", "{\"shards\": 2}",
                           "{\"shards\": 2, \"surveys\": [[\"a\"]]}", "{\"shards\": 1, \"surveys\": [\"a\"]}",
                           "{\"shards\": 1, \"surveys\": [[7]]}", "{\"shards\": 0, \"surveys\": []}"})
    rows.push_back(
        {"merge: a plan of the wrong shape aborted merge",
         std::string("mkdir -p out/shards; echo '") + plan + "' > out/shards/plan.json; \"$B\" merge out", 1,
         "plan.json: not a shard plan: expected", nullptr, nullptr});
  return rows;
}

TEST(HostileBatch, EachAttackIsRefusedOrSurvivedWithOneMessageAndNothingLost) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.defect);
    TempFolder f("hostile-batch");
    write_run_folder(f / "metric", "metric");
    for (const char* file : {"survey.pdx", "structure.csv"})
      fs::copy_file(fs::path(BASINFIT_SOURCE_DIR) / "examples" / "pddx" / file, f / file);
    write_file(f / "network.csv", "name,source,structure\nmetric,metric,\nr12,survey.pdx,structure.csv\n");
    const std::shared_ptr<void> held = c.setup ? c.setup(f) : nullptr;
    const EngineRun run = shell(f, c.command);
    EXPECT_EQ(run.exit_status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    if (c.check) c.check(f, run);
    // Nothing is left of a temporary file or folder beside the outputs.
    for (const auto& entry : fs::directory_iterator(f.path()))
      EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
  }
}

}  // namespace
}  // namespace basinfit::network_test
