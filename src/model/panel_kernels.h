// The kernels of one integration panel: the layer solutions of its six transform values, the power
// series of its Bessel lanes, the integrands of its six nodes and their weighted sum, in a portable form
// (SSE2, which every x86-64 processor has) and in forms for the wider vector units (AVX2, AVX-512) chosen at
// run time.  Every form gives the same bits: lane by lane the same IEEE operations in the same order, no
// fused multiply-add, and the same C library calls for the exponentials.
#pragma once

#include <span>
#include <string>

#include "model/bessel_series.h"
#include "model/integrand.h"
#include "model/layer_solution.h"
#include "model/response_model.h"

namespace basinfit::model {

struct PanelKernels {
  const char* name;  // "portable", "avx2" or "avx512"
  void (*solve_layers)(const PanelLambdas& lambda, const LayerConstants& constants, double threshold,
                       PanelCoefficients& out);
  BesselSeriesKernel bessel_series;
  void (*fill_integrands)(const IntegrandSetting& setting, const BesselLanes& bessel,
                          const PanelLambdas& lambda, const PanelCoefficients& coefficients,
                          PanelIntegrands& out);
  void (*accumulate)(const PanelIntegrands& integrands, double step, ComponentTable& integral);
};

// The kernels a path stands for on this processor (chosen once per process).
const PanelKernels& panel_kernels(VectorPath path);

// Every form this processor can run, the portable one first, then AVX2 and AVX-512 where present.
std::span<const PanelKernels> supported_panel_kernels();

// evaluate_response with the given kernels.
ModelResult evaluate_response_with(const PanelKernels& kernels, const LayerSystem& system,
                                   std::span<const CircularLoad> loads,
                                   std::span<const EvaluationPoint> points,
                                   const IntegrationLimits& limits = IntegrationLimits{});

// evaluate_responses with the given kernels.
void evaluate_responses_with(const PanelKernels& kernels, std::span<const LayerSystem> systems,
                             std::span<const CircularLoad> loads, std::span<const EvaluationPoint> points,
                             std::span<ModelResult> results,
                             const IntegrationLimits& limits = IntegrationLimits{});

// What the automatic path stands for under a BASINFIT_VECTOR_PATH setting (nullptr: not set).
struct AutomaticChoice {
  const PanelKernels* kernels;
  std::string name;
};
AutomaticChoice choose_automatic_path(const char* setting, const PanelKernels& widest);

}  // namespace basinfit::model
