#pragma once
// From a source survey and a structure to the engine's input files, and the run folder.
//
// Rules (the README's "Importing survey data" repeats them for users):
// - Sensors: radial offset r = sqrt(x^2 + y^2); sensors behind the plate (x < 0) are left out
//   of the basin with a note, since the engine's offsets are distances from the load; the rest
//   are sorted by offset.  More than 10: the ones chosen with `sensors`, else the 10 nearest
//   the plate.
// - Drops: the first `skip_seating` drops of each point are seating drops; `drops` and
//   `drop_heights` keep only the drops with those sequence numbers or height codes.  More than
//   16 kept drops at one point is an error.  A point left without drops is skipped.
// - Station identifiers: the source's own identifier where it has one; else the prefix and
//   the chainage in the run's chainage unit (m or ft; up to 3 decimals, or plus notation),
//   followed by "_" and the lane's letters and digits when the survey holds several lanes.
//   Blanks, commas and tabs become "_"; the engine keeps 10 characters, and two points whose
//   identifiers agree in those 10 are refused.
// - Every kept value is checked against the engine's limits, naming the source record.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/input_error.h"
#include "import/structure.h"
#include "import/survey.h"
#include "run/startup.h"

namespace basinfit::import {

struct ImportOptions {
  std::optional<bool> english;                  // unit system of the run; default: the source's
  std::optional<double> reference_temperature;  // in the run's temperature unit; default 20 C / 68 F
  std::vector<std::string> temperatures{"surface", "air"};  // readings for temperature 1 and 2
  int weighting = 0;
  std::vector<double> weights;  // weighting 2: one per kept sensor
  int temperature_adjustment = 1;
  int temperature_option = 1;
  std::optional<int> seed_option;  // default: computed (0) up to 3 layers, else given (1)
  int max_iterations = 30;
  double rms_tolerance = 0.5;
  double modulus_tolerance = 0.5;
  int skip_seating = 0;
  std::vector<int> drops;            // sequence numbers to keep (empty: all)
  std::vector<double> drop_heights;  // height codes to keep (empty: all)
  std::vector<int> sensors;          // source sensor numbers to keep (empty: rule above)
  std::string station_prefix;
  bool plus_notation = false;  // 12+50 (hundreds of feet) or 1+250 (km + m)
  std::optional<std::string> route;
  std::optional<std::string> title;
};

struct StationRow {
  std::string identifier;
  std::string chainage;  // in the run's chainage unit, or "-"
  int kept = 0;
  int skipped = 0;
  std::string why;  // why drops (or the whole point) were skipped
};

// The three input files as text, what happened per point, and notes for the user.
struct RunInput {
  std::string standard_values;
  std::string general_data;
  std::string deflections;
  // One row per test point in the deflection data file, in survey order: identifier,
  // chainage in the run's unit, lane, GPS position and the operator's comment (UTF-8 CSV).
  std::string station_table;
  std::vector<StationRow> stations;
  std::vector<std::string> notes;
  bool english = false;
};

// Throws InputError naming the source record (or the structure file line) on any problem.
// Before it returns, the rendered files are read back with the engine's own readers; a refusal
// there (a rule of the engine that the checks above missed) is an EngineRefusal.
class EngineRefusal : public InputError {
 public:
  using InputError::InputError;
};
RunInput assemble_run(const SourceSurvey& survey, const Structure& structure, const ImportOptions& options);

// The names of the files in a run folder.
inline constexpr const char* kControlName = "control.txt";
inline constexpr const char* kStandardName = "standard.dat";
inline constexpr const char* kGeneralName = "general.dat";
inline constexpr const char* kDeflectionName = "deflections.dat";
inline constexpr const char* kDetailName = "detail.txt";
inline constexpr const char* kSummaryName = "summary.txt";
inline constexpr const char* kLogName = "basinfit.log";
inline constexpr const char* kStationTableName = "station-table.csv";

// Writes the input files, the station table and the control file into `folder` (created if
// missing), all or nothing: every target is checked first (a run file already there is
// refused unless `force`; a folder where a file goes is refused always), each file is written
// to a temporary name of its own (created exclusively, never through a link), and all are
// renamed at the end.  A failure removes what was created and leaves the folder as it was.
void write_run_folder(const std::string& folder, const RunInput& input, bool force);

// What a run folder holds, read with the engine's own readers, as a run of it would see it:
// the names its control file gives (relative ones resolved in the folder) and, from its input
// files, the route and every station with its number of drops.  Throws InputError naming the
// file and the line the engine would refuse.
struct RunFolderContents {
  ControlFile control;  // the names as the control file gives them
  std::filesystem::path standard_values, general_data, deflections;  // resolved
  std::string route;
  struct Station {
    std::string identifier;  // the engine's 10 characters
    int drops = 0;
  };
  std::vector<Station> stations;
  long drops() const;
};
RunFolderContents read_run_folder(const std::filesystem::path& folder);
// Only the control file's part: the names, resolved; the input files are not read.
RunFolderContents read_run_folder_control(const std::filesystem::path& folder);

// The station table as text (identifier, chainage, drops kept, drops skipped and why).
std::string station_table(const RunInput& input);

}  // namespace basinfit::import
