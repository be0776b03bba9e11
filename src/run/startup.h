#pragma once
// Start-up: the control file, the files on their units, batch or windowed mode, the driver,
// and the closing order.

#include <array>
#include <atomic>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/file_names.h"
#include "common/list_reader.h"
#include "common/message_writer.h"
#include "common/output_file.h"
#include "common/record_format.h"
#include "run/station_loop.h"
#include "run/stop_request.h"

namespace basinfit {

// Fixed unit numbers of the engine's files.  The log unit named by the control file must
// differ from all of them.
inline constexpr int kGeneralDataUnit = 1;
inline constexpr int kDeflectionUnit = 2;
inline constexpr int kStandardValueUnit = 4;
inline constexpr int kDetailReportUnit = 7;
inline constexpr int kSummaryReportUnit = 8;
inline constexpr int kControlUnit = 11;  // afterwards the text window
inline constexpr int kGraphicsUnit = 12;

// The names the control file gives.
struct ControlFile {
  int log_unit = 0;  // 0: windowed mode, no log
  std::string standard_values;
  std::string general_data;
  std::string deflections;
  std::string detail_report;
  std::string summary_report;
  std::string log_file;                  // only when log_unit is not 0
  std::optional<FileIdentity> identity;  // the control file itself, as read
};

// Reads the control file (it is not deleted here).  Errors name the file and the record.
ControlFile read_control_file(const std::string& path);

// What the parts wired in by the application get to work with.
struct EngineUnits {
  TextUnit& detail;
  TextUnit& summary;
  MessageWriter& messages;
  bool windowed;
  // The run's inputs, reports and log, which a further output (a chart file) must not replace.
  const KeptFiles* kept_files = nullptr;
  // The names the control file gave.
  const ControlFile* control = nullptr;
  // The input files as read: standard values, general data, deflection data.
  std::array<const TextFile*, 3> inputs{};
};

using ReportFactory = std::function<std::unique_ptr<ReportWriter>(EngineUnits&)>;
// What the application wires in once the units are open: how to make the computations (one
// set for a serial run, one per worker for a parallel run) and the observer that sees every
// drop's basin in survey order (the window, the chart files).
struct EngineComputations {
  ComputationsMaker make;
  BasinObserver observer;
  // Work beside the reports for every finished station (machine-readable results), or none.
  StationAnalysis* analysis = nullptr;
};
using ComputationsFactory = std::function<EngineComputations(EngineUnits&)>;

struct EngineOptions {
  std::string control_file;
  std::ostream* terminal = nullptr;  // the text window in windowed mode (standard output)
  std::ostream* errors = nullptr;    // diagnostics (standard error)
  Clock clock = local_clock;
  int jobs = 1;                         // workers; 1 is the plain serial run
  tbb::task_arena* pool = nullptr;      // workers shared with other runs, or the run's own
  ProgressCounter* progress = nullptr;  // a progress display, or none
  bool keep_control = false;            // leave the control file in place, so the run can be repeated
  // Outputs beside the reports (the results tables and record, the survey page), opened by the
  // application without being changed.  Start-up compares them with the inputs, the control
  // file, the reports, the log and each other by identity, and empties them with the reports
  // once every check has passed; they are then kept apart from every later output (a chart).
  std::vector<OutputFile*> further_outputs;
  // Checks that need the inputs as read (an option that depends on the survey's units); run
  // before anything is changed on disk.  Throws InputError to refuse the run.
  std::function<void(const TextFile& general_data)> check_inputs;
  // Keep the SHA-256 of every input as read (for a run record), see TextFile::digest.
  bool digest_inputs = false;
};

// A station analysis that ends the run between two stations once `stop` is requested: after
// the station just recorded, it throws an InputError of kind kInterrupted naming the cause, so
// the reports, the results and the page all end with that station.  Add it last, after every
// analysis that records a station.
class StopOnSignal : public StationAnalysis {
 public:
  explicit StopOnSignal(const StopRequest& stop) : stop_(stop) {}
  std::unique_ptr<Result> analyse(const RunState& state) const override;
  void record(const RunState& state, std::unique_ptr<Result> result) override;

 private:
  const StopRequest& stop_;
};

// Runs the engine from its control file.  Returns the exit status: 0 normal end, 1 input error, 2 file-system
// error.  Every failure writes one clear message to `errors`; what was written stays.
int run_control_file(const EngineOptions& options, const ComputationsFactory& computations,
                     const ReportFactory& reports);

}  // namespace basinfit
