#pragma once
// Fills the survey page's data from a running engine, station by station: the settings once
// they are read, then every finished station's identifier, thicknesses, temperatures, moduli,
// normalised moduli, stress-sensitivity fit, and per drop its load, moduli, RMS error,
// convergence and basin.  Wired in as the run's station analysis: the copy of a station is
// taken where the station ran (a worker of a parallel run) and kept in survey order.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

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

  // The page as collected so far, with its counts up to date.
  SurveyPage page() const;
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
  SurveyPage page_;
  std::vector<DropFlags> flags_;
  bool started_ = false;
  int subgrade_ = 0;
};

}  // namespace basinfit::survey
