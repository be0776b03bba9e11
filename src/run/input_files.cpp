#include "run/input_files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "solver/machine_constants.h"

namespace basinfit {

namespace {

std::string number_text(float v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(v));
  return buffer;
}

// Reads one list-directed record; the end of the file counts as a read error here.
void read_required(ListReader& reader, std::initializer_list<ListTarget> targets, const char* what) {
  const ListReader::Status status = reader.read(targets);
  if (status != ListReader::Status::kComplete) {
    throw InputError(reader.file().name(), reader.at_end() ? reader.end_line() + 1 : reader.end_line(),
                     std::string("the file ends before ") + what);
  }
}

}  // namespace

std::optional<SettingsProblem> read_standard_values(const TextFile& file, RunSettings& settings) {
  ListReader reader(file);
  int check = 0;
  float reference = 0;
  const ListReader::Status status =
      reader.read({{check, "the check value"}, {reference, "the reference temperature"}});
  if (status != ListReader::Status::kComplete)
    throw InputError(file.name(), static_cast<int>(file.record_count()) + 1,
                     "the file ends before the check value and the reference temperature");
  if (check != 1) {
    return SettingsProblem{kStandardValueMessage,
                           InputError(file.name(), reader.last_line(),
                                      "the check value is " + std::to_string(check) + ", expected 1")};
  }
  if (!(reference >= kMinTemperatureF && reference <= kMaxTemperatureF)) {
    return SettingsProblem{
        kStandardValueMessage,
        InputError(file.name(), reader.last_line(),
                   "the reference temperature is " + number_text(reference) + " F, expected " +
                       number_text(kMinTemperatureF) + " to " + number_text(kMaxTemperatureF) + " F")};
  }
  settings.reference_temperature = reference;
  return std::nullopt;
}

void set_default_points(RunSettings& settings) {
  const int above = settings.layers_above_stiff();
  settings.default_point_count = above;
  for (int j = 1; j <= above; ++j) {
    EvaluationPoint& p = settings.points[static_cast<std::size_t>(j - 1)];
    p.radial_distance = 0;
    p.layer = j;
    if (j == 1)
      p.position = kBottomOfLayer;
    else if (j == above)
      p.position = kTopOfLayer;
    else
      p.position = kMiddleOfLayer;
  }
}

namespace {

// Everything in the general data file up to and including the evaluation points.
void read_general_records(const TextFile& file, RunSettings& s) {
  ListReader reader(file);
  const std::string& name = file.name();
  auto fail = [&](int line, const std::string& reason) { throw InputError(name, line, reason); };

  const std::optional<std::string> title = reader.read_text(79);
  if (!title) fail(1, "the file is empty: expected the title record");
  s.title = *title;

  read_required(reader,
                {{s.layer_count, "the number of layers"},
                 {s.unit_flag, "the unit flag"},
                 {s.plate_radius, "the plate radius"},
                 {s.sensor_count, "the number of sensors"},
                 {s.weighting_option, "the weighting option"}},
                "the layer and sensor counts");
  const int counts_line = reader.last_line();
  if (s.layer_count < 1 || s.layer_count > kMaxLayers)
    fail(counts_line, "the number of layers is " + std::to_string(s.layer_count) + ", expected 1 to 5");
  if (s.sensor_count < 1 || s.sensor_count > kMaxSensors)
    fail(counts_line, "the number of sensors is " + std::to_string(s.sensor_count) + ", expected 1 to 10");
  if (!(s.plate_radius > 0))
    fail(counts_line, "the plate radius is " + number_text(s.plate_radius) + ", expected a value above 0");
  if (s.weighting_option < 0 || s.weighting_option > 2)
    fail(counts_line,
         "the weighting option is " + std::to_string(s.weighting_option) + ", expected 0, 1 or 2");

  const auto sensors = static_cast<std::size_t>(s.sensor_count);
  std::span<float> offsets(s.sensor_offset.data(), sensors);
  std::span<float> weights(s.sensor_weight.data(), sensors);
  if (s.weighting_option == 2) {
    read_required(reader, {{offsets, "a sensor offset"}, {weights, "a sensor weight"}},
                  "the sensor offsets and weights");
    for (std::size_t i = 0; i < sensors; ++i)
      if (weights[i] < 0)
        fail(reader.last_line(), "the weight of sensor " + std::to_string(i + 1) + " is " +
                                     number_text(weights[i]) + ", expected 0 or more");
  } else {
    read_required(reader, {{offsets, "a sensor offset"}}, "the sensor offsets");
    if (s.weighting_option == 0)
      for (float& w : weights) w = 1.0f;
  }
  const float offset_limit = s.unit_flag == 0 ? kMaxSensorOffsetCm : kMaxSensorOffsetIn;
  for (std::size_t i = 0; i < sensors; ++i)
    if (offsets[i] < 0 || offsets[i] > offset_limit)
      fail(reader.last_line(), "the offset of sensor " + std::to_string(i + 1) + " is " +
                                   number_text(offsets[i]) + ", expected 0 to " + number_text(offset_limit) +
                                   (s.unit_flag == 0 ? " cm" : " in"));
  if (s.weighting_option == 2 && std::all_of(weights.begin(), weights.end(), [](float w) { return w == 0; }))
    fail(reader.last_line(),
         "every sensor weight is 0: nothing would be fitted; expected at least one weight "
         "above 0");

  read_required(reader,
                {{s.temperature_adjustment, "the temperature-adjustment flag"},
                 {s.temperature_option, "the temperature option"},
                 {s.seed_option, "the seed option"},
                 {s.stiff_layer, "the stiff-layer flag"}},
                "the option record");
  if (s.stiff_layer != 0 && s.stiff_layer != 1)
    fail(reader.last_line(),
         "the stiff-layer flag is " + std::to_string(s.stiff_layer) + ", expected 0 or 1");
  if (s.stiff_layer == 1 && s.layer_count < 2)
    fail(reader.last_line(), "a stiff layer needs at least one layer above it");

  PerLayer<bool> seen{};
  PerLayer<int> layer_line{};
  for (int record = 0; record < s.layer_count; ++record) {
    int j = 0, type = 0;
    float poisson = 0, modulus = 0;
    read_required(reader,
                  {{j, "the layer number"},
                   {type, "the layer type"},
                   {poisson, "the Poisson's ratio"},
                   {modulus, "the modulus"}},
                  "every layer record");
    const int line = reader.last_line();
    if (j < 1 || j > s.layer_count)
      fail(line,
           "the layer number is " + std::to_string(j) + ", expected 1 to " + std::to_string(s.layer_count));
    float lower = 0, upper = 0;
    if (type == kBackcalculatedLayer) {
      reader.reread_last();
      read_required(reader,
                    {{j, "the layer number"},
                     {type, "the layer type"},
                     {poisson, "the Poisson's ratio"},
                     {modulus, "the modulus"},
                     {lower, "the lower modulus bound"},
                     {upper, "the upper modulus bound"}},
                    "the modulus bounds of a backcalculated layer");
    }
    const std::string layer = "layer " + std::to_string(j);
    if (seen[static_cast<std::size_t>(j - 1)]) fail(line, layer + " is given twice");
    seen[static_cast<std::size_t>(j - 1)] = true;
    layer_line[static_cast<std::size_t>(j - 1)] = line;
    s.layers[static_cast<std::size_t>(j - 1)].line = line;
    if (!(poisson >= 0.0f && poisson <= 0.5f))
      fail(line, "the Poisson's ratio of " + layer + " is " + number_text(poisson) + ", expected 0 to 0.5");
    if (type == kBackcalculatedLayer) {
      if (!(modulus > 0 && modulus <= kMaxModulus))
        fail(line, "the modulus of " + layer + " is " + number_text(modulus) +
                       ", expected above 0 and at most " + number_text(kMaxModulus));
      if (lower > kMaxModulus || upper > kMaxModulus)
        fail(line, "the modulus bounds of " + layer + " are " + number_text(lower) + " and " +
                       number_text(upper) + ", expected at most " + number_text(kMaxModulus));
    } else if (!(modulus >= kMinFixedModulus && modulus <= kMaxModulus)) {
      fail(line, "the modulus of " + layer + " is " + number_text(modulus) + ", expected " +
                     number_text(kMinFixedModulus) + " to " + number_text(kMaxModulus));
    }
    LayerSettings& ls = s.layers[static_cast<std::size_t>(j - 1)];
    ls.type = type;
    ls.poisson_ratio = poisson;
    ls.lower_bound = lower;
    ls.upper_bound = upper;
    s.initial_modulus[static_cast<std::size_t>(j - 1)] = modulus;
  }

  s.units = UnitFactors::for_flag(s.unit_flag);
  s.atmospheric_pressure = atmospheric_pressure(s.units);

  // Bounds become exponents of ten: the solver searches log10 of the moduli.  A lower bound
  // of 0.1 or less means 0.1, an upper bound of 1 or less means 10^6.
  for (int j = 0; j < s.layer_count; ++j) {
    LayerSettings& ls = s.layers[static_cast<std::size_t>(j)];
    if (!ls.backcalculated()) continue;
    ls.lower_exponent = ls.lower_bound > 0.1f ? std::log10(ls.lower_bound) : -1.0f;
    ls.upper_exponent = ls.upper_bound > 1.0f ? std::log10(ls.upper_bound) : 6.0f;
    if (ls.lower_exponent > ls.upper_exponent)
      fail(layer_line[static_cast<std::size_t>(j)],
           "the lower modulus bound of layer " + std::to_string(j + 1) + " (" + number_text(ls.lower_bound) +
               ") is above its upper bound (" + number_text(ls.upper_bound) + ")");
  }

  read_required(reader,
                {{s.max_iterations, "the maximum number of iterations"},
                 {s.rms_tolerance, "the RMS tolerance"},
                 {s.modulus_tolerance, "the modulus tolerance"}},
                "the iteration and tolerance record");

  // Evaluation points until the end of the file, at most ten.
  s.point_count = 0;
  while (s.point_count < kMaxPoints) {
    EvaluationPoint p;
    const ListReader::Status status =
        reader.read({{p.radial_distance, "the radial distance of an evaluation point"},
                     {p.layer, "the layer number of an evaluation point"},
                     {p.position, "the position code of an evaluation point"}});
    if (status == ListReader::Status::kEndOfFile) break;
    const int line = reader.last_line();
    if (status == ListReader::Status::kIncomplete)
      fail(line,
           "the evaluation point record is incomplete: expected radial distance, layer number and position "
           "code");
    if (p.layer < 1 || p.layer > s.layer_count)
      fail(line, "the evaluation point lies in layer " + std::to_string(p.layer) + ", expected 1 to " +
                     std::to_string(s.layer_count));
    if (p.position < kTopOfLayer || p.position > kBottomOfLayer)
      fail(line, "the position code is " + std::to_string(p.position) +
                     ", expected 0 (top), 1 (middle) or 2 (bottom)");
    if (p.radial_distance < 0)
      fail(line, "the radial distance is " + number_text(p.radial_distance) + ", expected 0 or more");
    s.points[static_cast<std::size_t>(s.point_count++)] = p;
  }
  if (s.point_count == 0) set_default_points(s);
}

}  // namespace

std::optional<SettingsProblem> read_general_data(const TextFile& file, RunSettings& settings) {
  settings.separator = '\t';
  try {
    read_general_records(file, settings);
  } catch (const InputError& e) {
    return SettingsProblem{kGeneralDataMessage, e};
  }
  if (settings.layer_count > 3 && settings.seed_option == 0) {
    return SettingsProblem{kSeedOptionMessage,
                           InputError(file.name(), 0,
                                      "seeds can be computed for at most 3 layers; this file has " +
                                          std::to_string(settings.layer_count) + " with seed option 0")};
  }
  return std::nullopt;
}

DifferenceRoom difference_step_room(float lower, float upper) {
  // Every solve forms its first Jacobian with unit scales: the step for an unknown at x is
  // h = sqrt(eps) max(|x|, 1), taken forwards, or backwards when x + h passes the upper bound,
  // and the column cannot be formed when x - h and x + h both leave [lower, upper], that is
  // for x in (upper - h, lower + h).  Across a box this narrow h changes by a relative
  // width/|x| only, so that set holds the middle of the box when the width is below 2h and
  // the whole box (both ends) when it is below h.
  if (!(lower < upper)) return DifferenceRoom::kEverywhere;  // a closed box needs no differences
  const float relative_step = solver::machine_constant(4);
  auto no_column_at = [&](float x) {
    const float h = relative_step * std::max(std::fabs(x), 1.0f);
    return x - h < lower && x + h > upper;
  };
  if (no_column_at(lower) && no_column_at(upper)) return DifferenceRoom::kNowhere;
  if (no_column_at(lower + (upper - lower) / 2.0f)) return DifferenceRoom::kNotMidway;
  return DifferenceRoom::kEverywhere;
}

std::vector<std::string> settings_warnings(const RunSettings& s, const std::string& file) {
  std::vector<std::string> warnings;
  for (int j = 0; j < s.layer_count; ++j) {
    const LayerSettings& layer = s.layers[static_cast<std::size_t>(j)];
    if (!layer.backcalculated()) continue;
    const DifferenceRoom room = difference_step_room(layer.lower_exponent, layer.upper_exponent);
    if (room == DifferenceRoom::kEverywhere) continue;
    // Bounds whose ratio exceeds 10^(2h) leave room for the step from every point.
    const float h = solver::machine_constant(4) * std::max(std::fabs(layer.upper_exponent), 1.0f);
    char percent[32];
    std::snprintf(percent, sizeof percent, "%.2g",
                  100.0 * (std::pow(10.0, 2.0 * static_cast<double>(h)) - 1.0));
    warnings.push_back(
        file + ", line " + std::to_string(layer.line) + ": warning: layer " + std::to_string(j + 1) +
        " is backcalculated between " + number_text(std::pow(10.0f, layer.lower_exponent)) + " and " +
        number_text(std::pow(10.0f, layer.upper_exponent)) +
        ", a range narrower than the solver's difference step, " +
        (room == DifferenceRoom::kNowhere
             ? "so every drop will end with Error (75)"
             : "so drops whose search stands inside the range will end with Error (75)") +
        "; make the layer fixed (type 1) at the modulus meant, or widen its bounds so that the upper "
        "is more than " +
        percent + " % above the lower");
  }
  return warnings;
}

void check_station_values(const RunSettings& s, const StationData& st, const std::string& file) {
  const auto end = st.id.find_last_not_of(' ');
  const std::string id = end == std::string::npos ? std::string() : st.id.substr(0, end + 1);
  const bool metric = s.metric();

  const int temperatures = s.temperature_adjustment != 1 ? 0 : s.temperature_option == 1 ? 2 : 1;
  const float t_min = metric ? kMinTemperatureC : kMinTemperatureF;
  const float t_max = metric ? kMaxTemperatureC : kMaxTemperatureF;
  const char* t_unit = metric ? " C" : " F";
  for (int t = 1; t <= temperatures; ++t) {
    const float value = t == 1 ? st.temperature1 : st.temperature2;
    if (!(value >= t_min && value <= t_max))
      throw InputError(file, st.header_line,
                       "station " + id + ": temperature " + std::to_string(t) + " is " + number_text(value) +
                           t_unit + ", expected " + number_text(t_min) + " to " + number_text(t_max) +
                           t_unit);
  }

  const float load_max = metric ? kMaxLoadN : kMaxLoadLbf;
  const float deflection_max = metric ? kMaxDeflectionMicrons : kMaxDeflectionMils;
  const char* load_unit = metric ? " N" : " lbf";
  const char* deflection_unit = metric ? " microns" : " mils";
  for (int d = 0; d < st.drop_count; ++d) {
    const auto k = static_cast<std::size_t>(d);
    const std::string where = "station " + id + ", drop " + std::to_string(d + 1) + ": ";
    const float load = st.load[k];
    if (!(load >= 0 && load <= load_max))
      throw InputError(file, st.drop_line[k],
                       where + "the load is " + number_text(load) + load_unit + ", expected 0 to " +
                           number_text(load_max) + load_unit);
    for (std::size_t i = 0; i < static_cast<std::size_t>(s.sensor_count); ++i) {
      const float deflection = st.measured[k][i];
      if (!(std::fabs(deflection) <= deflection_max))
        throw InputError(file, st.drop_line[k],
                         where + "the deflection of sensor " + std::to_string(i + 1) + " is " +
                             number_text(deflection) + deflection_unit + ", expected " +
                             number_text(-deflection_max) + " to " + number_text(deflection_max) +
                             deflection_unit);
    }
  }
}

}  // namespace basinfit
