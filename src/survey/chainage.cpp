#include "survey/chainage.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace basinfit::survey {
namespace {

constexpr double kFeetPerMetre = 1.0 / 0.3048;
constexpr double kFeetPerMile = 5280.0;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits with at most one decimal point and at least one digit; sets `decimal` when the point
// is there.
std::optional<double> read_number(std::string_view text, bool& decimal) {
  decimal = false;
  int digits = 0;
  for (char c : text) {
    if (is_digit(c)) {
      ++digits;
    } else if (c == '.' && !decimal) {
      decimal = true;
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<double> parse_chainage(std::string_view id, bool metric) {
  const auto first = id.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  id = id.substr(first, id.find_last_not_of(" \t") - first + 1);

  // Prefixes: "KM" (kilometres) and "STA" (a station number, read like no prefix at all).
  const auto has_prefix = [&](std::string_view prefix) {
    if (id.size() <= prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
      if (std::toupper(static_cast<unsigned char>(id[i])) != prefix[i]) return false;
    return true;
  };
  bool kilometres = false;
  if (has_prefix("KM")) {
    kilometres = true;
    id.remove_prefix(2);
  } else if (has_prefix("STA")) {
    id.remove_prefix(3);
  }
  const double to_run_units = metric ? 1.0 : kFeetPerMetre;

  const auto plus = id.find('+');
  if (plus != std::string_view::npos) {
    bool whole_decimal = false, rest_decimal = false;
    const auto whole = read_number(id.substr(0, plus), whole_decimal);
    const auto rest = read_number(id.substr(plus + 1), rest_decimal);
    if (!whole || !rest || whole_decimal) return std::nullopt;
    if (kilometres || metric) return (*whole * 1000.0 + *rest) * to_run_units;
    return *whole * 100.0 + *rest;  // English stations of 100 ft
  }
  bool decimal = false;
  const auto value = read_number(id, decimal);
  if (!value) return std::nullopt;
  if (kilometres) return *value * 1000.0 * to_run_units;
  if (decimal) return metric ? *value * 1000.0 : *value * kFeetPerMile;
  return *value;
}

StationPositions station_positions(const std::vector<std::string>& ids, bool metric) {
  StationPositions out;
  out.position.reserve(ids.size());
  for (const std::string& id : ids) {
    const auto position = parse_chainage(id, metric);
    if (!position) {
      out.note = "the station identifier \"" + id + "\" does not read as a chainage";
      break;
    }
    out.position.push_back(*position);
  }
  if (out.note.empty() && out.position.size() >= 2) {
    const bool up = out.position[1] > out.position[0];
    for (std::size_t i = 1; i < out.position.size(); ++i) {
      const bool step_up = out.position[i] > out.position[i - 1];
      if (out.position[i] == out.position[i - 1] || step_up != up) {
        out.note = "the chainages of the station identifiers do not run one way along the route (at \"" +
                   ids[i] + "\")";
        break;
      }
    }
  }
  if (out.note.empty() && !ids.empty()) {
    out.from_identifiers = true;
    out.unit = metric ? "m" : "ft";
    return out;
  }
  out.position.clear();
  for (std::size_t i = 0; i < ids.size(); ++i) out.position.push_back(static_cast<double>(i + 1));
  out.unit = "station";
  out.from_identifiers = false;
  if (out.note.empty()) out.note = "there are no stations";
  return out;
}

}  // namespace basinfit::survey
