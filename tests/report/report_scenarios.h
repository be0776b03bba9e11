#pragma once
// Run states for the report tests, filled as the station loop leaves them just before it
// writes a station block.  Each scenario is a small survey chosen for the report features
// it exercises; the values are plausible but made up, since the reports only format them.

#include <string>
#include <vector>

#include "run/input_files.h"
#include "run/run_state.h"

namespace basinfit::testing {

// One run: the settings and every station as the reports see it.
struct Scenario {
  std::string name;
  std::vector<RunState> stations;  // one state per station, settings identical
};

// Metric, three layers without a stiff layer, no temperature adjustment, the default
// evaluation points.  Station 1250 has three drops (tolerance codes, a solver code, a code
// outside the table, an iteration count and a modulus and an RMS error too wide for their
// fields, readings of exactly 0.01 and of 0.0101 microns); station A-17 has one drop.
Scenario metric_default_points();

// English, four layers of which the last is stiff (and fixed), temperature adjustment with
// the pavement temperature estimated from both readings (option 1), four user evaluation
// points.  One station with two drops: a coarse base, a fine subbase, the stiff layer
// without fit.
Scenario english_stiff_layer_adjusted();

// Metric, two layers, temperature adjustment from the first reading (option 0), an all-blank
// route, ten sensors and ten user evaluation points.  One station with two drops.
Scenario metric_two_layers_adjusted();

std::vector<Scenario> all_scenarios();

// The detail and summary reports of a whole scenario, as written through the report writer.
struct WrittenReports {
  std::string detail;
  std::string summary;
};
WrittenReports write_reports(const Scenario& scenario);

// Lines of a report (without their line ends).
std::vector<std::string> lines_of(const std::string& text);
// A line split at its tabs.
std::vector<std::string> columns_of(const std::string& line);

}  // namespace basinfit::testing
