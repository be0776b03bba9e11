// Faults of the shared record-formatting layer that show in the reports, kept here as
// minimal cases until the layer is fixed.  They are disabled so that the suite stays green;
// run them with --gtest_also_run_disabled_tests.  Enable each once its fault is fixed.

#include <gtest/gtest.h>

#include <sstream>

#include "common/record_format.h"

namespace basinfit {
namespace {

// "(\,/)" only ends the open line.  The record it leaves open is empty; closing the unit
// afterwards must not turn it into a blank line.  In the detail report this adds a blank
// line at the end of every run whose last station has more than one drop (its statistics
// end with "(\,/)").
TEST(FormatterFault, DISABLED_ClosingAfterLineEndDoesNotAddABlankLine) {
  std::ostringstream os;
  TextUnit unit(os);
  unit.write(BASINFIT_FMT("(a,\\)"), "x");
  unit.write(BASINFIT_FMT("(\\,/)"));
  unit.finish();
  EXPECT_EQ(os.str(), "x\n");
}

// nX only moves the position; blanks appear when data follows.  With no items left at the
// first data edit, "(a,4(1x,f7.2,\,:))" must write the label alone.  In the detail report a
// one-layer system (no thicknesses) gets "Thickness (cm): " with a blank before the tab.
TEST(FormatterFault, DISABLED_PositioningWithoutFollowingDataWritesNoBlanks) {
  EXPECT_EQ(format_to_string(BASINFIT_FMT("(a,4(1x,f7.2,\\,:))"), "Thickness (cm):"), "Thickness (cm):");
  EXPECT_EQ(format_to_string(BASINFIT_FMT("(a,1x)"), "ab"), "ab");
}

}  // namespace
}  // namespace basinfit
