#pragma once
// What the survey page shows, as plain data: the run's header, the settings, and per station
// its layers and drops with their basins.  The page writer reads only this model, so it can be
// filled from a finished run (SurveyCollector), from stored results, or in a test from
// invented values.  Moduli, deflections and positions are in the run's file units; the labels
// in SurveyUnits say which.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace basinfit::survey {

// Unit labels of the run, as the page prints them.
struct SurveyUnits {
  bool metric = true;
  std::string modulus = "MPa";
  std::string length = "cm";  // thicknesses and sensor offsets
  std::string load = "N";
  std::string deflection = "\xC2\xB5m";  // microns
  std::string temperature =
      "\xC2\xB0"
      "C";
  std::string chainage = "m";  // station positions along the route

  static SurveyUnits for_system(bool metric);
};

// One input file of the run: what it is, its name, and its SHA-256 in hex (empty when not
// known).
struct SurveyInputFile {
  std::string role;
  std::string name;
  std::string sha256;
};

struct SurveySetting {
  std::string label;
  std::string value;
};

// A layer of the pavement model.
struct SurveyLayer {
  std::string name;  // "Layer 1"
  bool backcalculated = true;
  float poisson_ratio = 0;
  // The bounds the fit was held within (backcalculated layers only).
  std::optional<float> lower_bound;
  std::optional<float> upper_bound;
};

// One drop's basin: sensor offsets, measured and calculated deflections, and the residual of
// each sensor in percent of the measured deflection.
struct SurveyBasin {
  std::vector<float> offset;
  std::vector<float> measured;
  std::vector<float> calculated;
  std::vector<float> residual_percent;
};

struct SurveyDrop {
  int number = 1;  // 1-based within the station
  float load = 0;
  std::vector<float> modulus;  // per layer
  float rms_percent = 0;
  int convergence_code = 0;
  std::string convergence_words;
  // Surface modulus carried to the reference temperature (only when the run adjusts it).
  std::optional<float> adjusted_surface_modulus;
  std::vector<std::string> flags;  // short names of the data checks the drop failed
  // Per flag of `flags` (when known): the layers it concerns (bit j for the (j+1)-th layer; 0
  // for the drop as a whole) and the value that raised it, in words.
  std::vector<std::uint32_t> flag_layers;
  std::vector<std::string> flag_reasons;
  SurveyBasin basin;
};

// How a station's moduli were carried to the standard load.
enum class NormalisedBy : std::uint8_t { kInterpolation, kTrend };

struct SurveyStation {
  std::string id;  // without padding
  // What a station table gives for the test point: its chainage in the run's length unit (m or
  // ft), lane, GPS position (WGS 84 degrees) and the operator's comment.
  std::optional<double> chainage;
  std::string lane;
  std::optional<double> latitude;
  std::optional<double> longitude;
  std::string comment;
  std::vector<float> thickness;  // layers above the last
  float temperature1 = 0;
  float temperature2 = 0;
  // Moduli at the standard load; absent for a station with a single drop, or when no
  // normalisation holds (`normalisation_note` then says why).
  std::optional<std::vector<float>> normalised_modulus;
  NormalisedBy normalised_by = NormalisedBy::kInterpolation;
  std::string normalisation_note;
  // The adjusted surface modulus at the standard load (runs that adjust it).
  std::optional<float> normalised_adjusted_surface_modulus;
  // Centre deflection at the standard load (interpolated between the drops that bracket it,
  // otherwise scaled from the nearest drop); absent when no drop has a load.
  std::optional<float> normalised_centre_deflection;
  // Stress-sensitivity fit per layer: K1, K2 and the soil-type word ("N/A" without a fit).
  std::vector<std::optional<float>> k1;
  std::vector<std::optional<float>> k2;
  std::vector<std::string> soil_type;
  std::vector<std::optional<float>> r_squared;  // coefficient of determination of the law, percent
  std::vector<bool> implausible_law;            // K2 outside its physically plausible range
  std::vector<std::string> flags;               // station-level flags (empty when none)
  std::vector<SurveyDrop> drops;
};

// How many drops ended one way (a convergence outcome) or carry one flag.
struct SurveyCount {
  std::string name;
  int count = 0;
};

struct SurveyPage {
  std::string title;
  std::string route;
  std::string run_date;  // as the page prints it, e.g. "2026-12-07 11:30 UTC"
  std::string engine_version;
  std::vector<SurveyInputFile> input_files;
  std::vector<SurveySetting> settings;
  std::vector<SurveyLayer> layers;
  SurveyUnits units;
  std::vector<SurveyStation> stations;
  std::vector<SurveyCount> convergence_counts;
  std::vector<SurveyCount> flag_counts;
  // True once the drops have been through the data checks (their flags are then meaningful).
  bool flags_checked = false;
  // The relative RMS error above which a fit counts as poor (percent).
  float rms_limit_percent = 2.0f;
  // The surface modulus is adjusted to this reference temperature, as the page prints it in
  // the run's unit ("20 \xC2\xB0C"); empty when not adjusted.
  std::string reference_temperature;
  // Where the chainages came from when a station table gave them (its file name).
  std::string station_table;
  // The largest residual of any drop in percent (the common scale of every basin's residual
  // strip); 0: found from the basins when the page is written.
  float largest_residual_percent = 0;
};

// Counts of drops by convergence words and by flag name, in order of first appearance.
std::vector<SurveyCount> count_convergence(const std::vector<SurveyStation>& stations);
std::vector<SurveyCount> count_flags(const std::vector<SurveyStation>& stations);

}  // namespace basinfit::survey
