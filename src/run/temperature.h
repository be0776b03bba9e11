#pragma once
// Adjustment of the surface-layer modulus to the reference temperature.

#include "run/run_state.h"

namespace basinfit {

// Pavement temperature in degrees F at mid-depth of the surface layer.  With temperature
// option 1 it is estimated from the sum of the station's two temperatures by a depth table;
// otherwise it is temperature 1.
float pavement_temperature(const RunSettings& settings, const StationData& station);

// Factor that carries the surface modulus measured at `pavement_f` to the reference
// temperature: 10^(0.000147362 (Tp^2 - Tref^2)).  Above 1 for a pavement warmer than the
// reference, whose modulus at the reference temperature is stiffer.
float temperature_factor(float pavement_f, float reference_f);

}  // namespace basinfit
