#pragma once
// What the importer's end-to-end tests share: the tool, its test data and a metric structure
// file for the example survey's three layers.

#include <filesystem>
#include <string>

namespace basinfit::import_test {

inline const std::filesystem::path kData =
    std::filesystem::path(BASINFIT_SOURCE_DIR) / "tests" / "import" / "data";
inline std::string import_path() { return std::string(BASINFIT_BINARY_DIR) + "/apps/basinfit-import"; }

inline const char* const kStructure =
    "units,metric\n"
    "layer,1,backcalculated,0.35,3000,500,20000\n"
    "layer,2,backcalculated,0.35,300,50,3000\n"
    "layer,3,backcalculated,0.45,60,10,500\n"
    "thickness,,,15,30\n";

}  // namespace basinfit::import_test
