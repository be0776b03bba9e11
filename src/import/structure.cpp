#include "import/structure.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/input_error.h"
#include "import/csv_table.h"
#include "import/text_values.h"
#include "run/run_state.h"

namespace basinfit::import {

std::string read_bytes(const std::string& path, std::size_t max_bytes) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    throw InputError(path, 0, "cannot read: it is a folder", InputError::Kind::kFileSystem);
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw InputError(path, 0, std::string("cannot open: ") + std::strerror(errno),
                     InputError::Kind::kFileSystem);
  // Read in pieces so that a device or a pipe without end (/dev/zero) is refused at the limit
  // instead of filling the memory.
  std::string text;
  std::vector<char> piece(1 << 16);
  std::size_t line_start = 0;
  int line = 1;
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    const std::size_t before = text.size();
    text.append(piece.data(), got);
    for (std::size_t i = before; i < text.size(); ++i)
      if (text[i] == '\n') {
        line_start = i + 1;
        ++line;
      }
    if (text.size() - line_start > kMaxLineBytes)
      throw InputError(path, line,
                       "no line end within the first " + std::to_string(kMaxLineBytes) +
                           " bytes of the line; this is not a survey or structure file");
    if (text.size() > max_bytes)
      throw InputError(path, 0,
                       "the file is larger than " + std::to_string(max_bytes) +
                           " bytes, more than any survey or structure file read here");
  }
  if (in.bad()) throw InputError(path, 0, "cannot read", InputError::Kind::kFileSystem);
  return text;
}

const ThicknessRange* Structure::thickness_at(std::optional<double> chainage) const {
  for (const ThicknessRange& r : ranges) {
    if (!chainage) {
      if (!r.from && !r.to) return &r;
      continue;
    }
    if (r.from && *chainage < *r.from) continue;
    if (r.to && *chainage > *r.to) continue;
    return &r;
  }
  return nullptr;
}

namespace {

class RowReader {
 public:
  RowReader(const std::string& file, const CsvRecord& row) : file_(file), row_(row) {}
  std::size_t size() const { return row_.fields.size(); }
  std::string_view text(std::size_t i) const {
    return i < row_.fields.size() ? row_.fields[i] : std::string_view();
  }
  double number(std::size_t i, const char* what) const {
    const auto v = parse_number(text(i));
    if (!v)
      fail(std::string("field ") + std::to_string(i + 1) + ": expected " + what + ", found '" +
           std::string(text(i)) + "'");
    return *v;
  }
  std::optional<double> optional_number(std::size_t i, const char* what) const {
    if (text(i).empty()) return std::nullopt;
    return number(i, what);
  }
  int integer(std::size_t i, const char* what) const {
    const double v = number(i, what);
    if (v != static_cast<double>(static_cast<int>(v)))
      fail(std::string("field ") + std::to_string(i + 1) + ": expected " + what +
           " (a whole number), found '" + std::string(text(i)) + "'");
    return static_cast<int>(v);
  }
  [[noreturn]] void fail(const std::string& reason) const {
    throw InputError(file_, row_.line, lower(row_.fields[0]) + " record: " + reason);
  }

 private:
  const std::string& file_;
  const CsvRecord& row_;
};

}  // namespace

Structure parse_structure(std::string_view text, const std::string& file) {
  // Comment lines are blanked (not removed) so that line numbers stay true.
  std::string cleaned;
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find('\n', start);
    std::string_view line =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!trim(line).empty() && trim(line)[0] == '#') line = {};
    cleaned.append(line);
    if (end == std::string_view::npos) break;
    cleaned.push_back('\n');
    start = end + 1;
  }
  Structure s;
  s.file = file;
  bool stiff_given = false;
  for (const CsvRecord& row : read_csv(cleaned, file, device_csv(guess_delimiter(cleaned)))) {
    const RowReader r(file, row);
    const std::string kind = fold(row.fields[0]);
    if (kind == "units") {
      const std::string u = fold(r.text(1));
      if (u != "metric" && u != "english")
        r.fail("expected metric or english, found '" + std::string(r.text(1)) + "'");
      s.english = u == "english";
      s.units_given = true;
    } else if (kind == "title") {
      s.title = std::string(r.text(1));
    } else if (kind == "layer") {
      StructureLayer layer;
      layer.line = row.line;
      layer.number = r.integer(1, "the layer number");
      const std::string type = fold(r.text(2));
      if (type == "backcalculated" || type == "0") {
        layer.type = 0;
      } else if (type == "fixed" || type == "1") {
        layer.type = 1;
      } else {
        r.fail("field 3: expected backcalculated or fixed, found '" + std::string(r.text(2)) + "'");
      }
      layer.poisson = r.number(3, "Poisson's ratio");
      if (!(layer.poisson >= 0 && layer.poisson <= 0.5))
        r.fail("Poisson's ratio " + number_text(layer.poisson) + ", expected 0 to 0.5");
      layer.modulus = r.number(4, layer.type == 0 ? "the seed modulus" : "the fixed modulus");
      if (!(layer.modulus > 0)) r.fail("modulus " + number_text(layer.modulus) + ", expected above 0");
      if (layer.type == 0) {
        layer.lower = r.number(5, "the lower modulus bound");
        layer.upper = r.number(6, "the upper modulus bound");
        if (layer.lower < 0 || layer.upper < 0 || (layer.upper > 0 && layer.lower >= layer.upper))
          r.fail("bounds " + number_text(layer.lower) + " and " + number_text(layer.upper) +
                 ", expected 0 <= lower < upper");
      }
      for (const StructureLayer& l : s.layers)
        if (l.number == layer.number)
          r.fail("layer " + std::to_string(layer.number) + " is already given on line " +
                 std::to_string(l.line));
      s.layers.push_back(layer);
    } else if (kind == "stifflayer") {
      const std::string v = fold(r.text(1));
      if (v == "yes" || v == "1" || v == "true") {
        s.stiff_layer = true;
      } else if (v == "no" || v == "0" || v == "false") {
        s.stiff_layer = false;
      } else {
        r.fail("expected yes or no, found '" + std::string(r.text(1)) + "'");
      }
      stiff_given = true;
    } else if (kind == "thickness") {
      ThicknessRange range;
      range.line = row.line;
      range.from = r.optional_number(1, "the chainage where the range starts");
      range.to = r.optional_number(2, "the chainage where the range ends");
      if (range.from && range.to && *range.to < *range.from) r.fail("the range ends before it starts");
      for (std::size_t i = 3; i < r.size(); ++i) {
        if (r.text(i).empty() && i + 1 == r.size()) break;
        const double h = r.number(i, "a layer thickness");
        if (!(h > 0)) r.fail("thickness " + number_text(h) + ", expected above 0");
        range.thicknesses.push_back(h);
      }
      s.ranges.push_back(range);
    } else if (kind == "point") {
      EvaluationPoint p;
      p.line = row.line;
      p.radius = r.number(1, "the radial distance");
      p.layer = r.integer(2, "the layer number");
      p.position = r.integer(3, "the position (0 top, 1 middle, 2 bottom)");
      if (p.radius < 0) r.fail("the radial distance is negative");
      if (p.position < 0 || p.position > 2)
        r.fail("position " + std::to_string(p.position) + ", expected 0, 1 or 2");
      s.points.push_back(p);
    } else {
      throw InputError(file, row.line,
                       "unknown record '" + row.fields[0] +
                           "', expected units, title, layer, stiff_layer, thickness or point");
    }
  }
  (void)stiff_given;
  std::sort(s.layers.begin(), s.layers.end(),
            [](const auto& a, const auto& b) { return a.number < b.number; });
  const int n = static_cast<int>(s.layers.size());
  if (n == 0) throw InputError(file, 0, "no layer records; expected one per layer (layer,number,type,...)");
  if (n > kMaxLayers)
    throw InputError(file, s.layers.back().line, "more than " + std::to_string(kMaxLayers) + " layers");
  for (int j = 0; j < n; ++j)
    if (s.layers[static_cast<std::size_t>(j)].number != j + 1)
      throw InputError(file, s.layers[static_cast<std::size_t>(j)].line,
                       "layers must be numbered 1 to " + std::to_string(n) + "; layer " +
                           std::to_string(j + 1) + " is missing");
  if (s.stiff_layer && n < 2) throw InputError(file, 0, "a stiff layer needs at least one layer above it");
  const std::size_t above = static_cast<std::size_t>(n - 1);
  for (const ThicknessRange& r : s.ranges)
    if (r.thicknesses.size() != above)
      throw InputError(file, r.line,
                       "thickness record: " + std::to_string(r.thicknesses.size()) +
                           " thicknesses, expected " + std::to_string(above) +
                           " (one per layer above the last)");
  if (above > 0 && s.ranges.empty())
    throw InputError(file, 0, "no thickness record; expected at least one (thickness,from,to,h1,...)");
  if (s.points.size() > static_cast<std::size_t>(kMaxPoints))
    throw InputError(file, s.points[kMaxPoints].line,
                     "more than " + std::to_string(kMaxPoints) + " evaluation points");
  for (const EvaluationPoint& p : s.points)
    if (p.layer < 1 || p.layer > n)
      throw InputError(
          file, p.line,
          "point record: layer " + std::to_string(p.layer) + ", expected 1 to " + std::to_string(n));
  return s;
}

Structure read_structure(const std::string& path) {
  return parse_structure(read_bytes(path, kMaxStructureBytes), path);
}

}  // namespace basinfit::import
