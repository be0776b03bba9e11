#include "import/csv_table.h"

#include <array>

#include "common/input_error.h"
#include "import/text_values.h"

namespace basinfit::import {

std::vector<CsvRecord> parse_csv(std::string_view text, const std::string& file, char delimiter) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<CsvRecord> records;
  std::size_t i = 0;
  int line = 1;
  while (i < text.size()) {
    CsvRecord record;
    record.line = line;
    std::string field;
    bool any = false;  // the record holds something besides its line end
    while (true) {
      if (i < text.size() && text[i] == '"') {
        any = true;
        const int opened = line;
        ++i;
        while (true) {
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
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t') && text[i] != delimiter) ++i;
        if (i < text.size() && text[i] != delimiter && text[i] != '\n' && text[i] != '\r')
          throw InputError(file, line, "text after the closing quote of a field");
      } else {
        while (i < text.size() && text[i] != delimiter && text[i] != '\n' && text[i] != '\r') {
          if (text[i] == '"')
            throw InputError(file, line, "a double quote inside an unquoted field (quote the whole field)");
          field.push_back(text[i++]);
        }
        if (!trim(field).empty()) any = true;
      }
      record.fields.emplace_back(trim(field));
      field.clear();
      if (i < text.size() && text[i] == delimiter) {
        any = true;
        ++i;
        continue;
      }
      break;
    }
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') ++i;
    ++line;
    if (any) records.push_back(std::move(record));
  }
  return records;
}

char guess_delimiter(std::string_view text) {
  const auto end = text.find('\n');
  const std::string_view first = text.substr(0, end);
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
