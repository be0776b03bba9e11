#include "common/record_format.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

namespace basinfit {
namespace {

std::string fmt1(const char* f, auto... args) { return format_to_string(Format(f), args...); }

TEST(RecordFormat, FixedFieldsFollowTheRuntime) {
  EXPECT_EQ(fmt1("(f5.3)", 0.5f), "0.500");  // leading zero kept when there is room
  EXPECT_EQ(fmt1("(f4.3)", 0.5f), ".500");   // and dropped when there is not
  EXPECT_EQ(fmt1("(f5.3)", -0.5f), "-.500");
  EXPECT_EQ(fmt1("(f6.2)", 0.125), "  0.12");  // exact ties go to even
  EXPECT_EQ(fmt1("(f5.1)", 0.25), "  0.2");
  EXPECT_EQ(fmt1("(f6.2)", -0.001f), " -0.00");  // a negative value that rounds to zero keeps its sign
  EXPECT_EQ(fmt1("(f6.2)", -0.0f), " -0.00");
  EXPECT_EQ(fmt1("(f10.0)", 0.3f), "        0.");
  EXPECT_EQ(fmt1("(f10.0)", 1234.5f), "     1234.");
  EXPECT_EQ(fmt1("(f10.0)", 1235.5f), "     1236.");
  EXPECT_EQ(fmt1("(f2.0)", 0.3f), "0.");
  EXPECT_EQ(fmt1("(f1.0)", 0.3f), "*");
  EXPECT_EQ(fmt1("(f4.1)", 0.05f), " 0.1");  // the float 0.05 lies just above the tie
  EXPECT_EQ(fmt1("(f8.2)", 123.456f), "  123.46");
}

TEST(RecordFormat, ValuesTooWideBecomeAsterisks) {
  EXPECT_EQ(fmt1("(f5.2)", 99.995f), "*****");
  EXPECT_EQ(fmt1("(f10.4)", 1.0e10f), "**********");
  EXPECT_EQ(fmt1("(i2)", 123), "**");
  EXPECT_EQ(fmt1("(i2)", -10), "**");
  EXPECT_EQ(fmt1("(f2.0)", -0.4f), "**");
  EXPECT_EQ(fmt1("(e6.1)", -1.0f), "******");
}

TEST(RecordFormat, ExponentForms) {
  EXPECT_EQ(fmt1("(e11.3)", 12345.0f), "  0.123E+05");
  EXPECT_EQ(fmt1("(e10.2)", -0.00123f), " -0.12E-02");
  EXPECT_EQ(fmt1("(1pe14.3)", 12345.0f), "     1.234E+04");
  EXPECT_EQ(fmt1("(d11.3)", 1.5), "  0.150D+01");
  EXPECT_EQ(fmt1("(1pd11.3)", 1.5), "  1.500D+00");
  EXPECT_EQ(fmt1("(e11.3)", 1.0e-120), "  0.100-119");  // three-digit exponents drop the letter
  EXPECT_EQ(fmt1("(e10.3)", 1.0e120), " 0.100+121");
  EXPECT_EQ(fmt1("(e9.3)", 0.5f), "0.500E+00");
  EXPECT_EQ(fmt1("(e6.1)", 0.5f), ".5E+00");
  EXPECT_EQ(fmt1("(1pe9.2)", 0.0f), " 0.00E+00");
  EXPECT_EQ(fmt1("(e9.2)", 0.0f), " 0.00E+00");
  // The scale factor stays in force for the rest of the format and scales F output too.
  EXPECT_EQ(fmt1("(1p,e10.3,f8.2)", 2.5f, 2.5f), " 2.500E+00   25.00");
}

TEST(RecordFormat, NonFiniteValues) {
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(fmt1("(f8.2)", inf), "Infinity");
  EXPECT_EQ(fmt1("(f4.1)", -inf), "-Inf");
  EXPECT_EQ(fmt1("(f9.1)", -inf), "-Infinity");
  EXPECT_EQ(fmt1("(f2.1)", inf), "**");
  EXPECT_EQ(fmt1("(f5.1)", std::numeric_limits<float>::quiet_NaN()), "  NaN");
}

TEST(RecordFormat, CharacterAndIntegerEdits) {
  EXPECT_EQ(fmt1("(a3,'|',a1,'|',a5,'|',a)", "abcdef", "xy", "ab", "free"), "abc|x|   ab|free");
  EXPECT_EQ(fmt1("(i3,i1,i5)", -5, 0, 42), " -50   42");
  EXPECT_EQ(fmt1("(3x,a,2x,'it''s')", "z"), "   z  it's");
  EXPECT_EQ(fmt1("(1X,I5,E16.6,2E14.3)", 3, 1.0f, 2.0f, -3.0f),
            "     3    0.100000E+01     0.200E+01    -0.300E+01");
}

TEST(RecordFormat, GroupsColonsAndReversion) {
  const std::array<float, 3> v{1.5f, 2.25f, 3.0f};
  const char tab = '\t';
  EXPECT_EQ(fmt1("(a,10(a1,f8.2,:))", "Load", tab, v[0], tab, v[1]), "Load\t    1.50\t    2.25");
  // Without the colon the literal after the last item is still written.
  EXPECT_EQ(fmt1("(a,3(1x,f4.1,'|'))", "x", std::span<const float>(v)), "x  1.5|  2.2|  3.0|");
  EXPECT_EQ(fmt1("(a,5(1x,f4.1,:))", "x", std::span<const float>(v)), "x  1.5  2.2  3.0");
  // A group without a count, and reversion to the rightmost group with a new record.
  EXPECT_EQ(fmt1("(a1,a,(1x,f5.1))", tab, "T", 1.0f, 2.0f), "\tT   1.0\n   2.0");
  EXPECT_EQ(fmt1("(/,'  head',/,/,(1X,I2,F4.1))", 1, 1.0f, 2, 2.0f), "\n  head\n\n  1 1.0\n  2 2.0");
  // Reversion to the whole format when it has no group.
  EXPECT_EQ(fmt1("(i2)", 1, 2, 3), " 1\n 2\n 3");
  EXPECT_EQ(fmt1("(5x,a,5f10.0)", "Seed Moduli:    ", std::span<const float>(v)),
            "     Seed Moduli:            2.        2.        3.");
}

TEST(RecordFormat, ProgressLineHasItsFixedLayout) {
  const std::string line =
      format_internal(BASINFIT_FMT("(1x,a,1x,i2,1x,a,1x,i2,3(1x,a),3(1x,i2,a))"), 80, "Starting Drop No", 1,
                      "of", 4, "drops at Station", "1250      ", "at", 9, ":", 5, ":", 7);
  ASSERT_EQ(line.size(), 80u);
  EXPECT_EQ(line.substr(0, 68), " Starting Drop No  1 of  4 drops at Station 1250       at  9:  5:  7");
  EXPECT_EQ(line.find_last_not_of(' '), 67u);
}

TEST(RecordFormat, InternalWritesAreFixedLength) {
  EXPECT_EQ(format_internal(Format("(a, a, a, i2)"), 30, "Station: ", "A1", " - Drop No: ", 3),
            "Station: A1 - Drop No:  3     ");
  // A record longer than its buffer, or a second record, is a programming error.
  EXPECT_THROW(format_internal(Format("(a, a, a, i2)"), 20, "Station: ", "A1", " - Drop No: ", 3),
               FormatError);
  EXPECT_THROW(format_internal(Format("(a,/,a)"), 20, "a", "b"), FormatError);
}

TEST(RecordFormat, MalformedFormatsAreRejected) {
  EXPECT_THROW(Format("(a,"), FormatError);
  EXPECT_THROW(Format("a,i2"), FormatError);
  EXPECT_THROW(Format("(q5)"), FormatError);
  EXPECT_THROW(Format("(f8)"), FormatError);
  EXPECT_THROW(Format("('abc)"), FormatError);
  EXPECT_THROW(fmt1("(i5)", 1.0f), FormatError);
  EXPECT_THROW(fmt1("(f5.1)", 1), FormatError);
  EXPECT_THROW(fmt1("('no data')", 1), FormatError);
  // Found by fuzzing: a repeat count at the very end of the text.
  EXPECT_THROW(Format("(99"), FormatError);
  EXPECT_THROW(Format("(2"), FormatError);
  // Nested repeats that would build an endless record.
  EXPECT_THROW(fmt1("(99999(99999('x')))"), FormatError);
  EXPECT_THROW(fmt1("(362(2362(3622()))(i4))", 1, 2), FormatError);
  // Fields beyond any record are refused when the format is parsed (also found by fuzzing).
  EXPECT_THROW(Format("(22022p,f4.0)"), FormatError);
  EXPECT_THROW(Format("(f8.101)"), FormatError);
  EXPECT_THROW(Format("(i1001)"), FormatError);
  EXPECT_EQ(fmt1("(f110.100)", 1.0).size(), 110u);
  EXPECT_EQ(fmt1("(e110.100)", -1.0).size(), 110u);
}

TEST(TextUnit, BackslashLeavesTheRecordOpenForTheNextWrite) {
  std::ostringstream os;
  TextUnit unit(os);
  const char tab = '\t';
  unit.write(BASINFIT_FMT("(a1,a,\\)"), tab, "Load");
  unit.write(BASINFIT_FMT("(a1,f8.2,\\)"), tab, 40.0f);
  EXPECT_TRUE(unit.record_open());
  unit.write(BASINFIT_FMT("(\\,/)"));  // only ends the open line
  EXPECT_FALSE(os.str().empty());
  unit.write(BASINFIT_FMT("(a)"), "next");
  EXPECT_EQ(os.str(), "\tLoad\t   40.00\nnext\n");
}

TEST(TextUnit, LeadingSlashEndsAnOpenLine) {
  std::ostringstream os;
  TextUnit unit(os);
  unit.write(BASINFIT_FMT("(a,\\)"), "open");
  unit.write(BASINFIT_FMT("(/,a,5(a1,f8.2,\\,:))"), "Row", '\t', 1.0f);
  unit.finish();
  EXPECT_EQ(os.str(), "open\nRow\t    1.00\n");
  // Without an open record, a leading slash writes an empty line.
  std::ostringstream os2;
  TextUnit unit2(os2);
  unit2.write(BASINFIT_FMT("(/,a)"), "x");
  EXPECT_EQ(os2.str(), "\nx\n");
}

}  // namespace
}  // namespace basinfit
