#include "results/results_analysis.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <ostream>

#include "common/csv.h"
#include "common/file_names.h"
#include "report/report_words.h"
#include "results/multistart.h"
#include "results/normalisation.h"
#include "run/station_loop.h"

namespace basinfit::results {

namespace {

struct AnalysedStation : StationAnalysis::Result {
  StationRecord record;
};

std::string without_padding(const std::string& id) {
  const auto end = id.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : id.substr(0, end + 1);
}

std::string convergence_words(int code) {
  const std::optional<std::string_view> text = convergence_text(code);
  return text ? std::string(*text) : "Error (" + std::to_string(code) + ")";
}

// Unit labels of the column names.
struct Units {
  std::string length, load, deflection, modulus, temperature;
  explicit Units(bool metric)
      : length(metric ? "cm" : "in"),
        load(metric ? "N" : "lbf"),
        deflection(metric ? "um" : "mils"),
        modulus(metric ? "MPa" : "ksi"),
        temperature(metric ? "C" : "F") {}
};

// Removes the folders from `folder` up to `outermost` (the ones a run created), each only when
// empty, so nothing anybody put there meanwhile is lost.
void remove_created_folders(const std::filesystem::path& folder, const std::filesystem::path& outermost) {
  if (outermost.empty()) return;
  std::error_code ignored;
  for (std::filesystem::path at = folder; !at.empty(); at = at.parent_path()) {
    if (!std::filesystem::remove(at, ignored)) return;
    if (at == outermost || at == at.parent_path()) return;
  }
}

std::string layer_column(int layer, const std::string& what) { return "E" + std::to_string(layer) + what; }

// Items of a list field, separated by ';' as the flags are.
void append_item(std::string& list, const std::string& item) {
  if (!list.empty()) list += ';';
  list += item;
}

}  // namespace

StationRecord analyse_station(const RunState& state, const CheckLimits& limits,
                              const SensorPrecision& precision, int multistart) {
  const RunSettings& s = state.settings;
  const StationData& st = state.station;
  const StationResults& r = state.results;
  StationRecord station;
  station.id = without_padding(st.id);
  station.header_line = st.header_line;
  station.metric = s.metric();
  station.layer_count = s.layer_count;
  station.sensor_count = s.sensor_count;
  int backcalculated = 0;
  for (std::size_t j = 0; j < static_cast<std::size_t>(s.layer_count); ++j) {
    station.backcalculated[j] = s.layers[j].backcalculated();
    if (station.backcalculated[j]) ++backcalculated;
  }
  station.adjusted = s.temperature_adjustment == 1;
  station.thickness = st.thickness;
  station.temperature1 = st.temperature1;
  station.temperature2 = st.temperature2;
  if (station.adjusted) {
    station.pavement_temperature_f = r.pavement_temperature;
    station.temperature_factor = r.temperature_factor;
  }
  station.average_rms_percent = r.average_rms_error;
  // A one-drop station has no statistics of its own (the reports repeat an earlier station's).
  station.has_statistics = st.drop_count > 1;
  if (station.has_statistics) station.statistics = r.statistics;

  const auto sensors = static_cast<std::size_t>(s.sensor_count);
  for (int drop = 1; drop <= st.drop_count; ++drop) {
    const auto d = static_cast<std::size_t>(drop - 1);
    DropRecord record;
    record.drop = drop;
    record.load = st.load[d];
    record.modulus = r.modulus[d];
    if (station.adjusted) record.adjusted_surface_modulus = r.adjusted_surface_modulus[d];
    record.rms_percent = r.rms_error[d];
    record.convergence_code = r.convergence_code[d];
    record.iterations = r.iterations[d];
    record.evaluations = r.evaluations[d];
    double squares = 0;
    for (std::size_t i = 0; i < sensors; ++i) {
      SensorRecord sensor;
      sensor.sensor = static_cast<int>(i) + 1;
      sensor.offset = s.sensor_offset[i];
      sensor.measured = st.measured[d][i];
      sensor.calculated = r.calculated[d][i];
      sensor.weight = r.weight[d][i];
      // The residual exactly as the fit forms it.
      const float m = sensor.measured;
      sensor.weighted_residual = m < 0.01f ? 0.0f : sensor.weight * (m - sensor.calculated) / m;
      const double difference = static_cast<double>(sensor.measured) - static_cast<double>(sensor.calculated);
      squares += difference * difference;
      record.sensors.push_back(sensor);
    }
    record.rms_deflection = sensors > 0 ? std::sqrt(squares / static_cast<double>(sensors)) : 0.0;
    record.uncertainty = analyse_uncertainty(s, st, r, drop, precision);
    record.multistart = run_multistart(state, drop, multistart, limits);
    record.flags = check_drop(s, st, r, drop, limits, &record) |
                   uncertainty_flags(record.uncertainty, backcalculated, limits, &record.layer_flags);
    if (record.multistart.non_unique) record.flags |= kNonUnique;
    station.drops.push_back(std::move(record));
  }
  normalise_station(s, st, r, station);
  if (station.has_statistics)
    for (std::size_t j = 1; j < static_cast<std::size_t>(s.layer_count); ++j)
      station.implausible_law[j] = has_stress_fit(r.statistics.soil_type[j]) &&
                                   implausible_law(r.statistics.soil_type[j], r.statistics.k2[j]);
  for (std::size_t j = 1; j < static_cast<std::size_t>(s.layer_count); ++j) {
    if (!station.has_statistics)
      station.law_note[j] = "a single drop";
    else if (station.implausible_law[j])
      station.law_note[j] =
          "K2 outside the plausible range of a " +
          std::string(r.statistics.soil_type[j] == 1 ? "coarse layer (0 to 1)" : "fine layer (-1 to 0)");
    else
      station.law_note[j] = missing_law_reason(s, st, r, j);
  }
  return station;
}

std::optional<LoadLevel> parse_load_level(const std::string& text) {
  LoadLevel level;
  level.text = text;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto [stop, error] = std::from_chars(begin, end, level.value);
  if (error != std::errc() || stop == begin || !std::isfinite(level.value) || !(level.value > 0))
    return std::nullopt;
  const std::string unit(stop, end);
  if (unit.empty()) return level;
  for (const char* known : {"N", "kN", "lbf", "kip"}) {
    std::string lower = unit, known_lower = known;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : known_lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == known_lower) {
      level.unit = known;
      return level;
    }
  }
  return std::nullopt;
}

std::vector<double> load_levels_in_unit(const std::vector<LoadLevel>& levels, bool metric) {
  const std::string survey_unit = metric ? "N" : "lbf";
  std::vector<double> out;
  for (const LoadLevel& level : levels) {
    double newtons = level.value;
    const std::string unit = level.unit.empty() ? survey_unit : level.unit;
    if (unit == "kN") newtons *= 1000.0;
    if (unit == "lbf") newtons *= kNewtonsPerPoundForce;
    if (unit == "kip") newtons *= 1000.0 * kNewtonsPerPoundForce;
    if (newtons < kMinDropLevelNewtons || newtons > kMaxDropLevelNewtons) {
      std::string reason = level.text + " is " + number_text(newtons / 1000.0) +
                           " kN, which no deflectometer drops (1 kN to 350 kN)";
      if (level.unit.empty()) {
        // The units in which the number would be a drop level.
        std::string likely;
        for (const auto& [name, factor] :
             {std::pair{"kN", 1000.0}, std::pair{"kip", 1000.0 * kNewtonsPerPoundForce}, std::pair{"N", 1.0},
              std::pair{"lbf", kNewtonsPerPoundForce}}) {
          const double as = level.value * factor;
          if (name != survey_unit && as >= kMinDropLevelNewtons && as <= kMaxDropLevelNewtons)
            likely += (likely.empty() ? "" : " or ") + level.text + name;
        }
        reason = level.text + ": a bare value is in the survey's load unit (" + survey_unit + "), and " +
                 level.text + " " + survey_unit + " is no drop level of a deflectometer (1 kN to 350 kN)" +
                 (likely.empty() ? std::string() : "; write " + likely + " for the unit meant");
      }
      throw InputError("--load-levels", 0, reason, InputError::Kind::kUsage);
    }
    out.push_back(metric ? newtons : newtons / kNewtonsPerPoundForce);
  }
  return out;
}

ResultsAnalysis::ResultsAnalysis(ResultsOptions options) : options_(std::move(options)) {
  limits_ = CheckLimits::for_units(true);
  precision_ = SensorPrecision::for_units(true);
}

ResultsAnalysis::~ResultsAnalysis() = default;

bool ResultsAnalysis::open_files(std::ostream& errors) {
  if (options_.directory.empty()) return true;
  const std::filesystem::path folder(options_.directory);
  try {
    // The outermost folder this run makes, so that a run refused at its start leaves none.
    std::error_code error;
    std::filesystem::path missing;
    for (std::filesystem::path at = folder; !at.empty() && !std::filesystem::exists(at, error);
         at = at.parent_path()) {
      missing = at;
      if (at == at.parent_path()) break;
    }
    std::filesystem::create_directories(folder, error);
    if (!error && !std::filesystem::is_directory(folder, error))
      error = std::make_error_code(std::errc::not_a_directory);
    if (error)
      throw InputError(visible_name(options_.directory), 0,
                       "cannot create the results folder: " + error.message(), InputError::Kind::kFileSystem);
    created_folder_ = missing;
    std::vector<std::unique_ptr<OutputFile>> files;
    try {
      for (const auto& [name, what] :
           {std::pair{kDropsFile, "drops table"}, std::pair{kSensorsFile, "sensors table"},
            std::pair{kStationsFile, "stations table"}, std::pair{kRunRecordFile, "run record"}})
        files.push_back(std::make_unique<OutputFile>((folder / name).string(), what));
      if (sections_writer_)
        files.push_back(std::make_unique<OutputFile>((folder / kSectionsFile).string(), "sections table"));
    } catch (const InputError&) {
      for (const std::unique_ptr<OutputFile>& file : files) file->abandon(true);
      throw;
    }
    drops_ = std::move(files[0]);
    sensors_ = std::move(files[1]);
    stations_ = std::move(files[2]);
    run_record_ = std::move(files[3]);
    if (files.size() > 4) sections_ = std::move(files[4]);
  } catch (const InputError& e) {
    errors << "basinfit: " << e.what() << '\n';
    errors.flush();
    remove_created_folders(options_.directory, created_folder_);
    return false;
  }
  return true;
}

std::vector<OutputFile*> ResultsAnalysis::files() const {
  if (!drops_) return {};
  std::vector<OutputFile*> all = {drops_.get(), sensors_.get(), stations_.get(), run_record_.get()};
  if (sections_) all.push_back(sections_.get());
  return all;
}

void ResultsAnalysis::open(const EngineUnits& units) {
  started_ = true;
  if (units.control != nullptr) {
    const ControlFile& control = *units.control;
    const char* roles[] = {"standard value file", "general data file", "deflection data file"};
    const std::string* names[] = {&control.standard_values, &control.general_data, &control.deflections};
    inputs_.clear();
    for (std::size_t i = 0; i < 3; ++i)
      inputs_.push_back(units.inputs[i] != nullptr
                            ? recorded_input(roles[i], *units.inputs[i])
                            : RecordedFile{roles[i], *names[i], "missing", std::nullopt});
    engine_outputs_ = {{"detail report", control.detail_report}, {"summary report", control.summary_report}};
    if (control.log_unit != 0) engine_outputs_.push_back({"log file", control.log_file});
  }
}

void ResultsAnalysis::begin(const RunState& state) {
  const RunSettings& s = state.settings;
  settings_ = s;
  stations_columns_ = stations_columns(s);
  limits_ = CheckLimits::for_units(s.metric());
  if (!options_.load_levels.empty()) limits_.load_levels = options_.load_levels;
  precision_ = SensorPrecision::for_units(s.metric());
  if (options_.sensor_precision.size() == 2)
    precision_ = SensorPrecision{options_.sensor_precision[0], options_.sensor_precision[1] / 100.0};
  if (drops_) {
    try {
      write_headers(s);
    } catch (const InputError&) {
      failed_ = true;
      throw;
    }
  }
}

std::unique_ptr<StationAnalysis::Result> ResultsAnalysis::analyse(const RunState& state) const {
  auto result = std::make_unique<AnalysedStation>();
  result->record = analyse_station(state, limits_, precision_, options_.multistart);
  return result;
}

void ResultsAnalysis::record(const RunState& state, std::unique_ptr<Result> result) {
  (void)state;
  auto* analysed = dynamic_cast<AnalysedStation*>(result.get());
  if (analysed == nullptr) return;
  StationRecord& station = analysed->record;
  station.sequence = static_cast<int>(counts_.stations) + 1;
  const CsvRow row = stations_row(station);
  if (drops_) {
    try {
      write_station(station, row);
    } catch (const InputError&) {
      failed_ = true;
      throw;
    }
  }
  counts_.add(station);
  for (const Listener& listener : listeners_) listener(station);
  for (const RowListener& listener : row_listeners_)
    listener(StationRow{stations_columns_, row.values(), station});
}

void ResultsAnalysis::write_headers(const RunSettings& s) {
  const Units u(s.metric());
  const int layers = s.layer_count;
  std::vector<std::string> drops = {"station", "station_no", "drop", "load_" + u.load};
  for (int j = 1; j <= layers; ++j) drops.push_back(layer_column(j, "_" + u.modulus));
  drops.push_back("E1_adjusted_" + u.modulus);
  for (int j = 1; j <= layers; ++j) drops.push_back(layer_column(j, "_norm_" + u.modulus));
  drops.push_back("E1_adjusted_norm_" + u.modulus);
  drops.push_back("rms_percent");
  drops.push_back("rms_deflection_" + u.deflection);
  for (const char* name : {"convergence_code", "convergence", "iterations", "evaluations"})
    drops.push_back(name);
  for (int j = 1; j <= layers; ++j) drops.push_back(layer_column(j, "_se_percent"));
  for (const char* name : {"condition_number", "max_correlation", "correlated_layers", "multistart_runs",
                           "multistart_best_rms_percent", "multistart_max_difference_percent", "flags"})
    drops.push_back(name);
  for (const char* name : {"normalisation", "poorly_determined_layers", "poorly_determined_se_percent",
                           "not_separable_layers", "not_separable_correlation", "modulus_at_bound_layers"})
    drops.push_back(name);
  drops.push_back("modulus_at_bound_moduli_" + u.modulus);
  drops.push_back("modulus_at_bound_bounds_" + u.modulus);
  CsvTable(*drops_).header(drops);

  CsvTable(*sensors_).header({"station", "station_no", "drop", "sensor", "offset_" + u.length,
                              "measured_" + u.deflection, "calculated_" + u.deflection, "weight",
                              "weighted_residual"});

  CsvTable(*stations_).header(stations_columns_);
  for (OutputFile* file : {drops_.get(), sensors_.get(), stations_.get()}) file->flush();
}

void ResultsAnalysis::write_station(const StationRecord& station, const CsvRow& stations_row) {
  const auto layers = static_cast<std::size_t>(station.layer_count);
  CsvTable drops(*drops_), sensors(*sensors_), stations(*stations_);
  for (const DropRecord& drop : station.drops) {
    CsvRow row;
    row.field(station.id).number(station.sequence).number(drop.drop).number(drop.load);
    for (std::size_t j = 0; j < layers; ++j) row.number(drop.modulus[j]);
    row.number(drop.adjusted_surface_modulus);
    for (std::size_t j = 0; j < layers; ++j) row.number(station.normalised_modulus[j]);
    row.number(station.normalised_adjusted_surface_modulus);
    row.number(drop.rms_percent).number(drop.rms_deflection);
    row.number(drop.convergence_code).field(convergence_words(drop.convergence_code));
    row.number(drop.iterations).number(drop.evaluations);
    const Uncertainty& u = drop.uncertainty;
    for (std::size_t j = 0; j < layers; ++j) row.number(u.standard_error_percent[j]);
    row.number(u.condition_number).number(u.max_correlation);
    u.correlated_layers[0] != 0
        ? row.field(std::to_string(u.correlated_layers[0]) + "-" + std::to_string(u.correlated_layers[1]))
        : row.empty();
    const MultistartOutcome& m = drop.multistart;
    row.number(m.runs).number(m.best_rms_percent).number(m.best_max_difference_percent);
    row.field(flag_names(drop.flags));
    row.field(normalisation_word(station.normalisation));
    // Each layer flag with the layers that raised it and the values that did.
    std::string weak, weak_se, pairs, pair_correlation, bound_layers, bound_moduli, bounds;
    for (std::size_t j = 0; j < layers; ++j) {
      const std::string layer = std::to_string(j + 1);
      if ((drop.layer_flags[j] & kPoorlyDetermined) != 0) {
        append_item(weak, layer);
        append_item(weak_se, number_text(u.standard_error_percent[j]));
      }
      for (std::size_t l = j + 1; l < layers; ++l) {
        const double rho = u.correlation[j][l];
        if (missing(rho) || !(rho > limits_.correlation_limit)) continue;
        append_item(pairs, layer + "-" + std::to_string(l + 1));
        append_item(pair_correlation, number_text(rho));
      }
      if ((drop.layer_flags[j] & kModulusAtBound) != 0) {
        append_item(bound_layers, layer);
        append_item(bound_moduli, number_text(drop.modulus[j]));
        append_item(bounds, number_text(static_cast<float>(drop.bound_reached[j])));
      }
    }
    row.field(weak).field(weak_se).field(pairs).field(pair_correlation);
    row.field(bound_layers).field(bound_moduli).field(bounds);
    drops.row(row);

    for (const SensorRecord& sensor : drop.sensors) {
      CsvRow line;
      line.field(station.id).number(station.sequence).number(drop.drop).number(sensor.sensor);
      line.number(sensor.offset).number(sensor.measured).number(sensor.calculated);
      line.number(sensor.weight).number(sensor.weighted_residual);
      sensors.row(line);
    }
  }

  stations.row(stations_row);
  // A station reaches the tables whole, so an interrupted run leaves complete rows only.
  for (OutputFile* file : {drops_.get(), sensors_.get(), stations_.get()}) file->flush();
}

std::vector<std::string> ResultsAnalysis::stations_columns(const RunSettings& s) const {
  const Units u(s.metric());
  const int layers = s.layer_count;
  std::vector<std::string> stations = {"station", "station_no", "line", "drops"};
  for (int j = 1; j <= layers - 1; ++j) stations.push_back("H" + std::to_string(j) + "_" + u.length);
  stations.push_back("temperature1_" + u.temperature);
  stations.push_back("temperature2_" + u.temperature);
  stations.push_back("pavement_temperature_F");
  stations.push_back("temperature_factor");
  for (int j = 1; j <= layers; ++j) stations.push_back(layer_column(j, "_mean_" + u.modulus));
  stations.push_back("E1_adjusted_mean_" + u.modulus);
  for (int j = 1; j <= layers; ++j) stations.push_back(layer_column(j, "_norm_" + u.modulus));
  stations.push_back("E1_adjusted_norm_" + u.modulus);
  stations.push_back("average_rms_percent");
  for (int j = 2; j <= layers; ++j) {
    const std::string layer = "_L" + std::to_string(j);
    stations.push_back("K1" + layer + "_" + u.modulus);
    stations.push_back("K2" + layer);
    stations.push_back("R2" + layer);
    stations.push_back("soil_type" + layer);
  }
  stations.push_back("normalisation");
  stations.push_back("normalisation_note");
  for (int j = 2; j <= layers; ++j) stations.push_back("coefficient_of_determination_L" + std::to_string(j));
  stations.push_back("implausible_law_layers");
  for (int j = 2; j <= layers; ++j) stations.push_back("law_note_L" + std::to_string(j));
  // From a station table: the position along the route in the run's length unit, and the lane
  // and GPS position where the table gives them.
  if (const StationTable* table = options_.station_table) {
    stations.push_back(std::string("chainage_") + (s.metric() ? "m" : "ft"));
    if (table->any_lane()) stations.push_back("lane");
    if (table->any_position()) {
      stations.push_back("latitude");
      stations.push_back("longitude");
    }
  }
  return stations;
}

CsvRow ResultsAnalysis::stations_row(const StationRecord& station) const {
  const auto layers = static_cast<std::size_t>(station.layer_count);
  const StationStatistics& stats = station.statistics;
  CsvRow row;
  row.field(station.id)
      .number(station.sequence)
      .number(station.header_line)
      .number(static_cast<int>(station.drops.size()));
  for (std::size_t j = 0; j + 1 < layers; ++j) row.number(station.thickness[j]);
  row.number(station.temperature1).number(station.temperature2);
  row.number(station.pavement_temperature_f).number(station.temperature_factor);
  auto per_layer = [&](const PerLayer<float>& values) {
    for (std::size_t j = 0; j < layers; ++j) station.has_statistics ? row.number(values[j]) : row.empty();
  };
  const bool adjusted_statistics = station.has_statistics && station.adjusted;
  per_layer(stats.mean_modulus);
  adjusted_statistics ? row.number(stats.mean_adjusted_modulus) : row.empty();
  for (std::size_t j = 0; j < layers; ++j) row.number(station.normalised_modulus[j]);
  row.number(station.normalised_adjusted_surface_modulus);
  row.number(station.average_rms_percent);
  for (std::size_t j = 1; j < layers; ++j) {
    if (station.has_statistics && has_stress_fit(stats.soil_type[j])) {
      row.number(stats.k1[j]).number(stats.k2[j]).number(stats.r_squared[j]);
      row.field(soil_type_word(stats.soil_type[j]));
    } else {
      row.empty().empty().empty().empty();
    }
  }
  row.field(normalisation_word(station.normalisation)).field(station.normalisation_note);
  for (std::size_t j = 1; j < layers; ++j) {
    if (station.has_statistics && has_stress_fit(stats.soil_type[j])) {
      // The reports' figure is 100 sqrt(SSR / SST); its square is the share of the spread of
      // log E that the law explains.
      const double r = static_cast<double>(stats.r_squared[j]) / 100.0;
      row.number(r * r);
    } else {
      row.empty();
    }
  }
  std::string implausible;
  for (std::size_t j = 1; j < layers; ++j)
    if (station.implausible_law[j]) append_item(implausible, std::to_string(j + 1));
  row.field(implausible);
  for (std::size_t j = 1; j < layers; ++j) row.field(station.law_note[j]);
  if (const StationTable* table = options_.station_table) {
    const StationTableRow* point = table->find(station.id);
    const double to_run_unit = table->unit() == (station.metric ? "m" : "ft") ? 1.0
                               : station.metric                               ? 0.3048
                                                                              : 1 / 0.3048;
    point != nullptr ? row.number(point->chainage * to_run_unit) : row.empty();
    if (table->any_lane()) point != nullptr ? row.field(point->lane) : row.empty();
    if (table->any_position())
      for (const auto& degrees : {point != nullptr ? point->latitude : std::nullopt,
                                  point != nullptr ? point->longitude : std::nullopt})
        degrees ? row.number(*degrees) : row.empty();
  }
  return row;
}

int ResultsAnalysis::close_tables(int status, std::ostream& errors) {
  if (!drops_ || !started_ || failed_) return status;
  try {
    for (OutputFile* file : {drops_.get(), sensors_.get(), stations_.get()}) file->close();
  } catch (const InputError& e) {
    errors << "basinfit: " << e.what() << '\n';
    errors.flush();
    failed_ = true;
    return status == 0 ? 2 : status;
  }
  return status;
}

int ResultsAnalysis::finish(const Invocation& invocation, int status, std::ostream& errors) {
  if (!drops_) return status;
  if (!started_) {
    // Refused at its start: nothing of this run is left, and what was there stays as it was.
    for (OutputFile* file : files()) file->abandon(true);
    remove_created_folders(options_.directory, created_folder_);
    return status;
  }
  if (failed_) {
    // The failed write has been reported; the tables keep their whole stations.
    for (OutputFile* file : files()) file->abandon();
    return status;
  }
  try {
    // The sections of the stations recorded (all of them, or those before a stop).
    nlohmann::json sections = nullptr;
    if (sections_ && settings_) sections = sections_writer_(*sections_);
    if (sections_) sections_->close();
    RunDescription run;
    run.arguments = invocation.arguments;
    run.jobs = invocation.jobs;
    run.started = invocation.started;
    run.finished = std::chrono::system_clock::now();
    run.wall_time_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - invocation.started_steady).count();
    run.exit_status = status;
    run.inputs = inputs_;
    for (const auto& [role, name] : engine_outputs_) run.outputs.push_back(recorded_file(role, name));
    for (const OutputFile* file : {drops_.get(), sensors_.get(), stations_.get(), sections_.get()})
      if (file != nullptr) run.outputs.push_back(recorded_file(file->what(), file->name()));
    for (const auto& [role, name] : further_outputs_) run.outputs.push_back(recorded_file(role, name));
    run.settings = settings_;
    nlohmann::json levels = nlohmann::json::array();
    for (const double level : limits_.load_levels) levels.push_back(level);
    run.options = {
        {"results_directory", options_.directory},
        {"load_levels", levels},
        {"sensor_precision",
         {{"absolute", precision_.absolute}, {"relative_percent", precision_.relative * 100.0}}},
        {"multistart", options_.multistart},
        {"station_table", options_.station_table != nullptr ? nlohmann::json(options_.station_table->file())
                                                            : nlohmann::json(nullptr)}};
    if (sections_) run.options["sections"] = sections;
    run.counts = counts_;
    run_record_->truncate();
    // Titles, routes and file names are bytes as read: any that are not UTF-8 are shown as
    // U+FFFD rather than ending the run.
    run_record_->write(run_record(run).dump(2, ' ', false, nlohmann::json::error_handler_t::replace));
    run_record_->write("\n");
    run_record_->close();
  } catch (const InputError& e) {
    errors << "basinfit: " << visible_name(e.what()) << '\n';
    errors.flush();
    for (OutputFile* file : {run_record_.get(), sections_.get()})
      if (file != nullptr) file->abandon();
    return status == 0 ? 2 : status;
  }
  return status;
}

}  // namespace basinfit::results
