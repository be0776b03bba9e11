#include "network/sqlite.h"

#include <sqlite3.h>

#include <cstring>

namespace basinfit::network::sqlite {

Connection::Connection(const std::filesystem::path& file, Access access,
                       std::chrono::milliseconds busy_timeout)
    : file_(file) {
  const int flags = access == Access::kReadOnly
                        ? SQLITE_OPEN_READONLY
                        : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw DatabaseError(file.string() + ": cannot open the database: " + why, why);
  }
  sqlite3_busy_timeout(db_, static_cast<int>(busy_timeout.count()));
}

Connection::~Connection() { sqlite3_close(db_); }

namespace {

// For a failure of the file beneath the database, the system's reason ("disk I/O error" says
// nothing of a file-size limit or a full disk).
std::string system_reason(sqlite3* db) {
  const int primary = sqlite3_extended_errcode(db) & 0xff;
  const int error = sqlite3_system_errno(db);
  if ((primary != SQLITE_IOERR && primary != SQLITE_FULL && primary != SQLITE_CANTOPEN) || error == 0)
    return "";
  return std::string(" (") + std::strerror(error) + ")";
}

}  // namespace

void Connection::fail(const std::string& doing) const {
  const std::string why = sqlite3_errmsg(db_);
  throw DatabaseError(file_.string() + ": " + doing + ": " + why + system_reason(db_), why);
}

void Connection::exec(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string why = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw DatabaseError(file_.string() + ": " + why + system_reason(db_), why);
  }
}

Statement::Statement(Connection& db, const std::string& sql) : db_(db) {
  if (sqlite3_prepare_v2(db.db_, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK)
    db_.fail("preparing a statement");
  // Blank or comment-only text prepares to no statement at all: a caller's mistake, never a
  // statement that silently does nothing.
  if (stmt_ == nullptr)
    throw DatabaseError(db.file().string() + ": preparing a statement: no statement in the text");
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

void Statement::check_bind(int rc, int index) {
  if (rc != SQLITE_OK) db_.fail("binding parameter " + std::to_string(index));
}

void Statement::bind_text(int index, std::string_view value) {
  check_bind(sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT),
             index);
}

void Statement::bind_integer(int index, long long value) {
  check_bind(sqlite3_bind_int64(stmt_, index, value), index);
}

void Statement::bind_real(int index, double value) {
  check_bind(sqlite3_bind_double(stmt_, index, value), index);
}

void Statement::bind_null(int index) { check_bind(sqlite3_bind_null(stmt_, index), index); }

bool Statement::step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) db_.fail("running a statement");
  return false;
}

void Statement::reset() {
  // The outcome of the last step was reported by step() already; reset only rewinds.
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int Statement::column_count() const { return sqlite3_column_count(stmt_); }

std::string Statement::column_name(int column) const {
  const char* name = sqlite3_column_name(stmt_, column);
  return name ? name : "";
}

StorageClass Statement::storage_class(int column) const {
  switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_INTEGER:
      return StorageClass::kInteger;
    case SQLITE_FLOAT:
      return StorageClass::kReal;
    case SQLITE_TEXT:
      return StorageClass::kText;
    case SQLITE_BLOB:
      return StorageClass::kBlob;
    default:
      return StorageClass::kNull;
  }
}

std::string Statement::column_text(int column) const {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  if (text == nullptr) return "";
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

long long Statement::column_integer(int column) const { return sqlite3_column_int64(stmt_, column); }

double Statement::column_real(int column) const { return sqlite3_column_double(stmt_, column); }

Transaction::Transaction(Connection& db) : db_(db) { db_.exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
  if (!open_) return;
  // Unwinding from a failure: the rollback's own failure (none is expected once BEGIN has
  // succeeded) cannot be reported from here, and SQLite rolls back on close anyway.
  try {
    db_.exec("ROLLBACK");
  } catch (const DatabaseError&) {
  }
}

void Transaction::commit() {
  db_.exec("COMMIT");
  open_ = false;
}

}  // namespace basinfit::network::sqlite
