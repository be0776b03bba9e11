#include "import/csv_table.h"

#include "common/input_error.h"
#include "import/text_values.h"

namespace basinfit::import {

CsvTable::CsvTable(std::string file, std::vector<CsvRecord> records) : file_(std::move(file)) {
  if (records.empty()) throw InputError(file_, 0, "the file is empty; expected a header row of column names");
  header_ = records.front().fields;
  header_line_ = records.front().line;
  rows_.assign(std::make_move_iterator(records.begin() + 1), std::make_move_iterator(records.end()));
}

int CsvTable::column(std::string_view name) const {
  const std::string wanted = fold(name);
  for (std::size_t i = 0; i < header_.size(); ++i)
    if (fold(header_[i]) == wanted) return static_cast<int>(i);
  return -1;
}

int CsvTable::require(std::string_view name) const {
  const int index = column(name);
  if (index < 0)
    throw InputError(file_, header_line_, "no column " + std::string(name) + " in the header row");
  return index;
}

std::string_view CsvTable::field(const CsvRecord& row, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= row.fields.size()) return {};
  return row.fields[static_cast<std::size_t>(index)];
}

}  // namespace basinfit::import
