#pragma once
// The reports as the station loop sees them: the detail report on its unit, then the summary
// report on its unit, header blocks once and station blocks per station.

#include <memory>

#include "run/startup.h"
#include "run/station_loop.h"

namespace basinfit {

// Writes both reports to the units of `units`.  The units must outlive the writer.  Each call
// leaves both files flushed, so that a run ended by bad input later in the deflection data
// keeps every station finished before it, whole.
std::unique_ptr<ReportWriter> make_report_writer(EngineUnits& units);

}  // namespace basinfit
