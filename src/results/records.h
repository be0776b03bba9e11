#pragma once
// The analysed results of a survey as plain records: what the results files hold and what any
// further writer (a survey report) reads, so nothing is computed twice.  One StationRecord per
// finished station, with one DropRecord per drop and one SensorRecord per drop and sensor.
// Values are in the survey's units (metric: cm, N, microns, MPa, C; English: in, lbf, mils,
// ksi, F).  A value that does not exist is NaN (see `missing`).

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "run/run_state.h"

namespace basinfit::results {

inline constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
inline constexpr float kMissingFloat = std::numeric_limits<float>::quiet_NaN();
inline bool missing(double value) { return std::isnan(value); }

// Data-check flags of a drop, one bit each.  The names are stable: tools key on them.
enum DropFlag : std::uint32_t {
  kDeflectionNotPositive = 1u << 0,
  kBasinNotDecreasing = 1u << 1,
  kLoadOffLevel = 1u << 2,
  kRmsHigh = 1u << 3,
  kNotConverged = 1u << 4,
  kModulusAtBound = 1u << 5,
  kPoorlyDetermined = 1u << 6,
  kNotSeparable = 1u << 7,
  kNonUnique = 1u << 8,
  kUncertaintyFailed = 1u << 9,
};

struct FlagDescription {
  DropFlag flag;
  std::string_view name;     // short stable name, as written in drops.csv and run.json
  std::string_view meaning;  // one line for people
};

inline constexpr std::size_t kFlagCount = 10;
// Every flag in bit order.
const std::array<FlagDescription, kFlagCount>& drop_flags();
// The names of the set flags in bit order, separated by ';' ("" when none is set).
std::string flag_names(std::uint32_t flags);

struct SensorRecord {
  int sensor = 0;               // 1-based
  float offset = 0;             // cm or in
  float measured = 0;           // microns or mils
  float calculated = 0;         // at the reported moduli
  float weight = 0;             // the weight the drop was fitted with
  float weighted_residual = 0;  // weight (measured - calculated) / measured, as the fit sees it
};

// How well the data determine the backcalculated moduli, from the sensitivity of the basin at
// the final moduli and the sensors' precision.
struct Uncertainty {
  bool available = false;  // false: no backcalculated layer, or the model failed near the moduli
  // Per layer, in percent of the modulus: missing for a fixed layer, +inf when undetermined.
  PerLayer<double> standard_error_percent{kMissing, kMissing, kMissing, kMissing, kMissing};
  double condition_number = kMissing;      // of the precision-weighted sensitivity matrix; +inf when singular
  double max_correlation = kMissing;       // largest |correlation| between two moduli (two or more layers)
  std::array<int, 2> correlated_layers{};  // the 1-based layers of that pair
  // |correlation| of every pair of backcalculated layers (0-based layer indices, both orders);
  // missing where a layer is fixed.  An undetermined basin gives 1 for the pair named above only.
  std::array<PerLayer<double>, kMaxLayers> correlation{{{kMissing, kMissing, kMissing, kMissing, kMissing},
                                                        {kMissing, kMissing, kMissing, kMissing, kMissing},
                                                        {kMissing, kMissing, kMissing, kMissing, kMissing},
                                                        {kMissing, kMissing, kMissing, kMissing, kMissing},
                                                        {kMissing, kMissing, kMissing, kMissing, kMissing}}};
};

// Side fits from spread seeds: how far another fit of similar quality lies from the reported one.
struct MultistartOutcome {
  int runs = 0;
  float best_rms_percent = kMissingFloat;         // the lowest relative RMS error among them
  double best_max_difference_percent = kMissing;  // that fit's largest modulus difference
  bool non_unique = false;  // some side fit fits about as well with a clearly different modulus
};

struct DropRecord {
  int drop = 0;  // 1-based
  float load = 0;
  PerLayer<float> modulus{};
  float adjusted_surface_modulus = kMissingFloat;  // only when the surface modulus is adjusted
  float rms_percent = 0;                           // the reports' relative RMS error
  double rms_deflection = 0;                       // RMS of measured - calculated, microns or mils
  int convergence_code = 0;
  int iterations = 0;
  int evaluations = 0;
  Uncertainty uncertainty;
  MultistartOutcome multistart;
  std::uint32_t flags = 0;
  // The flags each layer raised itself (kPoorlyDetermined, kNotSeparable, kModulusAtBound), so
  // a reader marks only the layer concerned; 0 for a layer that raised none.
  PerLayer<std::uint32_t> layer_flags{};
  // For a layer with kModulusAtBound, the bound its modulus lies at (missing otherwise).
  PerLayer<double> bound_reached{kMissing, kMissing, kMissing, kMissing, kMissing};
  std::vector<SensorRecord> sensors;
};

// How a station's moduli were carried to the standard load.
enum class Normalisation : std::uint8_t {
  kNone,          // no value: `normalisation_note` says why
  kInterpolated,  // between the two drops around the standard load (the reports' value)
  kTrend,         // from the station's trend of modulus against load, near the standard load
};

struct StationRecord {
  int sequence = 0;  // 1-based position in the survey
  std::string id;    // without its padding
  int header_line = 0;
  bool metric = true;
  int layer_count = 0;
  int sensor_count = 0;
  PerLayer<bool> backcalculated{};
  bool adjusted = false;  // the surface modulus is carried to the reference temperature
  std::array<float, kMaxThicknesses> thickness{};
  float temperature1 = 0;
  float temperature2 = 0;
  float pavement_temperature_f = kMissingFloat;  // degrees F, when adjusted
  float temperature_factor = kMissingFloat;      // when adjusted
  float average_rms_percent = 0;
  // Means, normalised moduli and the stress-sensitivity fits exist only for several drops.
  bool has_statistics = false;
  StationStatistics statistics{};
  // The normalised moduli every reader other than the reports uses: NaN where none exists, with
  // the reason in `normalisation_note` (the reports keep their own 0).
  Normalisation normalisation = Normalisation::kNone;
  std::string normalisation_note;
  PerLayer<double> normalised_modulus{kMissing, kMissing, kMissing, kMissing, kMissing};
  double normalised_adjusted_surface_modulus = kMissing;
  // A stress-sensitivity law outside the physically plausible range of K2 (per layer).
  PerLayer<bool> implausible_law{};
  // Per layer from the second: why it has no law, or that its law is implausible ("" otherwise).
  PerLayer<std::string> law_note{};
  std::vector<DropRecord> drops;
};

}  // namespace basinfit::results
