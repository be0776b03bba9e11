#include "results/csv_writer.h"

#include <charconv>
#include <cmath>

namespace basinfit::results {

namespace {

template <class T>
std::string shortest(T value) {
  if (std::isnan(value)) return {};
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[64];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return std::string(buffer, end);
}

bool needs_quotes(std::string_view text) { return text.find_first_of(",\"\r\n") != std::string_view::npos; }

}  // namespace

std::string number_text(float value) { return shortest(value); }
std::string number_text(double value) { return shortest(value); }

void CsvRow::separate() {
  if (!first_) text_ += ',';
  first_ = false;
}

CsvRow& CsvRow::field(std::string_view text) {
  separate();
  if (!needs_quotes(text)) {
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

CsvRow& CsvRow::number(float value) { return field(number_text(value)); }
CsvRow& CsvRow::number(double value) { return field(number_text(value)); }
CsvRow& CsvRow::number(int value) { return field(std::to_string(value)); }
CsvRow& CsvRow::empty() { return field({}); }

void CsvTable::header(const std::vector<std::string>& names) {
  CsvRow row;
  for (const std::string& name : names) row.field(name);
  this->row(row);
}

void CsvTable::row(const CsvRow& row) {
  file_.write(row.text());
  file_.write("\r\n");
}

}  // namespace basinfit::results
