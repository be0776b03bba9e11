#pragma once
// Reading the standard value file and the general data file, and the values derived from
// them: unit factors, atmospheric pressure, bound exponents and the default evaluation
// points.

#include <optional>
#include <string>

#include "common/input_error.h"
#include "common/list_reader.h"
#include "run/run_state.h"

namespace basinfit {

// The worded input-error messages the engine writes through its error writer.
inline constexpr const char* kStandardValueMessage = "Error Standard Value File";
inline constexpr const char* kGeneralDataMessage = "Error in General Data File! Press <Enter> to Continue...";
inline constexpr const char* kSeedOptionMessage = "Number of Layers more than 3, Wrong Seed Moduli Option";

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

// Default evaluation points, used to label the stress table when the file gives none.
void set_default_points(RunSettings& settings);

}  // namespace basinfit
