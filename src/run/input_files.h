#pragma once
// Reading the standard value file and the general data file, and the values derived from
// them: unit factors, atmospheric pressure, bound exponents and the default evaluation
// points.

#include <optional>
#include <string>
#include <vector>

#include "common/input_error.h"
#include "common/list_reader.h"
#include "run/run_state.h"

namespace basinfit {

// The worded input-error messages the engine writes through its error writer.
inline constexpr const char* kStandardValueMessage = "Error Standard Value File";
inline constexpr const char* kGeneralDataMessage = "Error in General Data File! Press <Enter> to Continue...";
inline constexpr const char* kSeedOptionMessage = "Number of Layers more than 3, Wrong Seed Moduli Option";

// Physical limits of the values read.  Anything outside cannot come from a pavement survey
// and would carry the computations past single precision; the limits themselves are accepted.
inline constexpr float kMinTemperatureC = -60.0f;  // station temperatures, metric runs
inline constexpr float kMaxTemperatureC = 90.0f;
inline constexpr float kMinTemperatureF = -76.0f;  // the same in F (English runs, reference)
inline constexpr float kMaxTemperatureF = 194.0f;
inline constexpr float kMaxDeflectionMicrons = 100000.0f;  // in magnitude
inline constexpr float kMaxDeflectionMils = 4000.0f;
inline constexpr float kMaxLoadN = 1000000.0f;
inline constexpr float kMaxLoadLbf = 225000.0f;
inline constexpr float kMaxSensorOffsetCm = 1000.0f;
inline constexpr float kMaxSensorOffsetIn = 400.0f;
// Moduli and bounds, MPa or ksi: a fixed modulus lies within the range a backcalculated one
// can take (bounds of 0.1 or less mean 0.1).
inline constexpr float kMinFixedModulus = 0.1f;
inline constexpr float kMaxModulus = 10000000.0f;

// An input error found while reading the settings: the worded message for the error
// writer, and the precise reason (file, line, what was expected) for standard error.
struct SettingsProblem {
  std::string message;
  InputError detail;
};

// Reads the standard value file (check value and reference temperature).  A malformed or
// missing value there is not one of the worded errors: it throws InputError.
std::optional<SettingsProblem> read_standard_values(const TextFile& file, RunSettings& settings);

// Reads the general data file completely and derives the working values.
std::optional<SettingsProblem> read_general_data(const TextFile& file, RunSettings& settings);

// Refuses station values outside the physical limits: the temperatures the run uses (both
// with temperature option 1, the first otherwise, none without the adjustment), the loads
// and the measured deflections.  The InputError names `file`, the line and the station.
void check_station_values(const RunSettings& settings, const StationData& station, const std::string& file);

// Warnings about settings that are valid but cannot give a result, one line each, naming
// `file` (the general data file) and the line: a backcalculated layer whose bound box is
// narrower than the solver's difference step.
std::vector<std::string> settings_warnings(const RunSettings& settings, const std::string& file);

// Where in the box [lower, upper] of an unknown (log10 of a modulus) the solver's first
// forward-difference step fits: from every point, not from the middle (it leaves the box in
// both directions there, and the Jacobian column cannot be formed), or from no point.
enum class DifferenceRoom { kEverywhere, kNotMidway, kNowhere };
DifferenceRoom difference_step_room(float lower, float upper);

// Default evaluation points, used to label the stress table when the file gives none.
void set_default_points(RunSettings& settings);

}  // namespace basinfit
