#pragma once
// The stations of a network as a GeoPackage point layer (WGS 84 longitude and latitude), for
// GIS programs: survey, station, chainage, lane, normalised moduli, flagged drops and flags.

#include <filesystem>

namespace basinfit::network {

struct ExportOutcome {
  long written = 0;           // stations with a position
  long without_position = 0;  // left out
};

// Reads OUT/results.sqlite, the database of the batch in the folder `out` (read only; surveys
// recorded as ok), and writes `file` through a temporary name.  A `file` that would replace part
// of the batch or an input is refused before anything is written (refuse_output_over_batch).
ExportOutcome export_geopackage(const std::filesystem::path& out, const std::filesystem::path& file);

}  // namespace basinfit::network
