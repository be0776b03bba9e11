#pragma once
// The network page: one self-contained HTML file with a table of the surveys of a results
// database (status, stations, drops, share of flagged drops, per-layer median normalised
// moduli, link to each survey's page).

#include <filesystem>

namespace basinfit::network {

// Reads DIR/results.sqlite and writes `file` through a temporary name; links to
// DIR/surveys/NAME/survey.html are relative to the page's folder.
void write_network_page(const std::filesystem::path& out, const std::filesystem::path& file);

}  // namespace basinfit::network
