#include "run/station_loop.h"

#include <cmath>
#include <cstdio>

#include "common/record_format.h"
#include "run/input_files.h"
#include "run/station_scheduler.h"

namespace basinfit {

ClockTime local_clock() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return ClockTime{parts.tm_hour, parts.tm_min, parts.tm_sec};
}

namespace {

bool is_separator(char c) { return c == ' ' || c == ',' || c == '\t'; }

bool blank_record(const std::string& text) { return text.find_first_not_of(" \t") == std::string::npos; }

std::string number_text(float v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(v));
  return buffer;
}

std::string trimmed(const std::string& id) {
  const auto end = id.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : id.substr(0, end + 1);
}

}  // namespace

StationRead read_station(ListReader& reader, const RunSettings& settings, StationData& station) {
  const TextFile& file = reader.file();
  // Blank lines between and after stations carry nothing.
  while (!reader.at_end() && blank_record(file.record(reader.next_record()))) reader.skip_record();
  if (reader.at_end()) return StationRead::kEndOfData;

  const int line = file.line_number(reader.next_record());
  const std::string full = file.record(reader.next_record());
  reader.skip_record();
  // The header is read into an 80-character record: a shorter line has blanks after its text.
  std::string header = full;
  header.resize(80, ' ');
  std::size_t cut = 0;
  while (cut < header.size() && !is_separator(header[cut])) ++cut;
  station.header_line = line;
  if (cut == header.size()) return StationRead::kNoSeparator;
  if (cut == 0)
    throw InputError(file.name(), line,
                     "the station header begins with a separator: expected a station identifier");
  station.id = header.substr(0, cut);
  station.id.resize(kStationIdLength, ' ');
  const std::string id = trimmed(station.id);

  // The values after the identifier, skipping the run of separators that follows it.  They
  // are read from the whole line, so nothing beyond column 80 is silently cut.
  std::size_t rest = cut;
  while (rest < full.size() && is_separator(full[rest])) ++rest;
  const TextFile values(file.name(),
                        rest < full.size() ? std::string_view(full).substr(rest) : std::string_view(), line);
  ListReader value_reader(values);
  short drops = 0;
  std::array<float, kMaxThicknesses> thickness{};
  float t1 = 0, t2 = 0;
  const ListReader::Status status = value_reader.read({{drops, "the number of drops"},
                                                       {std::span<float>(thickness), "a layer thickness"},
                                                       {t1, "temperature 1"},
                                                       {t2, "temperature 2"}});
  if (status != ListReader::Status::kComplete)
    throw InputError(
        file.name(), line,
        "station " + id +
            ": the header ends too early: expected the number of drops, four layer thicknesses and "
            "two temperatures");
  if (drops < 1 || drops > kMaxDrops)
    throw InputError(
        file.name(), line,
        "station " + id + ": the number of drops is " + std::to_string(drops) + ", expected 1 to 16");
  if (!(thickness[0] > 0))
    throw InputError(file.name(), line,
                     "station " + id + ": the thickness of layer 1 is " + number_text(thickness[0]) +
                         ", expected a value above 0");
  for (std::size_t j = 1; j < thickness.size(); ++j)
    if (thickness[j] < 0)
      throw InputError(file.name(), line,
                       "station " + id + ": the thickness of layer " + std::to_string(j + 1) + " is " +
                           number_text(thickness[j]) + ", expected 0 or more");
  station.drop_count = drops;
  station.thickness = thickness;
  station.temperature1 = t1;
  station.temperature2 = t2;

  const auto sensors = static_cast<std::size_t>(settings.sensor_count);
  for (int d = 0; d < drops; ++d) {
    float load = 0;
    auto& measured = station.measured[static_cast<std::size_t>(d)];
    const ListReader::Status drop_status = reader.read(
        {{load, "the load"}, {std::span<float>(measured.data(), sensors), "a measured deflection"}});
    if (drop_status != ListReader::Status::kComplete)
      throw InputError(
          file.name(), reader.end_line() + (drop_status == ListReader::Status::kEndOfFile ? 1 : 0),
          "station " + id + ": the file ends before drop " + std::to_string(d + 1) + " of " +
              std::to_string(drops) + " (expected the load and " + std::to_string(sensors) + " deflections)");
    station.load[static_cast<std::size_t>(d)] = load;
    station.drop_line[static_cast<std::size_t>(d)] = reader.last_line();
  }
  return StationRead::kStation;
}

float drop_rms_error(const StationData& station, const StationResults& results, int sensor_count, int drop) {
  const auto d = static_cast<std::size_t>(drop - 1);
  float sum = 0;
  for (std::size_t s = 0; s < static_cast<std::size_t>(sensor_count); ++s) {
    const float measured = station.measured[d][s];
    if (measured >= 0.1f) {
      const float relative = (measured - results.calculated[d][s]) / measured;
      sum = sum + relative * relative;
    }
  }
  return 100.0f * std::sqrt(sum / static_cast<float>(sensor_count));
}

namespace {

std::string progress_line(const Clock& clock, const StationData& station, const char* label, int drop) {
  const ClockTime t = clock();
  return format_internal(BASINFIT_FMT("(1x,a,1x,i2,1x,a,1x,i2,3(1x,a),3(1x,i2,a))"), 80, label, drop, "of",
                         station.drop_count, "drops at Station", station.id, "at", t.hour, ":", t.minute, ":",
                         t.second);
}

}  // namespace

DriverEnd Driver::run(const DriverFiles& files) {
  RunSettings& s = state_.settings;
  auto settings_error = [&](const SettingsProblem& problem) {
    messages_.error(problem.message);
    settings_problem_ = problem.detail;
    return DriverEnd::kSettingsError;
  };
  if (auto problem = read_standard_values(*files.standard_values, s)) return settings_error(*problem);
  if (auto problem = read_general_data(*files.general_data, s)) return settings_error(*problem);
  if (warn_)
    for (const std::string& warning : settings_warnings(s, files.general_data->name())) warn_(warning);
  for (int j = 0; j < kMaxLayers; ++j)
    state_.results.modulus[0][static_cast<std::size_t>(j)] = s.initial_modulus[static_cast<std::size_t>(j)];

  deflection_file_ = files.deflections->name();
  ListReader deflections(*files.deflections);
  const std::optional<std::string> route = deflections.read_text(79);
  if (!route) throw InputError(files.deflections->name(), 1, "the file is empty: expected the route record");
  s.route = *route;

  reports_.write_headers(state_);
  if (analysis_ != nullptr) analysis_->begin(state_);
  if (progress_ != nullptr) {
    long stations = 0, drops = 0;
    count_stations(deflections, s, stations, drops);
    progress_->start(stations, drops);
  }
  if (parallel_.jobs > 1)
    return run_parallel_stations(state_, messages_, computations_, reports_, clock_, deflections, parallel_,
                                 progress_, analysis_, stop_line_);
  return run_stations(deflections);
}

DriverEnd Driver::run_stations(ListReader& deflections) {
  StationHooks hooks;
  if (progress_ != nullptr) hooks.drop_done = [this] { progress_->drop_done(); };
  while (true) {
    const StationRead read = read_station(deflections, state_.settings, state_.station);
    if (read == StationRead::kEndOfData) return DriverEnd::kEndOfData;
    if (read == StationRead::kNoSeparator) {
      stop_line_ = state_.station.header_line;
      return DriverEnd::kHeaderStop;
    }
    check_station_values(state_.settings, state_.station, deflection_file_);
    process_station(state_, messages_, computations_, clock_, deflection_file_,
                    state_.settings.seed_option == 0, hooks);
    std::unique_ptr<StationAnalysis::Result> analysed;
    if (analysis_ != nullptr) analysed = analysis_->analyse(state_);
    reports_.write_station(state_);
    // The log is written out with the reports, so that after an interruption it ends with the
    // last station the reports hold.
    messages_.flush();
    if (analysis_ != nullptr) analysis_->record(state_, std::move(analysed));
    ++state_.stations_done;
    if (progress_ != nullptr) progress_->station_done();
  }
}

void count_stations(ListReader reader, const RunSettings& settings, long& stations, long& drops) {
  StationData scratch;
  stations = 0;
  drops = 0;
  try {
    while (read_station(reader, settings, scratch) == StationRead::kStation) {
      ++stations;
      drops += scratch.drop_count;
    }
  } catch (const InputError&) {
    // The run itself reports the record when it gets there; the count ends before it.
  }
}

void process_station(RunState& state, MessageWriter& messages, StationComputations& computations,
                     const Clock& clock, const std::string& deflection_file, bool compute_seeds,
                     const StationHooks& hooks) {
  const RunSettings& s = state.settings;
  const StationData& st = state.station;
  StationResults& r = state.results;
  const auto layers = static_cast<std::size_t>(s.layer_count);
  const auto sensors = static_cast<std::size_t>(s.sensor_count);
  const int drops = st.drop_count;

  if (compute_seeds) computations.compute_seeds(state);
  // Without adjustment the factor stays 0 and so do the adjusted moduli, which the reports leave out.
  r.temperature_factor = s.temperature_adjustment == 1 ? computations.temperature_factor(state) : 0.0f;

  for (int drop = 1; drop <= drops; ++drop) {
    const auto d = static_cast<std::size_t>(drop - 1);
    for (std::size_t j = 0; j < layers; ++j) {
      if (drop >= 2) r.modulus[d][j] = r.modulus[d - 1][j];
      r.seed[d][j] = r.modulus[d][j];
    }
    messages.progress(progress_line(clock, st, "Starting Drop No", drop));

    if (s.weighting_option == 1) {
      const float centre = st.measured[d][0];
      if (centre == 0.0f)
        throw InputError(deflection_file, st.drop_line[d],
                         "station " + st.id +
                             ": the deflection under the load is 0, so the sensor weights "
                             "(deflection ratios) cannot be formed");
      PerSensor<float>& weight = state.settings.sensor_weight;
      for (std::size_t k = 0; k < sensors; ++k) weight[k] = st.measured[d][k] / centre;
    }

    const DropOutcome outcome = computations.backcalculate(state, drop);
    messages.progress(progress_line(clock, st, "Finished Drop No", drop));
    r.adjusted_surface_modulus[d] = r.modulus[d][0] * r.temperature_factor;
    r.convergence_code[d] = static_cast<short>(outcome.convergence_code);
    r.iterations[d] = static_cast<short>(outcome.iterations);
    r.evaluations[d] = outcome.evaluations;
    r.weight[d] = s.sensor_weight;
    if (drop == 1 && hooks.first_drop_done) hooks.first_drop_done();
    if (hooks.drop_done) hooks.drop_done();
  }

  state.report.modulus = r.modulus;
  state.report.calculated = r.calculated;
  state.report.responses = r.responses.negated();

  float rms_sum = 0;
  for (int drop = 1; drop <= drops; ++drop) {
    const float rms = drop_rms_error(st, r, s.sensor_count, drop);
    r.rms_error[static_cast<std::size_t>(drop - 1)] = rms;
    rms_sum = rms_sum + rms;
  }
  r.average_rms_error = rms_sum / static_cast<float>(drops);

  if (drops > 1) computations.station_statistics(state);
  state.report.adjusted_surface_modulus = r.adjusted_surface_modulus;
  if (drops > 1) state.report.statistics = r.statistics;

  if (s.point_count > 0) {
    for (int drop = 1; drop <= drops; ++drop) computations.user_point_responses(state, drop);
    state.report.responses = r.responses.negated();
  }
}

PointResponses PointResponses::negated() const {
  PointResponses out;
  auto flip = [&](const PerDrop<PerPoint<float>>& in, PerDrop<PerPoint<float>>& to) {
    for (std::size_t d = 0; d < in.size(); ++d)
      for (std::size_t i = 0; i < in[d].size(); ++i) to[d][i] = missing[d] ? 0.0f : -in[d][i];
  };
  out.missing = missing;
  flip(vertical_stress, out.vertical_stress);
  flip(radial_stress, out.radial_stress);
  flip(hoop_stress, out.hoop_stress);
  flip(bulk_stress, out.bulk_stress);
  flip(deviator_stress, out.deviator_stress);
  flip(vertical_strain, out.vertical_strain);
  flip(radial_strain, out.radial_strain);
  return out;
}

}  // namespace basinfit
