// Record positioning as the reports rely on it: blanks of nX appear only before further
// text, and an empty record left open by "(\,/)" is no line at all.

#include <gtest/gtest.h>

#include <sstream>

#include "common/record_format.h"

namespace basinfit {
namespace {

// "(\,/)" only ends the open line.  The record it leaves open is empty; closing the unit
// afterwards must not turn it into a blank line.  In the detail report this adds a blank
// line at the end of every run whose last station has more than one drop (its statistics
// end with "(\,/)").
TEST(RecordPositioning, ClosingAfterLineEndDoesNotAddABlankLine) {
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
TEST(RecordPositioning, PositioningWithoutFollowingDataWritesNoBlanks) {
  EXPECT_EQ(format_to_string(BASINFIT_FMT("(a,4(1x,f7.2,\\,:))"), "Thickness (cm):"), "Thickness (cm):");
  EXPECT_EQ(format_to_string(BASINFIT_FMT("(a,1x)"), "ab"), "ab");
  // Text after the positioning gets its blanks, even an empty value.
  EXPECT_EQ(format_to_string(BASINFIT_FMT("(a,2x,'|')"), "ab"), "ab  |");
  EXPECT_EQ(format_to_string(BASINFIT_FMT("(10x,a)"), ""), "          ");
  EXPECT_EQ(format_to_string(BASINFIT_FMT("(a,3x,/,a)"), "ab", "c"), "ab\nc");
}

}  // namespace
}  // namespace basinfit
