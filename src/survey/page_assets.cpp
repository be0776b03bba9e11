#include "survey/internal/page_assets.h"

#include <stdexcept>
#include <string>

namespace basinfit::survey {
namespace {

std::string_view text_of(std::string_view name) {
  const WebAsset* asset = find_web_asset(name);
  // The build embeds both files or fails, so a missing one is a fault of this program.
  if (asset == nullptr) throw std::logic_error("the survey page's " + std::string(name) + " is not built in");
  return {reinterpret_cast<const char*>(asset->data), asset->size};
}

}  // namespace

std::string_view page_style() { return text_of("page.css"); }
std::string_view page_script() { return text_of("page.js"); }

}  // namespace basinfit::survey
