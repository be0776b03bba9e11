#pragma once
// Station positions along the route: from a station table where the run has one (every
// station's chainage in the run's length unit), otherwise read from the station identifiers.
//
// An identifier reads as chainage in one of these forms (blanks around it ignored, the prefix
// in any case):
//   "1+100"     whole units + remainder: 1 km + 100 m in a metric run (1100 m); in an English
//               run the usual 100-ft stations, "12+50" = 12 x 100 ft + 50 ft (1250 ft)
//   "KM12+000"  kilometres + metres (12000 m; in an English run carried to feet)
//   "KM12.35"   kilometres (12350 m)
//   "12.350"    a plain number, with or without a decimal point: metres or feet, the run's own
//   "1000"      length unit (as an importer names stations by their chainage)
//   "STA10+00"  a station number: read as without "STA" (1000 ft in an English run)
// Positions are in metres in a metric run and in feet in an English run.  The whole survey is
// placed by its identifiers only when every identifier reads as chainage and the positions run
// strictly one way (up or down the route); otherwise the stations are placed one unit apart
// in survey order and the page says why.  The same holds for positions that cannot be a
// survey's, from either source: a route longer than 1,000 km, or a spacing between neighbours
// that jumps by more than a factor of 100.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace basinfit::survey {

// The position an identifier stands for, or nothing when it does not read as chainage.
std::optional<double> parse_chainage(std::string_view id, bool metric);

struct StationPositions {
  std::vector<double> position;  // one per station, in survey order
  bool from_identifiers = false;
  bool from_table = false;
  bool along_route() const { return from_identifiers || from_table; }
  std::string unit;  // "m", "ft", or "station" for equal spacing
  // Why the stations are equally spaced (empty when placed by their identifiers).
  std::string note;
};

// `chainages` (one per station, or empty for none) come from the station table `table`.
StationPositions station_positions(const std::vector<std::string>& ids, bool metric,
                                   const std::vector<std::optional<double>>& chainages = {},
                                   const std::string& table = {});

// Why positions cannot be a survey's (empty when they can): longer than 1,000 km, or spacing
// that jumps by more than a factor of 100.  Positions in metres or feet.
std::string implausible_positions(const std::vector<double>& position, const std::vector<std::string>& ids,
                                  bool metric);

}  // namespace basinfit::survey
