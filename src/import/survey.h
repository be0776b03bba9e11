#pragma once
// A deflection survey as a source file holds it, before it becomes a run: the plate and the
// sensors, and per test point its position, lane, temperature readings and drops.  Values
// stay in the units of the source; every item keeps where it came from, so that a later
// check can name the record.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "import/units.h"

namespace basinfit::import {

// Where a value came from: file, line, and a record or key when the line alone is not
// telling ("[Test Location 2] DropData3").
struct SourceRef {
  std::string file;
  int line = 0;
  std::string where;
  std::string text() const;  // "file, line 12 ([Test Location 2] DropData3)"
};

struct SourceSensor {
  int number = 0;  // the sensor's number in the source (1-based)
  double x = 0;    // from the plate centre; negative behind the plate
  double y = 0;
};

struct SourceDrop {
  int sequence = 0;              // the drop's number at its test point, as the source counts
  std::optional<double> height;  // drop-height code, where the source has one
  std::optional<double> load;    // force, in the survey's load unit
  std::vector<std::optional<double>> deflections;  // one per source sensor, in sensor order
  // The first unusable value of this drop, as a message; reported only if the drop is kept.
  std::string problem;
  SourceRef ref;
};

struct TemperatureReading {
  std::string use;  // folded name of what was measured: "air", "surface", "manual", ...
  std::optional<double> value;
};

struct SourceStation {
  std::string identifier;          // an identifier the source gives, or empty (built from chainage)
  std::optional<double> chainage;  // in the survey's chainage unit
  std::string lane;
  std::optional<double> latitude;  // WGS 84 decimal degrees, where the source gives a GPS fix
  std::optional<double> longitude;
  std::string comment;  // the operator's remark on the test point, or empty
  std::vector<TemperatureReading> temperatures;
  std::vector<SourceDrop> drops;
  SourceRef ref;
};

struct SourceSurvey {
  std::string format;  // "PDDX 2.0", "LTPP tables", ...
  std::string file;    // the survey file (the first table for LTPP), for messages
  // True when the units are not in the file but come from options (generic CSV, F25), so that
  // a unit that does not fit the values is put right with an option, not in the file.
  bool units_from_options = false;
  std::string route;                     // a route text built from the source, or empty
  Unit length_unit = Unit::kMillimetre;  // plate radius and sensor positions
  Unit chainage_unit = Unit::kMetre;
  Unit load_unit = Unit::kNewton;
  Unit deflection_unit = Unit::kMicron;
  Unit temperature_unit = Unit::kCelsius;
  double plate_radius = 0;
  std::vector<SourceSensor> sensors;
  SourceRef geometry;  // where the plate radius and the sensor positions are given
  std::vector<SourceStation> stations;
  std::vector<std::string> notes;  // what was skipped or assumed, told with --verbose

  // The unit system the source is written in, judged by its deflection unit.
  bool english() const { return deflection_unit == Unit::kMil || deflection_unit == Unit::kInch; }
};

}  // namespace basinfit::import
