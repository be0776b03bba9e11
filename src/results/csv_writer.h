#pragma once
// Comma-separated tables as RFC 4180 describes them: CRLF line ends, a field quoted (with its
// quotes doubled) only when it holds a comma, a quote or a line break.  Numbers are written
// locale-free in the shortest form that reads back to the same value; a missing value (NaN) is
// an empty field and an unbounded one is "inf".

#include <string>
#include <string_view>
#include <vector>

#include "common/output_file.h"

namespace basinfit::results {

// The shortest decimal text that reads back to `value` ("" for NaN, "inf"/"-inf").
std::string number_text(float value);
std::string number_text(double value);

// One row being built; `text()` is the finished record without its line end.
class CsvRow {
 public:
  CsvRow& field(std::string_view text);
  CsvRow& number(float value);
  CsvRow& number(double value);
  CsvRow& number(int value);
  CsvRow& empty();
  const std::string& text() const { return text_; }

 private:
  void separate();
  std::string text_;
  bool first_ = true;
};

// A table written to a checked output file; a row reaches the file at the next flush.
class CsvTable {
 public:
  explicit CsvTable(OutputFile& file) : file_(file) {}
  void header(const std::vector<std::string>& names);
  void row(const CsvRow& row);
  void flush() { file_.flush(); }

 private:
  OutputFile& file_;
};

}  // namespace basinfit::results
