#include "import/csv_table.h"
#include "import/readers.h"
#include "import/text_values.h"

namespace basinfit::import {

const char* format_name(Format format) {
  switch (format) {
    case Format::kPddx:
      return "pddx";
    case Format::kLtpp:
      return "ltpp";
    case Format::kGenericCsv:
      return "csv";
    case Format::kF25:
      return "f25";
  }
  return "?";
}

std::optional<Format> parse_format(std::string_view word) {
  const std::string w = fold(word);
  for (Format f : {Format::kPddx, Format::kLtpp, Format::kGenericCsv, Format::kF25})
    if (w == format_name(f)) return f;
  return std::nullopt;
}

std::optional<Format> detect_format(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  // The first line that holds anything.
  std::string_view first;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    first = trim(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (!first.empty()) break;
    start = end == std::string_view::npos ? text.size() : end + 1;
  }
  if (first.empty()) return std::nullopt;
  const std::string head = fold(first);
  if (head == "[pavementdeflectiondataexchangefile]" ||
      lower(text.substr(0, 4096)).find("pddxversionnumber") != std::string::npos)
    return Format::kPddx;
  // F25: comma-separated records whose first field is a four-digit record id, a header record
  // (50xx) first, and a 5020 record (plate and sensor positions).
  if (first.size() > 5 && first.substr(0, 2) == "50" && first.find(',') == 4 &&
      first.substr(0, 4).find_first_not_of("0123456789") == std::string_view::npos &&
      (text.find("\n5020,") != std::string_view::npos || text.substr(0, 5) == "5020,"))
    return Format::kF25;
  // CSV with a header row: LTPP deflection tables by their column names, else a generic table.
  const char delimiter = guess_delimiter(first);
  const std::vector<std::string> names = split(first, delimiter);
  bool ltpp = false;
  int named = 0;
  for (const std::string& n : names) {
    const std::string f = fold(n);
    if (f == "pointloc" || f == "configurationno" || f == "centeroffset" || f == "plateradius" ||
        f == "peakdefl1")
      ltpp = true;
    if (!f.empty() && !parse_number(n)) ++named;
  }
  if (ltpp) return Format::kLtpp;
  if (names.size() >= 2 && named == static_cast<int>(names.size())) return Format::kGenericCsv;
  return std::nullopt;
}

}  // namespace basinfit::import
