#pragma once
// A device table with a header row, read through the common CSV reader (common/csv.h) with
// blanks around fields taken off; columns are found by name without regard to case, blanks and
// underscores.

#include <string>
#include <string_view>
#include <vector>

#include "common/csv.h"

namespace basinfit::import {

// Device files are read with blanks around fields taken off.
inline CsvReadOptions device_csv(char delimiter) { return CsvReadOptions{delimiter, true}; }

// A table with a header row; columns are found by name without regard to case, blanks and
// underscores.
class CsvTable {
 public:
  CsvTable(std::string file, std::vector<CsvRecord> records);
  const std::string& file() const { return file_; }
  const std::vector<std::string>& header() const { return header_; }
  int header_line() const { return header_line_; }
  const std::vector<CsvRecord>& rows() const { return rows_; }
  // Index of the column whose folded name equals fold(name), or -1.
  int column(std::string_view name) const;
  // Like column(), but a missing column is an error naming the file and the header line.
  int require(std::string_view name) const;
  // The field of `row` in column `index` (empty when the row is short or index is -1).
  static std::string_view field(const CsvRecord& row, int index);

 private:
  std::string file_;
  std::vector<std::string> header_;
  int header_line_ = 0;
  std::vector<CsvRecord> rows_;
};

}  // namespace basinfit::import
