#pragma once
// The workbench's page, scripts and styles, built into the program from web/ (see
// src/workbench/CMakeLists.txt), so that it serves everything itself and needs no network.

#include <cstddef>
#include <string_view>

namespace basinfit::workbench {

struct WebAsset {
  std::string_view path;  // "index.html", "app.js", ...
  const unsigned char* data;
  std::size_t size;
};

// The asset of that path, or nullptr.
const WebAsset* find_web_asset(std::string_view path);

}  // namespace basinfit::workbench
