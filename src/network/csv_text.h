#pragma once
// Reading comma-separated tables with a header row, as the results tables and the manifest are
// written: fields quoted with " when they hold a comma, a quote or a line break, "" for a quote.

#include <string>
#include <string_view>
#include <vector>

namespace basinfit::network {

struct CsvText {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  std::vector<int> row_lines;  // the line in the file where each row starts (header: line 1)
};

// Throws InputError naming `file` and the line on an unterminated quote or a row whose field
// count differs from the header's.
CsvText parse_csv(std::string_view text, const std::string& file);

}  // namespace basinfit::network
