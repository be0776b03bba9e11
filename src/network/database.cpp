#include "network/database.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

namespace basinfit::network {
namespace {

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

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql, const std::filesystem::path& file) : db_(db), file_(file) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) fail("preparing");
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  void text(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void integer(int i, long long v) { sqlite3_bind_int64(stmt_, i, v); }
  void real(int i, double v) { sqlite3_bind_double(stmt_, i, v); }
  void null(int i) { sqlite3_bind_null(stmt_, i); }
  // Binds a CSV field under the column's type: a number where it reads as one, else the text.
  void field(int i, const std::string& v, ColumnType type) {
    if (v.empty()) return null(i);
    const char* end = v.data() + v.size();
    if (type == ColumnType::kInteger) {
      long long n = 0;
      const auto r = std::from_chars(v.data(), end, n);
      if (r.ec == std::errc() && r.ptr == end) return integer(i, n);
    }
    if (type != ColumnType::kText) {
      double x = 0;
      const auto r = std::from_chars(v.data(), end, x);
      if (r.ec == std::errc() && r.ptr == end && std::isfinite(x)) return real(i, x);
    }
    text(i, v);
  }
  bool step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) fail("running");
    return false;
  }
  void reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  std::string column_text(int i) {
    const unsigned char* t = sqlite3_column_text(stmt_, i);
    return t ? reinterpret_cast<const char*>(t) : "";
  }

 private:
  [[noreturn]] void fail(const char* what) {
    throw DatabaseError(file_.string() + ": " + what + " a statement: " + sqlite3_errmsg(db_));
  }
  sqlite3* db_;
  const std::filesystem::path& file_;
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

Database::Database(const std::filesystem::path& file) : file_(file) {
  if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw DatabaseError(file.string() + ": cannot open the database: " + why);
  }
  sqlite3_busy_timeout(db_, 60000);
  try {
    exec("PRAGMA journal_mode=WAL");
    // With WAL, NORMAL loses no committed transaction when the process is killed.
    exec("PRAGMA synchronous=NORMAL");
    exec("BEGIN IMMEDIATE");
    Statement version(db_, "PRAGMA user_version", file_);
    version.step();
    const int found = std::stoi(version.column_text(0));
    if (found == 0) {
      std::string sql = "CREATE TABLE surveys (";
      for (std::size_t i = 0; i < kSurveyColumns.size(); ++i)
        sql +=
            std::string(i ? ", " : "") + sql_name(kSurveyColumns[i].first) + " " + kSurveyColumns[i].second;
      exec(sql + ")");
      for (const ResultTable& t : result_tables()) {
        sql = "CREATE TABLE " + sql_name(t.table) +
              " (survey TEXT NOT NULL REFERENCES surveys(survey), \"row\" INTEGER NOT NULL";
        for (const Column& c : t.columns) sql += ", " + sql_name(c.name) + " " + sql_type(c.type);
        exec(sql + ", extra TEXT, PRIMARY KEY (survey, \"row\"))");
      }
      exec("CREATE TABLE batch (key TEXT PRIMARY KEY, value TEXT)");
      exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
    } else if (found != kSchemaVersion) {
      throw DatabaseError(file.string() + ": a results database of schema version " + std::to_string(found) +
                          ", this tool writes version " + std::to_string(kSchemaVersion));
    }
    exec("COMMIT");
  } catch (...) {
    sqlite3_close(db_);
    throw;
  }
}

Database::~Database() { sqlite3_close(db_); }

void Database::exec(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string why = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw DatabaseError(file_.string() + ": " + why);
  }
}

std::optional<RecordedSurvey> Database::recorded(const std::string& survey) {
  Statement s(db_, "SELECT input_key, status, finished_at FROM surveys WHERE survey = ?", file_);
  s.text(1, survey);
  if (!s.step()) return std::nullopt;
  return RecordedSurvey{s.column_text(0), s.column_text(1), s.column_text(2)};
}

std::vector<std::string> Database::surveys() {
  Statement s(db_, "SELECT survey FROM surveys ORDER BY survey", file_);
  std::vector<std::string> names;
  while (s.step()) names.push_back(s.column_text(0));
  return names;
}

void Database::record_survey(const SurveyRecord& r, const std::vector<LoadedTable>& tables) {
  exec("BEGIN IMMEDIATE");
  try {
    for (const ResultTable& t : result_tables()) {
      Statement del(db_, "DELETE FROM " + sql_name(t.table) + " WHERE survey = ?", file_);
      del.text(1, r.survey);
      del.step();
    }
    {
      Statement del(db_, "DELETE FROM surveys WHERE survey = ?", file_);
      del.text(1, r.survey);
      del.step();
      std::string sql = "INSERT INTO surveys VALUES (";
      for (std::size_t i = 0; i < kSurveyColumns.size(); ++i) sql += i ? ", ?" : "?";
      Statement ins(db_, sql + ")", file_);
      int i = 0;
      for (const std::string* v :
           {&r.survey, &r.route, &r.sources, &r.structure, &r.structure_sha256, &r.options, &r.engine_version,
            &r.engine_revision, &r.input_key, &r.status, &r.stage})
        ins.text(++i, *v);
      ins.integer(++i, r.exit_status);
      for (const std::string* v : {&r.message, &r.started_at, &r.finished_at}) ins.text(++i, *v);
      ins.integer(++i, r.stations);
      ins.integer(++i, r.drops);
      ins.step();
    }
    for (const LoadedTable& loaded : tables) {
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
      Statement ins(db_, sql + ", extra) VALUES (" + values + ", ?)", file_);
      for (std::size_t row = 0; row < loaded.rows.size(); ++row) {
        ins.text(1, r.survey);
        ins.integer(2, static_cast<long long>(row + 1));
        int i = 2;
        nlohmann::ordered_json extra = nlohmann::ordered_json::object();
        for (std::size_t c = 0; c < loaded.header.size(); ++c) {
          const std::string& v = loaded.rows[row][c];
          if (target[c] < 0)
            extra[loaded.header[c]] = v;
          else
            ins.field(++i, v, t.columns[static_cast<std::size_t>(target[c])].type);
        }
        if (extra.empty())
          ins.null(bound + 3);
        else
          ins.text(bound + 3, extra.dump());
        ins.step();
        ins.reset();
      }
    }
    exec("COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void Database::set_meta(const std::string& key, const std::string& value) {
  Statement s(db_, "INSERT OR REPLACE INTO batch (key, value) VALUES (?, ?)", file_);
  s.text(1, key);
  s.text(2, value);
  s.step();
}

std::optional<std::string> Database::meta(const std::string& key) {
  Statement s(db_, "SELECT value FROM batch WHERE key = ?", file_);
  s.text(1, key);
  if (!s.step()) return std::nullopt;
  return s.column_text(0);
}

int Database::merge_from(const std::filesystem::path& other) {
  {
    Database check(other);  // refuses another schema version
  }
  Statement attach(db_, "ATTACH DATABASE ? AS shard", file_);
  attach.text(1, other.string());
  attach.step();
  int copied = 0;
  try {
    std::vector<std::string> names;
    {
      Statement list(db_,
                     "SELECT s.survey FROM shard.surveys s LEFT JOIN main.surveys m ON m.survey = s.survey "
                     "WHERE m.survey IS NULL OR m.input_key IS NOT s.input_key OR m.status IS NOT s.status "
                     "OR m.finished_at IS NOT s.finished_at ORDER BY s.survey",
                     file_);
      while (list.step()) names.push_back(list.column_text(0));
    }
    for (const std::string& name : names) {
      exec("BEGIN IMMEDIATE");
      try {
        std::vector<std::string> tables{"surveys"};
        for (const ResultTable& t : result_tables()) tables.push_back(t.table);
        for (auto it = tables.rbegin(); it != tables.rend(); ++it) {
          Statement del(db_, "DELETE FROM main." + sql_name(*it) + " WHERE survey = ?", file_);
          del.text(1, name);
          del.step();
        }
        for (const std::string& t : tables) {
          Statement copy(
              db_,
              "INSERT INTO main." + sql_name(t) + " SELECT * FROM shard." + sql_name(t) + " WHERE survey = ?",
              file_);
          copy.text(1, name);
          copy.step();
        }
        exec("COMMIT");
        ++copied;
      } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
      }
    }
  } catch (...) {
    sqlite3_exec(db_, "DETACH DATABASE shard", nullptr, nullptr, nullptr);
    throw;
  }
  exec("DETACH DATABASE shard");
  return copied;
}

}  // namespace basinfit::network
