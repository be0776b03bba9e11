#pragma once
// Reading the network's results database for the workbench: its own read-only connection, so
// that pages are served while a run writes (WAL lets readers and the writer go side by side).

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace basinfit::workbench {

// The rows `sql` selects, each an object of column name to value (NULL columns left out; the
// JSON `extra` column of the results tables unfolded into the row).  `parameters` bind to ?1,
// ?2, ...  An empty array when the database does not exist yet; throws network::DatabaseError
// (a std::runtime_error) naming the database when SQLite refuses.
nlohmann::ordered_json query_rows(const std::filesystem::path& database, const std::string& sql,
                                  const std::vector<std::string>& parameters = {});

// A consistent copy of the database in one file (WAL contents included), for download.
void copy_database(const std::filesystem::path& database, const std::filesystem::path& copy);

}  // namespace basinfit::workbench
