#pragma once
// The results database of a network (SQLite, WAL).  The schema is described in
// docs/network-database.md and versioned with PRAGMA user_version.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "network/result_tables.h"

struct sqlite3;

namespace basinfit::network {

inline constexpr int kSchemaVersion = 1;

// One survey's row in `surveys`.
struct SurveyRecord {
  std::string survey;
  std::string route;
  std::string sources;  // JSON: [{"path": ..., "sha256": ...}, ...]
  std::string structure;
  std::string structure_sha256;
  std::string options;
  std::string engine_version;
  std::string engine_revision;
  std::string input_key;  // SHA-256 over the digests, options and engine: the resume key
  std::string status;     // "ok" or "failed"
  std::string stage;      // for a failure: "import", "engine" or "load"
  int exit_status = 0;
  std::string message;
  std::string started_at;
  std::string finished_at;
  int stations = 0;
  int drops = 0;
};

struct RecordedSurvey {
  std::string input_key;
  std::string status;
  std::string finished_at;
};

// A database error names the database file and what SQLite said.
class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Database {
 public:
  // Opens or creates the database and its schema; refuses a database of another schema version.
  explicit Database(const std::filesystem::path& file);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  std::optional<RecordedSurvey> recorded(const std::string& survey);
  // Replaces everything stored for the survey by `record` and, for a finished survey, the rows
  // of its results tables, in one transaction.  CSV columns the schema does not name go into
  // the row's `extra` column as a JSON object.
  void record_survey(const SurveyRecord& record, const std::vector<LoadedTable>& tables);

  void set_meta(const std::string& key, const std::string& value);
  std::optional<std::string> meta(const std::string& key);

  // Copies the surveys of another database of this schema whose record differs from ours
  // (resume key, status or finish time), each in one transaction; returns how many were copied.
  int merge_from(const std::filesystem::path& other);

  std::vector<std::string> surveys();
  sqlite3* handle() { return db_; }
  const std::filesystem::path& file() const { return file_; }

 private:
  void exec(const std::string& sql);
  std::filesystem::path file_;
  sqlite3* db_ = nullptr;
};

}  // namespace basinfit::network
