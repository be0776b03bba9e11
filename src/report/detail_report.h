#pragma once
// The detail report: the project header, then per station its lines, one block per drop (fit
// outcome, measured and calculated basins, seed and backcalculated moduli, stresses and
// strains at the evaluation points) and, for stations with several drops, the station
// statistics.  Every line is a label followed by tab-separated columns.

#include "common/record_format.h"
#include "run/run_state.h"

namespace basinfit {

class DetailReport {
 public:
  explicit DetailReport(TextUnit& out) : out_(out) {}

  // Title and project lines, once per run before the first station.
  void write_header(const RunState& state);
  // The whole block of the station in `state`, after all its drops are backcalculated.
  void write_station(const RunState& state);

 private:
  void write_station_lines(const RunState& state);
  void write_drop(const RunState& state, int drop);
  void write_fit_lines(const RunState& state, int drop);
  void write_basin_lines(const RunState& state, int drop);
  void write_moduli_lines(const RunState& state, int drop);
  void write_point_table(const RunState& state, int drop);
  void write_statistics(const RunState& state);
  // "Layer No:" and the layer numbers, then "1-(adj)" with adjustment; the line stays open.
  void write_layer_numbers(const RunSettings& settings);

  TextUnit& out_;
};

}  // namespace basinfit
