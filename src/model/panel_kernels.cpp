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

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <type_traits>

#include "model/bessel_series.h"
#include "model/integrand.h"
#include "model/layer_solution.h"

HWY_BEFORE_NAMESPACE();
namespace basinfit::model {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX2

#include "model/layer_solution-inl.h"
// (after the layer solution, whose exp_lanes the integrands use)
#include "model/integrand-inl.h"

// The six layer solutions of a panel: all six in one 8-lane vector (two lanes pad it and make no
// C library calls) on AVX-512; four and two on AVX2.
void vector_solve_layers(const PanelLambdas& lambda, const LayerConstants& c, double threshold,
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

// sum_bessel_series on whole vectors.  Lanes from `count` to the end of the last vector are set up
// dead.  A vector of the series loop may reach below first_live or beyond end_live; the lanes
// there are dead (term and live 0, or a finished lane whose next term is multiplied by 0), so
// their sums gain an exact zero and stay as they are.
void vector_bessel_series(BesselLanes& b) {
  const hn::ScalableTag<double> d;
  const std::size_t N = hn::Lanes(d);
  static_assert(kBesselLaneStorage % kBesselVectorLanes == 0);
  const std::size_t n = b.count;
  const auto zero = hn::Zero(d);
  const auto one = hn::Set(d, 1.0);
  const auto two = hn::Set(d, 2.0);
  const auto threshold = hn::Set(d, kAsymptoticThreshold);
  const auto tolerance = hn::Set(d, kSeriesTolerance);
  const auto lane_count = hn::Set(d, static_cast<double>(n));
  for (std::size_t l = 0; l < n; l += N) {
    const auto x = hn::Load(d, b.x.data() + l);
    // Lane index below the count (FirstN would need BMI2, which is left out with FMA).
    const auto in_use = hn::Lt(hn::Iota(d, static_cast<double>(l)), lane_count);
    const auto series = hn::And(hn::And(hn::Ne(x, zero), hn::Le(x, threshold)), in_use);
    const auto half = hn::Div(x, two);
    const auto term = hn::IfThenElseZero(series, one);
    hn::Store(half, d, b.half.data() + l);
    hn::Store(hn::IfThenElseZero(series, hn::Mul(half, half)), d, b.half_squared.data() + l);
    hn::Store(term, d, b.term0.data() + l);
    hn::Store(term, d, b.term1.data() + l);
    hn::Store(one, d, b.sum0.data() + l);
    hn::Store(one, d, b.sum1.data() + l);
    hn::Store(term, d, b.live0.data() + l);
    hn::Store(term, d, b.live1.data() + l);
  }
  const auto series_lane = [&b](std::size_t l) { return b.x[l] != 0.0 && b.x[l] <= kAsymptoticThreshold; };
  std::size_t first_live = 0, end_live = n;
  while (first_live < n && !series_lane(first_live)) ++first_live;
  while (end_live > first_live && !series_lane(end_live - 1)) --end_live;
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
  // J0 = sum, J1 = (x/2) sum; x = 0 gives (1, 0).  The asymptotic lanes get values here that the
  // caller replaces.
  for (std::size_t l = 0; l < n; l += N) {
    const auto on_axis = hn::Eq(hn::Load(d, b.x.data() + l), zero);
    const auto j1 = hn::Mul(hn::Load(d, b.half.data() + l), hn::Load(d, b.sum1.data() + l));
    hn::Store(hn::IfThenElse(on_axis, one, hn::Load(d, b.sum0.data() + l)), d, b.j0.data() + l);
    hn::Store(hn::IfThenElse(on_axis, zero, j1), d, b.j1.data() + l);
  }
}

// Gathers lanes first .. first+lanes-1 of the panel's layer coefficients into vectors; lanes beyond
// the panel repeat its last node.
template <class V>
CoefficientsOf<V> gather(const PanelCoefficients& c, std::size_t first) {
  CoefficientsOf<V> v;
  for (std::size_t l = 0; l < kLanesOf<V>; ++l) {
    const LayerCoefficients& n = c[std::min(first + l, kPanelNodes - 1)];
    for (std::size_t k = 0; k < 2; ++k) v.layer1[k][l] = n.layer1[k];
    for (std::size_t k = 0; k < 4; ++k) {
      v.layer2[k][l] = n.layer2[k];
      v.layer3[k][l] = n.layer3[k];
      v.layer4[k][l] = n.layer4[k];
    }
  }
  return v;
}

template <class V>
V gather(const PanelLambdas& lambda, std::size_t first) {
  V v;
  for (std::size_t l = 0; l < kLanesOf<V>; ++l) v[l] = lambda[std::min(first + l, kPanelNodes - 1)];
  return v;
}

// Integrands of nodes first .. first+active-1 side by side, then spread to their node tables.
// The Bessel values of a distance are read as whole vectors from its node-0 lane on; the lane
// storage reaches far enough for the last distance.
static_assert(kBesselLaneStorage >= kBesselLaneCapacity - kPanelNodes + kBesselVectorLanes);
template <class V, std::size_t active>
void fill_nodes(const IntegrandSetting& in, const BesselLanes& bessel, const PanelLambdas& lambda,
                const PanelCoefficients& c, std::size_t first, PanelIntegrands& out) {
  ComponentTableOf<V> table;
  fill_integrand<V, active>(in, bessel, gather<V>(lambda, first), gather<V>(c, first), first, table);
  for (std::size_t m = 0; m < kComponents; ++m) {
    for (std::size_t i = 0; i < kMaxPoints; ++i) {
      for (std::size_t l = 0; l < active; ++l) out[first + l][m][i] = table[m][i][l];
    }
  }
}

void vector_integrands(const IntegrandSetting& in, const BesselLanes& bessel, const PanelLambdas& lambda,
                       const PanelCoefficients& c, PanelIntegrands& out) {
#if HWY_TARGET == HWY_AVX3
  using Octet = double __attribute__((vector_size(8 * sizeof(double))));
  fill_nodes<Octet, kPanelNodes>(in, bessel, lambda, c, 0, out);
#else
  using Quad = double __attribute__((vector_size(4 * sizeof(double))));
  using Pair = double __attribute__((vector_size(2 * sizeof(double))));
  fill_nodes<Quad, 4>(in, bessel, lambda, c, 0, out);
  fill_nodes<Pair, 2>(in, bessel, lambda, c, 4, out);
#endif
}

// The weighted sum over the whole table (its 90 values are contiguous) in vectors; the values
// beyond the last whole vector take the same operations one by one.
void vector_accumulate(const PanelIntegrands& integrands, double step, ComponentTable& integral) {
  const hn::ScalableTag<double> d;
  const std::size_t N = hn::Lanes(d);
  constexpr std::size_t kValues = kComponents * kMaxPoints;
  static_assert(sizeof(ComponentTable) == kValues * sizeof(double));
  double* sum = integral[0].data();
  const auto vstep = hn::Set(d, step);
  const auto factor = hn::Set(d, kPanelFactor);
  for (std::size_t node = 0; node < kPanelNodes; ++node) {
    const double* f = integrands[node][0].data();
    const auto weight = hn::Set(d, kPanelWeights[node]);
    std::size_t e = 0;
    for (; e + N <= kValues; e += N) {
      const auto term = hn::Mul(hn::Mul(hn::Mul(hn::LoadU(d, f + e), vstep), weight), factor);
      hn::StoreU(hn::Add(hn::LoadU(d, sum + e), term), d, sum + e);
    }
    for (; e < kValues; ++e) sum[e] = sum[e] + f[e] * step * kPanelWeights[node] * kPanelFactor;
  }
}

PanelKernels target_kernels() {
  return {HWY_TARGET == HWY_AVX3 ? "avx512" : "avx2", &vector_solve_layers, &vector_bessel_series,
          &vector_integrands, &vector_accumulate};
}

#else

// A processor without AVX2 runs the portable kernels.
PanelKernels target_kernels() {
  return {"portable", &solve_layers_panel, &sum_bessel_series, &fill_panel_integrands,
          &accumulate_panel_integrals};
}

#endif

}  // namespace HWY_NAMESPACE
}  // namespace basinfit::model
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace basinfit::model {

HWY_EXPORT(target_kernels);

namespace {

constexpr PanelKernels kPortableKernels = {"portable", &solve_layers_panel, &sum_bessel_series,
                                           &fill_panel_integrands, &accumulate_panel_integrals};

const PanelKernels& widest_kernels() {
  static const PanelKernels kernels = HWY_DYNAMIC_DISPATCH(target_kernels)();
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

std::span<const PanelKernels> supported_panel_kernels() {
  struct List {
    std::array<PanelKernels, 3> kernels;
    std::size_t count;
  };
  static const List list = [] {
    List l{{kPortableKernels}, 1};
    [[maybe_unused]] const std::int64_t supported = hwy::SupportedTargets();
#if HWY_TARGETS & HWY_AVX2
    if (supported & HWY_AVX2) l.kernels[l.count++] = N_AVX2::target_kernels();
#endif
#if HWY_TARGETS & HWY_AVX3
    if (supported & HWY_AVX3) l.kernels[l.count++] = N_AVX3::target_kernels();
#endif
    return l;
  }();
  return {list.kernels.data(), list.count};
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
