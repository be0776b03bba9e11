// Frees cairo's and fontconfig's process-wide font caches after the last test, so that the
// sanitizer build's leak check sees only our own allocations.

#include <gtest/gtest.h>

#include "plot/image_canvas.h"

namespace {

class FontCacheCleanup : public ::testing::Environment {
 public:
  void TearDown() override { basinfit::plot::release_font_caches(); }
};

[[maybe_unused]] const auto* const kCleanup = ::testing::AddGlobalTestEnvironment(new FontCacheCleanup);

}  // namespace
