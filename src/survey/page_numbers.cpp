#include "survey/internal/page_numbers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace basinfit::survey::html {

bool drawable(double v, bool positive) { return std::isfinite(v) && (!positive || v > 0); }

std::string fixed(double value, int decimals) {
  if (!std::isfinite(value)) return "none";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  std::string s = buffer;
  if (s == "-0" || s.find_first_not_of("-0.") == std::string::npos) s.erase(0, s.front() == '-' ? 1 : 0);
  return s;
}

std::string value(double v) {
  const double a = std::fabs(v);
  if (a >= 1000) return fixed(v, 0);
  if (a >= 100) return fixed(v, 1);
  if (a >= 10) return fixed(v, 2);
  return fixed(v, 3);
}

std::string tick_text(double v, double step) {
  const int decimals = step > 0 ? std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9))) : 0;
  return fixed(std::fabs(v) < step * 1e-6 ? 0.0 : v, decimals);
}

std::string px(double v) { return fixed(v, 1); }

std::string datum(double v) {
  if (!std::isfinite(v)) return "null";
  std::string text = value(v);
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

}  // namespace basinfit::survey::html
