#include "survey/survey_collector.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <type_traits>

#include "common/input_error.h"
#include "report/report_words.h"
#include "results/data_checks.h"
#include "run/regression.h"

namespace basinfit::survey {
namespace {

std::string trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(" \t") - first + 1));
}

std::string number(double value) {
  char buffer[32];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value));
  return error == std::errc() ? std::string(buffer, end) : std::string("?");
}

struct CollectedStation : StationAnalysis::Result {
  SurveyStation station;
};

// Centre deflection at the standard load: interpolated between the nearest drops on either
// side of it, otherwise scaled in proportion from the drop nearest to it.
std::optional<float> normalised_centre_deflection(const RunSettings& s, const StationData& st) {
  const float p0 = standard_load(s);
  int below = -1, above = -1, nearest = -1;
  for (int d = 0; d < std::min(st.drop_count, kMaxDrops); ++d) {
    const float load = st.load[static_cast<std::size_t>(d)];
    if (!(load > 0)) continue;
    if (load == p0) return st.measured[static_cast<std::size_t>(d)][0];
    if (load < p0 && (below < 0 || load > st.load[static_cast<std::size_t>(below)])) below = d;
    if (load > p0 && (above < 0 || load < st.load[static_cast<std::size_t>(above)])) above = d;
    if (nearest < 0 || std::fabs(load - p0) < std::fabs(st.load[static_cast<std::size_t>(nearest)] - p0))
      nearest = d;
  }
  if (below >= 0 && above >= 0) {
    const auto l = static_cast<std::size_t>(below), u = static_cast<std::size_t>(above);
    return st.measured[l][0] +
           (st.measured[u][0] - st.measured[l][0]) * (p0 - st.load[l]) / (st.load[u] - st.load[l]);
  }
  if (nearest < 0) return std::nullopt;
  const auto n = static_cast<std::size_t>(nearest);
  return st.measured[n][0] * p0 / st.load[n];
}

}  // namespace

int subgrade_layer(const RunSettings& settings) {
  return std::clamp(settings.layers_above_stiff(), 1, kMaxLayers) - 1;
}

void settings_from_state(const RunSettings& s, SurveyPage& page) {
  page.title = trimmed(s.title);
  page.route = trimmed(s.route);
  page.units = SurveyUnits::for_system(s.metric());
  const SurveyUnits& u = page.units;
  const int layers = std::clamp(s.layer_count, 0, kMaxLayers);
  page.layers.clear();
  for (int j = 0; j < layers; ++j) {
    const LayerSettings& layer = s.layers[static_cast<std::size_t>(j)];
    SurveyLayer out;
    out.name = "Layer " + std::to_string(j + 1);
    if (s.stiff_layer == 1 && j == layers - 1) out.name += " (stiff)";
    out.backcalculated = layer.backcalculated();
    out.poisson_ratio = layer.poisson_ratio;
    if (out.backcalculated) {
      out.lower_bound = layer.lower_bound;
      out.upper_bound = layer.upper_bound;
    }
    page.layers.push_back(out);
  }

  auto& rows = page.settings;
  rows.clear();
  rows.push_back({"Units", s.metric() ? "metric (cm, N, \xC2\xB5m, MPa)" : "English (in, lbf, mils, ksi)"});
  rows.push_back(
      {"Layers", std::to_string(s.layer_count) + (s.stiff_layer == 1 ? ", the last a stiff layer" : "")});
  for (int j = 0; j < layers; ++j) {
    const LayerSettings& layer = s.layers[static_cast<std::size_t>(j)];
    const std::string seed = number(s.initial_modulus[static_cast<std::size_t>(j)]);
    std::string text = "\xCE\xBD " + number(layer.poisson_ratio) + "; ";
    if (layer.backcalculated()) {
      text += (s.seed_option == 0 ? std::string("seed from the basin") : "seed " + seed + " " + u.modulus) +
              "; bounds " + number(layer.lower_bound) + " to " + number(layer.upper_bound) + " " + u.modulus;
    } else {
      text += "fixed at " + seed + " " + u.modulus;
    }
    rows.push_back({page.layers[static_cast<std::size_t>(j)].name, text});
  }
  rows.push_back({"Plate radius", number(s.plate_radius) + " " + u.length});
  std::string offsets;
  for (int i = 0; i < std::clamp(s.sensor_count, 0, kMaxSensors); ++i) {
    if (i > 0) offsets += ", ";
    offsets += number(s.sensor_offset[static_cast<std::size_t>(i)]);
  }
  rows.push_back({"Sensors", std::to_string(s.sensor_count) + " at " + offsets + " " + u.length});
  static const char* const kWeighting[] = {"equal", "by deflection ratio", "as given"};
  rows.push_back({"Sensor weights", s.weighting_option >= 0 && s.weighting_option <= 2
                                        ? kWeighting[s.weighting_option]
                                        : std::to_string(s.weighting_option)});
  rows.push_back({"Tolerances", "RMS " + number(s.rms_tolerance) + " %, modulus " +
                                    number(s.modulus_tolerance) + " %, at most " +
                                    std::to_string(s.max_iterations) + " iterations"});
  // The reference temperature is kept in degrees F; a metric run reads it in degrees C.
  page.reference_temperature.clear();
  if (s.temperature_adjustment == 1) {
    char text[32];
    std::snprintf(
        text, sizeof text, "%.3g",
        s.metric() ? (s.reference_temperature - 32.0) / 1.8 : static_cast<double>(s.reference_temperature));
    page.reference_temperature = std::string(text) + " " + u.temperature;
  }
  rows.push_back({"Surface modulus", s.temperature_adjustment == 1
                                         ? "adjusted to " + page.reference_temperature
                                         : std::string("not adjusted for temperature")});
}

SurveyStation station_from_state(const RunState& state) {
  const RunSettings& s = state.settings;
  const StationData& st = state.station;
  const StationResults& r = state.results;
  const ReportCopies& copy = state.report;
  const auto layers = static_cast<std::size_t>(std::clamp(s.layer_count, 0, kMaxLayers));
  const auto sensors = static_cast<std::size_t>(std::clamp(s.sensor_count, 0, kMaxSensors));
  const int drops = std::clamp(st.drop_count, 0, kMaxDrops);

  SurveyStation out;
  out.id = trimmed(st.id);
  for (std::size_t j = 0; j + 1 < layers && j < kMaxThicknesses; ++j)
    out.thickness.push_back(st.thickness[j]);
  out.temperature1 = st.temperature1;
  out.temperature2 = st.temperature2;
  const std::string standard = number(standard_load(s)) + " " + (s.metric() ? "N" : "lbf");
  if (drops > 1) {
    const StationStatistics& stats = r.statistics;
    std::vector<float> normalised(stats.normalized_modulus.begin(),
                                  stats.normalized_modulus.begin() + static_cast<std::ptrdiff_t>(layers));
    // A station whose loads do not bracket the standard load has no normalised moduli.
    if (std::all_of(normalised.begin(), normalised.end(), [](float e) { return e > 0; })) {
      out.normalised_modulus = std::move(normalised);
      if (s.temperature_adjustment == 1 && stats.normalized_adjusted_modulus > 0)
        out.normalised_adjusted_surface_modulus = stats.normalized_adjusted_modulus;
    } else {
      out.normalisation_note =
          "no normalised moduli: the drops' loads do not bracket the standard load " + standard;
    }
  } else {
    out.normalisation_note =
        "no normalised moduli: a single drop (normalising needs drops around " + standard + ")";
  }
  for (std::size_t j = 0; j < layers; ++j) {
    const int soil = drops > 1 ? r.statistics.soil_type[j] : 0;
    out.soil_type.emplace_back(soil_type_word(soil));
    out.k1.push_back(has_stress_fit(soil) ? std::optional<float>(r.statistics.k1[j]) : std::nullopt);
    out.k2.push_back(has_stress_fit(soil) ? std::optional<float>(r.statistics.k2[j]) : std::nullopt);
    // The reports' figure is 100 sqrt(SSR / SST), the correlation in percent; the page shows the
    // coefficient of determination itself, the share of the spread of log E the law explains.
    const float correlation = r.statistics.r_squared[j] / 100.0f;
    out.r_squared.push_back(has_stress_fit(soil) ? std::optional<float>(100.0f * correlation * correlation)
                                                 : std::nullopt);
    out.implausible_law.push_back(false);
  }
  out.normalised_centre_deflection = normalised_centre_deflection(s, st);

  for (int d = 0; d < drops; ++d) {
    const auto i = static_cast<std::size_t>(d);
    SurveyDrop drop;
    drop.number = d + 1;
    drop.load = st.load[i];
    drop.modulus.assign(copy.modulus[i].begin(),
                        copy.modulus[i].begin() + static_cast<std::ptrdiff_t>(layers));
    drop.rms_percent = r.rms_error[i];
    if (s.temperature_adjustment == 1) drop.adjusted_surface_modulus = copy.adjusted_surface_modulus[i];
    drop.convergence_code = r.convergence_code[i];
    const auto words = convergence_text(drop.convergence_code);
    drop.convergence_words =
        words ? trimmed(*words) : "Error (" + std::to_string(drop.convergence_code) + ")";
    for (std::size_t k = 0; k < sensors; ++k) {
      drop.basin.offset.push_back(s.sensor_offset[k]);
      drop.basin.measured.push_back(st.measured[i][k]);
      drop.basin.calculated.push_back(copy.calculated[i][k]);
      drop.basin.residual_percent.push_back(percentage_difference(st.measured[i][k], copy.calculated[i][k]));
    }
    out.drops.push_back(std::move(drop));
  }
  return out;
}

namespace {

// A station's row as bytes: every field in the order below, numbers in the machine's own
// representation (the bytes never leave the process), text and lists led by their length.
// One list of fields serves both directions, so writing and reading cannot disagree.
template <class Io, class Drop>
void drop_fields(Io& io, Drop& d) {
  io(d.number);
  io(d.load);
  io(d.modulus);
  io(d.rms_percent);
  io(d.convergence_code);
  io(d.convergence_words);
  io(d.adjusted_surface_modulus);
  io(d.flags);
  io(d.flag_layers);
  io(d.flag_reasons);
  io(d.basin.offset);
  io(d.basin.measured);
  io(d.basin.calculated);
  io(d.basin.residual_percent);
}

template <class Io, class Station>
void station_fields(Io& io, Station& s) {
  io(s.id);
  io(s.chainage);
  io(s.lane);
  io(s.latitude);
  io(s.longitude);
  io(s.comment);
  io(s.thickness);
  io(s.temperature1);
  io(s.temperature2);
  io(s.normalised_modulus);
  io(s.normalised_by);
  io(s.normalisation_note);
  io(s.normalised_adjusted_surface_modulus);
  io(s.normalised_centre_deflection);
  io(s.k1);
  io(s.k2);
  io(s.soil_type);
  io(s.r_squared);
  io(s.implausible_law);
  io(s.flags);
  io(s.drops);
}

struct RowWriter {
  std::string bytes;
  template <class T>
  requires std::is_arithmetic_v<T>
  void operator()(const T& v) { bytes.append(reinterpret_cast<const char*>(&v), sizeof v); }
  void operator()(const NormalisedBy& v) { (*this)(static_cast<std::uint8_t>(v)); }
  void operator()(const std::string& text) {
    (*this)(static_cast<std::uint32_t>(text.size()));
    bytes.append(text);
  }
  template <class T>
  void operator()(const std::optional<T>& v) {
    (*this)(static_cast<std::uint8_t>(v.has_value()));
    if (v) (*this)(*v);
  }
  template <class T>
  void operator()(const std::vector<T>& list) {
    (*this)(static_cast<std::uint32_t>(list.size()));
    for (const T& v : list) (*this)(v);
  }
  void operator()(const SurveyDrop& d) { drop_fields(*this, d); }
};

struct RowReader {
  const char* at;
  const char* end;
  bool ok = true;
  template <class T>
  requires std::is_arithmetic_v<T>
  void operator()(T& v) {
    if (static_cast<std::size_t>(end - at) < sizeof v) {
      ok = false;
      v = T{};
      return;
    }
    std::memcpy(&v, at, sizeof v);
    at += sizeof v;
  }
  void operator()(NormalisedBy& v) {
    std::uint8_t code = 0;
    (*this)(code);
    v = static_cast<NormalisedBy>(code);
  }
  // A length no longer than the bytes left (every element takes at least one).
  std::uint32_t length() {
    std::uint32_t n = 0;
    (*this)(n);
    if (n > static_cast<std::size_t>(end - at)) ok = false;
    return ok ? n : 0;
  }
  void operator()(std::string& text) {
    const std::uint32_t n = length();
    text.assign(at, n);
    at += n;
  }
  template <class T>
  void operator()(std::optional<T>& v) {
    std::uint8_t present = 0;
    (*this)(present);
    v.reset();
    if (present != 0) (*this)(v.emplace());
  }
  template <class T>
  void operator()(std::vector<T>& list) {
    list.resize(length());
    for (std::size_t k = 0; k < list.size(); ++k) {
      T v{};
      (*this)(v);
      list[k] = std::move(v);
    }
  }
  void operator()(SurveyDrop& d) { drop_fields(*this, d); }
};

[[noreturn]] void unreadable(const std::string& folder, const std::string& why) {
  throw InputError(folder.empty() ? std::string("temporary folder") : folder, 0,
                   "cannot read back the stations kept for the survey page: " + why,
                   InputError::Kind::kFileSystem);
}

}  // namespace

StationSpool::~StationSpool() {
  if (fd_ >= 0) ::close(fd_);
}

void StationSpool::open_file() {
  opened_ = true;
  std::vector<std::string> folders;
  if (!folder_.empty()) folders.push_back(folder_);
  std::error_code error;
  const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
  if (!error) folders.push_back(temporary.string());
  for (const std::string& folder : folders) {
#ifdef O_TMPFILE
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) return;
#endif
    // A file system without unnamed files: a file of a name no one else can take, removed at
    // once.
    std::string name = (std::filesystem::path(folder) / ".basinfit-stations-XXXXXX").string();
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ >= 0) {
      ::unlink(name.c_str());
      return;
    }
  }
}

void StationSpool::move_to_memory() {
  std::string bytes(end_, '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd_);
  fd_ = -1;
  if (done < bytes.size()) {
    // Stations that can be read neither from the file nor from memory: the page cannot be whole.
    extent_.clear();
    held_.clear();
    end_ = 0;
    lost_ = true;
    return;
  }
  held_ = std::move(bytes);
}

void StationSpool::store(std::size_t index, const SurveyStation& station) {
  if (!opened_) open_file();
  RowWriter row;
  station_fields(row, station);
  const Extent extent{end_, static_cast<std::uint32_t>(row.bytes.size())};
  if (fd_ >= 0) {
    std::size_t done = 0;
    while (done < row.bytes.size()) {
      const ssize_t n =
          ::pwrite(fd_, row.bytes.data() + done, row.bytes.size() - done, static_cast<off_t>(end_ + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    // The folder is full (or the file-size limit reached): the stations go on in memory.
    if (done < row.bytes.size()) move_to_memory();
  }
  if (fd_ < 0) held_.append(row.bytes);
  end_ += row.bytes.size();
  if (index < extent_.size()) {
    extent_[index] = extent;
  } else {
    extent_.resize(index + 1);
    extent_[index] = extent;
  }
}

SurveyStation StationSpool::load(std::size_t index) const {
  if (lost_) unreadable(folder_, "the temporary file failed and could not be read back");
  if (index >= extent_.size())
    unreadable(folder_, "station " + std::to_string(index + 1) + " was never kept");
  const Extent& e = extent_[index];
  std::string bytes;
  const char* at = nullptr;
  if (fd_ >= 0) {
    bytes.resize(e.size);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n =
          ::pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(e.at + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        unreadable(folder_, n < 0 ? std::strerror(errno) : "the temporary file is shorter than written");
      done += static_cast<std::size_t>(n);
    }
    at = bytes.data();
  } else {
    at = held_.data() + e.at;
  }
  SurveyStation station;
  RowReader row{at, at + e.size};
  station_fields(row, station);
  if (!row.ok || row.at != row.end)
    unreadable(folder_, "station " + std::to_string(index + 1) + " does not read back whole");
  return station;
}

void SurveyCollector::begin(const RunState& state) {
  settings_from_state(state.settings, page_);
  metric_ = state.settings.metric();
  if (table_ != nullptr) page_.station_table = table_->file();
  subgrade_ = subgrade_layer(state.settings);
  started_ = true;
}

std::unique_ptr<StationAnalysis::Result> SurveyCollector::analyse(const RunState& state) const {
  auto result = std::make_unique<CollectedStation>();
  result->station = station_from_state(state);
  return result;
}

void SurveyCollector::record(const RunState& state, std::unique_ptr<Result> result) {
  auto* collected = dynamic_cast<CollectedStation*>(result.get());
  SurveyStation station = collected != nullptr ? std::move(collected->station) : station_from_state(state);
  for (const SurveyDrop& drop : station.drops)
    for (const float r : drop.basin.residual_percent)
      if (std::isfinite(r))
        page_.largest_residual_percent = std::max(page_.largest_residual_percent, std::fabs(r));
  if (table_ != nullptr) {
    if (const results::StationTableRow* row = table_->find(station.id)) {
      constexpr double kFeetPerMetre = 1.0 / 0.3048;
      const bool table_metric = table_->unit() == "m";
      station.chainage = row->chainage * (table_metric == metric_ ? 1.0
                                          : metric_               ? 1 / kFeetPerMetre
                                                                  : kFeetPerMetre);
      station.lane = row->lane;
      station.latitude = row->latitude;
      station.longitude = row->longitude;
      station.comment = row->comment;
    }
  }
  // What the results and the data checks said of the station before it came is applied now, so
  // only what concerns stations still to come waits.
  const std::size_t index = spool_.size();
  for (std::size_t k = 0; k < records_.size(); ++k)
    if (static_cast<std::size_t>(records_[k].sequence) == index + 1) {
      apply(records_[k], station);
      records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(k));
      break;
    }
  const auto mine = [&](const DropFlags& f) { return f.station == index; };
  for (const DropFlags& f : flags_)
    if (mine(f)) apply(station, f);
  flags_.erase(std::remove_if(flags_.begin(), flags_.end(), mine), flags_.end());
  drop_count_ += station.drops.size();
  spool_.store(index, station);
}

void SurveyCollector::annotate_drop(std::size_t station, int drop, std::vector<std::string> flags) {
  page_.flags_checked = true;
  DropFlags f{station, drop, std::move(flags)};
  if (station < spool_.size()) {
    // A station already kept is read back, changed and kept again.
    SurveyStation kept = spool_.load(station);
    apply(kept, f);
    spool_.store(station, kept);
  } else {
    flags_.push_back(std::move(f));
  }
}

void SurveyCollector::annotate_station(const results::StationRecord& record) {
  page_.flags_checked = true;
  if (record.sequence >= 1 && static_cast<std::size_t>(record.sequence) <= spool_.size()) {
    const auto index = static_cast<std::size_t>(record.sequence - 1);
    SurveyStation kept = spool_.load(index);
    apply(record, kept);
    spool_.store(index, kept);
  } else {
    records_.push_back(record);
  }
}

namespace {

std::string layer_list(std::uint32_t layers) {
  std::vector<int> numbers;
  for (int j = 0; j < kMaxLayers; ++j)
    if ((layers >> j) & 1u) numbers.push_back(j + 1);
  std::string out = numbers.size() > 1 ? "layers " : "layer ";
  for (std::size_t k = 0; k < numbers.size(); ++k)
    out += (k == 0 ? "" : k + 1 == numbers.size() ? " and " : ", ") + std::to_string(numbers[k]);
  return out;
}

std::string rounded(double v, int digits = 3) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*g", digits, v);
  return text;
}

// What raised a flag, in words, with the value and the limit where there is one.
std::string flag_reason(results::DropFlag flag, std::uint32_t layers, const results::DropRecord& drop,
                        const SurveyPage& page) {
  using namespace results;
  const CheckLimits limits = CheckLimits::for_units(page.units.metric);
  const SurveyUnits& u = page.units;
  std::string out;
  switch (flag) {
    case kPoorlyDetermined:
    case kModulusAtBound:
      for (int j = 0; j < kMaxLayers; ++j) {
        if (((layers >> j) & 1u) == 0) continue;
        if (!out.empty()) out += "; ";
        const auto jj = static_cast<std::size_t>(j);
        if (flag == kPoorlyDetermined) {
          out += "layer " + std::to_string(j + 1) + ": standard error " +
                 rounded(drop.uncertainty.standard_error_percent[jj]) + " % (limit " +
                 rounded(limits.standard_error_limit_percent) + " %)";
        } else {
          const float e = drop.modulus[jj];
          const SurveyLayer* layer = jj < page.layers.size() ? &page.layers[jj] : nullptr;
          const bool upper = layer != nullptr && layer->upper_bound && layer->lower_bound &&
                             std::fabs(e - *layer->upper_bound) < std::fabs(e - *layer->lower_bound);
          out += "layer " + std::to_string(j + 1) + ": " + rounded(e, 4) + " " + u.modulus + " at its " +
                 (upper ? "upper" : "lower") + " bound";
        }
      }
      return out;
    case kNotSeparable:
      return layer_list(layers) + ": correlation " + rounded(drop.uncertainty.max_correlation) + " (limit " +
             rounded(limits.correlation_limit) + ")";
    case kRmsHigh:
      return "RMS error " + rounded(drop.rms_percent) + " % (limit " + rounded(page.rms_limit_percent) +
             " %)";
    case kNotConverged:
      return "convergence code " + std::to_string(drop.convergence_code);
    case kLoadOffLevel:
      return "load " + rounded(drop.load, 5) + " " + u.load + ", more than " +
             rounded(100 * limits.load_tolerance) + " % from every nominal level";
    case kDeflectionNotPositive:
      for (const SensorRecord& sensor : drop.sensors)
        if (!(sensor.measured > 0))
          return "sensor " + std::to_string(sensor.sensor) + " reads " + rounded(sensor.measured) + " " +
                 u.deflection;
      return "a deflection is not positive";
    case kBasinNotDecreasing:
      for (std::size_t k = 1; k < drop.sensors.size(); ++k)
        if (drop.sensors[k].measured > drop.sensors[k - 1].measured)
          return "sensor " + std::to_string(drop.sensors[k].sensor) + " reads " +
                 rounded(drop.sensors[k].measured) + " " + u.deflection + ", more than sensor " +
                 std::to_string(drop.sensors[k - 1].sensor) + " nearer the load (" +
                 rounded(drop.sensors[k - 1].measured) + ")";
      return "a deflection exceeds the one nearer the load";
    case kNonUnique:
      return "a side fit with RMS error " + rounded(drop.multistart.best_rms_percent) + " % differs by " +
             rounded(drop.multistart.best_max_difference_percent) + " % in a modulus";
    case kUncertaintyFailed:
      return "the model failed near the fitted moduli";
  }
  return out;
}

// The layers a flag of a drop concerns, from the values the results hold, for records that do
// not name them: the layers whose standard error exceeds its limit, the correlated pair, the
// moduli within the margin of a bound.  0 for a flag of the drop as a whole.
std::uint32_t layers_concerned(results::DropFlag flag, const results::DropRecord& drop,
                               const SurveyPage& page) {
  const results::CheckLimits limits = results::CheckLimits::for_units(page.units.metric);
  std::uint32_t layers = 0;
  for (std::size_t j = 0; j < page.layers.size() && j < static_cast<std::size_t>(kMaxLayers); ++j) {
    const SurveyLayer& layer = page.layers[j];
    if (flag == results::kPoorlyDetermined) {
      const double se = drop.uncertainty.standard_error_percent[j];
      if (!results::missing(se) && se > limits.standard_error_limit_percent) layers |= 1u << j;
    } else if (flag == results::kModulusAtBound && layer.lower_bound && layer.upper_bound) {
      const float e = drop.modulus[j];
      if (e <= *layer.lower_bound * (1 + limits.bound_margin) ||
          e >= *layer.upper_bound * (1 - limits.bound_margin))
        layers |= 1u << j;
    }
  }
  if (flag == results::kNotSeparable)
    for (const int layer : drop.uncertainty.correlated_layers)
      if (layer >= 1 && layer <= kMaxLayers) layers |= 1u << (layer - 1);
  return layers;
}

}  // namespace

void SurveyCollector::apply(const results::StationRecord& record, SurveyStation& station) const {
  const std::size_t layers = page_.layers.size();
  // The results' normalisation where they carry one (interpolated as the reports, or from the
  // station's trend); otherwise the page keeps the reports' own.
  if (record.normalisation != results::Normalisation::kNone || !record.normalisation_note.empty()) {
    station.normalisation_note = record.normalisation_note;
    station.normalised_modulus.reset();
    station.normalised_adjusted_surface_modulus.reset();
    if (record.normalisation != results::Normalisation::kNone) {
      std::vector<float> e;
      for (std::size_t j = 0; j < layers; ++j) e.push_back(static_cast<float>(record.normalised_modulus[j]));
      station.normalised_modulus = std::move(e);
      station.normalised_by = record.normalisation == results::Normalisation::kTrend
                                  ? NormalisedBy::kTrend
                                  : NormalisedBy::kInterpolation;
      if (!results::missing(record.normalised_adjusted_surface_modulus))
        station.normalised_adjusted_surface_modulus =
            static_cast<float>(record.normalised_adjusted_surface_modulus);
    }
  }
  station.implausible_law.assign(layers, false);
  for (std::size_t j = 0; j < layers && j < record.implausible_law.size(); ++j)
    station.implausible_law[j] = record.implausible_law[j];
  for (const results::DropRecord& d : record.drops) {
    for (SurveyDrop& drop : station.drops) {
      if (drop.number != d.drop) continue;
      drop.flags.clear();
      drop.flag_layers.clear();
      drop.flag_reasons.clear();
      for (const results::FlagDescription& flag : results::drop_flags()) {
        if ((d.flags & static_cast<std::uint32_t>(flag.flag)) == 0) continue;
        std::uint32_t concerned = 0;
        for (std::size_t j = 0; j < layers; ++j)
          if ((d.layer_flags[j] & static_cast<std::uint32_t>(flag.flag)) != 0) concerned |= 1u << j;
        if (concerned == 0) concerned = layers_concerned(flag.flag, d, page_);
        drop.flags.emplace_back(flag.name);
        drop.flag_layers.push_back(concerned);
        drop.flag_reasons.push_back(flag_reason(flag.flag, concerned, d, page_));
      }
      if (!results::missing(d.adjusted_surface_modulus))
        drop.adjusted_surface_modulus = d.adjusted_surface_modulus;
    }
  }
}

void SurveyCollector::apply(SurveyStation& station, const DropFlags& f) {
  for (SurveyDrop& drop : station.drops)
    if (drop.number == f.drop) drop.flags = f.flags;
}

void SurveyCollector::fill(SurveyPage& page) const {
  page.stations.clear();
  page.profile = SurveyProfile{};
  page.convergence_counts.clear();
  page.flag_counts.clear();
  // The counts in order of first appearance, station after station, as count_convergence and
  // count_flags give them for stations in memory.
  page.profile.stations.reserve(spool_.size());
  page.profile.drops.reserve(drop_count_);
  for (std::size_t i = 0; i < spool_.size(); ++i) {
    const SurveyStation station = spool_.load(i);
    for (const SurveyDrop& drop : station.drops) {
      add_count(page.convergence_counts, drop.convergence_words);
      for (const std::string& flag : drop.flags) add_count(page.flag_counts, flag);
    }
    page.profile.add(station);
  }
  page.station_row = [this](std::size_t index) { return spool_.load(index); };
}

SurveyPage SurveyCollector::page() const {
  SurveyPage page = page_;
  fill(page);
  return page;
}

const SurveyPage& SurveyCollector::finished_page() {
  fill(page_);
  return page_;
}

}  // namespace basinfit::survey
