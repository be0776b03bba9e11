#pragma once
// Pavements, plate and sensor points shared by the model tests that compare evaluations.

#include <array>
#include <vector>

#include "model/response_model.h"

namespace basinfit::model::test {

inline LayerSystem layers(std::array<double, 5> E, std::array<double, 5> nu, std::array<double, 4> h) {
  LayerSystem s;
  s.modulus = E;
  s.poisson = nu;
  s.thickness = h;
  return s;
}

// A three-layer pavement (mm, MPa) under a 566 kPa, 150 mm plate.
inline const LayerSystem kPavement =
    layers({3000, 300, 60, 60, 60}, {0.35, 0.35, 0.45, 0.45, 0.45}, {150, 300, 300, 300});
inline const CircularLoad kPlate{0.566, 150.0, 0.0, 0.0};

// Nine surface sensors out to 1800 mm.
inline std::vector<EvaluationPoint> sensors() {
  std::vector<EvaluationPoint> points;
  for (double offset : {0, 200, 300, 450, 600, 900, 1200, 1500, 1800}) points.push_back({0, offset, 0, 1});
  return points;
}

}  // namespace basinfit::model::test
