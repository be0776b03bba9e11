#pragma once
// Comma-separated text, read and written one way everywhere: the device files and structure
// files read by the importer, the station table, the results tables, the manifest of a network.
//
// Reading follows RFC 4180: records of fields separated by a delimiter; a field may be put in
// double quotes, inside which a quote is written twice and delimiters and line ends are text;
// CRLF or LF line ends; a UTF-8 byte-order mark at the start is ignored; records without any
// content (empty lines) are skipped.  Every record keeps the line on which it starts, for
// messages.  A quote that is never closed, text after a closing quote and a quote inside an
// unquoted field are errors naming the file and the line.
//
//   for (const CsvRecord& r : read_csv(text, "survey.csv")) ... r.line, r.fields ...
//   const CsvSheet sheet = read_csv_sheet(text, "manifest.csv");   // header + equal rows
//
// Writing: a field is quoted (its quotes doubled) only when it holds the delimiter, a quote or a
// line break.  Text meant for spreadsheets (`CsvRow::field`) is made valid UTF-8 without control
// characters and kept from running as a formula: text beginning with '=', '+', '-', '@', a tab or
// a carriage return -- or with a single quote before one of those -- is written with a leading
// single quote inside a quoted field ("'=1+2"); `unguarded` takes that quote off again.  Numbers
// are written locale-free in the shortest form that reads back to the same value, never quoted,
// so a negative number stays a number.

#include <string>
#include <string_view>
#include <vector>

#include "common/output_file.h"

namespace basinfit {

struct CsvRecord {
  int line = 0;  // where the record starts, from 1
  std::vector<std::string> fields;
  std::vector<bool> quoted;  // per field: it was written in quotes
};

struct CsvReadOptions {
  char delimiter = ',';
  // Blanks and tabs around a field are taken off (hand-written device files: "12.5 , 40");
  // inside quotes they are text.
  bool trim_blanks = false;
};

// Throws InputError naming `file` and the line.
std::vector<CsvRecord> read_csv(std::string_view text, const std::string& file, CsvReadOptions options = {});

// The delimiter of a CSV file guessed from its first line: the most frequent of comma,
// semicolon and tab outside quotes (comma when none appears).
char guess_delimiter(std::string_view text);

// A table with a header row whose every row has the header's number of fields.
struct CsvSheet {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  std::vector<int> row_lines;  // the line where each row starts (the header is line 1 or later)
};
// Throws InputError on a malformed record or a row whose field count differs from the header's.
CsvSheet read_csv_sheet(std::string_view text, const std::string& file);

// A text field as a spreadsheet-guarded writer wrote it, with the guarding quote taken off.
std::string unguarded(std::string field);

// The shortest decimal text that reads back to `value` ("" for NaN, "inf"/"-inf").
std::string number_text(float value);
std::string number_text(double value);

// One record being built; `text()` is the finished record without its line end.
class CsvRow {
 public:
  CsvRow& field(std::string_view text);  // text for spreadsheets, guarded as above
  CsvRow& plain(std::string_view text);  // text as it is (quoted only where the syntax needs it)
  CsvRow& number(float value);
  CsvRow& number(double value);
  CsvRow& number(int value);
  CsvRow& empty();
  const std::string& text() const { return text_; }
  // Each field's text as given, before quoting and guarding.
  const std::vector<std::string>& values() const { return values_; }

 private:
  void separate();
  CsvRow& put(std::string_view text, bool quoted);
  std::string text_;
  std::vector<std::string> values_;
  bool first_ = true;
};

// A table written to a checked output file with CRLF line ends; a row reaches the file at the
// next flush.
class CsvTable {
 public:
  explicit CsvTable(OutputFile& file) : file_(file) {}
  void header(const std::vector<std::string>& names);
  void row(const CsvRow& row);
  void flush() { file_.flush(); }

 private:
  OutputFile& file_;
};

}  // namespace basinfit
