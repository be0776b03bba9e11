#pragma once
// Start-up: the control file, the files on their units, batch or windowed mode, the driver,
// and the closing order.

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "common/file_names.h"
#include "common/message_writer.h"
#include "common/output_file.h"
#include "common/record_format.h"
#include "run/station_loop.h"

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
  ProgressCounter* progress = nullptr;  // a progress display, or none
  bool keep_control = false;            // leave the control file in place, so the run can be repeated
};

// Runs the engine.  Returns the exit status: 0 normal end, 1 input error, 2 file-system
// error.  Every failure writes one clear message to `errors`; what was written stays.
int run_engine(const EngineOptions& options, const ComputationsFactory& computations,
               const ReportFactory& reports);

}  // namespace basinfit
