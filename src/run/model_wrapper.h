#pragma once
// The bridge from a drop's layer moduli to the layered elastic model: builds the five-layer
// system, the plate load and the points in the model's working units (inches, pounds-force,
// psi), runs the model once, and stores deflections or stresses and strains back in file
// units.

#include "model/response_model.h"
#include "run/run_state.h"

namespace basinfit {

enum class WrapperMode {
  kSensorDeflections = 1,  // deflections at the sensors
  kDefaultPoints = 2,      // stresses and strains at the default points
  kUserPoints = 3,         // stresses and strains at the user's evaluation points
};

// Runs the model for drop `drop` (1-based) with the moduli in results.modulus[drop].  Returns
// false when the model could not evaluate the system: calculated deflections are then left
// untouched, while the drop's stresses and strains are cleared and marked missing.  Points lie
// at x = 0, y = r: the radial components are the model's y components, the hoop ones its x.
bool run_model(const RunSettings& settings, const StationData& station, StationResults& results, int drop,
               WrapperMode mode);

// The layer system of a drop as the model sees it (exposed for tests and the forward tool).
model::LayerSystem wrapper_layer_system(const RunSettings& settings, const StationData& station,
                                        const PerLayer<float>& modulus);

// Depths (inches) and layers of the default points: bottom of layer 1, middle of the layers
// between, top of the last layer above a stiff layer.  Returns the number of points.
int default_point_depths(const RunSettings& settings, const std::array<float, 4>& thickness_in,
                         PerPoint<float>& depth, PerPoint<int>& layer);

}  // namespace basinfit
