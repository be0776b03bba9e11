// basinfit-model: forward calculations with the layered elastic response model.
//
// Reads a plain-text description of a pavement, one circular load and up to ten points
// (list-directed: values separated by blanks, commas, tabs or line ends, each group starting on
// a new line) and writes the 19 result columns of every point as a tab-separated table.
#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "basinfit_version.h"
#include "common/file_names.h"
#include "common/input_error.h"
#include "common/list_reader.h"
#include "model/response_model.h"
#include "option_checks.h"

namespace {

using basinfit::InputError;
namespace model = basinfit::model;

constexpr const char* kDescription =
    R"(basinfit-model: displacements, stresses and strains in a layered elastic pavement
under one uniform circular load, by the engine's layered elastic response model.

INPUT is a file, or standard input when no file or a dash is given; it is read list-directed:
  line 1  number of layers n (1 to 5; the last is the half-space)
  line 2  moduli E1 .. En
  line 3  Poisson's ratios nu1 .. nun (0 <= nu < 1; above 0.5 is not physical)
  line 4  thicknesses h1 .. h(n-1)            (absent when n = 1)
  line 5  load radius, contact pressure
  line 6  number of points m (1 to 10)
  then m lines: radial offset, depth, layer number of the point (1 to 5)
Values are separated by blanks, commas, tabs or line ends; each numbered item starts on a new
line and may continue over further lines. Layers that are not given repeat the last layer (all
thicknesses are 10 when n = 1). The load is centred at the origin; a point at offset r lies at
x = 0, y = r. A point at depth 0 is a surface point whatever its layer number.

UNITS: any consistent set, e.g. inches with psi, or mm with MPa (= N/mm2). Stresses come out
in the unit of the pressure and moduli, displacements in the length unit, strains are
dimensionless.

SIGN CONVENTIONS: z points down. Stresses are positive in compression (sigma_zz = +p under the
load at the surface). Displacements are positive against the axes: the deflection w of a loaded
surface is negative; u_x, u_y are positive towards the load centre. Strains are positive in
compression. Columns: sigma_xx sigma_yy sigma_zz tau_yz tau_xz sigma_xy, principal stresses
sigma_1 >= sigma_2 >= sigma_3 and principal strains epsilon_1..3, displacements u_x u_y w,
strains epsilon_xx epsilon_yy epsilon_zz (Hooke's law with the point's layer), and the initial
integration step (in units of 1/h1).

OUTPUT: a header line, then one tab-separated row per point, every value with 17 significant
digits. Exit status: 0 success, 1 input error or failed evaluation, 2 usage or I/O error.)";

// List-directed reading of double-precision values over the records of a text file.  The
// engine's common list reader delivers single-precision values, which would round the data of a
// forward calculation; the records (byte-order mark and CRLF handled) come from its TextFile.
class ListInput {
 public:
  explicit ListInput(const basinfit::TextFile& file) : file_(file) {}

  // Reads `count` reals starting on the next line; `what` names them in messages.
  std::vector<double> reals(std::size_t count, std::string_view what) {
    std::vector<double> values;
    start_read();
    while (values.size() < count) {
      const std::string token = next_token(what);
      double v = 0.0;
      if (!parse_real(token, v)) fail("'" + token + "' is not a number (" + std::string(what) + ")");
      values.push_back(v);
    }
    return values;
  }

  int integer(std::string_view what) {
    start_read();
    const std::string token = next_token(what);
    int v = 0;
    const char* end = token.data() + token.size();
    const char* begin = token.data() + (token.size() > 1 && token[0] == '+' ? 1 : 0);
    const auto [ptr, ec] = std::from_chars(begin, end, v);
    if (ec != std::errc() || ptr != end)
      fail("'" + token + "' is not an integer (" + std::string(what) + ")");
    return v;
  }

  [[noreturn]] void fail(const std::string& reason) const {
    throw InputError(file_.name(), line_number_, reason);
  }

 private:
  static bool is_separator(char c) { return c == ' ' || c == '\t' || c == ','; }

  static bool parse_real(std::string token, double& v) {
    for (char& c : token) {
      if (c == 'd' || c == 'D') c = 'e';  // a D exponent, as in 2.5D-3
    }
    const char* begin = token.data() + (token.size() > 1 && token[0] == '+' ? 1 : 0);
    const char* end = token.data() + token.size();
    const auto [ptr, ec] = std::from_chars(begin, end, v);
    return ec == std::errc() && ptr == end && std::isfinite(v);
  }

  // Each read starts on the record after the one where the previous read ended.
  void start_read() {
    if (started_) ++current_;
    column_ = 0;
    started_ = true;
  }

  std::string next_token(std::string_view what) {
    for (;;) {
      if (current_ >= file_.record_count()) {
        line_number_ = static_cast<int>(file_.record_count());
        fail("the input ends before " + std::string(what));
      }
      line_number_ = file_.line_number(current_);
      const std::string& line = file_.record(current_);
      while (column_ < line.size() && is_separator(line[column_])) ++column_;
      if (column_ < line.size()) {
        const std::size_t begin = column_;
        while (column_ < line.size() && !is_separator(line[column_])) ++column_;
        return line.substr(begin, column_ - begin);
      }
      ++current_;
      column_ = 0;
    }
  }

  const basinfit::TextFile& file_;
  std::size_t current_ = 0;
  std::size_t column_ = 0;
  bool started_ = false;
  int line_number_ = 0;
};

struct ForwardCase {
  model::LayerSystem system;
  model::CircularLoad load;
  std::vector<model::EvaluationPoint> points;
};

ForwardCase read_case(ListInput& in) {
  ForwardCase c;
  const int n = in.integer("the number of layers");
  if (n < 1 || n > 5) in.fail("the number of layers must be 1 to 5, not " + std::to_string(n));
  const auto layers = static_cast<std::size_t>(n);

  const std::vector<double> E = in.reals(layers, "the moduli");
  for (double e : E) {
    if (!(e > 0)) in.fail("every modulus must be positive");
  }
  const std::vector<double> nu = in.reals(layers, "the Poisson's ratios");
  for (double v : nu) {
    if (!(v >= 0 && v < 1)) in.fail("every Poisson's ratio must be at least 0 and below 1");
  }
  for (std::size_t j = 0; j < model::kMaxLayers; ++j) {
    c.system.modulus[j] = E[std::min(j, layers - 1)];
    c.system.poisson[j] = nu[std::min(j, layers - 1)];
  }
  if (layers == 1) {
    c.system.thickness = {10.0, 10.0, 10.0, 10.0};
  } else {
    const std::vector<double> h = in.reals(layers - 1, "the thicknesses");
    for (double t : h) {
      if (!(t > 0)) in.fail("every thickness must be positive");
    }
    for (std::size_t j = 0; j < model::kMaxThicknesses; ++j)
      c.system.thickness[j] = h[std::min(j, layers - 2)];
  }

  const std::vector<double> load = in.reals(2, "the load radius and contact pressure");
  if (!(load[0] > 0)) in.fail("the load radius must be positive");
  c.load = {load[1], load[0], 0.0, 0.0};

  const int m = in.integer("the number of points");
  if (m < 1 || m > static_cast<int>(model::kMaxPoints)) {
    in.fail("the number of points must be 1 to 10, not " + std::to_string(m));
  }
  for (int i = 0; i < m; ++i) {
    const std::vector<double> p = in.reals(3, "a point's offset, depth and layer");
    const double layer = p[2];
    if (layer != static_cast<int>(layer) || layer < 1 || layer > 5)
      in.fail("the layer number must be 1 to 5");
    if (!(p[1] >= 0)) in.fail("the depth must not be negative");
    c.points.push_back({0.0, p[0], p[1], static_cast<int>(layer)});
  }
  return c;
}

std::string full_precision(double v) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 17);
  return std::string(buffer, ec == std::errc() ? end : buffer);
}

int run(const std::string& input_path) {
  basinfit::TextFile file = [&] {
    if (!input_path.empty() && input_path != "-") return basinfit::TextFile::load(input_path);
    std::ostringstream text;
    text << std::cin.rdbuf();
    return basinfit::TextFile("<stdin>", text.str());
  }();
  ListInput in(file);
  const ForwardCase c = read_case(in);
  const model::ModelResult r = model::evaluate_response(c.system, std::span(&c.load, 1), c.points);
  if (!model::succeeded(r.status)) {
    throw InputError(file.name(), 0,
                     std::string("the model evaluation failed: ") + model::describe(r.status));
  }
  std::string out = "offset\tdepth\tlayer";
  for (std::size_t col = 0; col < model::kResultColumns; ++col)
    out += std::string("\t") + model::result_column_name(col);
  out += '\n';
  for (std::size_t i = 0; i < c.points.size(); ++i) {
    out += full_precision(c.points[i].y) + '\t' + full_precision(c.points[i].depth) + '\t' +
           std::to_string(c.points[i].layer);
    for (double v : r.rows[i]) out += '\t' + full_precision(v);
    out += '\n';
  }
  std::cout << out << std::flush;
  return std::cout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    CLI::App app{kDescription, "basinfit-model"};
    app.set_version_flag("--version", std::string("basinfit-model ") + BASINFIT_VERSION);
    std::string input;
    app.add_option("input", input, "input file (standard input when absent or \"-\")");
    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      return basinfit::cli::usage_error(app, e, "basinfit-model: ");
    }
    return run(input);
  } catch (const InputError& e) {
    std::cout.flush();
    std::cerr << "basinfit-model: " << basinfit::visible_name(e.what()) << '\n';
    return e.exit_status();
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "basinfit-model: " << basinfit::visible_name(e.what()) << '\n';
    return 2;
  }
}
