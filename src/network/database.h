#pragma once
// The results database of a network (SQLite, WAL).  The schema is described in
// docs/network-database.md and versioned with PRAGMA user_version.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "network/result_tables.h"
#include "network/sqlite.h"
#include "network/survey_status.h"

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
  SurveyStatus status = SurveyStatus::kFailed;
  SurveyStage stage = SurveyStage::kNone;  // for a failure: where it happened
  int exit_status = 0;
  std::string message;
  std::string started_at;
  std::string finished_at;
  int stations = 0;
  int drops = 0;
};

struct RecordedSurvey {
  std::string input_key;
  SurveyStatus status = SurveyStatus::kFailed;
  std::string finished_at;
};

// A status or stage word read back from the `surveys` row of `survey`; a word this program
// does not write is a DatabaseError naming the database, the survey and the word.
SurveyStatus stored_status(const std::filesystem::path& database, const std::string& survey,
                           std::string_view word);
SurveyStage stored_stage(const std::filesystem::path& database, const std::string& survey,
                         std::string_view word);

// How a program uses the results database.
enum class DatabaseUse {
  kWrite,  // a batch or a merge: created with its schema when missing
  kRead,   // the network page, the map export, a shard being merged: opened read-only, never
           // created, never locked for writing (a reader never waits for a batch that writes)
};

class Database {
 public:
  // Opens the database, or for writing creates it and its schema.  Refuses a file that is not a
  // results database of this schema version: another version, or another program's SQLite
  // file (tables of its own, or not this schema's tables); for reading also a missing file or
  // one that is not a regular file.  Throws DatabaseError naming the file.
  explicit Database(const std::filesystem::path& file, DatabaseUse use = DatabaseUse::kWrite);
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  std::optional<RecordedSurvey> recorded(const std::string& survey);
  // Replaces everything stored for the survey by `record` and, for a finished survey, the rows
  // of its results tables, in one transaction.  CSV columns the schema does not name go into
  // the row's `extra` column as a JSON object.
  void record_survey(const SurveyRecord& record, const std::vector<LoadedTable>& tables);

  void set_meta(const std::string& key, const std::string& value);
  std::optional<std::string> meta(const std::string& key);

  // Copies the surveys of another database of this schema whose record is newer than ours, or
  // that we do not hold, each with all its rows in one transaction; returns how many were
  // copied.  Newer: a later finish, then a later start, then ok over a failure; a record no
  // newer than ours is left, so the newest record of a survey wins whatever the order of the
  // databases merged, a merge repeated copies nothing, and a survey run here after a shard ran
  // it keeps the later run -- as its folder does, which the later run replaced.
  int merge_from(const std::filesystem::path& other);

  std::vector<std::string> surveys();
  // For readers of the results tables (the network page, the map export).
  sqlite::Connection& connection() { return db_; }
  const std::filesystem::path& file() const { return db_.file(); }

 private:
  sqlite::Connection db_;
};

}  // namespace basinfit::network
