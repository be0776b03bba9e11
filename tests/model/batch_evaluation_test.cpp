// Evaluations side by side must give every system the very bits of its own evaluation: status,
// counters, initial step, last transform value and all 19 columns of all 10 rows, on every
// arithmetic path, whichever systems share a batch with it and in whichever order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "model/panel_kernels.h"
#include "model/response_model.h"
#include "test_pavements.h"

namespace basinfit::model {
namespace {

using test::kPavement;
using test::kPlate;
using test::layers;
using test::sensors;

// The systems of a sensitivity analysis: each of the first `count` layers' modulus times
// 10^(+-0.002), the layers below the last repeating it.
std::vector<LayerSystem> perturbed(const LayerSystem& base, std::size_t count) {
  std::vector<LayerSystem> systems;
  for (std::size_t k = 0; k < count; ++k) {
    for (const double sign : {1.0, -1.0}) {
      LayerSystem s = base;
      for (std::size_t j = 0; j < kMaxLayers; ++j)
        if (std::min(j, count - 1) == k) s.modulus[j] = base.modulus[j] * std::pow(10.0, sign * 0.002);
      systems.push_back(s);
    }
  }
  return systems;
}

struct Batch {
  std::string name;
  std::vector<LayerSystem> systems;
  std::vector<CircularLoad> loads;
  std::vector<EvaluationPoint> points;
  IntegrationLimits limits{};
};

const LayerSystem kStiffBottom =
    layers({4000, 400, 150, 60, 5000}, {0.35, 0.35, 0.4, 0.45, 0.3}, {100, 200, 300, 2500});
const LayerSystem kHomogeneous =
    layers({100, 100, 100, 100, 100}, {0.3, 0.3, 0.3, 0.3, 0.3}, {10, 10, 10, 10});

std::vector<Batch> batches() {
  std::vector<Batch> b;
  b.push_back({"3-layer pavement, +-h per layer", perturbed(kPavement, 3), {kPlate}, sensors()});
  b.push_back({"5-layer stiff bottom, +-h per layer", perturbed(kStiffBottom, 5), {kPlate}, sensors()});
  LayerSystem thin = kPavement;
  thin.thickness[0] = 30;
  b.push_back({"thin top layer, +-h per layer", perturbed(thin, 3), {kPlate}, sensors()});
  // A small load at points far away: the step starts at its cap, so the panels of every system
  // are the same until each one ends.
  b.push_back({"step cap from the start",
               perturbed(kHomogeneous, 2),
               {{1.0, 0.1, 0, 0}},
               {{0, 0, 0, 1}, {0, 120, 0, 1}}});
  std::vector<EvaluationPoint> mixed;
  for (std::size_t i = 0; i < 10; ++i)
    mixed.push_back({0, 150.0 * i, i < 6 ? 0.0 : 200.0 + 50.0 * (i - 6), i < 6 ? 1 : 2});
  LayerSystem slip = layers({4000, 400, 150, 60, 300}, {0.35, 0.35, 0.4, 0.45, 0.3}, {150, 250, 300, 1500});
  slip.interface_factor = {0.5, 0.2, 0.9};
  // Systems that end after very different numbers of panels, one that cannot start (invalid),
  // one whose layer solution turns non-finite, one stopped by the count limit of its own.
  LayerSystem soft_top = kPavement;
  soft_top.modulus = {100, 3000, 300, 60, 60};
  LayerSystem invalid = kPavement;
  invalid.modulus[2] = 0.0;
  LayerSystem singular = kPavement;
  singular.poisson[1] = 1.0;
  b.push_back({"different pavements, one invalid, one failing, points in layers 1 and 2",
               {kPavement, soft_top, invalid, kStiffBottom, singular, slip, kPavement},
               {kPlate},
               mixed});
  // Different H1 in one batch (no Bessel lanes in common), and a load radius of a hundred H1.
  LayerSystem deep_top = kPavement;
  deep_top.thickness[0] = 400;
  LayerSystem huge_plate = kPavement;
  huge_plate.thickness[0] = 1.5;
  b.push_back({"different first-layer thicknesses",
               {kPavement, deep_top, huge_plate, kPavement},
               {kPlate},
               sensors()});
  b.push_back({"dual wheels, points at depth",
               perturbed(slip, 4),
               {{0.7, 110, -170, 0}, {0.7, 110, 170, 0}},
               {{0, 0, 0, 1}, {-170, 0, 0, 1}, {-170, 300, 40, 1}, {250, 250, 300, 2}, {0, 0, 600, 3}}});
  // More systems than one group takes.
  std::vector<LayerSystem> many = perturbed(kPavement, 3);
  for (const LayerSystem& s : perturbed(kStiffBottom, 4)) many.push_back(s);
  b.push_back({"fourteen systems", many, {kPlate}, sensors()});
  IntegrationLimits tight;
  tight.max_lambda_values = 60;
  b.push_back({"transform value count limit", perturbed(kPavement, 3), {kPlate}, {{0, 1800, 0, 1}}, tight});
  return b;
}

template <class T>
bool same_bits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Whether two results are the same bits in every member.
::testing::AssertionResult same_result(const ModelResult& batch, const ModelResult& alone) {
  if (batch.status != alone.status) return ::testing::AssertionFailure() << "status differs";
  if (batch.point_count != alone.point_count) return ::testing::AssertionFailure() << "point count differs";
  if (batch.lambda_values != alone.lambda_values)
    return ::testing::AssertionFailure() << "lambda count differs";
  if (!same_bits(batch.initial_step, alone.initial_step))
    return ::testing::AssertionFailure() << "initial step differs";
  if (!same_bits(batch.final_lambda, alone.final_lambda))
    return ::testing::AssertionFailure() << "last lambda differs";
  for (std::size_t i = 0; i < kMaxPoints; ++i) {
    for (std::size_t col = 0; col < kResultColumns; ++col) {
      if (!same_bits(batch.rows[i][col], alone.rows[i][col])) {
        return ::testing::AssertionFailure() << "point " << i + 1 << ", " << result_column_name(col) << ": "
                                             << batch.rows[i][col] << " against " << alone.rows[i][col];
      }
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(BatchEvaluation, EverySystemGetsTheBitsOfItsOwnEvaluationOnEveryPath) {
  const std::vector<Batch> table = batches();
  for (const PanelKernels& kernels : supported_panel_kernels()) {
    int succeeded_systems = 0, failed_systems = 0, same_panels = 0;
    for (const Batch& b : table) {
      std::vector<ModelResult> alone;
      for (const LayerSystem& s : b.systems)
        alone.push_back(evaluate_response_with(kernels, s, b.loads, b.points, b.limits));
      // As given and in reverse order: which system leads a shared panel changes.
      for (const bool reversed : {false, true}) {
        std::vector<LayerSystem> systems = b.systems;
        if (reversed) std::reverse(systems.begin(), systems.end());
        std::vector<ModelResult> results(systems.size());
        evaluate_responses_with(kernels, systems, b.loads, b.points, results, b.limits);
        for (std::size_t s = 0; s < systems.size(); ++s) {
          const std::size_t k = reversed ? systems.size() - 1 - s : s;
          EXPECT_TRUE(same_result(results[s], alone[k]))
              << kernels.name << ", " << b.name << ", system " << k + 1 << (reversed ? " (reversed)" : "");
        }
      }
      for (std::size_t s = 0; s < alone.size(); ++s) {
        (succeeded(alone[s].status) ? succeeded_systems : failed_systems) += 1;
        for (std::size_t t = s + 1; t < alone.size(); ++t) {
          same_panels += succeeded(alone[s].status) &&
                         same_bits(alone[s].initial_step, alone[t].initial_step) &&
                         same_bits(alone[s].final_lambda, alone[t].final_lambda);
        }
      }
    }
    // Not vacuous: most systems have results, some fail, and many pairs run the same panels
    // (so the shared Bessel lanes are in use).
    EXPECT_GE(succeeded_systems, 50) << kernels.name;
    EXPECT_GE(failed_systems, 4) << kernels.name;
    EXPECT_GE(same_panels, 10) << kernels.name;
  }
}

TEST(BatchEvaluation, MismatchedResultCountIsInvalidInputAndTheAutomaticPathAgrees) {
  const std::vector<LayerSystem> systems = perturbed(kPavement, 3);
  const std::vector<EvaluationPoint> points = sensors();
  std::vector<ModelResult> too_few(systems.size() - 1);
  evaluate_responses(systems, std::span(&kPlate, 1), points, too_few);
  for (const ModelResult& r : too_few) EXPECT_EQ(r.status, EvaluationStatus::kInvalidInput);

  std::vector<ModelResult> results(systems.size());
  evaluate_responses(systems, std::span(&kPlate, 1), points, results);
  for (std::size_t s = 0; s < systems.size(); ++s) {
    ASSERT_TRUE(succeeded(results[s].status));
    EXPECT_TRUE(same_result(results[s], evaluate_response(systems[s], std::span(&kPlate, 1), points)));
  }
}

}  // namespace
}  // namespace basinfit::model
