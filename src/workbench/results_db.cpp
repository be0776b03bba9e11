#include "workbench/internal/results_db.h"

#include <chrono>
#include <optional>

#include "network/sqlite.h"

namespace basinfit::workbench {
namespace {

namespace sqlite = network::sqlite;

// A batch transaction is short; wait for it rather than fail the page.
constexpr std::chrono::milliseconds kBusyTimeout{5000};

// One column of the current row into `row`: NULL left out, the JSON `extra` column unfolded.
void add_column(nlohmann::ordered_json& row, const sqlite::Statement& s, int col) {
  const std::string name = s.column_name(col);
  switch (s.storage_class(col)) {
    case sqlite::StorageClass::kInteger:
      row[name] = s.column_integer(col);
      break;
    case sqlite::StorageClass::kReal:
      row[name] = s.column_real(col);
      break;
    case sqlite::StorageClass::kNull:
      break;
    case sqlite::StorageClass::kText:
    case sqlite::StorageClass::kBlob: {
      std::string value = s.column_text(col);
      if (name == "extra") {
        const auto extra = nlohmann::ordered_json::parse(value, nullptr, false);
        if (extra.is_object())
          for (const auto& [k, v] : extra.items()) row[k] = v;
      } else {
        row[name] = std::move(value);
      }
    }
  }
}

}  // namespace

nlohmann::ordered_json query_rows(const std::filesystem::path& database, const std::string& sql,
                                  const std::vector<std::string>& parameters) {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  std::error_code ec;
  if (!std::filesystem::exists(database, ec)) return rows;
  sqlite::Connection db(database, sqlite::Access::kReadOnly, kBusyTimeout);
  std::optional<sqlite::Statement> s;
  try {
    s.emplace(db, sql);
  } catch (const network::DatabaseError& e) {
    // The first run of a project creates the tables; until it has, there is nothing to read.
    if (e.reason().rfind("no such table", 0) == 0) return rows;
    throw;
  }
  for (std::size_t i = 0; i < parameters.size(); ++i) s->bind_text(static_cast<int>(i + 1), parameters[i]);
  while (s->step()) {
    nlohmann::ordered_json row = nlohmann::ordered_json::object();
    for (int col = 0; col < s->column_count(); ++col) add_column(row, *s, col);
    rows.push_back(std::move(row));
  }
  return rows;
}

void copy_database(const std::filesystem::path& database, const std::filesystem::path& copy) {
  sqlite::Connection db(database, sqlite::Access::kReadOnly, kBusyTimeout);
  std::filesystem::remove(copy);
  sqlite::Statement vacuum(db, "VACUUM INTO ?1");
  vacuum.bind_text(1, copy.string());
  vacuum.step();
}

}  // namespace basinfit::workbench
