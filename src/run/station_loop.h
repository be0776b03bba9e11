#pragma once
// The run driver: reads the settings, writes the report headers, then walks the deflection
// data file station by station and drop by drop.

#include <tbb/task_arena.h>

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "common/list_reader.h"
#include "common/message_writer.h"
#include "run/run_state.h"

namespace basinfit {

// Outcome of one drop's backcalculation.
struct DropOutcome {
  int convergence_code = 0;
  int iterations = 0;
  int evaluations = 0;  // residual evaluations of the search (model runs at trial points)
};

// The per-station and per-drop computations the loop calls at their places.
class StationComputations {
 public:
  virtual ~StationComputations() = default;
  // Seed moduli from the station's first drop into the modulus column of drop 1 (seed option 0).
  virtual void compute_seeds(RunState& state) = 0;
  // Factor that carries the surface modulus to the reference temperature (adjustment flag 1).
  virtual float temperature_factor(RunState& state) = 0;
  // Backcalculates drop `drop` (1-based): moduli, calculated deflections, default-point responses.
  virtual DropOutcome backcalculate(RunState& state, int drop) = 0;
  // Means, normalised moduli and the stress-sensitivity regression (stations with several drops).
  virtual void station_statistics(RunState& state) = 0;
  // Stresses and strains at the user's evaluation points for drop `drop`.
  virtual void user_point_responses(RunState& state, int drop) = 0;
};

// Called with each drop's basin as the drop finishes (the plot): station identifier, drop,
// offsets, measured and calculated deflections, all in file units.
using BasinObserver =
    std::function<void(const std::string& station_id, int drop, std::span<const float> offsets,
                       std::span<const float> measured, std::span<const float> calculated)>;

// Makes one set of computations with its own model and solver state, writing its progress
// lines to `messages` and each finished drop's basin to `observer`.
using ComputationsMaker =
    std::function<std::unique_ptr<StationComputations>(MessageWriter& messages, BasinObserver observer)>;

// Work done beside the reports for every finished station (machine-readable results, checks,
// further reports).  `analyse` runs where the station ran (a worker of a parallel run), after
// its statistics and user points, and must not change shared state: it may run on several
// threads at once.  `record` runs in survey order, right after the station's report blocks.
// A station that ends with an input error is neither analysed nor recorded.
class StationAnalysis {
 public:
  struct Result {
    virtual ~Result() = default;
  };
  virtual ~StationAnalysis() = default;
  // Called once the settings and the route are read and the report headers written.
  virtual void begin(const RunState& state) { (void)state; }
  virtual std::unique_ptr<Result> analyse(const RunState& state) const = 0;
  virtual void record(const RunState& state, std::unique_ptr<Result> result) = 0;
};

// The detail and summary reports, as the loop sees them.
class ReportWriter {
 public:
  virtual ~ReportWriter() = default;
  virtual void write_headers(const RunState& state) = 0;
  virtual void write_station(const RunState& state) = 0;
};

// Hour, minute and second for the progress lines.
struct ClockTime {
  int hour = 0;
  int minute = 0;
  int second = 0;
};
using Clock = std::function<ClockTime()>;
ClockTime local_clock();

// Counts finished drops and stations for a progress display.  The total is known before the
// first station starts; `drop_done` may be called from any thread.
class ProgressCounter {
 public:
  virtual ~ProgressCounter() = default;
  virtual void start(long stations, long drops) = 0;
  virtual void drop_done() = 0;
  virtual void station_done() = 0;
  // The run is over (or about to say why it stopped): take the display away.
  virtual void finish() = 0;
};

// A parallel run: `jobs` workers, each with computations made by `make`; `observer` sees every
// basin in survey order.
struct ParallelRun {
  int jobs = 1;
  ComputationsMaker make;
  BasinObserver observer;
  // Workers shared with other runs of the process (surveys side by side); null: the run makes
  // an arena of `jobs` workers of its own.
  tbb::task_arena* pool = nullptr;
};

// How the driver ended.
enum class DriverEnd {
  kEndOfData,      // the deflection data file ended
  kHeaderStop,     // a station header without any blank, comma or tab
  kSettingsError,  // one of the worded input errors was written
};

struct DriverFiles {
  const TextFile* standard_values;
  const TextFile* general_data;
  const TextFile* deflections;
};

class Driver {
 public:
  Driver(RunState& state, MessageWriter& messages, StationComputations& computations, ReportWriter& reports,
         Clock clock = local_clock)
      : state_(state),
        messages_(messages),
        computations_(computations),
        reports_(reports),
        clock_(std::move(clock)) {}

  // Runs the whole driver.  Malformed station data raise InputError (after the stations
  // already finished have been written); settings errors write their worded message and
  // return kSettingsError, with `settings_problem()` naming the precise cause.
  DriverEnd run(const DriverFiles& files);

  // Runs the stations on `parallel.jobs` workers (more than one) with identical reports and log.
  void run_in_parallel(ParallelRun parallel) { parallel_ = std::move(parallel); }
  // Analyses and records every finished station beside the reports; nullptr for none.
  void analyse_stations(StationAnalysis* analysis) { analysis_ = analysis; }
  // Reports finished drops and stations (a progress display); nullptr for none.
  void report_progress(ProgressCounter* progress) { progress_ = progress; }

  const std::optional<InputError>& settings_problem() const { return settings_problem_; }
  // Receives the warnings about valid settings that cannot give a result, once, at start.
  void on_warning(std::function<void(const std::string&)> warn) { warn_ = std::move(warn); }
  // Line of the station header where processing stopped (kHeaderStop).
  int stop_line() const { return stop_line_; }

 private:
  DriverEnd run_stations(ListReader& deflections);

  RunState& state_;
  MessageWriter& messages_;
  StationComputations& computations_;
  ReportWriter& reports_;
  Clock clock_;
  std::optional<InputError> settings_problem_;
  int stop_line_ = 0;
  std::string deflection_file_;
  ParallelRun parallel_;
  ProgressCounter* progress_ = nullptr;
  StationAnalysis* analysis_ = nullptr;
  std::function<void(const std::string&)> warn_;
};

// One station from its first drop's start column to its report copies: seeds (when
// `compute_seeds`), the temperature factor, every drop starting from the previous drop's
// moduli, RMS errors, statistics and the user points.  `first_drop_done` is called once drop 1
// has its moduli (the next station may start from them), `drop_done` after each drop.  Raises
// InputError for a drop whose weights cannot be formed.
struct StationHooks {
  std::function<void()> first_drop_done;
  std::function<void()> drop_done;
};
void process_station(RunState& state, MessageWriter& messages, StationComputations& computations,
                     const Clock& clock, const std::string& deflection_file, bool compute_seeds,
                     const StationHooks& hooks = {});

// Counts the stations and drops of a deflection data file without reading values into the run
// (for the progress display).  Stops quietly at the first record it cannot read.
void count_stations(ListReader reader, const RunSettings& settings, long& stations, long& drops);

// Reading one station of the deflection data file.
enum class StationRead { kStation, kEndOfData, kNoSeparator };
StationRead read_station(ListReader& reader, const RunSettings& settings, StationData& station);

// Per-drop RMS error in percent: sensors with a measured deflection below 0.1 are left out of
// the sum but still count in the divisor.
float drop_rms_error(const StationData& station, const StationResults& results, int sensor_count, int drop);

}  // namespace basinfit
