#pragma once
// The bundled example surveys (examples/metric, examples/english) read by a small reader of
// the tests' own, and written out in the source formats the importer reads: PDDX, LTPP
// tables and generic CSV, together with a structure file equivalent to the example's general
// data.  The writers know nothing of the importer; they follow the format descriptions.

#include <filesystem>
#include <string>
#include <vector>

namespace basinfit::import_test {

struct ExampleStation {
  std::string id;
  double chainage = 0;  // m (metric) or ft (English), from the identifier
  int drops = 0;
  std::vector<double> thickness;  // four
  double t1 = 0, t2 = 0;
  std::vector<std::vector<double>> rows;  // load, then deflections
};

struct ExampleSurvey {
  bool english = false;
  std::string route;
  int layers = 0;
  double radius = 0;
  int weighting = 0;
  std::vector<double> offsets;
  int adjust = 0, temperature_option = 0, seed_option = 0, stiff = 0;
  std::vector<std::vector<double>> layer_records;
  double max_iterations = 0, rms = 0, modulus = 0;
  std::vector<std::vector<double>> points;
  double reference_f = 0;
  std::vector<ExampleStation> stations;
};

ExampleSurvey read_example(const std::filesystem::path& folder);

// The structure file matching the example's general data, thicknesses per station.
std::string structure_csv(const ExampleSurvey& s);
// The options that reproduce the example's general data besides the structure.
std::vector<std::string> run_options(const ExampleSurvey& s);

std::string to_pddx(const ExampleSurvey& s);
// Four tables: file name -> text.
std::vector<std::pair<std::string, std::string>> to_ltpp(const ExampleSurvey& s);
std::string to_generic_csv(const ExampleSurvey& s);

}  // namespace basinfit::import_test
