#pragma once
// The SQLite connection, statement and transaction every database of the network goes through.
//
//   sqlite::Connection db(file, sqlite::Access::kReadWriteCreate, std::chrono::seconds(60));
//   sqlite::Transaction transaction(db);           // BEGIN IMMEDIATE
//   sqlite::Statement insert(db, "INSERT INTO batch (key, value) VALUES (?, ?)");
//   insert.bind_text(1, "manifest");
//   insert.bind_text(2, digest);
//   insert.step();
//   transaction.commit();                          // without it, the destructor rolls back
//
// Every failure (opening, preparing, binding, stepping, exec) throws DatabaseError naming the
// database file, what was being done and what SQLite said; nothing is left to a return code a
// caller could forget.  A connection is used by one thread at a time.

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

namespace basinfit::network {

// A database error: the message names the database file and what SQLite said; `reason()` is
// SQLite's own words alone, for a caller that tells one refusal from another.
class DatabaseError : public std::runtime_error {
 public:
  explicit DatabaseError(const std::string& message, std::string reason = {})
      : std::runtime_error(message), reason_(std::move(reason)) {}
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

namespace sqlite {

enum class Access {
  kReadWriteCreate,  // creates the file when missing
  kReadOnly,         // every write refused
};

class Connection {
 public:
  // Opens `file`; a locked database is waited for up to `busy_timeout` before a statement fails.
  Connection(const std::filesystem::path& file, Access access, std::chrono::milliseconds busy_timeout);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs statements that return no rows (schema, pragmas, ATTACH and DETACH).
  void exec(const std::string& sql);
  const std::filesystem::path& file() const { return file_; }

 private:
  friend class Statement;
  [[noreturn]] void fail(const std::string& doing) const;
  std::filesystem::path file_;
  sqlite3* db_ = nullptr;
};

// The storage class of a column's value in the current row.
enum class StorageClass { kNull, kInteger, kReal, kText, kBlob };

class Statement {
 public:
  // Prepares one statement of `sql`; parameters are numbered from 1, columns from 0.
  Statement(Connection& db, const std::string& sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void bind_text(int index, std::string_view value);
  void bind_integer(int index, long long value);
  void bind_real(int index, double value);
  void bind_null(int index);

  // Runs the statement to its next row: true with a row to read, false when it has finished.
  bool step();
  // Ready to run again with new bindings (every parameter back to NULL).
  void reset();

  int column_count() const;
  std::string column_name(int column) const;
  StorageClass storage_class(int column) const;
  bool is_null(int column) const { return storage_class(column) == StorageClass::kNull; }
  // A NULL reads as "", 0 and 0.0; a value of another type is converted as SQLite converts it.
  std::string column_text(int column) const;
  long long column_integer(int column) const;
  double column_real(int column) const;

 private:
  void check_bind(int rc, int index);
  Connection& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// BEGIN IMMEDIATE on construction (the write lock taken at once, so that two writers never
// both read and then fail to upgrade); ROLLBACK on destruction unless committed.
class Transaction {
 public:
  explicit Transaction(Connection& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit();

 private:
  Connection& db_;
  bool open_ = true;
};

}  // namespace sqlite
}  // namespace basinfit::network
