// The SQLite wrapper's guards: a refused statement names the database and SQLite's reason, a
// transaction left without commit leaves nothing behind, a read-only connection writes nothing;
// and the survey status words in and out of the results database.

#include "network/sqlite.h"

#include <gtest/gtest.h>

#include <functional>

#include "engine_support.h"
#include "network/database.h"

namespace basinfit::network_test {
namespace {

namespace fs = std::filesystem;
namespace sqlite = network::sqlite;
using e2e::TempFolder;
using network::DatabaseError;

constexpr std::chrono::milliseconds kNoWait{0};

// A database with table `t` (a primary key and a value) holding one row.
fs::path make_database(const TempFolder& folder) {
  const fs::path file = folder / "guards.sqlite";
  sqlite::Connection db(file, sqlite::Access::kReadWriteCreate, kNoWait);
  db.exec("CREATE TABLE t (k INTEGER PRIMARY KEY, v TEXT); INSERT INTO t VALUES (1, 'one')");
  return file;
}

void insert(sqlite::Connection& db, long long key) {
  sqlite::Statement s(db, "INSERT INTO t (k, v) VALUES (?, ?)");
  s.bind_integer(1, key);
  s.bind_text(2, "row " + std::to_string(key));
  s.step();
}

std::vector<long long> keys(const fs::path& file) {
  sqlite::Connection db(file, sqlite::Access::kReadOnly, kNoWait);
  sqlite::Statement s(db, "SELECT k FROM t ORDER BY k");
  std::vector<long long> found;
  while (s.step()) found.push_back(s.column_integer(0));
  return found;
}

// Runs `action` expecting a DatabaseError whose message begins with the database file and ends
// with SQLite's reason, and whose reason() holds `reason`.
void expect_refusal(const fs::path& file, const std::function<void()>& action, const std::string& reason) {
  try {
    action();
    ADD_FAILURE() << "no refusal; expected one saying '" << reason << "'";
  } catch (const DatabaseError& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind(file.string() + ": ", 0), 0u) << message;
    EXPECT_NE(e.reason().find(reason), std::string::npos) << e.reason();
    EXPECT_EQ(message.substr(message.size() - e.reason().size()), e.reason()) << message;
  }
}

TEST(SqliteGuards, RefusedStatementsNameTheDatabaseAndSqlitesReason) {
  TempFolder folder("sqlite-refusals");
  const fs::path file = make_database(folder);
  sqlite::Connection db(file, sqlite::Access::kReadWriteCreate, kNoWait);
  const struct {
    const char* what;
    std::function<void()> action;
    const char* reason;
  } cases[] = {
      {"unknown table", [&] { sqlite::Statement(db, "SELECT * FROM surveys"); }, "no such table: surveys"},
      {"unknown column", [&] { sqlite::Statement(db, "SELECT stage FROM t"); }, "no such column: stage"},
      {"misspelt keyword", [&] { sqlite::Statement(db, "SELEC k FROM t"); }, "syntax error"},
      {"exec", [&] { db.exec("DROP TABLE missing"); }, "no such table: missing"},
      {"parameter out of range",
       [&] {
         sqlite::Statement s(db, "SELECT k FROM t WHERE k = ?");
         s.bind_integer(2, 1);
       },
       "column index out of range"},
      {"constraint at step", [&] { insert(db, 1); }, "UNIQUE constraint failed: t.k"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    expect_refusal(file, c.action, c.reason);
  }
  EXPECT_EQ(keys(file), std::vector<long long>{1});
}

TEST(SqliteGuards, TransactionWithoutCommitRollsBack) {
  const struct {
    const char* what;
    std::function<void(sqlite::Connection&)> work;
    std::vector<long long> kept;  // rows of t afterwards, besides the marker 9
  } cases[] = {
      {"committed",
       [](sqlite::Connection& db) {
         sqlite::Transaction transaction(db);
         insert(db, 2);
         insert(db, 3);
         transaction.commit();
       },
       {1, 2, 3}},
      {"left without commit",
       [](sqlite::Connection& db) {
         sqlite::Transaction transaction(db);
         insert(db, 2);
         insert(db, 3);
       },
       {1}},
      {"unwound by a refused statement",
       [](sqlite::Connection& db) {
         try {
           sqlite::Transaction transaction(db);
           insert(db, 2);
           insert(db, 1);  // the key is taken
           transaction.commit();
         } catch (const DatabaseError&) {
         }
       },
       {1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder("sqlite-transaction");
    const fs::path file = make_database(folder);
    {
      sqlite::Connection db(file, sqlite::Access::kReadWriteCreate, kNoWait);
      c.work(db);
      // Outside any transaction now, this row commits on its own; had the guard left its
      // transaction open, closing the connection would take the marker with it.
      insert(db, 9);
    }
    std::vector<long long> expected = c.kept;
    expected.push_back(9);
    EXPECT_EQ(keys(file), expected);
  }
}

TEST(SqliteGuards, ReadOnlyConnectionRefusesEveryWrite) {
  TempFolder folder("sqlite-read-only");
  const fs::path file = make_database(folder);
  sqlite::Connection db(file, sqlite::Access::kReadOnly, kNoWait);
  const struct {
    const char* what;
    std::function<void()> action;
  } cases[] = {
      {"insert", [&] { insert(db, 2); }},
      {"exec", [&] { db.exec("CREATE TABLE u (x)"); }},
      {"insert in a transaction",
       [&] {
         sqlite::Transaction transaction(db);
         insert(db, 2);
         transaction.commit();
       }},
      {"delete", [&] { sqlite::Statement(db, "DELETE FROM t").step(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    expect_refusal(file, c.action, "readonly");
  }
  EXPECT_EQ(keys(file), std::vector<long long>{1});
  // Read-only never creates a file.
  const fs::path missing = folder / "missing.sqlite";
  EXPECT_THROW(sqlite::Connection(missing, sqlite::Access::kReadOnly, kNoWait), DatabaseError);
  EXPECT_FALSE(fs::exists(missing));
}

TEST(SurveyStatusWords, EachValueHasOneWordAndUnknownWordsAreRefused) {
  using network::SurveyStage;
  using network::SurveyStatus;
  const std::pair<SurveyStatus, const char*> statuses[] = {{SurveyStatus::kOk, "ok"},
                                                           {SurveyStatus::kFailed, "failed"}};
  for (const auto& [status, word] : statuses) {
    EXPECT_EQ(network::to_text(status), word);
    EXPECT_EQ(network::survey_status_from_text(word), status) << word;
  }
  const std::pair<SurveyStage, const char*> stages[] = {{SurveyStage::kNone, ""},
                                                        {SurveyStage::kImport, "import"},
                                                        {SurveyStage::kEngine, "engine"},
                                                        {SurveyStage::kLoad, "load"}};
  for (const auto& [stage, word] : stages) {
    EXPECT_EQ(network::to_text(stage), word);
    EXPECT_EQ(network::survey_stage_from_text(word), stage) << word;
  }
  for (const char* word : {"OK", "ok ", "done", ""})
    EXPECT_FALSE(network::survey_status_from_text(word)) << "'" << word << "'";
  for (const char* word : {"Import", "engine\n", "ok"})
    EXPECT_FALSE(network::survey_stage_from_text(word)) << "'" << word << "'";
}

TEST(SurveyStatusWords, ResultsDatabaseRefusesAStatusItDoesNotWrite) {
  TempFolder folder("sqlite-status-word");
  const fs::path file = folder / "results.sqlite";
  network::SurveyRecord record;
  record.survey = "r12";
  record.input_key = "key";
  record.status = network::SurveyStatus::kOk;
  {
    network::Database db(file);
    db.record_survey(record, {});
    const auto recorded = db.recorded("r12");
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->status, network::SurveyStatus::kOk);
    db.connection().exec("UPDATE surveys SET status = 'maybe'");
  }
  network::Database db(file);
  try {
    db.recorded("r12");
    ADD_FAILURE() << "a status word this program does not write was read";
  } catch (const DatabaseError& e) {
    const std::string message = e.what();
    for (const std::string& part : {file.string(), std::string("r12"), std::string("'maybe'")})
      EXPECT_NE(message.find(part), std::string::npos) << message;
  }
}

}  // namespace
}  // namespace basinfit::network_test
