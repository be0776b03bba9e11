// The moduli at the standard load that every reader other than the reports takes.  Oracles: a
// station whose moduli follow an exact power law in the load must give its coefficient back at
// the standard load, whichever side its drops lie; where the drops bracket the standard load the
// value is the reports' own interpolation, and the reports keep their 0 where they give none.
#include "results/normalisation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "results/data_checks.h"
#include "run/regression.h"

namespace basinfit::results {
namespace {

struct NormalisationCase {
  const char* name;
  bool metric;
  std::vector<float> loads;  // N or lbf
  int fixed_layer;           // 0-based, -1 for none
  Normalisation expected;
  const char* note_holds;  // a phrase the note must hold
};

// Moduli E_j = c_j (P / P0)^b_j: at the standard load P0 every layer's modulus is c_j.
constexpr double kCoefficient[3] = {3000.0, 300.0, 60.0};
constexpr double kExponent[3] = {-0.05, 0.3, -0.2};

TEST(Normalisation, TakesTheReportsValueOrTheLoadTrendOrSaysWhyThereIsNone) {
  const NormalisationCase cases[] = {
      {"drops around 40 kN", true, {27000, 40000, 53000}, -1, Normalisation::kInterpolated, "interpolated"},
      {"drops on either side of 40 kN",
       true,
       {30000, 50000},
       -1,
       Normalisation::kInterpolated,
       "interpolated"},
      {"the shared PDDX loads, all above 40 kN",
       true,
       {40100, 50300, 59800},
       -1,
       Normalisation::kTrend,
       "trend"},
      {"all below, the nearest 1 kN away", true, {30000, 35000, 39000}, -1, Normalisation::kTrend, "trend"},
      {"a fixed subgrade", true, {40400, 50200, 60100}, 2, Normalisation::kTrend, "trend"},
      {"English, all above 9000 lbf", false, {9100, 11000, 13500}, -1, Normalisation::kTrend, "9000 lbf"},
      {"the nearest 4.5 kN away", true, {44500, 50000, 60000}, -1, Normalisation::kNone, "too far"},
      {"every drop at one load", true, {40500, 40500, 40500}, -1, Normalisation::kNone, "one load"},
      {"a single drop", true, {40500}, -1, Normalisation::kNone, "single drop"},
  };
  for (const NormalisationCase& c : cases) {
    SCOPED_TRACE(c.name);
    RunState state;
    RunSettings& s = state.settings;
    s.unit_flag = c.metric ? 0 : 1;
    s.units = UnitFactors::for_flag(s.unit_flag);
    s.atmospheric_pressure = atmospheric_pressure(s.units);
    s.layer_count = 3;
    for (std::size_t j = 0; j < 3; ++j) s.layers[j].type = static_cast<int>(j) == c.fixed_layer ? 1 : 0;
    StationData& st = state.station;
    StationResults& r = state.results;
    st.drop_count = static_cast<int>(c.loads.size());
    const double p0 = standard_load(s);
    for (std::size_t d = 0; d < c.loads.size(); ++d) {
      st.load[d] = c.loads[d];
      for (std::size_t j = 0; j < 3; ++j)
        r.modulus[d][j] = static_cast<int>(j) == c.fixed_layer
                              ? static_cast<float>(kCoefficient[j])
                              : static_cast<float>(kCoefficient[j] * std::pow(c.loads[d] / p0, kExponent[j]));
    }
    if (st.drop_count > 1) regress(s, st, r);  // the reports' statistics, as the station loop forms them
    StationRecord record;
    normalise_station(s, st, r, record);
    EXPECT_EQ(record.normalisation, c.expected) << record.normalisation_note;
    EXPECT_NE(record.normalisation_note.find(c.note_holds), std::string::npos) << record.normalisation_note;
    for (std::size_t j = 0; j < 3; ++j) {
      const double value = record.normalised_modulus[j];
      switch (c.expected) {
        case Normalisation::kInterpolated:
          EXPECT_EQ(value, static_cast<double>(r.statistics.normalized_modulus[j]));
          EXPECT_GT(value, 0.0);
          break;
        case Normalisation::kTrend:
          // The power law is exact, so the trend gives c_j back (single-precision moduli).
          EXPECT_NEAR(value, kCoefficient[j], 2e-6 * kCoefficient[j]) << "layer " << j + 1;
          // The reports keep their own rule: no drop brackets the standard load, so 0.
          EXPECT_EQ(r.statistics.normalized_modulus[j], 0.0f);
          break;
        case Normalisation::kNone:
          EXPECT_TRUE(missing(value));
          break;
      }
    }
    EXPECT_TRUE(missing(record.normalised_adjusted_surface_modulus)) << "no temperature adjustment";
  }
}

TEST(StressSensitivityLaw, PlausibleExponentsFollowTheSoilType) {
  struct Case {
    int soil_type;
    double k2;
    bool implausible;
  };
  const Case cases[] = {
      {1, 0.0, false}, {1, 0.5, false},  {1, 1.0, false},  {1, 1.31, true}, {1, 7.606, true},
      {2, 0.0, false}, {2, -0.2, false}, {2, -1.0, false}, {2, -1.5, true}, {0, 9.0, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(implausible_law(c.soil_type, c.k2), c.implausible) << c.soil_type << " " << c.k2;
}

}  // namespace
}  // namespace basinfit::results
