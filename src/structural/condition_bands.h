// Condition bands of the deflection bowl parameters: sound, warning or severe, for the base
// types the bands are published for.  An opt-in reading of the basin indices, not a design.
//
// Source: South African Pavement Engineering Manual (SAPEM), Chapter 10 Pavement Design, 2nd
// edition 2014, Table 46 "Deflection Bowl Parameter Structural Condition Rating Criteria", after
// E. Horak, Benchmarking the structural condition of flexible pavements with deflection bowl
// parameters, Journal of the South African Institution of Civil Engineering 50(2), 2008, 2-9.
//
//                      D0 (um)     RoC (m)    BLI=SCI (um)  MLI=BDI (um)  LLI=BCI (um)
//   granular  sound    < 500       > 100      < 200         < 100         < 50
//             warning  500 - 750   50 - 100   200 - 400     100 - 200     50 - 100
//             severe   > 750       < 50       > 400         > 200         > 100
//   cementitious       < 200       > 150      < 100         < 50          < 40
//                      200 - 400   80 - 150   100 - 300     50 - 100      40 - 80
//                      > 400       < 80       > 300         > 100         > 80
//   bituminous         < 400       > 250      < 200         < 100         < 50
//                      400 - 600   100 - 250  200 - 400     100 - 150     50 - 80
//                      > 600       < 100      > 400         > 150         > 80
//
// The bands were set for the 40 kN load of the falling weight deflectometer (566 kPa on a
// 150 mm radius plate); values are carried to 40 kN before rating, whatever the standard load
// of the indices.  A value on a band limit is rated in the warning band.  The method is
// empirical and calibrated on South African pavements: a rough screening of where in the
// pavement's depth a weakness lies, not a remaining life.
#pragma once

#include <string_view>

#include "structural/basin.h"

namespace basinfit::structural {

enum class BaseType { kGranular, kCementitious, kBituminous };

enum class Condition {
  kNone,  // the index has no value
  kSound,
  kWarning,
  kSevere,
};

struct BasinRatings {
  Condition d0 = Condition::kNone;
  Condition roc = Condition::kNone;
  Condition sci = Condition::kNone;  // Horak's base layer index BLI
  Condition bdi = Condition::kNone;  // middle layer index MLI
  Condition bci = Condition::kNone;  // lower layer index LLI
};

// The load the bands are set for, kN.
inline constexpr double kBandLoadKn = 40.0;

BasinRatings rate_basin(const BasinIndices& indices, BaseType base);

std::string_view condition_word(Condition condition);  // "", "sound", "warning", "severe"
std::string_view base_type_word(BaseType base);        // "granular", "cementitious", "bituminous"
// The source of the bands, for a run record: one line naming the table.
std::string_view condition_band_source();

}  // namespace basinfit::structural
