// Layered elastic response model: displacements, stresses and strains at points of a system of
// four elastic layers on an elastic half-space under uniform circular surface pressures.
//
// Units are any consistent set (for example inches, pounds-force and psi): stresses come out in
// the unit of the pressure, strains are dimensionless, displacements in the length unit.
//
// Sign conventions of the results:
//   * the z axis points down; depth 0 is the pavement surface;
//   * stresses are positive in compression (a pressure p gives sigma_zz = +p under the load);
//   * displacements are positive against the axes: the vertical displacement of a loaded
//     surface is negative (downward movement), a horizontal displacement is positive towards
//     the load centre;
//   * strains follow the stresses (compressive strain positive).
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace basinfit::model {

inline constexpr std::size_t kMaxLayers = 5;       // four layers on a half-space
inline constexpr std::size_t kMaxThicknesses = 4;  // the half-space has none
inline constexpr std::size_t kMaxInterfaceFactors = 3;
inline constexpr std::size_t kMaxPoints = 10;
inline constexpr std::size_t kMaxLoads = 10;
inline constexpr std::size_t kResultColumns = 19;

// Five layers, the last one a half-space.  Systems with fewer layers repeat their last layer.
struct LayerSystem {
  std::array<double, kMaxLayers> modulus{};         // Young's modulus E1..E5, > 0
  std::array<double, kMaxThicknesses> thickness{};  // H1..H4; H1 > 0 (all lengths are scaled by it)
  std::array<double, kMaxLayers> poisson{};         // nu1..nu5, 0 <= nu < 1
  // Bond factors of the interfaces 1/2, 2/3, 3/4; 1.0 is full friction.  They scale the
  // shear-stiffness ratio of their interface.  The interface 4/5 is always fully bonded.
  std::array<double, kMaxInterfaceFactors> interface_factor{1.0, 1.0, 1.0};
};

// A uniform pressure on a circle of the surface.
struct CircularLoad {
  double pressure = 0.0;  // contact pressure, positive downward
  double radius = 0.0;    // > 0
  double x = 0.0;         // centre in the horizontal plane
  double y = 0.0;
};

// Where the responses are wanted.  A point at depth exactly 0 is a surface point whatever its
// layer; below the surface the layer number (1-4) selects the solution used.  A point in
// layer 5 (the half-space) gets no contribution and returns zeros.
struct EvaluationPoint {
  double x = 0.0;
  double y = 0.0;
  double depth = 0.0;
  int layer = 1;
};

// Columns of one result row (global x, y, z frame; see the sign conventions above).
enum ResultColumn : std::size_t {
  kSigmaXX = 0,
  kSigmaYY = 1,
  kSigmaZZ = 2,  // vertical stress
  kTauYZ = 3,
  kTauXZ = 4,
  kSigmaXY = 5,
  kSigma1 = 6,  // principal stresses, sigma1 >= sigma2 >= sigma3
  kSigma2 = 7,
  kSigma3 = 8,
  kEpsilon1 = 9,  // principal strains from the principal stresses
  kEpsilon2 = 10,
  kEpsilon3 = 11,
  kDisplacementX = 12,
  kDisplacementY = 13,
  kDisplacementZ = 14,  // vertical displacement (deflection)
  kEpsilonXX = 15,
  kEpsilonYY = 16,
  kEpsilonZZ = 17,    // vertical strain
  kInitialStep = 18,  // initial integration step in units of 1/H1 (a diagnostic)
};

// Short name of a result column for headers ("sigma_xx", ..., "w", ..., "initial_step").
const char* result_column_name(std::size_t column);

using ResultRow = std::array<double, kResultColumns>;
using ResultTable = std::array<ResultRow, kMaxPoints>;

enum class EvaluationStatus {
  kOk,
  kInvalidInput,        // counts out of range, H1 <= 0, a modulus <= 0, a radius <= 0, a layer not 1-5,
                        // a negative depth, or a non-finite input
  kBadInitialStep,      // the initial step is zero, negative or not finite (e.g. load radius >= 100 H1)
  kNonFinite,           // a non-finite value appeared in the integration or the results
  kIntegrationRunaway,  // the integration did not settle within the limits below
};

// Whether an evaluation produced usable results; any other status is a failed evaluation.
constexpr bool succeeded(EvaluationStatus status) { return status == EvaluationStatus::kOk; }
const char* describe(EvaluationStatus status);

// Guards against an integration that would never end.  Real pavements need a few hundred to a
// few tens of thousands of transform values and never reach lambda*H1 = 50; the defaults are
// far beyond that.
struct IntegrationLimits {
  long max_lambda_values = 2'000'000;  // transform values in the integration loop
  double max_lambda = 1000.0;          // in units of 1/H1; exponentials have long vanished there
  long max_search_steps = 100'000;     // steps of the initial-step search (lambda up to 2000)
};

// The arithmetic kernels of the integration loop.  Every path gives bit-identical results; they
// differ only in speed.
enum class VectorPath {
  kAutomatic,  // the widest path of this processor, unless BASINFIT_VECTOR_PATH=portable is set
  kPortable,   // SSE2 only, as every x86-64 processor has
  kWidest,     // the widest vector unit this processor has: AVX-512, else AVX2, else portable
};

// Name of the path that `path` stands for in this process: "portable", "avx2" or "avx512".  The
// automatic path reads BASINFIT_VECTOR_PATH once: unset, empty or "auto" takes the widest path,
// "portable" the portable one; any other value also takes the portable path and the name says so
// ("portable (BASINFIT_VECTOR_PATH=... not recognised)").
std::string_view vector_path_name(VectorPath path = VectorPath::kAutomatic);

struct ModelResult {
  EvaluationStatus status = EvaluationStatus::kOk;
  std::size_t point_count = 0;  // rows 0..point_count-1 are filled; the rest stay zero
  ResultTable rows{};           // all zero when the evaluation failed
  long lambda_values = 0;       // transform values evaluated by the integration loop
  double initial_step = 0.0;    // initial step in units of 1/H1 (column kInitialStep)
  double final_lambda = 0.0;    // last transform value, in units of 1/H1
};

// Runs the model for up to kMaxLoads loads and up to kMaxPoints points.  Pure function of its
// arguments: no shared state, safe to call from several threads at once, allocation-free.
ModelResult evaluate_response(const LayerSystem& system, std::span<const CircularLoad> loads,
                              std::span<const EvaluationPoint> points,
                              const IntegrationLimits& limits = IntegrationLimits{},
                              VectorPath path = VectorPath::kAutomatic);

// Several layer systems under the same loads at the same points, evaluated side by side: each
// result is bit for bit what evaluate_response gives for its system (status, rows, counters),
// and each evaluation ends at its own termination test.  Evaluations whose panels reach the same
// transform values (the step depends on the moduli through the initial step, the threshold and
// the step doubling, so this happens for some systems and not others) under the same H1 share
// the Bessel functions of those panels, the largest part of an evaluation's time.  results must
// have one element per system (otherwise every result is kInvalidInput).  Any number of systems;
// they run in groups of kMaxBatchSystems.  Allocation-free and reentrant like evaluate_response.
inline constexpr std::size_t kMaxBatchSystems = 10;
void evaluate_responses(std::span<const LayerSystem> systems, std::span<const CircularLoad> loads,
                        std::span<const EvaluationPoint> points, std::span<ModelResult> results,
                        const IntegrationLimits& limits = IntegrationLimits{},
                        VectorPath path = VectorPath::kAutomatic);

// Same as evaluate_response with the arguments in the classic argument order of the model (moduli,
// thicknesses, Poisson's ratios, interface factors, loads as pressure / radius / centre arrays,
// points as layer / x / y / z arrays, the result table, the mode).  mode must be 1.  Rows
// beyond the point count are left untouched; on failure the rows of the points are zero.
EvaluationStatus evaluate_response_in_argument_order(
    const std::array<double, kMaxLayers>& modulus, const std::array<double, kMaxThicknesses>& thickness,
    const std::array<double, kMaxLayers>& poisson,
    const std::array<double, kMaxInterfaceFactors>& interface_factor, std::span<const double> pressure,
    std::span<const double> radius, std::span<const double> load_x, std::span<const double> load_y,
    std::span<const int> layer, std::span<const double> x, std::span<const double> y,
    std::span<const double> z, ResultTable& results, int mode);

}  // namespace basinfit::model
