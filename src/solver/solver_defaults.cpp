#include "solver/solver_defaults.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "solver/machine_constants.h"
#include "solver/solver_messages.h"

namespace basinfit::solver {
namespace {

constexpr int kMinimumLiv[4] = {82, 59, 103, 103};
constexpr int kMinimumLv[4] = {98, 71, 101, 85};
constexpr int kRegressionDefaultCount = 32;
constexpr int kGeneralDefaultCount = 25;

constexpr const char* kRegressionNames[32] = {
    "epslon..", "phmnfc..", "phmxfc..", "decfac..", "incfac..", "rdfcmn..", "rdfcmx..", "tuner1..",
    "tuner2..", "tuner3..", "tuner4..", "tuner5..", "afctol..", "rfctol..", "xctol...", "xftol...",
    "lmax0...", "lmaxs...", "sctol...", "dinit...", "dtinit..", "d0init..", "dfac....", "dltfdc..",
    "dltfdj..", "delta0..", "fuzz....", "rlimit..", "cosmin..", "huberc..", "rsptol..", "sigmin.."};

}  // namespace

int minimum_liv(int alg) { return (alg >= 1 && alg <= 4) ? kMinimumLiv[alg - 1] : 0; }
int minimum_lv(int alg) { return (alg >= 1 && alg <= 4) ? kMinimumLv[alg - 1] : 0; }

ParameterRange parameter_range(int element) {
  const float tiny = machine_constant(1);
  const float eps = machine_constant(3);
  const float huge = machine_constant(6);
  const float rlimit_max = machine_constant(5);
  struct Limits {
    float lower, upper;
  };
  const Limits limits[32] = {{0.001f, 0.9f}, {-0.99f, -0.001f}, {0.001f, 10.0f},  {0.01f, 0.8f},
                             {1.2f, 100.0f}, {0.01f, 0.8f},     {1.2f, 100.0f},   {0.0f, 0.5f},
                             {0.0f, 0.5f},   {0.001f, 1.0f},    {-1.0f, 1.0f},    {eps, huge},
                             {0.0f, huge},   {eps, 0.1f},       {0.0f, 1.0f},     {0.0f, 1.0f},
                             {tiny, huge},   {tiny, huge},      {0.0f, 1.0f},     {-10.0f, huge},
                             {0.0f, huge},   {0.0f, huge},      {0.0f, 1.0f},     {eps, 1.0f},
                             {eps, 1.0f},    {eps, 1.0f},       {1.01f, 1.0e10f}, {1.0e10f, rlimit_max},
                             {eps, 1.0f},    {0.0f, huge},      {0.0f, 1.0f},     {0.0f, 1.0f}};
  if (element < 19 || element > 50) return {"        ", 0.0f, 0.0f};
  const int k = element - 19;
  return {kRegressionNames[k], limits[k].lower, limits[k].upper};
}

void set_real_defaults(int kind, int lv, std::span<float> v_storage) {
  RealParams v(v_storage, lv);
  const float eps = machine_constant(3);
  const float sqrt_eps = machine_constant(4);
  // The cube root of epsilon, with the exponent held as the single-precision value of 1/3.
  const float cube_root_eps = std::pow(eps, 1.0f / 3.0f);
  v(v::kEpslon) = 0.1f;
  v(v::kPhmnfc) = -0.1f;
  v(v::kPhmxfc) = 0.1f;
  v(v::kDecfac) = 0.5f;
  v(v::kIncfac) = 2.0f;
  v(v::kRdfcmn) = 0.1f;
  v(v::kRdfcmx) = 4.0f;
  v(v::kTuner1) = 0.1f;
  v(v::kTuner2) = 1.0e-4f;
  v(v::kTuner3) = 0.75f;
  v(v::kTuner4) = 0.5f;
  v(v::kTuner5) = 0.75f;
  v(v::kAfctol) = eps > 1.0e-10f ? eps * eps : 1.0e-20f;
  v(v::kRfctol) = std::max(1.0e-10f, cube_root_eps * cube_root_eps);
  v(v::kXctol) = sqrt_eps;
  v(v::kXftol) = 100.0f * eps;
  v(v::kLmax0) = 1.0f;
  v(v::kLmaxs) = 1.0f;
  v(v::kSctol) = v(v::kRfctol);
  v(v::kDtinit) = 1.0e-6f;
  v(v::kD0init) = 1.0f;
  v(v::kDfac) = 0.6f;
  if (kind == 1) {
    v(v::kDinit) = 0.0f;
    v(v::kDltfdc) = cube_root_eps;
    v(v::kDltfdj) = sqrt_eps;
    v(v::kDelta0) = sqrt_eps;
    v(v::kFuzz) = 1.5f;
    v(v::kRlimit) = machine_constant(5);
    v(v::kCosmin) = std::max(1.0e-6f, 100.0f * eps);
    v(v::kHuberc) = 0.7f;
    v(v::kRsptol) = 0.001f;
    v(v::kSigmin) = 1.0e-4f;
  } else {
    // General minimization: eta0 and bias take the places of dltfdc and dltfdj.
    v(v::kDinit) = -1.0f;
    v(42) = 1000.0f * eps;
    v(43) = 0.8f;
  }
}

void ivset(int alg, std::span<int> iv_storage, int liv, int lv, std::span<float> v_storage) {
  if (liv < 1) return;
  IntParams iv(iv_storage, liv);
  if (liv > 20) iv(iv::kOutputUnit) = output_unit(1);
  if (liv > 50) iv(iv::kAlgorithm) = alg;
  if (alg < 1 || alg > 4) {
    iv(iv::kState) = code::kBadAlgorithm;
    return;
  }
  if (liv < minimum_liv(alg)) {
    iv(iv::kState) = code::kLivTooSmall;
    return;
  }
  if (lv < minimum_lv(alg)) {
    iv(iv::kState) = code::kLvTooSmall;
    return;
  }
  const int unit = iv(iv::kOutputUnit);
  std::fill(iv_storage.begin(), iv_storage.begin() + minimum_liv(alg), 0);
  RealParams v(v_storage, lv);
  std::fill(v_storage.begin(), v_storage.begin() + minimum_lv(alg), 0.0f);
  iv(iv::kOutputUnit) = unit;
  iv(iv::kAlgorithm) = alg;
  iv(iv::kState) = code::kStart;
  iv(iv::kModelChangeLimit) = 2;
  iv(iv::kCovariancePrint) = 3;
  iv(iv::kCovarianceRequest) = 1;
  iv(iv::kEvaluationLimit) = 200;
  iv(iv::kIterationLimit) = 150;
  iv(iv::kSummaryInterval) = 1;
  iv(iv::kParameterListing) = 1;
  iv(iv::kSolutionListing) = 1;
  iv(iv::kFinalStatistics) = 1;
  iv(iv::kStartListing) = 1;
  iv(iv::kFirstFreeV) = minimum_lv(alg) + 1;
  iv(iv::kNeededLiv) = minimum_liv(alg);
  iv(iv::kNeededLv) = minimum_lv(alg);
  iv(iv::kFirstFreeIv) = minimum_liv(alg) + 1;
  if (alg % 2 == 1) {
    iv(iv::kScaleType) = 1;
    iv(iv::kInitialSecantKind) = 0;
    iv(iv::kRealDefaultCount) = kRegressionDefaultCount;
    iv(iv::kRegressionDiagnostics) = 3;
    iv(iv::kRegressionLayout) = alg == 1 ? 58 : 61;
    iv(iv::kDefaultCopy) = iv(iv::kRegressionLayout) + 9;
    iv(80) = 1;
  } else {
    iv(iv::kScaleType) = 0;
    iv(iv::kInitialSecantKind) = 1;
    iv(iv::kCovarianceEvaluations) = 0;
    iv(53) = 0;
    iv(iv::kRealDefaultCount) = kGeneralDefaultCount;
    iv(iv::kDefaultCopy) = alg == 2 ? 47 : 61;
  }
  if (alg >= 3) iv(101) = 1;
  set_real_defaults(alg % 2 == 1 ? 1 : 2, lv, v_storage);
}

void check_parameters(int alg, std::span<const float> d, std::span<int> iv_storage, int liv, int lv, int p,
                      std::span<float> v_storage, TextUnit* unit) {
  IntParams iv(iv_storage, liv);
  RealParams v(v_storage, lv);
  const int print_unit = liv > 20 ? iv(iv::kOutputUnit) : 0;
  TextUnit* out = (print_unit != 0) ? unit : nullptr;

  if (liv > 50 && alg != iv(iv::kAlgorithm)) {
    iv(iv::kState) = code::kBadAlgorithm;
    if (out) messages::algorithm_mismatch(*out, alg, iv(iv::kAlgorithm));
    return;
  }
  if (alg < 1 || alg > 4) {
    iv(iv::kState) = code::kBadAlgorithm;
    if (out) messages::bad_algorithm(*out, alg);
    return;
  }
  if (iv(iv::kState) == code::kLivTooSmall) {
    if (out) messages::liv_too_small_for_sizes(*out, liv, minimum_liv(alg));
    if (liv > 43) iv(iv::kNeededLiv) = minimum_liv(alg);
    if (liv > 44) iv(iv::kNeededLv) = 0;
    return;
  }
  if (iv(iv::kState) == 0) ivset(alg, iv_storage, liv, lv, v_storage);

  const int state = iv(iv::kState);
  if (state == code::kStart || state == code::kStorageOnly) {
    const int needed_liv =
        std::max(minimum_liv(alg), iv(iv::kFirstFreeIv) - 1) + std::max(iv(iv::kExtraIvNeeded), 0);
    const int needed_lv = iv(iv::kFirstFreeV) - 1 + std::max(iv(iv::kExtraVNeeded), 0);
    if (liv > 43) iv(iv::kNeededLiv) = needed_liv;
    if (liv > 44) iv(iv::kNeededLv) = needed_lv;
    iv(iv::kExtraIvNeeded) = 0;
    iv(iv::kExtraVNeeded) = 0;
    iv(iv::kStoredP) = p;
    if (liv < needed_liv) {
      iv(iv::kState) = code::kLivTooSmall;
      if (out) messages::liv_too_small(*out, liv, needed_liv);
      return;
    }
    if (lv < needed_lv) {
      iv(iv::kState) = code::kLvTooSmall;
      if (out) messages::lv_too_small(*out, lv, needed_lv);
      return;
    }
    if (state == code::kStorageOnly) return;
  } else {
    const int mapped = state == code::kStorageReady ? code::kStart : state;
    if (mapped < 1 || mapped > 14) {
      iv(iv::kState) = code::kBadState;
      if (out) messages::bad_state(*out, state);
      return;
    }
    if (p != iv(iv::kStoredP)) {
      iv(iv::kState) = code::kPChanged;
      if (out) messages::p_changed(*out, iv(iv::kStoredP), p);
      return;
    }
  }

  // First real check of this solve: keep a copy of the defaults for the listing.
  const bool first_check = iv(iv::kFirstPassDone) == 0;
  const int default_count = alg % 2 == 1 ? kRegressionDefaultCount : kGeneralDefaultCount;
  if (iv(iv::kRealDefaultCount) != default_count) {
    iv(iv::kState) = code::kDefaultCountWrong;
    if (out) messages::default_count(*out, iv(iv::kRealDefaultCount), default_count);
    return;
  }
  std::vector<float> defaults(static_cast<std::size_t>(lv));
  set_real_defaults(alg % 2 == 1 ? 1 : 2, lv, defaults);
  const int copy_start = iv(iv::kDefaultCopy);

  const int last_checked = alg % 2 == 1 ? 50 : 18 + kGeneralDefaultCount;
  for (int element = 19; element <= last_checked; ++element) {
    const ParameterRange range = parameter_range(element);
    const float value = v(element);
    bool inside = value >= range.lower && value <= range.upper;
    if (alg % 2 == 0 && element >= 42) inside = value >= 0.0f;  // eta0, bias
    if (!inside) {
      iv(iv::kState) = element;
      if (out) messages::out_of_range(*out, range.name, element, value, range.lower, range.upper);
    }
  }

  if (iv(iv::kScaleType) <= 0 && v(v::kDinit) < 0.0f) {
    for (std::size_t i = 0; i < d.size(); ++i) {
      if (!(d[i] > 0.0f)) {
        iv(iv::kState) = code::kScaleNotPositive;
        if (out) messages::scale_not_positive(*out, static_cast<int>(i) + 1, d[i]);
      }
    }
  }

  if (out && iv(iv::kParameterListing) != 0) {
    const bool any_iv_change = iv(iv::kInitialSecantKind) != 0 || iv(iv::kScaleType) != 1;
    messages::nondefault_listing(*out, first_check, iv(iv::kInitialSecantKind), iv(iv::kScaleType),
                                 any_iv_change, v_storage, defaults, copy_start, last_checked);
  }
  if (first_check) {
    for (int element = 19; element <= last_checked; ++element) {
      if (copy_start + element - 19 <= lv) v(copy_start + element - 19) = v(element);
    }
    iv(iv::kFirstPassDone) = 1;
  }
}

}  // namespace basinfit::solver
