#include "run/progress_display.h"

#include <gtest/gtest.h>

#include <sstream>

namespace basinfit {
namespace {

TEST(ProgressDisplay, LineShowsCountsRateElapsedAndTimeLeft) {
  // 12 drops in 6 s is 2 drops/s; 36 drops remain, so 18 s are left.
  EXPECT_EQ(ProgressDisplay::line(3, 12, 12, 48, 6.0),
            "stations 3/12  drops 12/48  2.0 drops/s  elapsed 0:06  left 0:18");
  // Nothing done yet: no rate, no estimate.
  EXPECT_EQ(ProgressDisplay::line(0, 5, 0, 20, 0.0),
            "stations 0/5  drops 0/20  0.0 drops/s  elapsed 0:00  left --:--");
  // Long runs show hours.
  EXPECT_EQ(ProgressDisplay::line(1, 20000, 100, 80000, 3600.0),
            "stations 1/20000  drops 100/80000  0.0 drops/s  elapsed 1:00:00  left 799:00:00");
}

TEST(ProgressDisplay, RewritesOneLineInPlaceAndTakesItAwayAtTheEnd) {
  std::ostringstream out;
  ProgressDisplay display(out);
  display.start(2, 8);
  for (int i = 0; i < 8; ++i) display.drop_done();
  display.station_done();
  display.finish();
  const std::string text = out.str();
  EXPECT_EQ(text.rfind("\r\033[Kstations 0/2  drops 0/8", 0), 0u) << text;
  EXPECT_EQ(text.find('\n'), std::string::npos);
  // The last thing written clears the line, so the terminal is left as it was.
  EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
  display.finish();
  EXPECT_EQ(out.str(), text);  // a second finish writes nothing
}

}  // namespace
}  // namespace basinfit
