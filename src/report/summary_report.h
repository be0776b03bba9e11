#pragma once
// The summary report: the project header and a column line, then per station a thickness
// line, one line per drop (load, adjusted surface modulus, layer moduli, RMS error) and, for
// stations with several drops, the moduli normalised to the standard load.  Every line after
// the header splits at its tabs into the same columns as the column line.

#include "common/record_format.h"
#include "run/run_state.h"

namespace basinfit {

class SummaryReport {
 public:
  explicit SummaryReport(TextUnit& out) : out_(out) {}

  // Title, project lines and the column line, once per run right after the detail header.
  void write_header(const RunState& state);
  // The lines of the station in `state`, right after its detail block.
  void write_station(const RunState& state);

 private:
  TextUnit& out_;
};

}  // namespace basinfit
