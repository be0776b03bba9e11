#include "results/csv_writer.h"

#include <charconv>
#include <cmath>

#include "common/text_encoding.h"

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

// A spreadsheet runs a cell that begins with one of these as a formula.
bool formula_start(char c) { return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r'; }

}  // namespace

std::string number_text(float value) { return shortest(value); }
std::string number_text(double value) { return shortest(value); }

void CsvRow::separate() {
  if (!first_) text_ += ',';
  first_ = false;
}

CsvRow& CsvRow::field(std::string_view raw) {
  const std::string text = printable_utf8(raw);
  // Text that a spreadsheet would run as a formula is written after a single quote, inside
  // quotes; so is text that already begins with a quote before such a character, so that a
  // reader that strips one quote before a formula character gets every field back.
  const bool guarded = !text.empty() && (formula_start(text[0]) ||
                                         (text[0] == '\'' && text.size() > 1 && formula_start(text[1])));
  return put(guarded ? "'" + text : text, guarded);
}

CsvRow& CsvRow::put(std::string_view text, bool quoted) {
  separate();
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

}  // namespace basinfit::results
