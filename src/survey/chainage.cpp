#include "survey/chainage.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace basinfit::survey {
namespace {

constexpr double kFeetPerMetre = 1.0 / 0.3048;
constexpr double kLongestRouteMetres = 1.0e6;
constexpr double kLargestSpacingJump = 100;

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
  (void)decimal;
  if (!value) return std::nullopt;
  if (kilometres) return *value * 1000.0 * to_run_units;
  return *value;
}

std::string implausible_positions(const std::vector<double>& position, const std::vector<std::string>& ids,
                                  bool metric) {
  if (position.size() < 2) return {};
  const auto [low, high] = std::minmax_element(position.begin(), position.end());
  const double longest = metric ? kLongestRouteMetres : kLongestRouteMetres * kFeetPerMetre;
  const auto length = [&](double v) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.6g %s", v, metric ? "m" : "ft");
    return std::string(buffer);
  };
  if (*high - *low > longest)
    return "their positions span " + length(*high - *low) + ", more than the 1,000 km any survey covers";
  for (std::size_t i = 2; i < position.size(); ++i) {
    const double before = std::fabs(position[i - 1] - position[i - 2]);
    const double after = std::fabs(position[i] - position[i - 1]);
    const double small = std::min(before, after), large = std::max(before, after);
    if (large > kLargestSpacingJump * small)
      return "the spacing jumps from " + length(before) + " to " + length(after) + " at \"" +
             (i < ids.size() ? ids[i] : std::to_string(i + 1)) + "\", more than a factor of 100";
  }
  return {};
}

namespace {

// Why positions do not run strictly one way (empty when they do).
std::string not_one_way(const std::vector<double>& position, const std::vector<std::string>& ids,
                        const std::string& source) {
  if (position.size() < 2) return {};
  const bool up = position[1] > position[0];
  for (std::size_t i = 1; i < position.size(); ++i) {
    const bool step_up = position[i] > position[i - 1];
    if (position[i] == position[i - 1] || step_up != up)
      return "the chainages " + source + " do not run one way along the route (at \"" + ids[i] + "\")";
  }
  return {};
}

}  // namespace

StationPositions station_positions(const std::vector<std::string>& ids, bool metric,
                                   const std::vector<std::optional<double>>& chainages,
                                   const std::string& table) {
  StationPositions out;
  out.position.reserve(ids.size());
  if (!chainages.empty()) {
    for (std::size_t i = 0; i < ids.size(); ++i) {
      if (i >= chainages.size() || !chainages[i]) {
        out.note = "the station table " + table + " has no row for the station \"" + ids[i] + "\"";
        break;
      }
      out.position.push_back(*chainages[i]);
    }
    if (out.note.empty()) out.note = not_one_way(out.position, ids, "of the station table " + table);
    if (out.note.empty()) {
      const std::string why = implausible_positions(out.position, ids, metric);
      if (!why.empty()) out.note = "the chainages of the station table " + table + " cannot be right: " + why;
    }
    out.from_table = out.note.empty() && !ids.empty();
  } else {
    for (const std::string& id : ids) {
      const auto position = parse_chainage(id, metric);
      if (!position) {
        out.note = "the station identifier \"" + id + "\" does not read as a chainage";
        break;
      }
      out.position.push_back(*position);
    }
    if (out.note.empty()) out.note = not_one_way(out.position, ids, "of the station identifiers");
    if (out.note.empty()) {
      const std::string why = implausible_positions(out.position, ids, metric);
      if (!why.empty()) out.note = "the station identifiers read as chainages cannot be right: " + why;
    }
    out.from_identifiers = out.note.empty() && !ids.empty();
  }
  if (out.along_route()) {
    out.unit = metric ? "m" : "ft";
    return out;
  }
  out.position.clear();
  for (std::size_t i = 0; i < ids.size(); ++i) out.position.push_back(static_cast<double>(i + 1));
  out.unit = "station";
  if (out.note.empty()) out.note = "there are no stations";
  return out;
}

}  // namespace basinfit::survey
