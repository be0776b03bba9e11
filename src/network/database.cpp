#include "network/database.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "common/file_digest.h"
#include "common/file_names.h"

namespace basinfit::network {
namespace {

std::string sql_text(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("''") : std::string(1, c);
  return q + "'";
}

std::string sql_name(const std::string& name) {
  std::string q = "\"";
  for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

// The survey columns, in table order.
const std::vector<std::pair<const char*, const char*>> kSurveyColumns = {
    {"survey", "TEXT PRIMARY KEY"},
    {"route", "TEXT"},
    {"sources", "TEXT"},
    {"structure", "TEXT"},
    {"structure_sha256", "TEXT"},
    {"options", "TEXT"},
    {"engine_version", "TEXT"},
    {"engine_revision", "TEXT"},
    {"input_key", "TEXT NOT NULL"},
    {"status", "TEXT NOT NULL"},
    {"stage", "TEXT"},
    {"exit_status", "INTEGER"},
    {"message", "TEXT"},
    {"started_at", "TEXT"},
    {"finished_at", "TEXT"},
    {"stations", "INTEGER"},
    {"drops", "INTEGER"},
};

// Binds a CSV field under the column's type: a number where it reads as one, else the text.
void bind_field(sqlite::Statement& s, int i, const std::string& v, ColumnType type) {
  if (v.empty()) return s.bind_null(i);
  const char* end = v.data() + v.size();
  if (type == ColumnType::kInteger) {
    long long n = 0;
    const auto r = std::from_chars(v.data(), end, n);
    if (r.ec == std::errc() && r.ptr == end) return s.bind_integer(i, n);
  }
  if (type != ColumnType::kText) {
    double x = 0;
    const auto r = std::from_chars(v.data(), end, x);
    if (r.ec == std::errc() && r.ptr == end && std::isfinite(x)) return s.bind_real(i, x);
  }
  s.bind_text(i, v);
}

void delete_survey(sqlite::Connection& db, const std::string& table, const std::string& survey) {
  sqlite::Statement del(db, "DELETE FROM " + table + " WHERE survey = ?");
  del.bind_text(1, survey);
  del.step();
}

// The row of `surveys` for `r`, its columns in table order.
void insert_survey_row(sqlite::Connection& db, const SurveyRecord& r) {
  std::string sql = "INSERT INTO surveys VALUES (";
  for (std::size_t i = 0; i < kSurveyColumns.size(); ++i) sql += i ? ", ?" : "?";
  sqlite::Statement ins(db, sql + ")");
  int i = 0;
  for (const std::string* v : {&r.survey, &r.route, &r.sources, &r.structure, &r.structure_sha256, &r.options,
                               &r.engine_version, &r.engine_revision, &r.input_key})
    ins.bind_text(++i, *v);
  ins.bind_text(++i, to_text(r.status));
  ins.bind_text(++i, to_text(r.stage));
  ins.bind_integer(++i, r.exit_status);
  for (const std::string* v : {&r.message, &r.started_at, &r.finished_at}) ins.bind_text(++i, *v);
  ins.bind_integer(++i, r.stations);
  ins.bind_integer(++i, r.drops);
  ins.step();
}

// The rows of one results table of a survey.  CSV columns the schema does not name go into the
// row's `extra` column as a JSON object.
void insert_table_rows(sqlite::Connection& db, const std::string& survey, const LoadedTable& loaded) {
  const ResultTable& t = *loaded.table;
  // Where each CSV column goes: its schema column, or -1 for `extra`.
  std::vector<int> target(loaded.header.size(), -1);
  std::string sql = "INSERT INTO " + sql_name(t.table) + " (survey, \"row\"";
  std::string values = "?, ?";
  int bound = 0;
  for (std::size_t c = 0; c < loaded.header.size(); ++c)
    for (std::size_t k = 0; k < t.columns.size(); ++k)
      if (t.columns[k].name == loaded.header[c]) {
        target[c] = static_cast<int>(k);
        sql += ", " + sql_name(t.columns[k].name);
        values += ", ?";
        ++bound;
      }
  sqlite::Statement ins(db, sql + ", extra) VALUES (" + values + ", ?)");
  for (std::size_t row = 0; row < loaded.rows.size(); ++row) {
    ins.bind_text(1, survey);
    ins.bind_integer(2, static_cast<long long>(row + 1));
    int i = 2;
    nlohmann::ordered_json extra = nlohmann::ordered_json::object();
    for (std::size_t c = 0; c < loaded.header.size(); ++c) {
      const std::string& v = loaded.rows[row][c];
      if (target[c] < 0)
        extra[loaded.header[c]] = v;
      else
        bind_field(ins, ++i, v, t.columns[static_cast<std::size_t>(target[c])].type);
    }
    if (extra.empty())
      ins.bind_null(bound + 3);
    else
      ins.bind_text(bound + 3, extra.dump());
    ins.step();
    ins.reset();
  }
}

void create_schema(sqlite::Connection& db) {
  std::string sql = "CREATE TABLE surveys (";
  for (std::size_t i = 0; i < kSurveyColumns.size(); ++i)
    sql += std::string(i ? ", " : "") + sql_name(kSurveyColumns[i].first) + " " + kSurveyColumns[i].second;
  db.exec(sql + ")");
  for (const ResultTable& t : result_tables()) {
    sql = "CREATE TABLE " + sql_name(t.table) +
          " (survey TEXT NOT NULL REFERENCES surveys(survey), \"row\" INTEGER NOT NULL";
    for (const Column& c : t.columns) sql += ", " + sql_name(c.name) + " " + sql_type(c.type);
    db.exec(sql + ", extra TEXT, PRIMARY KEY (survey, \"row\"))");
  }
  db.exec("CREATE TABLE batch (key TEXT PRIMARY KEY, value TEXT)");
  db.exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
}

[[noreturn]] void refuse_word(const std::filesystem::path& database, const std::string& survey,
                              const char* column, std::string_view word) {
  throw DatabaseError(database.string() + ": survey " + survey + " has " + column + " '" + std::string(word) +
                      "', which this program does not write");
}

// A file to be read as a results database: one that exists and is a regular file, so that a
// folder without a batch is refused rather than given an empty database.
const std::filesystem::path& existing_database(const std::filesystem::path& file, DatabaseUse use) {
  if (use == DatabaseUse::kWrite) return file;
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0)
    throw DatabaseError(visible_name(file.string()) +
                        ": no results database here; basinfit-batch run (or merge) writes it");
  if (!S_ISREG(st.st_mode))
    throw DatabaseError(visible_name(file.string()) + ": a " + file_kind(st.st_mode) +
                        ", not a results database");
  return file;
}

long long single_integer(sqlite::Connection& db, const std::string& sql) {
  sqlite::Statement s(db, sql);
  s.step();
  return s.column_integer(0);
}

// The tables and the columns of `surveys` this schema version writes, against what the file
// holds: a file of the right version number but another program's tables is not adopted.
void check_schema(sqlite::Connection& db) {
  std::vector<std::string> columns;
  {
    sqlite::Statement info(db, "SELECT name FROM pragma_table_info('surveys')");
    while (info.step()) columns.push_back(info.column_text(0));
  }
  bool same = columns.size() == kSurveyColumns.size();
  for (std::size_t i = 0; same && i < columns.size(); ++i) same = columns[i] == kSurveyColumns[i].first;
  for (const ResultTable& t : result_tables())
    same = same && single_integer(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = " +
                                          sql_text(t.table)) == 1;
  same = same && single_integer(db,
                                "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = "
                                "'batch'") == 1;
  if (!same)
    throw DatabaseError(db.file().string() +
                        ": an SQLite file, but not a results database of basinfit-batch "
                        "(its tables are not those of schema version " +
                        std::to_string(kSchemaVersion) + ")");
}

}  // namespace

SurveyStatus stored_status(const std::filesystem::path& database, const std::string& survey,
                           std::string_view word) {
  if (const auto status = survey_status_from_text(word)) return *status;
  refuse_word(database, survey, "status", word);
}

SurveyStage stored_stage(const std::filesystem::path& database, const std::string& survey,
                         std::string_view word) {
  if (const auto stage = survey_stage_from_text(word)) return *stage;
  refuse_word(database, survey, "stage", word);
}

// The surveys of a batch (and the shards of a merge) take turns at the write lock, each for one
// survey's rows: wait up to a minute for it before calling the database busy.  A reader in WAL
// mode never waits for a writer.
Database::Database(const std::filesystem::path& file, DatabaseUse use)
    : db_(existing_database(file, use),
          use == DatabaseUse::kRead ? sqlite::Access::kReadOnly : sqlite::Access::kReadWriteCreate,
          std::chrono::seconds(60)) {
  // What the file is, judged before anything of it changes (not even its journal mode).
  const auto refuse_other_program = [&] {
    throw DatabaseError(file.string() +
                        ": an SQLite file of another program (it holds tables, and no schema version of a "
                        "results database); basinfit-batch writes its results into a file of its own");
  };
  const long long found = single_integer(db_, "PRAGMA user_version");
  if (found != 0 && found != kSchemaVersion)
    throw DatabaseError(file.string() + ": a results database of schema version " + std::to_string(found) +
                        ", this tool writes version " + std::to_string(kSchemaVersion));
  if (found == 0 && single_integer(db_, "SELECT count(*) FROM sqlite_master") != 0) refuse_other_program();
  if (found != 0 || use == DatabaseUse::kRead) check_schema(db_);
  if (use == DatabaseUse::kRead) return;
  db_.exec("PRAGMA journal_mode=WAL");
  // With WAL, NORMAL loses no committed transaction when the process is killed.
  db_.exec("PRAGMA synchronous=NORMAL");
  sqlite::Transaction schema(db_);
  // Another batch may have made the schema meanwhile.
  if (single_integer(db_, "PRAGMA user_version") == 0) {
    if (single_integer(db_, "SELECT count(*) FROM sqlite_master") != 0) refuse_other_program();
    create_schema(db_);
  }
  schema.commit();
}

std::optional<RecordedSurvey> Database::recorded(const std::string& survey) {
  sqlite::Statement s(db_, "SELECT input_key, status, finished_at FROM surveys WHERE survey = ?");
  s.bind_text(1, survey);
  if (!s.step()) return std::nullopt;
  return RecordedSurvey{s.column_text(0), stored_status(file(), survey, s.column_text(1)), s.column_text(2)};
}

std::vector<std::string> Database::surveys() {
  sqlite::Statement s(db_, "SELECT survey FROM surveys ORDER BY survey");
  std::vector<std::string> names;
  while (s.step()) names.push_back(s.column_text(0));
  return names;
}

void Database::record_survey(const SurveyRecord& r, const std::vector<LoadedTable>& tables) {
  sqlite::Transaction transaction(db_);
  for (const ResultTable& t : result_tables()) delete_survey(db_, sql_name(t.table), r.survey);
  delete_survey(db_, "surveys", r.survey);
  insert_survey_row(db_, r);
  for (const LoadedTable& loaded : tables) insert_table_rows(db_, r.survey, loaded);
  transaction.commit();
}

void Database::set_meta(const std::string& key, const std::string& value) {
  sqlite::Statement s(db_, "INSERT OR REPLACE INTO batch (key, value) VALUES (?, ?)");
  s.bind_text(1, key);
  s.bind_text(2, value);
  s.step();
}

std::optional<std::string> Database::meta(const std::string& key) {
  sqlite::Statement s(db_, "SELECT value FROM batch WHERE key = ?");
  s.bind_text(1, key);
  if (!s.step()) return std::nullopt;
  return s.column_text(0);
}

int Database::merge_from(const std::filesystem::path& other) {
  {
    Database check(other, DatabaseUse::kRead);  // refuses another schema version or program
  }
  sqlite::Statement attach(db_, "ATTACH DATABASE ? AS shard");
  attach.bind_text(1, other.string());
  attach.step();
  int copied = 0;
  try {
    std::vector<std::string> names;
    {
      // Times are UTC in one fixed-width form, so their text sorts as the times do.
      const auto newness = [](const char* r) {
        return std::string("(coalesce(") + r + ".finished_at, ''), coalesce(" + r + ".started_at, ''), " + r +
               ".status = " + sql_text(to_text(SurveyStatus::kOk)) + ")";
      };
      sqlite::Statement list(db_,
                             "SELECT s.survey FROM shard.surveys s LEFT JOIN main.surveys m ON m.survey = "
                             "s.survey WHERE m.survey IS NULL OR " +
                                 newness("s") + " > " + newness("m") + " ORDER BY s.survey");
      while (list.step()) names.push_back(list.column_text(0));
    }
    std::vector<std::string> tables{"surveys"};
    for (const ResultTable& t : result_tables()) tables.push_back(t.table);
    for (const std::string& name : names) {
      sqlite::Transaction transaction(db_);
      for (auto it = tables.rbegin(); it != tables.rend(); ++it)
        delete_survey(db_, "main." + sql_name(*it), name);
      for (const std::string& t : tables) {
        sqlite::Statement copy(db_, "INSERT INTO main." + sql_name(t) + " SELECT * FROM shard." +
                                        sql_name(t) + " WHERE survey = ?");
        copy.bind_text(1, name);
        copy.step();
      }
      transaction.commit();
      ++copied;
    }
  } catch (...) {
    try {
      db_.exec("DETACH DATABASE shard");
    } catch (const DatabaseError&) {
      // The first fault is the one to report; the connection's end detaches the shard anyway.
    }
    throw;
  }
  db_.exec("DETACH DATABASE shard");
  return copied;
}

}  // namespace basinfit::network
