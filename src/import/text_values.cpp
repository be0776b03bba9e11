#include "import/text_values.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace basinfit::import {

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string fold(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '_' || c == '-' || c == '.') continue;
    out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return out;
}

std::vector<std::string> split(std::string_view text, char delimiter) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const auto end = text.find(delimiter, start);
    parts.emplace_back(
        trim(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start)));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    lines.emplace_back(
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

std::optional<double> parse_number(std::string_view text, char decimal) {
  text = trim(text);
  if (text.empty() || text.size() > 64) return std::nullopt;
  std::string plain(text);
  if (plain[0] == '+') plain.erase(0, 1);
  if (plain.empty()) return std::nullopt;
  for (char& c : plain) {
    if (c == decimal) {
      c = '.';
    } else if (c == '.' && decimal != '.') {
      return std::nullopt;  // a point where a comma is the decimal mark is no number of this file
    } else if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == 'e' || c == 'E')) {
      return std::nullopt;
    }
  }
  double value = 0;
  const char* end = plain.data() + plain.size();
  const auto [ptr, ec] = std::from_chars(plain.data(), end, value, std::chars_format::general);
  if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::string float_text(double value) {
  char buffer[64];
  const float f = static_cast<float>(value);
  const auto [ptr, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, f == 0.0f ? 0.0f : f, std::chars_format::fixed);
  if (ec != std::errc()) return "0";
  return std::string(buffer, ptr);
}

std::string number_text(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.10g", value);
  return buffer;
}

}  // namespace basinfit::import
