#include "common/csv.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

#include "common/input_error.h"
#include "common/text_encoding.h"

namespace basinfit {
namespace {

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool blank(char c) { return c == ' ' || c == '\t'; }

// Reads one field starting at `i`; leaves `i` at the delimiter, the line end or the end.
std::string read_field(std::string_view text, std::size_t& i, int& line, const std::string& file,
                       const CsvReadOptions& options, bool& quoted) {
  const char delimiter = options.delimiter;
  std::size_t start = i;
  if (options.trim_blanks)
    while (start < text.size() && blank(text[start]) && text[start] != delimiter) ++start;
  std::string field;
  quoted = start < text.size() && text[start] == '"';
  if (!quoted) {
    while (i < text.size() && text[i] != delimiter && text[i] != '\n' && text[i] != '\r') {
      if (text[i] == '"')
        throw InputError(file, line, "a double quote inside an unquoted field (quote the whole field)");
      field.push_back(text[i++]);
    }
    return options.trim_blanks ? std::string(trimmed(field)) : field;
  }
  const int opened = line;
  for (i = start + 1;;) {
    if (i >= text.size())
      throw InputError(file, opened, "a quoted field is not closed before the end of the file");
    const char c = text[i++];
    if (c == '"') {
      if (i < text.size() && text[i] == '"') {
        field.push_back('"');
        ++i;
        continue;
      }
      break;
    }
    if (c == '\n') ++line;
    field.push_back(c);
  }
  // After the closing quote only blanks, the delimiter or the line end may follow.
  while (i < text.size() && blank(text[i]) && text[i] != delimiter) ++i;
  if (i < text.size() && text[i] != delimiter && text[i] != '\n' && text[i] != '\r')
    throw InputError(file, line, "text after the closing quote of a field");
  return options.trim_blanks ? std::string(trimmed(field)) : field;
}

template <class T>
std::string shortest(T value) {
  if (std::isnan(value)) return {};
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[64];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return std::string(buffer, end);
}

bool needs_quotes(std::string_view text) { return text.find_first_of(",\"\r\n") != std::string_view::npos; }

// A spreadsheet runs a cell that begins with one of these as a formula.
bool formula_start(char c) { return c != '\0' && std::strchr("=+-@\t\r", c) != nullptr; }

}  // namespace

std::vector<CsvRecord> read_csv(std::string_view text, const std::string& file, CsvReadOptions options) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark
  std::vector<CsvRecord> records;
  std::size_t i = 0;
  int line = 1;
  while (i < text.size()) {
    CsvRecord record;
    record.line = line;
    for (;;) {
      bool quoted = false;
      record.fields.push_back(read_field(text, i, line, file, options, quoted));
      record.quoted.push_back(quoted);
      if (i < text.size() && text[i] == options.delimiter) {
        ++i;
        continue;
      }
      break;
    }
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') ++i;
    ++line;
    const bool empty_line = record.fields.size() == 1 && !record.quoted[0] && record.fields[0].empty();
    if (!empty_line) records.push_back(std::move(record));
  }
  return records;
}

char guess_delimiter(std::string_view text) {
  const std::string_view first = text.substr(0, text.find('\n'));
  std::array<int, 3> counts{};
  bool quoted = false;
  for (char c : first) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == ',') ++counts[0];
    if (c == ';') ++counts[1];
    if (c == '\t') ++counts[2];
  }
  if (counts[1] > counts[0] && counts[1] >= counts[2]) return ';';
  if (counts[2] > counts[0] && counts[2] > counts[1]) return '\t';
  return ',';
}

CsvSheet read_csv_sheet(std::string_view text, const std::string& file) {
  CsvSheet sheet;
  std::vector<CsvRecord> records = read_csv(text, file);
  if (records.empty()) return sheet;
  sheet.header = std::move(records.front().fields);
  for (std::size_t r = 1; r < records.size(); ++r) {
    if (records[r].fields.size() != sheet.header.size())
      throw InputError(file, records[r].line,
                       "expected " + std::to_string(sheet.header.size()) +
                           " fields as in the header, found " + std::to_string(records[r].fields.size()));
    sheet.rows.push_back(std::move(records[r].fields));
    sheet.row_lines.push_back(records[r].line);
  }
  return sheet;
}

std::string unguarded(std::string field) {
  if (field.size() >= 2 && field[0] == '\'' && formula_start(field[1])) field.erase(0, 1);
  return field;
}

std::string number_text(float value) { return shortest(value); }
std::string number_text(double value) { return shortest(value); }

void CsvRow::separate() {
  if (!first_) text_ += ',';
  first_ = false;
}

CsvRow& CsvRow::field(std::string_view raw) {
  const std::string text = printable_utf8(raw);
  // Text beginning with a quote before a formula character is guarded too, so that a reader
  // that strips one quote before a formula character gets every field back.
  const bool guarded = !text.empty() && (formula_start(text[0]) ||
                                         (text[0] == '\'' && text.size() > 1 && formula_start(text[1])));
  put(guarded ? "'" + text : text, guarded);
  values_.back() = text;
  return *this;
}

CsvRow& CsvRow::plain(std::string_view text) { return put(text, false); }

CsvRow& CsvRow::put(std::string_view text, bool quoted) {
  separate();
  values_.emplace_back(text);
  if (!quoted && !needs_quotes(text)) {
    text_ += text;
    return *this;
  }
  text_ += '"';
  for (const char c : text) {
    if (c == '"') text_ += '"';
    text_ += c;
  }
  text_ += '"';
  return *this;
}

CsvRow& CsvRow::number(float value) { return put(number_text(value), false); }
CsvRow& CsvRow::number(double value) { return put(number_text(value), false); }
CsvRow& CsvRow::number(int value) { return put(std::to_string(value), false); }
CsvRow& CsvRow::empty() { return put({}, false); }

void CsvTable::header(const std::vector<std::string>& names) {
  CsvRow row;
  for (const std::string& name : names) row.field(name);
  this->row(row);
}

void CsvTable::row(const CsvRow& row) {
  file_.write(row.text());
  file_.write("\r\n");
}

}  // namespace basinfit
