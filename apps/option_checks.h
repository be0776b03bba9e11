#pragma once
// Checks of numeric command-line values shared by the tools: NaN and infinity are refused
// (they pass every comparison), and a value out of range is told with its bounds as people
// write them ("from 1 to 1024", "above 0"), not as the largest double.

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <iostream>
#include <optional>
#include <string>

#include "common/file_names.h"

namespace basinfit::cli {

// The shortest decimal of `value` ("0", "1024", "0.5").
inline std::string bound_text(double value) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return std::string(buffer, end);
}

// A finite number; above `low` (or at least `low` when `low_included`), and at most `high` when
// given.
inline CLI::Validator finite_number(double low, bool low_included,
                                    std::optional<double> high = std::nullopt) {
  std::string range = (low_included ? "at least " : "above ") + bound_text(low);
  if (high) range = "from " + bound_text(low) + " to " + bound_text(*high);
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        double value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
          return "expected a finite number " + range + ", found '" + text + "'";
        if (value < low || (value == low && !low_included) || (high && value > *high))
          return "expected a number " + range + ", found " + text;
        return {};
      },
      "NUMBER " + range);
}

// A whole number from `low` to `high`.
inline CLI::Validator whole_number(long long low, long long high) {
  const std::string range = "from " + std::to_string(low) + " to " + std::to_string(high);
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        long long value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size())
          return "expected a whole number " + range + ", found '" + text + "'";
        if (value < low || value > high) return "expected a whole number " + range + ", found " + text;
        return {};
      },
      "INT " + range);
}

// What a tool does with a command line CLI11 refused: --help and --version are printed as CLI11
// does (status 0); a usage error is one message, after `prefix`, with the control bytes of the
// command line (which may come from a file) shown visibly, and status 2.
inline int usage_error(const CLI::App& app, const CLI::ParseError& e, const std::string& prefix) {
  if (e.get_exit_code() == 0) return app.exit(e);
  std::cerr << prefix << visible_name(e.what()) << "\nRun with --help for more information.\n";
  return 2;
}

}  // namespace basinfit::cli
