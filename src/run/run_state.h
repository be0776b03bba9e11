#pragma once
// The state of one run: settings read from the input files, the station being processed,
// its per-drop results, and the copies the reports read.  Written only by the run driver;
// the reports and the plot read it.

#include <array>
#include <string>

#include "common/units.h"

namespace basinfit {

// Fixed capacities of the data model.
inline constexpr int kMaxLayers = 5;
inline constexpr int kMaxThicknesses = 4;
inline constexpr int kMaxSensors = 10;
inline constexpr int kMaxDrops = 16;
inline constexpr int kMaxPoints = 10;
inline constexpr int kStationIdLength = 10;

template <class T>
using PerLayer = std::array<T, kMaxLayers>;
template <class T>
using PerSensor = std::array<T, kMaxSensors>;
template <class T>
using PerDrop = std::array<T, kMaxDrops>;
template <class T>
using PerPoint = std::array<T, kMaxPoints>;

// Layer type 0: the modulus is backcalculated within its bounds; any other value: fixed.
inline constexpr int kBackcalculatedLayer = 0;

struct LayerSettings {
  int type = 0;
  float poisson_ratio = 0;
  float lower_bound = 0;  // as read, MPa or ksi (type 0 only)
  float upper_bound = 0;
  float lower_exponent = 0;  // log10 of the bounds the solver works within
  float upper_exponent = 0;
  int line = 0;  // line of the layer record in the general data file, for messages
  bool backcalculated() const { return type == kBackcalculatedLayer; }
};

// Where in its layer a point of the stress and strain table lies.
enum PointPosition : int { kTopOfLayer = 0, kMiddleOfLayer = 1, kBottomOfLayer = 2 };

struct EvaluationPoint {
  float radial_distance = 0;  // cm or in
  int layer = 1;              // 1-based layer number
  int position = kTopOfLayer;
};

// Everything the standard value and general data files hold, and what is derived from them.
struct RunSettings {
  char separator = '\t';
  float reference_temperature = 0;  // degrees F
  std::string title;                // 79 characters, not used further
  int layer_count = 0;              // NL, including a stiff layer
  int unit_flag = 0;                // 0 metric, any other value English
  float plate_radius = 0;           // cm or in
  int sensor_count = 0;             // NS
  int weighting_option = 0;         // 0 equal, 1 by deflection ratio, 2 as given
  PerSensor<float> sensor_offset{};
  PerSensor<float> sensor_weight{};
  int temperature_adjustment = 0;  // 1 = adjust the surface modulus to the reference temperature
  int temperature_option = 0;      // 1 = pavement temperature from the two station temperatures
  int seed_option = 0;             // 0 = seeds computed from the basin
  int stiff_layer = 0;             // 1 = layer NL is a stiff layer
  PerLayer<LayerSettings> layers{};
  PerLayer<float> initial_modulus{};  // seed or fixed moduli from the layer records, MPa or ksi
  int max_iterations = 0;
  float rms_tolerance = 0;      // percent
  float modulus_tolerance = 0;  // percent
  int point_count = 0;          // P: user evaluation points (0: the default points label the table)
  PerPoint<EvaluationPoint> points{};
  int default_point_count = 0;  // how many default points are set in `points` when P is 0
  UnitFactors units{};
  float atmospheric_pressure = 14.696f;  // kPa or psi
  std::string route;                     // 79 characters

  bool metric() const { return unit_flag == 0; }
  // Layers above a stiff layer.
  int layers_above_stiff() const { return layer_count - stiff_layer; }
};

// One station of the deflection data file, in file units.
struct StationData {
  std::string id;  // exactly 10 characters
  int header_line = 0;
  int drop_count = 0;
  std::array<float, kMaxThicknesses> thickness{};
  float temperature1 = 0;
  float temperature2 = 0;
  PerDrop<float> load{};
  PerDrop<PerSensor<float>> measured{};
  PerDrop<int> drop_line{};  // line of each drop record, for messages
};

// Stresses and strains at the evaluation points, per drop and point.  Radial and hoop are
// the horizontal components towards and across the load axis; on the axis they are equal.
struct PointResponses {
  PerDrop<PerPoint<float>> vertical_stress{};  // kPa or psi
  PerDrop<PerPoint<float>> radial_stress{};
  PerDrop<PerPoint<float>> hoop_stress{};  // not reported: it enters the bulk stress
  PerDrop<PerPoint<float>> bulk_stress{};  // sum of the three normal stresses
  PerDrop<PerPoint<float>> deviator_stress{};
  PerDrop<PerPoint<float>> vertical_strain{};  // 10^-6
  PerDrop<PerPoint<float>> radial_strain{};
  // A drop whose responses the model could not evaluate: its values are 0 and the
  // regression leaves it out.
  PerDrop<bool> missing{};

  // Marks drop `d` (0-based) as not evaluated and clears its values.
  void clear_drop(std::size_t d) {
    for (auto* values : {&vertical_stress, &radial_stress, &hoop_stress, &bulk_stress, &deviator_stress,
                         &vertical_strain, &radial_strain})
      (*values)[d].fill(0.0f);
    missing[d] = true;
  }
  // The report copies carry the opposite sign: compression positive.  A missing drop shows 0.
  PointResponses negated() const;
};

// Per-station statistics of stations with more than one drop.
struct StationStatistics {
  PerLayer<float> mean_modulus{};
  PerLayer<float> normalized_modulus{};
  float mean_adjusted_modulus = 0;
  float normalized_adjusted_modulus = 0;
  PerLayer<float> k1{};
  PerLayer<float> k2{};
  PerLayer<float> r_squared{};
  PerLayer<int> soil_type{};  // 0 none, 1 coarse, 2 fine
};

// Results of the current station.
struct StationResults {
  PerDrop<PerLayer<float>> modulus{};  // drop 1 holds the seeds on entry to a station
  PerDrop<PerLayer<float>> seed{};
  PerDrop<PerSensor<float>> calculated{};
  PointResponses responses{};
  PerDrop<short> convergence_code{};
  PerDrop<short> iterations{};
  PerDrop<int> evaluations{};          // residual evaluations of each drop's search
  PerDrop<PerSensor<float>> weight{};  // the sensor weights each drop was fitted with
  PerDrop<float> adjusted_surface_modulus{};
  PerDrop<float> rms_error{};  // percent
  float average_rms_error = 0;
  float pavement_temperature = 0;  // degrees F, when the surface modulus is adjusted
  float temperature_factor = 0;    // 0 when the surface modulus is not adjusted
  StationStatistics statistics{};
};

// What the reports read: copies made by the station loop at fixed points, so that a
// one-drop station shows the statistics of the last station that had them.
struct ReportCopies {
  PerDrop<PerLayer<float>> modulus{};
  PerDrop<PerSensor<float>> calculated{};
  PointResponses responses{};  // sign changed
  PerDrop<float> adjusted_surface_modulus{};
  StationStatistics statistics{};
};

struct RunState {
  RunSettings settings;
  StationData station;
  StationResults results;
  ReportCopies report;
  int stations_done = 0;
};

}  // namespace basinfit
