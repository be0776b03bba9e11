#pragma once
// The results tables of a survey as the database holds them: one table per CSV file the engine
// writes beside its reports, with the same column names, units and values, and the survey on
// every row.  The columns are listed once, in result_tables.cpp; a new CSV column is one more
// line there.

#include <filesystem>
#include <string>
#include <vector>

namespace basinfit::network {

enum class ColumnType { kText, kInteger, kReal };

struct Column {
  std::string name;
  ColumnType type;
};

struct ResultTable {
  std::string table;     // database table
  std::string csv_file;  // the file in the survey's results folder
  bool required;         // a finished survey always has this file
  // Every column the CSV file can have, for 1 to 5 layers in both unit systems.
  std::vector<Column> columns;
};

const std::vector<ResultTable>& result_tables();

// One CSV file read for loading: its header and rows as text.
struct LoadedTable {
  const ResultTable* table = nullptr;
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
};

// Reads the results tables from a finished survey's folder; a missing required file or a
// malformed one is an InputError naming it.
std::vector<LoadedTable> read_result_tables(const std::filesystem::path& folder);

const char* sql_type(ColumnType type);

}  // namespace basinfit::network
