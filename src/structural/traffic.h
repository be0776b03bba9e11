// The traffic a pavement is to carry, shared by the 1993 AASHTO Guide's overlay design and the
// mechanistic remaining life: design ESALs over a design period, their growth, and the Guide's
// reliability inputs.  Traffic is optional: without design ESALs every value that needs traffic
// is empty with the reason "no design traffic (W18) given".
#pragma once

#include "structural/value.h"

namespace basinfit::structural {

struct DesignTraffic {
  // W18: 18-kip (80 kN) equivalent single axle loads in the design lane over the design period.
  double design_esals = kNoValue;
  double design_period_years = 20.0;
  double annual_growth_percent = 0.0;  // compound growth of the yearly ESALs
  // The Guide's reliability R, percent; 90 % lies in the Guide's ranges for interstates,
  // arterials and collectors alike.
  double reliability_percent = 90.0;
  // ZR given directly (for instance from the Guide's Table 4.1); NaN: from the reliability.
  double standard_normal_deviate = kNoValue;
  double overall_standard_deviation = 0.45;  // S0: the Guide's range for flexible pavements is 0.40-0.50
  double serviceability_loss = 1.7;          // dPSI = p0 - pt: 4.2 (AASHO Road Test) - 2.5

  bool given() const { return design_esals > 0.0; }
};

// The ESALs of the first year of the design period: W18 g / ((1 + g)^n - 1), or W18 / n without
// growth.  NaN without traffic or with a period that is not positive.
double first_year_esals(const DesignTraffic& traffic);

// Years from now until the traffic, growing from the first year's ESALs, adds up to
// `repetitions`: ln(1 + N g / A) / ln(1 + g), or N / A without growth.
Value years_to_carry(double repetitions, const DesignTraffic& traffic);

}  // namespace basinfit::structural
