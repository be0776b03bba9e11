#include "plot/canvas.h"

#include <charconv>

namespace basinfit::plot {
namespace {

// Reads a positive decimal number at the front of `s` and removes it.
std::optional<int> take_number(std::string_view& s) {
  int value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || end == s.data() || value <= 0) return std::nullopt;
  s.remove_prefix(static_cast<std::size_t>(end - s.data()));
  return value;
}

}  // namespace

std::optional<FontRequest> parse_font_request(std::string_view request) {
  if (request.size() < 3 || request[0] != 't' || request[1] != '\'') return std::nullopt;
  request.remove_prefix(2);
  const auto quote = request.find('\'');
  if (quote == std::string_view::npos || quote == 0) return std::nullopt;
  FontRequest font;
  font.typeface = std::string(request.substr(0, quote));
  request.remove_prefix(quote + 1);
  if (request.empty() || request[0] != 'h') return std::nullopt;
  request.remove_prefix(1);
  const auto height = take_number(request);
  if (!height || request.empty() || request[0] != 'w') return std::nullopt;
  request.remove_prefix(1);
  const auto width = take_number(request);
  if (!width || !request.empty()) return std::nullopt;
  font.height = *height;
  font.width = *width;
  return font;
}

}  // namespace basinfit::plot
