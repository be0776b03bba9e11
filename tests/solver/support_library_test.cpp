// Machine constants, the error state and the work stack of the numeric support library.

#include "solver/support_library.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <sstream>

#include "common/record_format.h"
#include "solver/machine_constants.h"

namespace basinfit::solver {
namespace {

TEST(MachineConstants, SinglePrecisionTable) {
  EXPECT_EQ(r1mach(1), std::ldexp(1.0f, -126));
  EXPECT_EQ(r1mach(2), std::numeric_limits<float>::max());
  EXPECT_EQ(r1mach(3), std::ldexp(1.0f, -24));
  EXPECT_EQ(r1mach(4), std::ldexp(1.0f, -23));
  EXPECT_EQ(r1mach(5), 0.30103f);
}

TEST(MachineConstants, IntegerTableAnswersOneCharacterPerUnit) {
  const int expected[16] = {5, 6, 7, 6, 32, 1, 2, 31, 2147483647, 2, 24, -125, 128, 53, -1021, 1024};
  for (int i = 1; i <= 16; ++i) EXPECT_EQ(i1mach(i), expected[i - 1]) << i;
}

TEST(MachineConstants, DerivedConstants) {
  EXPECT_EQ(machine_constant(1), r1mach(1));
  EXPECT_NEAR(machine_constant(2), 1.0842e-19f, 0.0001e-19f);  // 2^-63
  EXPECT_EQ(machine_constant(3), r1mach(4));
  EXPECT_EQ(machine_constant(4), std::sqrt(r1mach(4)));
  EXPECT_NEAR(machine_constant(5), 1.8447e19f, 0.0001e19f);  // 16 sqrt(huge / 256)
  EXPECT_EQ(machine_constant(6), r1mach(2));
  EXPECT_EQ(machine_constant(99), r1mach(1));
  EXPECT_EQ(output_unit(1), 6);
  EXPECT_EQ(output_unit(2), 6);
  EXPECT_EQ(output_unit(3), 5);
}

TEST(MachineConstants, IndexOutsideTheTableStops) {
  EXPECT_THROW(r1mach(6), SupportLibraryStop);
  EXPECT_THROW(r1mach(0), SupportLibraryStop);
  try {
    i1mach(17);
    FAIL();
  } catch (const SupportLibraryStop& stop) {
    EXPECT_STREQ(stop.what(), "1error    1 in i1mach - i out of bounds");
  }
}

struct Captured {
  std::ostringstream text;
  TextUnit unit{text};
  SupportLibrary library{&unit};
  std::string output() {
    unit.finish();
    return text.str();
  }
};

TEST(ErrorState, RecoverableErrorUnderRecoveryModeOneStaysPending) {
  Captured c;
  c.library.set_recovery_mode(1);
  c.library.seterr("r1mach - i out of bounds", 24, 1, 1);
  EXPECT_EQ(c.library.pending_error(), 1);
  EXPECT_EQ(c.library.pending_message(), "r1mach - i out of bounds");
  EXPECT_EQ(c.output(), "");
  // A second error while one is pending stops with both messages and a dump.
  EXPECT_THROW(c.library.seterr("second", 6, 2, 1), SupportLibraryStop);
  const std::string text = c.output();
  EXPECT_NE(text.find("1error    3 in seterr - an unrecovered error followed by another error."),
            std::string::npos);
  EXPECT_NE(text.find(" error    1 in \n   r1mach - i out of bounds"), std::string::npos);
  EXPECT_NE(text.find(" error    2 in \n   second"), std::string::npos);
  EXPECT_NE(text.find("1stack dump"), std::string::npos);
}

TEST(ErrorState, RecoverableErrorInStopModePrintsWithoutDump) {
  Captured c;
  EXPECT_THROW(c.library.seterr("bad thing", 9, 7, 1), SupportLibraryStop);
  EXPECT_EQ(c.output(), " error    7 in \n   bad thing\n");
}

TEST(ErrorState, FatalErrorPrintsMessageThenDump) {
  Captured c;
  EXPECT_THROW(c.library.seterr("fatal", 5, 3, 2), SupportLibraryStop);
  const std::string text = c.output();
  EXPECT_EQ(text.rfind(" error    3 in \n   fatal\n1stack dump\n", 0), 0u);
  EXPECT_NE(text.find("0end of stack dump"), std::string::npos);
}

TEST(ErrorState, MessageIsCutTo72Characters) {
  Captured c;
  c.library.set_recovery_mode(1);
  const std::string long_message(80, 'x');
  c.library.seterr(long_message, 80, 4, 1);
  EXPECT_EQ(c.library.pending_message(), std::string(72, 'x'));
}

TEST(ErrorState, InvalidCallsStop) {
  Captured zero_length;
  EXPECT_THROW(zero_length.library.seterr("x", 0, 1, 2), SupportLibraryStop);
  EXPECT_EQ(
      zero_length.output().rfind("1error    1 in seterr - message length not positive.\n1stack dump", 0), 0u);
  Captured zero_number;
  EXPECT_THROW(zero_number.library.seterr("abc", 3, 0, 2), SupportLibraryStop);
  EXPECT_NE(zero_number.output().find("1error    2 in seterr - cannot have nerr=0"), std::string::npos);
  Captured bad_option;
  EXPECT_THROW(bad_option.library.seterr("abc", 3, 5, 3), SupportLibraryStop);
  EXPECT_NE(bad_option.output().find("1error    4 in seterr - bad value for iopt"), std::string::npos);
}

TEST(WorkStack, AllocationsKeepTheirBookkeeping) {
  WorkStack stack;
  EXPECT_EQ(stack.size(), 1000);
  EXPECT_EQ(stack.current_top(), 10);
  const int ints = stack.allocate(3, StackItem::kInteger);
  EXPECT_EQ(ints, 11);
  EXPECT_EQ(stack.current_top(), 15);
  const int doubles = stack.allocate(2, StackItem::kDouble);
  EXPECT_EQ(doubles, 9);  // units 17..20, aligned to two-unit items
  EXPECT_EQ(stack.allocations(), 2);
  stack.release();
  EXPECT_EQ(stack.current_top(), 15);
  EXPECT_EQ(stack.maximum_top(), 22);
  stack.release();
  EXPECT_EQ(stack.current_top(), 10);
  EXPECT_EQ(stack.allocations(), 0);
  EXPECT_EQ(WorkStack(5).size(), 12);
}

TEST(WorkStack, DumpListsHeadingStatisticsAndAllocations) {
  WorkStack stack;
  const int ints = stack.allocate(2, StackItem::kInteger);
  stack.word(ints) = 42;
  stack.word(ints + 1) = -7;
  const int reals = stack.allocate(1, StackItem::kReal);
  stack.unit(reals) = std::bit_cast<std::uint32_t>(1.5f);
  std::ostringstream text;
  TextUnit unit(text);
  stack.dump(unit);
  unit.finish();
  const std::string expected =
      "1stack dump\n"
      "0storage parameters\n"
      " logical                1 storage units\n"
      " integer                1 storage units\n"
      " real                   1 storage units\n"
      " double precision       2 storage units\n"
      " complex                2 storage units\n"
      "0stack statistics\n"
      " stack size               1000\n"
      " maximum stack used         17\n"
      " current stack used         17\n"
      " number of allocations       2\n"
      "0allocation =      2,          pointer =     15,          type real\n"
      "      15  1.5000000E+00\n"
      "0allocation =      1,          pointer =     11,          type integer\n"
      "      11         42         -7\n"
      "0end of stack dump\n";
  EXPECT_EQ(text.str(), expected);
}

TEST(WorkStack, OverwrittenHeadingGivesAnUnstructuredDump) {
  WorkStack stack(20);
  stack.word(5) = 3;
  std::ostringstream text;
  TextUnit unit(text);
  stack.dump(unit);
  unit.finish();
  EXPECT_NE(text.str().find("0stack heading is overwritten\n unstructured dump of the default stack follows\n"
                            "0logical stack"),
            std::string::npos);
  EXPECT_NE(text.str().find("0complex stack"), std::string::npos);
}

TEST(WorkStack, OverwrittenTrailerGivesAPartialDump) {
  WorkStack stack;
  stack.allocate(2, StackItem::kInteger);
  stack.word(stack.current_top()) = 9;  // type code out of range
  std::ostringstream text;
  TextUnit unit(text);
  stack.dump(unit);
  unit.finish();
  EXPECT_NE(text.str().find("0stack partially overwritten\n unstructured dump of remaining stack follows"),
            std::string::npos);
  EXPECT_NE(text.str().find("0end of stack dump"), std::string::npos);
}

}  // namespace
}  // namespace basinfit::solver
