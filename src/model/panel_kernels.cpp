// The panel kernels for the wider vector units, compiled once per instruction set by Highway's
// foreach_target (this file includes itself once per target) and chosen at run time.
//
// Bit identity with the portable kernels rests on three things:
//   * only element-wise IEEE operations (add, subtract, multiply, divide, negate, absolute value,
//     compare), lane by lane in the order the portable code writes them;
//   * no fused multiply-add: the FMA extension is left out of the AVX2 instruction set
//     (HWY_DISABLE_BMI2_FMA), the build's -ffp-contract=off keeps the compiler from contracting
//     (AVX-512 carries its own FMA instructions), and no kernel asks for MulAdd;
//   * the exponentials stay calls of the C library, one lane at a time.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "model/panel_kernels.cpp"
#define HWY_DISABLE_BMI2_FMA
// The baseline (which runs the portable kernels) and the 256- and 512-bit units; the 128-bit
// SSSE3/SSE4 forms would only repeat the portable SSE2 kernels.
#define HWY_DISABLED_TARGETS (HWY_SSSE3 | HWY_SSE4)
#include "model/panel_kernels.h"

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <type_traits>

#include "model/bessel_series.h"
#include "model/layer_solution.h"

HWY_BEFORE_NAMESPACE();
namespace basinfit::model {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX2

#include "model/layer_solution-inl.h"

// The six layer solutions of a panel: all six in one 8-lane vector (two lanes pad it and make no
// C library calls) on AVX-512; four and two on AVX2.
void SolveLayersPanel(const PanelLambdas& lambda, const LayerConstants& c, double threshold,
                      PanelCoefficients& out) {
  static_assert(kPanelNodes == 6);
#if HWY_TARGET == HWY_AVX3
  using Octet = double __attribute__((vector_size(8 * sizeof(double))));
  const Octet l = {lambda[0], lambda[1], lambda[2], lambda[3], lambda[4], lambda[5], lambda[5], lambda[5]};
  const Solution<Octet> s = solve_impl<Octet, kPanelNodes>(l, c);
  for (std::size_t m = 0; m < kPanelNodes; ++m) out[m] = lane_of(s, static_cast<int>(m), threshold);
#else
  using Quad = double __attribute__((vector_size(4 * sizeof(double))));
  using Pair = double __attribute__((vector_size(2 * sizeof(double))));
  const Quad first = {lambda[0], lambda[1], lambda[2], lambda[3]};
  const Solution<Quad> s = solve_impl<Quad>(first, c);
  for (std::size_t m = 0; m < 4; ++m) out[m] = lane_of(s, static_cast<int>(m), threshold);
  const Pair last = {lambda[4], lambda[5]};
  const Solution<Pair> t = solve_impl<Pair>(last, c);
  out[4] = lane_of(t, 0, threshold);
  out[5] = lane_of(t, 1, threshold);
#endif
}

// The series loop of sum_bessel_series on whole vectors.  A vector may reach below first_live or
// beyond end_live; the lanes there are dead (term and live 0, or a finished lane whose next term
// is multiplied by 0), so their sums gain an exact zero and stay as they are.
void SumBesselSeries(BesselLanes& b, std::size_t first_live, std::size_t end_live) {
  const hn::ScalableTag<double> d;
  const std::size_t N = hn::Lanes(d);
  static_assert(kBesselLaneStorage % kBesselVectorLanes == 0);
  const auto tolerance = hn::Set(d, kSeriesTolerance);
  for (int k = 1; first_live < end_live; ++k) {
    const auto k0 = hn::Set(d, static_cast<double>(k * k));
    const auto k1 = hn::Set(d, static_cast<double>(k * (k + 1)));
    for (std::size_t l = first_live / N * N; l < end_live; l += N) {
      const auto half_squared = hn::Load(d, b.half_squared.data() + l);
      const auto live0 = hn::Load(d, b.live0.data() + l);
      const auto live1 = hn::Load(d, b.live1.data() + l);
      // -term * (x/2)^2 / k0 * live, left to right.
      const auto t0 =
          hn::Mul(hn::Div(hn::Mul(hn::Neg(hn::Load(d, b.term0.data() + l)), half_squared), k0), live0);
      const auto t1 =
          hn::Mul(hn::Div(hn::Mul(hn::Neg(hn::Load(d, b.term1.data() + l)), half_squared), k1), live1);
      hn::Store(t0, d, b.term0.data() + l);
      hn::Store(t1, d, b.term1.data() + l);
      hn::Store(hn::Add(hn::Load(d, b.sum0.data() + l), t0), d, b.sum0.data() + l);
      hn::Store(hn::Add(hn::Load(d, b.sum1.data() + l), t1), d, b.sum1.data() + l);
      hn::Store(hn::IfThenElseZero(hn::Gt(hn::Abs(t0), tolerance), live0), d, b.live0.data() + l);
      hn::Store(hn::IfThenElseZero(hn::Gt(hn::Abs(t1), tolerance), live1), d, b.live1.data() + l);
    }
    while (first_live < end_live && b.live0[first_live] == 0.0 && b.live1[first_live] == 0.0) ++first_live;
    while (end_live > first_live && b.live0[end_live - 1] == 0.0 && b.live1[end_live - 1] == 0.0) --end_live;
  }
}

PanelKernels TargetKernels() {
  return {HWY_TARGET == HWY_AVX3 ? "avx512" : "avx2", &SolveLayersPanel, &SumBesselSeries};
}

#else

// A processor without AVX2 runs the portable kernels.
PanelKernels TargetKernels() { return {"portable", &solve_layers_panel, &sum_bessel_series}; }

#endif

}  // namespace HWY_NAMESPACE
}  // namespace basinfit::model
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace basinfit::model {

HWY_EXPORT(TargetKernels);

namespace {

constexpr PanelKernels kPortableKernels = {"portable", &solve_layers_panel, &sum_bessel_series};

const PanelKernels& widest_kernels() {
  static const PanelKernels kernels = HWY_DYNAMIC_DISPATCH(TargetKernels)();
  return kernels;
}

const AutomaticChoice& automatic_choice() {
  static const AutomaticChoice choice =
      choose_automatic_path(std::getenv("BASINFIT_VECTOR_PATH"), widest_kernels());
  return choice;
}

}  // namespace

AutomaticChoice choose_automatic_path(const char* setting, const PanelKernels& widest) {
  const std::string value = setting == nullptr ? "" : setting;
  if (value.empty() || value == "auto") return {&widest, widest.name};
  if (value == "portable") return {&kPortableKernels, kPortableKernels.name};
  return {&kPortableKernels, "portable (BASINFIT_VECTOR_PATH=" + value + " not recognised)"};
}

const PanelKernels& panel_kernels(VectorPath path) {
  switch (path) {
    case VectorPath::kPortable:
      return kPortableKernels;
    case VectorPath::kWidest:
      return widest_kernels();
    case VectorPath::kAutomatic:
      break;
  }
  return *automatic_choice().kernels;
}

std::string_view vector_path_name(VectorPath path) {
  if (path == VectorPath::kAutomatic) return automatic_choice().name;
  return panel_kernels(path).name;
}

}  // namespace basinfit::model
#endif  // HWY_ONCE
