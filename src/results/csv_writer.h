#pragma once
// Comma-separated tables as RFC 4180 describes them: UTF-8, CRLF line ends, a field quoted (with
// its quotes doubled) only when it holds a comma, a quote or a line break.  Numbers are written
// locale-free in the shortest form that reads back to the same value; a missing value (NaN) is
// an empty field and an unbounded one is "inf".
//
// Text fields (identifiers, words) are made valid UTF-8 (U+FFFD for bytes that are not, and for
// control characters other than tab, line feed and carriage return) and
// are kept from running as spreadsheet formulas: one that begins with '=', '+', '-', '@', a tab
// or a carriage return -- or with a single quote before one of those -- is written with a
// leading single quote inside a quoted field ("'=1+2").  A reader strips one leading quote from
// a field when the character after it is one of those six.  Numbers are never quoted, so a
// negative number stays a number.

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
  CsvRow& field(std::string_view text);  // text, guarded as above
  CsvRow& number(float value);
  CsvRow& number(double value);
  CsvRow& number(int value);
  CsvRow& empty();
  const std::string& text() const { return text_; }

 private:
  void separate();
  CsvRow& put(std::string_view text, bool quoted);
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
