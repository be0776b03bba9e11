#pragma once
// Fills the survey page's data from a running engine, station by station: the settings once
// they are read, then every finished station's identifier, thicknesses, temperatures, moduli,
// normalised moduli, stress-sensitivity fit, and per drop its load, moduli, RMS error,
// convergence and basin.  Wired in as the run's station analysis: the copy of a station is
// taken where the station ran (a worker of a parallel run) and kept in survey order.

#include <cstddef>
#include <cstdio>
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

// The basins of a long survey wait for the page in an unnamed temporary file (gone with the
// process), station after station, so memory holds only what the profiles need.  Without a
// temporary file they stay in memory.
class BasinSpool {
 public:
  BasinSpool();
  ~BasinSpool();
  BasinSpool(const BasinSpool&) = delete;
  BasinSpool& operator=(const BasinSpool&) = delete;
  // Moves the basins of `station`'s drops into the spool as the `index`-th station (from 0,
  // in order).
  void store(SurveyStation& station);
  // The basins of the `index`-th station stored, one per drop.
  std::vector<SurveyBasin> load(std::size_t index) const;

 private:
  std::FILE* file_ = nullptr;
  std::vector<long> start_;                     // where each station's basins begin
  std::vector<std::vector<SurveyBasin>> held_;  // without a file
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

  // The page as collected so far, with its counts up to date (the basins of recorded
  // stations are in basins(), not in the page).
  SurveyPage page() const;
  // The same, brought up to date in place, without a copy.
  const SurveyPage& finished_page();
  const BasinSpool& basins() const { return spool_; }
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
  static void apply(SurveyPage& page, const DropFlags& f);
  void apply(const results::StationRecord& record);
  void apply_flags(SurveyPage& page) const;
  SurveyPage page_;
  BasinSpool spool_;
  std::vector<DropFlags> flags_;
  std::vector<results::StationRecord> records_;  // for stations not recorded yet
  const results::StationTable* table_ = nullptr;
  bool metric_ = true;
  bool started_ = false;
  int subgrade_ = 0;
};

}  // namespace basinfit::survey
