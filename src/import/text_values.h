#pragma once
// Small text helpers shared by the readers: trimming, case folding, splitting, and the one
// number parser, which accepts plain decimal numbers only (no hex, no inf or nan) so that a
// damaged field is reported instead of read as something else.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace basinfit::import {

std::string_view trim(std::string_view text);
std::string lower(std::string_view text);
// Lower case with blanks, underscores, hyphens and dots removed: "Drop_No" -> "dropno".
std::string fold(std::string_view text);
std::vector<std::string> split(std::string_view text, char delimiter);
// The lines of `text` without their line ends (a last line end adds no empty line).
std::vector<std::string> split_lines(std::string_view text);

// A finite decimal number with `decimal` as the decimal mark; surrounding blanks allowed.
std::optional<double> parse_number(std::string_view text, char decimal = '.');

// The shortest text that reads back as the same single-precision value, in plain decimal
// notation (no exponent), as the engine's list-directed input expects.
std::string float_text(double value);

// A value in a message: up to 10 significant digits.
std::string number_text(double value);

}  // namespace basinfit::import
