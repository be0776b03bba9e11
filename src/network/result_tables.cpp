#include "network/result_tables.h"

#include <set>

#include "common/csv.h"
#include "common/input_error.h"
#include "import/structure.h"

namespace basinfit::network {
namespace {

// A column pattern of a CSV table.  Placeholders: {j} every layer 1..5, {a} the layers above
// the last (1..4), {k} the layers below the surface (2..5); {length}, {load}, {deflection},
// {modulus}, {temperature}, {chainage} the unit of the run (metric or English), as the
// results writer names them.
struct Pattern {
  const char* text;
  ColumnType type;
};

using T = ColumnType;

// THE list of result columns.  Keep each table in the order the CSV file writes it.
const std::vector<Pattern> kStationColumns = {
    {"station", T::kText},
    {"station_no", T::kInteger},
    {"line", T::kInteger},
    {"drops", T::kInteger},
    {"H{a}_{length}", T::kReal},
    {"temperature1_{temperature}", T::kReal},
    {"temperature2_{temperature}", T::kReal},
    {"pavement_temperature_F", T::kReal},
    {"temperature_factor", T::kReal},
    {"E{j}_mean_{modulus}", T::kReal},
    {"E1_adjusted_mean_{modulus}", T::kReal},
    {"E{j}_norm_{modulus}", T::kReal},
    {"E1_adjusted_norm_{modulus}", T::kReal},
    {"average_rms_percent", T::kReal},
    {"K1_L{k}_{modulus}", T::kReal},
    {"K2_L{k}", T::kReal},
    {"R2_L{k}", T::kReal},
    {"soil_type_L{k}", T::kText},
    {"normalisation", T::kText},
    {"normalisation_note", T::kText},
    {"coefficient_of_determination_L{k}", T::kReal},
    {"implausible_law_layers", T::kText},
    {"law_note_L{k}", T::kText},
    {"chainage_{chainage}", T::kReal},
    {"lane", T::kText},
    {"latitude", T::kReal},
    {"longitude", T::kReal},
};

const std::vector<Pattern> kDropColumns = {
    {"station", T::kText},
    {"station_no", T::kInteger},
    {"drop", T::kInteger},
    {"load_{load}", T::kReal},
    {"E{j}_{modulus}", T::kReal},
    {"E1_adjusted_{modulus}", T::kReal},
    {"E{j}_norm_{modulus}", T::kReal},
    {"E1_adjusted_norm_{modulus}", T::kReal},
    {"rms_percent", T::kReal},
    {"rms_deflection_{deflection}", T::kReal},
    {"convergence_code", T::kInteger},
    {"convergence", T::kText},
    {"iterations", T::kInteger},
    {"evaluations", T::kInteger},
    {"E{j}_se_percent", T::kReal},
    {"condition_number", T::kReal},
    {"max_correlation", T::kReal},
    {"correlated_layers", T::kText},
    {"multistart_runs", T::kInteger},
    {"multistart_best_rms_percent", T::kReal},
    {"multistart_max_difference_percent", T::kReal},
    {"flags", T::kText},
    {"normalisation", T::kText},
    {"poorly_determined_layers", T::kText},
    {"poorly_determined_se_percent", T::kText},
    {"not_separable_layers", T::kText},
    {"not_separable_correlation", T::kText},
    {"modulus_at_bound_layers", T::kText},
    {"modulus_at_bound_moduli_{modulus}", T::kText},
    {"modulus_at_bound_bounds_{modulus}", T::kText},
};

const std::vector<Pattern> kSensorColumns = {
    {"station", T::kText},
    {"station_no", T::kInteger},
    {"drop", T::kInteger},
    {"sensor", T::kInteger},
    {"offset_{length}", T::kReal},
    {"measured_{deflection}", T::kReal},
    {"calculated_{deflection}", T::kReal},
    {"weight", T::kReal},
    {"weighted_residual", T::kReal},
};

// The uniform sections: positions in the run's length unit along the route, or in stations
// when the survey is drawn in survey order; the response is a modulus or a deflection.
const std::vector<Pattern> kSectionColumns = {
    {"section", T::kInteger},
    {"start_{chainage}", T::kReal},
    {"end_{chainage}", T::kReal},
    {"start_station", T::kReal},
    {"end_station", T::kReal},
    {"stations", T::kInteger},
    {"response_mean_{modulus}", T::kReal},
    {"response_mean_{deflection}", T::kReal},
    {"response_cov_percent", T::kReal},
    {"E{j}_norm_mean_{modulus}", T::kReal},
    {"E{j}_norm_cov_percent", T::kReal},
};

struct UnitWords {
  const char *length, *load, *deflection, *modulus, *temperature, *chainage;
};
constexpr UnitWords kMetric{"cm", "N", "um", "MPa", "C", "m"};
constexpr UnitWords kEnglish{"in", "lbf", "mils", "ksi", "F", "ft"};

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::vector<Column> expand(const std::vector<Pattern>& patterns) {
  std::vector<Column> columns;
  std::set<std::string> seen;
  for (const Pattern& p : patterns) {
    std::vector<std::string> names;
    for (const UnitWords& u : {kMetric, kEnglish}) {
      std::string text = p.text;
      text = replace_all(text, "{length}", u.length);
      text = replace_all(text, "{load}", u.load);
      text = replace_all(text, "{deflection}", u.deflection);
      text = replace_all(text, "{modulus}", u.modulus);
      text = replace_all(text, "{temperature}", u.temperature);
      text = replace_all(text, "{chainage}", u.chainage);
      int lo = 0, hi = 0;
      std::string key;
      for (const auto& [k, a, b] :
           {std::tuple{"{j}", 1, 5}, std::tuple{"{a}", 1, 4}, std::tuple{"{k}", 2, 5}})
        if (text.find(k) != std::string::npos) key = k, lo = a, hi = b;
      if (key.empty()) {
        names.push_back(text);
      } else {
        for (int layer = lo; layer <= hi; ++layer)
          names.push_back(replace_all(text, key, std::to_string(layer)));
      }
    }
    for (const std::string& n : names)
      if (seen.insert(n).second) columns.push_back({n, p.type});
  }
  return columns;
}

}  // namespace

const std::vector<ResultTable>& result_tables() {
  static const std::vector<ResultTable> tables = {
      {"stations", "stations.csv", true, expand(kStationColumns)},
      {"drops", "drops.csv", true, expand(kDropColumns)},
      {"sensors", "sensors.csv", true, expand(kSensorColumns)},
      {"sections", "sections.csv", false, expand(kSectionColumns)},
  };
  return tables;
}

const char* sql_type(ColumnType type) {
  switch (type) {
    case ColumnType::kInteger:
      return "INTEGER";
    case ColumnType::kReal:
      return "REAL";
    case ColumnType::kText:
      break;
  }
  return "TEXT";
}

std::vector<LoadedTable> read_result_tables(const std::filesystem::path& folder) {
  std::vector<LoadedTable> loaded;
  for (const ResultTable& table : result_tables()) {
    const std::filesystem::path file = folder / table.csv_file;
    std::error_code ec;
    if (!table.required && !std::filesystem::exists(file, ec)) continue;
    CsvSheet csv = read_csv_sheet(import::read_bytes(file.string()), file.string());
    loaded.push_back({&table, std::move(csv.header), std::move(csv.rows)});
  }
  return loaded;
}

}  // namespace basinfit::network
