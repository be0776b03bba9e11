// The model runs inside the solver's residual loop many thousands of times per drop: an
// evaluation must not touch the heap.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "model/response_model.h"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// Kept out of line: inlined into a caller, free() would meet a pointer from operator new, which
// GCC's -Wmismatched-new-delete (an error here) reports in optimised sanitizer builds.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace basinfit::model {
namespace {

TEST(Allocation, AnEvaluationAllocatesNothing) {
  LayerSystem s;
  s.modulus = {3000, 300, 60, 60, 60};
  s.poisson = {0.35, 0.35, 0.45, 0.45, 0.45};
  s.thickness = {150, 300, 300, 300};
  const CircularLoad load{0.566, 150.0, 0.0, 0.0};
  std::array<EvaluationPoint, 10> points;
  for (std::size_t i = 0; i < 10; ++i)
    points[i] = {0, 150.0 * i, i < 6 ? 0.0 : 200.0 + 50.0 * (i - 6), i < 6 ? 1 : 2};
  const long before = allocations.load();
  const ModelResult r = evaluate_response(s, std::span(&load, 1), points);
  const long after = allocations.load();
  ASSERT_TRUE(succeeded(r.status));
  EXPECT_EQ(after - before, 0);
}

TEST(Allocation, EvaluationsSideBySideAllocateNothing) {
  LayerSystem s;
  s.modulus = {3000, 300, 60, 60, 60};
  s.poisson = {0.35, 0.35, 0.45, 0.45, 0.45};
  s.thickness = {150, 300, 300, 300};
  std::array<LayerSystem, 6> systems;
  systems.fill(s);
  for (std::size_t k = 0; k < systems.size(); ++k) systems[k].modulus[k / 2] *= k % 2 == 0 ? 1.005 : 0.995;
  const CircularLoad load{0.566, 150.0, 0.0, 0.0};
  std::array<EvaluationPoint, 9> points;
  for (std::size_t i = 0; i < points.size(); ++i) points[i] = {0, 200.0 * i, 0.0, 1};
  std::array<ModelResult, 6> results;
  const long before = allocations.load();
  evaluate_responses(systems, std::span(&load, 1), points, results);
  const long after = allocations.load();
  for (const ModelResult& r : results) ASSERT_TRUE(succeeded(r.status));
  EXPECT_EQ(after - before, 0);
}

}  // namespace
}  // namespace basinfit::model
