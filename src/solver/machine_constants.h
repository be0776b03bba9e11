#pragma once
// Machine constants of single-precision IEEE arithmetic, and the constants derived from
// them that the solver's defaults are computed from.  All are pure functions of a fixed
// table; nothing here is mutable.

namespace basinfit::solver {

// Single-precision constants, index 1..5: tiny (smallest normal), huge (largest finite),
// smallest relative spacing 2^-24, largest relative spacing 2^-23 (epsilon), log10(2).
// An index outside 1..5 is a programming error: the numeric support library's error
// routine records it as fatal (see support_library.h) and this throws.
float r1mach(int index);

// Integer machine constants, index 1..16 (units, word sizes, integer and floating-point
// digits and exponent ranges).  Index 6 answers 1, the characters per character storage
// unit.  An index outside 1..16 throws.
int i1mach(int index);

// Constants derived from tiny, huge and epsilon, index 1..6: tiny, sqrt(256 tiny)/16,
// epsilon, sqrt(epsilon), 16 sqrt(huge/256), huge; any other index answers tiny.
float machine_constant(int index);

// Output-unit lookup: 1 -> printing unit, 2 -> error-message unit, 3 -> input unit.
int output_unit(int which);

}  // namespace basinfit::solver
