#include "workbench/results_db.h"

#include <sqlite3.h>

#include <memory>
#include <stdexcept>

namespace basinfit::workbench {
namespace {

struct Connection {
  sqlite3* db = nullptr;
  ~Connection() { sqlite3_close(db); }
};

void open(Connection& c, const std::filesystem::path& database) {
  if (sqlite3_open_v2(database.c_str(), &c.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    throw std::runtime_error(database.string() + ": " + (c.db ? sqlite3_errmsg(c.db) : "cannot be opened"));
  // A batch transaction is short; wait for it rather than fail the page.
  sqlite3_busy_timeout(c.db, 5000);
}

}  // namespace

nlohmann::ordered_json query_rows(const std::filesystem::path& database, const std::string& sql,
                                  const std::vector<std::string>& parameters) {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  std::error_code ec;
  if (!std::filesystem::exists(database, ec)) return rows;
  Connection c;
  open(c, database);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(c.db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    // The first run of a project creates the tables; until it has, there is nothing to read.
    if (std::string(sqlite3_errmsg(c.db)).rfind("no such table", 0) == 0) return rows;
    throw std::runtime_error(database.string() + ": " + sqlite3_errmsg(c.db));
  }
  const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
  for (std::size_t i = 0; i < parameters.size(); ++i)
    sqlite3_bind_text(raw, static_cast<int>(i + 1), parameters[i].c_str(), -1, SQLITE_TRANSIENT);
  int step = 0;
  while ((step = sqlite3_step(raw)) == SQLITE_ROW) {
    nlohmann::ordered_json row = nlohmann::ordered_json::object();
    for (int col = 0; col < sqlite3_column_count(raw); ++col) {
      const std::string name = sqlite3_column_name(raw, col);
      switch (sqlite3_column_type(raw, col)) {
        case SQLITE_INTEGER:
          row[name] = sqlite3_column_int64(raw, col);
          break;
        case SQLITE_FLOAT:
          row[name] = sqlite3_column_double(raw, col);
          break;
        case SQLITE_NULL:
          break;
        default: {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, col));
          std::string value = text ? text : "";
          if (name == "extra") {
            const auto extra = nlohmann::ordered_json::parse(value, nullptr, false);
            if (extra.is_object())
              for (const auto& [k, v] : extra.items()) row[k] = v;
          } else {
            row[name] = value;
          }
        }
      }
    }
    rows.push_back(std::move(row));
  }
  if (step != SQLITE_DONE) throw std::runtime_error(database.string() + ": " + sqlite3_errmsg(c.db));
  return rows;
}

void copy_database(const std::filesystem::path& database, const std::filesystem::path& copy) {
  Connection c;
  open(c, database);
  std::filesystem::remove(copy);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(c.db, "VACUUM INTO ?1", -1, &raw, nullptr) != SQLITE_OK)
    throw std::runtime_error(database.string() + ": " + sqlite3_errmsg(c.db));
  const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
  sqlite3_bind_text(raw, 1, copy.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(raw) != SQLITE_DONE)
    throw std::runtime_error(database.string() + ": " + sqlite3_errmsg(c.db));
}

}  // namespace basinfit::workbench
