#pragma once
// Numbers as the survey page writes them: in its tables, in its charts' coordinates and tick
// labels, and in the data its script draws from.  Never in exponent form, never "-0"; a value
// that does not exist is "none" in the text and null in the data.

#include <cstddef>
#include <string>

namespace basinfit::survey::html {

// A value that can be placed on a chart (a logarithmic one when positive is asked for).
bool drawable(double v, bool positive = false);

// `decimals` fixed decimals; "none" for a value that is not finite; a value that rounds to zero
// loses its sign.
std::string fixed(double value, int decimals);

// Moduli and deflections with about four significant digits.
std::string value(double v);

// A tick label with as many decimals as the step needs.
std::string tick_text(double v, double step);

// Coordinates in the SVG: one decimal is finer than any screen or printer dot.
std::string px(double v);

// A number of the page's data, as the script reads it: about four significant digits without
// trailing zeros, null where the value does not exist.
std::string datum(double v);

// The first `n` values as a JSON list of data.
template <typename Numbers>
std::string datum_list(const Numbers& values, std::size_t n) {
  std::string out = "[";
  for (std::size_t k = 0; k < n && k < values.size(); ++k) {
    if (k > 0) out += ',';
    out += datum(values[k]);
  }
  return out + "]";
}

}  // namespace basinfit::survey::html
