#pragma once
// A small network of example surveys written into a temporary folder, and the database read
// back as text for comparisons.

#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine_support.h"

namespace basinfit::network_test {

namespace fs = std::filesystem;
using e2e::read_file;
using e2e::write_file;

inline std::string batch_path() { return std::string(BASINFIT_BINARY_DIR) + "/apps/basinfit-batch"; }

// A run folder of a bundled example (metric or english) with its control file.
inline void write_run_folder(const fs::path& folder, const std::string& example) {
  fs::create_directories(folder);
  for (const char* f : {"standard.dat", "general.dat", "deflections.dat"})
    fs::copy_file(fs::path(BASINFIT_SOURCE_DIR) / "examples" / example / f, folder / f,
                  fs::copy_options::overwrite_existing);
  write_file(folder / "control.txt",
             "9\nstandard.dat\ngeneral.dat\ndeflections.dat\ndetail.txt\nsummary.txt\nrun.log\n");
}

// The network: two run folders (metric, English), the PDDX example, a run folder with a bad
// load in its deflection file (the engine refuses it) and a file no importer reads.
inline fs::path write_network(const fs::path& root) {
  write_run_folder(root / "metric", "metric");
  write_run_folder(root / "english", "english");
  write_run_folder(root / "badrecord", "metric");
  std::string deflections = read_file(root / "badrecord" / "deflections.dat");
  deflections.replace(deflections.find("27000"), 5, "27x00");
  write_file(root / "badrecord" / "deflections.dat", deflections);
  for (const char* f : {"survey.pdx", "structure.csv"})
    fs::copy_file(fs::path(BASINFIT_SOURCE_DIR) / "examples" / "pddx" / f, root / f,
                  fs::copy_options::overwrite_existing);
  write_file(root / "unreadable.pdx", "this is no survey\n");
  write_file(root / "network.csv",
             "name,source,structure,multistart\n"
             "metric,metric,,\n"
             "english,english,,\n"
             "route12-pddx,survey.pdx,structure.csv,2\n"
             "badrecord,badrecord,,\n"
             "unreadable,unreadable.pdx,structure.csv,\n");
  return root / "network.csv";
}

// Every row of a table as text, in key order, leaving out the named columns.
inline std::vector<std::string> dump(const fs::path& database, const std::string& table,
                                     const std::vector<std::string>& leave_out = {}) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  const std::string order = table == "surveys" ? "survey" : "survey, \"row\"";
  sqlite3_stmt* s = nullptr;
  std::vector<std::string> rows;
  if (sqlite3_prepare_v2(db, ("SELECT * FROM " + table + " ORDER BY " + order).c_str(), -1, &s, nullptr) !=
      SQLITE_OK) {
    rows.push_back(std::string("error: ") + sqlite3_errmsg(db));
  } else {
    while (sqlite3_step(s) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(s); ++i) {
        const std::string name = sqlite3_column_name(s, i);
        if (std::find(leave_out.begin(), leave_out.end(), name) != leave_out.end()) continue;
        const unsigned char* t = sqlite3_column_text(s, i);
        row += name + "=" + (t ? reinterpret_cast<const char*>(t) : "NULL") + "|";
      }
      rows.push_back(row);
    }
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return rows;
}

inline const std::vector<std::string> kClockColumns = {"started_at", "finished_at"};

// Every table of the results database, clock columns left out.
inline std::vector<std::string> dump_all(const fs::path& database) {
  std::vector<std::string> all;
  for (const char* t : {"surveys", "stations", "drops", "sensors", "sections"})
    for (std::string& row : dump(database, t, kClockColumns)) all.push_back(std::string(t) + ": " + row);
  return all;
}

}  // namespace basinfit::network_test
