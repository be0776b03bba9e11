#pragma once
// What the survey page shows, as plain data: the run's header, the settings, and per station
// its layers and drops with their basins.  The page writer reads only this model, so it can be
// filled from a finished run (SurveyCollector), from stored results, or in a test from
// invented values.  Moduli, deflections and positions are in the run's file units; the labels
// in SurveyUnits say which.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
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
  bool operator==(const SurveyBasin&) const = default;
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
  bool operator==(const SurveyDrop&) const = default;
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
  bool operator==(const SurveyStation&) const = default;
};

// How many drops ended one way (a convergence outcome) or carry one flag.
struct SurveyCount {
  std::string name;
  int count = 0;
};

// A drop as the profiles draw it: its RMS error, the layers on which the modulus profile
// crosses it (bit j for the (j+1)-th layer, every bit for a flag of the whole drop, none for a
// drop without flags), and where its moduli are kept (only for the drops whose moduli are
// drawn: a flagged drop, the only drop of a station).
struct ProfileDrop {
  float rms_percent = 0;
  std::uint32_t crossed_layers = 0;
  std::uint32_t moduli_at = 0;
  std::uint32_t moduli_count = 0;
};

// A station as the profiles, the summary and the uniform sections see it: where it lies, its
// values at the standard load, and its drops (in SurveyProfile::drops).
struct ProfileStation {
  std::string id;
  std::optional<double> chainage;
  bool normalised = false;  // it has normalised moduli (in SurveyProfile::values)
  NormalisedBy normalised_by = NormalisedBy::kInterpolation;
  std::uint32_t normalised_at = 0;
  std::uint32_t normalised_count = 0;
  std::optional<float> normalised_adjusted_surface_modulus;
  std::optional<float> normalised_centre_deflection;
  std::uint32_t first_drop = 0;
  std::uint32_t drop_count = 0;
};

// The few numbers of every station that the page draws and counts along the whole route, in
// survey order: a long survey holds only these in memory while its rows wait on disk (about a
// tenth of a station's row).
struct SurveyProfile {
  std::vector<ProfileStation> stations;
  std::vector<ProfileDrop> drops;
  std::vector<float> values;  // normalised moduli and drawn drop moduli, station after station
  // The smallest and largest positive modulus of any drop (the modulus axis covers them).
  std::optional<float> lowest_drop_modulus;
  std::optional<float> highest_drop_modulus;
  // The largest residual of any sensor of any drop, in percent.
  double largest_residual_percent = 0;
  // The sensor offsets of the first basin (which most stations share).
  std::vector<float> first_offsets;
  bool any_lane = false;
  bool any_gps = false;
  bool any_comment = false;
  // Stations with several drops and no normalised moduli, and the first of them with its note.
  std::size_t without_normalised = 0;
  std::string first_without_id;
  std::string first_without_note;

  // Appends a station (the next in survey order).
  void add(const SurveyStation& station);
  // Gives the station `index` other normalised moduli (none when empty).
  void set_normalised(std::size_t index, std::span<const float> modulus);
  std::span<const float> normalised_modulus(std::size_t index) const;
  std::span<const ProfileDrop> drops_of(std::size_t index) const;
  std::span<const float> moduli(const ProfileDrop& drop) const;
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
  // A collected page keeps its stations out of memory: `stations` is then empty, `profile`
  // holds what the page draws and counts along the route, and `station_row(i)` reads the i-th
  // station back in full (while its collector lives).  A page with `stations` needs neither.
  SurveyProfile profile;
  std::function<SurveyStation(std::size_t)> station_row;
};

// The profile of `page`: its own when its stations are kept out of memory, otherwise made from
// its stations into `made`.
const SurveyProfile& profile_of(const SurveyPage& page, SurveyProfile& made);

// Counts of drops by convergence words and by flag name, in order of first appearance.
// Counts one more `name`, in order of first appearance.
void add_count(std::vector<SurveyCount>& counts, const std::string& name);
std::vector<SurveyCount> count_convergence(const std::vector<SurveyStation>& stations);
std::vector<SurveyCount> count_flags(const std::vector<SurveyStation>& stations);

}  // namespace basinfit::survey
