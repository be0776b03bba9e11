#pragma once
// The network page: one self-contained HTML file with a table of the surveys of a results
// database (status, stations, drops, share of flagged drops, per-layer median normalised
// moduli, link to each survey's page); for each route surveyed more than once, the surveys'
// subgrade profiles over each other along the chainage; and the difference of two chosen surveys.

#include <filesystem>
#include <string>

namespace basinfit::network {

struct NetworkPageOptions {
  // Two surveys of one route whose subgrade moduli are compared station by station, matched by
  // chainage (the nearest station of the second within `tolerance`, in the surveys' chainage
  // unit), never by identifier.
  std::string first, second;
  double tolerance = 10;
};

// Reads DIR/results.sqlite (read only; a folder without one is refused) and writes `file`
// through a temporary name; links to DIR/surveys/NAME/survey.html are relative to the page's
// folder.  A `file` that would replace part of the batch or an input is refused before anything
// is written (refuse_output_over_batch).
void write_network_page(const std::filesystem::path& out, const std::filesystem::path& file,
                        const NetworkPageOptions& options = {});

}  // namespace basinfit::network
