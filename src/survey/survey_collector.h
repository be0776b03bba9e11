#pragma once
// Fills the survey page's data from a running engine, station by station: the settings once
// they are read, then every finished station's identifier, thicknesses, temperatures, moduli,
// normalised moduli, stress-sensitivity fit, and per drop its load, moduli, RMS error,
// convergence and basin.  Wired in as the run's station analysis: the copy of a station is
// taken where the station ran (a worker of a parallel run) and kept in survey order, on disk
// (StationSpool) until the page is written, so the run's memory does not grow with the survey.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "results/records.h"
#include "results/station_table.h"
#include "run/run_state.h"
#include "run/station_loop.h"
#include "survey/survey_data.h"

namespace basinfit::survey {

// The page's view of one finished station of the run state.
SurveyStation station_from_state(const RunState& state);
// The header part of the page from the settings: layers, units and the settings table.
void settings_from_state(const RunSettings& settings, SurveyPage& page);
// 0-based index of the subgrade: the last layer above a stiff layer.
int subgrade_layer(const RunSettings& settings);

// The stations of a run wait for the page in a temporary file beside it, each as the bytes of
// its whole row (about 2.4 kB), so that memory holds only the profile.  The file has no name
// (Linux's O_TMPFILE; elsewhere a file removed the moment it is made), so it never shows in the
// folder and is gone with the process however the run ends.  Where no such file can be made,
// or when it fails, the bytes stay in memory.
class StationSpool {
 public:
  StationSpool() = default;
  ~StationSpool();
  StationSpool(const StationSpool&) = delete;
  StationSpool& operator=(const StationSpool&) = delete;
  // The folder of the file (the page's); the system's temporary folder when none is given or
  // none can be made there.  Takes effect with the first station stored.
  void keep_in(std::string folder) { folder_ = std::move(folder); }
  // Keeps `station` as the `index`-th (from 0): the next one, or in place of one kept before.
  void store(std::size_t index, const SurveyStation& station);
  // The `index`-th station as it was stored.  Throws InputError (kFileSystem) when it cannot be
  // read back.
  SurveyStation load(std::size_t index) const;
  std::size_t size() const { return extent_.size(); }
  bool on_disk() const { return fd_ >= 0; }

 private:
  void open_file();
  void move_to_memory();
  struct Extent {
    std::uint64_t at = 0;
    std::uint32_t size = 0;
  };
  std::string folder_;
  int fd_ = -1;
  bool opened_ = false;  // a file was tried
  bool lost_ = false;    // the file failed and its stations could not be read back
  std::uint64_t end_ = 0;
  std::vector<Extent> extent_;
  std::string held_;  // the bytes, when they are not on disk
};

class SurveyCollector : public StationAnalysis {
 public:
  SurveyCollector() = default;

  void begin(const RunState& state) override;
  std::unique_ptr<Result> analyse(const RunState& state) const override;
  void record(const RunState& state, std::unique_ptr<Result> result) override;

  // Data-check flags of drop `drop` (1-based) of the `station`-th station in survey order (from
  // 0), from whatever checked it; they may come before or after that station is recorded.
  // Marks the page's flags as checked.
  void annotate_drop(std::size_t station, int drop, std::vector<std::string> flags);

  // The station table the chainages, lanes, GPS positions and comments come from (not owned;
  // nullptr: none).  Its chainages are carried to the run's length unit.
  void use_station_table(const results::StationTable* table) { table_ = table; }

  // What the results analysis found for the `record.sequence`-th station: every flag with the
  // layers and the value that raised it, the adjusted surface moduli, the normalised moduli as
  // the results obtained them (interpolated, or from the station's trend, or none and why), and
  // implausible stress-sensitivity laws.  Before or after the station is recorded.
  void annotate_station(const results::StationRecord& record);

  // Where the recorded stations wait for the page: an unnamed file in `folder` (the page's).
  void spool_in(std::string folder) { spool_.keep_in(std::move(folder)); }

  // The page as collected so far, with its counts up to date.  Its stations are not in memory:
  // the page holds their profile, and reads each one back in full through station_row (while
  // this collector lives).
  SurveyPage page() const;
  // The same, brought up to date in place, without a copy.
  const SurveyPage& finished_page();
  // The `index`-th recorded station (from 0) in full, with everything the results said of it.
  SurveyStation station(std::size_t index) const { return spool_.load(index); }
  std::size_t station_count() const { return spool_.size(); }
  const StationSpool& spool() const { return spool_; }
  // Header fields the run state does not hold (run date, version, input files).
  SurveyPage& header() { return page_; }
  bool started() const { return started_; }
  int subgrade() const { return subgrade_; }

 private:
  struct DropFlags {
    std::size_t station;
    int drop;
    std::vector<std::string> flags;
  };
  static void apply(SurveyStation& station, const DropFlags& f);
  void apply(const results::StationRecord& record, SurveyStation& station) const;
  // The header with the profile and the counts of every recorded station (one pass over them).
  void fill(SurveyPage& page) const;
  SurveyPage page_;
  StationSpool spool_;
  std::size_t drop_count_ = 0;  // of the stations recorded
  std::vector<DropFlags> flags_;
  std::vector<results::StationRecord> records_;  // for stations not recorded yet
  const results::StationTable* table_ = nullptr;
  bool metric_ = true;
  bool started_ = false;
  int subgrade_ = 0;
};

}  // namespace basinfit::survey
