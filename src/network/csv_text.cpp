#include "network/csv_text.h"

#include "common/input_error.h"

namespace basinfit::network {

CsvText parse_csv(std::string_view text, const std::string& file) {
  CsvText table;
  std::vector<std::string> fields;
  std::string field;
  int line = 1, row_line = 1;
  bool any = false;  // the current record has content
  const auto end_record = [&] {
    fields.push_back(std::move(field));
    field.clear();
    const bool blank = fields.size() == 1 && fields[0].empty() && !any;
    if (!blank) {
      if (table.header.empty()) {
        table.header = std::move(fields);
      } else {
        if (fields.size() != table.header.size())
          throw InputError(file, row_line,
                           "expected " + std::to_string(table.header.size()) +
                               " fields as in the header, found " + std::to_string(fields.size()));
        table.rows.push_back(std::move(fields));
        table.row_lines.push_back(row_line);
      }
    }
    fields.clear();
    any = false;
  };
  std::size_t i = 0;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") i = 3;  // a byte-order mark some spreadsheets write
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"' && field.empty()) {
      any = true;
      const int opened = line;
      for (++i;; ++i) {
        if (i >= text.size()) throw InputError(file, opened, "a quoted field is not closed");
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            field += '"';
            ++i;
          } else {
            break;
          }
        } else {
          if (text[i] == '\n') ++line;
          field += text[i];
        }
      }
    } else if (c == ',') {
      any = true;
      fields.push_back(std::move(field));
      field.clear();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      end_record();
      ++line;
      row_line = line;
    } else {
      any = true;
      field += c;
    }
  }
  if (any || !field.empty()) end_record();
  return table;
}

}  // namespace basinfit::network
