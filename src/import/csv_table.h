#pragma once
// A small RFC 4180 reader: records of fields separated by a delimiter, fields optionally in
// double quotes (a quote inside written twice; delimiters and line ends inside quotes are
// text), CRLF or LF line ends, a UTF-8 byte-order mark ignored.  Every record keeps the line
// on which it starts, for messages.  A quote that is never closed, or text after a closing
// quote, is an error naming the line.

#include <string>
#include <string_view>
#include <vector>

namespace basinfit::import {

struct CsvRecord {
  int line = 0;
  std::vector<std::string> fields;
};

// Parses `text` (from `file`, for messages).  Empty lines are skipped.  Throws InputError.
std::vector<CsvRecord> parse_csv(std::string_view text, const std::string& file, char delimiter = ',');

// The delimiter of a CSV file guessed from its first line: the most frequent of comma,
// semicolon and tab outside quotes (comma when none appears).
char guess_delimiter(std::string_view text);

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
